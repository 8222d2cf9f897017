// Runs the program on real extracts and made ones, one row at a time, and
// hands what it wrote to check.py, which holds every check of the outputs.
#include <cstdlib>
#include <string>
#include <utility>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

// Runs command in the directory dir, its standard output and error kept
// in the file log there; returns its exit code and that output.
std::pair<int, std::string> RunIn(const test::CTempDir& dir, const std::string& command, const std::string& log)
{
    const int status = std::system(("cd " + dir.Path() + " && " + command + " >" + log + " 2>&1").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFile(dir / log)};
}

// One run of the program, in a directory of its own.
struct TRow {
    std::string name;
    std::string make;       // a command that makes the inputs first
    std::string arguments;  // the program's, the input last
    std::string checks;     // check.py's; none when empty
    int exitCode = 0;
    std::string printed = {};  // the program prints this
};

void PrintTo(const TRow& row, std::ostream* out) { *out << row.name; }

const std::string kCheck = "/usr/bin/python3 " SPLITTER_TESTS_DIR "/e2e/check.py ";

std::vector<TRow> Rows()
{
    const auto monaco = test::DataFile("monaco.osm.pbf"), liechtenstein = test::DataFile("liechtenstein.osm.pbf");
    const std::string out = " -o=out/ ", areas = "--split --list --areas", make = kCheck + "--make=";
    const std::string across = make + "across180", fail = make + "failures", one = " -s=one.list -o=bad/ ";
    const std::string outer = "--pbf --max-nodes=20000 --process-outer -p=polys" + out + liechtenstein;
    std::vector<TRow> rows = {
        {"Real_MaltaPasses", "", "--pbf --max-areas=4 --max-nodes=30000" + out + test::DataFile("malta.osm.pbf"),
         areas},
        {"Real_Malta", "", "--max-nodes=10000" + out + test::DataFile("malta.osm.pbf"), areas},
        {"Real_Monaco", "", "--max-nodes=2000" + out + monaco, areas},
        {"Real_Liechtenstein", "", "--max-nodes=10000" + out + liechtenstein, areas},
        {"Real_LiechtensteinPbf", "", "--pbf --max-nodes=20000" + out + liechtenstein, areas},
        {"Real_Testadmins", "", "--max-nodes=100" + out + test::DataFile("testadmins.osm.pbf"), areas},
        {"Real_TestadminsPbf", "", "--pbf --max-nodes=1000" + out + test::DataFile("testadmins.osm.pbf"), areas},
        {"Made_GridMultipolygons", make + "grid", "-s=grid.list" + out + "cases.osm.pbf", areas},
        // A plain bounding-box extract keeps ways whole but drops their nodes outside the box.
        {"Made_BoxWithIncompleteWays",
         "osmium extract --no-progress -b 9.50,47.10,9.56,47.16 -s simple -o box.osm.pbf " + liechtenstein,
         "--max-nodes=8000" + out + "box.osm.pbf", "--split", 0, " is missing"},
        // Across 180 degrees, automatic and from split files: tiles meeting at it, and one across it.
        {"Made_AntimeridianAcross", across, "--max-nodes=1000" + out + "in.osm.pbf", areas},
        {"Made_AntimeridianMeeting", across, "-s=meeting.list" + out + "in.osm.pbf", areas},
        {"Made_AntimeridianAcrossFile", across, "-s=across.list" + out + "in.osm.pbf", areas},
        // Inputs as other tools write them: extracts merged at two versions of
        // the objects they share; ways that carry the locations of the nodes
        // the file lacks; lz4 blobs, which make the same tiles.
        {"Made_MergedVersions", make + "versions " + monaco, "--max-nodes=5000" + out + "in.osm.pbf", "--split --list",
         0, "Older versions of objects left out: "},
        {"Made_LocationsOnWays", "osmium add-locations-to-ways --no-progress -o lw.osm.pbf " + monaco,
         "--max-nodes=5000" + out + "lw.osm.pbf", "--split --list --source=" + monaco, 0,
         "The ways of the input carry the locations of 43871 nodes that it lacks"},
        {"Made_Lz4Blobs", "osmium cat --no-progress -f pbf,pbf_compression=lz4 -o in.osm.pbf " + monaco +
         " && touch -r " + monaco + " in.osm.pbf", "--pbf --max-nodes=5000" + out + "in.osm.pbf", "--same-input=" + monaco},
        {"Real_OverlappingPolygons0", make + "overlap0", outer, "--split"},
        {"Real_OverlappingPolygons1", make + "overlap1", outer, "--split"},
        // areas.list and areas.poly load back as the same areas; polygons refined
        // into areas hold every node inside them, written once from several passes.
        {"LoadsBack_SplitFileLiechtenstein", "", "--pbf --max-nodes=3000" + out + liechtenstein,
         "--split --again=-s=out/areas.list"},
        {"LoadsBack_PolygonFiles", make + "liechtenstein",
         "--pbf --max-areas=2 --max-nodes=20000 --write-kml=areas.kml -p=polys" + out + liechtenstein,
         "--split --partial --poly=polys --again=-p=out/areas.poly"},
        // The tiles depend neither on how many areas a pass takes nor on the
        // run: the program works in several threads.
        {"SameTiles_Xml", "", "--max-nodes=5000" + out + monaco, "--split --list --same=--max-areas=1"},
        {"SameTiles_Pbf", "", "--pbf --max-nodes=5000" + out + monaco, "--areas --same=--max-areas=3"},
        {"JobsOfAreaRanges", "", "--max-nodes=5000 --pbf --write-kml=areas.kml" + out + liechtenstein, "--jobs"},
        // Runs that fail, or refuse what would go wrong, under the usual limit
        // of open files: they say which file and why, and leave no partial output.
        {"Runs_ManyAreas", fail, "--max-areas=1200 -s=many.list" + out + monaco, "--present=out/1.osm,out/1200.osm"},
        {"Runs_NoArguments", "", "", "", 1, "Usage: "},
        {"Runs_BadConfig", "", "--cfg= " + monaco, "", 1, "Error loading config file."},
        {"Runs_MissingInput", fail, one + "missing.pbf", "", 2, "missing.pbf: No such file or directory\nBad input"},
        // Other formats say what they are; a history file stays refused.
        {"Runs_XmlInput", "osmium cat --no-progress -o in.osm " + monaco, "in.osm", "", 2,
         "in.osm: the file is OSM XML, not OSM PBF. Convert it first: osmium cat in.osm -o in.osm.pbf\nBad input file."},
        {"Runs_O5mInput", "(printf '\\377\\340\\004o5m2' >in.o5m)", "in.o5m", "", 2,
         "in.o5m: the file is o5m, not OSM PBF. Convert it first: osmium cat in.o5m -o in.osm.pbf\n"},
        {"Runs_HistoryFile", "osmium cat --no-progress -f osh.pbf -o in.osh.pbf " + monaco, "in.osh.pbf", "", 2,
         "in.osh.pbf: the file requires the feature \"HistoricalInformation\", which this program lacks"},
        {"Runs_DamagedInputBeforeAnyOutput", fail, one + "cut.pbf", "--absent=bad/7.osm", 2,
         "cut.pbf: the file ends inside the blob (blob at byte "},
        {"Runs_MissingSplitFile", "", "-s=none.list " + monaco, "", 3, "Error loading split-file."},
        {"Runs_EmptySplitFile", fail, "-s=empty.list " + monaco, "", 3, "No areas."},
        {"Runs_TwoOutputsOfOneName", fail, "--mc -p=polys" + out + monaco, "--absent=out/areas.mp", 3,
         "would both write out/none.osm.\nUse --out-filenames=filename"},
        {"Runs_OutputsNamedByFile", fail, "--mc --of=filename -p=polys" + out + monaco,
         "--present=out/a.osm,out/b.osm"},
        // Two areas in one file: a road crossing between them stays joined.
        {"Runs_OneFileOfTwoAreas", fail, "--mc -s=halves.list" + out + monaco, "--split --areas"},
        {"Runs_NamesKeptInTheDirectory", fail, "--wsc -p=hostile.poly -o=a/b/ " + monaco,
         "--present=a/b/___.._escaped.osm,a/b/___.._escaped.mp,a/b/___.._escaped.poly "
         "--absent=escaped.osm,escaped.mp,escaped.poly"},
        {"Runs_GroupLargerThanAPass", fail, "--mc -s=group.list" + out + monaco, "--absent=out/group.list.osm", 4,
         "The 32769 areas of \"group.list\" share one output file"},
        // The second output of a pass cannot be created: the first one goes too.
        {"Runs_OutputBlocked", fail, "-s=two.list -o=two/ " + monaco, "--absent=two/1.osm", 4,
         "Cannot create two/2.osm: Is a directory\nError creating output file."},
        // Description files that cannot be created fail the run, after the tiles.
        {"Runs_KmlBlocked", fail, "--write-kml=nodir/a.kml" + one + monaco, "--present=bad/7.osm", 5,
         "Cannot create bad/nodir/a.kml: No such file or directory"},
        {"Runs_RelationsBlocked", fail, "--admin-level=2 -s=one.list -o=d3/ " + monaco, "--present=d3/7.osm", 5,
         "Cannot create d3/relations.txt: Is a directory"},
        // A tile on a full disk; only plain files are removed.
        {"Runs_DiskFull", fail, "-s=one.list -o=full/ " + monaco, "--present=full/7.osm", 5,
         "full/7.osm: No space left on device\nError writing output file."},
        // An area range beyond the list, and one that splits areas sharing a file.
        {"Runs_AreaRangeBeyondTheList", fail, "-s=two.list --ar=0-2" + out + monaco, "--absent=out/areas.mp", 1,
         "Area range 0-2 lies beyond the last area, 1.\nBad \"ar\" value."},
        {"Runs_AreaRangeSplittingAGroup", fail, "--mc -s=two.list --ar=1-1" + out + monaco, "--absent=out/areas.mp",
         1, "Area range 1-1 splits the areas of \"two.list\""},
    };
    // The i386 program against splitter64: the same files, and the same messages.
    if (const std::string other = SPLITTER_REFERENCE; !other.empty()) {
        const std::string same = "--reference=" + other;
        rows.push_back({"SameBytes_Xml", "", "--max-nodes=5000 --write-kml=areas.kml" + out + monaco, same});
        rows.push_back({"SameBytes_Pbf", "", "--pbf --max-nodes=5000 --max-areas=3" + out + monaco, same});
        rows.push_back({"SameBytes_Polygons", make + "liechtenstein",
                        "--pbf --max-nodes=20000 -p=polys" + out + liechtenstein, "--split --partial " + same});
    }
    if (sizeof(void*) == 8 && std::string(SPLITTER_COMMAND).find(' ') == std::string::npos)
        rows.push_back({"PackageInstallsTheProgramAndItsManualPage", "", "--max-nodes=10000" + out + monaco,
                        "--package=" SPLITTER_BUILD_DIR});
    // Beyond any 32-bit address space; a 64-bit build may well grant it, untouched.
    if (sizeof(void*) == 4)
        rows.push_back({"Runs_ReserveBeyondTheAddressSpace", "", "--reserve-nodes=4294967295 " + monaco, "", 5,
                        "Out of memory."});
    return rows;
}

class SplitEndToEnd : public ::testing::TestWithParam<TRow> {};

TEST_P(SplitEndToEnd, Checked)
{
    const TRow& row = GetParam();
    test::CTempDir dir;
    if (!row.make.empty()) {
        ASSERT_EQ(RunIn(dir, row.make, "made"), std::pair(0, std::string()));
    }
    const auto [exitCode, output] = RunIn(dir, "ulimit -n 1024 && " SPLITTER_COMMAND " " + row.arguments, "printed");
    ASSERT_EQ(exitCode, row.exitCode) << row.arguments << "\n" << output;
    EXPECT_NE(output.find(row.printed), std::string::npos) << output;
    if (row.checks.empty())
        return;
    // check.py prints the faults it finds, and nothing when there is none.
    const std::string check = kCheck + "'" SPLITTER_COMMAND "' '" + row.arguments + "' printed " + row.checks;
    EXPECT_EQ(RunIn(dir, check, "checked"), std::pair(0, std::string()));
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitEndToEnd, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
