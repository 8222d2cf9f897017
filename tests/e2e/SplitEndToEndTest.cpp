// Splits the real extracts with the program itself and checks every output
// with an independent reader.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

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

// Splits file with options into a fresh directory and checks the outputs.
void SplitAndCheck(const std::string& file, const std::string& options, unsigned maxNodes, bool relations = true)
{
    test::CTempDir dir;
    TRun split = RunCommand(Splitter() + " " + options + " --max-nodes=" + std::to_string(maxNodes) +
                     " --output-dir=" + dir.Path() + " " + test::DataFile(file));
    ASSERT_EQ(split.exitCode, 0) << split.output;
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
            TRun check = RunCheck("check_split_file.py",
                                  test::DataFile(file) + " " + dir / "areas.list " + std::to_string(maxNodes));
            EXPECT_EQ(check.exitCode, 0) << file << limit << "\n" << check.output;
        }
    }
}

TEST(SplitEndToEnd, CutPolygonsStayValidAreas)
{
    for (const char* file : {"liechtenstein.osm.pbf", "malta.osm.pbf"}) {
        test::CTempDir dir;
        TRun split =
            RunCommand(Splitter() + " --max-nodes=10000 --output-dir=" + dir.Path() + " " + test::DataFile(file));
        ASSERT_EQ(split.exitCode, 0) << split.output;
        TRun check = RunCheck("check_areas.py", test::DataFile(file) + " " + dir.Path());
        EXPECT_EQ(check.exitCode, 0) << file << "\n" << check.output;
    }
}

TEST(SplitEndToEnd, SameOutputOnEveryRun)
{
    test::CTempDir a, b;
    for (const test::CTempDir* dir : {&a, &b}) {
        TRun split = RunCommand(Splitter() + " --pbf --max-nodes=4000 --output-dir=" + dir->Path() + " " +
                         test::DataFile("monaco.osm.pbf"));
        ASSERT_EQ(split.exitCode, 0) << split.output;
    }
    TRun diff = RunCommand("diff -r " + a.Path() + " " + b.Path());
    EXPECT_EQ(diff.exitCode, 0) << diff.output;
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
    const std::string square = "1\n7.40 43.72\n7.44 43.72\n7.44 43.76\n7.40 43.76\nEND\nEND\n";
    std::filesystem::create_directory(dir / "polys");
    test::WriteFile(dir / "polys/a.poly", "none\n" + square);
    test::WriteFile(dir / "polys/b.poly", "none\n" + square);
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

    test::WriteFile(dir / "hostile.poly", "../../escaped\n" + square);
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
    // The pass that met the cut blob leaves no tile that looks complete.
    EXPECT_TRUE(test::FileExists(dir / "out/areas.list"));
    EXPECT_FALSE(test::FileExists(dir / "out/7.osm"));

    // A tile on a full disk.
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
        std::string first = test::ReadFile(out + "areas.poly"), second = test::ReadFile(again + "areas.poly");
        for (size_t at = second.find("\nAreas_"); at != std::string::npos; at = second.find("\nAreas_", at))
            second.erase(at + 1, 6);
        EXPECT_EQ(second, first) << options;
        const std::string name = std::string(options).empty() ? "north_000000.osm" : "north_000000.osm.pbf";
        EXPECT_EQ(test::ReadFile(again + "Areas_" + name), test::ReadFile(out + name)) << options;
    }
}

TEST(SplitEndToEnd, SplitFileRoundTrip)
{
    test::CTempDir first, second;
    TRun split = RunCommand(Splitter() + " --max-nodes=6000 --output-dir=" + first.Path() + " " +
                     test::DataFile("monaco.osm.pbf"));
    ASSERT_EQ(split.exitCode, 0) << split.output;
    TRun again = RunCommand(Splitter() + " -s=" + first / "areas.list" + " --output-dir=" + second.Path() + " " +
                     test::DataFile("monaco.osm.pbf"));
    ASSERT_EQ(again.exitCode, 0) << again.output;
    // The degree lines survive a load and a write exactly; the coarser
    // integer lines are derived from them.
    auto degreeLines = [](const std::string& text) {
        std::string lines;
        for (size_t at = text.find("#       :"); at != std::string::npos; at = text.find("#       :", at + 1))
            lines += text.substr(at, text.find('\n', at) - at) + "\n";
        return lines;
    };
    std::string expected = degreeLines(test::ReadFile(first / "areas.list"));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(degreeLines(test::ReadFile(second / "areas.list")), expected);
}

}  // namespace
