// The ids of an input, and the room they leave for the ids of new objects.
#pragma once

#include <cstdint>
#include <string>

#include "splitter/clip/PassDistributor.h"

class CPBInputAdapter;

// Objects a pass makes take ids above the input's largest of their kind, and
// every id of an output must fit a pass's keys again when the output is split
// in turn. No output file can hold anywhere near 2^40 new objects.
constexpr int64_t kMaxInputId = Clip::kMaxKeyId - (int64_t(1) << 40);

// Reads the id of every entity of input, and the way members of relations.
// True when every id lies between Clip::kMinKeyId and kMaxInputId and every
// way member fits a key. Otherwise prints the first that does not, with
// fileName, and returns false. Leaves the stream wherever it stopped; throws
// OSM::CDataReader::CBadFileException when the input proves malformed.
bool CheckInputIds(CPBInputAdapter& input, const std::string& fileName);
