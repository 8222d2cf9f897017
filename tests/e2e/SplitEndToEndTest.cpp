// Splits real extracts and made ones with the program itself, checks every
// output with independent readers (check.py), and checks how runs fail.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

namespace {

using test::CTempDir;

struct TRun {
    int exitCode = -1;
    std::string output;
    bool Holds(const std::string& text) const { return output.find(text) != std::string::npos; }
};

TRun RunCommand(const std::string& command)
{
    TRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const std::string kSplitter = SPLITTER_COMMAND;
const std::string kMonaco = test::DataFile("monaco.osm.pbf");
const std::string kLiechtenstein = test::DataFile("liechtenstein.osm.pbf");

TRun Split(const std::string& arguments) { return RunCommand(kSplitter + " " + arguments); }

TRun Check(const std::string& input, const std::string& dir, const std::string& checks)
{
    return RunCommand("/usr/bin/python3 " SPLITTER_TESTS_DIR "/e2e/check.py " + input + " " + dir + " " + checks);
}

// Replaces every "{}" in text by dir.
std::string In(const CTempDir& dir, std::string text)
{
    for (size_t at; (at = text.find("{}")) != std::string::npos;)
        text.replace(at, 2, dir.Path());
    return text;
}

// A .poly file titled after its name: sections "header:x,y x,y ..." in
// degrees, apart by "|" ("!" in a header marks a hole, which is an area too).
void WritePolyFile(const std::string& path, const std::string& sections)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::string text = std::filesystem::path(path).stem().string() + "\n";
    size_t begin = 0;
    for (size_t end = 0; end != std::string::npos; begin = end + 1) {
        end = sections.find('|', begin);
        const std::string section = sections.substr(begin, end - begin);
        const size_t colon = section.find(':');
        text += section.substr(0, colon) + "\n";
        std::string points = section.substr(colon + 1) + " ";
        for (size_t at = 0, next; (next = points.find(' ', at)) != std::string::npos; at = next + 1)
            if (next > at)
                text += "   " + points.substr(at, next - at).replace(points.find(',', at) - at, 1, "   ") + "\n";
        text += "END\n";
    }
    test::WriteFile(path, text + "END\n");
}

// Liechtenstein in two polygons: a rectangle, and north of it a concave U
// whose notch holds Vaduz.
void WriteLiechtensteinPolygons(const CTempDir& dir)
{
    WritePolyFile(dir / "polys/south.poly", "1:9.47,47.04 9.56,47.04 9.56,47.15 9.47,47.15 9.47,47.04");
    WritePolyFile(dir / "polys/north.poly",
                  "1:9.50,47.15 9.64,47.15 9.64,47.27 9.58,47.27 9.58,47.20 9.54,47.20 9.54,47.27 9.50,47.27");
}

// An extract from 175E to 175W: 120 columns x 50 nodes, a road along every
// row, a node on -180 degrees and a lake from 178.5E to 178.5W made of two
// ways.
std::string ExtractAcross180()
{
    std::vector<test::TTestNode> nodes;
    std::vector<test::TTestWay> ways;
    for (int j = 0; j < 50; ++j) {
        ways.push_back({j + 1, {}, {{"highway", "track"}}});
        for (int i = 0; i < 120; ++i) {
            const double lon = 175 + 10.0 * i / 119;
            nodes.push_back(test::NodeAt(int64_t(nodes.size()) + 1, lon >= 180 ? lon - 360 : lon, 10 + 0.5 * j));
            ways.back().refs.push_back(nodes.back().id);
        }
    }
    nodes.push_back(test::NodeAt(int64_t(nodes.size()) + 1, -180, 10));
    const int64_t lake = int64_t(nodes.size()) + 1;
    for (auto [lon, lat] : {std::pair{178.5, 41.0}, {-178.5, 41.0}, {-178.5, 40.0}, {178.5, 40.0}})
        nodes.push_back(test::NodeAt(int64_t(nodes.size()) + 1, lon, lat));
    ways.push_back({100, {lake, lake + 1, lake + 2}, {}});
    ways.push_back({101, {lake + 2, lake + 3, lake}, {}});
    return test::PbfInput(nodes, ways,
                          {{1, {{OSM::kWay, 100, "outer"}, {OSM::kWay, 101, "outer"}},
                            {{"type", "multipolygon"}, {"natural", "water"}}}});
}

// One split checked by check.py. input makes the input in the test's
// directory and returns its path; "{}" in options and checks stands for
// that directory.
struct TCase {
    std::string name;
    std::function<std::string(const CTempDir&)> input;
    std::string options;
    std::string checks;
    std::string printed = {};  // the program must print this
};

// A real extract, split into one area in {}whole first: its copies of the
// multipolygons differ from the input's only by the rounding of positions.
std::function<std::string(const CTempDir&)> Real(const std::string& file)
{
    return [file](const CTempDir& dir) {
        EXPECT_EQ(Split("--pbf -o=" + dir / "whole " + test::DataFile(file)).exitCode, 0);
        return test::DataFile(file);
    };
}

std::vector<TCase> Cases()
{
    const std::string checks = " --split --list --areas --uncut={}whole";
    std::vector<TCase> cases = {
        {"Real_MaltaPasses", Real("malta.osm.pbf"), "--pbf --max-areas=4 --max-nodes=30000",
         "--max-nodes=30000" + checks},
        {"Real_MonacoXml", Real("monaco.osm.pbf"), "--max-nodes=5000", "--max-nodes=5000 --split --list"},
        {"Real_Liechtenstein", Real("liechtenstein.osm.pbf"), "--max-nodes=10000", "--max-nodes=10000" + checks},
        {"Real_Testadmins", Real("testadmins.osm.pbf"), "--max-nodes=100", "--max-nodes=100" + checks},
        // Multipolygons around the corners of a grid stay valid and add up.
        {"Made_GridMultipolygons",
         [](const CTempDir& dir) {
             EXPECT_EQ(Check("--grid-cases", dir.Path(), "").exitCode, 0);
             return dir / "cases.osm.pbf";
         },
         "-s={}grid.list", "--max-nodes=1600000 --split --list --areas --by-name=0.0001"},
        // A plain bounding-box extract keeps ways whole but drops their nodes
        // outside the box.
        {"Made_BoxWithIncompleteWays",
         [](const CTempDir& dir) {
             EXPECT_EQ(RunCommand("osmium extract --no-progress -b 9.50,47.10,9.56,47.16 -s simple -o " +
                                  dir / "box.osm.pbf " + kLiechtenstein)
                           .exitCode,
                       0);
             return dir / "box.osm.pbf";
         },
         "--max-nodes=8000", "--max-nodes=8000 --split", " is missing"},
    };
    // Across 180 degrees, automatic and from split files in degrees (south,
    // west, north, east per area): tiles meeting at it, and one across it.
    const struct {
        const char* name;
        unsigned maxNodes;
        std::string splitFile;
    } antimeridian[] = {
        {"Across", 1000, ""},
        {"AcrossWhole", 1600000, ""},
        {"Meeting", 1600000, "1: 0,0 to 0,0\n# : 0,170 to 60,180\n\n2: 0,0 to 0,0\n# : 0,-180 to 60,-170\n"},
        {"AcrossFile", 1600000, "1: 0,0 to 0,0\n# : 0,165 to 60,175\n\n2: 0,0 to 0,0\n# : 0,175 to 60,-175\n\n"
                                "3: 0,0 to 0,0\n# : 0,-175 to 60,-165\n"}};
    for (const auto& c : antimeridian) {
        const std::string max = "--max-nodes=" + std::to_string(c.maxNodes);
        cases.push_back({std::string("Made_Antimeridian") + c.name,
                         [splitFile = c.splitFile](const CTempDir& dir) {
                             test::WriteFile(dir / "split.list", splitFile);
                             test::WriteFile(dir / "in.osm.pbf", ExtractAcross180());
                             return dir / "in.osm.pbf";
                         },
                         max + (c.splitFile.empty() ? "" : " -s={}split.list"), max + " --split --list --areas"});
    }
    // West has an exclave inside east and a hole of its own; the two overlap
    // in a band and run along the same parallel at 47.04. The second set
    // leaves a node in a sliver that rounded crossings open between areas.
    const std::vector<std::pair<std::string, std::string>> overlapping[] = {
        {{"west", "1:9.47,47.04 9.47,47.20 9.56,47.20 9.56,47.04|2:9.58,47.22 9.58,47.25 9.62,47.25 9.62,47.22|"
                  "!3:9.50,47.10 9.50,47.12 9.52,47.12 9.52,47.10"},
         {"east", "1:9.53,47.04 9.53,47.27 9.64,47.27 9.64,47.04"}},
        {{"f0", "1:9.5850352,47.046009 9.5904205,47.0511269 9.6113237,47.0621264 9.5730899,47.056922 "
                "9.583375,47.071573 9.5720935,47.0661382 9.565917,47.0734629 9.5584473,47.0804875 "
                "9.5534648,47.0837253 9.5319205,47.0871953 9.5399187,47.0615077 9.5359395,47.0628955 "
                "9.5221444,47.0608766 9.5002981,47.0683831 9.5075011,47.0574126 9.5233033,47.0477168 "
                "9.4913659,47.0432005 9.5165207,47.0403633 9.5255547,47.0365114 9.5015545,47.0212031 "
                "9.5177419,47.0197049 9.534414,47.0240593 9.5347474,47.0167716 9.5448932,47.022074 "
                "9.5517318,47.0219557 9.5565367,47.0020916 9.5692527,47.0149371 9.5695768,47.0209006 "
                "9.5838874,47.0150286 9.5755402,47.0286569 9.5814537,47.0323453 9.6096229,47.0322709 "
                "9.5980152,47.0415695|2:9.5660538,47.0423223 9.5433588,47.0558965 9.5178839,47.0453714 "
                "9.5207565,47.0374009 9.551667,47.0255136 9.5567973,47.0364553"},
         {"f1", "1:9.6480366,47.0725223 9.671318,47.0792371 9.6424842,47.0769699 9.6549664,47.0834764 "
                "9.6408686,47.0813016 9.6454495,47.0891286 9.6373656,47.0936148 9.6340661,47.0934379 "
                "9.6285334,47.0946985 9.6214436,47.1046922 9.6164794,47.0941427 9.6063782,47.1029675 "
                "9.6109824,47.0887566 9.5969351,47.0939131 9.5940956,47.0891576 9.592586,47.0837849 "
                "9.5763393,47.0840198 9.5776661,47.0798026 9.5751965,47.0731695 9.57437,47.0709924 "
                "9.5747944,47.0616101 9.5967984,47.0618762 9.602216,47.0615244 9.5871788,47.0480906 "
                "9.6022746,47.054808 9.6085204,47.0556776 9.6139577,47.0560851 9.6179505,47.0381332 "
                "9.6220691,47.04105 9.6293846,47.0462207 9.6351072,47.0441173 9.6362251,47.0536759 "
                "9.6460534,47.0489014 9.6425564,47.0586739 9.6623139,47.0534069 9.6602984,47.0611151 "
                "9.6542877,47.0638815 9.6444703,47.0688845|2:9.55,47.21 9.6,47.21 9.6,47.26 9.55,47.26"}},
    };
    for (const auto& files : overlapping) {
        cases.push_back({"Real_OverlappingPolygons" + std::to_string(&files - overlapping),
                         [files](const CTempDir& dir) {
                             for (const auto& [name, sections] : files)
                                 WritePolyFile(dir / "polys/" + name + ".poly", sections);
                             return kLiechtenstein;
                         },
                         "--pbf --max-nodes=20000 --process-outer -p={}polys", "--max-nodes=20000 --split"});
    }
    return cases;
}

void PrintTo(const TCase& c, std::ostream* out) { *out << c.name; }

class SplitChecked : public ::testing::TestWithParam<TCase> {};

TEST_P(SplitChecked, ByIndependentReaders)
{
    const TCase& c = GetParam();
    CTempDir dir;
    const std::string input = c.input(dir);
    TRun split = Split(In(dir, c.options) + " -o=" + dir / "out " + input);
    ASSERT_EQ(split.exitCode, 0) << split.output;
    EXPECT_TRUE(split.Holds(c.printed)) << split.output;
    TRun check = Check(input, dir / "out", In(dir, c.checks));
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

INSTANTIATE_TEST_SUITE_P(SplitEndToEnd, SplitChecked, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// areas.list loads back as a split file: the same areas, every node placed
// once. (The longest tests come first: ctest starts them in this order.)
TEST(SplitEndToEnd, SplitFileLoadsBack)
{
    // The degree lines survive a load and a write exactly; the coarser
    // integer lines are derived from them.
    auto degreeLines = [](const std::string& text) {
        std::string lines;
        for (size_t at = text.find("#       :"); at != std::string::npos; at = text.find("#       :", at + 1))
            lines += text.substr(at, text.find('\n', at) - at) + "\n";
        return lines;
    };
    for (auto [file, maxNodes] : {std::pair{"liechtenstein.osm.pbf", 3000}, {"testadmins.osm.pbf", 100}}) {
        CTempDir dir;
        const std::string input = test::DataFile(file), max = std::to_string(maxNodes);
        ASSERT_EQ(Split("--pbf --max-nodes=" + max + " -o=" + dir / "first " + input).exitCode, 0) << file;
        TRun again = Split("--pbf -s=" + dir / "first/areas.list -o=" + dir / "second " + input);
        ASSERT_EQ(again.exitCode, 0) << file << "\n" << again.output;
        // Nodes within a few map units of a cut may change sides, so a tile
        // may hold a few more.
        TRun check = Check(input, dir / "second", "--split --max-nodes=" + std::to_string(maxNodes + maxNodes / 500));
        EXPECT_EQ(check.exitCode, 0) << file << "\n" << check.output;
        const std::string expected = degreeLines(test::ReadFile(dir / "first/areas.list"));
        EXPECT_FALSE(expected.empty()) << file;
        EXPECT_EQ(degreeLines(test::ReadFile(dir / "second/areas.list")), expected) << file;
    }
}

// Polygons refined into areas that hold every node inside them, written once
// from several passes; areas.poly loads back into the same areas and tiles.
TEST(SplitEndToEnd, PolygonFilesLoadBack)
{
    CTempDir dir;
    WriteLiechtensteinPolygons(dir);
    const std::string options = "--pbf --max-areas=2 --max-nodes=20000 ";
    TRun split = Split(options + "-p=" + dir / "polys --write-kml=areas.kml -o=" + dir / "out/ " + kLiechtenstein);
    ASSERT_EQ(split.exitCode, 0) << split.output;
    TRun check = Check(kLiechtenstein, dir / "out", "--max-nodes=20000 --split --partial --poly=" + dir / "polys");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    ASSERT_EQ(Split(options + "-p=" + dir / "out/areas.poly -o=" + dir / "again/ " + kLiechtenstein).exitCode, 0);
    std::string first = test::ReadFile(dir / "out/areas.poly"), second = test::ReadFile(dir / "again/areas.poly");
    for (size_t at = second.find("\nAreas_"); at != std::string::npos; at = second.find("\nAreas_", at))
        second.erase(at + 1, 6);
    EXPECT_EQ(second, first);
    for (const auto& tile : std::filesystem::directory_iterator(dir / "out")) {
        const std::string name = tile.path().filename().string();
        if (name.ends_with(".osm.pbf")) {
            EXPECT_EQ(test::ReadFile(dir / "again/Areas_" + name), test::ReadFile(tile.path())) << name;
        }
    }
}

// The tiles do not depend on how many areas a pass takes, nor on the run:
// the program works in several threads.
TEST(SplitEndToEnd, SameTilesOnEveryRunAndForAnyMaxAreas)
{
    for (auto [options, variant] : {std::pair{"--max-nodes=5000", "--max-areas=1"},
                                    {"--pbf --max-nodes=5000", "--max-areas=3"}}) {
        CTempDir dir;
        TRun reference = Split(std::string(options) + " -o=" + dir / "all " + kMonaco);
        ASSERT_EQ(reference.exitCode, 0) << reference.output;
        TRun split = Split(std::string(options) + " " + variant + " -o=" + dir / "variant " + kMonaco);
        ASSERT_EQ(split.exitCode, 0) << split.output;
        TRun diff = RunCommand("diff -r " + dir / "all " + dir / "variant");
        EXPECT_EQ(diff.exitCode, 0) << options << " " << variant << "\n" << diff.output;
    }
}

// A split file of count small areas around the equator, every one named
// number; named by their index when number is 0.
std::string SplitFileOf(unsigned count, unsigned number = 0)
{
    std::string text;
    for (unsigned i = 0; i < count; ++i)
        text += std::to_string(number != 0 ? number : i + 1) + ": 0," + std::to_string(i * 10) + " to 10," +
                std::to_string(i * 10 + 10) + "\n";
    return text;
}

// Runs that fail, or refuse what would go wrong, under the usual limit of
// open files: the exit code, what they print (the file and the reason), and
// which files they leave.
TEST(SplitEndToEnd, FailuresSayWhyAndLeaveNoPartialOutput)
{
    CTempDir dir;
    std::filesystem::create_directories(dir / "polys");
    test::WriteFile(dir / "polys/a.poly", "none\n1\n7.40 43.72\n7.42 43.72\n7.42 43.76\n7.40 43.76\nEND\nEND\n");
    test::WriteFile(dir / "polys/b.poly", "none\n1\n7.42 43.72\n7.44 43.72\n7.44 43.76\n7.42 43.76\nEND\nEND\n");
    test::WriteFile(dir / "hostile.poly", "../../escaped\n1\n7.40 43.72\n7.44 43.72\n7.44 43.76\nEND\nEND\n");
    test::WriteFile(dir / "empty.list", "# nothing\n");
    test::WriteFile(dir / "one.list", SplitFileOf(1, 7));
    test::WriteFile(dir / "two.list", SplitFileOf(2));
    test::WriteFile(dir / "group.list", SplitFileOf(32769));
    test::WriteFile(dir / "many.list", SplitFileOf(1200));
    const std::string bytes = test::ReadFile(kMonaco);
    test::WriteFile(dir / "cut.pbf", bytes.substr(0, bytes.size() - 10));
    for (const char* blocked : {"two/2.osm", "d2/areas.list", "d3/relations.txt", "d4/areas.mp"})
        std::filesystem::create_directories(dir / blocked);
    std::filesystem::create_directories(dir / "full");
    std::filesystem::create_symlink("/dev/full", dir / "full/7.osm");

    const std::string one = "-s={}one.list -o={}bad/ ";
    struct TFailure {
        std::string arguments;  // "{}" is the directory
        int exitCode;
        std::vector<std::string> printed = {}, present = {}, absent = {};
    };
    std::vector<TFailure> cases = {
        {"--max-areas=1200 -s={}many.list -o={}many/ " + kMonaco, 0, {}, {"{}many/1.osm", "{}many/1200.osm"}},
        {"", 1, {"Usage: "}},
        {"--cfg= " + kMonaco, 1, {"Error loading config file."}},
        {one + "{}missing.pbf", 2, {"{}missing.pbf: No such file or directory\n", "\nBad input file.\n"}},
        // A damaged input is refused before anything is written.
        {one + "{}cut.pbf", 2, {"{}cut.pbf: the file ends inside the blob (blob at byte "}, {}, {"{}bad/7.osm"}},
        {"-s={}none.list " + kMonaco, 3, {"Error loading split-file."}},
        {"-s={}empty.list " + kMonaco, 3, {"No areas."}},
        // Two outputs of one name, and names that would leave the directory.
        {"--mc -p={}polys -o={}same/ " + kMonaco, 3, {"would both write {}same/none.osm.", "--out-filenames=filename"},
         {}, {"{}same/areas.mp"}},
        {"--mc --of=filename -p={}polys -o={}byfile/ " + kMonaco, 0, {}, {"{}byfile/a.osm", "{}byfile/b.osm"}},
        {"--wsc -p={}hostile.poly -o={}a/b/ " + kMonaco, 0, {},
         {"{}a/b/___.._escaped.osm", "{}a/b/___.._escaped.mp", "{}a/b/___.._escaped.poly"},
         {"{}escaped.osm", "{}escaped.mp", "{}escaped.poly"}},
        // A group of contours larger than a pass.
        {"--mc -s={}group.list -o={}group/ " + kMonaco, 4,
         {"The 32769 areas of \"group.list\" share one output file"}, {}, {"{}group/group.list.osm"}},
        // The second output of a pass cannot be created: the first one goes too.
        {"-s={}two.list -o={}two/ " + kMonaco, 4,
         {"Cannot create {}two/2.osm: Is a directory\nError creating output file."}, {}, {"{}two/1.osm"}},
        // Description files that cannot be created fail the run, after the tiles.
        {"--write-kml=nodir/a.kml -s={}one.list -o={}d1/ " + kMonaco, 5,
         {"Cannot create {}d1/nodir/a.kml: No such file or directory"}, {"{}d1/7.osm"}},
        {"-s={}one.list -o={}d2/ " + kMonaco, 5, {"Cannot create {}d2/areas.list: Is a directory"}, {"{}d2/7.osm"}},
        {"--admin-level=2 -s={}one.list -o={}d3/ " + kMonaco, 5, {"Cannot create {}d3/relations.txt: Is a directory"},
         {"{}d3/7.osm"}},
        {"-s={}one.list -o={}d4/ " + kMonaco, 5, {"Cannot create {}d4/areas.mp: Is a directory"}, {"{}d4/7.osm"}},
        // A tile on a full disk; only plain files are removed.
        {"-s={}one.list -o={}full/ " + kMonaco, 5,
         {"{}full/7.osm: No space left on device\nError writing output file.\n"}, {"{}full/7.osm"}},
    };
    // Beyond any 32-bit address space; a 64-bit build may well grant it, untouched.
    if (sizeof(void*) == 4)
        cases.push_back({"--reserve-nodes=4294967295 " + kMonaco, 5, {"Out of memory."}});
    for (const auto& c : cases) {
        const std::string arguments = In(dir, c.arguments);
        TRun run = RunCommand("ulimit -n 1024 && " + kSplitter + " " + arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << arguments << "\n" << run.output;
        for (const std::string& text : c.printed)
            EXPECT_TRUE(run.Holds(In(dir, text))) << arguments << "\n" << run.output;
        for (const std::string& file : c.present)
            EXPECT_TRUE(test::FileExists(In(dir, file))) << arguments << ": " << file;
        for (const std::string& file : c.absent)
            EXPECT_FALSE(test::FileExists(In(dir, file))) << arguments << ": " << file;
    }
}

TEST(SplitEndToEnd, SameBytesAsTheOtherBuild)
{
    const std::string reference = SPLITTER_REFERENCE;
    if (reference.empty())
        GTEST_SKIP() << "no other build given (SPLITTER_REFERENCE)";
    CTempDir dir;
    WriteLiechtensteinPolygons(dir);
    for (const std::string& arguments :
         {"--max-nodes=5000 --write-kml=areas.kml " + kMonaco, "--pbf --max-nodes=5000 --max-areas=3 " + kMonaco,
          "--pbf --max-nodes=20000 -p=" + dir / "polys " + kLiechtenstein}) {
        RunCommand("rm -rf " + dir / "ours " + dir / "theirs");
        TRun split = Split("-o=" + dir / "ours " + arguments);
        ASSERT_EQ(split.exitCode, 0) << split.output;
        TRun other = RunCommand(reference + " -o=" + dir / "theirs " + arguments);
        ASSERT_EQ(other.exitCode, 0) << other.output;
        EXPECT_EQ(split.output, other.output) << arguments;
        TRun diff = RunCommand("diff -r " + dir / "ours " + dir / "theirs");
        EXPECT_EQ(diff.exitCode, 0) << arguments << "\n" << diff.output;
        EXPECT_TRUE(test::FileExists(dir / "ours/areas.mp")) << arguments;
    }
    EXPECT_EQ(Check(kLiechtenstein, dir / "ours", "").exitCode, 0);
}

// The earlier area keeps the common part, even when every contact of the two
// lies on their boundaries.
TEST(SplitEndToEnd, OverlappingPolygonsOnTheSameMeridiansAreTrimmed)
{
    CTempDir dir;
    WritePolyFile(dir / "areas.poly", "a:7,43 7,44 8,44 8,43|b:7,43.5 7,44.5 8,44.5 8,43.5");
    TRun split = Split("--max-nodes=0 -p=" + dir / "areas.poly -o=" + dir / "out/ " + kMonaco);
    ASSERT_EQ(split.exitCode, 0) << split.output;
    EXPECT_TRUE(split.Holds("Area \"areas_a\" intersects with \"areas_b\"")) << split.output;
    const std::string areas = test::ReadFile(dir / "out/areas.poly");
    size_t b = areas.find("areas_b");
    ASSERT_NE(b, std::string::npos) << areas;
    EXPECT_EQ(areas.find("43.5000000", b), std::string::npos) << areas;  // b lost its southern half
}

TEST(SplitEndToEnd, JobsOfAreaRangesGiveTheFilesOfOneRun)
{
    CTempDir dir;
    const std::string options = " --max-nodes=5000 --pbf --write-kml=areas.kml ";
    TRun whole = Split(options + "-o=" + dir / "whole " + kLiechtenstein);
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "whole"))
        count += entry.path().string().ends_with(".osm.pbf");
    ASSERT_GT(count, 20);
    // Five jobs of uneven ranges, two at a time, into one fresh directory.
    auto range = [](int from, int to) { return " " + std::to_string(from) + "-" + std::to_string(to); };
    const std::string ranges = range(0, 0) + range(1, count / 3) + range(count / 3 + 1, count / 3 + 2) +
                               range(count / 3 + 3, count - 2) + range(count - 1, count - 1);
    TRun jobs = RunCommand("parallel --will-cite -j2 --halt now,fail=1 " + kSplitter + options + "-o=" + dir / "jobs" +
                           " --ar={} " + kLiechtenstein + " :::" + ranges);
    ASSERT_EQ(jobs.exitCode, 0) << jobs.output;
    TRun diff = RunCommand("diff -r " + dir / "whole " + dir / "jobs");
    EXPECT_EQ(diff.exitCode, 0) << diff.output;

    // A range beyond the list, and one that splits the group of areas that
    // share one file, are bad option values.
    const std::string last = std::to_string(count - 1);
    for (const std::string& bad :
         {"--ar=0-" + std::to_string(count), "--mc -s=" + dir / "whole/areas.list --ar=1-" + last}) {
        TRun run = Split(bad + " -o=" + dir / "bad " + kLiechtenstein);
        EXPECT_EQ(run.exitCode, 1) << bad << "\n" << run.output;
        EXPECT_TRUE(run.Holds("Bad \"ar\" value.")) << run.output;
        EXPECT_FALSE(test::FileExists(dir / "bad/areas.mp")) << bad;
    }
    // The helpers in contrib/: ranges from a written areas.list, and the
    // Slurm script parses.
    const std::string contrib = SPLITTER_TESTS_DIR "/../contrib/";
    EXPECT_EQ(RunCommand(contrib + "splitter-ranges " + dir / "whole/areas.list " + last + " 1").output,
              "1-" + last + "\n");
    EXPECT_EQ(RunCommand("bash -n " + contrib + "splitter-array.sbatch").exitCode, 0);
}

TEST(SplitEndToEnd, PackageInstallsTheProgramAndItsManualPage)
{
    if (sizeof(void*) != 8 || kSplitter.find(' ') != std::string::npos)
        GTEST_SKIP() << "the package of the native x86-64 build";
    CTempDir dir;
    TRun pack = RunCommand("cd " SPLITTER_BUILD_DIR " && cpack -G DEB -B " + dir / "deb");
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    const std::string deb = dir / "deb/splitter64_*_amd64.deb";
    ASSERT_EQ(RunCommand("dpkg-deb -x " + deb + " " + dir / "root").exitCode, 0);
    EXPECT_TRUE(RunCommand("dpkg-deb -f " + deb + " Depends").Holds("libprotobuf-lite32"));
    TRun run = RunCommand(dir / "root/usr/bin/splitter64 --max-nodes=10000 -o=" + dir / "out " + kMonaco);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(test::FileExists(dir / "out/000000.osm"));
    const std::string page = dir / "root/usr/share/man/man1/splitter64.1";
    TRun man = RunCommand("MANWIDTH=80 man -l " + page + " >/dev/null && groff -ww -man -z " + page);
    EXPECT_EQ(man.exitCode, 0) << man.output;
    EXPECT_EQ(man.output, "");
}

}  // namespace
