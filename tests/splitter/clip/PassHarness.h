// Runs one split pass over a small synthetic input, keeps what every output
// received, and checks it against what every split must give.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/OSM/DataWriter.h"
#include "splitter/areas/Areas.h"
#include "splitter/clip/AreaOutput.h"
#include "tests/support/PbfBuilder.h"

namespace test {

using namespace Splitter;

using TTags = TTagList;

// A node at lon, lat in degrees; block granularity 100 nanodegrees.
TTestNode NodeAt(int64_t id, double lon, double lat, TTags tags = {});

struct TTestWay {
    int64_t id = 0;
    std::vector<int64_t> refs = {};
    TTags tags = {};
};

struct TTestMember {
    OSM::EEntityType type = OSM::kNode;
    int64_t ref = 0;
    std::string role;
    bool operator==(const TTestMember&) const = default;
};

struct TTestRelation {
    int64_t id = 0;
    std::vector<TTestMember> members = {};
    TTags tags = {};
};

struct TTestInput {
    std::vector<TTestNode> nodes = {};
    std::vector<TTestWay> ways = {};
    std::vector<TTestRelation> relations = {};
};

// Entities separated by ';', each a kind and id, then its fields, then
// key=value tags: "n1 <lon> <lat>", "w10 <ref> <ref>...", "r20 w10:outer n1".
TTestInput ParseInput(std::string_view text);

// One "OSMData" blob per kind that has entities, each of one group.
std::string DataBlobs(const TTestInput& input);

// A whole file: the header, then DataBlobs.
std::string PbfInput(const std::vector<TTestNode>& nodes, const std::vector<TTestWay>& ways = {},
                     const std::vector<TTestRelation>& relations = {});
inline std::string PbfInput(const TTestInput& input) { return PbfInput(input.nodes, input.ways, input.relations); }

// Nodes on a 1/8 degree grid over four one-degree areas and beyond, many on
// borders, some tagged; lines between them, some closed; star-shaped
// buildings and two-way lakes drawn either way round; routes of any members.
TTestInput RandomInput(std::mt19937& random);

// Clockwise rectangle with edges in degrees.
TRing DegreeRect(double west, double south, double east, double north);

// West and east halves of a 2 x 1 degree block, sharing the meridian 1.
inline std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

// Writes a split file with one area per rectangle {west, south, east,
// north} in degrees, named 1, 2, ...
void WriteSplitFile(const std::string& path, const std::vector<std::vector<double>>& rectangles);

// The record of that id among records, or nullptr.
template <typename T>
const T* Find(const std::vector<T>& records, int64_t id)
{
    const auto found = std::find_if(records.begin(), records.end(), [id](const T& record) { return record.id == id; });
    return found == records.end() ? nullptr : &*found;
}

// Keeps a copy of every record written, in order.
class CRecordingWriter : public OSM::CDataWriter {
public:
    void WriteNode(const OSM::TNode& node) override { Keep(nodes, node, OSM::kNode); }
    void WriteWay(const OSM::TWay& way) override { Keep(ways, way, OSM::kWay); }
    void WriteRelation(const OSM::TRelation& relation) override { Keep(relations, relation, OSM::kRelation); }

    bool Has(OSM::EEntityType type, int64_t id) const
    {
        return type == OSM::kNode ? Find(nodes, id) != nullptr
                                  : (type == OSM::kWay ? Find(ways, id) != nullptr : Find(relations, id) != nullptr);
    }

    std::vector<OSM::TNode> nodes;
    std::vector<OSM::TWay> ways;
    std::vector<OSM::TRelation> relations;
    std::string text;   // Describe of every record, in the order written
    std::string kinds;  // 'n', 'w' or 'r' per record, in the order written

private:
    template <typename T>
    void Keep(std::vector<T>& records, const T& record, OSM::EEntityType type)
    {
        records.push_back(record);
        text += Describe(type, record);
        kinds += "nwr"[type];
    }
};

struct TPassResult {
    bool ok = false;
    std::string printed;  // standard output of the pass
};

// The pass's areas and their outputs; consecutive areas may share an output.
class CPassHarness {
public:
    // outputOf[i] is the output of area i; empty gives each area its own.
    explicit CPassHarness(std::vector<TRing> rings, std::vector<uint32_t> outputOf = {});

    // Runs the pass on a PBF file in memory: with maxAreas, as passes of that
    // many areas; with keptPoints, each keeping that many node positions. The
    // pass's exceptions leave after standard output is restored.
    TPassResult Run(const std::string& pbf, uint32_t maxAreas = 0, std::optional<uint64_t> keptPoints = {});

    CRecordingWriter& Output(uint32_t index) { return *m_writers[index]; }
    TAreaOutput& Counters(uint32_t index) { return *m_outputs[index]; }
    uint32_t OutputCount() const { return uint32_t(m_writers.size()); }
    const std::vector<TRing>& Rings() const { return m_rings; }
    const std::vector<uint32_t>& OutputsOf() const { return m_outputOf; }

private:
    std::vector<TRing> m_rings;
    std::vector<uint32_t> m_outputOf;
    std::vector<std::unique_ptr<CRecordingWriter>> m_writers;
    std::vector<std::unique_ptr<TAreaOutput>> m_outputs;
};

// Runs pass on input and checks what every split must give, without
// restating how it cuts (the areas are rectangles): outputs self-contained,
// their multipolygons' rings closed; each input node written once, to an area
// holding it, tagged on a border; new objects with ids from max(first new id,
// largest input id + 1) below the output's counters, new nodes on a border,
// tagged where a highway passes; a way with its input id the input way; each
// point of an input way in an area on a way of its tile standing for it (same
// id or tags, or member of a relation that does); each edge along an input
// edge or, not a road's, a border; a relation wherever a member is, with its
// nodes and relations there, in order; areas and multipolygons keeping their
// size; the same outputs for passes of fewer areas or kept node positions.
// Overlapping areas check only ids, node copies, ways kept whole and
// self-containment. Returns what the pass gave.
TPassResult ExpectSoundSplit(CPassHarness& pass, const TTestInput& input, const std::string& label,
                             bool overlapping = false);

}  // namespace test

// Readable points in failure messages.
inline void PrintTo(const CGeoPoint& p, std::ostream* out)
{
    *out << "(" << MapUnits::ToDegrees(p.x) << ", " << MapUnits::ToDegrees(p.y) << ")";
}
