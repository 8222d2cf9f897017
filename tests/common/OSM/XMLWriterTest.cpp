// The OSM XML writer, byte for byte.
#include "common/OSM/XMLWriter.h"

#include <functional>

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

const OSM::TInfo kNoInfo{-1, 0, "", 0, 0, 0};
const std::string kAtZero = " lat=\"0.0000000\" lon=\"0.0000000\"";
const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

// What write(writer) puts between the head and the tail of a fresh file.
std::string Body(const std::function<void(OSM::CXMLWriter&)>& write)
{
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<osm version=\"0.6\" generator=\"Tovimar OSM splitter 1.09.48\">\r\n";
    CTempDir dir;
    OSM::CXMLWriter writer;
    EXPECT_TRUE(writer.Open(dir / "out.osm"));
    write(writer);
    writer.Close();
    const std::string text = ReadFile(dir / "out.osm");
    EXPECT_TRUE(text.starts_with(head) && text.ends_with("</osm>")) << text;
    return text.substr(head.size(), text.size() - head.size() - 6);
}

std::string Node(const std::string& attributes) { return "\t<node id=\"1\"" + attributes + "/>\r\n"; }

// Degrees as printf rounds them (an exact 5 behind the seventh decimal to
// even); metadata outside the format as absent; times before 1970 wrap to
// unsigned 32-bit seconds; markup escaped, apostrophes not; controls U+FFFD.
TEST(XMLWriter, Entities)
{
    EXPECT_EQ(Body([](auto& w) {
                  w.WriteNode(MakeNode(1, 0x59FFFFFF, -1, {}, kNoInfo));
                  w.WriteNode(MakeNode(1, 32768, -98304, {}, kNoInfo));
                  w.WriteNode(MakeNode(-5, -2 * 8388608, 8388608, {{"name", "Main"}, {"amenity", "cafe"}},
                                       {3, 42, "Zo\xC3\xAB", 99, 4102444799000, 1}));
                  w.WriteNode(MakeNode(INT64_MAX, INT32_MIN, 90 * 8388608, {},
                                       {-1, INT32_MAX, "", UINT32_MAX, -31536000000, 0}));
                  w.WriteNode(MakeNode(1, 0, 0, {}, {INT32_MIN, INT32_MIN, "", INT64_MIN, -1, 0}));
                  w.WriteNode(MakeNode(1, 0, 0, {}, {0, 1, "", int64_t(UINT32_MAX) + 1, -1000, 0}));
                  w.WriteWay(MakeWay(10, {}, {}, {-1, 0, "", 0, 1999, 0}));
                  w.WriteWay(MakeWay(11, {3, -4}, {{"highway", "residential"}}, {2, 0, "", 0, 951782400000, 0}));
                  w.WriteRelation(MakeRelation(21, {{OSM::kNode, 1, "admin_centre"}, {OSM::kRelation, 3, ""},
                                                    {OSM::EEntityType(7), 4, "in\ner"}},
                                               {{"type", "boundary"}}, {4, 0, "me", 0, 94694399000, 0}));
                  w.WriteNode(MakeNode(1, 0, 0, {{"a&b", "x&y\"z<w>v'u"}, {"k", "&amp;"}, {"note", "a\tb\r\nc\x01" "d\x7F"},
                                                 {"", "orphan"}, {"bare", ""}}, {-1, 0, "<me>", 0, 951868800000, 0}));
              }),
              Node(" version=\"-1\" lat=\"-0.0000001\" lon=\"179.9999999\"") +
                  Node(" version=\"-1\" lat=\"-0.0117188\" lon=\"0.0039062\"") +
                  "\t<node id=\"-5\" user=\"Zo\xC3\xAB\" uid=\"42\" version=\"3\" changeset=\"99\" "
                  "timestamp=\"2099-12-31T23:59:59Z\" lat=\"1.0000000\" lon=\"-2.0000000\">\r\n"
                  "\t\t<tag k=\"name\" v=\"Main\"/>\r\n\t\t<tag k=\"amenity\" v=\"cafe\"/>\r\n\t</node>\r\n"
                  "\t<node id=\"9223372036854775807\" uid=\"2147483647\" version=\"-1\" changeset=\"4294967295\" "
                  "timestamp=\"2105-02-06T06:28:16Z\" lat=\"90.0000000\" lon=\"-256.0000000\"/>\r\n" +
                  Node(" version=\"-1\" timestamp=\"1970-01-01T00:00:00Z\"" + kAtZero) +
                  Node(" uid=\"1\" version=\"0\" timestamp=\"2106-02-06T06:28:15Z\"" + kAtZero) +
                  "\t<way id=\"10\" version=\"-1\" timestamp=\"1970-01-01T00:00:01Z\">\r\n\t</way>\r\n"
                  "\t<way id=\"11\" version=\"2\" timestamp=\"2000-02-29T00:00:00Z\">\r\n\t\t<nd ref=\"3\"/>\r\n"
                  "\t\t<nd ref=\"-4\"/>\r\n\t\t<tag k=\"highway\" v=\"residential\"/>\r\n\t</way>\r\n"
                  "\t<relation id=\"21\" user=\"me\" version=\"4\" timestamp=\"1972-12-31T23:59:59Z\">\r\n"
                  "\t\t<member type=\"node\" ref=\"1\" role=\"admin_centre\"/>\r\n"
                  "\t\t<member type=\"relation\" ref=\"3\"/>\r\n\t\t<member type=\"relation\" ref=\"4\" role=\"in&#10;er\"/>\r\n"
                  "\t\t<tag k=\"type\" v=\"boundary\"/>\r\n\t</relation>\r\n"
                  "\t<node id=\"1\" user=\"&lt;me&gt;\" version=\"-1\" timestamp=\"2000-03-01T00:00:00Z\"" +
                  kAtZero + ">\r\n"
                  "\t\t<tag k=\"a&amp;b\" v=\"x&amp;y&quot;z&lt;w&gt;v'u\"/>\r\n\t\t<tag k=\"k\" v=\"&amp;amp;\"/>\r\n"
                  "\t\t<tag k=\"note\" v=\"a&#9;b&#13;&#10;c" + kBad + "d\x7F\"/>\r\n"
                  "\t\t<tag v=\"orphan\"/>\r\n\t\t<tag k=\"bare\"/>\r\n\t</node>\r\n");
}

// Each piece of a broken sequence that could not become valid is one U+FFFD.
TEST(XMLWriter, BrokenUtf8BecomesReplacementCharacters)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"a\xFF" "b\x80", "a" + kBad + "b" + kBad},
        {"\xC3", kBad},                              // cut at the end
        {"\xE2\x82" "x\xF0\x9F\x98", kBad + "x" + kBad},  // cut short
        {"\xC0\xAF\xC1", kBad + kBad + kBad},                // overlong
        {"\xE0\x9F\xBF", kBad + kBad + kBad},
        {"\xED\xA0\x80\xED\x9F\xBF", kBad + kBad + kBad + "\xED\x9F\xBF"},  // a surrogate, then U+D7FF
        {"\xF4\x90\x80\x80\xF5", kBad + kBad + kBad + kBad + kBad},                // above U+10FFFF
        {"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", kBad + kBad + kBad},        // U+FFFE, U+FFFF
        {"&\xFF<", "&amp;" + kBad + "&lt;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Body([&](auto& w) { w.WriteRelation(MakeRelation(0, {{OSM::kNode, 2, c.in}}, {{c.in, c.in}}, {0, 0, c.in, 0, 0, 0})); }),
                  "\t<relation id=\"0\" user=\"" + c.out + "\" version=\"0\">\r\n\t\t<member type=\"node\" ref=\"2\" role=\"" +
                      c.out + "\"/>\r\n\t\t<tag k=\"" + c.out + "\" v=\"" + c.out + "\"/>\r\n\t</relation>\r\n")
            << c.in;
}

}  // namespace
