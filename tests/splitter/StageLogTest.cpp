#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "splitter/Log.h"

namespace {

class CLines : public CLog {
public:
    void WriteLine(const char* text, uint32_t) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

class CHolder : public CMemoryHolder {
public:
    uint64_t BytesHeld() const override { return bytes; }
    uint64_t bytes = 0;
};

// Each stage is announced at its start and reported once at its end, with
// what the holder holds then, not when it began.
TEST(StageLog, ReportsEachStageOnceAtItsEnd)
{
    CLines log;
    CHolder holder;
    {
        CStageLog stage(holder, log);
        stage.Begin("First");
        holder.bytes = 3 << 19;  // 1.5 Mb
        stage.Begin("Second");
        holder.bytes = 5 << 20;
        stage.End();
        stage.End();
    }
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0], "First...");
    EXPECT_EQ(log.lines[2], "Second...");
    const struct {
        const std::string& line;
        const char* prefix;
        const char* suffix;
    } ends[] = {{log.lines[1], "First: ", " s, 1.5 Mb held"}, {log.lines[3], "Second: ", " s, 5.0 Mb held"}};
    for (const auto& end : ends) {
        EXPECT_EQ(end.line.rfind(end.prefix, 0), 0u) << end.line;
        EXPECT_TRUE(end.line.ends_with(end.suffix)) << end.line;
    }
}

}  // namespace
