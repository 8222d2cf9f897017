#include "common/streams/FileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/base/GrowArray.h"

namespace {

constexpr uint64_t kAlign = 512;
// Larger requests go to the system in pieces of this size.
constexpr uint64_t kMaxPiece = uint64_t(1) << 30;

uint64_t AlignDown(uint64_t v) { return v & ~(kAlign - 1); }
uint64_t AlignUp(uint64_t v) { return (v + kAlign - 1) & ~(kAlign - 1); }

std::unique_ptr<uint8_t[]> AllocateBytes(uint64_t n)
{
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[CheckedMul(n, 1)]);
    if (!bytes)
        ThrowBadAlloc();
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// CBufReadStreamImpl

CBufReadStreamImpl::CBufReadStreamImpl(uint64_t capacity) : m_capacity(capacity)
{
    if (capacity != kUnbuffered && capacity != kWholeFile) {
        if (capacity < 2 * kAlign || capacity % kAlign != 0)
            m_capacity = std::max(2 * kAlign, AlignUp(capacity));
        m_buffer = AllocateBytes(CheckedMul(m_capacity, 1) + 1);
    }
}

uint64_t CBufReadStreamImpl::ValidLength() const
{
    uint64_t rest = Size() - WindowStart();
    return m_capacity == kWholeFile ? rest : std::min(m_capacity, rest);
}

uint64_t CBufReadStreamImpl::MaxBlock() const
{
    if (m_capacity == kUnbuffered)
        return 0;
    if (m_capacity == kWholeFile)
        return Size();
    return m_capacity - kAlign;
}

uint64_t CBufReadStreamImpl::Available() const
{
    if (m_capacity == kUnbuffered)
        return 0;
    return std::min({Size() - m_position, m_capacity - m_cursor, MaxBlock()});
}

void CBufReadStreamImpl::AttachWindow()
{
    m_cursor = 0;
    m_position = 0;
    if (m_capacity == kUnbuffered)
        return;
    uint64_t size = Size();
    if (m_capacity == kWholeFile)
        m_buffer = AllocateBytes(CheckedMul(size, 1) + 1);
    RawRead(m_buffer.get(), m_capacity == kWholeFile ? size : std::min(size, m_capacity));
}

// Slides the window forward so that it starts at the 512-aligned offset at or
// below minimumStart, reading only the new bytes. Returns the bytes from the
// cursor to the end of the valid data.
uint64_t CBufReadStreamImpl::Refill(uint64_t minimumStart)
{
    uint64_t size = Size();
    if (m_capacity == kWholeFile)
        return size - m_position;
    uint64_t start = WindowStart();
    uint64_t end = start + m_capacity;
    if (end < size) {
        uint64_t shift = std::min(size - end, AlignDown(minimumStart) - start);
        uint64_t move = AlignUp(shift);
        if (shift != 0) {
            std::memmove(m_buffer.get(), m_buffer.get() + move, m_capacity - move);
            m_cursor -= move;
            RawRead(m_buffer.get() + m_capacity - move, shift);
        }
    }
    return ValidLength() - m_cursor;
}

const uint8_t* CBufReadStreamImpl::Get(uint64_t n)
{
    if (Remaining() < n)
        throw TStreamException{TStreamException::kPosition, m_position + n};
    if (m_capacity == kUnbuffered)
        throw TStreamException{TStreamException::kBuffer, m_position};
    if (ValidLength() - m_cursor < n && Refill(m_position) < n)
        throw TStreamException{TStreamException::kBuffer, m_position};
    const uint8_t* p = m_buffer.get() + m_cursor;
    m_cursor += n;
    m_position += n;
    return p;
}

void CBufReadStreamImpl::Read(void* destination, uint64_t n)
{
    if (Remaining() < n)
        throw TStreamException{TStreamException::kPosition, m_position + n};
    if (m_capacity == kUnbuffered) {
        RawRead(destination, n);
        m_position += n;
        return;
    }
    auto* out = static_cast<uint8_t*>(destination);
    while (n != 0) {
        uint64_t take = std::min(n, ValidLength() - m_cursor);
        std::memcpy(out, m_buffer.get() + m_cursor, take);
        out += take;
        n -= take;
        m_cursor += take;
        m_position += take;
        if (n != 0)
            Refill(m_position);
    }
}

void CBufReadStreamImpl::CopyTo(CWriteStream& target, uint64_t n)
{
    if (Remaining() < n)
        throw TStreamException{TStreamException::kPosition, m_position + n};
    if (m_capacity == kUnbuffered)
        throw TStreamException{TStreamException::kBuffer, m_position};
    while (n != 0) {
        uint64_t take = std::min(n, ValidLength() - m_cursor);
        target.Write(m_buffer.get() + m_cursor, take);
        n -= take;
        m_cursor += take;
        m_position += take;
        if (n != 0)
            Refill(m_position);
    }
}

void CBufReadStreamImpl::Seek(uint64_t p)
{
    uint64_t size = Size();
    if (p > size)
        throw TStreamException{TStreamException::kPosition, p};
    m_pendingLineFeed = false;
    if (m_capacity == kUnbuffered) {
        RawSeek(p);
        m_position = p;
        return;
    }
    if (m_capacity == kWholeFile) {
        m_cursor = p;
        m_position = p;
        return;
    }
    uint64_t start = WindowStart();
    uint64_t valid = ValidLength();
    uint64_t newStart = AlignDown(p);
    if (p >= start && p <= start + valid) {
        m_cursor = p - start;
    } else if (p < start && start - newStart < m_capacity) {
        // Shortly before the window: keep the bytes that stay inside it and
        // read only the new front.
        uint64_t d = start - newStart;
        uint64_t kept = std::min(m_capacity - d, valid);
        std::memmove(m_buffer.get() + d, m_buffer.get(), kept);
        RawSeek(newStart);
        RawRead(m_buffer.get(), d);
        RawSeek(newStart + d + kept);
        m_cursor = p - newStart;
    } else {
        RawSeek(newStart);
        RawRead(m_buffer.get(), std::min(m_capacity, size - newStart));
        m_cursor = p - newStart;
    }
    m_position = p;
}

char* CBufReadStreamImpl::ReadLine()
{
    uint64_t size = Size();
    if (m_position == size)
        return nullptr;
    if (m_capacity == kUnbuffered)
        throw TStreamException{TStreamException::kBuffer, m_position};
    if (std::exchange(m_pendingLineFeed, false) && *Get(1) != '\n') {
        --m_cursor;
        --m_position;
    }
    if (m_position == size)
        return nullptr;

    uint64_t scanned = 0;  // bytes from the cursor known to hold no line end
    for (;;) {
        uint64_t avail = ValidLength() - m_cursor;
        const uint8_t* line = m_buffer.get() + m_cursor;
        uint64_t i = scanned;
        while (i < avail && line[i] != '\r' && line[i] != '\n')
            ++i;
        // A CR as the last byte in memory may be the first half of CR LF.
        bool needMore = i >= avail || (line[i] == '\r' && i + 1 == avail);
        if (needMore && m_position + avail < size) {
            scanned = i;
            if (Refill(m_position) > avail)
                continue;
        }
        uint8_t* start = m_buffer.get() + m_cursor;
        uint64_t skip = 0;
        if (i < avail) {
            skip = (start[i] == '\r' && i + 1 < avail && start[i + 1] == '\n') ? 2 : 1;
            m_pendingLineFeed = start[i] == '\r' && i + 1 == avail;
        }
        start[i] = 0;  // over the line end, or into the spare byte
        m_cursor += i + skip;
        m_position += i + skip;
        return reinterpret_cast<char*>(start);
    }
}

// ---------------------------------------------------------------------------
// CFileStream

CFileStream::~CFileStream() { CloseFile(); }

void CFileStream::CloseFile() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CFileStream::OpenFile(const std::string& path, EMode mode)
{
    CloseFile();
    int flags = O_CLOEXEC;
    switch (mode) {
    case kRead: flags |= O_RDONLY | O_NONBLOCK; break;
    case kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case kAppend: flags |= O_RDWR | O_CREAT; break;
    }
    m_path = path;
    int fd;
    do
        fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return OpenFailed(errno);
    if (mode == kRead) {
        struct stat st;
        int error = 0;
        if (::fstat(fd, &st) != 0)
            error = errno;
        else if (S_ISDIR(st.st_mode))
            error = EISDIR;
        else if (!S_ISREG(st.st_mode))
            error = kNotRegular;
        else if (::fcntl(fd, F_SETFL, O_RDONLY) != 0)
            error = errno;
        if (error != 0) {
            ::close(fd);
            return OpenFailed(error);
        }
    }
    m_fd = fd;
    m_openError = 0;
    return true;
}

bool CFileStream::OpenFailed(int error)
{
    m_openError = error;
    return false;
}

void CFileStream::Fail(uint32_t code, uint64_t position, int error) const
{
    throw TStreamException{code, position, error, m_path};
}

const char* CFileStream::OpenError() const
{
    return m_openError == kNotRegular ? "not a regular file" : std::strerror(m_openError);
}

// ---------------------------------------------------------------------------
// CFileReadStream

bool CFileReadStream::Open(const std::string& path)
{
    if (!OpenFile(path, kRead))
        return false;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        int error = errno;
        CloseFile();
        return OpenFailed(error);
    }
    m_size = static_cast<uint64_t>(st.st_size);
    m_modified = static_cast<int64_t>(st.st_mtime);
    AttachWindow();
    return true;
}

void CFileReadStream::RawSeek(uint64_t position)
{
    if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        Fail(TStreamException::kPosition, position, errno);
}

void CFileReadStream::RawRead(void* destination, uint64_t n)
{
    auto* out = static_cast<uint8_t*>(destination);
    while (n != 0) {
        ssize_t got = ::read(m_fd, out, std::min(n, kMaxPiece));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)  // an error, or the file shrank under us
            Fail(TStreamException::kRead, 0, got < 0 ? errno : 0);
        out += got;
        n -= static_cast<uint64_t>(got);
    }
}

// ---------------------------------------------------------------------------
// CFileWriteStream

CFileWriteStream::CFileWriteStream(uint64_t capacity) : m_capacity(capacity) {}

void CFileWriteStream::Grow(uint64_t n)
{
    constexpr uint64_t kFirstBuffer = 1024;
    const uint64_t size = std::min(m_capacity, std::max({n, 2 * m_allocated, kFirstBuffer}));
    if (size <= m_allocated)
        return;
    std::unique_ptr<uint8_t[]> grown = AllocateBytes(size);
    if (m_filled != 0)
        std::memcpy(grown.get(), m_buffer.get(), m_filled);
    m_buffer = std::move(grown);
    m_allocated = size;
}

CFileWriteStream::~CFileWriteStream()
{
    // Only streams abandoned on an error path get here open; the error being
    // handled is the one worth reporting.
    try {
        Close();
    } catch (const TStreamException&) {
    }
}

bool CFileWriteStream::Open(const std::string& path, bool append)
{
    if (!OpenFile(path, append ? kAppend : kCreate))
        return false;
    m_cursor = 0;
    m_filled = 0;
    m_position = 0;
    m_unsynced = false;
    if (append) {
        off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (end < 0) {
            int error = errno;
            CloseFile();
            return OpenFailed(error);
        }
        m_position = static_cast<uint64_t>(end);
    }
    return true;
}

void CFileWriteStream::WriteRaw(const void* data, uint64_t n)
{
    auto* in = static_cast<const uint8_t*>(data);
    while (n != 0) {
        ssize_t put = ::write(m_fd, in, std::min(n, kMaxPiece));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            Fail(TStreamException::kWrite, 0, put < 0 ? errno : 0);
        m_unsynced = true;
        in += put;
        n -= static_cast<uint64_t>(put);
    }
}

void CFileWriteStream::FlushBuffer()
{
    uint64_t filled = m_filled;
    m_cursor = 0;
    m_filled = 0;
    WriteRaw(m_buffer.get(), filled);
}

void CFileWriteStream::Write(const void* data, uint64_t n)
{
    m_position += n;
    if (m_cursor + n > m_allocated && m_allocated < m_capacity)
        Grow(m_cursor + n);
    if (m_cursor + n <= m_allocated) {
        if (n != 0)
            std::memcpy(m_buffer.get() + m_cursor, data, n);
        m_cursor += n;
        m_filled = std::max(m_filled, m_cursor);
        return;
    }
    auto* in = static_cast<const uint8_t*>(data);
    if (m_allocated == 0) {
        WriteRaw(in, n);
        return;
    }
    uint64_t head = m_allocated - m_cursor;
    std::memcpy(m_buffer.get() + m_cursor, in, head);
    m_cursor = m_filled = m_allocated;
    FlushBuffer();
    in += head;
    n -= head;
    uint64_t direct = n - n % m_allocated;
    WriteRaw(in, direct);
    std::memcpy(m_buffer.get(), in + direct, n - direct);
    m_cursor = m_filled = n - direct;
}

void CFileWriteStream::CopyFrom(CReadStream& source, uint64_t n)
{
    if (m_capacity == 0)
        throw TStreamException{TStreamException::kBuffer, m_position};
    Grow(m_capacity);
    m_position += n;
    while (n != 0) {
        uint64_t take = std::min(m_allocated - m_cursor, n);
        source.Read(m_buffer.get() + m_cursor, take);
        m_cursor += take;
        m_filled = std::max(m_filled, m_cursor);
        n -= take;
        if (m_cursor == m_allocated) {
            m_filled = m_allocated;
            FlushBuffer();
        }
    }
}

void CFileWriteStream::Seek(uint64_t p)
{
    uint64_t start = m_position - m_cursor;
    if (p >= start && p <= start + m_filled && p < start + m_allocated) {
        m_cursor = p - start;
        m_position = p;
        return;
    }
    FlushBuffer();
    if (::lseek(m_fd, static_cast<off_t>(p), SEEK_SET) < 0)
        Fail(TStreamException::kPosition, p, errno);
    m_position = p;
}

uint64_t CFileWriteStream::Size() const
{
    uint64_t buffered = m_position - m_cursor + m_filled;
    struct stat st;
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0)
        return std::max(static_cast<uint64_t>(st.st_size), buffered);
    return buffered;
}

void CFileWriteStream::Sync()
{
    // Devices and pipes cannot be synced; that is not a failure.
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS)
        Fail(TStreamException::kWrite, 0, errno);
    m_unsynced = false;
}

bool CFileWriteStream::Close()
{
    if (m_fd < 0)
        return false;
    bool ok = true;
    int error = 0;
    try {
        if (m_filled != 0)
            FlushBuffer();
        if (m_unsynced)
            Sync();
    } catch (const TStreamException& e) {
        ok = false;
        error = e.error;
    }
    if (::close(m_fd) != 0 && errno != EINTR && ok) {
        ok = false;
        error = errno;
    }
    m_fd = -1;
    m_cursor = m_filled = 0;
    m_unsynced = false;
    if (!ok)
        Fail(TStreamException::kWrite, 0, error);
    return true;
}

void CFileWriteStream::SyncAll(CFileWriteStream* const* streams, uint64_t count)
{
    // The file systems written to, each with one of its files.
    std::vector<std::pair<dev_t, int>> systems;
    for (uint64_t i = 0; i < count; ++i) {
        CFileWriteStream& s = *streams[i];
        if (s.m_fd < 0)
            continue;
        if (s.m_filled != 0)
            s.FlushBuffer();
        struct stat st;
        if (!s.m_unsynced || ::fstat(s.m_fd, &st) != 0 || !S_ISREG(st.st_mode))
            continue;  // what fstat cannot tell, Close still syncs
        if (std::none_of(systems.begin(), systems.end(), [&st](const auto& d) { return d.first == st.st_dev; }))
            systems.emplace_back(st.st_dev, s.m_fd);
    }
    for (const auto& [device, fd] : systems) {
        const bool synced = ::syncfs(fd) == 0;
        for (uint64_t i = 0; i < count; ++i) {
            CFileWriteStream& s = *streams[i];
            struct stat st;
            if (s.m_fd < 0 || !s.m_unsynced || ::fstat(s.m_fd, &st) != 0 || st.st_dev != device)
                continue;
            // A failed sync of the whole system does not say whose data was
            // lost: each file's own sync does.
            if (synced)
                s.m_unsynced = false;
            else
                s.Sync();
        }
    }
}
