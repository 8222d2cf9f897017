// Splits the real extracts with the program itself and checks every output
// with an independent reader.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

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
        {"monaco.osm.pbf", 3000}, {"monaco.osm.pbf", 10000}, {"liechtenstein.osm.pbf", 3000},
        {"liechtenstein.osm.pbf", 20000}, {"malta.osm.pbf", 5000}, {"malta.osm.pbf", 50000},
        {"testadmins.osm.pbf", 100}};
    for (const auto& [file, maxNodes] : runs) {
        const std::string label = std::string(file) + " --max-nodes=" + std::to_string(maxNodes);
        test::CTempDir first, second;
        TRun split = RunCommand(Splitter() + " --max-nodes=" + std::to_string(maxNodes) + " --output-dir=" +
                                first.Path() + " " + test::DataFile(file));
        ASSERT_EQ(split.exitCode, 0) << label << "\n" << split.output;
        TRun again = RunCommand(Splitter() + " -s=" + first / "areas.list" + " --output-dir=" + second.Path() +
                                " " + test::DataFile(file));
        ASSERT_EQ(again.exitCode, 0) << label << "\n" << again.output;
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

}  // namespace
