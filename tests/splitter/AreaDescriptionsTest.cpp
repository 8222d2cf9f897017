#include "splitter/AreaDescriptions.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "splitter/PolyFile.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int32_t kDegree = MapUnits::kPerDegree;
const std::string kMPHeader = "[IMG ID]\r\nLevels=2\r\nLevel0=24\r\nLevel1=8\r\n[END]\r\n";
// The unit square in areas.mp, its first point standing for the closing one.
const std::string kData0 = "\r\nData0=(1.000000,0.000000),(1.000000,1.000000),(0.000000,1.000000),(0.000000,0.000000)";

TRing UnitSquare()
{
    TRing ring;
    for (CGeoPoint p : {CGeoPoint{0, 0}, CGeoPoint{0, kDegree}, CGeoPoint{kDegree, kDegree}, CGeoPoint{kDegree, 0},
                        CGeoPoint{0, 0}})
        ring.PushBack(p);
    return ring;
}

void AddArea(TAreaList& areas, const std::string* source, std::string name, TRing ring = UnitSquare())
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

TEST(AreaDescriptions, ExactBytesOfOneArea)
{
    test::CTempDir dir;
    TAreaList areas;
    const std::string source = "de";
    AddArea(areas, &source, "one");
    ASSERT_TRUE(WriteKML(dir / "areas.kml", areas, "", false));
    EXPECT_EQ(test::ReadFile(dir / "areas.kml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
              "  <Document>\r\n    <Style id=\"polyStyle\">\r\n      <LineStyle>\r\n        <width>1.5</width>\r\n"
              "      </LineStyle>\r\n      <PolyStyle>\r\n        <color>ffffffff</color>\r\n"
              "        <colorMode>random</colorMode>\r\n      </PolyStyle>\r\n    </Style>\r\n    <Placemark>\r\n"
              "      <name>one</name>\r\n      <styleUrl>#polyStyle</styleUrl>\r\n"
              "      <description>![CDATA[one]]</description>\r\n      <Polygon>\r\n        <outerBoundaryIs>\r\n"
              "          <LinearRing>\r\n            <coordinates>\r\n0.000000,0.000000 0.000000,1.000000 "
              "1.000000,1.000000 1.000000,0.000000 0.000000,0.000000             </coordinates>\r\n"
              "          </LinearRing>\r\n        </outerBoundaryIs>\r\n      </Polygon>\r\n    </Placemark>\r\n"
              "  </Document>\r\n</kml>\r\n");

    ASSERT_TRUE(WriteMP(dir.Path(), areas, false, false));
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"), kMPHeader + "\r\n[POLYGON]\r\nLabel=one" + kData0 + "\r\n[END]\r\n");
    EXPECT_FALSE(test::FileExists(dir / "one.mp"));

    const std::string poly = "Areas\r\none\r\n       0.0000000       0.0000000\r\n       0.0000000       1.0000000\r\n"
                             "       1.0000000       1.0000000\r\n       1.0000000       0.0000000\r\n"
                             "       0.0000000       0.0000000\r\nEND\r\nEND\r\n";
    ASSERT_TRUE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    EXPECT_EQ(test::ReadFile(dir / "areas.poly"), poly);
    EXPECT_EQ(test::ReadFile(dir / "one.poly"), poly);
}

TEST(AreaDescriptions, MultiContourGroupsRunsOfOneSource)
{
    test::CTempDir dir;
    const std::string de = "germany", fr = "france";
    TAreaList areas;
    AddArea(areas, &de, "germany_1");
    AddArea(areas, &de, "germany_2");
    AddArea(areas, &de, "germany_3");
    AddArea(areas, nullptr, "000001");
    AddArea(areas, nullptr, "000002");
    AddArea(areas, &fr, "france");

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
    const std::string germany = "\r\n[POLYGON]\r\nLabel=germany" + kData0 + kData0 + kData0 + "\r\n[END]\r\n";
    const std::string outer1 = "\r\n[POLYGON]\r\nLabel=000001" + kData0 + "\r\n[END]\r\n";
    const std::string outer2 = "\r\n[POLYGON]\r\nLabel=000002" + kData0 + "\r\n[END]\r\n";
    const std::string france = "\r\n[POLYGON]\r\nLabel=france" + kData0 + "\r\n[END]\r\n";
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"), kMPHeader + germany + outer1 + outer2 + france);
    EXPECT_EQ(test::ReadFile(dir / "germany.mp"), kMPHeader + germany);
    EXPECT_EQ(test::ReadFile(dir / "000002.mp"), kMPHeader + outer2);
    EXPECT_FALSE(test::FileExists(dir / "germany_1.mp"));
}

TEST(AreaDescriptions, WritersFailWhenTheFileCannotBeCreated)
{
    test::CTempDir dir;
    TAreaList areas;
    AddArea(areas, nullptr, "one");
    const std::string missing = dir / "missing/";
    test::CaptureStdout([&] {
        EXPECT_FALSE(WriteKML(missing + "areas.kml", areas, "", false));
        EXPECT_FALSE(WriteMP(missing, areas, false, true));
        EXPECT_FALSE(WriteAreasPoly(missing, "Areas", areas, true));
    });
    EXPECT_FALSE(std::filesystem::exists(missing));

    // A contour file that cannot be created is skipped; the rest are written.
    AddArea(areas, nullptr, "two");
    AddArea(areas, nullptr, "three");
    std::filesystem::create_directory(dir / "two.mp");
    std::filesystem::create_directory(dir / "two.poly");
    test::CaptureStdout([&] {
        EXPECT_FALSE(WriteMP(dir.Path(), areas, false, true));
        EXPECT_FALSE(WriteAreasPoly(dir.Path(), "Areas", areas, true));
    });
    EXPECT_TRUE(test::FileExists(dir / "three.mp"));
    EXPECT_TRUE(test::FileExists(dir / "three.poly"));
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.mp"), "[POLYGON]"), 3u);
    EXPECT_EQ(CountOf(test::ReadFile(dir / "areas.poly"), "\r\ntwo\r\n"), 1u);
}

}  // namespace
