// relations.txt: the administrative boundaries of the configured level,
// each listed once in a run, whatever the number of passes and areas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "splitter/Driver.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

TEST(BoundaryRelations, EachBoundaryIsListedOnceAcrossAreasAndPasses)
{
    auto relation = [](int64_t id, std::vector<int64_t> nodes, const char* type, const char* level) {
        TTestRelation r{id, {}, {{"type", type}, {"boundary", "administrative"}, {"admin_level", level}}};
        for (int64_t node : nodes)
            r.members.push_back({OSM::kNode, node, ""});
        return r;
    };
    std::vector<TTestRelation> relations = {
        relation(-5, {1, 2, 3}, "BOUNDARY", "4"), relation(7, {3, 1}, "boundary", " 4"),
        relation(8, {1, 2}, "boundary", "2"), relation(9, {2, 3}, "multipolygon", "4"),
        relation(10, {3}, "boundary", "4")};
    relations[0].tags[1].second = "ADMINISTRATIVE";
    relations[1].tags.insert(relations[1].tags.end(), {{"name", "Heimat"}, {"name:en", "Homeland"}});
    CTempDir dir;
    WriteFile(dir / "in.osm.pbf",
              PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5), NodeAt(3, 2.5, 0.5)}, {}, relations));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}, {2, 0, 3, 1}});
    // Two passes: areas 1 and 2, then area 3.
    const std::string splitFile = "--split-file=" + (dir / "areas.list"), output = "--output-dir=" + (dir / "out");
    const std::string input = dir / "in.osm.pbf";
    const char* arguments[] = {"--admin-level=4", "--max-areas=2", splitFile.c_str(), output.c_str(), input.c_str()};
    int code = -1;
    const std::string printed = CaptureStdout([&] { code = RunSplitter(arguments, 5); });
    ASSERT_EQ(code, kExitDone) << printed;
    EXPECT_EQ(ReadFile(dir / "out/relations.txt"), "-5 > 5.poly\r\n7 > Homeland.poly\r\n10 > 10.poly\r\n");
    EXPECT_NE(printed.find("7 > Homeland.poly\n"), std::string::npos) << printed;
    EXPECT_TRUE(FileExists(dir / "out/3.osm"));
}

}  // namespace
