#include "splitter/OutputFiles.h"

#include <string>

#include <gtest/gtest.h>

#include "splitter/Options.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

// Areas of one source share a file only with multi-contour. Names from
// polygon titles are hostile input: every file stays in its directory (no way
// out, no control characters, never empty).
TEST(OutputFiles, PlanGroupsTheAreasAndNamesTheirFilesSafely)
{
    const std::string one = "one", two = "two";
    TAreaList areas;
    for (const auto& [source, name] :
         {std::pair{&one, "K\xc3\xb6ln.x"}, {&one, ".."}, {nullptr, "c/d\\e"}, {&two, ".\tx\x7f"}, {nullptr, ""}})
        areas.EmplaceBack() = {source, name, {}};
    // With and without multi-contour, .pbf and separate contours; per group:
    // range, label, tile, contour.
    for (const auto& [on, expected] :
         {std::pair{false, "0-1 K\xc3\xb6ln.x K\xc3\xb6ln.x.osm |1-2 .. __.osm |2-3 c/d\\e c_d_e.osm |"
                           "3-4 .\tx\x7f __x_.osm |4-5  _.osm |"},
          {true, "0-2 one one.osm.pbf one.mp|2-3 c/d\\e c_d_e.osm.pbf c_d_e.mp|3-4 two two.osm.pbf two.mp|"
                 "4-5  _.osm.pbf _.mp|"}}) {
        CSettings settings;
        settings.multiContour = settings.pbf = settings.writeSeparateContours = on;
        const COutputPlan plan(areas, settings);
        std::string files;
        for (const TAreaGroup& g : plan.Groups())
            files += std::to_string(g.first) + "-" + std::to_string(g.last) + " " + *g.label + " " + g.tile + " " +
                     g.contour + "|";
        EXPECT_EQ(files, expected);
    }
}

// Names that clash only once made safe, and a separate contour file that
// would overwrite a description file, are refused before anything is written.
TEST(OutputFiles, ClashingOutputsAreNamed)
{
    const std::string list = "areas.list";
    CSettings settings;
    settings.outputDir = "out/";
    TAreaList areas;
    areas.EmplaceBack() = {&list, "a/b", {}};
    areas.EmplaceBack() = {&list, "a_b", {}};
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(CheckOutputNames(COutputPlan(areas, settings), settings)); }),
              "area 0 \"a/b\" and area 1 \"a_b\" would both write out/a_b.osm.\nOutput file names are not unique.\n");
    areas.PopBack();
    areas[0].name = "areas";
    settings.writeSeparateContours = true;
    settings.poly = "polys";
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(CheckOutputNames(COutputPlan(areas, settings), settings)); }),
              "the area list areas.mp and area 0 \"areas\" would both write out/areas.mp.\n"
              "the area list areas.poly and area 0 \"areas\" would both write out/areas.poly.\n"
              "Output file names are not unique.\n");
}

}  // namespace
