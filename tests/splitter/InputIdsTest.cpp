// Ids of the input that would leave no room for the ids of new objects are
// refused before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/streams/FileStream.h"
#include "splitter/Driver.h"
#include "splitter/InputIds.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

// Splits input into the west and east halves of a 2 x 1 degree block; returns
// the exit code, what the run printed in printed.
int SplitInHalves(const CTempDir& dir, const std::string& input, std::string& printed)
{
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}});
    const std::string splitFile = "--split-file=" + (dir / "areas.list"), output = "--output-dir=" + (dir / "out/");
    const char* arguments[] = {"--pbf", splitFile.c_str(), output.c_str(), input.c_str()};
    int code = -1;
    printed = CaptureStdout([&] { code = RunSplitter(arguments, 4); });
    return code;
}

// Two nodes either side of the meridian 1 and a way between them, which the
// split cuts with a new node, into two new pieces.
std::string CrossingInput(int64_t nodeId, int64_t wayId, int64_t relationId, int64_t wayMember)
{
    return PbfInput({NodeAt(nodeId - 1, 0.5, 0.5), NodeAt(nodeId, 1.5, 0.5)},
                    {{wayId, {nodeId - 1, nodeId}, {{"highway", "primary"}}}},
                    {{relationId, {{OSM::kWay, wayMember, ""}}, {{"type", "route"}}}});
}

TEST(InputIds, IdsWithoutRoomForNewOnesAreRefusedBeforeAnyOutput)
{
    const int64_t top = (int64_t(1) << 47) - 1, over = kMaxInputId + 1;
    const struct {
        std::string input, printed;
    } cases[] = {
        {CrossingInput(over, 5, 6, 5), "node 139637976727552 lies outside"},
        {CrossingInput(10, over, 6, over), "way 139637976727552 lies outside"},
        {CrossingInput(10, 5, over, 5), "relation 139637976727552 lies outside"},
        {CrossingInput(Clip::kMinKeyId, 5, 6, 5), "node -140737488355329 lies outside"},
        {CrossingInput(10, 5, 6, top + 1), "relation 6 has a way member 140737488355328 that does not fit"},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        WriteFile(dir / "in.osm.pbf", c.input);
        std::string printed;
        EXPECT_EQ(SplitInHalves(dir, dir / "in.osm.pbf", printed), kExitBadInput) << printed;
        EXPECT_NE(printed.find(dir / "in.osm.pbf: " + c.printed), std::string::npos) << printed;
        EXPECT_NE(printed.find("\nBad input file.\n"), std::string::npos) << printed;
        EXPECT_FALSE(FileExists(dir / "out")) << c.printed;
    }
}

// The largest ids accepted: the new objects of an output take ids above
// them, and all of them fit a pass's keys, so the program reads the output.
TEST(InputIds, OutputsOfTheLargestIdsHoldOnlyIdsThatFit)
{
    CTempDir dir;
    WriteFile(dir / "in.osm.pbf", CrossingInput(kMaxInputId, kMaxInputId, kMaxInputId, kMaxInputId));
    std::string printed;
    ASSERT_EQ(SplitInHalves(dir, dir / "in.osm.pbf", printed), kExitDone) << printed;
    for (const char* name : {"1.osm.pbf", "2.osm.pbf"}) {
        CFileReadStream stream(65536);
        ASSERT_TRUE(stream.Open(dir / "out/" + name)) << name;
        CPBInputAdapter source;
        ASSERT_TRUE(source.Open(stream));
        OSM::CPBFReaderAdapter reader(source);
        std::string kinds;
        while (reader.ReadNext()) {
            EXPECT_TRUE(Clip::FitsKey(reader.GetId())) << reader.GetId();
            kinds += reader.GetId() > kMaxInputId ? "N" : "n";  // new, or from the input
        }
        // A node of the input and a border node, a piece, the route.
        EXPECT_EQ(kinds, "nNNn") << name;
    }
}

}  // namespace
