#include <gtest/gtest.h>
#include <random>
#include <cmath>
#include "splitter/AreaGeometry.h"
#include "tests/splitter/clip/PassHarness.h"
using namespace test;
namespace {
double Area(const std::vector<CGeoPoint>& s) {
    double a = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) a += double(s[i].x) * s[i+1].y - double(s[i+1].x) * s[i].y;
    return a / 2;
}
double ChainArea(const CRecordingWriter& out, std::vector<std::vector<int64_t>> open) {
    double got = 0;
                    while (!open.empty()) {
                        auto chain = open.back(); open.pop_back();
                        for (bool grew = true; grew && chain.front() != chain.back();) {
                            grew = false;
                            for (size_t k = 0; k < open.size() && !grew; ++k) {
                                auto& w = open[k];
                                if (w.back() == chain.back() || w.front() == chain.front()) std::reverse(w.begin(), w.end());
                                if (w.front() == chain.back()) { chain.insert(chain.end(), w.begin() + 1, w.end()); grew = true; }
                                else if (w.back() == chain.front()) { chain.insert(chain.begin(), w.begin(), w.end() - 1); grew = true; }
                                if (grew) open.erase(open.begin() + k);
                            }
                        }
                        EXPECT_EQ(chain.front(), chain.back()) << "open chain";
                        OSM::TWay tmp; for (auto x : chain) tmp.nodeRefs.PushBack(x);
                        got += std::fabs(Area(Shape(out, tmp)));
                    }
    return got;
}
TEST(Explore, RandomStars) {
    int seeds = getenv("SEEDS") ? atoi(getenv("SEEDS")) : 200;
    double snap = getenv("SNAP") ? atof(getenv("SNAP")) : 16;
    int failures = 0;
    for (int seed = 0; seed < seeds && failures < 5; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0, 1);
        std::vector<TRing> rings = {DegreeRect(0,0,1,1), DegreeRect(1,0,2,1), DegreeRect(0,1,1,2), DegreeRect(1,1,2,2)};
        CPassHarness pass(rings);
        std::vector<TTestNode> nodes; std::vector<TTestWay> ways; std::vector<TTestRelation> rels;
        int64_t nid = 1, wid = 1;
        std::vector<std::vector<CGeoPoint>> shapes;
        std::vector<int> kinds;
        int nshapes = 1 + rng() % 4;
        for (int s = 0; s < nshapes; ++s) {
            double cx = 0.3 + 1.4 * u(rng), cy = 0.3 + 1.4 * u(rng);
            int n = 3 + rng() % 10;
            std::vector<int64_t> refs;
            std::vector<CGeoPoint> shape;
            double r0 = 0.1 + 0.9 * u(rng);
            for (int k = 0; k < n; ++k) {
                double ang = -2 * M_PI * (k + 0.8 * u(rng)) / n;  // clockwise
                double r = r0 * (0.3 + 0.7 * u(rng));
                double x = std::round((cx + r * std::cos(ang)) * snap) / snap;
                double y = std::round((cy + r * std::sin(ang)) * snap) / snap;
                if (!shape.empty() && shape.back() == PointAt(x, y)) continue;
                nodes.push_back(NodeAt(nid, x, y));
                refs.push_back(nid++);
                shape.push_back(PointAt(x, y));
            }
            if (refs.size() < 3) continue;
            if (rng() % 2) { std::reverse(refs.begin(), refs.end()); std::reverse(shape.begin(), shape.end()); }
            refs.push_back(refs[0]); shape.push_back(shape[0]);
            int kind = rng() % 2;  // 0 building, 1 multipolygon
            if (kind == 0) ways.push_back({wid, refs, {{"building", std::to_string(wid)}}});
            else {
                // split into up to 3 ways
                size_t a = 1 + rng() % (refs.size() - 2);
                ways.push_back({wid, std::vector<int64_t>(refs.begin(), refs.begin() + a + 1), {{"part", std::to_string(wid)}}});
                ways.push_back({wid + 1000, std::vector<int64_t>(refs.begin() + a, refs.end()), {{"part", std::to_string(wid)}}});
                rels.push_back({wid, {{OSM::kWay, wid, "outer"}, {OSM::kWay, wid + 1000, "outer"}}, {{"type", "multipolygon"}, {"lake", std::to_string(wid)}}});
            }
            shapes.push_back(shape); kinds.push_back(kind);
            ++wid;
        }
        std::sort(ways.begin(), ways.end(), [](auto& a, auto& b){return a.id < b.id;});
        TPassResult r = pass.Run(PbfInput(nodes, ways, rels));
        bool bad = false;
        for (uint32_t o = 0; o < 4; ++o) {
            const CRecordingWriter& out = pass.Output(o);
            ::testing::Test::RecordProperty("x", 1);
            int before = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
            ExpectSelfContained(out, "seed " + std::to_string(seed) + " out " + std::to_string(o));
            for (const OSM::TRelation& rel : out.relations) ExpectClosedRings(out, rel, "seed " + std::to_string(seed) + " out " + std::to_string(o));
            int after = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
            if (after != before) bad = true;
        }
        // area conservation for buildings/mp
        for (size_t s = 0; s < shapes.size(); ++s) {
            double want = std::fabs(Area(shapes[s]));
            double got = 0;
            int64_t id = s + 1;
            for (uint32_t o = 0; o < 4; ++o) {
                const CRecordingWriter& out = pass.Output(o);
                if (kinds[s] == 0) {
                    std::vector<std::vector<int64_t>> open;
                    for (const OSM::TWay& w : out.ways) {
                        const std::string* b = w.FindTag("building");
                        if (b && *b == std::to_string(id)) open.push_back(Refs(w));
                    }
                    for (const OSM::TRelation& rel : out.relations) { const std::string* rb = rel.FindTag("building"); if (rb && *rb == std::to_string(id)) for (auto& m : rel.members) if (const OSM::TWay* w = out.Way(m.ref)) open.push_back(Refs(*w)); }
                    got += ChainArea(out, open);
                } else {
                    const OSM::TRelation* rel = out.Relation(id);
                    if (!rel) continue;
                    std::vector<std::vector<int64_t>> open;
                    for (auto& m : rel->members) { const OSM::TWay* w = out.Way(m.ref); if (w) open.push_back(Refs(*w)); }
                    got += ChainArea(out, open);
                }
            }
            // only compare when the shape lies within [0,2]^2
            bool inside = true;
            for (auto p : shapes[s]) if (p.x < 0 || p.y < 0 || p.x > PointAt(2,2).x || p.y > PointAt(2,2).y) inside = false;
            if (inside && getenv("DUMP") && std::fabs(got-want) > want*1e-6+1e6) {
                printf("seed %d shape %zu want %g got %g\n", seed, s, want, got);
                for (auto p : shapes[s]) printf("  (%.6f, %.6f)\n", MapUnits::ToDegrees(p.x), MapUnits::ToDegrees(p.y));
                for (uint32_t o = 0; o < 4; ++o) { const CRecordingWriter& out = pass.Output(o);
                  for (const OSM::TWay& w : out.ways) { printf(" out %u way %lld tags %s area %g:", o, (long long)w.id, TagText(w).c_str(), Area(Shape(out,w)));
                    for (auto p : Shape(out, w)) printf(" (%.4f,%.4f)", MapUnits::ToDegrees(p.x), MapUnits::ToDegrees(p.y)); printf("\n"); }
                  for (auto& rel : out.relations) printf(" out %u rel %lld %s %s\n", o, (long long)rel.id, TagText(rel).c_str(), MemberText(rel).c_str()); }
            }
            if (inside) { EXPECT_NEAR(got, want, want * 1e-6 + 1e6) << "seed " << seed << " shape " << s << " kind " << kinds[s]; if (std::fabs(got-want) > want*1e-6+1e6) bad = true; }
        }
        if (bad) ++failures;
    }
}
}
