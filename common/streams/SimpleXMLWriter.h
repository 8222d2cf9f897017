// A small streaming writer of indented XML elements, two blanks per level,
// every line ended by CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/streams/GrowArray.h"
#include "common/streams/Stream.h"

// Writes text with the five XML special characters as entities. Works byte by
// byte: UTF-8 sequences and control characters pass unchanged.
void WriteEscaped(CWriteStream& stream, std::string_view text);

// A start tag with attributes in insertion order.
class CXMLElement {
public:
    explicit CXMLElement(std::string name) : m_name(std::move(name)) {}

    // Replaces the value of the attribute whose key equals key in any case,
    // keeping that key's spelling; otherwise appends (key, value).
    void SetAttribute(std::string_view key, std::string_view value);
    // With the flag set, the attribute keyed exactly "text" is written as the
    // element's text after the start tag instead of as an attribute.
    void SetTextFlag(bool text) { m_text = text; }

    const std::string& Name() const { return m_name; }
    // Writes "<name key=\"value\"...>" and the text, values escaped, names
    // and keys as they are.
    void WriteStartTag(CWriteStream& stream) const;

private:
    struct TAttribute {
        std::string key;
        std::string value;
    };
    std::string m_name;
    CGrowArray<TAttribute> m_attributes;
    bool m_text = false;
};

// Keeps only the names of the open elements, to indent and close them.
// Stream failures pass through as TStreamException.
class CSimpleXMLWriter {
public:
    explicit CSimpleXMLWriter(CWriteStream& stream) : m_stream(&stream) {}

    // A start tag on a line of its own; the element stays open.
    void Open(const CXMLElement& element);
    void Open(std::string_view name);
    // "<name>text</name>" on one line; the depth does not change.
    void TextElement(std::string_view name, std::string_view text);
    void NameElement(std::string_view text) { TextElement("name", text); }
    // Ends the innermost open element; writes nothing when none is open.
    void Close();
    void CloseAll();

    uint64_t Depth() const { return m_open.Count(); }
    // For content written between the writer's lines, such as coordinates.
    CWriteStream& Stream() { return *m_stream; }

private:
    void Indent(uint64_t depth);

    CWriteStream* m_stream;
    CGrowArray<std::string> m_open;  // outermost first
};
