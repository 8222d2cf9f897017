#include "splitter/AreaDescriptions.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

const std::string kMPHeader = "[IMG ID]\r\nLevels=2\r\nLevel0=24\r\nLevel1=8\r\n[END]\r\n";

// One area over the unit square in degrees per {source, name}.
TAreaList UnitSquares(const std::vector<std::pair<const std::string*, std::string>>& named)
{
    TAreaList areas;
    for (const auto& [source, name] : named)
        areas.EmplaceBack() = {source, name, RectangleRing(0, 0, MapUnits::kPerDegree, MapUnits::kPerDegree)};
    return areas;
}

// A group in areas.mp: its label and one unit square per area.
std::string MPPolygon(const std::string& label, int areas = 1)
{
    std::string text = "\r\n[POLYGON]\r\nLabel=" + label;
    for (int i = 0; i < areas; ++i)
        text += "\r\nData0=(1.000000,1.000000),(0.000000,1.000000),(0.000000,0.000000),(1.000000,0.000000)";
    return text + "\r\n[END]\r\n";
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

TEST(AreaDescriptions, ExactBytesOfOneArea)
{
    test::CTempDir dir;
    const std::string source = "de";
    const TAreaList areas = UnitSquares({{&source, "one"}});
    ASSERT_TRUE(WriteKML(dir / "areas.kml", areas, "", false));
    EXPECT_EQ(test::ReadFile(dir / "areas.kml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
              "  <Document>\r\n    <Style id=\"polyStyle\">\r\n      <LineStyle>\r\n        <width>1.5</width>\r\n"
              "      </LineStyle>\r\n      <PolyStyle>\r\n        <color>ffffffff</color>\r\n"
              "        <colorMode>random</colorMode>\r\n      </PolyStyle>\r\n    </Style>\r\n    <Placemark>\r\n"
              "      <name>one</name>\r\n      <styleUrl>#polyStyle</styleUrl>\r\n"
              "      <description>![CDATA[one]]</description>\r\n      <Polygon>\r\n        <outerBoundaryIs>\r\n"
              "          <LinearRing>\r\n            <coordinates>\r\n0.000000,1.000000 1.000000,1.000000 "
              "1.000000,0.000000 0.000000,0.000000 0.000000,1.000000             </coordinates>\r\n"
              "          </LinearRing>\r\n        </outerBoundaryIs>\r\n      </Polygon>\r\n    </Placemark>\r\n"
              "  </Document>\r\n</kml>\r\n");

    ASSERT_TRUE(WriteMP(dir.Path(), areas, false, false));
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"), kMPHeader + MPPolygon("one"));
    EXPECT_FALSE(test::FileExists(dir / "one.mp"));

    const std::string poly = "Areas\r\none\r\n       0.0000000       1.0000000\r\n       1.0000000       1.0000000\r\n"
                             "       1.0000000       0.0000000\r\n       0.0000000       0.0000000\r\n"
                             "       0.0000000       1.0000000\r\nEND\r\nEND\r\n";
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"), poly);
    EXPECT_EQ(test::ReadFile(dir / "one.poly"), poly);
}

TEST(AreaDescriptions, MultiContourGroupsRunsOfOneSource)
{
    test::CTempDir dir;
    const std::string de = "germany", fr = "france";
    const TAreaList areas = UnitSquares({{&de, "germany_1"}, {&de, "germany_2"}, {&de, "germany_3"},
                                         {nullptr, "000001"}, {nullptr, "000002"}, {&fr, "france"}});
    ASSERT_TRUE(WriteKML(dir / "multi.kml", areas, "R&D <\"x\"> 'y'", true));
    const std::string kml = test::ReadFile(dir / "multi.kml");
    EXPECT_EQ(CountOf(kml, "<Placemark>"), 4u);
    EXPECT_EQ(CountOf(kml, "<MultiGeometry>\r\n        <Polygon>"), 4u);
    EXPECT_EQ(CountOf(kml, "</Polygon>"), 6u);
    for (const char* name : {"germany", "000001", "000002", "france"})
        EXPECT_EQ(CountOf(kml, std::string("<name>") + name + "</name>"), 1u) << name;
    EXPECT_EQ(CountOf(kml, "<description>![CDATA[R&amp;D &lt;&quot;x&quot;&gt; &apos;y&apos;]]</description>"), 4u);
    ASSERT_TRUE(WriteKML(dir / "single.kml", areas, std::string(100000, 'x'), false));
    EXPECT_EQ(CountOf(test::ReadFile(dir / "single.kml"), "![CDATA[" + std::string(100000, 'x') + "]]"), 6u);

    ASSERT_TRUE(WriteMP(dir.Path(), areas, true, true));
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"),
              kMPHeader + MPPolygon("germany", 3) + MPPolygon("000001") + MPPolygon("000002") + MPPolygon("france"));
    EXPECT_EQ(test::ReadFile(dir / "germany.mp"), kMPHeader + MPPolygon("germany", 3));
    EXPECT_EQ(test::ReadFile(dir / "000002.mp"), kMPHeader + MPPolygon("000002"));
    EXPECT_FALSE(test::FileExists(dir / "germany_1.mp"));
}

// A description that cannot be created writes nothing; a contour file that
// cannot be created is skipped, and the rest are written.
TEST(AreaDescriptions, WritersFailWhenTheFileCannotBeCreated)
{
    test::CTempDir dir;
    const std::string missing = dir / "missing/";
    const TAreaList areas = UnitSquares({{nullptr, "one"}, {nullptr, "two"}, {nullptr, "three"}});
    std::filesystem::create_directory(dir / "two.mp");
    std::filesystem::create_directory(dir / "two.poly");
    test::CaptureStdout([&] {
        EXPECT_FALSE(WriteMP(missing, areas, false, true));
        EXPECT_FALSE(WriteAreasPoly(missing, "Areas", areas, true));
        EXPECT_FALSE(WriteMP(dir.Path(), areas, false, true));
        EXPECT_FALSE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    });
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(test::FileExists(dir / "three.mp"));
    EXPECT_TRUE(test::FileExists(dir / "three.poly"));
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.mp"), "[POLYGON]"), 3u);
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.poly"), "\r\ntwo\r\n"), 1u);
}

}  // namespace
