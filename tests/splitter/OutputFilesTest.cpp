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

// Two polygon files with one title, names of a split file that clash only
// once made safe, and an area named like a description file.
TEST(OutputFiles, ClashingOutputsAreNamed)
{
    const std::string none1 = "none", none2 = "none", list = "areas.list";
    struct TCase {
        const char* what;
        bool multiContour, separate, poly;
        std::vector<std::pair<const std::string*, std::string>> areas;
        const char* output;  // empty when the names are unique
    } cases[] = {
        {"titles, multi contour", true, false, true, {{&none1, "none_1"}, {&none1, "none_2"}, {&none2, "none_000000"}},
         "areas 0 - 1 \"none\" and area 2 \"none_000000\" would both write out/none.osm.\n"
         "Use --out-filenames=filename to name the outputs after their polygon files.\n"
         "Output file names are not unique.\n"},
        {"made safe", false, false, false, {{&list, "a/b"}, {&list, "a_b"}},
         "area 0 \"a/b\" and area 1 \"a_b\" would both write out/a_b.osm.\nOutput file names are not unique.\n"},
        {"description", false, true, true, {{&none1, "areas"}},
         "the area list areas.mp and area 0 \"areas\" would both write out/areas.mp.\n"
         "the area list areas.poly and area 0 \"areas\" would both write out/areas.poly.\n"
         "Output file names are not unique.\n"},
    };
    for (const TCase& c : cases) {
        TAreaList areas;
        for (const auto& [source, name] : c.areas)
            areas.EmplaceBack() = {source, name, {}};
        const CSettings settings{.outputDir = "out/", .poly = c.poly ? "polys" : "", .multiContour = c.multiContour,
                                 .writeSeparateContours = c.separate};
        bool unique = false;
        std::string output = test::CaptureStdout([&] { unique = CheckOutputNames(areas, settings); });
        EXPECT_EQ(output, c.output) << c.what;
        EXPECT_EQ(unique, output.empty()) << c.what;
    }
}

}  // namespace
