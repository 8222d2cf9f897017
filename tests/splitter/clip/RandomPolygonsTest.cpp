// Random simple polygons, as closed ways and as multipolygons of two ways,
// cut by four areas: every output stays self-contained, its rings close, and
// the pieces of a polygon add up to the polygon's size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

struct TSegment {
    CGeoPoint a, b;
};

int64_t Cross(CGeoPoint o, CGeoPoint a, CGeoPoint b)
{
    return (int64_t(a.x) - o.x) * (int64_t(b.y) - o.y) - (int64_t(a.y) - o.y) * (int64_t(b.x) - o.x);
}

bool Between(CGeoPoint p, CGeoPoint q, CGeoPoint r)
{
    return std::min(p.x, r.x) <= q.x && q.x <= std::max(p.x, r.x) && std::min(p.y, r.y) <= q.y &&
           q.y <= std::max(p.y, r.y);
}

bool Touch(TSegment s, TSegment t)
{
    const int64_t d1 = Cross(t.a, t.b, s.a), d2 = Cross(t.a, t.b, s.b);
    const int64_t d3 = Cross(s.a, s.b, t.a), d4 = Cross(s.a, s.b, t.b);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0)))
        return true;
    return (d1 == 0 && Between(t.a, s.a, t.b)) || (d2 == 0 && Between(t.a, s.b, t.b)) ||
           (d3 == 0 && Between(s.a, t.a, s.b)) || (d4 == 0 && Between(s.a, t.b, s.b));
}

// Closed ring (last point equals the first) without repeated points and
// without edges that touch other than neighbours at their shared point.
bool IsSimple(const std::vector<CGeoPoint>& ring)
{
    const size_t n = ring.size() - 1;
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (ring[i] == ring[j])
                return false;
            const TSegment s{ring[i], ring[i + 1]}, t{ring[j], ring[j + 1]};
            if (j == i + 1 || (i == 0 && j == n - 1)) {
                // Neighbours share a point; they must not fold back onto each other.
                const CGeoPoint shared = j == i + 1 ? s.b : s.a;
                const CGeoPoint p = j == i + 1 ? s.a : s.b, q = j == i + 1 ? t.b : t.a;
                const int64_t dot = (int64_t(p.x) - shared.x) * (int64_t(q.x) - shared.x) +
                                    (int64_t(p.y) - shared.y) * (int64_t(q.y) - shared.y);
                if (Cross(shared, p, q) == 0 && dot > 0)
                    return false;
                continue;
            }
            if (Touch(s, t))
                return false;
        }
    }
    return true;
}

// Area enclosed by the segments under the even-odd rule, in square map
// units. Needs no chaining, so rings that touch at a node or run in either
// direction count the same. Exact for segments that do not cross.
double EvenOddArea(const std::vector<TSegment>& segments)
{
    std::vector<int32_t> ys;
    for (const TSegment& s : segments) {
        ys.push_back(s.a.y);
        ys.push_back(s.b.y);
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    double area = 0;
    std::vector<double> xs;
    for (size_t k = 0; k + 1 < ys.size(); ++k) {
        const double y = (double(ys[k]) + ys[k + 1]) / 2;
        xs.clear();
        for (const TSegment& s : segments) {
            if ((s.a.y < y) == (s.b.y < y))
                continue;
            xs.push_back(s.a.x + (y - s.a.y) * (double(s.b.x) - s.a.x) / (double(s.b.y) - s.a.y));
        }
        std::sort(xs.begin(), xs.end());
        for (size_t i = 0; i + 1 < xs.size(); i += 2)
            area += (xs[i + 1] - xs[i]) * (double(ys[k + 1]) - ys[k]);
    }
    return area;
}

void AddSegments(const std::vector<CGeoPoint>& line, std::vector<TSegment>& segments)
{
    for (size_t i = 0; i + 1 < line.size(); ++i)
        segments.push_back({line[i], line[i + 1]});
}

struct TPolygon {
    std::vector<CGeoPoint> ring;
    bool multipolygon = false;
    std::string label;  // value of the tag that marks its pieces
};

// The segments of the polygon's pieces in one output.
std::vector<TSegment> Pieces(const CRecordingWriter& out, const TPolygon& polygon)
{
    std::vector<TSegment> segments;
    const std::string key = polygon.multipolygon ? "lake" : "building";
    for (const OSM::TWay* way : out.WaysTagged(key, polygon.label))
        AddSegments(Shape(out, *way), segments);
    for (const OSM::TRelation& relation : out.relations) {
        const std::string* value = relation.FindTag(key);
        if (!value || *value != polygon.label)
            continue;
        for (const OSM::TMember& member : relation.members)
            if (const OSM::TWay* way = out.Way(member.ref); way && member.type == OSM::kWay)
                AddSegments(Shape(out, *way), segments);
    }
    return segments;
}

TEST(RandomPolygons, PiecesStayClosedAndAddUpToTheWhole)
{
    const CGeoPoint far = PointAt(2, 2);
    int checked = 0;
    for (uint32_t seed = 0; seed < 400; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0, 1);
        std::vector<TTestNode> nodes;
        std::vector<TTestWay> ways;
        std::vector<TTestRelation> relations;
        std::vector<TPolygon> polygons;
        int64_t nodeId = 1;
        const int count = 1 + int(rng() % 4);
        for (int s = 0; s < count; ++s) {
            // A star around a random centre, on a 1/16 degree grid so that
            // vertices often fall on the borders at 0, 1 and 2 degrees.
            const double cx = 0.3 + 1.4 * unit(rng), cy = 0.3 + 1.4 * unit(rng), r0 = 0.1 + 0.9 * unit(rng);
            const int corners = 3 + int(rng() % 10);
            std::vector<int64_t> refs;
            TPolygon polygon;
            for (int k = 0; k < corners; ++k) {
                const double angle = -2 * M_PI * (k + 0.8 * unit(rng)) / corners;
                const double r = r0 * (0.3 + 0.7 * unit(rng));
                const double x = std::round((cx + r * std::cos(angle)) * 16) / 16;
                const double y = std::round((cy + r * std::sin(angle)) * 16) / 16;
                if (!polygon.ring.empty() && polygon.ring.back() == PointAt(x, y))
                    continue;
                nodes.push_back(NodeAt(nodeId, x, y));
                refs.push_back(nodeId++);
                polygon.ring.push_back(PointAt(x, y));
            }
            if (refs.size() < 3)
                continue;
            if (rng() % 2) {
                std::reverse(refs.begin(), refs.end());
                std::reverse(polygon.ring.begin(), polygon.ring.end());
            }
            refs.push_back(refs[0]);
            polygon.ring.push_back(polygon.ring[0]);
            const bool simple = IsSimple(polygon.ring);
            polygon.multipolygon = rng() % 2;
            const int64_t id = int64_t(polygons.size()) + 1;
            polygon.label = std::to_string(id);
            if (!simple)
                continue;
            if (!polygon.multipolygon) {
                ways.push_back({id, refs, {{"building", polygon.label}}});
            } else {
                const size_t cut = 1 + rng() % (refs.size() - 2);
                ways.push_back({id, {refs.begin(), refs.begin() + cut + 1}, {}});
                ways.push_back({id + 1000, {refs.begin() + cut, refs.end()}, {}});
                relations.push_back({id,
                                     {{OSM::kWay, id, "outer"}, {OSM::kWay, id + 1000, "outer"}},
                                     {{"type", "multipolygon"}, {"lake", polygon.label}}});
            }
            polygons.push_back(std::move(polygon));
        }
        std::sort(ways.begin(), ways.end(), [](const TTestWay& a, const TTestWay& b) { return a.id < b.id; });

        CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(0, 1, 1, 2),
                           DegreeRect(1, 1, 2, 2)});
        ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok) << "seed " << seed;
        const std::string label = "seed " + std::to_string(seed);
        for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
            ExpectSelfContained(pass.Output(o), label);
            for (const OSM::TRelation& relation : pass.Output(o).relations)
                ExpectClosedRings(pass.Output(o), relation, label);
        }
        for (const TPolygon& polygon : polygons) {
            // Parts beyond the four areas are not written anywhere.
            if (std::any_of(polygon.ring.begin(), polygon.ring.end(), [&](CGeoPoint p) {
                    return p.x < 0 || p.y < 0 || p.x > far.x || p.y > far.y;
                }))
                continue;
            std::vector<TSegment> whole;
            AddSegments(polygon.ring, whole);
            const double want = EvenOddArea(whole);
            double got = 0;
            for (uint32_t o = 0; o < pass.OutputCount(); ++o)
                got += EvenOddArea(Pieces(pass.Output(o), polygon));
            EXPECT_NEAR(got, want, want * 1e-6 + 1e6) << label << " polygon " << polygon.label;
            ++checked;
        }
    }
    EXPECT_GT(checked, 400);
}

}  // namespace
