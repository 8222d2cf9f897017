#include "splitter/Log.h"

#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/streams/Stream.h"

namespace {

// A log that records its lines, over an input that says how far it is read
// and a holder that says what it holds.
struct TRecorder : CLog, CReadProgress, CMemoryHolder {
    void WriteLine(const char* text, uint32_t length) override
    {
        EXPECT_EQ(length, std::strlen(text));
        lines += std::string(text) + "\n";
    }
    uint64_t Position() const override { return position; }
    uint64_t Size() const override { return size; }
    uint64_t BytesHeld() const override { return bytes; }

    uint64_t size = 1000, position = 0, bytes = 3u << 20;
    std::string lines;
};

// A line each hundredth of the input; stages announced at their start and
// reported once at their end, with what the holder holds then.
TEST(Log, ProgressAndStageLines)
{
    TRecorder log;
    CProgressCounter counter(log, log, log, "way", "edge ways found");
    for (int i = 0; i < 9; ++i)
        counter.Step(0);
    log.position = 10;
    counter.Step(4);
    log.position = 500;  // far ahead: one line, next due only one step later
    counter.Step(4);
    counter.Step(4);
    // A disabled log still counts; a tiny file gives a line for every entity.
    log.enabled = false;
    CProgressCounter quiet(log, log, log, "node", nullptr);
    quiet.Step(0);
    EXPECT_EQ(quiet.Count(), 1u);
    log.enabled = true;
    log.size = 50;
    CProgressCounter tiny(log, log, log, "node", nullptr);
    tiny.Step(0);
    tiny.Step(0);
    CStageLog stage(log, log);
    stage.Begin("First");
    log.bytes = 3 << 19;
    stage.Begin("Second");
    log.bytes = 5 << 20;
    stage.End();
    stage.End();
    EXPECT_TRUE(std::regex_match(log.lines, std::regex("    3 Mb, 10 ways read, 4 edge ways found\n"
                                                       "    3 Mb, 11 ways read, 4 edge ways found\n"
                                                       "    3 Mb, 12 ways read, 4 edge ways found\n"
                                                       "    3 Mb, 1 nodes read\n    3 Mb, 2 nodes read\n"
                                                       "First\\.\\.\\.\nFirst: .* s, 1\\.5 Mb held\n"
                                                       "Second\\.\\.\\.\nSecond: .* s, 5\\.0 Mb held\n")))
        << log.lines;
}

}  // namespace
