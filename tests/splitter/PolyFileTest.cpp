#include "splitter/PolyFile.h"

#include <filesystem>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "splitter/Options.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

const char kSquare[] = "germany\n1\n   0.0   0.0\n   0.0   1.0\n   1.0   1.0\n   1.0   0.0\n   0.0   0.0\nEND\nEND\n";

// The areas as "name: lon,lat ...;" in degrees.
std::string Text(const TAreaList& areas)
{
    std::ostringstream text;
    text.precision(10);
    for (const TArea& area : areas) {
        text << area.name << ":";
        for (CGeoPoint p : area.ring)
            text << " " << MapUnits::ToDegrees(p.x) << "," << MapUnits::ToDegrees(p.y);
        text << ";";
    }
    return text.str();
}

// Each section is an area, but one headed "!", a hole in the polygon before
// it; a file that adds nothing says why, and so does a bad point line, which
// takes back every area of its file.
TEST(PolyFile, SectionsBecomeAreasOrTheFileSaysWhyNot)
{
    test::CTempDir dir;
    const std::string path = dir / "p.poly";
    struct TCase {
        std::optional<std::string> text;  // none: no file
        std::string loaded;
    };
    std::vector<TCase> cases = {
        // One section is named by the file's title alone.
        {kSquare, "germany: 0,0 0,1 1,1 1,0 0,0;"},
        // Every other section is an area, named by its header as read; a hole
        // outside its polygon, or before any, is left out.
        {"\r\n  \t\r\ngermany\r\n!0\r\n 0 0\r\n 0 1\r\n 1 1\r\nEND\r\n1\r\n 0 0\r\n 0 1\r\n 1 1\r\n 0 0\r\nEND\r\n\r\n"
         "!2\r\n 2 2\r\n\r\n 2 3\r\n 3 3\r\n 2 2\r\nEND\r\n  3 east\r\n 5 5\r\n 5 6\r\n 6 6\r\n 5 5\r\nEND\r\nEND\r\n",
         "germany_1: 0,0 0,1 1,1 0,0;germany_  3 east: 5,5 5,6 6,6 5,5;" + path + ": hole \"!0\" lies in no polygon "
         "before it\n" + path + ": hole \"!2\" lies in no polygon before it\n"},
        // A hole across the border leaves a notch, of the polygon before it
        // only; one inside cuts its polygon in two, either side of its middle.
        {"t\n1\n0 0\n0 2\n2 2\n2 0\nEND\n!n\n1 1\n1 3\n3 3\n3 1\nEND\n2\n1 1\n1 3\n3 3\nEND\nEND\n",
         "t_1: 1,2 1,1 2,1 2,0 0,0 0,2 1,2;t_2: 1,1 1,3 3,3 1,1;"},
        {"t\n1\n0 0\n0 4\n4 4\n4 0\n0 0\nEND\n!h\n1 1\n1 2\n2 2\n2 1\n1 1\nEND\n!c\n-1 -1\n-1 5\n0.5 5\n0.5 -1\nEND",
         "t: 1.5,1 2,1 2,2 1.5,2 1.5,4 4,4 4,0 1.5,0 1.5,1;t: 0.5,0 0.5,4 1.5,4 1.5,2 1,2 1,1 1.5,1 1.5,0 0.5,0;"},
        // Open contours are closed, repeated points and small contours dropped.
        {"t\nopen\n 0 0\n 0 1\n 1 1\nEND\nclosed3\n 0 0\n 0 1\n 0 0\nEND\ntwo\n 0 0\n 1 1\nEND\n"
         "repeats\n 0 0\n 0 0\n 0 1\n 0 1\n 0 1\n 1 1\n 0 0\n 0 0\nEND\nEND\n",
         "t_open: 0,0 0,1 1,1 0,0;t_repeats: 0,0 0,1 1,1 0,0;"},
        // Missing ENDs are tolerated; nothing after the final END is read.
        {"t\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 5 5\n 5 6\n 6 6", "t_1: 0,0 0,1 1,1 0,0;t_2: 5,5 5,6 6,6 5,5;"},
        {"t\n1\n 0 0\n 0 1\n 1 1\nEND\nEND\n2\n 5 5\nnot a point\n", "t: 0,0 0,1 1,1 0,0;"},
        // Degrees in any number format; longitudes stay below 180 degrees.
        {"t\n1\n180 90\n180 -90\n-180 -90\n-180 90\n180 90\nEND\n2\n1.5e0 -0.25 trailing text\n2 -0.25\n2 1\nEND\n",
         "t_1: 179.9999999,90 179.9999999,-90 -180,-90 -180,90 179.9999999,90;t_2: 1.5,-0.25 2,-0.25 2,1 1.5,-0.25;"},
        // A contour across 180 degrees runs on past it, from either side.
        {"t\n1\n179 10\n-179 10\n-179 0\n179 0\nEND\n2\n-179 10\n-179 0\n179 0\n179 10\nEND\nEND\n",
         "t_1: 179,10 181,10 181,0 179,0 179,10;t_2: 181,10 181,0 179,0 179,10 181,10;"},
        {std::nullopt, "Cannot open " + path + ": No such file or directory\n"},
        {"", path + ": the file is empty\n"},
        {"title only\n", path + ": no contour of at least three points\n"},
        {"t\n1\n0 0\n1 1\nEND\n2\n0 0\n0 1\n0 0\nEND\n", path + ": no contour of at least three points\n"},
    };
    for (std::string bad : {" 0 one", "END ", " 7", " nan 0", " 180.0000001 0", " 0 90.5"})
        cases.push_back({"x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 0\n" + bad + "\n 1 1\nEND\nEND\n",
                         path + ": bad point line \"" + bad + "\"\n"});
    test::WriteFile(dir / "first.poly", kSquare);
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.text)
            test::WriteFile(path, *c.text);
        // After the areas of another file, which stay whatever happens.
        TSourceNames names;
        TAreaList areas;
        ASSERT_TRUE(LoadPolyFile(dir / "first.poly", names, areas, true));
        bool loaded = false;
        const std::string said = test::CaptureStdout([&] { loaded = LoadPolyFile(path, names, areas, true); });
        ASSERT_EQ(names.Count(), loaded ? 2u : 1u) << c.loaded;
        for (uint64_t i = 0; i < areas.Count(); ++i)
            EXPECT_EQ(areas[i].source, names[i == 0 ? 0 : 1].get()) << c.loaded;
        areas.Erase(0, 1);
        EXPECT_EQ(loaded ? Text(areas) + said : said, c.loaded);
    }
}

// Named after the file when not by its title; a directory without polygon
// files adds nothing and says so.
TEST(PolyFile, FileNameSourcesAndDirectories)
{
    test::CTempDir dir;
    test::WriteFile(dir / "de.south.poly", kSquare);
    std::filesystem::create_directory(dir / "none");
    test::WriteFile(dir / "none/.poly", kSquare);
    TSourceNames names;
    TAreaList areas;
    ASSERT_TRUE(LoadPolygons(dir / "de.south.poly", names, areas, false));
    EXPECT_EQ(*areas[0].source + " " + Text(areas), "de.south de.south: 0,0 0,1 1,1 1,0 0,0;");
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(LoadPolygons(dir / "none", names, areas, true)); }),
              dir / "none: no .poly files in the directory\n");
    EXPECT_TRUE(areas.Empty());

    // The entries ending in .poly in any case, in name order; a broken one adds nothing.
    test::WriteFile(dir / "none/b.poly", "bee\n1\n0 0\n0 1\n1 1\nEND\nEND\n");
    test::WriteFile(dir / "none/A.POLY", "ay\n1\n0 0\n0 1\n1 1\nEND\nEND\n");
    test::WriteFile(dir / "none/broken.poly", "broken\n1\n0 0\nbad\n");
    test::WriteFile(dir / "none/c.poly.txt", kSquare);
    test::CaptureStdout([&] { EXPECT_TRUE(LoadPolygons(dir / "none", names, areas, true)); });
    EXPECT_EQ(Text(areas), "ay: 0,0 0,1 1,1 0,0;bee: 0,0 0,1 1,1 0,0;");
}

// areas.poly: a section per area under the title. A contour file that
// cannot be created fails the writer, which writes the rest.
TEST(PolyFile, WritesAreasPoly)
{
    test::CTempDir dir;
    TAreaList areas;
    areas.EmplaceBack() = {nullptr, "one", RectangleRing(0, 0, MapUnits::kPerDegree, MapUnits::kPerDegree)};
    CSettings settings;
    settings.outputDir = dir.Path();
    settings.writeSeparateContours = true;
    settings.poly = "polys";
    std::filesystem::create_directory(dir / "one.poly");
    test::CaptureStdout([&] { EXPECT_FALSE(WriteAreasPoly(dir.Path(), "Areas", COutputPlan(areas, settings))); });
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"),
              "Areas\r\none\r\n       0.0000000       1.0000000\r\n       1.0000000       1.0000000\r\n"
              "       1.0000000       0.0000000\r\n       0.0000000       0.0000000\r\n"
              "       0.0000000       1.0000000\r\nEND\r\nEND\r\n");
}

}  // namespace
