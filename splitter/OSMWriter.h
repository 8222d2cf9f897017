// One output file of a pass, in OSM XML or PBF.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/OSM/DataWriter.h"

class CFileWriteStream;

namespace Splitter {

class CBoundaryRelationList;

class COSMWriter : public OSM::CDataWriter {
public:
    COSMWriter();
    ~COSMWriter() override;

    // Creates path and writes its head, as PBF or XML. relations, when given,
    // is told of every relation written. Returns false when the file cannot
    // be created; OpenError() then says why.
    bool Open(const std::string& path, bool pbf, CBoundaryRelationList* relations);
    // The system's reason why the last Open failed.
    const char* OpenError() const { return m_openError.c_str(); }
    // Completes and closes the file; throws TStreamException (kWrite) when
    // that fails. A writer destroyed without Close completes its file quietly.
    void Close();
    // Close in steps, for a pass that completes all its files before it
    // waits for any: Complete writes what the file still lacks (PBF hands
    // its last block to the blob worker), CompletedStream waits for the file
    // to be written and returns its stream, to be synced with the others
    // (CFileWriteStream::SyncAll) before Close. Both throw TStreamException
    // (kWrite) as Close does, and leave the file open; the writer must be open.
    void Complete();
    CFileWriteStream& CompletedStream();
    // Closes the file unless Close succeeded, and removes it when it is a
    // plain file (never a device or a pipe). Never throws.
    void Discard() noexcept;

    void WriteRelation(const OSM::TRelation& relation) override;
    void WriteWay(const OSM::TWay& way) override;
    void WriteNode(const OSM::TNode& node) override;
    std::string GetFileName() const override { return m_fileName; }

    uint64_t NodesWritten() const { return m_nodes; }
    uint64_t WaysWritten() const { return m_ways; }
    uint64_t RelationsWritten() const { return m_relations; }

private:
    // The format writer, behind the same interface; its Close is not virtual.
    struct TFormat;
    std::unique_ptr<TFormat> m_format;
    CBoundaryRelationList* m_relationList = nullptr;
    std::string m_fileName;
    std::string m_openError;
    uint64_t m_nodes = 0, m_ways = 0, m_relations = 0;
};

}  // namespace Splitter
