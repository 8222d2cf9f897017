// The ids of an input, and the room they leave for the ids of new objects.
#pragma once

#include <cstdint>
#include <string>

#include "splitter/clip/PassDistributor.h"

class CPBInputAdapter;

namespace Splitter {

// Objects a pass makes take ids above the input's largest of their kind, and
// every id of an output must fit a pass's keys again when the output is split
// in turn. No output file can hold anywhere near 2^40 new objects.
constexpr int64_t kMaxInputId = Clip::kMaxKeyId - (int64_t(1) << 40);

// Checks that every id of input lies between Clip::kMinKeyId and
// kMaxInputId and every way member of a relation fits a key. True when they
// do; otherwise prints the first that does not, with fileName, and returns
// false. Of a sorted input (as the passes require) it reads the framing of
// every blob but decodes only the few node and way blocks that a binary
// search for the ends of the range visits, and the relations. Node refs of
// ways need no check: one outside the keys matches no node, as a missing
// node does. Leaves the stream wherever it stopped; throws
// OSM::CDataReader::CBadFileException when the framing of a blob, or a
// block it decodes, is malformed.
bool CheckInputIds(CPBInputAdapter& input, const std::string& fileName);

}  // namespace Splitter
