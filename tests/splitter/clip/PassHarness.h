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
#include "splitter/Areas.h"
#include "splitter/clip/AreaOutput.h"
#include "tests/support/PbfBuilder.h"

namespace test {

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

// Nodes on a 1/8 degree grid over four areas of a degree and beyond, so that
// many lie on borders, some tagged; lines between them, some closed;
// star-shaped buildings and two-way lakes drawn either way round; routes of
// any members.
TTestInput RandomInput(std::mt19937& random);

// Clockwise rectangle with edges in degrees.
TRing DegreeRect(double west, double south, double east, double north);

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
    std::string text;  // Describe of every record, in the order written

private:
    template <typename T>
    void Keep(std::vector<T>& records, const T& record, OSM::EEntityType type)
    {
        records.push_back(record);
        text += Describe(type, record);
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

    // Runs the pass on a PBF file held in memory; with maxAreas, as passes of
    // that many areas; with keptPoints, each pass keeping that many node
    // positions. Exceptions of the pass leave after standard output was
    // restored.
    TPassResult Run(const std::string& pbf, uint32_t maxAreas = 0, std::optional<uint64_t> keptPoints = {});

    CRecordingWriter& Output(uint32_t index) { return *m_writers[index]; }
    TAreaOutput& Counters(uint32_t index) { return *m_outputs[index]; }
    uint32_t OutputCount() const { return uint32_t(m_writers.size()); }
    const std::vector<TRing>& Rings() const { return m_rings; }
    uint32_t OutputOf(uint32_t area) const { return m_outputOf[area]; }
    const std::vector<uint32_t>& OutputsOf() const { return m_outputOf; }

private:
    std::vector<TRing> m_rings;
    std::vector<uint32_t> m_outputOf;
    std::vector<std::unique_ptr<CRecordingWriter>> m_writers;
    std::vector<std::unique_ptr<TAreaOutput>> m_outputs;
};

// Runs pass on input and checks what it gives against what every split must
// give, without restating how it cuts. The areas are rectangles.
// - Every output is self-contained, and its multipolygons' rings close.
// - Each input node is written once, to an area whose rectangle holds it,
//   tagged as a border node when it lies on an edge of one.
// - Objects the split makes take ids from max(first new id, largest input
//   id + 1) up to the output's counters; new nodes lie on a border, tagged
//   exactly when a highway passes them.
// - A way written with its input id is the input way unchanged.
// - Each point of an input way with a node in some area lies on a way of its
//   tile that stands for it (same id or tags, or a member of a relation that
//   stands for it), and every edge written lies along an input edge or,
//   unless a road's, along an area's border.
// - A relation is written wherever a member of it is, with those of its
//   nodes and relations that are there, in order.
// - Closed areas and multipolygons add up to the size they had.
// - The outputs are the same for passes of one area and of two, and keeping
//   none or a few of the node positions of the first reading.
// Overlapping areas check only the ids, the node copies, the ways kept whole
// and the self-containment. Returns what the pass gave.
TPassResult ExpectSoundSplit(CPassHarness& pass, const TTestInput& input, const std::string& label,
                             bool overlapping = false);

}  // namespace test

// Readable points in failure messages.
inline void PrintTo(const CGeoPoint& p, std::ostream* out)
{
    *out << "(" << MapUnits::ToDegrees(p.x) << ", " << MapUnits::ToDegrees(p.y) << ")";
}
