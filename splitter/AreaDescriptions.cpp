#include "splitter/AreaDescriptions.h"

#include <cstdio>
#include <string_view>

#include "common/streams/FileStream.h"
#include "common/streams/SimpleXMLWriter.h"
#include "splitter/Log.h"
#include "splitter/OutputFiles.h"

namespace Splitter {

namespace {

constexpr uint64_t kBufferSize = 65536;
constexpr std::string_view kMPHeader = "[IMG ID]\r\nLevels=2\r\nLevel0=24\r\nLevel1=8\r\n[END]\r\n";

void Put(CWriteStream& stream, std::string_view text) { stream.Write(text.data(), text.size()); }

void WriteKMLPolygon(CSimpleXMLWriter& xml, const TRing& ring)
{
    xml.Open("Polygon");
    xml.Open("outerBoundaryIs");
    xml.Open("LinearRing");
    xml.Open("coordinates");
    std::string points;
    for (const CGeoPoint& p : ring)
        AppendFormat(points, "%lf,%lf ", MapUnits::ToDegrees(MapUnits::Natural(p.x)), MapUnits::ToDegrees(p.y));
    Put(xml.Stream(), points);
    for (int i = 0; i < 4; ++i)
        xml.Close();
}

// The group's "[POLYGON]" record: its label and one Data0 line per area.
std::string MPPolygon(const TAreaList& areas, const TAreaGroup& group)
{
    std::string text = "\r\n[POLYGON]\r\nLabel=" + *group.label;
    for (uint64_t a = group.first; a < group.last; ++a) {
        const TRing& ring = areas[a].ring;
        text += "\r\nData0=";
        // The closing point stands for the first one.
        for (uint64_t i = 1; i < ring.Count(); ++i) {
            if (i > 1)
                text += ',';
            AppendFormat(text, "(%lf,%lf)", MapUnits::ToDegrees(ring[i].y),
                         MapUnits::ToDegrees(MapUnits::Natural(ring[i].x)));
        }
    }
    text += "\r\n[END]\r\n";
    return text;
}

}  // namespace

bool WriteKML(const std::string& path, const COutputPlan& plan, const std::string& description)
{
    const bool multiContour = plan.MultiContour();
    CFileWriteStream out(kBufferSize);
    if (!CreateOutputFile(out, path))
        return false;
    Put(out, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n");
    CSimpleXMLWriter xml(out);
    xml.Open("kml", "xmlns", "http://www.opengis.net/kml/2.2");
    xml.Open("Document");
    xml.Open("Style", "id", "polyStyle");
    xml.Open("LineStyle");
    xml.TextElement("width", "1.5");
    xml.Close();
    xml.Open("PolyStyle");
    xml.TextElement("color", "ffffffff");
    xml.TextElement("colorMode", "random");
    xml.Close();
    xml.Close();
    for (const TAreaGroup& group : plan.Groups()) {
        xml.Open("Placemark");
        xml.NameElement(*group.label);
        xml.TextElement("styleUrl", "#polyStyle");
        xml.TextElement("description", description.empty() ? *group.label : description);
        if (multiContour)
            xml.Open("MultiGeometry");
        for (uint64_t a = group.first; a < group.last; ++a)
            WriteKMLPolygon(xml, plan.Areas()[a].ring);
        if (multiContour)
            xml.Close();
        xml.Close();
    }
    xml.CloseAll();
    return out.Close();
}

bool WriteMP(const std::string& outputDir, const COutputPlan& plan)
{
    CFileWriteStream out(kBufferSize);
    if (!CreateOutputFile(out, outputDir + "areas.mp"))
        return false;
    bool created = true;
    Put(out, kMPHeader);
    for (const TAreaGroup& group : plan.Groups()) {
        const std::string polygon = MPPolygon(plan.Areas(), group);
        Put(out, polygon);
        CFileWriteStream separate(kBufferSize);
        if (!group.contour.empty()) {
            if (CreateOutputFile(separate, group.contour)) {
                Put(separate, kMPHeader);
                Put(separate, polygon);
                separate.Close();
            } else {
                created = false;
            }
        }
    }
    return out.Close() && created;
}

}  // namespace Splitter
