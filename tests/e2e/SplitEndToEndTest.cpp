// Splits the real extracts with the program itself and checks every output
// with an independent reader.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

struct TRun {
    int exitCode;
    std::string output;
};

TRun RunCommand(const std::string& command)
{
    TRun run{-1, {}};
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Splitter() { return SPLITTER_COMMAND; }

// Runs one of the Python check scripts beside this file on arguments.
TRun RunCheck(const std::string& script, const std::string& arguments)
{
    return RunCommand(std::string("/usr/bin/python3 ") + SPLITTER_TESTS_DIR + "/e2e/" + script + " " + arguments);
}

// Every OSM file in dir is read whole by outside readers: the XML ones are
// well-formed, and every file holds no error and is sorted by type and id.
void ExpectReadableOutputs(const std::string& dir)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string path = entry.path().string();
        const bool pbf = path.ends_with(".osm.pbf");
        if (!pbf && !path.ends_with(".osm"))
            continue;
        ++files;
        if (!pbf) {
            TRun lint = RunCommand("xmllint --noout '" + path + "'");
            EXPECT_EQ(lint.exitCode, 0) << path << "\n" << lint.output;
        }
        TRun info = RunCommand("osmium fileinfo -e '" + path + "'");
        EXPECT_EQ(info.exitCode, 0) << path << "\n" << info.output;
        EXPECT_NE(info.output.find("Objects ordered (by type and id): yes"), std::string::npos) << path;
    }
    EXPECT_GT(files, 0) << dir;
}

// Splits file with options into a fresh directory and checks the outputs.
void SplitAndCheck(const std::string& file, const std::string& options, unsigned maxNodes, bool relations = true)
{
    test::CTempDir dir;
    TRun split = RunCommand(Splitter() + " " + options + " --max-nodes=" + std::to_string(maxNodes) +
                     " --output-dir=" + dir.Path() + " " + test::DataFile(file));
    ASSERT_EQ(split.exitCode, 0) << split.output;
    ExpectReadableOutputs(dir.Path());
    TRun check = RunCheck("check_split.py", test::DataFile(file) + " " + dir.Path() + " " +
                                                std::to_string(maxNodes) + (relations ? " --relations" : ""));
    EXPECT_EQ(check.exitCode, 0) << file << " " << options << "\n" << check.output;
}

TEST(SplitEndToEnd, MonacoInManyAreasAndPasses)
{
    SplitAndCheck("monaco.osm.pbf", "", 5000);
    SplitAndCheck("monaco.osm.pbf", "--pbf --max-areas=3", 5000);
}

TEST(SplitEndToEnd, LiechtensteinAndMalta)
{
    SplitAndCheck("liechtenstein.osm.pbf", "--pbf", 50000);
    SplitAndCheck("malta.osm.pbf", "--pbf --max-areas=4", 100000);
    SplitAndCheck("testadmins.osm.pbf", "", 100);
}

TEST(SplitEndToEnd, AutomaticAreasHoldEveryNodeOnce)
{
    for (const char* file : {"monaco.osm.pbf", "liechtenstein.osm.pbf", "malta.osm.pbf", "testadmins.osm.pbf"}) {
        for (unsigned maxNodes : {5000u, 20000u, 100000u, 1600000u}) {
            test::CTempDir dir;
            const std::string limit = maxNodes == 1600000u ? "" : " --max-nodes=" + std::to_string(maxNodes);
            TRun split = RunCommand(Splitter() + " --pbf" + limit + " --output-dir=" + dir.Path() + " " +
                                    test::DataFile(file));
            ASSERT_EQ(split.exitCode, 0) << split.output;
            ExpectReadableOutputs(dir.Path());
            TRun check = RunCheck("check_split_file.py",
                                  test::DataFile(file) + " " + dir / "areas.list " + std::to_string(maxNodes));
            EXPECT_EQ(check.exitCode, 0) << file << limit << "\n" << check.output;
        }
    }
}

TEST(SplitEndToEnd, CutPolygonsStayValidAreas)
{
    for (const auto& [file, options] : {std::pair{"liechtenstein.osm.pbf", "--max-nodes=10000"},
                                        std::pair{"malta.osm.pbf", "--max-nodes=30000 --pbf"}}) {
        // One area holds the whole extract: its copy differs from the input
        // only by the rounding of positions.
        test::CTempDir dir;
        TRun whole = RunCommand(Splitter() + " --pbf --output-dir=" + dir / "whole " + test::DataFile(file));
        ASSERT_EQ(whole.exitCode, 0) << whole.output;
        TRun split =
            RunCommand(Splitter() + " " + options + " --output-dir=" + dir / "tiles " + test::DataFile(file));
        ASSERT_EQ(split.exitCode, 0) << split.output;
        ExpectReadableOutputs(dir / "tiles");
        TRun check = RunCheck("check_areas.py", test::DataFile(file) + " " + dir / "tiles --uncut=" + dir / "whole");
        EXPECT_EQ(check.exitCode, 0) << file << "\n" << check.output;
    }
}

TEST(SplitEndToEnd, MultipolygonsCutByAGridStayValidAndAddUp)
{
    test::CTempDir dir;
    TRun cases = RunCheck("grid_cases.py", dir.Path());
    ASSERT_EQ(cases.exitCode, 0) << cases.output;
    TRun convert = RunCommand("osmium cat -O " + dir / "cases.osm -o " + dir / "cases.osm.pbf");
    ASSERT_EQ(convert.exitCode, 0) << convert.output;
    TRun split = RunCommand(Splitter() + " -s=" + dir / "grid.list --output-dir=" + dir / "tiles " +
                            dir / "cases.osm.pbf");
    ASSERT_EQ(split.exitCode, 0) << split.output;
    TRun check = RunCheck("check_areas.py", dir / "cases.osm.pbf " + dir / "tiles --by-name=0.0001");
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST(SplitEndToEnd, SameOutputOnEveryRun)
{
    test::CTempDir a, b;
    for (const test::CTempDir* dir : {&a, &b}) {
        TRun split = RunCommand(Splitter() + " --pbf --max-nodes=4000 --output-dir=" + dir->Path() + " " +
                         test::DataFile("monaco.osm.pbf"));
        ASSERT_EQ(split.exitCode, 0) << split.output;
    }
    ExpectReadableOutputs(a.Path());
    TRun diff = RunCommand("diff -r " + a.Path() + " " + b.Path());
    EXPECT_EQ(diff.exitCode, 0) << diff.output;
}

TEST(SplitEndToEnd, ExtractCutByABoxKeepsItsIncompleteWays)
{
    // A plain bounding-box extract keeps ways whole but drops their nodes
    // outside the box.
    test::CTempDir dir;
    TRun extract = RunCommand("osmium extract --no-progress -b 9.50,47.10,9.56,47.16 -s simple -o " +
                              dir / "box.osm.pbf " + test::DataFile("liechtenstein.osm.pbf"));
    ASSERT_EQ(extract.exitCode, 0) << extract.output;
    TRun split = RunCommand(Splitter() + " --max-nodes=8000 --output-dir=" + dir / "out " + dir / "box.osm.pbf");
    ASSERT_EQ(split.exitCode, 0) << split.output;
    EXPECT_NE(split.output.find(" is missing"), std::string::npos) << split.output;
    TRun check = RunCheck("check_split.py", dir / "box.osm.pbf " + dir / "out 8000 --relations");
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST(SplitEndToEnd, TilesDoNotDependOnMaxAreas)
{
    struct TCase {
        const char* file;
        std::string options;
        std::vector<std::string> maxAreas;
    };
    const std::vector<TCase> cases = {{"monaco.osm.pbf", "--max-nodes=2000", {"1", "3"}},
                                      {"monaco.osm.pbf", "--pbf --max-nodes=2000", {"1", "3"}},
                                      {"liechtenstein.osm.pbf", "--max-nodes=10000", {"5"}}};
    for (const TCase& c : cases) {
        test::CTempDir dir;
        const std::string input = test::DataFile(c.file);
        TRun reference = RunCommand(Splitter() + " " + c.options + " --output-dir=" + dir / "all " + input);
        ASSERT_EQ(reference.exitCode, 0) << reference.output;
        for (const std::string& maxAreas : c.maxAreas) {
            const std::string out = dir / ("max" + maxAreas);
            TRun split = RunCommand(Splitter() + " " + c.options + " --max-areas=" + maxAreas +
                                    " --output-dir=" + out + " " + input);
            ASSERT_EQ(split.exitCode, 0) << split.output;
            TRun diff = RunCommand("diff -rq " + dir / "all " + out);
            EXPECT_EQ(diff.exitCode, 0) << c.file << " " << c.options << " --max-areas=" << maxAreas << "\n"
                                        << diff.output;
        }
    }
}

TEST(SplitEndToEnd, FailuresEndWithTheirExitCodes)
{
    test::CTempDir dir;
    EXPECT_EQ(RunCommand(Splitter()).exitCode, 1);
    EXPECT_EQ(RunCommand(Splitter() + " --ma=0 x.pbf").exitCode, 1);
    TRun missing = RunCommand(Splitter() + " " + dir / "missing.pbf");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.output.find("Bad input file."), std::string::npos);
    test::WriteFile(dir / "text.pbf", "this is not a pbf file");
    EXPECT_EQ(RunCommand(Splitter() + " " + dir / "text.pbf").exitCode, 2);
    TRun noSplit = RunCommand(Splitter() + " -s=" + dir / "none.list " + test::DataFile("monaco.osm.pbf"));
    EXPECT_EQ(noSplit.exitCode, 3);
    EXPECT_NE(noSplit.output.find("Error loading split-file."), std::string::npos);
    test::WriteFile(dir / "empty.list", "# nothing\n");
    TRun noAreas = RunCommand(Splitter() + " -s=" + dir / "empty.list " + test::DataFile("monaco.osm.pbf"));
    EXPECT_EQ(noAreas.exitCode, 3);
    EXPECT_NE(noAreas.output.find("No areas."), std::string::npos);
    // An output directory that cannot be created.
    TRun noDir = RunCommand(Splitter() + " -o=/proc/none/ " + test::DataFile("monaco.osm.pbf"));
    EXPECT_EQ(noDir.exitCode, 4);
    EXPECT_NE(noDir.output.find("Error creating output file."), std::string::npos);
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

bool Holds(const TRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

// Two outputs of one name, and names that would leave the output directory.
TEST(SplitEndToEnd, OutputNamesAreUniqueAndInsideTheOutputDirectory)
{
    test::CTempDir dir;
    const std::string monaco = test::DataFile("monaco.osm.pbf");
    // Two halves of monaco, both titled "none".
    std::filesystem::create_directory(dir / "polys");
    test::WriteFile(dir / "polys/a.poly", "none\n1\n7.40 43.72\n7.42 43.72\n7.42 43.76\n7.40 43.76\nEND\nEND\n");
    test::WriteFile(dir / "polys/b.poly", "none\n1\n7.42 43.72\n7.44 43.72\n7.44 43.76\n7.42 43.76\nEND\nEND\n");
    TRun same = RunCommand(Splitter() + " --mc -p=" + dir / "polys -o=" + dir / "same/ " + monaco);
    EXPECT_EQ(same.exitCode, 3) << same.output;
    EXPECT_TRUE(Holds(same, "would both write " + dir / "same/none.osm.")) << same.output;
    EXPECT_TRUE(Holds(same, "--out-filenames=filename")) << same.output;
    EXPECT_FALSE(test::FileExists(dir / "same/areas.mp"));
    TRun byFile = RunCommand(Splitter() + " --mc --of=filename -p=" + dir / "polys -o=" + dir / "byfile/ " + monaco);
    EXPECT_EQ(byFile.exitCode, 0) << byFile.output;
    EXPECT_TRUE(test::FileExists(dir / "byfile/a.osm") && test::FileExists(dir / "byfile/b.osm"));

    test::WriteFile(dir / "twice.list", SplitFileOf(2, 1));
    TRun twice = RunCommand(Splitter() + " -s=" + dir / "twice.list -o=" + dir / "twice/ " + monaco);
    EXPECT_EQ(twice.exitCode, 3) << twice.output;
    EXPECT_TRUE(Holds(twice, "area 0 \"1\" and area 1 \"1\" would both write")) << twice.output;

    test::WriteFile(dir / "hostile.poly", "../../escaped\n1\n7.40 43.72\n7.44 43.72\n7.44 43.76\nEND\nEND\n");
    TRun hostile = RunCommand(Splitter() + " --wsc -p=" + dir / "hostile.poly -o=" + dir / "a/b/ " + monaco);
    EXPECT_EQ(hostile.exitCode, 0) << hostile.output;
    for (const char* extension : {".osm", ".mp", ".poly"}) {
        EXPECT_TRUE(test::FileExists(dir / "a/b/___.._escaped" + extension)) << extension;
        EXPECT_FALSE(test::FileExists(dir / "escaped" + extension)) << extension;
    }
}

// More areas than open files under the usual limit, and a group of
// contours larger than a pass.
TEST(SplitEndToEnd, PassesKeepWithinTheirLimits)
{
    test::CTempDir dir;
    const std::string monaco = test::DataFile("monaco.osm.pbf");
    test::WriteFile(dir / "many.list", SplitFileOf(1200));
    TRun many = RunCommand("ulimit -n 1024 && " + Splitter() + " --max-areas=1200 -s=" + dir / "many.list -o=" +
                           dir / "many/ " + monaco);
    ASSERT_EQ(many.exitCode, 0) << many.output;
    for (unsigned i = 1; i <= 1200; ++i) {
        const std::string text = test::ReadFile(dir / "many/" + std::to_string(i) + ".osm");
        ASSERT_EQ(text.substr(text.size() - 6), "</osm>") << i;
    }

    test::WriteFile(dir / "group.list", SplitFileOf(32769));
    TRun group = RunCommand(Splitter() + " --mc -s=" + dir / "group.list -o=" + dir / "group/ " + monaco);
    EXPECT_EQ(group.exitCode, 4) << group.output;
    EXPECT_TRUE(Holds(group, "The 32769 areas of \"group.list\" share one output file")) << group.output;
    EXPECT_FALSE(test::FileExists(dir / "group/group.list.osm"));
}

// Description files that cannot be created fail the run, after the tiles.
TEST(SplitEndToEnd, DescriptionsThatCannotBeWrittenFailTheRun)
{
    test::CTempDir dir;
    const std::string monaco = test::DataFile("monaco.osm.pbf");
    test::WriteFile(dir / "one.list", SplitFileOf(1, 7));
    const struct {
        const char* options;
        const char* blocked;  // made a directory beforehand
        const char* named;
    } cases[] = {
        {"--write-kml=nodir/a.kml", nullptr, "nodir/a.kml: No such file or directory"},
        {"", "areas.list", "areas.list: Is a directory"},
        {"--admin-level=2", "relations.txt", "relations.txt: Is a directory"},
        {"", "areas.mp", "areas.mp: Is a directory"},
    };
    for (const auto& c : cases) {
        const std::string out = dir / "out/";
        RunCommand("rm -rf " + out);
        if (c.blocked != nullptr)
            std::filesystem::create_directories(out + c.blocked);
        TRun run = RunCommand(Splitter() + " " + c.options + " -s=" + dir / "one.list -o=" + out + " " + monaco);
        EXPECT_EQ(run.exitCode, 5) << c.named << "\n" << run.output;
        EXPECT_TRUE(Holds(run, "Cannot create " + out + c.named)) << run.output;
        EXPECT_TRUE(test::FileExists(out + "7.osm")) << c.named;
    }
}

// Every refusal names the file and the reason before its message.
TEST(SplitEndToEnd, FailuresNameTheFileAndTheReason)
{
    test::CTempDir dir;
    const std::string monaco = test::DataFile("monaco.osm.pbf");
    test::WriteFile(dir / "file", "");
    TRun notDir = RunCommand(Splitter() + " --max-nodes=100000 -o=" + dir / "file/ " + monaco);
    EXPECT_EQ(notDir.exitCode, 4) << notDir.output;
    EXPECT_TRUE(Holds(notDir, "Cannot create " + dir / "file/000000.osm: Not a directory\nError creating output file."))
        << notDir.output;

    // The second output of a pass cannot be created: the first one goes too.
    test::WriteFile(dir / "two.list", SplitFileOf(2));
    std::filesystem::create_directories(dir / "two/2.osm");
    TRun second = RunCommand(Splitter() + " -s=" + dir / "two.list -o=" + dir / "two/ " + monaco);
    EXPECT_EQ(second.exitCode, 4) << second.output;
    EXPECT_TRUE(Holds(second, "Cannot create " + dir / "two/2.osm: Is a directory\nError creating output file."))
        << second.output;
    EXPECT_FALSE(test::FileExists(dir / "two/1.osm"));

    const std::string bytes = test::ReadFile(monaco);
    test::WriteFile(dir / "cut.pbf", bytes.substr(0, bytes.size() - 10));
    const struct {
        std::string input;
        const char* reason;
    } inputs[] = {
        {dir / "missing.pbf", ": No such file or directory\n"},
        {dir.Path(), ": Is a directory\n"},
        {dir / "fifo", ": not a regular file\n"},
        {dir / "file", ": the file is empty (blob at byte 0)\n"},
        {dir / "cut.pbf", ": the file ends inside the blob (blob at byte "},
    };
    RunCommand("mkfifo " + dir / "fifo");
    test::WriteFile(dir / "one.list", SplitFileOf(1, 7));
    for (const auto& c : inputs) {
        TRun run = RunCommand(Splitter() + " -s=" + dir / "one.list -o=" + dir / "out/ " + c.input);
        EXPECT_EQ(run.exitCode, 2) << c.input << "\n" << run.output;
        EXPECT_TRUE(Holds(run, c.input + c.reason)) << run.output;
        EXPECT_TRUE(Holds(run, "\nBad input file.\n")) << run.output;
    }
    // A damaged input is refused before anything is written.
    EXPECT_FALSE(test::FileExists(dir / "out/7.osm"));

    // A tile on a full disk.
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_symlink("/dev/full", dir / "out/7.osm");
    TRun full = RunCommand(Splitter() + " -s=" + dir / "one.list -o=" + dir / "out/ " + monaco);
    EXPECT_EQ(full.exitCode, 5) << full.output;
    EXPECT_TRUE(Holds(full, dir / "out/7.osm: No space left on device\nError writing output file.\n")) << full.output;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "out/7.osm"));  // only plain files are removed

    TRun noConfig = RunCommand(Splitter() + " --cfg= " + monaco);
    EXPECT_EQ(noConfig.exitCode, 1) << noConfig.output;
    EXPECT_TRUE(Holds(noConfig, "Config file \"\": No such file or directory.\n")) << noConfig.output;
    EXPECT_TRUE(Holds(noConfig, "Error loading config file.")) << noConfig.output;
}

// Polygon sections of Liechtenstein in the .poly format: a rectangle, and
// north of it a concave U whose notch holds Vaduz.
void WriteLiechtensteinPolygons(const test::CTempDir& dir)
{
    std::filesystem::create_directory(dir / "polys");
    test::WriteFile(dir / "polys/south.poly", "south\n1\n"
                                              "   9.470000E+00   4.704000E+01\n   9.560000E+00   4.704000E+01\n"
                                              "   9.560000E+00   4.715000E+01\n   9.470000E+00   4.715000E+01\n"
                                              "   9.470000E+00   4.704000E+01\nEND\nEND\n");
    test::WriteFile(dir / "polys/north.poly", "north\n1\n"
                                              "   9.500000E+00   4.715000E+01\n   9.640000E+00   4.715000E+01\n"
                                              "   9.640000E+00   4.727000E+01\n   9.580000E+00   4.727000E+01\n"
                                              "   9.580000E+00   4.720000E+01\n   9.540000E+00   4.720000E+01\n"
                                              "   9.540000E+00   4.727000E+01\n   9.500000E+00   4.727000E+01\n"
                                              "END\nEND\n");
}

TEST(SplitEndToEnd, SameBytesAsTheOtherBuild)
{
    const std::string reference = SPLITTER_REFERENCE;
    if (reference.empty())
        GTEST_SKIP() << "no other build given (SPLITTER_REFERENCE)";
    test::CTempDir dir;
    WriteLiechtensteinPolygons(dir);
    const std::string monaco = test::DataFile("monaco.osm.pbf");
    const std::string polygons =
        "--pbf --max-nodes=20000 -p=" + dir / "polys " + test::DataFile("liechtenstein.osm.pbf");
    for (const std::string& arguments : {"--max-nodes=5000 --write-kml=areas.kml " + monaco,
                                         "--pbf --max-nodes=5000 --max-areas=3 " + monaco, polygons}) {
        RunCommand("rm -rf " + dir / "ours " + dir / "theirs");
        TRun split = RunCommand(Splitter() + " --output-dir=" + dir / "ours " + arguments);
        ASSERT_EQ(split.exitCode, 0) << split.output;
        TRun other = RunCommand(reference + " --output-dir=" + dir / "theirs " + arguments);
        ASSERT_EQ(other.exitCode, 0) << other.output;
        EXPECT_EQ(split.output, other.output) << arguments;
        ExpectReadableOutputs(dir / "ours");
        TRun diff = RunCommand("diff -r " + dir / "ours " + dir / "theirs");
        EXPECT_EQ(diff.exitCode, 0) << arguments << "\n" << diff.output;
        EXPECT_TRUE(test::FileExists(dir / "ours/areas.mp")) << arguments;
    }
}

TEST(SplitEndToEnd, ReservingMoreThanTheAddressSpaceRunsOutOfMemory)
{
    // 2^32 - 1 positions of eight bytes are beyond any 32-bit address space;
    // a 64-bit build may well grant them, untouched.
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "only a 32-bit build cannot address the reserve";
    TRun run = RunCommand(Splitter() + " --reserve-nodes=4294967295 " + test::DataFile("monaco.osm.pbf"));
    EXPECT_EQ(run.exitCode, 5) << run.output;
    EXPECT_NE(run.output.find("Out of memory."), std::string::npos) << run.output;
}

TEST(SplitEndToEnd, PolygonFilesAreRefinedCoveredAndLoadBack)
{
    test::CTempDir dir;
    WriteLiechtensteinPolygons(dir);
    const std::string input = test::DataFile("liechtenstein.osm.pbf");
    for (const char* options : {"", "--pbf --max-areas=2"}) {
        const std::string out = dir / "out/", again = dir / "again/";
        RunCommand("rm -rf " + out + " " + again);
        TRun split = RunCommand(Splitter() + " " + options + " --max-nodes=20000 -p=" + dir / "polys" +
                                " --write-kml=areas.kml -o=" + out + " " + input);
        ASSERT_EQ(split.exitCode, 0) << split.output;
        ExpectReadableOutputs(out);
        TRun areas = RunCheck("check_poly.py", input + " " + dir / "polys " + out + " 20000");
        EXPECT_EQ(areas.exitCode, 0) << options << "\n" << areas.output;
        if (!std::string(options).empty()) {  // the outputs once, from several passes
            TRun outputs = RunCheck("check_split.py", input + " " + out + " 20000 --relations --partial");
            EXPECT_EQ(outputs.exitCode, 0) << options << "\n" << outputs.output;
        }

        // areas.poly is a polygon file itself: loaded back, it gives the same
        // areas, named after it, and the same outputs.
        TRun reload = RunCommand(Splitter() + " " + options + " --max-nodes=20000 -p=" + out + "areas.poly -o=" +
                                 again + " " + input);
        ASSERT_EQ(reload.exitCode, 0) << reload.output;
        ExpectReadableOutputs(again);
        std::string first = test::ReadFile(out + "areas.poly"), second = test::ReadFile(again + "areas.poly");
        for (size_t at = second.find("\nAreas_"); at != std::string::npos; at = second.find("\nAreas_", at))
            second.erase(at + 1, 6);
        EXPECT_EQ(second, first) << options;
        const std::string name = std::string(options).empty() ? "north_000000.osm" : "north_000000.osm.pbf";
        EXPECT_EQ(test::ReadFile(again + "Areas_" + name), test::ReadFile(out + name)) << options;
    }
}

// An extract across 180 degrees: columns x 50 nodes from west eastward, a
// road along every row, a node on -180 degrees and a lake from 178.5E to
// 178.5W made of two ways, all in one block each.
void WriteExtractAcross180(const std::string& path, double west, double width, int columns)
{
    OSMPBF::PrimitiveBlock nodes, ways, relations;
    std::vector<test::TTestNode> points;
    test::StringIndex(ways, "");
    OSMPBF::PrimitiveGroup& roads = *ways.add_primitivegroup();
    for (int j = 0; j < 50; ++j) {
        OSMPBF::Way& road = *roads.add_ways();
        road.set_id(j + 1);
        road.add_keys(test::StringIndex(ways, "highway"));
        road.add_vals(test::StringIndex(ways, "track"));
        for (int i = 0; i < columns; ++i) {
            double lon = west + width * i / (columns - 1);
            points.push_back({int64_t(points.size()) + 1, std::llround((10 + 0.5 * j) * 1e7),
                              std::llround((lon >= 180 ? lon - 360 : lon) * 1e7), {}});
            road.add_refs(i == 0 ? points.back().id : 1);
        }
    }
    points.push_back({int64_t(points.size()) + 1, std::llround(10 * 1e7), std::llround(-180 * 1e7), {}});
    const int64_t lake = int64_t(points.size()) + 1;
    const double lakeLon[] = {178.5, -178.5, -178.5, 178.5}, lakeLat[] = {41, 41, 40, 40};
    for (int k = 0; k < 4; ++k)
        points.push_back({lake + k, std::llround(lakeLat[k] * 1e7), std::llround(lakeLon[k] * 1e7), {}});
    const int64_t shores[2][3] = {{lake, lake + 1, lake + 2}, {lake + 2, lake + 3, lake}};
    for (int k = 0; k < 2; ++k) {
        OSMPBF::Way& shore = *roads.add_ways();
        shore.set_id(100 + k);
        int64_t last = 0;
        for (int64_t ref : shores[k]) {
            shore.add_refs(ref - last);
            last = ref;
        }
    }
    test::StringIndex(relations, "");
    OSMPBF::Relation& water = *relations.add_primitivegroup()->add_relations();
    water.set_id(1);
    for (auto [key, value] : {std::pair{"type", "multipolygon"}, std::pair{"natural", "water"}}) {
        water.add_keys(test::StringIndex(relations, key));
        water.add_vals(test::StringIndex(relations, value));
    }
    for (int k = 0; k < 2; ++k) {
        water.add_memids(k == 0 ? 100 : 1);  // delta coded: ways 100 and 101
        water.add_types(OSMPBF::Relation::WAY);
        water.add_roles_sid(int32_t(test::StringIndex(relations, "outer")));
    }
    test::AddDenseNodes(nodes, *nodes.add_primitivegroup(), points);
    test::WritePbf(path,
                   {test::HeaderBlob(), test::DataBlob(nodes), test::DataBlob(ways), test::DataBlob(relations)});
}

TEST(SplitEndToEnd, ExtractsAcrossTheAntimeridianKeepEveryNode)
{
    test::CTempDir dir;
    // Split files in degrees: south, west, north, east per area.
    const std::string meeting = "1: 0,0 to 0,0\n# : 0,170 to 60,180\n\n2: 0,0 to 0,0\n# : 0,-180 to 60,-170\n";
    const std::string across = "1: 0,0 to 0,0\n# : 0,165 to 60,175\n\n2: 0,0 to 0,0\n# : 0,175 to 60,-175\n\n"
                               "3: 0,0 to 0,0\n# : 0,-175 to 60,-165\n";
    struct {
        double west, width;
        int columns;
        unsigned maxNodes;
        std::string splitFile;
    } cases[] = {{175, 10, 120, 1000, ""},      {175, 10, 120, 1600000, ""}, {1, 4, 60, 1000, ""},
                 {1, 4, 60, 1600000, ""},       {175, 10, 120, 1600000, meeting},
                 {175, 10, 120, 1600000, across}};
    for (const auto& c : cases) {
        const std::string label = std::to_string(c.west) + " to " + std::to_string(c.west + c.width) + ", max " +
                                  std::to_string(c.maxNodes) + "\n" + c.splitFile;
        RunCommand("rm -rf " + dir / "out");
        WriteExtractAcross180(dir / "in.osm.pbf", c.west, c.width, c.columns);
        std::string options = " --max-nodes=" + std::to_string(c.maxNodes);
        if (!c.splitFile.empty()) {
            test::WriteFile(dir / "split.list", c.splitFile);
            options += " -s=" + dir / "split.list";
        }
        TRun split = RunCommand(Splitter() + options + " --output-dir=" + dir / "out/ " + dir / "in.osm.pbf");
        ASSERT_EQ(split.exitCode, 0) << label << "\n" << split.output;
        const std::string max = std::to_string(c.maxNodes);
        TRun outputs = RunCheck("check_split.py", dir / "in.osm.pbf " + dir / "out " + max + " --relations");
        EXPECT_EQ(outputs.exitCode, 0) << label << "\n" << outputs.output;
        TRun areas = RunCheck("check_split_file.py", dir / "in.osm.pbf " + dir / "out/areas.list " + max);
        EXPECT_EQ(areas.exitCode, 0) << label << "\n" << areas.output;
        TRun lake = RunCheck("check_areas.py", dir / "in.osm.pbf " + dir / "out");
        EXPECT_EQ(lake.exitCode, 0) << label << "\n" << lake.output;
        EXPECT_NE(lake.output.find("ok: "), std::string::npos) << label << "\n" << lake.output;
    }
}

// A .poly file: sections "header:x,y x,y ..." in degrees, apart by "|"
// ("!" in a header marks a hole, which is an area too).
void WritePolyFile(const std::string& path, const std::string& sections)
{
    std::string text = "title\n";
    std::istringstream in(sections);
    for (std::string section; std::getline(in, section, '|');) {
        size_t colon = section.find(':');
        text += section.substr(0, colon) + "\n";
        std::istringstream points(section.substr(colon + 1));
        for (std::string point; points >> point;)
            text += "   " + point.replace(point.find(','), 1, "   ") + "\n";
        text += "END\n";
    }
    test::WriteFile(path, text + "END\n");
}

TEST(SplitEndToEnd, OverlappingPolygonsWithOuterNodesHoldEveryNodeOnce)
{
    // West has an exclave inside east and a hole of its own; the two overlap
    // in a band and run along the same parallel at 47.04. The second set
    // leaves a node in a sliver that rounded crossings open between areas.
    const std::vector<std::pair<std::string, std::string>> sets[] = {
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
    const std::string input = test::DataFile("liechtenstein.osm.pbf");
    for (const auto& files : sets) {
        test::CTempDir dir;
        std::filesystem::create_directory(dir / "polys");
        for (const auto& [name, sections] : files)
            WritePolyFile(dir / "polys/" + name + ".poly", sections);
        TRun split = RunCommand(Splitter() + " --pbf --max-nodes=20000 --process-outer -p=" + dir / "polys -o=" +
                                dir / "out/ " + input);
        ASSERT_EQ(split.exitCode, 0) << split.output;
        TRun check = RunCheck("check_split.py", input + " " + dir / "out 20000");
        EXPECT_EQ(check.exitCode, 0) << files[0].first << "\n" << split.output << check.output;
    }
}

TEST(SplitEndToEnd, OverlappingPolygonsOnTheSameMeridiansAreTrimmed)
{
    // The earlier area keeps the common part, even when every contact of
    // the two lies on their boundaries.
    test::CTempDir dir;
    WritePolyFile(dir / "areas.poly", "a:7,43 7,44 8,44 8,43|b:7,43.5 7,44.5 8,44.5 8,43.5");
    TRun split = RunCommand(Splitter() + " --max-nodes=0 -p=" + dir / "areas.poly -o=" + dir / "out/ " +
                            test::DataFile("monaco.osm.pbf"));
    ASSERT_EQ(split.exitCode, 0) << split.output;
    EXPECT_NE(split.output.find("Area \"title_a\" intersects with \"title_b\""), std::string::npos) << split.output;
    const std::string areas = test::ReadFile(dir / "out/areas.poly");
    size_t b = areas.find("title_b");
    ASSERT_NE(b, std::string::npos) << areas;
    EXPECT_EQ(areas.find("43.5000000", b), std::string::npos) << areas;  // b lost its southern half
}

TEST(SplitEndToEnd, SplitFileRoundTrip)
{
    // The degree lines survive a load and a write exactly; the coarser
    // integer lines are derived from them.
    auto degreeLines = [](const std::string& text) {
        std::string lines;
        for (size_t at = text.find("#       :"); at != std::string::npos; at = text.find("#       :", at + 1))
            lines += text.substr(at, text.find('\n', at) - at) + "\n";
        return lines;
    };
    const std::pair<const char*, unsigned> runs[] = {
        {"monaco.osm.pbf", 3000}, {"liechtenstein.osm.pbf", 3000}, {"testadmins.osm.pbf", 100}};
    for (const auto& [file, maxNodes] : runs) {
        const std::string label = std::string(file) + " --max-nodes=" + std::to_string(maxNodes);
        test::CTempDir first, second;
        TRun split = RunCommand(Splitter() + " --max-nodes=" + std::to_string(maxNodes) + " --output-dir=" +
                                first.Path() + " " + test::DataFile(file));
        ASSERT_EQ(split.exitCode, 0) << label << "\n" << split.output;
        TRun again = RunCommand(Splitter() + " -s=" + first / "areas.list" + " --output-dir=" + second.Path() +
                                " " + test::DataFile(file));
        ASSERT_EQ(again.exitCode, 0) << label << "\n" << again.output;
        ExpectReadableOutputs(second.Path());
        // Loaded back, the areas place every node once. Nodes within a few
        // map units of a cut may change sides, so a tile may hold a few more.
        TRun check = RunCheck("check_split.py", test::DataFile(file) + " " + second.Path() + " " +
                                                    std::to_string(maxNodes + maxNodes / 500) + " --relations");
        EXPECT_EQ(check.exitCode, 0) << label << "\n" << check.output;
        std::string expected = degreeLines(test::ReadFile(first / "areas.list"));
        EXPECT_FALSE(expected.empty()) << label;
        EXPECT_EQ(degreeLines(test::ReadFile(second / "areas.list")), expected) << label;
    }
}

TEST(SplitEndToEnd, JobsOfAreaRangesGiveTheFilesOfOneRun)
{
    test::CTempDir dir;
    const std::string input = test::DataFile("malta.osm.pbf");
    const std::string options = " --max-nodes=5000 --pbf --write-kml=areas.kml ";
    TRun whole = RunCommand(Splitter() + options + "-o=" + dir / "whole " + input);
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "whole"))
        count += entry.path().string().ends_with(".osm.pbf");
    ASSERT_GT(count, 20);
    // Five jobs of uneven ranges, two at a time, into one fresh directory.
    std::string ranges = "0-0 1-" + std::to_string(count / 3) + " " + std::to_string(count / 3 + 1) + "-" +
                         std::to_string(count / 3 + 2) + " " + std::to_string(count / 3 + 3) + "-" +
                         std::to_string(count - 2) + " " + std::to_string(count - 1) + "-" + std::to_string(count - 1);
    TRun jobs = RunCommand("parallel --will-cite -j2 --halt now,fail=1 " + Splitter() + options + "-o=" + dir / "jobs" +
                           " --ar={} " + input + " ::: " + ranges);
    ASSERT_EQ(jobs.exitCode, 0) << jobs.output;
    TRun diff = RunCommand("diff -r " + dir / "whole " + dir / "jobs");
    EXPECT_EQ(diff.exitCode, 0) << diff.output;

    // A range beyond the list, and one that splits the group of areas that
    // share one file, are bad option values.
    const std::string last = std::to_string(count - 1);
    for (const std::string& bad : {"--ar=0-" + std::to_string(count), "--mc -s=" + dir / "whole/areas.list --ar=1-" + last}) {
        TRun run = RunCommand(Splitter() + " " + bad + " -o=" + dir / "bad " + input);
        EXPECT_EQ(run.exitCode, 1) << bad << "\n" << run.output;
        EXPECT_NE(run.output.find("Bad \"ar\" value."), std::string::npos) << run.output;
        EXPECT_FALSE(test::FileExists(dir / "bad/areas.mp")) << bad;
    }

    // The helpers in contrib/: ranges from a written areas.list, and the
    // Slurm script parses.
    const std::string contrib = std::string(SPLITTER_TESTS_DIR) + "/../contrib/";
    TRun printed = RunCommand(contrib + "splitter-ranges " + dir / "whole/areas.list " + last + " 1");
    EXPECT_EQ(printed.output, "1-" + last + "\n");
    EXPECT_EQ(RunCommand("bash -n " + contrib + "splitter-array.sbatch").exitCode, 0);
}

TEST(Package, InstallsTheProgramAndItsManualPage)
{
    if (sizeof(void*) != 8 || std::string(SPLITTER_COMMAND).find(' ') != std::string::npos)
        GTEST_SKIP() << "the package of the native x86-64 build";
    test::CTempDir dir;
    TRun pack = RunCommand("cd " SPLITTER_BUILD_DIR " && cpack -G DEB -B " + dir / "deb");
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    TRun extract = RunCommand("dpkg-deb -x " + dir / "deb/splitter64_*_amd64.deb " + dir / "root");
    ASSERT_EQ(extract.exitCode, 0) << extract.output;
    TRun depends = RunCommand("dpkg-deb -f " + dir / "deb/splitter64_*_amd64.deb" + " Depends");
    EXPECT_NE(depends.output.find("libprotobuf-lite32"), std::string::npos) << depends.output;

    TRun run = RunCommand(dir / "root/usr/bin/splitter64 --max-nodes=10000 -o=" + dir / "out " +
                          test::DataFile("monaco.osm.pbf"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(test::FileExists(dir / "out/000000.osm"));
    const std::string page = dir / "root/usr/share/man/man1/splitter64.1";
    TRun man = RunCommand("MANWIDTH=80 man -l " + page + " >/dev/null && groff -ww -man -z " + page);
    EXPECT_EQ(man.exitCode, 0) << man.output;
    EXPECT_EQ(man.output, "");
}

}  // namespace
