#include "common/OSM/XMLWriter.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/OSM/Banner.h"

namespace OSM {

void FormatTimestamp(int64_t milliseconds, char* out)
{
    uint32_t seconds = uint32_t(milliseconds / 1000);
    uint32_t days = seconds / 86400, second = seconds - 86400 * days;
    uint32_t cycle = days / 1461, day = days - 1461 * cycle;
    uint32_t year = 1970 + 4 * cycle, k = 0;
    if (day >= 365) {
        day -= 365;
        k = 1;
        if (day >= 365) {
            day -= 365;
            k = 2;
            if (day >= 366) {
                day -= 366;
                k = 3;
            }
        }
    }
    year += k;
    static const uint32_t kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    uint32_t month = 1;
    for (uint32_t m = 0; m < 12; ++m) {
        uint32_t length = kLengths[m] + (m == 1 && k == 2 ? 1 : 0);
        if (day < length)
            break;
        day -= length;
        ++month;
    }
    std::snprintf(out, 32, "%u-%02u-%02uT%02u:%02u:%02uZ", year, month, day + 1, second / 3600, (second % 3600) / 60,
                  second % 60);
}

CXMLWriter::~CXMLWriter()
{
    try {
        Close();
    } catch (const TStreamException&) {
        // A file abandoned on an error path; that error is the one reported.
    }
}

bool CXMLWriter::Open(const std::string& path)
{
    try {
        Close();
        if (!m_stream.Open(path))
            return false;
        Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<osm version=\"0.6\" generator=\"");
        Put(kBanner, std::strlen(kBanner));
        Put("\">\r\n");
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

void CXMLWriter::Close()
{
    if (!m_stream.IsOpen())
        return;
    Put("</osm>");
    m_stream.Close();
}

void CXMLWriter::EscapedAttribute(const char* name, const std::string& value)
{
    if (value.empty())
        return;
    Put(" ");
    Put(name, std::strlen(name));
    Put("=\"");
    const char* run = value.data();
    const char* end = value.data() + value.size();
    for (const char* p = run; p != end; ++p) {
        const char* entity;
        switch (*p) {
        case '&': entity = "&amp;"; break;
        case '"': entity = "&quot;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        // A parser turns raw tabs and line ends in attributes into blanks.
        case '\t': entity = "&#9;"; break;
        case '\r': entity = "&#13;"; break;
        case '\n': entity = "&#10;"; break;
        default:
            // Other C0 controls cannot appear in XML 1.0 at all.
            if (static_cast<unsigned char>(*p) < 0x20) {
                entity = "\xEF\xBF\xBD";
                break;
            }
            continue;
        }
        Put(run, size_t(p - run));
        Put(entity, std::strlen(entity));
        run = p + 1;
    }
    Put(run, size_t(end - run));
    Put("\"");
}

void CXMLWriter::Common(const TEntity& entity)
{
    char text[96];
    int n = std::snprintf(text, sizeof text, " id=\"%" PRId64 "\"", entity.id);
    Put(text, size_t(n));
    EscapedAttribute("user", entity.info.user);
    if (entity.info.uid != 0) {
        n = std::snprintf(text, sizeof text, " uid=\"%d\"", entity.info.uid);
        Put(text, size_t(n));
    }
    n = std::snprintf(text, sizeof text, " version=\"%d\"", entity.info.version);
    Put(text, size_t(n));
    if (entity.info.changeset != 0) {
        n = std::snprintf(text, sizeof text, " changeset=\"%" PRId64 "\"", entity.info.changeset);
        Put(text, size_t(n));
    }
    if (entity.info.timestamp != 0) {
        char stamp[32];
        FormatTimestamp(entity.info.timestamp, stamp);
        n = std::snprintf(text, sizeof text, " timestamp=\"%s\"", stamp);
        Put(text, size_t(n));
    }
}

void CXMLWriter::Tags(const TEntity& entity)
{
    for (const TTag& tag : entity.tags) {
        Put("\t\t<tag");
        EscapedAttribute("k", tag.key);
        EscapedAttribute("v", tag.value);
        Put("/>\r\n");
    }
}

void CXMLWriter::WriteNode(const TNode& node)
{
    Put("\t<node");
    Common(node);
    char text[96];
    int n = std::snprintf(text, sizeof text, " lat=\"%.7lf\" lon=\"%.7lf\"", MapUnits::ToDegrees(node.position.y),
                          MapUnits::ToDegrees(node.position.x));
    Put(text, size_t(n));
    if (node.tags.Empty()) {
        Put("/>\r\n");
        return;
    }
    Put(">\r\n");
    Tags(node);
    Put("\t</node>\r\n");
}

void CXMLWriter::WriteWay(const TWay& way)
{
    Put("\t<way");
    Common(way);
    Put(">\r\n");
    char text[64];
    for (TId ref : way.nodeRefs) {
        int n = std::snprintf(text, sizeof text, "\t\t<nd ref=\"%" PRId64 "\"/>\r\n", ref);
        Put(text, size_t(n));
    }
    Tags(way);
    Put("\t</way>\r\n");
}

void CXMLWriter::WriteRelation(const TRelation& relation)
{
    Put("\t<relation");
    Common(relation);
    Put(">\r\n");
    char text[64];
    for (const TMember& member : relation.members) {
        Put("\t\t<member type=\"");
        if (member.type == kNode)
            Put("node");
        else if (member.type == kWay)
            Put("way");
        else
            Put("relation");
        int n = std::snprintf(text, sizeof text, "\" ref=\"%" PRId64 "\"", member.ref);
        Put(text, size_t(n));
        EscapedAttribute("role", member.role);
        Put("/>\r\n");
    }
    Tags(relation);
    Put("\t</relation>\r\n");
}

}  // namespace OSM
