#include "splitter/Log.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "common/streams/Stream.h"

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

void ReportMissing(const char* kind, int64_t id)
{
    char line[64];
    std::snprintf(line, sizeof line, "%s %" PRId64 " is missing", kind, id);
    if (g_problems == nullptr) {
        std::puts(line);
        return;
    }
    if (!g_problems->m_seen.insert(line).second)
        return;
    if (++g_problems->m_missing <= CProblemReport::kListed || g_problems->m_listAll)
        std::puts(line);
}

void ReportProblem(const std::string& line)
{
    if (g_problems == nullptr || g_problems->m_seen.insert(line).second)
        std::puts(line.c_str());
}

void FormatTimeStamp(char* out, unsigned hour, unsigned minute, unsigned second, unsigned millisecond)
{
    std::snprintf(out, 16, "%02u:%02u:%02u.%03u: ", hour % 100, minute % 100, second % 100, millisecond % 1000);
}

void CStdOutLog::WriteLine(const char* text, uint32_t)
{
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
      m_next(stream.Position() + m_step)
{
}

void CProgressCounter::Step(uint64_t secondNumber)
{
    ++m_count;
    if (m_stream.Position() < m_next)
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
