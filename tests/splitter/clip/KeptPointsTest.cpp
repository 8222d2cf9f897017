// A pass keeps the node positions of its first reading for clipping, up to a
// limit, and reads only the rest again; the pass checker compares limits.
#include <gtest/gtest.h>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

// A node one map unit south-west of 0,0 is a position like any other, not
// one that is missing.
TEST(KeptPoints, PointNextToTheOriginIsKnown)
{
    CPassHarness pass({DegreeRect(-1, -1, 0, 1), DegreeRect(0, -1, 1, 1)});
    const TTestInput input = ParseInput("n1 -0.5 0.5; n2 -1e-7 -1e-7; n3 0.5 0.5; w10 1 2 3");
    EXPECT_EQ(ExpectSoundSplit(pass, input, "next to the origin").printed, "");
}

}  // namespace
