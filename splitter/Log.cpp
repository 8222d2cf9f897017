#include "splitter/Log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "common/streams/Stream.h"

namespace Splitter {

CLog::CLog()
{
    m_buffer.Resize(kBufferSize);
    m_buffer[kBufferSize - 1] = 0;
}

void CLog::Line(const char* text)
{
    if (!enabled)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    WriteLine(text, static_cast<uint32_t>(std::char_traits<char>::length(text)));
}

void CLog::Format(const char* format, ...)
{
    if (!enabled)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(m_buffer.Data(), kBufferSize, format, args);
    va_end(args);
    if (n < 0)
        return;
    WriteLine(m_buffer.Data(), n >= int(kBufferSize) ? kBufferSize - 1 : uint32_t(n));
}

namespace {

CProblemReport* g_problems = nullptr;
CProgressLine* g_progress = nullptr;

// "1:02:03", or "2:03" below an hour.
std::string Duration(double seconds)
{
    const auto total = uint64_t(seconds < 0 ? 0 : seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", total / 3600, unsigned(total / 60 % 60),
                      unsigned(total % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(total / 60), unsigned(total % 60));
    return text;
}

}  // namespace

std::string GroupedDigits(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (auto i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, ',');
    return digits;
}

CProblemReport::CProblemReport(bool listAll) : m_listAll(listAll), m_outer(g_problems) { g_problems = this; }

CProblemReport::~CProblemReport() { g_problems = m_outer; }

void CProblemReport::Finish() const
{
    if (!m_listAll && m_missing > kListed)
        std::printf("\u2026 and %s more members missing from the input; -v lists them all\n",
                    GroupedDigits(m_missing - kListed).c_str());
}

namespace {

// A line of its own on the console, where the progress line may stand.
void PrintProblem(const char* line)
{
    if (g_progress != nullptr)
        g_progress->Clear();
    std::puts(line);
}

}  // namespace

void ReportMissing(const char* kind, int64_t id)
{
    char line[64];
    std::snprintf(line, sizeof line, "%s %" PRId64 " is missing", kind, id);
    if (g_problems == nullptr)
        return PrintProblem(line);
    if (!g_problems->m_seen.insert(line).second)
        return;
    if (++g_problems->m_missing <= CProblemReport::kListed || g_problems->m_listAll)
        PrintProblem(line);
}

void ReportProblem(const std::string& line)
{
    if (g_problems == nullptr || g_problems->m_seen.insert(line).second)
        PrintProblem(line.c_str());
}

CProgressLine::CProgressLine(std::FILE* out) : m_out(out), m_outer(g_progress) { g_progress = this; }

CProgressLine::~CProgressLine()
{
    End();
    g_progress = m_outer;
}

void CProgressLine::End()
{
    if (m_title.empty())
        return;
    if (m_shown != 0)
        std::fputc('\n', m_out);
    std::fflush(m_out);
    m_title.clear();
}

void CProgressLine::Begin(const std::string& title)
{
    End();
    m_title = title;
    m_begun = TClock::now();
    m_written = m_begun - std::chrono::seconds(1);
    m_shown = 0;
}

void CProgressLine::Clear()
{
    if (m_shown == 0)
        return;
    std::fprintf(m_out, "\r%*s\r", int(m_shown), "");
    std::fflush(m_out);
    m_shown = 0;
    m_written = m_begun - std::chrono::seconds(1);
}

void CProgressLine::Show(uint64_t position, uint64_t size, uint64_t from, TClock::time_point since)
{
    const TClock::time_point now = TClock::now();
    if (m_title.empty() || now - m_written < std::chrono::milliseconds(200))
        return;
    m_written = now;
    const double share = size == 0 ? 1 : double(position) / double(size);
    const double done = size <= from || position < from ? 1 : double(position - from) / double(size - from);
    const std::chrono::duration<double> reading = now - since, elapsed = now - m_begun;
    std::string line = m_title + ": " + std::to_string(int(share * 100)) + "% of the input, " +
                       Duration(elapsed.count()) + " elapsed";
    if (done > 0.01)
        line += ", this reading done in about " + Duration(reading.count() / done * (1 - done));
    // Blanks cover what the line held before.
    const size_t length = line.size();
    line.resize(std::max(length, m_shown), ' ');
    m_shown = length;
    std::fprintf(m_out, "\r%s", line.c_str());
    std::fflush(m_out);
}

void ShowProgress(uint64_t position, uint64_t size, uint64_t from, CProgressLine::TClock::time_point since)
{
    if (g_progress != nullptr)
        g_progress->Show(position, size, from, since);
}

void BeginProgress(const std::string& title)
{
    if (g_progress != nullptr)
        g_progress->Begin(title);
}

void FormatTimeStamp(char* out, unsigned hour, unsigned minute, unsigned second, unsigned millisecond)
{
    std::snprintf(out, 16, "%02u:%02u:%02u.%03u: ", hour % 100, minute % 100, second % 100, millisecond % 1000);
}

void CStdOutLog::WriteLine(const char* text, uint32_t)
{
    if (g_progress != nullptr)
        g_progress->Clear();
    if (timeStamps) {
        timeval now;
        gettimeofday(&now, nullptr);
        tm local;
        localtime_r(&now.tv_sec, &local);
        char stamp[16];
        FormatTimeStamp(stamp, unsigned(local.tm_hour), unsigned(local.tm_min), unsigned(local.tm_sec),
                        unsigned(now.tv_usec / 1000));
        std::fputs(stamp, stdout);
    }
    std::puts(text);
    std::fflush(stdout);
}

CProgressCounter::CProgressCounter(const CMemoryHolder& owner, CLog& log, const CReadProgress& stream,
                                   const char* entityWord, const char* countWord)
    : m_owner(owner),
      m_log(log),
      m_stream(stream),
      m_entityWord(entityWord),
      m_countWord(countWord),
      m_step(stream.Size() / 100),
      m_next(stream.Position() + m_step),
      m_from(stream.Position()),
      m_shownStep(stream.Size() / 1000),
      m_nextShown(m_from + m_shownStep)
{
}

void CProgressCounter::Step(uint64_t secondNumber)
{
    ++m_count;
    const uint64_t position = m_stream.Position();
    if (position >= m_nextShown) {
        m_nextShown = position + m_shownStep;
        ShowProgress(position, m_stream.Size(), m_from, m_since);
    }
    if (position < m_next)
        return;
    m_next += m_step;
    auto megabytes = static_cast<uint32_t>(m_owner.BytesHeld() >> 20);
    if (m_countWord != nullptr)
        m_log.Format("%5u Mb, %" PRIu64 " %ss read, %" PRIu64 " %s", megabytes, m_count, m_entityWord, secondNumber,
                     m_countWord);
    else
        m_log.Format("%5u Mb, %" PRIu64 " %ss read", megabytes, m_count, m_entityWord);
}

void CStageLog::Begin(const char* title)
{
    End();
    m_title = title;
    m_log.Format("%s...", title);
    m_start = std::chrono::steady_clock::now();
}

void CStageLog::End()
{
    if (m_title.empty())
        return;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - m_start;
    m_log.Format("%s: %.3f s, %.1f Mb held", m_title.c_str(), took.count(), double(m_owner.BytesHeld()) / (1 << 20));
    m_title.clear();
}

void AppendFormat(std::string& text, const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const size_t at = text.size();
        text.resize(at + size_t(n));
        // vsnprintf writes a terminator; the string keeps room for one.
        std::vsnprintf(text.data() + at, size_t(n) + 1, format, again);
    }
    va_end(again);
}

}  // namespace Splitter
