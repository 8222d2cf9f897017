#include "splitter/OSMWriter.h"

#include <cerrno>
#include <cstring>
#include <variant>

#include "common/OSM/PBFWriter.h"
#include "common/OSM/XMLWriter.h"
#include "common/streams/FileSystem.h"
#include "splitter/BoundaryRelations.h"

namespace Splitter {

struct COSMWriter::TFormat {
    std::variant<OSM::CXMLWriter, OSM::CPBFWriter> writer;

    OSM::CDataWriter& Base()
    {
        return std::visit([](auto& w) -> OSM::CDataWriter& { return w; }, writer);
    }
};

COSMWriter::COSMWriter() = default;
COSMWriter::~COSMWriter() = default;

bool COSMWriter::Open(const std::string& path, bool pbf, CBoundaryRelationList* relations)
{
    m_fileName = path;
    m_relationList = relations;
    m_format = std::make_unique<TFormat>();
    errno = 0;
    bool opened;
    if (pbf)
        opened = m_format->writer.emplace<OSM::CPBFWriter>().Open(path);
    else
        opened = m_format->writer.emplace<OSM::CXMLWriter>().Open(path);
    if (!opened) {
        // The writers fail only where the system refused to open or write.
        m_openError = errno != 0 ? std::strerror(errno) : "unknown error";
        m_format.reset();
        return false;
    }
    m_nodes = m_ways = m_relations = 0;
    return true;
}

void COSMWriter::Close()
{
    if (!m_format)
        return;
    std::visit([](auto& w) { w.Close(); }, m_format->writer);
    m_format.reset();
}

void COSMWriter::Complete()
{
    std::visit([](auto& w) { w.Complete(); }, m_format->writer);
}

CFileWriteStream& COSMWriter::CompletedStream()
{
    return std::visit([](auto& w) -> CFileWriteStream& { return w.CompletedStream(); }, m_format->writer);
}

void COSMWriter::Discard() noexcept
{
    if (!m_format)
        return;
    // Removed first: closing a writer still completes its file.
    RemovePlainFile(m_fileName);
    m_format.reset();
}

void COSMWriter::WriteRelation(const OSM::TRelation& relation)
{
    if (m_format)
        m_format->Base().WriteRelation(relation);
    ++m_relations;
    if (m_relationList != nullptr)
        m_relationList->Note(relation);
}

void COSMWriter::WriteWay(const OSM::TWay& way)
{
    if (m_format)
        m_format->Base().WriteWay(way);
    ++m_ways;
}

void COSMWriter::WriteNode(const OSM::TNode& node)
{
    if (m_format)
        m_format->Base().WriteNode(node);
    ++m_nodes;
}

}  // namespace Splitter
