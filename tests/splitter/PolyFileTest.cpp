#include "splitter/PolyFile.h"

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

const char kSquare[] = "germany\n"
                       "1\n"
                       "   0.0   0.0\n"
                       "   0.0   1.0\n"
                       "   1.0   1.0\n"
                       "   1.0   0.0\n"
                       "   0.0   0.0\n"
                       "END\n"
                       "END\n";

// The areas of a polygon file as "name: lon,lat ...;" per area, in degrees.
std::string Loaded(const std::string& text)
{
    test::CTempDir dir;
    test::WriteFile(dir / "p.poly", text);
    TSourceNames names;
    TAreaList areas;
    EXPECT_TRUE(LoadPolyFile(dir / "p.poly", names, areas, true)) << text;
    std::string loaded;
    for (const TArea& area : areas) {
        EXPECT_EQ(area.source, names.Back().get());
        loaded += area.name + ":";
        for (CGeoPoint p : area.ring) {
            char point[64];
            std::snprintf(point, sizeof point, " %.7f,%.7f", MapUnits::ToDegrees(p.x), MapUnits::ToDegrees(p.y));
            loaded += point;
        }
        loaded += ";";
    }
    EXPECT_EQ(names.Count(), areas.Empty() ? 0u : 1u);
    return loaded;
}

TEST(PolyFile, SectionsBecomeAreasClosedAndCleaned)
{
    const struct {
        std::string text, loaded;
    } cases[] = {
        // One section is named by the file's title alone.
        {kSquare, "germany: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 1.0000000,0.0000000 "
                  "0.0000000,0.0000000;"},
        // Every section is an area, whatever its header, taken as read.
        {"\r\n  \t\r\ngermany\r\n1\r\n 0 0\r\n 0 1\r\n 1 1\r\n 0 0\r\nEND\r\n\r\n"
         "!2\r\n 2 2\r\n\r\n 2 3\r\n 3 3\r\n 2 2\r\nEND\r\n"
         "  3 east\r\n 5 5\r\n 5 6\r\n 6 6\r\n 5 5\r\nEND\r\nEND\r\n",
         "germany_1: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 0.0000000,0.0000000;"
         "germany_!2: 2.0000000,2.0000000 2.0000000,3.0000000 3.0000000,3.0000000 2.0000000,2.0000000;"
         "germany_  3 east: 5.0000000,5.0000000 5.0000000,6.0000000 6.0000000,6.0000000 5.0000000,5.0000000;"},
        // Open contours are closed, repeated points dropped, contours of
        // fewer than three points dropped.
        {"t\nopen\n 0 0\n 0 1\n 1 1\nEND\nclosed3\n 0 0\n 0 1\n 0 0\nEND\ntwo\n 0 0\n 1 1\nEND\n"
         "repeats\n 0 0\n 0 0\n 0 1\n 0 1\n 0 1\n 1 1\n 0 0\n 0 0\nEND\nEND\n",
         "t_open: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 0.0000000,0.0000000;"
         "t_repeats: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 0.0000000,0.0000000;"},
        // Missing ENDs are tolerated; nothing after the final END is read.
        {"t\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 5 5\n 5 6\n 6 6",
         "t_1: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 0.0000000,0.0000000;"
         "t_2: 5.0000000,5.0000000 5.0000000,6.0000000 6.0000000,6.0000000 5.0000000,5.0000000;"},
        {"t\n1\n 0 0\n 0 1\n 1 1\nEND\nEND\n2\n 5 5\nnot a point\n",
         "t: 0.0000000,0.0000000 0.0000000,1.0000000 1.0000000,1.0000000 0.0000000,0.0000000;"},
        // Degrees in any number format; longitudes stay below 180 degrees.
        {"t\n1\n180 90\n180 -90\n-180 -90\n-180 90\n180 90\nEND\n"
         "2\n1.5e0 -0.25 trailing text\n2 -0.25\n2 1\nEND\nEND\n",
         "t_1: 179.9999999,90.0000000 179.9999999,-90.0000000 -180.0000000,-90.0000000 -180.0000000,90.0000000 "
         "179.9999999,90.0000000;t_2: 1.5000000,-0.2500000 2.0000000,-0.2500000 2.0000000,1.0000000 "
         "1.5000000,-0.2500000;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Loaded(c.text), c.loaded) << c.text;
}

TEST(PolyFile, BadPointLineFailsTheFileAndRemovesItsAreas)
{
    test::CTempDir dir;
    TSourceNames names;
    TAreaList areas;
    test::WriteFile(dir / "good.poly", kSquare);
    ASSERT_TRUE(LoadPolyFile(dir / "good.poly", names, areas, true));
    ASSERT_EQ(areas.Count(), 1u);

    const char* bad[] = {
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 0\n 0 one\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 0\n 0 1\n 1 1\nEND \nEND\n",  // "END " is a point line
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 0\n 7\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n nan 0\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 inf\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 180.0000001 0\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n -181 0\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 90.5\n",
        "x\n1\n 0 0\n 0 1\n 1 1\nEND\n2\n 0 -1e300\n",
    };
    for (const char* text : bad) {
        test::WriteFile(dir / "bad.poly", text);
        EXPECT_FALSE(LoadPolyFile(dir / "bad.poly", names, areas, true)) << text;
        ASSERT_EQ(areas.Count(), 1u) << text;
        EXPECT_EQ(names.Count(), 1u) << text;
        EXPECT_EQ(areas[0].source, names[0].get());
        EXPECT_EQ(areas[0].name, "germany");
    }
}

// Each file that adds nothing says why.
TEST(PolyFile, FilesWithoutAreasAddNothing)
{
    test::CTempDir dir;
    TSourceNames names;
    TAreaList areas;
    const std::string path = dir / "e.poly";
    const struct {
        const char* text;  // null: no file
        std::string said;
    } cases[] = {
        {nullptr, "Cannot open " + path + ": No such file or directory\n"},
        {"", path + ": the file is empty\n"},
        {"\n  \n\t\n", path + ": the file is empty\n"},
        {"title only\n", path + ": no contour of at least three points\n"},
        {"t\nEND\n", path + ": no contour of at least three points\n"},
        {"t\n1\n0 0\n1 1\nEND\n2\n0 0\n0 1\n0 0\nEND\n", path + ": no contour of at least three points\n"},
        {"t\n1\n0 0\n0 one\n", path + ": bad point line \"0 one\"\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.text != nullptr)
            test::WriteFile(path, c.text);
        bool loaded = true;
        EXPECT_EQ(test::CaptureStdout([&] { loaded = LoadPolyFile(path, names, areas, true); }), c.said);
        EXPECT_FALSE(loaded) << c.said;
    }
    EXPECT_TRUE(areas.Empty());
    EXPECT_TRUE(names.Empty());
    EXPECT_FALSE(LoadPolygons(dir / "missing.poly", names, areas, true));
}

TEST(PolyFile, FileNameSourceDropsDirectoryAndLastExtension)
{
    test::CTempDir dir;
    std::filesystem::create_directory(dir / "dir");
    test::WriteFile(dir / "dir/de.south.poly", kSquare);
    test::WriteFile(dir / "dir/plain", kSquare);
    TSourceNames names;
    TAreaList areas;
    ASSERT_TRUE(LoadPolyFile(dir / "dir/de.south.poly", names, areas, false));
    ASSERT_TRUE(LoadPolyFile(dir / "dir/plain", names, areas, false));
    ASSERT_TRUE(LoadPolyFile(dir / "dir/de.south.poly", names, areas, true));
    ASSERT_EQ(areas.Count(), 3u);
    EXPECT_EQ(*areas[0].source, "de.south");
    EXPECT_EQ(areas[0].name, "de.south");
    EXPECT_EQ(areas[1].name, "plain");
    EXPECT_EQ(areas[2].name, "germany");
    EXPECT_EQ(names.Count(), 3u);
}

TEST(PolyFile, DirectoryLoadsPolyEntriesInNameOrder)
{
    test::CTempDir dir;
    test::WriteFile(dir / "b.poly", "bee\n1\n0 0\n0 1\n1 1\nEND\nEND\n");
    test::WriteFile(dir / "A.POLY", "ay\n1\n0 0\n0 1\n1 1\nEND\n2\n3 3\n3 4\n4 4\nEND\nEND\n");
    test::WriteFile(dir / "broken.poly", "broken\n1\n0 0\n0 1\n1 1\nEND\n2\nbad\n");
    test::WriteFile(dir / ".poly", "dot\n1\n0 0\n0 1\n1 1\nEND\nEND\n");
    test::WriteFile(dir / "c.poly.txt", "txt\n1\n0 0\n0 1\n1 1\nEND\nEND\n");
    std::filesystem::create_directory(dir / "sub");
    test::WriteFile(dir / "sub/d.poly", "deep\n1\n0 0\n0 1\n1 1\nEND\nEND\n");

    TSourceNames names;
    TAreaList areas;
    areas.EmplaceBack().name = "stale";
    ASSERT_TRUE(LoadPolygons(dir.Path(), names, areas, true));
    ASSERT_EQ(areas.Count(), 3u);
    EXPECT_EQ(areas[0].name, "ay_1");
    EXPECT_EQ(areas[1].name, "ay_2");
    EXPECT_EQ(areas[2].name, "bee");
    ASSERT_EQ(names.Count(), 2u);
    EXPECT_EQ(areas[0].source, names[0].get());
    EXPECT_EQ(areas[2].source, names[1].get());

    // Without the trailing separator the same.
    std::string path = dir.Path();
    path.pop_back();
    TAreaList again;
    ASSERT_TRUE(LoadPolygons(path, names, again, true));
    EXPECT_EQ(again.Count(), 3u);
}

TEST(PolyFile, DirectoryWithoutPolyFilesYieldsNothing)
{
    test::CTempDir dir;
    TSourceNames names;
    TAreaList areas;
    EXPECT_FALSE(LoadPolygons(dir.Path(), names, areas, true));
    test::WriteFile(dir / "notes.txt", kSquare);
    test::WriteFile(dir / ".poly", kSquare);
    bool loaded = true;
    EXPECT_EQ(test::CaptureStdout([&] { loaded = LoadPolygons(dir.Path(), names, areas, true); }),
              dir.Path() + ": no .poly files in the directory\n");
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(areas.Empty());
    EXPECT_TRUE(names.Empty());
}

}  // namespace
