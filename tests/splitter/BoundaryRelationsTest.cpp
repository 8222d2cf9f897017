// relations.txt: the administrative boundaries of the configured level,
// each listed once in a run, whatever the number of passes and areas; the
// multipolygons of the input among them, never those a pass makes of a cut
// closed boundary way (w5 leaves area 2 in two lobes).
#include <gtest/gtest.h>

#include <string>

#include "splitter/Driver.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

using namespace test;

TEST(BoundaryRelations, EachBoundaryIsListedOnceAcrossAreasAndPasses)
{
    CTempDir dir;
    WriteFile(dir / "in.osm.pbf",
              PbfInput(ParseInput("n1 0.5 0.5; n2 1.5 0.5; n3 2.5 0.5; n11 0.5 0.1; n12 1.5 0.1; n13 1.5 0.3;"
                                  "n14 0.7 0.3; n15 0.7 0.6; n16 1.5 0.6; n17 1.5 0.8; n18 0.5 0.8;"
                                  "w5 11 12 13 14 15 16 17 18 11 boundary=administrative admin_level=4 name=Cut;"
                                  "r-5 n1 n2 n3 type=BOUNDARY boundary=ADMINISTRATIVE admin_level=4;"
                                  "r7 n3 n1 type=boundary boundary=administrative admin_level=4 name=Heimat"
                                  " name:en=Homeland;"
                                  "r8 n1 n2 type=boundary boundary=administrative admin_level=2;"
                                  "r9 n2 n3 type=multipolygon boundary=administrative admin_level=4;"
                                  "r10 n3 type=boundary boundary=administrative admin_level=4")));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}, {2, 0, 3, 1}});
    // Two passes: areas 1 and 2, then area 3.
    const std::string splitFile = "--split-file=" + (dir / "areas.list"), output = "--output-dir=" + (dir / "out");
    const std::string input = dir / "in.osm.pbf";
    const char* arguments[] = {"--admin-level=4", "--max-areas=2", splitFile.c_str(), output.c_str(), input.c_str()};
    int code = -1;
    const std::string printed = CaptureStdout([&] { code = RunSplitter(arguments, 5); });
    ASSERT_EQ(code, kExitDone) << printed;
    EXPECT_EQ(ReadFile(dir / "out/relations.txt"), "-5 > 5.poly\r\n7 > Homeland.poly\r\n9 > 9.poly\r\n10 > 10.poly\r\n");
    EXPECT_NE(printed.find("7 > Homeland.poly\n"), std::string::npos) << printed;
}

}  // namespace
