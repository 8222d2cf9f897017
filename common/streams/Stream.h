// Abstract byte streams and the exception every stream failure raises.
#pragma once

#include <cstdint>
#include <string>

// Thrown by value on every stream failure.
struct TStreamException {
    enum : uint32_t {
        kWrite = 0,     // a write, flush or close failed
        kRead = 1,      // the system refused a read
        kPosition = 2,  // a position outside the stream, or a refused seek
        kBuffer = 3,    // the window cannot serve the request
    };
    uint32_t code;
    // kPosition: the position asked for; kBuffer: the current position; else 0.
    uint64_t position;
    // The system's error number when a system call failed, else 0.
    int error = 0;
    // The file the failure concerns, when the stream knows it.
    std::string file = {};
};

class CWriteStream;

// How far a reading has come through its input, for progress lines.
class CReadProgress {
public:
    virtual ~CReadProgress() = default;
    virtual uint64_t Position() const = 0;
    virtual uint64_t Size() const = 0;
};

class CReadStream : public CReadProgress {
public:
    // Returns n contiguous bytes at the current position, valid until the next
    // call on the stream, and advances past them. Throws kPosition when fewer
    // than n bytes remain, kBuffer when the window cannot hold n bytes.
    virtual const uint8_t* Get(uint64_t n) = 0;
    // Copies n bytes (any n) and advances. Throws kPosition when fewer remain.
    virtual void Read(void* destination, uint64_t n) = 0;
    virtual uint64_t Remaining() const = 0;
    // The largest n that Get can always serve.
    virtual uint64_t MaxBlock() const = 0;
    // Bytes ahead of the cursor that are already in memory.
    virtual uint64_t Available() const = 0;
    // Throws kPosition when p lies beyond Size().
    virtual void Seek(uint64_t p) = 0;
};

class CWriteStream {
public:
    virtual ~CWriteStream() = default;
    // Takes n bytes from source straight into the buffer.
    virtual void CopyFrom(CReadStream& source, uint64_t n) = 0;
    virtual void Write(const void* data, uint64_t n) = 0;
    virtual uint64_t Position() const = 0;
    virtual void Seek(uint64_t p) = 0;
};
