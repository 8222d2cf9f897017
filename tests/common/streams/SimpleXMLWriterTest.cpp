#include "common/streams/SimpleXMLWriter.h"

#include <gtest/gtest.h>

#include "common/streams/FileStream.h"
#include "tests/support/TestSupport.h"

namespace {

// Attributes are replaced in place whatever their case; only an attribute
// named "text" exactly is the text; UTF-8 and control bytes pass unchanged.
TEST(SimpleXMLWriter, IndentsEscapesAndClosesWhatIsOpen)
{
    test::CTempDir dir;
    CFileWriteStream out(4096);
    ASSERT_TRUE(out.Open(dir / "x"));
    CSimpleXMLWriter xml(out);
    xml.Close();  // nothing open: nothing written
    CXMLElement style("Style"), note("note"), upper("note");
    style.SetAttribute("id", "one");
    style.SetAttribute("kind", "a\"b");
    style.SetAttribute("ID", "two");
    note.SetAttribute("text", "a&b");
    note.SetAttribute("lang", "en");
    note.SetTextFlag(true);
    upper.SetAttribute("Text", "t");
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
    WriteEscaped(out, "\xC3\xA4\t&");
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "x"),
              "<Document>\r\n"
              "  <description>![CDATA[R&amp;D &lt;x&gt;]] &apos;q&apos;</description>\r\n"
              "  <Style id=\"two\" kind=\"a&quot;b\">\r\n"
              "    <name>x</name>\r\n"
              "    <note lang=\"en\">a&amp;b\r\n"
              "      <note Text=\"t\">\r\n      </note>\r\n    </note>\r\n  </Style>\r\n</Document>\r\n"
              "\xC3\xA4\t&amp;");
}

}  // namespace
