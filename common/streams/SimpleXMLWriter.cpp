#include "common/streams/SimpleXMLWriter.h"

#include <strings.h>

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void Put(CWriteStream& stream, std::string_view text) { stream.Write(text.data(), text.size()); }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

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

void CXMLElement::SetAttribute(std::string_view key, std::string_view value)
{
    for (TAttribute& attribute : m_attributes) {
        if (EqualNoCase(attribute.key, key)) {
            attribute.value = value;
            return;
        }
    }
    m_attributes.PushBack(TAttribute{std::string(key), std::string(value)});
}

void CXMLElement::WriteStartTag(CWriteStream& stream) const
{
    const TAttribute* text = nullptr;
    Put(stream, "<");
    Put(stream, m_name);
    for (const TAttribute& attribute : m_attributes) {
        if (m_text && attribute.key == "text") {
            text = &attribute;
            continue;
        }
        Put(stream, " ");
        Put(stream, attribute.key);
        Put(stream, "=\"");
        WriteEscaped(stream, attribute.value);
        Put(stream, "\"");
    }
    Put(stream, ">");
    if (text != nullptr)
        WriteEscaped(stream, text->value);
}

void CSimpleXMLWriter::Indent(uint64_t depth)
{
    for (uint64_t i = 0; i < depth; ++i)
        Put(*m_stream, "  ");
}

void CSimpleXMLWriter::Open(const CXMLElement& element)
{
    Indent(Depth());
    element.WriteStartTag(*m_stream);
    Put(*m_stream, kLineEnd);
    m_open.PushBack(element.Name());
}

void CSimpleXMLWriter::Open(std::string_view name)
{
    Indent(Depth());
    Put(*m_stream, "<");
    Put(*m_stream, name);
    Put(*m_stream, ">");
    Put(*m_stream, kLineEnd);
    m_open.PushBack(std::string(name));
}

void CSimpleXMLWriter::TextElement(std::string_view name, std::string_view text)
{
    Indent(Depth());
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
    Indent(Depth() - 1);
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
