#include "common/streams/SimpleXMLWriter.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Collects everything written, and how many Write calls it took.
struct CStringStream : CWriteStream {
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

TEST(SimpleXMLWriter, IndentsEscapesAndClosesWhatIsOpen)
{
    CStringStream out;
    CSimpleXMLWriter xml(out);
    xml.Close();  // nothing open: nothing written
    CXMLElement style("Style"), note("note"), upper("note");
    style.SetAttribute("id", "one");
    style.SetAttribute("kind", "a\"b");
    style.SetAttribute("ID", "two");  // replaced in any case, in place
    note.SetAttribute("text", "a&b");
    note.SetAttribute("lang", "en");
    note.SetTextFlag(true);
    upper.SetAttribute("Text", "t");  // only "text" exactly is the text
    upper.SetTextFlag(true);
    xml.Open("Document");
    xml.TextElement("description", "![CDATA[R&D <x>]] 'q'");
    xml.Open(style);
    EXPECT_EQ(xml.Depth(), 2u);
    xml.NameElement("x");
    xml.Open(note);
    xml.Open(upper);
    xml.CloseAll();
    EXPECT_EQ(xml.Depth(), 0u);
    EXPECT_EQ(out.text, "<Document>\r\n"
                        "  <description>![CDATA[R&amp;D &lt;x&gt;]] &apos;q&apos;</description>\r\n"
                        "  <Style id=\"two\" kind=\"a&quot;b\">\r\n"
                        "    <name>x</name>\r\n"
                        "    <note lang=\"en\">a&amp;b\r\n"
                        "      <note Text=\"t\">\r\n      </note>\r\n    </note>\r\n  </Style>\r\n</Document>\r\n");

    // UTF-8 and control bytes pass unchanged, one Write per byte or entity.
    CStringStream escaped;
    WriteEscaped(escaped, "\xC3\xA4\t&");
    EXPECT_EQ(escaped.text, "\xC3\xA4\t&amp;");
    EXPECT_EQ(escaped.writes, 4);
}

}  // namespace
