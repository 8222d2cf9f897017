#include "splitter/Log.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/streams/Stream.h"
#include "tests/support/TestSupport.h"

namespace {

class CRecordingLog : public CLog {
public:
    void WriteLine(const char* text, uint32_t length) override
    {
        lines.push_back(std::string(text));
        lengths.push_back(length);
    }
    std::vector<std::string> lines;
    std::vector<uint32_t> lengths;
};

TEST(Log, TimeStampFormat)
{
    char stamp[16];
    FormatTimeStamp(stamp, 9, 5, 3, 7);
    EXPECT_STREQ(stamp, "09:05:03.007: ");
    FormatTimeStamp(stamp, 23, 59, 59, 999);
    EXPECT_STREQ(stamp, "23:59:59.999: ");

    CStdOutLog log;
    std::string out = test::CaptureStdout([&] { log.Line("hello"); });
    ASSERT_EQ(out.size(), 14u + 6u);
    EXPECT_TRUE(out[2] == ':' && out[5] == ':' && out[8] == '.' && out.substr(12) == ": hello\n") << out;
    log.timeStamps = false;
    EXPECT_EQ(test::CaptureStdout([&] { log.Format("%d-%s", 5, "x"); }), "5-x\n");
}

TEST(Log, DisabledLogPrintsNothingAndLongLinesAreCut)
{
    CRecordingLog log;
    log.enabled = false;
    log.Line("a");
    log.Format("%s", "b");
    EXPECT_TRUE(log.lines.empty());
    log.enabled = true;
    std::string longText(2000, 'q');
    log.Format("%s", longText.c_str());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], std::string(1023, 'q'));
    EXPECT_EQ(log.lengths[0], 1023u);
}

class CFakeStream : public CReadStream {
public:
    const uint8_t* Get(uint64_t) override { return nullptr; }
    void Read(void*, uint64_t) override {}
    uint64_t Remaining() const override { return size - position; }
    uint64_t Size() const override { return size; }
    uint64_t MaxBlock() const override { return 0; }
    uint64_t Available() const override { return 0; }
    uint64_t Position() const override { return position; }
    void Seek(uint64_t p) override { position = p; }
    uint64_t size = 1000;
    uint64_t position = 0;
};

class CFixedMemory : public CMemoryHolder {
public:
    uint64_t BytesHeld() const override { return bytes; }
    uint64_t bytes = 3u << 20;
};

TEST(Log, ProgressLinesEveryHundredth)
{
    CRecordingLog log;
    CFakeStream stream;
    CFixedMemory memory;
    CProgressCounter counter(memory, log, stream, "way", "edge ways found");
    for (int i = 0; i < 9; ++i)
        counter.Step(0);
    EXPECT_TRUE(log.lines.empty());
    stream.position = 10;
    counter.Step(4);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "    3 Mb, 10 ways read, 4 edge ways found");
    stream.position = 500;  // far ahead: one line, next due only one step later
    counter.Step(4);
    counter.Step(4);
    EXPECT_EQ(log.lines.size(), 3u);

    // Without a count word, and with a disabled log that still counts.
    log.lines.clear();
    log.enabled = false;
    CProgressCounter quiet(memory, log, stream, "node", nullptr);
    stream.position = 1000;
    quiet.Step(0);
    EXPECT_EQ(quiet.Count(), 1u);
    EXPECT_TRUE(log.lines.empty());
    log.enabled = true;
    CProgressCounter nodes(memory, log, stream, "node", nullptr);
    nodes.Step(0);
    nodes.Step(0);
    EXPECT_EQ(log.lines.size(), 0u);  // next is 1000 + 10
    stream.size = 50;                 // a tiny file: a line for every entity
    CProgressCounter tiny(memory, log, stream, "node", nullptr);
    tiny.Step(0);
    tiny.Step(0);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[1], "    3 Mb, 2 nodes read");
}

// Each stage is announced at its start and reported once at its end, with
// what the holder holds then, not when it began.
TEST(Log, StagesReportedOnceAtTheirEnd)
{
    CRecordingLog log;
    CFixedMemory memory;
    {
        CStageLog stage(memory, log);
        stage.Begin("First");
        memory.bytes = 3 << 19;  // 1.5 Mb
        stage.Begin("Second");
        memory.bytes = 5 << 20;
        stage.End();
        stage.End();
    }
    const char* const expected[] = {"First\\.\\.\\.", "First: .* s, 1\\.5 Mb held", "Second\\.\\.\\.",
                                    "Second: .* s, 5\\.0 Mb held"};
    ASSERT_EQ(log.lines.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(std::regex_match(log.lines[i], std::regex(expected[i]))) << log.lines[i];
}

}  // namespace
