// XML text through the E4X parser and writer: any input is parsed or refused without harm,
// and what was parsed, written without indentation and parsed again, is equal to it.
// The first byte picks the settings; comments and instructions are kept, so that no text
// nodes end up side by side (which the writer would join).
#include "core/xml/parse.h"
#include "core/xml/write.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>

using namespace xml;

namespace {
void drop(Vec<Node*>& nodes) {
    for (Node* n : nodes) {
        Hold h(n);
    }
    nodes.clear();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!size) return 0;
    ParseOptions o;
    o.ignoreComments = false;
    o.ignoreInstructions = false;
    o.ignoreWhitespace = data[0] & 1;
    Format f;
    f.pretty = false;
    f.source = data[0] & 2;
    const char* text = reinterpret_cast<const char*>(data + 1);
    Vec<Node*> nodes;
    ParseError e;
    bool ok;
    try {
        ok = parse(text, size - 1, o, nodes, &e);
    } catch (Exhausted&) {
        ok = false;
    }
    if (!ok) {
        nodes.clear();
        return 0;
    }
    for (Node* n : nodes) {
        if (n->kind == kText && o.ignoreWhitespace) continue; // its edges may be blank
        std::string out;
        writeNode(out, n, f);
        Vec<Node*> again;
        bool same =
            parse(out.data(), out.size(), o, again, &e) && again.n == 1 && equalNodes(n, again[0]);
        if (!same) {
            fprintf(stderr, "written as %s\nwhich reads back %s\n", out.c_str(),
                    again.n ? "as another tree" : e.message.c_str());
            abort();
        }
        Node* copy = deepCopy(n);
        if (!equalNodes(copy, n)) abort();
        Hold h(copy);
        drop(again);
    }
    drop(nodes);
    return 0;
}
