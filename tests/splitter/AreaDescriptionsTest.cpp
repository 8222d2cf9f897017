#include "splitter/AreaDescriptions.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "splitter/Options.h"
#include "splitter/OutputFiles.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

// Both description formats of one area over the unit square in degrees; in
// the KML and .mp as a group of contours, under a description that needs
// escaping. A contour file that cannot be created fails its writer, which
// writes the rest.
TEST(AreaDescriptions, ExactBytesOfOneArea)
{
    test::CTempDir dir;
    const std::string source = "de";
    TAreaList areas;
    areas.EmplaceBack() = {&source, "one", RectangleRing(0, 0, MapUnits::kPerDegree, MapUnits::kPerDegree)};
    CSettings settings;
    settings.outputDir = dir.Path();
    settings.multiContour = settings.writeSeparateContours = true;
    settings.poly = "polys";
    const COutputPlan plan(areas, settings);
    ASSERT_TRUE(WriteKML(dir / "areas.kml", plan, "R&D <\"x\"> 'y'"));
    EXPECT_EQ(test::ReadFile(dir / "areas.kml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
              "  <Document>\r\n    <Style id=\"polyStyle\">\r\n      <LineStyle>\r\n        <width>1.5</width>\r\n"
              "      </LineStyle>\r\n      <PolyStyle>\r\n        <color>ffffffff</color>\r\n"
              "        <colorMode>random</colorMode>\r\n      </PolyStyle>\r\n    </Style>\r\n    <Placemark>\r\n"
              "      <name>de</name>\r\n      <styleUrl>#polyStyle</styleUrl>\r\n"
              "      <description>R&amp;D &lt;&quot;x&quot;&gt; &apos;y&apos;</description>\r\n"
              "      <MultiGeometry>\r\n        <Polygon>\r\n          <outerBoundaryIs>\r\n"
              "            <LinearRing>\r\n              <coordinates>\r\n0.000000,1.000000 1.000000,1.000000 "
              "1.000000,0.000000 0.000000,0.000000 0.000000,1.000000               </coordinates>\r\n"
              "            </LinearRing>\r\n          </outerBoundaryIs>\r\n        </Polygon>\r\n"
              "      </MultiGeometry>\r\n    </Placemark>\r\n  </Document>\r\n</kml>\r\n");

    std::filesystem::create_directory(dir / "de.mp");
    test::CaptureStdout([&] { EXPECT_FALSE(WriteMP(dir.Path(), plan)); });
    EXPECT_EQ(test::ReadFile(dir / "areas.mp"),
              "[IMG ID]\r\nLevels=2\r\nLevel0=24\r\nLevel1=8\r\n[END]\r\n\r\n[POLYGON]\r\nLabel=de\r\n"
              "Data0=(1.000000,1.000000),(0.000000,1.000000),(0.000000,0.000000),(1.000000,0.000000)\r\n[END]\r\n");
}

}  // namespace
