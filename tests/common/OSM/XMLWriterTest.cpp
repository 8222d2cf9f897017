#include "common/OSM/XMLWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/streams/Stream.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<osm version=\"0.6\" generator=\"Tovimar OSM splitter 1.09.48\">\r\n";
const std::string kTail = "</osm>";

OSM::TNode Node(OSM::TId id, int32_t lon, int32_t lat)
{
    OSM::TNode node;
    node.id = id;
    node.info.version = -1;
    node.position = {lon, lat};
    return node;
}

// What the writer makes of entities, between the head and the tail.
class CXMLWriterTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir / "out.osm"; }

    void Open() { ASSERT_TRUE(m_writer.Open(Path())); }

    std::string Body()
    {
        m_writer.Close();
        std::string text = test::ReadFile(Path());
        EXPECT_EQ(text.substr(0, kHead.size()), kHead);
        EXPECT_GE(text.size(), kHead.size() + kTail.size());
        EXPECT_EQ(text.substr(text.size() - kTail.size()), kTail);
        return text.substr(kHead.size(), text.size() - kHead.size() - kTail.size());
    }

    std::string One(const OSM::TNode& node)
    {
        Open();
        m_writer.WriteNode(node);
        return Body();
    }

    test::CTempDir m_dir;
    OSM::CXMLWriter m_writer;
};

TEST_F(CXMLWriterTest, EmptyFileHoldsHeadAndTail)
{
    Open();
    m_writer.Close();
    EXPECT_EQ(test::ReadFile(Path()), kHead + kTail);
}

TEST_F(CXMLWriterTest, DestructorCompletesAnUnclosedFile)
{
    {
        OSM::CXMLWriter writer;
        ASSERT_TRUE(writer.Open(Path()));
        writer.WriteNode(Node(1, 0, 0));
    }
    EXPECT_EQ(test::ReadFile(Path()), kHead + "\t<node id=\"1\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n" +
                                          kTail);
}

TEST_F(CXMLWriterTest, CloseIsFinal)
{
    Open();
    m_writer.Close();
    m_writer.Close();
    EXPECT_EQ(test::ReadFile(Path()), kHead + kTail);
}

TEST_F(CXMLWriterTest, ReopenCompletesThePreviousFile)
{
    Open();
    m_writer.WriteNode(Node(7, 0, 0));
    const std::string second = m_dir / "second.osm";
    ASSERT_TRUE(m_writer.Open(second));
    EXPECT_EQ(test::ReadFile(Path()), kHead + "\t<node id=\"7\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n" +
                                          kTail);
    m_writer.Close();
    EXPECT_EQ(test::ReadFile(second), kHead + kTail);
}

TEST_F(CXMLWriterTest, OpenFailsForAMissingDirectory)
{
    EXPECT_FALSE(m_writer.Open(m_dir / "missing/out.osm"));
    m_writer.Close();
}

TEST_F(CXMLWriterTest, UntaggedNodeWithoutInfoIsOneLine)
{
    EXPECT_EQ(One(Node(1, 0x59FFFFFF, -1)),
              "\t<node id=\"1\" version=\"-1\" lat=\"-0.0000001\" lon=\"179.9999999\"/>\r\n");
}

TEST_F(CXMLWriterTest, TaggedNodeWithFullInfo)
{
    OSM::TNode node = Node(-5, -2 * 8388608, 8388608);
    node.info = {3, 42, "Zo\xC3\xAB", 99, 1234567890123, 1};
    node.AddTag("name", "Main");
    node.AddTag("amenity", "cafe");
    EXPECT_EQ(One(node),
              "\t<node id=\"-5\" user=\"Zo\xC3\xAB\" uid=\"42\" version=\"3\" changeset=\"99\" "
              "timestamp=\"2009-02-13T23:31:30Z\" lat=\"1.0000000\" lon=\"-2.0000000\">\r\n"
              "\t\t<tag k=\"name\" v=\"Main\"/>\r\n"
              "\t\t<tag k=\"amenity\" v=\"cafe\"/>\r\n"
              "\t</node>\r\n");
}

TEST_F(CXMLWriterTest, ZeroMetadataIsLeftOutButVersionStays)
{
    OSM::TNode node = Node(1, 0, 0);
    node.info = {0, 0, "", 0, 0, 0};
    EXPECT_EQ(One(node), "\t<node id=\"1\" version=\"0\" lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n");
}

TEST_F(CXMLWriterTest, LargeIdsAndCoordinates)
{
    OSM::TNode node = Node(INT64_MAX, INT32_MIN, 90 * 8388608);
    node.info.changeset = UINT32_MAX;
    node.info.uid = INT32_MAX;
    EXPECT_EQ(One(node), "\t<node id=\"9223372036854775807\" uid=\"2147483647\" version=\"-1\" "
                         "changeset=\"4294967295\" lat=\"90.0000000\" lon=\"-256.0000000\"/>\r\n");
}

// Readers refuse them; the input they come from is damaged.
TEST_F(CXMLWriterTest, MetadataOutsideTheFormatIsWrittenAsAbsent)
{
    struct {
        int32_t uid, version;
        int64_t changeset;
        const char* attributes;
    } cases[] = {
        {-7, -5, -1, " version=\"-1\""},
        {INT32_MIN, INT32_MIN, INT64_MIN, " version=\"-1\""},
        {0, -1, int64_t(UINT32_MAX) + 1, " version=\"-1\""},
        {1, 0, 1, " uid=\"1\" version=\"0\" changeset=\"1\""},
    };
    for (const auto& c : cases) {
        OSM::TNode node = Node(1, 0, 0);
        node.info.uid = c.uid;
        node.info.version = c.version;
        node.info.changeset = c.changeset;
        EXPECT_EQ(One(node), "\t<node id=\"1\"" + std::string(c.attributes) +
                                 " lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n")
            << c.uid << " " << c.version << " " << c.changeset;
    }
}

TEST_F(CXMLWriterTest, WaysAlwaysTakeTheLongForm)
{
    OSM::TWay bare;
    bare.id = 10;
    bare.info.version = -1;
    OSM::TWay way;
    way.id = 11;
    way.info.version = 2;
    way.info.timestamp = 951782400000;
    for (OSM::TId ref : {3, -4, 5})
        way.nodeRefs.PushBack(ref);
    way.AddTag("highway", "residential");
    Open();
    m_writer.WriteWay(bare);
    m_writer.WriteWay(way);
    EXPECT_EQ(Body(), "\t<way id=\"10\" version=\"-1\">\r\n"
                      "\t</way>\r\n"
                      "\t<way id=\"11\" version=\"2\" timestamp=\"2000-02-29T00:00:00Z\">\r\n"
                      "\t\t<nd ref=\"3\"/>\r\n"
                      "\t\t<nd ref=\"-4\"/>\r\n"
                      "\t\t<nd ref=\"5\"/>\r\n"
                      "\t\t<tag k=\"highway\" v=\"residential\"/>\r\n"
                      "\t</way>\r\n");
}

TEST_F(CXMLWriterTest, RelationsWithEveryMemberType)
{
    OSM::TRelation bare;
    bare.id = 20;
    bare.info.version = 1;
    OSM::TRelation relation;
    relation.id = 21;
    relation.info.version = 4;
    relation.info.user = "me";
    relation.members.PushBack({OSM::kNode, 1, "admin_centre"});
    relation.members.PushBack({OSM::kWay, 2, "outer"});
    relation.members.PushBack({OSM::kRelation, 3, ""});
    relation.members.PushBack({static_cast<OSM::EEntityType>(7), 4, "sub"});
    relation.AddTag("type", "boundary");
    Open();
    m_writer.WriteRelation(bare);
    m_writer.WriteRelation(relation);
    EXPECT_EQ(Body(), "\t<relation id=\"20\" version=\"1\">\r\n"
                      "\t</relation>\r\n"
                      "\t<relation id=\"21\" user=\"me\" version=\"4\">\r\n"
                      "\t\t<member type=\"node\" ref=\"1\" role=\"admin_centre\"/>\r\n"
                      "\t\t<member type=\"way\" ref=\"2\" role=\"outer\"/>\r\n"
                      "\t\t<member type=\"relation\" ref=\"3\"/>\r\n"
                      "\t\t<member type=\"relation\" ref=\"4\" role=\"sub\"/>\r\n"
                      "\t\t<tag k=\"type\" v=\"boundary\"/>\r\n"
                      "\t</relation>\r\n");
}

TEST_F(CXMLWriterTest, EntitiesKeepTheOrderOfTheCalls)
{
    OSM::TWay way;
    way.id = 2;
    OSM::TRelation relation;
    relation.id = 3;
    Open();
    m_writer.WriteRelation(relation);
    m_writer.WriteNode(Node(1, 0, 0));
    m_writer.WriteWay(way);
    EXPECT_EQ(Body(), "\t<relation id=\"3\" version=\"0\">\r\n\t</relation>\r\n"
                      "\t<node id=\"1\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n"
                      "\t<way id=\"2\" version=\"0\">\r\n\t</way>\r\n");
}

TEST_F(CXMLWriterTest, EscapesMarkupButNotApostrophes)
{
    OSM::TNode node = Node(1, 0, 0);
    node.AddTag("a&b", "x&y\"z<w>v'u");
    node.AddTag("k", "&amp;");
    node.info.user = "<me>";
    EXPECT_EQ(One(node), "\t<node id=\"1\" user=\"&lt;me&gt;\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\">\r\n"
                         "\t\t<tag k=\"a&amp;b\" v=\"x&amp;y&quot;z&lt;w&gt;v'u\"/>\r\n"
                         "\t\t<tag k=\"k\" v=\"&amp;amp;\"/>\r\n"
                         "\t</node>\r\n");
}

TEST_F(CXMLWriterTest, ControlCharactersSurviveAParser)
{
    OSM::TNode node = Node(1, 0, 0);
    node.AddTag("note", std::string("a\tb\r\nc\x01" "d\x1F" "e\x7F"));
    OSM::TRelation relation;
    relation.members.PushBack({OSM::kWay, 2, "in\ner"});
    Open();
    m_writer.WriteNode(node);
    m_writer.WriteRelation(relation);
    EXPECT_EQ(Body(), "\t<node id=\"1\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\">\r\n"
                      "\t\t<tag k=\"note\" v=\"a&#9;b&#13;&#10;c\xEF\xBF\xBD" "d\xEF\xBF\xBD" "e\x7F\"/>\r\n"
                      "\t</node>\r\n"
                      "\t<relation id=\"0\" version=\"0\">\r\n"
                      "\t\t<member type=\"way\" ref=\"2\" role=\"in&#10;er\"/>\r\n"
                      "\t</relation>\r\n");
}

// Each piece of a broken sequence that could not become valid is one U+FFFD.
TEST_F(CXMLWriterTest, BrokenUtf8BecomesReplacementCharacters)
{
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string in, out;
    } cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"a\xFF" "b\x80", "a" + r + "b" + r},
        {"\xC3", r},                          // cut at the end
        {"\xE2\x82" "x\xF0\x9F\x98", r + "x" + r},  // cut short
        {"\xC0\xAF\xC1", r + r + r},          // overlong
        {"\xE0\x9F\xBF", r + r + r},
        {"\xED\xA0\x80\xED\x9F\xBF", r + r + r + "\xED\x9F\xBF"},  // a surrogate, then U+D7FF
        {"\xF4\x90\x80\x80\xF5", r + r + r + r + r},  // above U+10FFFF
        {"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", r + r + r},  // U+FFFE, U+FFFF
        {"&\xFF<", "&amp;" + r + "&lt;"},
    };
    for (const auto& c : cases) {
        OSM::TRelation relation;
        relation.info.user = c.in;
        relation.members.PushBack({OSM::kNode, 2, c.in});
        relation.AddTag(c.in, c.in);
        Open();
        m_writer.WriteRelation(relation);
        EXPECT_EQ(Body(), "\t<relation id=\"0\" user=\"" + c.out + "\" version=\"0\">\r\n"
                          "\t\t<member type=\"node\" ref=\"2\" role=\"" + c.out + "\"/>\r\n"
                          "\t\t<tag k=\"" + c.out + "\" v=\"" + c.out + "\"/>\r\n"
                          "\t</relation>\r\n")
            << c.in;
    }
}

TEST_F(CXMLWriterTest, EmptyKeyOrValueLeavesTheAttributeOut)
{
    OSM::TNode node = Node(1, 0, 0);
    node.AddTag("", "orphan");
    node.AddTag("bare", "");
    EXPECT_EQ(One(node), "\t<node id=\"1\" version=\"-1\" lat=\"0.0000000\" lon=\"0.0000000\">\r\n"
                         "\t\t<tag v=\"orphan\"/>\r\n"
                         "\t\t<tag k=\"bare\"/>\r\n"
                         "\t</node>\r\n");
}

TEST_F(CXMLWriterTest, ATimestampUnderOneSecondIsStillWritten)
{
    OSM::TNode node = Node(1, 0, 0);
    node.info.timestamp = -1;
    EXPECT_EQ(One(node), "\t<node id=\"1\" version=\"-1\" timestamp=\"1970-01-01T00:00:00Z\" "
                         "lat=\"0.0000000\" lon=\"0.0000000\"/>\r\n");
}

TEST_F(CXMLWriterTest, DegreesHaveTheDigitsOfPrintf)
{
    // Odd multiples of 2^15 units end in an exact 5 behind the seventh decimal.
    std::vector<int32_t> units = {INT32_MIN, INT32_MAX, -1, 1, 0x59FFFFFF, -0x5A000000, 90 * 8388608};
    for (int32_t u = -(1 << 30); u < (1 << 30); u += 32768)
        units.push_back(u);
    uint32_t random = 12345;
    for (int i = 0; i < 50000; ++i) {
        random = random * 1103515245 + 12345;
        units.push_back(int32_t(random));
    }
    Open();
    std::string expected;
    for (int32_t u : units) {
        m_writer.WriteNode(Node(1, u, ~u));
        char text[96];
        std::snprintf(text, sizeof text, " lat=\"%.7lf\" lon=\"%.7lf\"/>\r\n", MapUnits::ToDegrees(~u),
                      MapUnits::ToDegrees(u));
        expected += "\t<node id=\"1\" version=\"-1\"" + std::string(text);
    }
    EXPECT_TRUE(Body() == expected);
}

std::string Timestamp(int64_t milliseconds)
{
    char text[32];
    OSM::FormatTimestamp(milliseconds, text);
    return text;
}

TEST(FormatTimestamp, CountsDaysInFourYearCycles)
{
    EXPECT_EQ(Timestamp(1), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Timestamp(1999), "1970-01-01T00:00:01Z");
    EXPECT_EQ(Timestamp(1234567890123), "2009-02-13T23:31:30Z");
    EXPECT_EQ(Timestamp(94694399000), "1972-12-31T23:59:59Z");
    EXPECT_EQ(Timestamp(951782400000), "2000-02-29T00:00:00Z");
    EXPECT_EQ(Timestamp(951868800000), "2000-03-01T00:00:00Z");
    EXPECT_EQ(Timestamp(4102444799000), "2099-12-31T23:59:59Z");
}

TEST(FormatTimestamp, TimesBefore1970WrapAsUnsignedSeconds)
{
    // -1 s is 2^32 - 1 s; the cycles count 2100 as a leap year.
    EXPECT_EQ(Timestamp(-1000), "2106-02-06T06:28:15Z");
    EXPECT_EQ(Timestamp(-31536000000), "2105-02-06T06:28:16Z");
    // Milliseconds are cut toward zero first.
    EXPECT_EQ(Timestamp(-999), "1970-01-01T00:00:00Z");
}

TEST_F(CXMLWriterTest, CloseOnAFullDeviceThrows)
{
    ASSERT_TRUE(m_writer.Open("/dev/full"));
    m_writer.WriteNode(Node(1, 0, 0));
    try {
        m_writer.Close();
        FAIL() << "Close succeeded on /dev/full";
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
    }
    m_writer.Close();  // already closed: nothing left to fail
}

TEST_F(CXMLWriterTest, DestructorSwallowsAFailure)
{
    auto writer = std::make_unique<OSM::CXMLWriter>();
    ASSERT_TRUE(writer->Open("/dev/full"));
    writer->WriteNode(Node(1, 0, 0));
    EXPECT_NO_THROW(writer.reset());
}

// A file with everything the writer escapes, for outside readers.
void WriteAwkwardFile(OSM::CXMLWriter& writer)
{
    OSM::TNode node = Node(1, 8388608, -8388608);
    node.info = {2, 5, "a&b <c>", 9, 1234567890123, 1};
    node.AddTag("note", std::string("q\"a'&amp;<>\tb\r\nc\x01" "d"));
    writer.WriteNode(node);
    writer.WriteNode(Node(2, 2 * 8388608, 0));
    OSM::TWay way;
    way.id = 3;
    way.info.version = 1;
    way.nodeRefs.PushBack(1);
    way.nodeRefs.PushBack(2);
    way.AddTag("name", "M\xC3\xA4in");
    way.AddTag("br\xFFoken", "\xC3");
    way.info.uid = -3;
    way.info.version = -5;
    way.info.changeset = -1;
    writer.WriteWay(way);
    OSM::TRelation relation;
    relation.id = 4;
    relation.info.version = 1;
    relation.members.PushBack({OSM::kNode, 1, "<\"role\">"});
    relation.members.PushBack({OSM::kWay, 3, ""});
    relation.members.PushBack({OSM::kWay, 3, "\xED\xA0\x80"});
    relation.AddTag("type", "multipolygon");
    writer.WriteRelation(relation);
}

TEST_F(CXMLWriterTest, AnXMLParserReadsBackTheValues)
{
    Open();
    WriteAwkwardFile(m_writer);
    m_writer.Close();
    const std::string command =
        "/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E\n"
        "r = E.parse(sys.argv[1]).getroot()\n"
        "n = r.find(\"node\")\n"
        "ok = n.get(\"user\") == \"a&b <c>\" and n.find(\"tag\").get(\"v\") == \"q\\\"a\\x27&amp;<>\\tb\\r\\nc\\ufffdd\"\n"
        "ok = ok and r.find(\"relation/member\").get(\"role\") == \"<\\\"role\\\">\"\n"
        "ok = ok and r.find(\"way/tag\").get(\"v\") == \"M\\u00e4in\" and len(r) == 4\n"
        "sys.exit(0 if ok else 1)' " +
        Path();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(CXMLWriterTest, XmllintAndOsmiumReadTheFile)
{
    Open();
    WriteAwkwardFile(m_writer);
    m_writer.Close();
    for (const char* reader : {"xmllint --noout ", "osmium fileinfo -e "}) {
        const std::string command = reader + Path() + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
}

}  // namespace
