// What a whole run prints about the input: each missing member once, however
// many tiles and passes meet it; the nodes that no area holds; a progress
// line per pass on standard error, asked for (it is no terminal here).
#include "splitter/Driver.h"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

using namespace test;

// Runs the program on arguments; returns what it printed, and its exit code.
std::string RunWith(const std::vector<std::string>& arguments, int& code)
{
    std::vector<const char*> pointers;
    for (const std::string& a : arguments)
        pointers.push_back(a.c_str());
    return CaptureStdout([&] { code = RunSplitter(pointers.data(), int(pointers.size())); });
}

// A multipolygon across three tiles, each in a pass of its own, lacking 25
// member ways; a way lacking a node.
TEST(Driver, EachMissingMemberIsReportedOncePerRunAndProgressShownOnRequest)
{
    CTempDir dir;
    std::string relation = "r1 w1:outer";
    for (int w = 1001; w <= 1025; ++w)
        relation += " w" + std::to_string(w) + ":outer";
    WriteFile(dir / "in.osm.pbf", PbfInput(ParseInput("n1 0.5 0.5; n2 1.5 0.5; n3 2.5 0.5; w1 1 2 3 1;"
                                                      "w2 1 999 3 highway=x;" + relation + " type=multipolygon")));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}, {2, 0, 3, 1}});
    const struct {
        const char* verbose;
        size_t listed;
        const char* summary;
        bool progress;
    } cases[] = {{"-v=0", 20, "\u2026 and 6 more members missing from the input; -v lists them all\n", false},
                 {"-v=1", 26, nullptr, true}};
    for (const auto& c : cases) {
        int code = -1;
        testing::internal::CaptureStderr();
        const std::string printed = RunWith({"-ma=1", "-s=" + (dir / "areas.list"), "-o=" + (dir / "out"), c.verbose,
                                             c.progress ? "--progress" : "--progress=0", dir / "in.osm.pbf"}, code);
        const std::string shown = testing::internal::GetCapturedStderr();
        ASSERT_EQ(code, kExitDone) << printed;
        EXPECT_EQ(!shown.empty(), c.progress) << shown;
        for (const char* line :
             {"\rFinding the ways that cross borders: ", "\rAreas 0 - 0 of 3: ", "\rAreas 2 - 2 of 3: ", "% of the input"})
            EXPECT_EQ(shown.find(line) != std::string::npos, c.progress) << shown;
        std::istringstream lines(printed);
        std::multiset<std::string> missing;
        for (std::string line; std::getline(lines, line);)
            if (line.ends_with(" is missing"))
                missing.insert(line);
        EXPECT_EQ(missing.size(), c.listed) << c.verbose << printed;
        EXPECT_EQ(std::set<std::string>(missing.begin(), missing.end()).size(), missing.size()) << printed;
        EXPECT_EQ(missing.count("Node 999 is missing"), 1u) << printed;
        EXPECT_EQ(c.summary != nullptr && printed.find(c.summary) != std::string::npos, c.summary != nullptr)
            << printed;
    }
}

// A way from the first area to the second across the third, with no node
// there: the first pass finds it as it reads, and the second cuts it.
TEST(Driver, AWayTheFirstPassFindsReachesTheNext)
{
    CTempDir dir;
    WriteFile(dir / "in.osm.pbf", PbfInput(ParseInput("n1 0.5 0.5; n2 2.5 0.5; w1 1 2 highway=x")));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {2, 0, 3, 1}, {1, 0, 2, 1}});
    int code = -1;
    const std::string printed =
        RunWith({"-ma=2", "-s=" + (dir / "areas.list"), "-o=" + (dir / "out"), dir / "in.osm.pbf"}, code);
    ASSERT_EQ(code, kExitDone) << printed;
    EXPECT_NE(ReadFile(dir / "out/3.osm").find("<way"), std::string::npos) << printed;
}

// Nodes in a gap between the areas of a split file, outside polygons or in
// their holes, and on the far edges of the set once the split file loses
// its degree lines.
TEST(Driver, NodesOutsideEveryAreaAreCounted)
{
    CTempDir dir;
    WriteFile(dir / "in.osm.pbf", PbfInput(ParseInput("n1 0.5 0.5; n2 1.5 0.5; n3 2.5 0.5; n4 2.9999999 0.9999999;"
                                                      "n5 0.0000001 0.0000001")));
    WriteSplitFile(dir / "gap.list", {{0, 0, 1, 1}, {2, 0, 3, 1}});
    WriteFile(dir / "a.poly", "a\n1\n0 0\n1 0\n1 1\n0 1\nEND\nEND\n");
    WriteFile(dir / "holed.poly", "h\n1\n-1 -1\n4 -1\n4 2\n-1 2\nEND\n!2\n1.4 0.4\n1.6 0.4\n1.6 0.6\n1.4 0.6\nEND\n");
    const std::string input = dir / "in.osm.pbf", out = "-o=" + (dir / "out");
    int code = -1;
    RunWith({"--max-nodes=2", out, input}, code);
    ASSERT_EQ(code, kExitDone);
    std::string integers = ReadFile(dir / "out/areas.list");
    for (size_t at; (at = integers.find("#       :")) != std::string::npos;)
        integers.erase(at, integers.find('\n', at) + 1 - at);
    WriteFile(dir / "integers.list", integers);
    const struct {
        std::vector<std::string> arguments;
        const char* printed;  // or nullptr for no line on nodes outside
    } cases[] = {
        {{"-s=" + (dir / "gap.list"), "-v"}, "1 input node lies outside every area: in no tile.\n"
                                               "The first of them: 2\n"},
        {{"-p=" + (dir / "a.poly")}, "3 input nodes lie outside the polygons: left out, as --process-outer is off"},
        {{"-p=" + (dir / "a.poly"), "-po"}, nullptr},
        {{"-p=" + (dir / "holed.poly"), "-v"},
         "1 input node lies outside the polygons: left out, as --process-outer is off.\nThe first of them: 2\n"},
        {{"-s=" + (dir / "integers.list")}, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {out, input});
        const std::string printed = RunWith(arguments, code);
        ASSERT_EQ(code, kExitDone) << printed;
        EXPECT_EQ(printed.find(c.printed ? c.printed : " outside ") != std::string::npos, c.printed != nullptr)
            << arguments[0] << printed;
    }
}

}  // namespace
