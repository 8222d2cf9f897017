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
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(CheckOutputNames(areas, settings)); }),
              "area 0 \"a/b\" and area 1 \"a_b\" would both write out/a_b.osm.\nOutput file names are not unique.\n");
    areas.PopBack();
    areas[0].name = "areas";
    settings.writeSeparateContours = true;
    settings.poly = "polys";
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(CheckOutputNames(areas, settings)); }),
              "the area list areas.mp and area 0 \"areas\" would both write out/areas.mp.\n"
              "the area list areas.poly and area 0 \"areas\" would both write out/areas.poly.\n"
              "Output file names are not unique.\n");
}

}  // namespace
