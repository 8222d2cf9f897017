#include "tests/splitter/clip/PassHarness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <tuple>
#include <ranges>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "splitter/Log.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/EdgeWaySearch.h"
#include "splitter/clip/PassDistributor.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace test {

TTestNode NodeAt(int64_t id, double lon, double lat, TTags tags)
{
    return TTestNode{id, std::llround(lat * 1e7), std::llround(lon * 1e7), std::move(tags)};
}

TTestInput ParseInput(std::string_view text)
{
    TTestInput input;
    std::istringstream entities{std::string(text)};
    for (std::string entity; std::getline(entities, entity, ';');) {
        std::istringstream words(entity);
        std::string head, word;
        std::vector<std::string> fields;
        TTags tags;
        words >> head;
        while (words >> word)
            if (const size_t equals = word.find('='); equals != std::string::npos)
                tags.emplace_back(word.substr(0, equals), word.substr(equals + 1));
            else
                fields.push_back(word);
        const int64_t id = std::stoll(head.substr(1));
        if (head[0] == 'n') {
            input.nodes.push_back(NodeAt(id, std::stod(fields.at(0)), std::stod(fields.at(1)), tags));
        } else if (head[0] == 'w') {
            TTestWay& way = input.ways.emplace_back(TTestWay{id, {}, tags});
            for (const std::string& ref : fields)
                way.refs.push_back(std::stoll(ref));
        } else {
            TTestRelation& relation = input.relations.emplace_back(TTestRelation{id, {}, tags});
            for (const std::string& member : fields) {
                const size_t colon = member.find(':');
                relation.members.push_back({OSM::EEntityType(std::string_view("nwr").find(member[0])),
                                            std::stoll(member.substr(1, colon - 1)),
                                            colon == std::string::npos ? "" : member.substr(colon + 1)});
            }
        }
    }
    return input;
}

std::string DataBlobs(const TTestInput& input)
{
    OSMPBF::PrimitiveBlock ways, relations;
    OSMPBF::PrimitiveGroup &wayGroup = *ways.add_primitivegroup(), &relationGroup = *relations.add_primitivegroup();
    for (const TTestWay& way : input.ways)
        AddWay(ways, wayGroup, way.id, way.refs, way.tags);
    for (const TTestRelation& relation : input.relations) {
        std::vector<TMemberSpec> members;
        for (const TTestMember& member : relation.members)
            members.emplace_back(member.type, member.ref, member.role);
        AddRelation(relations, relationGroup, relation.id, members, relation.tags);
    }
    return (input.nodes.empty() ? "" : DataBlob(DenseBlock(input.nodes))) + (input.ways.empty() ? "" : DataBlob(ways)) +
           (input.relations.empty() ? "" : DataBlob(relations));
}

std::string PbfInput(const std::vector<TTestNode>& nodes, const std::vector<TTestWay>& ways,
                     const std::vector<TTestRelation>& relations)
{
    return HeaderBlob() + DataBlobs({nodes, ways, relations});
}

TTestInput RandomInput(std::mt19937& random)
{
    auto below = [&random](uint32_t n) { return uint32_t(random() % n); };
    TTestInput input;
    const uint32_t pool = 3 + below(20);
    for (uint32_t i = 1; i <= pool; ++i) {
        const uint32_t tag = below(10);
        const TTags tags = tag == 0 ? TTags{{"garmin:extnode", "no"}} : tag == 1 ? TTags{{"name", "a"}} : TTags{};
        input.nodes.push_back(NodeAt(i, below(21) / 8.0 - 0.25, below(21) / 8.0 - 0.25, tags));
    }
    const char* kinds[] = {"highway", "barrier", "waterway", "landuse", nullptr};
    for (uint32_t n = below(6); n > 0; --n) {
        TTestWay way{int64_t(input.ways.size()) + 1};
        for (uint32_t k = 2 + below(5); k > 0; --k)
            way.refs.push_back(1 + below(pool));
        // Closed ways that are no simple polygons are lines here: as areas
        // they come out as rings round most of a tile.
        const bool closed = way.refs.front() == way.refs.back() || below(4) == 0;
        if (closed && way.refs.front() != way.refs.back())
            way.refs.push_back(way.refs[0]);
        if (const char* kind = kinds[below(closed ? 2 : 5)])
            way.tags = {{kind, "line " + std::to_string(way.id)}};
        input.ways.push_back(way);
    }
    std::vector<TTestRelation> lakes;
    for (uint32_t n = 1 + below(4); n > 0; --n) {
        // Corners at falling angles round a centre, on a 1/16 degree grid:
        // simple as long as each edge turns clockwise round the centre.
        const double cx = 0.3 + below(1000) / 700.0, cy = 0.3 + below(1000) / 700.0, r0 = 0.1 + below(1000) / 1100.0;
        std::vector<std::pair<double, double>> corners(3 + below(10));
        auto grid = [](double v) { return std::round(v * 16) / 16; };
        for (size_t k = 0; k < corners.size(); ++k) {
            const double angle = -2 * M_PI * (double(k) + below(800) / 1000.0) / double(corners.size());
            const double r = r0 * (0.3 + below(700) / 1000.0);
            corners[k] = {grid(cx + r * std::cos(angle)), grid(cy + r * std::sin(angle))};
        }
        if (!std::ranges::all_of(std::views::iota(size_t(0), corners.size()), [&](size_t k) {
                const auto [x0, y0] = corners[k];
                const auto [x1, y1] = corners[(k + 1) % corners.size()];
                return (x0 - cx) * (y1 - cy) - (y0 - cy) * (x1 - cx) < 0;
            }))
            continue;
        std::vector<int64_t> refs;
        for (const auto& [x, y] : corners) {
            input.nodes.push_back(NodeAt(int64_t(input.nodes.size()) + 1, x, y));
            refs.push_back(input.nodes.back().id);
        }
        if (below(2) == 0)
            std::reverse(refs.begin(), refs.end());
        refs.push_back(refs[0]);
        const int64_t id = int64_t(input.ways.size()) + 1;
        if (below(2) == 0) {
            input.ways.push_back({id, refs, {{"building", std::to_string(id)}}});
            continue;
        }
        const size_t cut = 1 + below(uint32_t(refs.size()) - 2);
        input.ways.push_back({id, {refs.begin(), refs.begin() + std::ptrdiff_t(cut) + 1}});
        input.ways.push_back({id + 1, {refs.begin() + std::ptrdiff_t(cut), refs.end()}});
        lakes.push_back({id, {{OSM::kWay, id, "outer"}, {OSM::kWay, id + 1, ""}}, {{"type", "multipolygon"}}});
    }
    const int64_t routes = 1 + int64_t(lakes.size() + input.ways.size());
    for (uint32_t n = below(4); n > 0; --n) {
        TTestRelation& route = input.relations.emplace_back(TTestRelation{routes + n, {}, {{"type", "route"}}});
        for (uint32_t k = 1 + below(4); k > 0; --k) {
            const auto type = OSM::EEntityType(below(3));
            const uint32_t count = type == OSM::kNode ? pool : type == OSM::kWay ? uint32_t(input.ways.size()) : 4;
            const int64_t ref = type == OSM::kRelation ? routes + 1 + below(count) : 1 + below(count + 1);
            route.members.push_back({type, ref, ""});
        }
    }
    std::reverse(input.relations.begin(), input.relations.end());
    input.relations.insert(input.relations.begin(), lakes.begin(), lakes.end());
    return input;
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
        m_outputs.back()->shared = std::count(m_outputOf.begin(), m_outputOf.end(), i) > 1;
    }
}

TPassResult CPassHarness::Run(const std::string& pbf, uint32_t maxAreas, std::optional<uint64_t> keptPoints)
{
    TPassResult result;
    CMemoryReadStream stream(pbf);
    CPBInputAdapter input;
    if (!input.Open(stream))
        throw std::runtime_error("the test input has no valid header");
    const uint32_t count = uint32_t(m_rings.size()), perPass = maxAreas == 0 ? count : maxAreas;
    std::vector<const TRing*> polygons;
    std::vector<TAreaOutput*> outputs;
    for (uint32_t i = 0; i < count; ++i) {
        polygons.push_back(&m_rings[i]);
        outputs.push_back(m_outputs[m_outputOf[i]].get());
    }
    Clip::CRunAreas run(polygons.data(), count);
    CStdOutLog log;
    log.enabled = false;
    std::exception_ptr failure;
    result.printed = CaptureStdout([&] {
        try {
            // As the program does: the first pass finds its own edge ways.
            const bool searches = perPass < count;
            if (searches)
                Clip::CEdgeWaySearch::Find(input, run, perPass, 0, perPass, 0, log);
            result.ok = true;
            for (uint32_t first = 0; first < count && result.ok; first += perPass) {
                Clip::CPassDistributor pass;
                if (keptPoints)
                    pass.SetKeptPointLimit(*keptPoints);
                const bool own = searches && first == 0;
                result.ok = pass.Run(input,
                                     {&run, first, std::min(perPass, count - first), outputs.data() + first,
                                      1700000000000, 0, own},
                                     log);
                if (result.ok && own)
                    run.AddEdgeWays(pass.SpanningWays());
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

namespace {

using TSegment = std::pair<CGeoPoint, CGeoPoint>;
using TRefs = std::vector<int64_t>;

constexpr double kSlack = 2;  // map units a computed position may be off

TTags TagsOf(const OSM::TEntity& entity)
{
    auto tags = entity.tags | std::views::transform([](const OSM::TTag& t) { return std::pair(t.key, t.value); });
    return {tags.begin(), tags.end()};
}

bool HasKey(const TTags& tags, const std::string& key)
{
    return std::ranges::any_of(tags, [&](const auto& tag) { return tag.first == key; });
}

// Whether every tag of some is one of tags.
bool Holds(const TTags& tags, const TTags& some)
{
    return std::ranges::all_of(some, [&](const auto& tag) { return std::ranges::count(tags, tag) > 0; });
}

std::vector<TTestMember> MembersOf(const OSM::TRelation& relation)
{
    auto list = relation.members | std::views::transform([](auto& m) { return TTestMember{m.type, m.ref, m.role}; });
    return {list.begin(), list.end()};
}

bool IsMember(const OSM::TRelation& relation, OSM::EEntityType type, int64_t ref)
{
    return std::ranges::any_of(relation.members, [&](const OSM::TMember& m) { return m.type == type && m.ref == ref; });
}

// Whether the outer and the inner way members close into rings apart:
// every end node is the end of an even number of ways of each kind.
// Ways join where their ends lie at one place (points), or share a node.
bool RingsClose(const std::vector<TTestMember>& members, const std::map<int64_t, TTestWay>& ways,
                const std::map<int64_t, CGeoPoint>& points)
{
    std::map<std::tuple<bool, int64_t, int64_t>, int> ends;
    auto end = [&](bool inner, int64_t ref) {
        const auto p = points.find(ref);
        ++ends[p == points.end() ? std::tuple(inner, INT64_MIN, int64_t(ref)) : std::tuple(inner, int64_t(p->second.x), int64_t(p->second.y))];
    };
    for (const TTestMember& m : members)
        if (const auto way = ways.find(m.ref); m.type == OSM::kWay && way != ways.end() && !way->second.refs.empty()) {
            end(m.role == "inner", way->second.refs.front());
            end(m.role == "inner", way->second.refs.back());
        }
    return std::ranges::all_of(ends, [](const auto& end) { return end.second % 2 == 0; });
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
    auto column = [&](int32_t x) {
        return std::abs(Geometry::LonDiff(p.x, x)) <= kSlack && std::abs(Geometry::LonDiff(q.x, x)) <= kSlack &&
               std::min(p.y, q.y) >= ring[2].y && std::max(p.y, q.y) <= ring[0].y;
    };
    auto row = [&](int32_t y) {
        return std::ranges::all_of(std::array{p, q}, [&](CGeoPoint a) {
            return std::abs(int64_t(a.y) - y) <= kSlack && MapUnits::EastwardDistance(ring[0].x, a.x) <= width;
        });
    };
    return column(ring[0].x) || column(ring[1].x) || row(ring[0].y) || row(ring[2].y);
}

// Twice the area the segments enclose under the even-odd rule, in a frame
// without a seam at the first point's longitude.
double EvenOddArea(const std::vector<TSegment>& segments)
{
    if (segments.empty())
        return 0;
    auto x = [origin = segments[0].first.x](CGeoPoint p) { return double(Geometry::LonDiff(origin, p.x)); };
    std::vector<double> ys, xs;
    for (const auto& [a, b] : segments)
        ys.insert(ys.end(), {double(a.y), double(b.y)});
    std::ranges::sort(ys);
    double area = 0;
    for (size_t k = 0; k + 1 < ys.size(); ++k) {
        const double y = (ys[k] + ys[k + 1]) / 2;
        xs.clear();
        for (const auto& [a, b] : segments)
            if ((a.y < y) != (b.y < y))
                xs.push_back(x(a) + (y - a.y) * (x(b) - x(a)) / (double(b.y) - a.y));
        std::ranges::sort(xs);
        for (size_t i = 0; i + 1 < xs.size(); i += 2)
            area += (xs[i + 1] - xs[i]) * (ys[k + 1] - ys[k]);
    }
    return area;
}

// The edges of way between nodes out holds.
std::vector<TSegment> Segments(const CRecordingWriter& out, const OSM::TWay& way)
{
    std::vector<TSegment> segments;
    for (size_t i = 0; i + 1 < way.nodeRefs.Count(); ++i)
        if (const OSM::TNode *a = Find(out.nodes, way.nodeRefs[i]), *b = Find(out.nodes, way.nodeRefs[i + 1]); a && b)
            segments.emplace_back(a->position, b->position);
    return segments;
}

TRefs RefsOf(const OSM::TWay& way) { return TRefs(way.nodeRefs.begin(), way.nodeRefs.end()); }

// The output is sorted by type and id, every way's nodes, every relation's
// members are in it, and no id of one kind is written twice.
void ExpectSelfContained(const CRecordingWriter& output)
{
    EXPECT_EQ(output.kinds, std::string(output.nodes.size(), 'n') + std::string(output.ways.size(), 'w') +
                                std::string(output.relations.size(), 'r'));
    auto increasing = [](const auto& records) {
        return std::ranges::adjacent_find(records, [](const auto& a, const auto& b) {
                   return !OSM::IdBefore(a.id, b.id);
               }) == records.end();
    };
    EXPECT_TRUE(increasing(output.nodes) && increasing(output.ways) && increasing(output.relations))
        << "ids out of order or written twice";
    for (const OSM::TWay& way : output.ways) {
        // Input ways of one node stay as they are; pieces have two at least.
        EXPECT_GE(way.nodeRefs.Count(), way.id < TAreaOutput::kFirstNewId ? 1u : 2u) << "way " << way.id;
        for (int64_t ref : way.nodeRefs)
            EXPECT_TRUE(output.Has(OSM::kNode, ref)) << "way " << way.id << " refers to absent node " << ref;
    }
    for (const OSM::TRelation& relation : output.relations) {
        EXPECT_FALSE(relation.members.Empty()) << "relation " << relation.id << " without members";
        for (const OSM::TMember& m : relation.members)
            EXPECT_TRUE(output.Has(m.type, m.ref))
                << "relation " << relation.id << " lists absent member " << "nwr"[m.type] << m.ref;
    }
}

// What a split must give, checked output by output, then over all outputs.
class CSplitCheck {
public:
    CSplitCheck(CPassHarness& pass, const TTestInput& input, bool overlapping)
        : m_pass(pass), m_input(input), m_rings(pass.Rings()), m_overlapping(overlapping)
    {
        for (const TTestNode& node : input.nodes) {
            m_maxId[OSM::kNode] = std::max(m_maxId[OSM::kNode], node.id);
            if (const CGeoPoint p = InputPoint(node);
                std::abs(p.y) <= MapUnits::k90 && p.x >= MapUnits::kMinLon && p.x <= MapUnits::kMaxLon)
                m_points[node.id] = p;
        }
        for (const TTestWay& way : input.ways) {
            m_maxId[OSM::kWay] = std::max(m_maxId[OSM::kWay], way.id);
            m_ways[way.id] = way;
            std::ranges::copy(InputSegments(way.refs), std::back_inserter(m_edges));
        }
        for (const TTestRelation& relation : input.relations) {
            m_maxId[OSM::kRelation] = std::max(m_maxId[OSM::kRelation], relation.id);
            for (const TTestMember& m : relation.members)
                if (m.type == OSM::kWay)
                    m_listedBy[m.ref].push_back(relation.id);
        }
    }

    void Output(uint32_t o)
    {
        const CRecordingWriter& out = m_pass.Output(o);
        SCOPED_TRACE("output " + std::to_string(o));
        ExpectSelfContained(out);
        const TAreaOutput& counters = m_pass.Counters(o);
        const int64_t next[3] = {counters.nextNodeId, counters.nextWayId, counters.nextRelationId};
        auto expectId = [&](OSM::EEntityType kind, int64_t id) {
            const int64_t first = std::max(TAreaOutput::kFirstNewId, m_maxId[kind] + 1);
            EXPECT_TRUE(id <= m_maxId[kind] || (id >= first && id < next[kind]))
                << "nwr"[kind] << id << " beside the new ids " << first << " to " << next[kind];
        };
        auto onBorder = [&](CGeoPoint p, CGeoPoint q) {
            return std::ranges::any_of(std::views::iota(size_t(0), m_rings.size()),
                                       [&](size_t area) { return OutputOf(area) == o && OnSide(m_rings[area], p, q); });
        };

        for (const OSM::TNode& node : out.nodes) {
            expectId(OSM::kNode, node.id);
            const TTestNode* in = Find(m_input.nodes, node.id);
            bool edge = false;  // tagged as a border node
            if (in == nullptr) {
                EXPECT_TRUE(onBorder(node.position, node.position)) << "node " << node.id << " off the border";
                // On 180 degrees a node takes the name the area's corners there have.
                EXPECT_TRUE(std::abs(node.position.x) < MapUnits::k180 ||
                            std::ranges::any_of(m_rings | std::views::join,
                                                [&](CGeoPoint p) { return MapUnits::Natural(p.x) == node.position.x; }))
                    << "node " << node.id << " on 180";
                edge = std::ranges::any_of(out.ways, [&](const OSM::TWay& w) {
                    return w.FindTag("highway") && std::ranges::count(w.nodeRefs, node.id);
                });
            } else {
                ++m_copies[node.id];
                EXPECT_EQ(node.position, InputPoint(*in)) << "node " << node.id;
                if (m_overlapping)
                    continue;
                const std::vector<uint32_t> areas = Holding(m_rings, InputPoint(*in), &edge);
                EXPECT_TRUE(std::ranges::any_of(areas, [&](uint32_t area) { return OutputOf(area) == o; }))
                    << "node " << node.id << " in no area of the output";
            }
            TTags tags = in == nullptr ? TTags() : in->tags;
            if (edge && !HasKey(tags, "garmin:extnode"))
                tags.emplace_back("garmin:extnode", "yes");
            EXPECT_EQ(TagsOf(node), tags) << "node " << node.id;
        }

        for (const OSM::TWay& way : out.ways) {
            expectId(OSM::kWay, way.id);
            const auto in = m_ways.find(way.id);
            EXPECT_TRUE(in == m_ways.end() || !Inside(in->second.refs) ||
                        (RefsOf(way) == in->second.refs && TagsOf(way) == in->second.tags))
                << "way " << way.id << " is not the input way";
            // Roads and lone barriers are never closed along a border.
            const bool line = way.FindTag("highway") || (way.FindTag("barrier") && way.tags.Count() == 1);
            for (const auto& [p, q] : Segments(out, way))
                EXPECT_TRUE((!line && onBorder(p, q)) || std::ranges::any_of(m_edges, [&](const TSegment& e) {
                                return Distance(p, e) <= kSlack && Distance(q, e) <= kSlack;
                            }))
                    << "way " << way.id << " has an edge " << testing::PrintToString(p) << " - "
                    << testing::PrintToString(q) << " along no input edge";
        }

        for (const OSM::TRelation& relation : out.relations)
            expectId(OSM::kRelation, relation.id);
        auto isWay = [](const TTestMember& m) { return m.type == OSM::kWay; };
        for (const TTestRelation& relation : m_input.relations) {
            std::vector<TTestMember> there;  // its members in this output
            std::ranges::copy_if(relation.members, std::back_inserter(there),
                                 [&](const TTestMember& m) { return out.Has(m.type, m.ref); });
            const OSM::TRelation* copy = Find(out.relations, relation.id);
            EXPECT_TRUE(copy != nullptr || there.empty()) << "relation " << relation.id << " missing";
            std::vector<TTestMember> got = copy != nullptr ? MembersOf(*copy) : there;
            std::erase_if(got, isWay);
            std::erase_if(there, isWay);
            EXPECT_TRUE(got == there) << "relation " << relation.id << " lists other nodes or relations";
        }
    }

    void Check()
    {
        for (uint32_t o = 0; o < m_pass.OutputCount(); ++o)
            Output(o);
        for (const TTestNode& node : m_input.nodes)
            EXPECT_EQ(m_copies[node.id], Holding(m_rings, InputPoint(node)).empty() ? 0 : 1)
                << "copies of node " << node.id;
        if (m_overlapping)
            return;
        for (const TTestWay& way : m_input.ways)
            ExpectCovered(way);

        // Cut areas keep their size: closed ways with area tags, summed by
        // tags, and multipolygons whose rings close inside the areas.
        std::map<TTags, double> areas;  // NaN when one of the ways cannot be measured
        for (const TTestWay& way : m_input.ways)
            if (way.refs.size() >= 4 && way.refs.front() == way.refs.back() &&
                !HasKey(way.tags, "highway") &&
                (HasKey(way.tags, "building") || HasKey(way.tags, "landuse") || HasKey(way.tags, "natural")))
                areas[way.tags] += Inside(way.refs) ? EvenOddArea(InputSegments(way.refs)) : std::nan("");
        for (const auto& [tags, want] : areas)
            if (!std::isnan(want))
                ExpectArea(want, [&, &tags = tags](const CRecordingWriter& out, const OSM::TWay& way) {
                    return (way.nodeRefs[0] == way.nodeRefs.Back() && TagsOf(way) == tags) ||
                           std::ranges::any_of(out.relations, [&](const OSM::TRelation& r) {
                               return r.id > m_maxId[OSM::kRelation] && Holds(TagsOf(r), tags) &&
                                      IsMember(r, OSM::kWay, way.id);
                           });
                }, "ways tagged " + tags.front().first + "=" + tags.front().second);

        std::set<int64_t> closing;  // input relations whose rings close inside the areas
        for (const TTestRelation& relation : m_input.relations) {
            std::vector<TSegment> edges;
            bool area =
                Holds(relation.tags, {{"type", "multipolygon"}}) || Holds(relation.tags, {{"type", "boundary"}});
            for (const TTestMember& m : relation.members) {
                const TRefs refs = m.type == OSM::kWay && m_ways.count(m.ref) ? m_ways.at(m.ref).refs : TRefs();
                std::ranges::copy(InputSegments(refs), std::back_inserter(edges));
                area = area && Inside(refs);
            }
            if (!area || !RingsClose(relation.members, m_ways, m_points))
                continue;
            closing.insert(relation.id);
            ExpectArea(EvenOddArea(edges), [&](const CRecordingWriter& out, const OSM::TWay& way) {
                const OSM::TRelation* copy = Find(out.relations, relation.id);
                return copy != nullptr && IsMember(*copy, OSM::kWay, way.id);
            }, "relation " + std::to_string(relation.id));
        }
        for (uint32_t o = 0; o < m_pass.OutputCount(); ++o) {
            std::map<int64_t, TTestWay> ways;
            for (const OSM::TWay& way : m_pass.Output(o).ways) {
                ways[way.id] = {way.id, RefsOf(way)};
                // A new area ring passes no node twice, but out and back on a spike.
                const TRefs& refs = ways[way.id].refs;
                const TTags tags = TagsOf(way);
                const bool area = way.id > m_maxId[OSM::kWay] && refs.front() == refs.back() &&
                                  !HasKey(tags, "highway") && (HasKey(tags, "building") || HasKey(tags, "landuse"));
                std::map<int64_t, size_t> last;  // node -> where the ring passed it last
                for (size_t i = 0; area && i + 1 < refs.size(); ++i) {
                    const auto [at, fresh] = last.try_emplace(refs[i], i);
                    EXPECT_TRUE(fresh || i - at->second <= 2) << "ring " << way.id << " touches itself in output " << o << ": " << Describe(OSM::kWay, way);
                    at->second = i;
                }
            }
            std::map<int64_t, CGeoPoint> points;
            for (const OSM::TNode& node : m_pass.Output(o).nodes)
                points[node.id] = node.position;
            for (const OSM::TRelation& relation : m_pass.Output(o).relations)
                EXPECT_TRUE((relation.id <= m_maxId[OSM::kRelation] && !closing.count(relation.id)) ||
                            RingsClose(MembersOf(relation), ways, points))
                    << "relation " << relation.id << " open in output " << o;
        }
    }

private:
    uint32_t OutputOf(size_t area) const { return m_pass.OutputsOf()[area]; }

    // The edges between those of refs that lie on the globe.
    std::vector<TSegment> InputSegments(const TRefs& refs) const
    {
        std::vector<TSegment> segments;
        for (size_t i = 0; i + 1 < refs.size(); ++i)
            if (m_points.count(refs[i]) && m_points.count(refs[i + 1]))
                segments.emplace_back(m_points.at(refs[i]), m_points.at(refs[i + 1]));
        return segments;
    }

    // Whether every node of refs lies in an area.
    bool Inside(const TRefs& refs) const
    {
        return std::ranges::all_of(refs, [this](int64_t ref) {
            return m_points.count(ref) && !Holding(m_rings, m_points.at(ref)).empty();
        });
    }

    // Pieces keep the way's tags, or are members of a copy of a relation
    // that lists the way, or of a new multipolygon that took the way's tags.
    bool StandsFor(const CRecordingWriter& out, const OSM::TWay& piece, const TTestWay& way) const
    {
        if (piece.id == way.id || TagsOf(piece) == way.tags)
            return true;
        const TRefs lists = m_listedBy.count(way.id) ? m_listedBy.at(way.id) : TRefs();
        return std::ranges::any_of(out.relations, [&](const OSM::TRelation& r) {
            if (!IsMember(r, OSM::kWay, piece.id))
                return false;
            if (r.id > m_maxId[OSM::kRelation])
                return !way.tags.empty() && Holds(TagsOf(r), way.tags);
            return std::ranges::count(lists, r.id) > 0;
        });
    }

    // Every point of an input way with a node in some area lies on a way
    // that stands for it in its tile, or in either tile next to a border.
    void ExpectCovered(const TTestWay& way) const
    {
        for (const auto& [a, b] : InputSegments(way.refs))
            for (double t : {0.125, 0.375, 0.625, 0.875}) {
                const CGeoPoint q{Geometry::LonAdd(a.x, std::llround(t * double(Geometry::LonDiff(a.x, b.x)))),
                                  int32_t(std::llround(a.y + t * (double(b.y) - a.y)))};
                if (Holding(m_rings, q).empty())
                    continue;
                std::set<uint32_t> outputs;
                for (auto [dx, dy] : {std::pair{-2, 0}, {2, 0}, {0, -2}, {0, 2}})
                    for (uint32_t area : Holding(m_rings, {Geometry::LonAdd(q.x, dx), q.y + dy}))
                        outputs.insert(OutputOf(area));
                EXPECT_TRUE(std::ranges::any_of(outputs, [&](uint32_t o) {
                    return std::ranges::any_of(m_pass.Output(o).ways, [&](const OSM::TWay& piece) {
                        return std::ranges::any_of(Segments(m_pass.Output(o), piece),
                                                   [&](const TSegment& e) { return Distance(q, e) <= kSlack; }) &&
                               StandsFor(m_pass.Output(o), piece, way);
                    });
                })) << "way " << way.id << " has no piece through " << testing::PrintToString(q);
            }
    }

    // The areas of the ways picks takes, over all outputs, add up to want.
    template <typename Picks>
    void ExpectArea(double want, const Picks& picks, const std::string& what) const
    {
        double got = 0;
        for (uint32_t o = 0; o < m_pass.OutputCount(); ++o) {
            std::vector<TSegment> edges;
            for (const OSM::TWay& way : m_pass.Output(o).ways)
                if (picks(m_pass.Output(o), way))
                    std::ranges::copy(Segments(m_pass.Output(o), way), std::back_inserter(edges));
            got += EvenOddArea(edges);
        }
        EXPECT_NEAR(got, want, want * 1e-6 + 1e6) << what;
    }

    CPassHarness& m_pass;
    const TTestInput& m_input;
    const std::vector<TRing>& m_rings;
    const bool m_overlapping;
    int64_t m_maxId[3] = {0, 0, 0};
    std::map<int64_t, CGeoPoint> m_points;  // of the input nodes on the globe
    std::map<int64_t, TTestWay> m_ways;
    std::map<int64_t, TRefs> m_listedBy;    // way -> input relations listing it
    std::vector<TSegment> m_edges;          // of the input ways, between nodes on the globe
    std::map<int64_t, int> m_copies;        // of each input node
};

}  // namespace

TPassResult ExpectSoundSplit(CPassHarness& pass, const TTestInput& input, const std::string& label, bool overlapping)
{
    SCOPED_TRACE(label);
    const std::string pbf = PbfInput(input);
    const TPassResult result = pass.Run(pbf);
    EXPECT_TRUE(result.ok);
    // Passes of fewer areas need an output per area.
    for (auto [maxAreas, kept] : {std::pair<uint32_t, uint64_t>{1, 1}, {2, 20}, {0, 0}})
        if (maxAreas < pass.Rings().size() && (maxAreas == 0 || pass.OutputCount() == pass.Rings().size())) {
            CPassHarness again(pass.Rings(), maxAreas == 0 ? pass.OutputsOf() : std::vector<uint32_t>());
            again.Run(pbf, maxAreas, kept);
            for (uint32_t o = 0; o < pass.OutputCount(); ++o)
                EXPECT_EQ(again.Output(o).text, pass.Output(o).text)
                    << maxAreas << " area(s) per pass, " << kept << " kept, output " << o;
        }
    CSplitCheck(pass, input, overlapping).Check();
    return result;
}

}  // namespace test
