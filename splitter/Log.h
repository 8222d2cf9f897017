// Console log with local-time stamps, and the progress counter of readings.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_set>

#include "common/base/GrowArray.h"

class CReadProgress;

namespace Splitter {

class CLog {
public:
    CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;
    virtual ~CLog() = default;

    bool enabled = true;
    bool timeStamps = true;

    // Writes text as one line when the log is enabled.
    void Line(const char* text);
    // printf-style; output beyond 1023 characters is cut.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The lock for callers that write a line themselves.
    std::mutex& Lock() { return m_lock; }
    // Writes one complete line; length is that of the zero-terminated text.
    virtual void WriteLine(const char* text, uint32_t length) = 0;

private:
    static constexpr uint32_t kBufferSize = 1024;
    CGrowArray<char> m_buffer;
    std::mutex m_lock;
};

class CStdOutLog : public CLog {
public:
    void WriteLine(const char* text, uint32_t length) override;
};

// Problems with single objects of the input, for a whole run: a member met
// in every tile and pass is one fact, printed once. While one is made it is
// the run's report; without one, each call prints its line.
class CProblemReport {
public:
    // Lists every missing member when listAll, else the first kListed.
    explicit CProblemReport(bool listAll);
    ~CProblemReport();
    CProblemReport(const CProblemReport&) = delete;
    CProblemReport& operator=(const CProblemReport&) = delete;

    static constexpr uint64_t kListed = 20;

    // Prints how many missing members were counted but not listed, if any.
    void Finish() const;

private:
    friend void ReportMissing(const char* kind, int64_t id);
    friend void ReportProblem(const std::string& line);

    bool m_listAll;
    uint64_t m_missing = 0;  // distinct members reported missing
    std::unordered_set<std::string> m_seen;
    CProblemReport* m_outer;  // the report this one stands in for
};

// "<kind> <id> is missing", printed the first time in a run; kind is "Node",
// "Way" or "Relation".
void ReportMissing(const char* kind, int64_t id);
// line, printed the first time in a run.
void ReportProblem(const std::string& line);

// One line on a console, rewritten in place, for each phase or pass of a
// long run: the share of the input its current reading has passed, the time
// since the line began, and the time that reading expects to need yet.
// While one is made it is the run's line, which readings update through
// ShowProgress. Writes to out, which it does not own.
class CProgressLine {
public:
    explicit CProgressLine(std::FILE* out);
    // Ends the open line.
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    // Ends the open line and begins one under title.
    void Begin(const std::string& title);
    using TClock = std::chrono::steady_clock;

    // Blanks the line, so that a line printed on the same console stands
    // alone; the next Show writes it again.
    void Clear();
    // Rewrites the line, at most five times a second, for a reading of the
    // input of size bytes that began at byte from at time since and stands
    // at byte position.
    void Show(uint64_t position, uint64_t size, uint64_t from, TClock::time_point since);

private:
    void End();

    std::FILE* m_out;
    std::string m_title;  // empty when no line is open
    size_t m_shown = 0;   // characters of the line as last written
    TClock::time_point m_begun, m_written;
    CProgressLine* m_outer;
};

// Updates the run's progress line, if there is one, as CProgressLine::Show.
void ShowProgress(uint64_t position, uint64_t size, uint64_t from, CProgressLine::TClock::time_point since);
// Begins a line on the run's progress line, if there is one.
void BeginProgress(const std::string& title);

// value with a comma between groups of three digits ("2,138"): counts on the
// console are read, not parsed.
std::string GroupedDigits(uint64_t value);

// printf onto the end of text, however long the result.
void AppendFormat(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "%02u:%02u:%02u.%03u: " of the given local time, into out (at least 16 bytes).
void FormatTimeStamp(char* out, unsigned hour, unsigned minute, unsigned second, unsigned millisecond);

// Whatever holds the tables of a reading reports their bytes for progress lines.
class CMemoryHolder {
public:
    virtual uint64_t BytesHeld() const = 0;

protected:
    ~CMemoryHolder() = default;
};

// Prints a line each time the input has advanced by another hundredth.
class CProgressCounter {
public:
    // countWord may be null: then lines carry no second count.
    CProgressCounter(const CMemoryHolder& owner, CLog& log, const CReadProgress& stream, const char* entityWord,
                     const char* countWord);

    // Called once per entity read.
    void Step(uint64_t secondNumber);
    uint64_t Count() const { return m_count; }

private:
    const CMemoryHolder& m_owner;
    CLog& m_log;
    const CReadProgress& m_stream;
    const char* m_entityWord;
    const char* m_countWord;
    uint64_t m_count = 0;
    uint64_t m_step;
    uint64_t m_next;
    uint64_t m_from;       // where the reading began
    uint64_t m_shownStep;  // a thousandth of the input, for the progress line
    uint64_t m_nextShown;
    CProgressLine::TClock::time_point m_since = CProgressLine::TClock::now();
};

// Logs the title of each stage of a reading as it starts, and as it ends how
// long it took and how much the holder's tables hold then.
class CStageLog {
public:
    CStageLog(const CMemoryHolder& owner, CLog& log) : m_owner(owner), m_log(log) {}

    // Ends the stage begun last, if one is open, and logs "title...".
    void Begin(const char* title);
    // Logs "title: S.SSS s, N.N Mb held" for the stage begun last; nothing when
    // none is open.
    void End();

private:
    const CMemoryHolder& m_owner;
    CLog& m_log;
    std::string m_title;  // empty when no stage is open
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace Splitter
