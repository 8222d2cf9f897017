// Ways cut at area borders, closed along them and joined into rings: shapes
// that once came out wrong, each checked against what every split must give.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

// A square from 0.5 to 1.5 east and 0.25 to 0.75 north, cut by the meridian 1.
const std::string kSquare = "n1 0.5 0.25; n2 0.5 0.75; n3 1.5 0.75; n4 1.5 0.25;";

TEST(ClipContext, CutShapesStayWholeAndClosed)
{
    const struct {
        const char* name;
        std::string input;
        const char* printed = "";
    } shapes[] = {
        {"a square drawn counter-clockwise", kSquare + "w10 2 1 4 3 2 building=yes"},
        {"lakes of one and of two ways, an island, a ring that does not close",
         kSquare + "n11 0.25 0.0625; n12 0.25 0.1875; n13 1.75 0.1875; n14 1.75 0.0625; n15 0.3125 0.09375;"
                   "n16 0.3125 0.15625; n17 0.4375 0.15625; n18 0.4375 0.09375; n21 0.5 0.875; n22 1.5 0.875;"
                   "w10 1 2 3 4 1; w20 11 12 13 note=north; w21 11 14 13 note=south; w22 15 16 17 18 15; w30 21 22;"
                   "r100 w10:outer type=multipolygon natural=water;"
                   "r101 w20:outer w21:outer w22:inner type=multipolygon;"
                   "r102 w30:outer w31:outer type=multipolygon",
         "Way 31 is missing\nMultipolygon 102 has unclosed ring, way 30\n"},
        {"a lake with an island, both cut: a notch",
         "n1 0.25 0.125; n2 0.25 0.875; n3 1.75 0.875; n4 1.75 0.125; n5 0.75 0.375; n6 0.75 0.625; n7 1.25 0.625;"
         "n8 1.25 0.375; w10 1 2 3 4 1; w11 5 6 7 8 5; r100 w10:outer w11:inner type=multipolygon"},
        // The western half of the boundary follows a road; the fence is
        // closed, the field below it is hedged.
        {"a boundary along a road, a closed fence, a hedged field",
         kSquare + "n5 0.75 0.375; n6 0.75 0.625; n7 1.25 0.625; n8 1.25 0.375; n9 0.75 0.3125; n10 0.75 0.5625;"
                   "n11 1.25 0.5625; n12 1.25 0.3125;"
                   "w10 1 2 3 boundary=administrative admin_level=8 highway=residential;"
                   "w11 3 4 1 boundary=administrative admin_level=8; w20 5 6 7 8 5 barrier=fence;"
                   "w21 9 10 11 12 9 barrier=hedge landuse=meadow;"
                   "r100 w10:outer w11:outer boundary=administrative admin_level=8 type=boundary"},
    };
    for (const auto& shape : shapes) {
        CPassHarness pass(TwoAreas());
        EXPECT_EQ(ExpectSoundSplit(pass, ParseInput(shape.input), shape.name).printed, shape.printed) << shape.name;
    }
}

// The area holding border nodes gets, of a building beyond them, a piece with
// no area: it must still reach those nodes, as a line.
TEST(ClipContext, PiecesAlongTheBorderStayLinesThroughTheirNodes)
{
    const char* sides = "n1 1 0.2; n2 1 0.4; n3 1.5 0.4; n4 1.5 0.2; n5 1 0.6; n6 1 0.8; n7 0.5 0.8; n8 0.5 0.6;"
                        "w10 1 2 3 4 1 building=yes; w11 5 6 7 8 5 building=yes";
    // Dips into the west twice and runs along the meridian between the dips.
    const char* dips = "n1 1.5 0.1; n2 0.5 0.1; n3 0.5 0.2; n4 1.2 0.2; n5 1 0.3; n6 1 0.5; n7 1.2 0.6; n8 0.5 0.7;"
                       "n9 0.5 0.8; n10 1.5 0.8; w20 1 2 3 4 5 6 7 8 9 10 1 landuse=meadow";
    for (const char* input : {sides, dips}) {
        CPassHarness pass(TwoAreas());
        ExpectSoundSplit(pass, ParseInput(input), "along the border");
        const std::vector<OSM::TWay>& west = pass.Output(0).ways;
        EXPECT_TRUE(std::any_of(west.begin(), west.end(), [](const OSM::TWay& way) {
            return way.nodeRefs.Count() == 2 && way.nodeRefs[0] != way.nodeRefs[1] && way.nodeRefs[0] < 10;
        })) << "no line through the border nodes";
    }
}

}  // namespace
