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

struct TRun {
    int code = -1;
    std::string printed;
};

TRun Split(std::vector<std::string> arguments)
{
    std::vector<const char*> pointers;
    for (const std::string& a : arguments)
        pointers.push_back(a.c_str());
    TRun run;
    run.printed = CaptureStdout([&] { run.code = RunSplitter(pointers.data(), int(pointers.size())); });
    return run;
}

TEST(BoundaryRelations, RealBoundariesOfTheChosenLevelAreListedWithCrLf)
{
    const struct {
        const char* level;
        const char* expected;
    } cases[] = {{"4", "62422 > Berlin.poly\r\n"}, {"6", "62428 > Munich.poly\r\n"}, {"2", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("admin level ") + c.level);
        CTempDir dir;
        TRun run = Split({std::string("--admin-level=") + c.level, "--output-dir=" + dir.Path(),
                          DataFile("testadmins.osm.pbf")});
        ASSERT_EQ(run.code, kExitDone) << run.printed;
        EXPECT_EQ(ReadFile(dir / "relations.txt"), c.expected);
        std::string line = c.expected;
        if (!line.empty()) {
            line.replace(line.size() - 2, 2, "\n");
            EXPECT_NE(run.printed.find(line), std::string::npos) << run.printed;
        }
    }
}

TEST(BoundaryRelations, EachBoundaryIsListedOnceAcrossAreasAndPasses)
{
    CTempDir dir;
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5), NodeAt(3, 2.5, 0.5)};
    auto members = [](std::vector<int64_t> ids) {
        std::vector<TTestMember> list;
        for (int64_t id : ids)
            list.push_back({OSM::kNode, id, ""});
        return list;
    };
    const std::vector<TTestRelation> relations = {
        {-5, members({1, 2, 3}), {{"type", "BOUNDARY"}, {"boundary", "ADMINISTRATIVE"}, {"admin_level", "4"}}},
        {7, members({3, 1}),
         {{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", " 4"}, {"name", "Heimat"},
          {"name:en", "Homeland"}}},
        {8, members({1, 2}), {{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", "2"}}},
        {9, members({2, 3}), {{"type", "multipolygon"}, {"boundary", "administrative"}, {"admin_level", "4"}}},
        {10, members({3}), {{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", "4"}}}};
    WriteFile(dir / "in.osm.pbf", PbfInput(nodes, {}, relations));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}, {2, 0, 3, 1}});

    // Two passes: areas 1 and 2, then area 3.
    TRun run = Split({"--admin-level=4", "--max-areas=2", "--split-file=" + (dir / "areas.list"),
                      "--output-dir=" + (dir / "out"), dir / "in.osm.pbf"});
    ASSERT_EQ(run.code, kExitDone) << run.printed;
    EXPECT_EQ(ReadFile(dir / "out/relations.txt"), "-5 > 5.poly\r\n7 > Homeland.poly\r\n10 > 10.poly\r\n");
    EXPECT_TRUE(FileExists(dir / "out/3.osm"));
}

}  // namespace
