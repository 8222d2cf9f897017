#include "common/streams/SimpleXMLWriter.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Collects everything written, and how many Write calls it took.
class CStringStream : public CWriteStream {
public:
    void CopyFrom(CReadStream& source, uint64_t n) override
    {
        std::string bytes(n, 0);
        source.Read(bytes.data(), n);
        text += bytes;
    }
    void Write(const void* data, uint64_t n) override
    {
        text.append(static_cast<const char*>(data), n);
        ++writes;
    }
    uint64_t Position() const override { return text.size(); }
    void Seek(uint64_t) override {}

    std::string text;
    int writes = 0;
};

TEST(SimpleXMLWriter, IndentsTwoBlanksPerLevel)
{
    CStringStream out;
    CSimpleXMLWriter xml(out);
    xml.Open("Document");
    EXPECT_EQ(xml.Depth(), 1u);
    xml.TextElement("width", "1.5");
    EXPECT_EQ(xml.Depth(), 1u);
    xml.Open("Placemark");
    xml.NameElement("x");
    xml.Close();
    xml.Close();
    EXPECT_EQ(out.text, "<Document>\r\n"
                        "  <width>1.5</width>\r\n"
                        "  <Placemark>\r\n"
                        "    <name>x</name>\r\n"
                        "  </Placemark>\r\n"
                        "</Document>\r\n");
    EXPECT_EQ(xml.Depth(), 0u);
}

TEST(SimpleXMLWriter, CloseWithNothingOpenWritesNothing)
{
    CStringStream out;
    CSimpleXMLWriter xml(out);
    xml.Close();
    xml.CloseAll();
    EXPECT_EQ(out.text, "");

    xml.Open("a");
    xml.Open("b");
    xml.Open("c");
    xml.CloseAll();
    EXPECT_EQ(out.text, "<a>\r\n  <b>\r\n    <c>\r\n    </c>\r\n  </b>\r\n</a>\r\n");
}

TEST(SimpleXMLWriter, EscapesByteByByte)
{
    CStringStream out;
    WriteEscaped(out, "a<b & \"c\" 'd' e>");
    EXPECT_EQ(out.text, "a&lt;b &amp; &quot;c&quot; &apos;d&apos; e&gt;");

    // UTF-8 and control bytes pass unchanged, one Write per byte or entity.
    out.text.clear();
    out.writes = 0;
    WriteEscaped(out, "\xC3\xA4\t&");
    EXPECT_EQ(out.text, "\xC3\xA4\t&amp;");
    EXPECT_EQ(out.writes, 4);

    out.text.clear();
    CSimpleXMLWriter xml(out);
    xml.TextElement("description", "![CDATA[R&D <x>]]");
    EXPECT_EQ(out.text, "<description>![CDATA[R&amp;D &lt;x&gt;]]</description>\r\n");
}

TEST(XMLElement, AttributesInOrderAndReplacedInAnyCase)
{
    CXMLElement element("Style");
    element.SetAttribute("id", "one");
    element.SetAttribute("kind", "a\"b");
    element.SetAttribute("ID", "two");
    CStringStream out;
    element.WriteStartTag(out);
    EXPECT_EQ(out.text, "<Style id=\"two\" kind=\"a&quot;b\">");

    CStringStream opened;
    CSimpleXMLWriter xml(opened);
    xml.Open("kml");
    xml.Open(element);
    xml.CloseAll();
    EXPECT_EQ(opened.text, "<kml>\r\n  <Style id=\"two\" kind=\"a&quot;b\">\r\n  </Style>\r\n</kml>\r\n");
}

TEST(XMLElement, TextAttributeBecomesTextOnlyWithTheFlag)
{
    CXMLElement element("note");
    element.SetAttribute("text", "a&b");
    element.SetAttribute("lang", "en");
    CStringStream plain;
    element.WriteStartTag(plain);
    EXPECT_EQ(plain.text, "<note text=\"a&amp;b\" lang=\"en\">");

    element.SetTextFlag(true);
    CStringStream text;
    element.WriteStartTag(text);
    EXPECT_EQ(text.text, "<note lang=\"en\">a&amp;b");

    // Only the key spelled exactly "text" is the text.
    CXMLElement upper("note");
    upper.SetAttribute("Text", "t");
    upper.SetTextFlag(true);
    CStringStream kept;
    upper.WriteStartTag(kept);
    EXPECT_EQ(kept.text, "<note Text=\"t\">");
}

}  // namespace
