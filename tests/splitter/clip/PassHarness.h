// Runs one split pass over a small synthetic input and keeps what every
// output received, so that tests can assert exact results.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/OSM/DataWriter.h"
#include "splitter/Areas.h"
#include "splitter/clip/AreaOutput.h"
#include "tests/support/PbfBuilder.h"

namespace test {

using TTags = std::vector<std::pair<std::string, std::string>>;

// A node at lon, lat in degrees; block granularity 100 nanodegrees.
TTestNode NodeAt(int64_t id, double lon, double lat, TTags tags = {});

struct TTestWay {
    int64_t id = 0;
    std::vector<int64_t> refs;
    TTags tags;
};

struct TTestMember {
    OSM::EEntityType type = OSM::kNode;
    int64_t ref = 0;
    std::string role;
};

struct TTestRelation {
    int64_t id = 0;
    std::vector<TTestMember> members;
    TTags tags;
};

// One "OSMData" blob holding one group of the given entities.
std::string NodeBlob(const std::vector<TTestNode>& nodes);
std::string WayBlob(const std::vector<TTestWay>& ways);
std::string RelationBlob(const std::vector<TTestRelation>& relations);

// A whole file: the header, then one blob per kind that has entities.
std::string PbfInput(const std::vector<TTestNode>& nodes, const std::vector<TTestWay>& ways = {},
                     const std::vector<TTestRelation>& relations = {});

// Clockwise rectangle with edges in degrees.
TRing DegreeRect(double west, double south, double east, double north);
// Map units of a point given in degrees.
CGeoPoint PointAt(double lon, double lat);

// Writes a split file with one area per rectangle {west, south, east,
// north} in degrees, named 1, 2, ...
void WriteSplitFile(const std::string& path, const std::vector<std::vector<double>>& rectangles);

// Keeps a copy of every record written, in order.
class CRecordingWriter : public OSM::CDataWriter {
public:
    void WriteRelation(const OSM::TRelation& relation) override;
    void WriteWay(const OSM::TWay& way) override;
    void WriteNode(const OSM::TNode& node) override;

    const OSM::TNode* Node(int64_t id) const;
    const OSM::TWay* Way(int64_t id) const;
    const OSM::TRelation* Relation(int64_t id) const;
    // The ways whose tags hold key=value.
    std::vector<const OSM::TWay*> WaysTagged(const std::string& key, const std::string& value) const;

    std::vector<OSM::TNode> nodes;
    std::vector<OSM::TWay> ways;
    std::vector<OSM::TRelation> relations;
    std::string kinds;  // 'n', 'w' or 'r' per record, in the order written
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
    // The output that area area writes to.
    CRecordingWriter& AreaOutput(uint32_t area) { return *m_writers[m_outputOf[area]]; }
    uint32_t OutputCount() const { return uint32_t(m_writers.size()); }
    // The area the pass assigns point p to, or -1.
    int32_t LocateArea(CGeoPoint p, bool* border = nullptr) const;

private:
    std::vector<TRing> m_rings;
    std::vector<uint32_t> m_outputOf;
    std::vector<std::unique_ptr<CRecordingWriter>> m_writers;
    std::vector<std::unique_ptr<TAreaOutput>> m_outputs;
};

// Positions, degrees and ids as tests compare them.
std::vector<CGeoPoint> Shape(const CRecordingWriter& output, const OSM::TWay& way);
std::vector<int64_t> Refs(const OSM::TWay& way);
// "key=value;..." in tag order.
std::string TagText(const OSM::TEntity& entity);
// "w12:outer,n5:,..." in member order.
std::string MemberText(const OSM::TRelation& relation);

// Every record of every output, in order, a line per output: "== <output>:",
// then " n<id> <lon>,<lat> <tags>;", " w<id> <refs> <tags>;" or
// " r<id> <members> <tags>;" per record, positions in degrees and ids from
// the first new id on as "+<id - first new id>". Expects every output
// self-contained.
std::string PassText(CPassHarness& pass);

// The output is sorted by type and id, every way's nodes, every relation's
// members are in it, no node reference is a placeholder, and no id of one
// kind is written twice.
void ExpectSelfContained(const CRecordingWriter& output, const std::string& label);

// Chains the way members of relation by their end nodes, outer and inner
// ones apart, and expects every chain to close into a ring.
void ExpectClosedRings(const CRecordingWriter& output, const OSM::TRelation& relation, const std::string& label);

}  // namespace test

// Readable points in failure messages.
inline void PrintTo(const CGeoPoint& p, std::ostream* out)
{
    *out << "(" << MapUnits::ToDegrees(p.x) << ", " << MapUnits::ToDegrees(p.y) << ")";
}
