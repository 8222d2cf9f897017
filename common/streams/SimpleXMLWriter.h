// A small streaming writer of indented XML elements, two blanks per level,
// every line ended by CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/base/GrowArray.h"
#include "common/streams/Stream.h"

// Writes text with the five XML special characters as entities. Works byte by
// byte: UTF-8 sequences and control characters pass unchanged.
void WriteEscaped(CWriteStream& stream, std::string_view text);

// Keeps only the names of the open elements, to indent and close them.
// Stream failures pass through as TStreamException.
class CSimpleXMLWriter {
public:
    explicit CSimpleXMLWriter(CWriteStream& stream) : m_stream(&stream) {}

    // A start tag on a line of its own, with one attribute when key is not
    // empty, its value escaped; the element stays open.
    void Open(std::string_view name, std::string_view key = {}, std::string_view value = {});
    // "<name>text</name>" on one line; the depth does not change.
    void TextElement(std::string_view name, std::string_view text);
    void NameElement(std::string_view text) { TextElement("name", text); }
    // Ends the innermost open element; writes nothing when none is open.
    void Close();
    void CloseAll();

    // For content written between the writer's lines, such as coordinates.
    CWriteStream& Stream() { return *m_stream; }

private:
    void Indent(uint64_t depth);

    CWriteStream* m_stream;
    CGrowArray<std::string> m_open;  // outermost first
};
