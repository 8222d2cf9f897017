#include "splitter/OutputFiles.h"

#include <string>

#include <gtest/gtest.h>

#include "splitter/Options.h"
#include "tests/support/TestSupport.h"

namespace {

// Names from polygon titles are hostile input: no way out of the directory,
// no control characters, never empty.
TEST(OutputFiles, SafeFileNamesStayInTheirDirectory)
{
    for (const auto& [name, safe] : {std::pair{"..", "__"}, {".hidden", "_hidden"}, {"a/b\\c", "a_b_c"},
                                     {"tab\there\x7f", "tab_here_"}, {"", "_"}, {"K\xc3\xb6ln.x", "K\xc3\xb6ln.x"}})
        EXPECT_EQ(SafeFileName(name), safe) << name;
}

// Areas of one source share a file only with multi-contour; every file is
// named once, safely, and each area finds its group.
TEST(OutputFiles, PlanGroupsTheAreasAndNamesTheirFiles)
{
    const std::string one = "one", two = "two";
    TAreaList areas;
    for (const auto& [source, name] : {std::pair{&one, "a"}, {&one, "b"}, {nullptr, "c/d"}, {&two, ".e"}})
        areas.EmplaceBack() = {source, name, {}};
    const struct {
        bool multiContour, separate;
        const char* files;  // per group: range, label, tile, contour; per area: its group, its .poly
    } cases[] = {
        {false, false, "0-1 a o/a.osm |1-2 b o/b.osm |2-3 c/d o/c_d.osm |3-4 .e o/_e.osm |0 1 2 3 "},
        {true, true,
         "0-2 one o/one.osm.pbf o/one.mp|2-3 c/d o/c_d.osm.pbf o/c_d.mp|3-4 two o/two.osm.pbf o/two.mp|"
         "0 o/a.poly0 o/b.poly2 o/c_d.poly3 o/_e.poly"},
    };
    for (const auto& c : cases) {
        CSettings settings;
        settings.outputDir = "o/";
        settings.multiContour = c.multiContour;
        settings.pbf = settings.writeSeparateContours = c.separate;
        settings.poly = c.separate ? "p" : "";
        const COutputPlan plan(areas, settings);
        std::string files;
        for (const TAreaGroup& g : plan.Groups())
            files += std::to_string(g.first) + "-" + std::to_string(g.last) + " " + *g.label + " " + g.tile + " " +
                     g.contour + "|";
        for (uint64_t i = 0; i < areas.Count(); ++i)
            files += std::to_string(plan.GroupOf(i).first) + " " + plan.PolyContour(i);
        EXPECT_EQ(files, c.files);
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
