#include "common/OSM/XMLWriter.h"

#include <algorithm>
#include <charconv>

#include "common/OSM/Banner.h"

namespace OSM {

namespace {

// Enough for " name=\"" and any number this writer prints, with its quote.
constexpr size_t kAttributeRoom = 64;

char* TwoDigits(char* out, uint32_t value)
{
    out[0] = char('0' + value / 10);
    out[1] = char('0' + value % 10);
    return out + 2;
}

// Copies " name=\"" into out and returns the end.
char* AttributeHead(char* out, std::string_view name)
{
    *out++ = ' ';
    out = std::copy(name.begin(), name.end(), out);
    *out++ = '=';
    *out++ = '"';
    return out;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at p (whose first byte is at least 0x80),
// and whether it is a character XML 1.0 allows. An invalid sequence is its
// longest start that could still have become valid, at least one byte: each
// such piece becomes one replacement character, as decoders commonly do.
size_t Utf8Sequence(const char* p, const char* end, bool& valid)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(p[i]); };
    const uint32_t lead = byte(0);
    // The range of the second byte depends on the lead; later ones are 80-BF.
    uint32_t length, low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        valid = false;
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if (p + i == end || byte(i) < (i == 1 ? low : 0x80) || byte(i) > (i == 1 ? high : 0xBF)) {
            valid = false;
            return i;
        }
    }
    // U+FFFE and U+FFFF are no characters of XML.
    valid = !(lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE);
    return length;
}

}  // namespace

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
    // The years run from 1970 to 2106: always four digits.
    out = TwoDigits(TwoDigits(out, year / 100), year % 100);
    *out++ = '-';
    out = TwoDigits(out, month);
    *out++ = '-';
    out = TwoDigits(out, day + 1);
    *out++ = 'T';
    out = TwoDigits(out, second / 3600);
    *out++ = ':';
    out = TwoDigits(out, second % 3600 / 60);
    *out++ = ':';
    out = TwoDigits(out, second % 60);
    *out++ = 'Z';
    *out = '\0';
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
        m_completed = false;
        Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<osm version=\"0.6\" generator=\"");
        Put(kBanner);
        Put("\">\r\n");
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

void CXMLWriter::Complete()
{
    if (!m_stream.IsOpen() || m_completed)
        return;
    Put("</osm>");
    m_completed = true;
}

void CXMLWriter::Close()
{
    m_stream.FinishAndClose([this] { Complete(); });
}

void CXMLWriter::NumberAttribute(std::string_view name, int64_t value)
{
    char text[kAttributeRoom];
    char* end = std::to_chars(AttributeHead(text, name), text + sizeof text, value).ptr;
    *end++ = '"';
    Put(text, size_t(end - text));
}

void CXMLWriter::DegreesAttribute(std::string_view name, int32_t units)
{
    // The same digits as "%.7lf": the exact binary value, rounded to nearest.
    char text[kAttributeRoom];
    char* end = std::to_chars(AttributeHead(text, name), text + sizeof text, MapUnits::ToDegrees(units),
                              std::chars_format::fixed, 7)
                    .ptr;
    *end++ = '"';
    Put(text, size_t(end - text));
}

void CXMLWriter::EscapedAttribute(std::string_view name, const std::string& value)
{
    if (value.empty())
        return;
    char head[kAttributeRoom];
    Put(head, size_t(AttributeHead(head, name) - head));
    const char* run = value.data();
    const char* end = value.data() + value.size();
    for (const char* p = run; p != end;) {
        std::string_view entity;
        size_t length = 1;
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
            if (static_cast<unsigned char>(*p) >= 0x80) {
                bool valid;
                length = Utf8Sequence(p, end, valid);
                if (valid) {
                    p += length;
                    continue;
                }
            } else if (static_cast<unsigned char>(*p) >= 0x20) {
                ++p;
                continue;
            }
            // Other C0 controls and broken UTF-8 cannot appear in XML 1.0 at all.
            entity = kReplacement;
            break;
        }
        Put(run, size_t(p - run));
        Put(entity);
        p += length;
        run = p;
    }
    Put(run, size_t(end - run));
    Put("\"");
}

void CXMLWriter::Common(const TEntity& entity)
{
    NumberAttribute("id", entity.id);
    EscapedAttribute("user", entity.info.user);
    if (int32_t uid = WritableUid(entity.info.uid); uid != 0)
        NumberAttribute("uid", uid);
    NumberAttribute("version", WritableVersion(entity.info.version));
    if (int64_t changeset = WritableChangeset(entity.info.changeset); changeset != 0)
        NumberAttribute("changeset", changeset);
    if (entity.info.timestamp != 0) {
        char text[kAttributeRoom];
        char* end = AttributeHead(text, "timestamp");
        FormatTimestamp(entity.info.timestamp, end);
        end += 20;
        *end++ = '"';
        Put(text, size_t(end - text));
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
    DegreesAttribute("lat", node.position.y);
    DegreesAttribute("lon", node.position.x);
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
    for (TId ref : way.nodeRefs) {
        Put("\t\t<nd");
        NumberAttribute("ref", ref);
        Put("/>\r\n");
    }
    Tags(way);
    Put("\t</way>\r\n");
}

void CXMLWriter::WriteRelation(const TRelation& relation)
{
    Put("\t<relation");
    Common(relation);
    Put(">\r\n");
    for (const TMember& member : relation.members) {
        Put(member.type == kNode ? "\t\t<member type=\"node\""
            : member.type == kWay ? "\t\t<member type=\"way\""
                                  : "\t\t<member type=\"relation\"");
        NumberAttribute("ref", member.ref);
        EscapedAttribute("role", member.role);
        Put("/>\r\n");
    }
    Tags(relation);
    Put("\t</relation>\r\n");
}

}  // namespace OSM
