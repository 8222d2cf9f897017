#include "common/streams/SimpleXMLWriter.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void Put(CWriteStream& stream, std::string_view text) { stream.Write(text.data(), text.size()); }

}  // namespace

void WriteEscaped(CWriteStream& stream, std::string_view text)
{
    for (const char& c : text) {
        switch (c) {
        case '"': Put(stream, "&quot;"); break;
        case '&': Put(stream, "&amp;"); break;
        case '\'': Put(stream, "&apos;"); break;
        case '<': Put(stream, "&lt;"); break;
        case '>': Put(stream, "&gt;"); break;
        default: stream.Write(&c, 1); break;
        }
    }
}

void CSimpleXMLWriter::Indent(uint64_t depth)
{
    for (uint64_t i = 0; i < depth; ++i)
        Put(*m_stream, "  ");
}

void CSimpleXMLWriter::Open(std::string_view name, std::string_view key, std::string_view value)
{
    Indent(m_open.Count());
    Put(*m_stream, "<");
    Put(*m_stream, name);
    if (!key.empty()) {
        Put(*m_stream, " ");
        Put(*m_stream, key);
        Put(*m_stream, "=\"");
        WriteEscaped(*m_stream, value);
        Put(*m_stream, "\"");
    }
    Put(*m_stream, ">");
    Put(*m_stream, kLineEnd);
    m_open.PushBack(std::string(name));
}

void CSimpleXMLWriter::TextElement(std::string_view name, std::string_view text)
{
    Indent(m_open.Count());
    Put(*m_stream, "<");
    Put(*m_stream, name);
    Put(*m_stream, ">");
    WriteEscaped(*m_stream, text);
    Put(*m_stream, "</");
    Put(*m_stream, name);
    Put(*m_stream, ">");
    Put(*m_stream, kLineEnd);
}

void CSimpleXMLWriter::Close()
{
    if (m_open.Empty())
        return;
    Indent(m_open.Count() - 1);
    Put(*m_stream, "</");
    Put(*m_stream, m_open.Back());
    Put(*m_stream, ">");
    Put(*m_stream, kLineEnd);
    m_open.PopBack();
}

void CSimpleXMLWriter::CloseAll()
{
    while (!m_open.Empty())
        Close();
}
