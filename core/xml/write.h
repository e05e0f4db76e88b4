// Nodes and lists to text: ECMA-357 ToXMLString (markup, namespace declarations and
// prefixes chosen where needed, pretty printing) and ToString (the text of simple content).
#ifndef CAPSULE_XML_WRITE_H
#define CAPSULE_XML_WRITE_H

#include "core/xml/tree.h"

#include <string>

namespace xml {

struct Format {
    bool pretty = true;
    uint32_t indent = 2;
    // For source text that evaluates back (uneval, toSource): no pretty printing, and
    // characters that an initialiser would read otherwise (braces, non-ASCII, line breaks
    // in values) written as character references.
    bool source = false;
};

// The format of the XML settings (prettyPrinting, prettyIndent), which the engine keeps.
Format& settingsFormat();

// The text grows to at most this; past it Exhausted is thrown.
constexpr size_t kMaxText = size_t(64) << 20;

void writeNode(std::string& out, const Node* n, const Format& f);
void writeList(std::string& out, const List* l, const Format& f);
void writeString(std::string& out, const Node* n, const Format& f);
void writeListString(std::string& out, const List* l, const Format& f);
bool listHasSimpleContent(const List* l);

// Escapes for element text (& < >) and attribute values (& < " tab, line feed, return).
void escapeText(std::string& out, const char* s, size_t n, bool source = false);
void escapeAttribute(std::string& out, const char* s, size_t n, bool source = false);

} // namespace xml

#endif
