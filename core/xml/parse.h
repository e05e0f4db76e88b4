// XML text to nodes, through expat. The text is read as the content of an element whose
// default namespace is given (ECMA-357 ToXML and ToXMLList), so it may hold any number of
// nodes, or text alone. Outside text is untrusted: expat bounds entity expansion, nothing
// external is fetched, nesting is bounded and the model's memory limit holds.
#ifndef CAPSULE_XML_PARSE_H
#define CAPSULE_XML_PARSE_H

#include "core/xml/tree.h"

#include <stddef.h>
#include <string>

namespace xml {

constexpr size_t kMaxDepth = 100000;

struct ParseOptions {
    bool ignoreComments = true;
    bool ignoreInstructions = true;
    bool ignoreWhitespace = true;
    Str* defaultUri = nullptr; // the namespace of unprefixed element names ("" if null)
};

struct ParseError {
    std::string message; // expat's, or ours
    unsigned long line = 0, column = 0;
};

// Parses text (the engine's encoding) and appends the nodes read to out, each a root of
// its own (not yet referenced). False with the error when the text is not well-formed;
// throws Exhausted past the memory limit.
bool parse(const char* text, size_t size, const ParseOptions& options, Vec<Node*>& out,
           ParseError* error);

} // namespace xml

#endif
