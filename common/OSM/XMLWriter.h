// OSM XML output, one element per entity as it is handed over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"

namespace OSM {

class CXMLWriter : public CDataWriter {
public:
    CXMLWriter() : m_stream(65536) {}
    // Completes a file that was not closed; never throws.
    ~CXMLWriter() override;

    // Completes a file already open, then creates path and writes the file
    // head. False when completing the old file fails, or the new one cannot
    // be created or its head written.
    bool Open(const std::string& path);
    // Writes the tail and closes the file; does nothing when none is open.
    // Throws TStreamException (kWrite) when that fails; the file is closed
    // all the same.
    void Close();
    // Writes the tail, leaving the file open for CompletedStream and Close;
    // does nothing when none is open or it is done. Throws TStreamException
    // (kWrite) as Close does, and leaves the file open.
    void Complete();
    // The stream, for a caller that completed the file, until Close.
    CFileWriteStream& CompletedStream() { return m_stream; }

    void WriteRelation(const TRelation& relation) override;
    void WriteWay(const TWay& way) override;
    void WriteNode(const TNode& node) override;

private:
    void Put(const char* text, size_t n) { m_stream.Write(text, n); }
    void Put(std::string_view text) { m_stream.Write(text.data(), text.size()); }
    // " name=\"value\"": integers in decimal, degrees with 7 decimals.
    void NumberAttribute(std::string_view name, int64_t value);
    void DegreesAttribute(std::string_view name, int32_t units);
    // The same with the value escaped; nothing for an empty value.
    void EscapedAttribute(std::string_view name, const std::string& value);
    void Common(const TEntity& entity);
    void Tags(const TEntity& entity);

    CFileWriteStream m_stream;
    bool m_completed = false;  // the tail is written
};

// "YYYY-MM-DDThh:mm:ssZ" of a time in milliseconds since 1970, taken as
// unsigned 32-bit seconds counted in four-year cycles (exact for 1970 to
// 2099). Writes 20 bytes and a terminating zero to out.
void FormatTimestamp(int64_t milliseconds, char* out);

}  // namespace OSM
