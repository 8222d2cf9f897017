#include "tests/splitter/clip/PassHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "splitter/AreaGeometry.h"
#include "splitter/Log.h"
#include "splitter/clip/PassDistributor.h"
#include "tests/support/TestSupport.h"

namespace test {

TTestNode NodeAt(int64_t id, double lon, double lat, TTags tags)
{
    return TTestNode{id, std::llround(lat * 1e7), std::llround(lon * 1e7), std::move(tags)};
}

std::string NodeBlob(const std::vector<TTestNode>& nodes) { return DataBlob(DenseBlock(nodes)); }

std::string WayBlob(const std::vector<TTestWay>& ways)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (const TTestWay& way : ways)
        AddWay(block, group, way.id, way.refs, way.tags);
    return DataBlob(block);
}

std::string RelationBlob(const std::vector<TTestRelation>& relations)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (const TTestRelation& relation : relations) {
        std::vector<TMemberSpec> members;
        for (const TTestMember& member : relation.members)
            members.emplace_back(member.type, member.ref, member.role);
        AddRelation(block, group, relation.id, members, relation.tags);
    }
    return DataBlob(block);
}

std::string PbfInput(const std::vector<TTestNode>& nodes, const std::vector<TTestWay>& ways,
                     const std::vector<TTestRelation>& relations)
{
    return HeaderBlob() + (nodes.empty() ? "" : NodeBlob(nodes)) + (ways.empty() ? "" : WayBlob(ways)) +
           (relations.empty() ? "" : RelationBlob(relations));
}

TRing DegreeRect(double west, double south, double east, double north)
{
    return RectangleRing(MapUnits::FromDegrees(west), MapUnits::FromDegrees(south), MapUnits::FromDegrees(east),
                         MapUnits::FromDegrees(north));
}

void WriteSplitFile(const std::string& path, const std::vector<std::vector<double>>& rectangles)
{
    std::string text = "# List of areas\r\n#\r\n";
    for (size_t i = 0; i < rectangles.size(); ++i) {
        const std::vector<double>& r = rectangles[i];
        char line[256];
        std::snprintf(line, sizeof line, "%08zu: %d,%d to %d,%d\r\n#       : %f,%f to %f,%f\r\n\r\n", i + 1,
                      MapUnits::FromDegrees(r[1]) / 180, MapUnits::FromDegrees(r[0]) / 180,
                      MapUnits::FromDegrees(r[3]) / 180, MapUnits::FromDegrees(r[2]) / 180, r[1], r[0], r[3], r[2]);
        text += line;
    }
    WriteFile(path, text);
}

namespace {

template <typename T>
const T* FindById(const std::vector<T>& records, int64_t id)
{
    auto at = std::find_if(records.begin(), records.end(), [id](const T& record) { return record.id == id; });
    return at == records.end() ? nullptr : &*at;
}

}  // namespace

void CRecordingWriter::WriteRelation(const OSM::TRelation& relation)
{
    relations.push_back(relation);
    kinds += 'r';
}

void CRecordingWriter::WriteWay(const OSM::TWay& way)
{
    ways.push_back(way);
    kinds += 'w';
}

void CRecordingWriter::WriteNode(const OSM::TNode& node)
{
    nodes.push_back(node);
    kinds += 'n';
}

const OSM::TNode* CRecordingWriter::Node(int64_t id) const { return FindById(nodes, id); }
const OSM::TWay* CRecordingWriter::Way(int64_t id) const { return FindById(ways, id); }
const OSM::TRelation* CRecordingWriter::Relation(int64_t id) const { return FindById(relations, id); }

CPassHarness::CPassHarness(std::vector<TRing> rings, std::vector<uint32_t> outputOf)
    : m_rings(std::move(rings)), m_outputOf(std::move(outputOf))
{
    for (uint32_t i = 0; m_outputOf.size() < m_rings.size(); ++i)
        m_outputOf.push_back(i);
    const uint32_t outputs = m_outputOf.empty() ? 0 : *std::max_element(m_outputOf.begin(), m_outputOf.end()) + 1;
    for (uint32_t i = 0; i < outputs; ++i) {
        m_writers.push_back(std::make_unique<CRecordingWriter>());
        m_outputs.push_back(std::make_unique<TAreaOutput>());
        m_outputs.back()->writer = m_writers.back().get();
    }
}

TPassResult CPassHarness::Run(const std::string& pbf, uint32_t maxAreas, std::optional<uint64_t> keptPoints)
{
    TPassResult result;
    CMemoryReadStream stream(pbf);
    CPBInputAdapter input;
    if (!input.Open(stream)) {
        ADD_FAILURE() << "the test input has no valid header";
        return result;
    }
    std::vector<const TRing*> polygons;
    std::vector<TAreaOutput*> outputs;
    for (uint32_t i = 0; i < m_rings.size(); ++i) {
        polygons.push_back(&m_rings[i]);
        outputs.push_back(m_outputs[m_outputOf[i]].get());
    }
    Clip::CRunAreas run(polygons.data(), uint32_t(polygons.size()));
    const uint32_t count = uint32_t(polygons.size()), perPass = maxAreas == 0 ? count : maxAreas;
    CStdOutLog log;
    log.enabled = false;
    std::exception_ptr failure;
    result.printed = CaptureStdout([&] {
        try {
            if (perPass < count)
                Clip::CPassDistributor::FindEdgeWays(input, run, perPass, 0, log);
            result.ok = true;
            for (uint32_t first = 0; first < count && result.ok; first += perPass) {
                Clip::CPassDistributor pass;
                if (keptPoints)
                    pass.SetKeptPointLimit(*keptPoints);
                result.ok = pass.Run(input, run, first, outputs.data() + first, std::min(perPass, count - first), 0,
                                     1700000000000, log);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

std::string PassText(CPassHarness& pass)
{
    std::string text;
    for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
        const CRecordingWriter& out = pass.Output(o);
        text += "== " + std::to_string(o) + ' ' + out.kinds + '\n';
        for (const OSM::TNode& node : out.nodes)
            text += Describe(OSM::kNode, node);
        for (const OSM::TWay& way : out.ways)
            text += Describe(OSM::kWay, way);
        for (const OSM::TRelation& relation : out.relations)
            text += Describe(OSM::kRelation, relation);
    }
    return text;
}

void ExpectSelfContained(const CRecordingWriter& output, const std::string& label)
{
    EXPECT_TRUE(std::is_sorted(output.kinds.begin(), output.kinds.end(),
                               [](char a, char b) { return std::string("nwr").find(a) < std::string("nwr").find(b); }))
        << label << ": kinds out of order: " << output.kinds;
    auto byId = [](const auto& a, const auto& b) { return OSM::IdBefore(a.id, b.id); };
    EXPECT_TRUE(std::is_sorted(output.nodes.begin(), output.nodes.end(), byId)) << label << ": nodes out of order";
    EXPECT_TRUE(std::is_sorted(output.ways.begin(), output.ways.end(), byId)) << label << ": ways out of order";
    EXPECT_TRUE(std::is_sorted(output.relations.begin(), output.relations.end(), byId))
        << label << ": relations out of order";
    std::set<int64_t> ids[3];
    for (const OSM::TNode& node : output.nodes)
        EXPECT_TRUE(ids[OSM::kNode].insert(node.id).second) << label << ": node " << node.id << " written twice";
    for (const OSM::TWay& way : output.ways) {
        EXPECT_TRUE(ids[OSM::kWay].insert(way.id).second) << label << ": way " << way.id << " written twice";
        // Input ways of one node stay as they are; pieces have two at least.
        EXPECT_GE(way.nodeRefs.Count(), way.id < TAreaOutput::kFirstNewId ? 1u : 2u) << label << ": way " << way.id;
        for (int64_t ref : way.nodeRefs)
            EXPECT_TRUE(ids[OSM::kNode].count(ref)) << label << ": way " << way.id << " refers to absent node " << ref;
    }
    for (const OSM::TRelation& relation : output.relations)
        EXPECT_TRUE(ids[OSM::kRelation].insert(relation.id).second)
            << label << ": relation " << relation.id << " written twice";
    for (const OSM::TRelation& relation : output.relations) {
        EXPECT_FALSE(relation.members.Empty()) << label << ": relation " << relation.id << " without members";
        for (const OSM::TMember& m : relation.members)
            EXPECT_TRUE(ids[m.type].count(m.ref))
                << label << ": relation " << relation.id << " lists absent member " << "nwr"[m.type] << m.ref;
    }
}

namespace {

using TSegment = std::pair<CGeoPoint, CGeoPoint>;
using TRefs = std::vector<int64_t>;

constexpr double kSlack = 2;  // map units a computed position may be off

// Whether the outer and the inner way members close into rings apart:
// every end node is the end of an even number of ways of each kind. refs
// gives a way's node references, none when it is absent.
template <typename Refs>
bool RingsClose(const std::vector<TTestMember>& members, const Refs& refs)
{
    std::map<std::pair<bool, int64_t>, int> ends;
    for (const TTestMember& m : members)
        if (const TRefs way = refs(m.ref); m.type == OSM::kWay && !way.empty()) {
            ++ends[{m.role == "inner", way.front()}];
            ++ends[{m.role == "inner", way.back()}];
        }
    return std::all_of(ends.begin(), ends.end(), [](const auto& end) { return end.second % 2 == 0; });
}

// The node references of output's ways, none for a way it lacks.
auto OutputRefs(const CRecordingWriter& output)
{
    return [&output](int64_t id) {
        const OSM::TWay* way = output.Way(id);
        return way == nullptr ? TRefs() : TRefs(way->nodeRefs.begin(), way->nodeRefs.end());
    };
}

std::vector<TTestMember> MembersOf(const OSM::TRelation& relation)
{
    std::vector<TTestMember> members;
    for (const OSM::TMember& m : relation.members)
        members.push_back({m.type, m.ref, m.role});
    return members;
}

// The position the reader gives node.
CGeoPoint InputPoint(const TTestNode& node)
{
    CGeoPoint p{MapUnits::FromDegrees(1e-7 * double(node.lon)), MapUnits::FromDegrees(1e-7 * double(node.lat))};
    return {p.x == MapUnits::k180 ? MapUnits::kMaxLon : p.x, p.y};
}

// The areas whose rectangles hold p; edge is set when p lies on the edge of
// one of them.
std::vector<uint32_t> Holding(const std::vector<TRing>& rings, CGeoPoint p, bool* edge = nullptr)
{
    std::vector<uint32_t> areas;
    for (uint32_t i = 0; i < rings.size(); ++i) {
        const TRing& r = rings[i];
        const uint32_t dx = MapUnits::EastwardDistance(r[0].x, p.x), width = MapUnits::Width(r[0].x, r[1].x);
        if (dx <= width && p.y >= r[2].y && p.y <= r[0].y) {
            areas.push_back(i);
            if (edge != nullptr && (dx == 0 || dx == width || p.y == r[2].y || p.y == r[0].y))
                *edge = true;
        }
    }
    return areas;
}

// Distance in map units from q to the edge s, which runs the short way round.
double Distance(CGeoPoint q, const TSegment& s)
{
    const double bx = double(Geometry::LonDiff(s.first.x, s.second.x)), by = double(s.second.y) - s.first.y;
    const double qx = double(Geometry::LonDiff(s.first.x, q.x)), qy = double(q.y) - s.first.y;
    const double length2 = bx * bx + by * by;
    const double t = length2 == 0 ? 0 : std::clamp((qx * bx + qy * by) / length2, 0.0, 1.0);
    return std::hypot(qx - t * bx, qy - t * by);
}

// Whether p and q lie on one side of the rectangle ring.
bool OnSide(const TRing& ring, CGeoPoint p, CGeoPoint q)
{
    const uint32_t width = MapUnits::Width(ring[0].x, ring[1].x);
    auto column = [](CGeoPoint a, int32_t x) { return std::abs(Geometry::LonDiff(a.x, x)) <= kSlack; };
    auto row = [&](CGeoPoint a, int32_t y) {
        return std::abs(int64_t(a.y) - y) <= kSlack && MapUnits::EastwardDistance(ring[0].x, a.x) <= width;
    };
    const bool between = std::min(p.y, q.y) >= ring[2].y && std::max(p.y, q.y) <= ring[0].y;
    return (between && ((column(p, ring[0].x) && column(q, ring[0].x)) || (column(p, ring[1].x) && column(q, ring[1].x)))) ||
           (row(p, ring[0].y) && row(q, ring[0].y)) || (row(p, ring[2].y) && row(q, ring[2].y));
}

// Twice the area the segments enclose under the even-odd rule, in a frame
// without a seam at the first point's longitude.
double EvenOddArea(const std::vector<TSegment>& segments)
{
    if (segments.empty())
        return 0;
    auto x = [origin = segments[0].first.x](CGeoPoint p) { return double(Geometry::LonDiff(origin, p.x)); };
    std::vector<double> ys, xs;
    for (const auto& [a, b] : segments) {
        ys.push_back(a.y);
        ys.push_back(b.y);
    }
    std::sort(ys.begin(), ys.end());
    double area = 0;
    for (size_t k = 0; k + 1 < ys.size(); ++k) {
        const double y = (ys[k] + ys[k + 1]) / 2;
        xs.clear();
        for (const auto& [a, b] : segments)
            if ((a.y < y) != (b.y < y))
                xs.push_back(x(a) + (y - a.y) * (x(b) - x(a)) / (double(b.y) - a.y));
        std::sort(xs.begin(), xs.end());
        for (size_t i = 0; i + 1 < xs.size(); i += 2)
            area += (xs[i + 1] - xs[i]) * (ys[k + 1] - ys[k]);
    }
    return area;
}

bool SameTags(const OSM::TEntity& entity, const TTags& tags)
{
    return std::equal(entity.tags.begin(), entity.tags.end(), tags.begin(), tags.end(),
                      [](const OSM::TTag& a, const auto& b) { return a.key == b.first && a.value == b.second; });
}

bool HoldsTags(const OSM::TEntity& entity, const TTags& tags)
{
    return std::all_of(tags.begin(), tags.end(), [&](const auto& tag) {
        const std::string* value = entity.FindTag(tag.first);
        return value != nullptr && *value == tag.second;
    });
}

bool HasKey(const TTags& tags, const std::string& key)
{
    return std::any_of(tags.begin(), tags.end(), [&](const auto& tag) { return tag.first == key; });
}

bool HasTag(const TTags& tags, const std::string& key, const std::string& value)
{
    return std::count(tags.begin(), tags.end(), std::pair(key, value)) > 0;
}

bool IsMember(const OSM::TRelation& relation, OSM::EEntityType type, int64_t ref)
{
    return std::any_of(relation.members.begin(), relation.members.end(),
                       [&](const OSM::TMember& m) { return m.type == type && m.ref == ref; });
}

// What a split must give, checked output by output.
class CSplitCheck {
public:
    CSplitCheck(CPassHarness& pass, const TTestInput& input, EChecks checks);
    void Output(uint32_t o);
    void Finish();

private:
    bool Inside(const TRefs& refs) const;
    std::vector<TSegment> Segments(const CRecordingWriter& out, const OSM::TWay& way) const;
    bool StandsFor(const CRecordingWriter& out, const OSM::TWay& piece, const TTestWay& way) const;
    void ExpectCovered(const TTestWay& way);
    void ExpectArea(double want, const std::function<bool(const CRecordingWriter&, const OSM::TWay&)>& picks,
                    const std::string& what) const;

    CPassHarness& m_pass;
    const TTestInput& m_input;
    const std::vector<TRing>& m_rings;
    const EChecks m_checks;
    int64_t m_maxId[3] = {0, 0, 0};
    std::map<int64_t, CGeoPoint> m_points;  // of the nodes on the globe
    std::map<int64_t, const TTestWay*> m_ways;
    std::map<int64_t, std::vector<int64_t>> m_listedBy;  // way -> input relations listing it
    std::vector<TSegment> m_edges;                       // of the input ways, between nodes on the globe
    std::map<int64_t, int> m_copies;                     // of each input node
    std::vector<std::vector<std::vector<TSegment>>> m_written;  // edges of each output's ways
};

CSplitCheck::CSplitCheck(CPassHarness& pass, const TTestInput& input, EChecks checks)
    : m_pass(pass), m_input(input), m_rings(pass.Rings()), m_checks(checks)
{
    for (const TTestNode& node : input.nodes) {
        m_maxId[OSM::kNode] = std::max(m_maxId[OSM::kNode], node.id);
        if (const CGeoPoint p = InputPoint(node);
            std::abs(p.y) <= MapUnits::k90 && p.x >= MapUnits::kMinLon && p.x <= MapUnits::kMaxLon)
            m_points[node.id] = p;
    }
    for (const TTestWay& way : input.ways) {
        m_maxId[OSM::kWay] = std::max(m_maxId[OSM::kWay], way.id);
        m_ways[way.id] = &way;
        for (size_t i = 0; i + 1 < way.refs.size(); ++i)
            if (m_points.count(way.refs[i]) && m_points.count(way.refs[i + 1]))
                m_edges.emplace_back(m_points[way.refs[i]], m_points[way.refs[i + 1]]);
    }
    for (const TTestRelation& relation : input.relations) {
        m_maxId[OSM::kRelation] = std::max(m_maxId[OSM::kRelation], relation.id);
        for (const TTestMember& m : relation.members)
            if (m.type == OSM::kWay)
                m_listedBy[m.ref].push_back(relation.id);
    }
}

bool CSplitCheck::Inside(const TRefs& refs) const
{
    return std::all_of(refs.begin(), refs.end(), [this](int64_t ref) {
        return m_points.count(ref) && !Holding(m_rings, m_points.at(ref)).empty();
    });
}

std::vector<TSegment> CSplitCheck::Segments(const CRecordingWriter& out, const OSM::TWay& way) const
{
    std::vector<TSegment> segments;
    for (size_t i = 0; i + 1 < way.nodeRefs.Count(); ++i)
        if (const OSM::TNode *a = out.Node(way.nodeRefs[i]), *b = out.Node(way.nodeRefs[i + 1]); a && b)
            segments.emplace_back(a->position, b->position);
    return segments;
}

// Pieces keep the way's tags, or are members of a copy of a relation that
// lists the way, or of a new multipolygon that took the way's tags.
bool CSplitCheck::StandsFor(const CRecordingWriter& out, const OSM::TWay& piece, const TTestWay& way) const
{
    if (piece.id == way.id || SameTags(piece, way.tags))
        return true;
    const auto lists = m_listedBy.find(way.id);
    return std::any_of(out.relations.begin(), out.relations.end(), [&](const OSM::TRelation& r) {
        if (!IsMember(r, OSM::kWay, piece.id))
            return false;
        if (r.id > m_maxId[OSM::kRelation])
            return !way.tags.empty() && HoldsTags(r, way.tags);
        return lists != m_listedBy.end() && std::count(lists->second.begin(), lists->second.end(), r.id) > 0;
    });
}

void CSplitCheck::Output(uint32_t o)
{
    const CRecordingWriter& out = m_pass.Output(o);
    const TAreaOutput& counters = m_pass.Counters(o);
    SCOPED_TRACE("output " + std::to_string(o));
    ExpectSelfContained(out, "output");
    auto onBorder = [&](CGeoPoint p, CGeoPoint q) {
        for (uint32_t area = 0; area < m_rings.size(); ++area)
            if (m_pass.OutputOf(area) == o && OnSide(m_rings[area], p, q))
                return true;
        return false;
    };
    auto expectNewIds = [this](const auto& records, OSM::EEntityType kind, int64_t next) {
        const int64_t first = std::max(TAreaOutput::kFirstNewId, m_maxId[kind] + 1);
        for (const auto& record : records)
            EXPECT_TRUE(record.id <= m_maxId[kind] || (record.id >= first && record.id < next))
                << "nwr"[kind] << record.id << " beside the new ids " << first << " to " << next;
    };
    expectNewIds(out.nodes, OSM::kNode, counters.nextNodeId);
    expectNewIds(out.ways, OSM::kWay, counters.nextWayId);
    expectNewIds(out.relations, OSM::kRelation, counters.nextRelationId);

    for (const OSM::TNode& node : out.nodes) {
        if (node.id > m_maxId[OSM::kNode]) {
            EXPECT_TRUE(onBorder(node.position, node.position)) << "node " << node.id << " off the border";
            // On 180 degrees a node takes the name the area's corners there have.
            const bool named = std::any_of(m_rings.begin(), m_rings.end(), [&](const TRing& ring) {
                return std::any_of(ring.begin(), ring.end(), [&](CGeoPoint p) { return MapUnits::Natural(p.x) == node.position.x; });
            });
            EXPECT_TRUE(std::abs(node.position.x) < MapUnits::k180 || named) << "node " << node.id << " on 180";
            const bool highway = std::any_of(out.ways.begin(), out.ways.end(), [&](const OSM::TWay& w) {
                return w.FindTag("highway") && std::count(w.nodeRefs.begin(), w.nodeRefs.end(), node.id);
            });
            EXPECT_TRUE(SameTags(node, highway ? TTags{{"garmin:extnode", "yes"}} : TTags{})) << "node " << node.id;
            continue;
        }
        ++m_copies[node.id];
        const TTestNode& in = *FindById(m_input.nodes, node.id);
        EXPECT_EQ(node.position, InputPoint(in)) << "node " << node.id;
        bool edge = false;
        const std::vector<uint32_t> areas = Holding(m_rings, InputPoint(in), &edge);
        if (m_checks == EChecks::kOverlapping)
            continue;
        EXPECT_TRUE(std::any_of(areas.begin(), areas.end(), [&](uint32_t a) { return m_pass.OutputOf(a) == o; }))
            << "node " << node.id << " in no area of the output";
        TTags tags = in.tags;
        if (edge && !HasKey(tags, "garmin:extnode"))
            tags.emplace_back("garmin:extnode", "yes");
        EXPECT_TRUE(SameTags(node, tags)) << "node " << node.id;
    }

    for (const OSM::TWay& way : out.ways) {
        if (const auto in = m_ways.find(way.id); in != m_ways.end() && Inside(in->second->refs)) {
            EXPECT_TRUE(std::equal(way.nodeRefs.begin(), way.nodeRefs.end(), in->second->refs.begin(),
                                   in->second->refs.end()) &&
                        SameTags(way, in->second->tags))
                << "way " << way.id << " is not the input way";
        }
        // Roads and lone barriers are never closed along a border.
        const bool line = way.FindTag("highway") || (way.FindTag("barrier") && way.tags.Count() == 1);
        for (const TSegment& s : Segments(out, way)) {
            const bool alongInput = std::any_of(m_edges.begin(), m_edges.end(), [&s](const TSegment& e) {
                return Distance(s.first, e) <= kSlack && Distance(s.second, e) <= kSlack;
            });
            EXPECT_TRUE(alongInput || (!line && onBorder(s.first, s.second)))
                << "way " << way.id << " has an edge " << testing::PrintToString(s.first) << " - "
                << testing::PrintToString(s.second) << " along no input edge";
        }
    }

    for (const TTestRelation& relation : m_input.relations) {
        std::vector<TTestMember> expected;  // its nodes and relations in this output
        bool reached = false;
        for (const TTestMember& m : relation.members) {
            const bool present = m.type == OSM::kNode  ? out.Node(m.ref) != nullptr
                                 : m.type == OSM::kWay ? out.Way(m.ref) != nullptr
                                                       : out.Relation(m.ref) != nullptr;
            reached = reached || present;
            if (present && m.type != OSM::kWay)
                expected.push_back(m);
        }
        const OSM::TRelation* copy = out.Relation(relation.id);
        EXPECT_TRUE(copy != nullptr || !reached) << "relation " << relation.id << " missing";
        if (copy == nullptr)
            continue;
        std::vector<TTestMember> got = MembersOf(*copy);
        got.erase(std::remove_if(got.begin(), got.end(), [](const TTestMember& m) { return m.type == OSM::kWay; }),
                  got.end());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return a.type == b.type && a.ref == b.ref && a.role == b.role;
        })) << "relation " << relation.id << " lists other nodes or relations";
    }
}

// Every point of an input way with a node in some area lies on a way that
// stands for it in its tile, or in either tile next to a border.
void CSplitCheck::ExpectCovered(const TTestWay& way)
{
    for (size_t i = 0; i + 1 < way.refs.size(); ++i) {
        if (!m_points.count(way.refs[i]) || !m_points.count(way.refs[i + 1]))
            continue;  // the runs of nodes the input has are kept
        const CGeoPoint a = m_points[way.refs[i]], b = m_points[way.refs[i + 1]];
        for (double t : {0.125, 0.375, 0.625, 0.875}) {
            const CGeoPoint q{Geometry::LonAdd(a.x, std::llround(t * double(Geometry::LonDiff(a.x, b.x)))),
                              int32_t(std::llround(a.y + t * (double(b.y) - a.y)))};
            if (Holding(m_rings, q).empty())
                continue;
            std::set<uint32_t> outputs;
            for (auto [dx, dy] : {std::pair{-2, 0}, {2, 0}, {0, -2}, {0, 2}})
                for (uint32_t area : Holding(m_rings, {Geometry::LonAdd(q.x, dx), q.y + dy}))
                    outputs.insert(m_pass.OutputOf(area));
            const bool found = std::any_of(outputs.begin(), outputs.end(), [&](uint32_t o) {
                const CRecordingWriter& out = m_pass.Output(o);
                for (size_t w = 0; w < out.ways.size(); ++w) {
                    const std::vector<TSegment>& s = m_written[o][w];
                    if (std::any_of(s.begin(), s.end(), [&](const TSegment& e) { return Distance(q, e) <= kSlack; }) &&
                        StandsFor(out, out.ways[w], way))
                        return true;
                }
                return false;
            });
            EXPECT_TRUE(found) << "way " << way.id << " has no piece through " << testing::PrintToString(q);
        }
    }
}

void CSplitCheck::ExpectArea(double want, const std::function<bool(const CRecordingWriter&, const OSM::TWay&)>& picks,
                             const std::string& what) const
{
    double got = 0;
    for (uint32_t o = 0; o < m_pass.OutputCount(); ++o) {
        std::vector<TSegment> segments;
        for (const OSM::TWay& way : m_pass.Output(o).ways)
            if (picks(m_pass.Output(o), way))
                for (const TSegment& s : Segments(m_pass.Output(o), way))
                    segments.push_back(s);
        got += EvenOddArea(segments);
    }
    EXPECT_NEAR(got, want, want * 1e-6 + 1e6) << what;
}

void CSplitCheck::Finish()
{
    for (const TTestNode& node : m_input.nodes)
        EXPECT_EQ(m_copies[node.id], Holding(m_rings, InputPoint(node)).empty() ? 0 : 1) << "copies of node " << node.id;
    if (m_checks == EChecks::kOverlapping)
        return;
    for (uint32_t o = 0; o < m_pass.OutputCount(); ++o) {
        m_written.emplace_back();
        for (const OSM::TWay& way : m_pass.Output(o).ways)
            m_written.back().push_back(Segments(m_pass.Output(o), way));
    }
    for (const TTestWay& way : m_input.ways)
        if (std::any_of(way.refs.begin(), way.refs.end(),
                        [&](int64_t r) { return m_points.count(r) && !Holding(m_rings, m_points[r]).empty(); }))
            ExpectCovered(way);

    // Cut areas keep their size: closed ways with area tags, summed over ways
    // of equal tags, and multipolygons whose rings close inside the areas.
    auto segments = [this](const TRefs& refs, std::vector<TSegment>& to) {
        for (size_t i = 0; i + 1 < refs.size(); ++i)
            to.emplace_back(m_points.at(refs[i]), m_points.at(refs[i + 1]));
    };
    std::map<TTags, double> areas;  // NaN when one of the ways cannot be measured
    for (const TTestWay& way : m_input.ways) {
        const TTags& tags = way.tags;
        if (way.refs.size() < 4 || way.refs.front() != way.refs.back() || m_listedBy.count(way.id) ||
            HasKey(tags, "highway") || !(HasKey(tags, "building") || HasKey(tags, "landuse") || HasKey(tags, "natural")))
            continue;
        std::vector<TSegment> s;
        if (Inside(way.refs))
            segments(way.refs, s);
        areas[tags] += s.empty() ? std::nan("") : EvenOddArea(s);
    }
    for (const auto& [tags, want] : areas)
        if (!std::isnan(want))
            ExpectArea(want, [&, &tags = tags](const CRecordingWriter& out, const OSM::TWay& way) {
                return (way.nodeRefs[0] == way.nodeRefs.Back() && SameTags(way, tags)) ||
                       std::any_of(out.relations.begin(), out.relations.end(), [&](const OSM::TRelation& r) {
                           return r.id > m_maxId[OSM::kRelation] && HoldsTags(r, tags) && IsMember(r, OSM::kWay, way.id);
                       });
            }, "ways tagged " + tags.front().first + "=" + tags.front().second);
    auto inputRefs = [this](int64_t id) { return m_ways.count(id) ? m_ways[id]->refs : TRefs(); };
    for (const TTestRelation& relation : m_input.relations) {
        std::vector<TSegment> s;
        bool inside = true;
        for (const TTestMember& m : relation.members)
            if (m.type == OSM::kWay && m_ways.count(m.ref)) {
                inside = inside && Inside(m_ways[m.ref]->refs);
                if (inside)
                    segments(m_ways[m.ref]->refs, s);
            }
        if ((!HasTag(relation.tags, "type", "multipolygon") && !HasTag(relation.tags, "type", "boundary")) ||
            !inside || !RingsClose(relation.members, inputRefs))
            continue;
        for (uint32_t o = 0; o < m_pass.OutputCount(); ++o)
            if (const OSM::TRelation* copy = m_pass.Output(o).Relation(relation.id)) {
                EXPECT_TRUE(RingsClose(MembersOf(*copy), OutputRefs(m_pass.Output(o)))) << "relation " << relation.id << " open";
            }
        ExpectArea(EvenOddArea(s), [&](const CRecordingWriter& out, const OSM::TWay& way) {
            const OSM::TRelation* copy = out.Relation(relation.id);
            return copy != nullptr && IsMember(*copy, OSM::kWay, way.id);
        }, "relation " + std::to_string(relation.id));
    }
    for (uint32_t o = 0; o < m_pass.OutputCount(); ++o)
        for (const OSM::TRelation& relation : m_pass.Output(o).relations)
            EXPECT_TRUE(relation.id <= m_maxId[OSM::kRelation] || RingsClose(MembersOf(relation), OutputRefs(m_pass.Output(o))))
                << "relation " << relation.id << " open";
}

}  // namespace

TPassResult ExpectSoundSplit(CPassHarness& pass, const TTestInput& input, const std::string& label, EChecks checks)
{
    SCOPED_TRACE(label);
    const std::string pbf = PbfInput(input);
    const TPassResult result = pass.Run(pbf);
    EXPECT_TRUE(result.ok);
    if (pass.OutputCount() == pass.Rings().size())
        for (uint32_t maxAreas = 1; maxAreas < std::min<size_t>(pass.Rings().size(), 3); ++maxAreas) {
            CPassHarness passes(pass.Rings());
            passes.Run(pbf, maxAreas);
            EXPECT_EQ(PassText(passes), PassText(pass)) << maxAreas << " area(s) per pass";
        }
    CSplitCheck check(pass, input, checks);
    for (uint32_t o = 0; o < pass.OutputCount(); ++o)
        check.Output(o);
    check.Finish();
    return result;
}

}  // namespace test
