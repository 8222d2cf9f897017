// The writing side of the blob framing: a message deflated and framed.
#pragma once

#include <string>

namespace OSM {

// Appends message to out as a zlib-compressed blob of type: the blob
// header's length in four bytes, big-endian, the blob header and the blob.
// The same message always gives the same bytes. Throws TBadAlloc when zlib
// cannot be set up, and std::bad_alloc; out may then hold part of the blob.
void AppendBlob(std::string& out, const std::string& message, const char* type);

}  // namespace OSM
