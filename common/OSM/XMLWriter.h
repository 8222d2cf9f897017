// OSM XML output, one element per entity as it is handed over.
#pragma once

#include <string>

#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"

namespace OSM {

class CXMLWriter : public CDataWriter {
public:
    CXMLWriter() : m_stream(65536) {}
    // Completes a file that was not closed; never throws.
    ~CXMLWriter() override;

    // Creates path and writes the file head (completing a file already
    // open). False when the file cannot be created or its head written.
    bool Open(const std::string& path);
    // Writes the tail and closes; throws TStreamException (kWrite) on failure.
    void Close();

    void WriteRelation(const TRelation& relation) override;
    void WriteWay(const TWay& way) override;
    void WriteNode(const TNode& node) override;

private:
    void Put(const char* text, size_t n) { m_stream.Write(text, n); }
    template <size_t N>
    void Put(const char (&literal)[N])
    {
        m_stream.Write(literal, N - 1);
    }
    void Common(const TEntity& entity);
    void Tags(const TEntity& entity);
    // " name=\"value\"" with the value escaped; nothing for an empty value.
    void EscapedAttribute(const char* name, const std::string& value);

    CFileWriteStream m_stream;
};

// "%u-%02u-%02uT%02u:%02u:%02uZ" of a time in milliseconds since 1970,
// taken as unsigned 32-bit seconds. out holds at least 32 bytes.
void FormatTimestamp(int64_t milliseconds, char* out);

}  // namespace OSM
