// One pass over tiny synthetic inputs: which area gets which node, way,
// piece and relation, checked against what every split must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/OSM/DataReader.h"
#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

// Quarters of a 2 x 2 degree block.
std::vector<TRing> FourAreas()
{
    return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(0, 1, 1, 2), DegreeRect(1, 1, 2, 2)};
}

// A 3 x 3 degree block in nine one-degree tiles: the middle one touches no
// way around it.
std::vector<TRing> NineAreas()
{
    std::vector<TRing> rings;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            rings.push_back(DegreeRect(column, row, column + 1, row + 1));
    return rings;
}

// A road, a lake of one way (its refs given) and one of two ways around 180
// degrees with an island across it, nodes on both names of the meridian.
std::string AcrossTheAntimeridian(const std::string& lake)
{
    return "n1 172 5.25; n2 180 5.25; n3 -179 5.75; n4 -180 6.25; n5 -172 6.25; n11 178 4; n12 -178 4; n13 -178 2;"
           "n14 178 2; n21 176 8; n22 -176 8; n23 -176 7; n24 176 7; n30 -180 9.5; n31 180 0.5; n32 179.5 7.75;"
           "n33 -179.5 7.75; n34 -179.5 7.25; n35 179.5 7.25;"
           "w100 1 2 3 4 5 highway=primary; w101 " + lake + " natural=water; w102 21 22 23; w103 23 24 21;"
           "w104 32 33 34 35 32; r200 w102:outer w103:outer w104:inner type=multipolygon";
}

TEST(PassDistributor, SmallInputsSplitSoundly)
{
    const struct {
        const char* name;
        std::string input;
        std::vector<TRing> rings = TwoAreas();
        const char* printed = "";
    } cases[] = {
        {"a path along the shared border, a wall on it",
         "n1 0.5 0.25; n2 1 0.25; n3 1 0.75; n4 1.5 0.75; w10 1 2 3 4 highway=path; w11 2 3 barrier=wall"},
        {"areas of 340 degrees",  // their edges taken the short way would miss the cut at 10 east
         "n1 10 0.5; n2 10 1.5; w10 1 2 highway=primary", {DegreeRect(-170, 0, 170, 1), DegreeRect(-170, 1, 170, 2)}},
        {"ways of one node, of one node twice, of none",
         "n1 0.5 0.5; n2 1.5 0.5; n3 3 0.5; w10 1 name=a; w11 3; w12 2 2; w13; w14 2"},
        {"the largest ids that fit",
         "n140737488355326 1.5 0.5; n140737488355327 0.5 0.5;"
         "w140737488355327 140737488355327 140737488355326 highway=x; r140737488355327 w140737488355327"},
        {"ways whose nodes the input lacks",
         "n1 0.5 0.5; n2 1.5 0.5; n4 0.5 91; n5 200 0.5; n6 0.25 0.25; n7 1.25 0.25; n8 1.25 0.75; n9 0.2 0.8;"
         "n10 0.3 0.8; n11 0.25 0.9; w20 1 2 999 highway=road; w21 1 4 highway=road; w22 5 1 highway=road;"
         "w23 6 7 8 998 6 building=yes; w24 1 2 highway=road; w25 1 6 997 7 8 highway=path;"
         "w26 9 10 996 11 9 landuse=grass; r30 w25:a w23:b",
         TwoAreas(), "Node 999 is missing\nNode 4 is missing\nNode 5 is missing\nNode 998 is missing\n"
         "Node 997 is missing\nNode 996 is missing\n"},
        {"a way along a border from a corner, to a node of one tile", "n1 1 1.5; n2 1 0.5; w10 1 2", FourAreas()},
        {"a way along a border turning off it", "n1 1 1; n2 1.5 1; n3 1.5 1.5; w10 1 2 3", FourAreas()},
        {"across 180: tiles meeting there", AcrossTheAntimeridian("11 12 13 14 11"),
         {DegreeRect(170, 0, 180, 10), DegreeRect(-180, 0, -170, 10)}},
        {"across 180: a tile across it", AcrossTheAntimeridian("11 14 13 12 11"),
         {DegreeRect(165, 0, 177, 10), DegreeRect(177, 0, -177, 10), DegreeRect(-177, 0, -165, 10)}},
        // Shapes that once came out wrong.
        // The meadow and the lake are areas of their own as well as rings.
        {"a meadow with a lake, both cut: a notch",
         "n1 0.25 0.125; n2 0.25 0.875; n3 1.75 0.875; n4 1.75 0.125; n5 0.75 0.375; n6 0.75 0.625; n7 1.25 0.625;"
         "n8 1.25 0.375; w10 1 2 3 4 1 landuse=meadow; w11 5 6 7 8 5 natural=water;"
         "r100 w10:outer w11:inner type=multipolygon landuse=forest"},
        {"a ring of two ways meeting at two nodes of one place",
         "n1 0.5 0.25; n2 0.5 0.75; n3 1.5 0.75; n4 1.5 0.25; n5 1.5 0.25; w10 1 2 3 4; w11 5 1;"
         "r100 w10:outer w11:outer type=multipolygon"},
        // The multipolygon's ring, of three ways, runs counter-clockwise.
        {"a tile inside a multipolygon and a closed way",
         "n1 0.5 0.5; n2 0.5 2.5; n3 2.5 2.5; n4 2.5 0.5; n5 0.25 0.25; n6 0.25 2.75; n7 2.75 2.75; n8 2.75 0.25;"
         "w10 1 4; w11 4 3 2; w12 2 1; w13 5 6 7 8 5 landuse=grass; r100 w10:outer w11:outer w12:outer "
         "type=multipolygon", NineAreas()},
        // Cut, the first touches itself at node 2, the second runs out to node 10 and back.
        {"closed ways that are no simple rings",
         "n1 0.5 0.25; n2 1.25 0.5; n3 1.5 0.25; n4 1.5 0.75; n5 0.5 0.75; n6 1.75 0.5; n7 0.25 0.1; n8 1.5 0.1;"
         "n9 1.5 0.2; n10 1.75 0.15; n11 0.25 0.2; w10 1 2 3 6 4 2 5 1 building=yes; w11 7 8 9 10 9 11 7 building=roof"},
        // The western half of the boundary follows a road; the fence is
        // closed, the field below it is hedged.
        {"a boundary along a road, a closed fence, a hedged field",
         "n1 0.5 0.25; n2 0.5 0.75; n3 1.5 0.75; n4 1.5 0.25; n5 0.75 0.375; n6 0.75 0.625; n7 1.25 0.625;"
         "n8 1.25 0.375; n9 0.75 0.3125; n10 0.75 0.5625; n11 1.25 0.5625; n12 1.25 0.3125;"
         "w10 1 2 3 boundary=administrative admin_level=8 highway=residential;"
         "w11 3 4 1 boundary=administrative admin_level=8; w20 5 6 7 8 5 barrier=fence;"
         "w21 9 10 11 12 9 barrier=hedge landuse=meadow;"
         "r100 w10:outer w11:outer boundary=administrative admin_level=8 type=boundary"},
    };
    for (const auto& c : cases) {
        CPassHarness pass(c.rings);
        EXPECT_EQ(ExpectSoundSplit(pass, ParseInput(c.input), c.name).printed, c.printed) << c.name;
    }
}

TEST(PassDistributor, RandomInputsSplitSoundly)
{
    for (uint32_t seed = 0; seed < 600 && !HasFailure(); ++seed) {
        std::mt19937 random(seed);
        CPassHarness pass(FourAreas(), seed % 4 == 3 ? std::vector<uint32_t>{0, 0, 1, 1} : std::vector<uint32_t>{});
        ExpectSoundSplit(pass, RandomInput(random), "seed " + std::to_string(seed));
    }
}

TEST(PassDistributor, OverlappingAreasGiveSelfContainedOutputs)
{
    // The second area covers the east half of the first and more: ways enter
    // it from the overlap without crossing its border.
    for (uint32_t seed = 0; seed < 100 && !HasFailure(); ++seed) {
        std::mt19937 random(seed);
        CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(0.5, 0.25, 1.5, 1.25)});
        ExpectSoundSplit(pass, RandomInput(random), "seed " + std::to_string(seed), true);
    }
}

// Every parent has a smaller id than its child, the order that needs the most
// propagation.
TEST(PassDistributor, DeepChainOfNestedRelationsIsCopiedWhole)
{
    constexpr int64_t kDepth = 100000;
    std::vector<TTestRelation> relations;
    for (int64_t k = 1; k < kDepth; ++k)
        relations.push_back({k, {{OSM::kRelation, k + 1, ""}}});
    relations.push_back({kDepth, {{OSM::kNode, 1, ""}}});
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(PbfInput({NodeAt(1, 0.5, 0.5)}, {}, relations)).ok);
    const CRecordingWriter& west = pass.Output(0);
    ASSERT_EQ(west.relations.size(), size_t(kDepth));
    for (int64_t k = 1; k <= kDepth; ++k) {
        const OSM::TRelation& copy = west.relations[size_t(k - 1)];
        ASSERT_TRUE(copy.id == k && copy.members.Count() == 1 && copy.members[0].ref == (k < kDepth ? k + 1 : 1)) << k;
    }
    EXPECT_TRUE(pass.Output(1).relations.empty());
}

TEST(PassDistributor, MalformedInputsEndTheRun)
{
    auto blobs = [](const std::string& text) { return DataBlobs(ParseInput(text)); };
    const std::string header = HeaderBlob(), nodes = blobs("n1 0.5 0.5; n2 1.5 0.5"), ways = blobs("w10 1 2");
    // Negative ids come first, by absolute value.
    const std::string negative = "n0 0.5 0.5; n-1 0.5 0.5; n-2 1.5 0.5;";
    const std::string inputs[] = {
        // Ids that do not fit in 48 bits.
        PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(int64_t(1) << 47, 5, 5)}),
        // Entities out of order: tiles written in input order would not be sorted.
        header + nodes + ways + blobs("n3 0.25 0.5"),
        header + nodes + blobs(negative),
    };
    for (const std::string& input : inputs) {
        CPassHarness pass(TwoAreas());
        EXPECT_THROW(pass.Run(input), OSM::CDataReader::CBadFileException) << &input - inputs;
    }
    CPassHarness pass(TwoAreas());
    ExpectSoundSplit(pass, ParseInput(negative + "n1 0.5 0.5; n2 1.5 0.5; w10 1 2; r20 n1"), "negative ids");
}

}  // namespace
