#include "splitter/AreaDescriptions.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "splitter/PolyFile.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int32_t kDegree = MapUnits::kPerDegree;

const char kMPHeader[] = "[IMG ID]\r\nLevels=2\r\nLevel0=24\r\nLevel1=8\r\n[END]\r\n";

TRing Ring(std::initializer_list<CGeoPoint> points)
{
    TRing ring;
    for (const CGeoPoint& p : points)
        ring.PushBack(p);
    return ring;
}

TRing UnitSquare() { return Ring({{0, 0}, {0, kDegree}, {kDegree, kDegree}, {kDegree, 0}, {0, 0}}); }

void AddArea(TAreaList& areas, const std::string* source, std::string name, TRing ring)
{
    TArea& area = areas.EmplaceBack();
    area.source = source;
    area.name = std::move(name);
    area.ring = std::move(ring);
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// Parses the KML as XML and returns "placemarks multigeometries polygons",
// or an empty text when it is not well-formed.
std::string KMLCounts(const std::string& path)
{
    const std::string command =
        "/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E\n"
        "r = E.parse(sys.argv[1]).getroot()\n"
        "n = \".//{http://www.opengis.net/kml/2.2}\"\n"
        "print(len(r.findall(n + \"Placemark\")), len(r.findall(n + \"MultiGeometry\")), "
        "len(r.findall(n + \"Polygon\")))' " +
        path + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    ::pclose(pipe);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

const std::string kKMLHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                             "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
                             "  <Document>\r\n"
                             "    <Style id=\"polyStyle\">\r\n"
                             "      <LineStyle>\r\n"
                             "        <width>1.5</width>\r\n"
                             "      </LineStyle>\r\n"
                             "      <PolyStyle>\r\n"
                             "        <color>ffffffff</color>\r\n"
                             "        <colorMode>random</colorMode>\r\n"
                             "      </PolyStyle>\r\n"
                             "    </Style>\r\n";

const std::string kSquarePoints = "0.000000,0.000000 0.000000,1.000000 1.000000,1.000000 1.000000,0.000000 "
                                  "0.000000,0.000000 ";

TEST(AreaDescriptions, KMLOfOneArea)
{
    test::CTempDir dir;
    TAreaList areas;
    std::string source = "de";
    AddArea(areas, &source, "one", UnitSquare());
    ASSERT_TRUE(WriteKML(dir / "areas.kml", areas, "", false));
    EXPECT_EQ(test::ReadFile(dir / "areas.kml"), kKMLHead + "    <Placemark>\r\n"
                                                           "      <name>one</name>\r\n"
                                                           "      <styleUrl>#polyStyle</styleUrl>\r\n"
                                                           "      <description>![CDATA[one]]</description>\r\n"
                                                           "      <Polygon>\r\n"
                                                           "        <outerBoundaryIs>\r\n"
                                                           "          <LinearRing>\r\n"
                                                           "            <coordinates>\r\n" +
                                                     kSquarePoints + std::string(12, ' ') +
                                                     "</coordinates>\r\n"
                                                     "          </LinearRing>\r\n"
                                                     "        </outerBoundaryIs>\r\n"
                                                     "      </Polygon>\r\n"
                                                     "    </Placemark>\r\n"
                                                     "  </Document>\r\n"
                                                     "</kml>\r\n");
    EXPECT_EQ(KMLCounts(dir / "areas.kml"), "1 0 1");

    TAreaList none;
    ASSERT_TRUE(WriteKML(dir / "empty.kml", none, "", true));
    EXPECT_EQ(test::ReadFile(dir / "empty.kml"), kKMLHead + "  </Document>\r\n</kml>\r\n");
}

TEST(AreaDescriptions, KMLEscapesTheDescriptionOfEveryPlacemark)
{
    test::CTempDir dir;
    TAreaList areas;
    AddArea(areas, nullptr, "a&b", UnitSquare());
    AddArea(areas, nullptr, "c", UnitSquare());
    ASSERT_TRUE(WriteKML(dir / "k.kml", areas, "R&D <\"x\"> 'y'", false));
    const std::string kml = test::ReadFile(dir / "k.kml");
    EXPECT_EQ(CountOf(kml, "<description>![CDATA[R&amp;D &lt;&quot;x&quot;&gt; &apos;y&apos;]]</description>\r\n"), 2u);
    EXPECT_EQ(CountOf(kml, "<name>a&amp;b</name>"), 1u);
    EXPECT_EQ(KMLCounts(dir / "k.kml"), "2 0 2");

    // No fixed limit on the formatted description.
    const std::string longText(100000, 'x');
    ASSERT_TRUE(WriteKML(dir / "long.kml", areas, longText, false));
    EXPECT_EQ(CountOf(test::ReadFile(dir / "long.kml"), "![CDATA[" + longText + "]]"), 2u);
}

TEST(AreaDescriptions, MultiContourGroupsRunsOfOneSource)
{
    test::CTempDir dir;
    std::string de = "germany", fr = "france";
    TAreaList areas;
    AddArea(areas, &de, "germany_1", UnitSquare());
    AddArea(areas, &de, "germany_2", UnitSquare());
    AddArea(areas, &de, "germany_3", UnitSquare());
    AddArea(areas, nullptr, "000001", UnitSquare());
    AddArea(areas, nullptr, "000002", UnitSquare());
    AddArea(areas, &fr, "france", UnitSquare());

    ASSERT_TRUE(WriteKML(dir / "multi.kml", areas, "", true));
    const std::string kml = test::ReadFile(dir / "multi.kml");
    EXPECT_EQ(KMLCounts(dir / "multi.kml"), "4 4 6");
    EXPECT_EQ(CountOf(kml, "<name>germany</name>"), 1u);
    EXPECT_EQ(CountOf(kml, "<name>000001</name>"), 1u);
    EXPECT_EQ(CountOf(kml, "<name>000002</name>"), 1u);
    EXPECT_EQ(CountOf(kml, "<description>![CDATA[000002]]</description>"), 1u);
    EXPECT_EQ(CountOf(kml, "      <MultiGeometry>\r\n        <Polygon>\r\n"), 4u);
    EXPECT_EQ(CountOf(kml, kSquarePoints + std::string(14, ' ') + "</coordinates>\r\n"), 6u);

    ASSERT_TRUE(WriteKML(dir / "single.kml", areas, "", false));
    EXPECT_EQ(KMLCounts(dir / "single.kml"), "6 0 6");

    ASSERT_TRUE(WriteMP(dir.Path(), areas, true, true));
    const std::string data0 = "\r\nData0=(1.000000,0.000000),(1.000000,1.000000),(0.000000,1.000000),(0.000000,0.000000)";
    const std::string germany = "\r\n[POLYGON]\r\nLabel=germany" + data0 + data0 + data0 + "\r\n[END]\r\n";
    const std::string outer1 = "\r\n[POLYGON]\r\nLabel=000001" + data0 + "\r\n[END]\r\n";
    const std::string outer2 = "\r\n[POLYGON]\r\nLabel=000002" + data0 + "\r\n[END]\r\n";
    const std::string france = "\r\n[POLYGON]\r\nLabel=france" + data0 + "\r\n[END]\r\n";
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"), kMPHeader + germany + outer1 + outer2 + france);
    EXPECT_EQ(test::ReadFile(dir / "germany.mp"), kMPHeader + germany);
    EXPECT_EQ(test::ReadFile(dir / "000001.mp"), kMPHeader + outer1);
    EXPECT_EQ(test::ReadFile(dir / "france.mp"), kMPHeader + france);
    EXPECT_FALSE(test::FileExists(dir / "germany_1.mp"));

    // areas.poly and its contour files go area by area, grouped or not.
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    const std::string poly = test::ReadFile(dir / "areas.poly");
    EXPECT_EQ(CountOf(poly, "END\r\n"), 7u);  // one per area and the final one
    EXPECT_EQ(CountOf(poly, "\r\n000001\r\n"), 1u);
    EXPECT_TRUE(test::FileExists(dir / "germany_2.poly"));
    EXPECT_TRUE(test::FileExists(dir / "000002.poly"));
    EXPECT_FALSE(test::FileExists(dir / "germany.poly"));
}

TEST(AreaDescriptions, MPOfOneAreaLeavesOutTheFirstPoint)
{
    test::CTempDir dir;
    TAreaList areas;
    std::string source = "de";
    AddArea(areas, &source, "one", UnitSquare());
    ASSERT_TRUE(WriteMP(dir.Path(), areas, false, false));
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"),
              std::string(kMPHeader) +
                  "\r\n[POLYGON]\r\nLabel=one\r\n"
                  "Data0=(1.000000,0.000000),(1.000000,1.000000),(0.000000,1.000000),(0.000000,0.000000)\r\n"
                  "[END]\r\n");
    EXPECT_FALSE(test::FileExists(dir / "one.mp"));

    TAreaList none;
    ASSERT_TRUE(WriteMP(dir.Path(), none, true, true));
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"), kMPHeader);
}

TEST(AreaDescriptions, PolyOfOneAreaEndsTwice)
{
    test::CTempDir dir;
    TAreaList areas;
    std::string source = "de";
    AddArea(areas, &source, "one", UnitSquare());
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    const std::string expected = "Areas\r\n"
                                 "one\r\n"
                                 "       0.0000000       0.0000000\r\n"
                                 "       0.0000000       1.0000000\r\n"
                                 "       1.0000000       1.0000000\r\n"
                                 "       1.0000000       0.0000000\r\n"
                                 "       0.0000000       0.0000000\r\n"
                                 "END\r\n"
                                 "END\r\n";
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"), expected);
    EXPECT_EQ(test::ReadFile(dir / "one.poly"), expected);
}

TEST(AreaDescriptions, PolySectionsShareOneTitleAndOneFinalEnd)
{
    test::CTempDir dir;
    TAreaList areas;
    AddArea(areas, nullptr, "a", Ring({{-kDegree / 2, 0}, {0, -3 * kDegree}, {-kDegree / 2, 0}}));
    AddArea(areas, nullptr, "b", Ring({{MapUnits::kMaxLon, MapUnits::k90}, {MapUnits::kMaxLon, MapUnits::k90}}));
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "My areas", areas, false));
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"), "My areas\r\n"
                                                  "a\r\n"
                                                  "      -0.5000000       0.0000000\r\n"
                                                  "       0.0000000      -3.0000000\r\n"
                                                  "      -0.5000000       0.0000000\r\n"
                                                  "END\r\n"
                                                  "b\r\n"
                                                  "     179.9999999      90.0000000\r\n"
                                                  "     179.9999999      90.0000000\r\n"
                                                  "END\r\n"
                                                  "END\r\n");
    EXPECT_FALSE(test::FileExists(dir / "a.poly"));

    TAreaList none;
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", none, false));
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"), "");
}

TEST(AreaDescriptions, AreasPolyLoadsBackAsTheSameAreas)
{
    test::CTempDir dir;
    TAreaList areas;
    AddArea(areas, nullptr, "000001",
            Ring({{-1509949440, -754974720}, {-1509949440, 754974720}, {1509949439, 754974720},
                  {1509949439, -754974720}, {-1509949440, -754974720}}));
    AddArea(areas, nullptr, "000002",
            Ring({{12345677, -98765433}, {12345679, 1}, {87654321, -1}, {-7, -98765433}, {12345677, -98765433}}));
    AddArea(areas, nullptr, "000003", Ring({{-1, 3}, {5, 5}, {9, -2}, {-1, 3}}));
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));

    TSourceNames names;
    TAreaList loaded;
    ASSERT_TRUE(LoadPolygons(dir / "areas.poly", names, loaded, true));
    ASSERT_EQ(loaded.Count(), areas.Count());
    for (uint64_t a = 0; a < areas.Count(); ++a) {
        EXPECT_EQ(loaded[a].name, "Areas_" + areas[a].name);
        ASSERT_EQ(loaded[a].ring.Count(), areas[a].ring.Count()) << a;
        for (uint64_t i = 0; i < areas[a].ring.Count(); ++i)
            EXPECT_EQ(loaded[a].ring[i], areas[a].ring[i]) << a << " " << i;
    }

    // A contour file is a polygon file of one area, named by its file name.
    ASSERT_TRUE(LoadPolygons(dir / "000002.poly", names, loaded, false));
    ASSERT_EQ(loaded.Count(), 1u);
    EXPECT_EQ(loaded[0].name, "000002");
    ASSERT_EQ(loaded[0].ring.Count(), 5u);
    EXPECT_EQ(loaded[0].ring[2], areas[1].ring[2]);
}

TEST(AreaDescriptions, WritersFailWhenTheFileCannotBeCreated)
{
    test::CTempDir dir;
    TAreaList areas;
    AddArea(areas, nullptr, "one", UnitSquare());
    const std::string missing = dir / "missing/";
    EXPECT_FALSE(WriteKML(missing + "areas.kml", areas, "", false));
    EXPECT_FALSE(WriteMP(missing, areas, false, true));
    EXPECT_FALSE(WriteAreasPoly(missing, "Areas", areas, true));
    std::filesystem::create_directory(missing);
    EXPECT_TRUE(std::filesystem::is_empty(missing));

    // A contour file that cannot be created is skipped; the rest are written.
    AddArea(areas, nullptr, "sub/two", UnitSquare());
    AddArea(areas, nullptr, "three", UnitSquare());
    ASSERT_TRUE(WriteMP(dir.Path(), areas, false, true));
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    EXPECT_TRUE(test::FileExists(dir / "one.mp"));
    EXPECT_TRUE(test::FileExists(dir / "three.mp"));
    EXPECT_TRUE(test::FileExists(dir / "three.poly"));
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.mp"), "[POLYGON]"), 3u);
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.poly"), "\r\nsub/two\r\n"), 1u);
}

}  // namespace
