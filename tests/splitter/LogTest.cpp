#include "splitter/Log.h"

#include <cstring>
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
        EXPECT_EQ(length, std::strlen(text));
        lines.push_back(text);
    }
    std::vector<std::string> lines;
};

struct TFakeProgress : CReadProgress, CMemoryHolder {
    uint64_t Position() const override { return position; }
    uint64_t Size() const override { return size; }
    uint64_t BytesHeld() const override { return bytes; }
    uint64_t size = 1000, position = 0, bytes = 3u << 20;
};

// A line each hundredth of the input; stages announced at their start and
// reported once at their end, with what the holder holds then.
TEST(Log, ProgressAndStageLines)
{
    CRecordingLog log;
    TFakeProgress input;
    CProgressCounter counter(input, log, input, "way", "edge ways found");
    for (int i = 0; i < 9; ++i)
        counter.Step(0);
    input.position = 10;
    counter.Step(4);
    input.position = 500;  // far ahead: one line, next due only one step later
    counter.Step(4);
    counter.Step(4);
    // A disabled log still counts; a tiny file gives a line for every entity.
    log.enabled = false;
    CProgressCounter quiet(input, log, input, "node", nullptr);
    quiet.Step(0);
    EXPECT_EQ(quiet.Count(), 1u);
    log.enabled = true;
    input.size = 50;
    CProgressCounter tiny(input, log, input, "node", nullptr);
    tiny.Step(0);
    tiny.Step(0);
    {
        CStageLog stage(input, log);
        stage.Begin("First");
        input.bytes = 3 << 19;
        stage.Begin("Second");
        input.bytes = 5 << 20;
        stage.End();
        stage.End();
    }
    const char* const expected[] = {"    3 Mb, 10 ways read, 4 edge ways found",
                                    "    3 Mb, 11 ways read, 4 edge ways found",
                                    "    3 Mb, 12 ways read, 4 edge ways found",
                                    "    3 Mb, 1 nodes read",
                                    "    3 Mb, 2 nodes read",
                                    "First\\.\\.\\.",
                                    "First: .* s, 1\\.5 Mb held",
                                    "Second\\.\\.\\.",
                                    "Second: .* s, 5\\.0 Mb held"};
    ASSERT_EQ(log.lines.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(std::regex_match(log.lines[i], std::regex(expected[i]))) << log.lines[i];
}

}  // namespace
