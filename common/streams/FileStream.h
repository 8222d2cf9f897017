// Buffered file streams over POSIX file descriptors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/streams/Stream.h"

// A read stream that keeps a window of the file in memory. The window starts
// at a multiple of 512 bytes, so seeking back a little reuses what was read.
class CBufReadStreamImpl : public CReadStream {
public:
    static constexpr uint64_t kUnbuffered = 0;
    static constexpr uint64_t kWholeFile = ~uint64_t(0);

    const uint8_t* Get(uint64_t n) override;
    void Read(void* destination, uint64_t n) override;
    uint64_t Remaining() const override { return Size() - Position(); }
    uint64_t MaxBlock() const override;
    uint64_t Available() const override;
    uint64_t Position() const override { return m_position; }
    void Seek(uint64_t p) override;

    // Passes n bytes to target.Write in pieces taken from the window.
    virtual void CopyTo(CWriteStream& target, uint64_t n);

    // Returns the next line, zero-terminated inside the window, or nullptr at
    // the end of the stream. A line ends at CR, LF or CR LF; the last line
    // needs no end. A line longer than the window less 511 bytes may come in
    // pieces: the window slides in steps of 512 bytes.
    // The pointer is valid until the next call on the stream.
    char* ReadLine();

protected:
    explicit CBufReadStreamImpl(uint64_t capacity);
    // Moves the system file pointer.
    virtual void RawSeek(uint64_t position) = 0;
    // Reads exactly n bytes at the system file pointer.
    virtual void RawRead(void* destination, uint64_t n) = 0;

    // Resets the window to the file start and fills it; called once the file
    // is open and its size known.
    void AttachWindow();

private:
    uint64_t WindowStart() const { return m_position - m_cursor; }
    uint64_t ValidLength() const;
    uint64_t Refill(uint64_t minimumStart);

    std::unique_ptr<uint8_t[]> m_buffer;  // capacity + 1 bytes: ReadLine's terminator
    uint64_t m_capacity;
    uint64_t m_cursor = 0;
    uint64_t m_position = 0;
    // The last line ended with a CR at the window's end; an LF right after it
    // belongs to the same line end.
    bool m_pendingLineFeed = false;
};

// Owns the file descriptor.
class CFileStream {
public:
    enum EMode { kRead = 0, kCreate = 1, kAppend = 2 };

    CFileStream() = default;
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;
    ~CFileStream();

    // kRead opens an existing regular file read-only (never waiting for a
    // pipe's writer); kCreate creates or truncates; kAppend opens or creates,
    // positioned at the end. Any file already open is closed first. Returns
    // whether it opened; OpenError() then says why not.
    bool OpenFile(const std::string& path, EMode mode);
    bool IsOpen() const { return m_fd >= 0; }
    // Why the last open failed, as the system words it.
    const char* OpenError() const;

protected:
    void CloseFile() noexcept;
    // Records the reason of a failed open and returns false.
    bool OpenFailed(int error);
    // Throws code for this file with the system's error number.
    [[noreturn]] void Fail(uint32_t code, uint64_t position, int error) const;
    int m_fd = -1;
    std::string m_path;  // of the file opened last

private:
    // A file to be read that is a pipe, a device or a socket: its size says
    // nothing, and the program reads its inputs more than once.
    static constexpr int kNotRegular = -1;
    int m_openError = 0;
};

class CFileReadStream : public CBufReadStreamImpl, public CFileStream {
public:
    // capacity: the window size, kUnbuffered, or kWholeFile to hold the
    // entire file in memory.
    explicit CFileReadStream(uint64_t capacity) : CBufReadStreamImpl(capacity) {}

    // Opens path for reading and fills the window. False when the file cannot
    // be opened or its size read; throws kRead when the first read fails.
    bool Open(const std::string& path);

    uint64_t Remaining() const override { return m_size - Position(); }
    uint64_t Size() const override { return m_size; }
    // The file's last modification, in seconds since 1970, as of Open.
    int64_t ModificationTime() const { return m_modified; }

protected:
    void RawSeek(uint64_t position) override;
    void RawRead(void* destination, uint64_t n) override;

private:
    uint64_t m_size = 0;
    int64_t m_modified = 0;
};

// Buffered writing. Every failure throws TStreamException kWrite where it
// happens; nothing is dropped silently.
class CFileWriteStream : public CWriteStream, public CFileStream {
public:
    // capacity: the most the buffer grows to, 0 for none. It starts small and
    // grows while the file takes more, so that thousands of files open at
    // once each hold about what they were given.
    explicit CFileWriteStream(uint64_t capacity = 65536);
    ~CFileWriteStream() override;

    void CopyFrom(CReadStream& source, uint64_t n) override;
    void Write(const void* data, uint64_t n) override;
    uint64_t Position() const override { return m_position; }
    void Seek(uint64_t p) override;

    // Creates or truncates path, or with append opens it at its end.
    bool Open(const std::string& path, bool append = false);
    // The larger of the size on disk and what the buffer adds to it.
    uint64_t Size() const;
    // Writes the buffer, syncs to disk what was written since the last sync
    // and closes the file. Returns false when no file is open; throws kWrite
    // when writing, syncing or closing fails (the file is closed all the same).
    bool Close();

    // Writes the buffers of the open streams and syncs them to disk with one
    // sync per file system instead of one per file; their Close then has
    // nothing left to sync. Throws kWrite naming a file whose buffer or data
    // could not be written; the streams stay open either way.
    static void SyncAll(CFileWriteStream* const* streams, uint64_t count);

    // Runs finish, which writes the file's last bytes, then closes the file.
    // When finish throws TStreamException the file is closed all the same
    // and the first failure leaves. Nothing when no file is open.
    template <typename Finish>
    void FinishAndClose(Finish&& finish)
    {
        if (!IsOpen())
            return;
        try {
            finish();
        } catch (const TStreamException&) {
            try {
                Close();
            } catch (const TStreamException&) {
                // The first failure is the one to report.
            }
            throw;
        }
        Close();
    }

private:
    void WriteRaw(const void* data, uint64_t n);
    void FlushBuffer();
    // Grows the buffer towards m_capacity to hold at least n bytes.
    void Grow(uint64_t n);
    // Syncs the file unless it cannot be (a device, a pipe); throws kWrite.
    void Sync();

    std::unique_ptr<uint8_t[]> m_buffer;
    uint64_t m_capacity;
    uint64_t m_allocated = 0;  // the buffer's size, at most m_capacity
    uint64_t m_cursor = 0;
    uint64_t m_filled = 0;
    uint64_t m_position = 0;
    bool m_unsynced = false;  // bytes went to the system since the last sync
};
