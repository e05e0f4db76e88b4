// XML text to nodes through expat (core/xml/parse.h). The text goes to expat inside a
// wrapper element that carries the default namespace; a leading XML declaration is dropped
// (the text is already decoded) and a document's prolog (DOCTYPE, comments) stays in front
// of the wrapper, where expat reads it as a prolog.
#include "core/xml/parse.h"

#include "core/text/utf.h"
#include "core/xml/entity_depth.h"

// The library is built with DTD support (entities, their expansion limits); the header
// declares those calls only when told.
#define XML_DTD 1
#include <expat.h>
#include <string.h>
#include <string_view>

namespace xml {

namespace {

constexpr char kSep = '\x01'; // between namespace, local name and prefix in expat's names

// expat's own blocks, counted with the model's; a refusal is expat's out-of-memory error.
// Their sizes are kept to multiples of 16, which the model's blocks align to 16.
struct Block {
    size_t size;
    alignas(16) unsigned char data[1];
};
size_t blockBytes(size_t n) {
    return (offsetof(Block, data) + n + 15) & ~size_t(15);
}
void* countedMalloc(size_t n) {
    try {
        Block* b = static_cast<Block*>(allocate(blockBytes(n)));
        b->size = n;
        return b->data;
    } catch (Exhausted&) {
        return nullptr;
    }
}
void countedFree(void* p) {
    if (!p) return;
    Block* b = reinterpret_cast<Block*>(static_cast<unsigned char*>(p) - offsetof(Block, data));
    deallocate(b, blockBytes(b->size));
}
void* countedRealloc(void* p, size_t n) {
    if (!p) return countedMalloc(n);
    Block* b = reinterpret_cast<Block*>(static_cast<unsigned char*>(p) - offsetof(Block, data));
    void* q = countedMalloc(n);
    if (!q) return nullptr;
    memcpy(q, p, b->size < n ? b->size : n);
    countedFree(p);
    return q;
}
const XML_Memory_Handling_Suite kMemory = {countedMalloc, countedRealloc, countedFree};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct Builder {
    const ParseOptions* options;
    XML_Parser parser;
    Vec<Node*>* out;
    Node* cur = nullptr; // the open element, null at the top level
    size_t depth = 0;    // 1 inside the wrapper
    std::string text;    // character data not yet made a node (UTF-8)
    std::string scratch; // conversions
    Vec<Ns> pending;     // namespaces declared for the next element
    Vec<Ns> top;         // those of the wrapper (the default namespace)
    std::string failure; // our own reason to stop
    EntityGraph entities;
    size_t attributeDecls = 0; // in the DTD
    size_t elements = 0;       // read so far, and the namespaces they inherited
    size_t inherited = 0;
};

// Each element holds a copy of the namespaces in scope at it: deep nesting in which every
// level declares one more would copy a number that grows with the square of the depth.
// Past this many copies on average per element (and a start allowance) the document is
// refused before the copies are made.
constexpr size_t kInheritedPerElement = 256;
constexpr size_t kInheritedAllowance = 65536;

Str* internUtf8(Builder& b, const char* s, size_t n) {
    b.scratch.clear();
    text::utf8ToCesu8(s, n, b.scratch);
    return intern(b.scratch.data(), b.scratch.size());
}

Str* textUtf8(Builder& b, const char* s, size_t n) {
    b.scratch.clear();
    text::utf8ToCesu8(s, n, b.scratch);
    return newStr(b.scratch.data(), b.scratch.size());
}

// An expat name: "local", "uri<sep>local" or "uri<sep>local<sep>prefix".
void readName(Builder& b, const char* s, Name& name) {
    const char* a = strchr(s, kSep);
    if (!a) {
        name.uri = retain(emptyName());
        name.local = internUtf8(b, s, strlen(s));
        return;
    }
    const char* c = strchr(a + 1, kSep);
    name.uri = internUtf8(b, s, a - s);
    name.local = internUtf8(b, a + 1, c ? c - a - 1 : strlen(a + 1));
    if (c) name.prefix = internUtf8(b, c + 1, strlen(c + 1));
}

// An element's namespaces are all those in scope at it, inherited ones included (its
// infoset's in-scope namespaces, as ECMA-357 10.3.2.1 maps them), so that each element
// read out of a document keeps the declarations it needs; the writer declares only those
// its ancestors do not. An empty default namespace needs no declaration at the top.
bool inheritNamespaces(Builder& b, Node* e) {
    const Vec<Ns>& outer = b.cur ? b.cur->ns : b.top;
    b.elements++;
    b.inherited += outer.n;
    if (b.inherited > kInheritedPerElement * b.elements + kInheritedAllowance) return false;
    e->ns = b.pending;
    b.pending = Vec<Ns>();
    for (const Ns& ns : outer) {
        if (!b.cur && isEmpty(ns.prefix) && isEmpty(ns.uri)) continue;
        bool shadowed = false;
        for (const Ns& own : e->ns)
            if (own.prefix == ns.prefix) shadowed = true;
        if (!shadowed) e->ns.push({retain(ns.prefix), retain(ns.uri)});
    }
    return true;
}

// Puts a new node (a root of its own) into the open element, or among the results.
void place(Builder& b, Node* n) {
    Vec<Node*>& to = b.cur ? b.cur->kids : *b.out;
    try {
        to.reserve(to.n + 1);
    } catch (...) {
        Hold drop(n);
        throw;
    }
    if (!b.cur) {
        to.push(n);
        return;
    }
    n->parent = b.cur;
    n->root = b.cur->root;
    for (Node* a : n->attrs)
        a->root = n->root;
    b.cur->kids.push(n);
}

// Text goes into the open element; with ignoreWhitespace, without the white space around it
// (a blank text is no node), as the engines of the language's era read it.
void flushText(Builder& b) {
    if (b.text.empty()) return;
    size_t from = 0, to = b.text.size();
    if (b.options->ignoreWhitespace) {
        while (from < to && isSpace(b.text[from]))
            from++;
        while (to > from && isSpace(b.text[to - 1]))
            to--;
    }
    if (from < to) {
        Node* t = newNode(kText);
        try {
            t->value = textUtf8(b, b.text.data() + from, to - from);
        } catch (...) {
            Hold drop(t);
            throw;
        }
        place(b, t);
    }
    b.text.clear();
}

void stop(Builder& b, const char* why) {
    if (b.failure.empty()) b.failure = why;
    XML_StopParser(b.parser, XML_FALSE);
}

// Every handler stops the parse on an exception: none may cross expat's C frames.
template <class F> void guarded(void* data, F&& f) {
    Builder& b = *static_cast<Builder*>(data);
    try {
        f(b);
    } catch (Exhausted&) {
        stop(b, "out of memory for XML (the limit is 256 MiB)");
    } catch (...) {
        stop(b, "out of memory");
    }
}

void onStart(void* data, const XML_Char* name, const XML_Char** atts) {
    guarded(data, [&](Builder& b) {
        if (b.depth++ == 0) { // the wrapper: its default namespace is in scope below
            b.top = b.pending;
            b.pending = Vec<Ns>();
            return;
        }
        if (b.depth > kMaxDepth + 1) return stop(b, "elements nested too deep");
        flushText(b);
        Node* e = newNode(kElement);
        try {
            readName(b, name, e->name);
            if (!inheritNamespaces(b, e)) {
                Hold drop(e);
                return stop(b, "too many namespaces in scope");
            }
            for (int i = 0; atts[i]; i += 2) {
                Node* a = newNode(kAttribute);
                try {
                    readName(b, atts[i], a->name);
                    a->value = textUtf8(b, atts[i + 1], strlen(atts[i + 1]));
                    addAttr(e, a);
                } catch (...) {
                    Hold drop(a);
                    throw;
                }
            }
        } catch (...) {
            Hold drop(e);
            throw;
        }
        place(b, e);
        b.cur = e;
    });
}

void onEnd(void* data, const XML_Char*) {
    guarded(data, [&](Builder& b) {
        flushText(b);
        if (--b.depth == 0) return;
        b.cur = b.cur->parent;
    });
}

void onText(void* data, const XML_Char* s, int len) {
    guarded(data, [&](Builder& b) {
        if (b.depth == 0) return;
        if (b.text.size() + len > kMemoryLimit) return stop(b, "text too long");
        b.text.append(s, len);
    });
}

void onComment(void* data, const XML_Char* s) {
    guarded(data, [&](Builder& b) {
        if (b.depth == 0 || b.options->ignoreComments) return;
        flushText(b);
        Node* c = newNode(kComment);
        try {
            c->value = textUtf8(b, s, strlen(s));
        } catch (...) {
            Hold drop(c);
            throw;
        }
        place(b, c);
    });
}

void onInstruction(void* data, const XML_Char* target, const XML_Char* s) {
    guarded(data, [&](Builder& b) {
        if (b.depth == 0 || b.options->ignoreInstructions) return;
        flushText(b);
        Node* p = newNode(kInstruction);
        try {
            p->name.uri = retain(emptyName());
            p->name.local = internUtf8(b, target, strlen(target));
            p->value = textUtf8(b, s, strlen(s));
        } catch (...) {
            Hold drop(p);
            throw;
        }
        place(b, p);
    });
}

void onNamespace(void* data, const XML_Char* prefix, const XML_Char* uri) {
    guarded(data, [&](Builder& b) {
        Str* p = prefix ? internUtf8(b, prefix, strlen(prefix)) : retain(emptyName());
        Str* u = nullptr;
        try {
            u = uri ? internUtf8(b, uri, strlen(uri)) : retain(emptyName());
            b.pending.push({p, u});
        } catch (...) {
            release(p);
            release(u);
            throw;
        }
    });
}

// Entities are refused while the DTD is read when their references nest too deep: expat
// would recurse once per level to expand them.
void onEntity(void* data, const XML_Char* name, int, const XML_Char* value, int size,
              const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    guarded(data, [&](Builder& b) {
        static const std::string why =
            "entity references nested deeper than " + std::to_string(kMaxEntityDepth);
        if (!declareEntity(b.entities, name, value, value ? static_cast<size_t>(size) : 0))
            stop(b, why.c_str());
    });
}

// expat compares each attribute declared for an element type with all those before it, so
// a DTD's attribute declarations are bounded to keep that time small.
constexpr size_t kMaxAttributeDecls = 10000;

void onAttributeDecl(void* data, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*,
                     int) {
    guarded(data, [&](Builder& b) {
        if (++b.attributeDecls > kMaxAttributeDecls)
            stop(b, "more than 10000 attribute declarations");
    });
}

// Skips a comment, a processing instruction or a DOCTYPE declaration at i; the index
// behind it, or i when none starts there.
size_t skipMarkup(const char* s, size_t n, size_t i) {
    auto at = [&](const char* w) { return n - i >= strlen(w) && memcmp(s + i, w, strlen(w)) == 0; };
    auto after = [&](const char* w) {
        size_t e = std::string_view(s, n).find(w, i);
        return e == std::string_view::npos ? n : e + strlen(w);
    };
    if (at("<!--")) return after("-->");
    if (at("<?")) return after("?>");
    if (!at("<!DOCTYPE")) return i;
    char quote = 0;
    int brackets = 0;
    for (size_t j = i + 9; j < n; j++) {
        char c = s[j];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            brackets++;
        } else if (c == ']') {
            brackets--;
        } else if (c == '<' && n - j >= 4 && memcmp(s + j, "<!--", 4) == 0) {
            size_t e = std::string_view(s, n).find("-->", j);
            j = e == std::string_view::npos ? n : e + 2;
        } else if (c == '>' && brackets <= 0) {
            return j + 1;
        }
    }
    return n;
}

// The length of a document's prolog: an XML declaration, then comments, processing
// instructions and a DOCTYPE, up to the first element. Zero for text that is not a
// document (no declaration and no DOCTYPE).
size_t prologLength(const char* s, size_t n) {
    size_t i = 0;
    while (i < n && isSpace(s[i]))
        i++;
    bool document =
        n - i >= 6 && memcmp(s + i, "<?xml", 5) == 0 && (isSpace(s[i + 5]) || s[i + 5] == '?');
    size_t end = 0;
    for (;;) {
        while (i < n && isSpace(s[i]))
            i++;
        size_t j = skipMarkup(s, n, i);
        if (j == i) break;
        if (n - i >= 9 && memcmp(s + i, "<!DOCTYPE", 9) == 0) document = true;
        i = end = j;
    }
    return document ? end : 0;
}

void appendEscapedUri(std::string& out, const Str* uri) {
    for (uint32_t i = 0; uri && i < uri->size; i++) {
        char c = uri->data[i];
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
}

// Line and column (from 1, in characters) of byte index at in the text given.
void locate(const std::string& s, size_t at, ParseError* e) {
    e->line = 1;
    e->column = 1;
    for (size_t i = 0; i < at && i < s.size(); i++) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\n') {
            e->line++;
            e->column = 1;
        } else if ((c & 0xC0) != 0x80) {
            e->column++;
        }
    }
}

// The end of the piece of text that starts at `at` and holds at most kPiece bytes: never
// inside a character, nor between the two halves of a surrogate pair, so each piece
// converts to UTF-8 by itself.
constexpr size_t kPiece = size_t(256) << 10;
size_t pieceEnd(const char* text, size_t at, size_t size) {
    if (size - at <= kPiece) return size;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t e = at + kPiece;
    while (e > at && (p[e] & 0xC0) == 0x80)
        e--;
    if (e >= at + 3 && e + 1 < size && p[e] == 0xED && (p[e + 1] & 0xF0) == 0xB0 &&
        p[e - 3] == 0xED && (p[e - 2] & 0xF0) == 0xA0)
        e -= 3;
    return e > at ? e : at + kPiece;
}

} // namespace

bool parse(const char* text, size_t size, const ParseOptions& options, Vec<Node*>& out,
           ParseError* error) {
    // expat reads the prolog, a wrapper's start tag, the content and the wrapper's end tag,
    // in UTF-8. The text goes to it a piece at a time, so neither a UTF-8 copy of the whole
    // text nor expat's buffer (it copies what it is given) grows with the document.
    size_t prolog = prologLength(text, size);
    std::string head = "<parent xmlns=\"";
    appendEscapedUri(head, options.defaultUri);
    head += "\">";
    static const char kTail[] = "</parent>";
    // A leading XML declaration is dropped: expat must not apply its encoding.
    size_t from = 0;
    while (from < prolog && isSpace(text[from]))
        from++;
    if (prolog && memcmp(text + from, "<?xml", 5) == 0) from = skipMarkup(text, size, from);

    Builder b;
    b.options = &options;
    b.out = &out;
    size_t first = out.n;
    XML_Parser p = XML_ParserCreate_MM("UTF-8", &kMemory, &kSep);
    if (!p) throw Exhausted();
    b.parser = p;
    XML_SetUserData(p, &b);
    XML_SetReturnNSTriplet(p, 1);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4)
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(p, 50.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(p, 1u << 20);
#endif
    XML_SetElementHandler(p, onStart, onEnd);
    XML_SetCharacterDataHandler(p, onText);
    XML_SetCommentHandler(p, onComment);
    XML_SetProcessingInstructionHandler(p, onInstruction);
    XML_SetStartNamespaceDeclHandler(p, onNamespace);
    XML_SetEntityDeclHandler(p, onEntity);
    XML_SetAttlistDeclHandler(p, onAttributeDecl);
    std::string piece;
    size_t fed = 0; // bytes given to expat so far
    auto feed = [&](const char* s, size_t n, bool last) {
        fed += n;
        return XML_Parse(p, s, static_cast<int>(n), last) == XML_STATUS_OK;
    };
    auto feedText = [&](size_t at, size_t end) {
        bool ok = true;
        while (ok && at < end) {
            size_t e = pieceEnd(text, at, end);
            piece.clear();
            text::cesu8ToUtf8(text + at, e - at, piece);
            ok = feed(piece.data(), piece.size(), false);
            at = e;
        }
        return ok;
    };
    bool ok = feedText(from, prolog);
    size_t headAt = fed; // where the wrapper starts in what expat was given
    ok = ok && feed(head.data(), head.size(), false) && feedText(prolog, size) &&
         feed(kTail, strlen(kTail), true);
    if (!ok && error) {
        error->message = b.failure.empty() ? XML_ErrorString(XML_GetErrorCode(p)) : b.failure;
        // Back to a place in the text given: the wrapper's bytes do not count.
        XML_Index at = XML_GetCurrentByteIndex(p);
        size_t i = at < 0 ? 0 : static_cast<size_t>(at);
        if (i >= headAt + head.size())
            i -= head.size();
        else if (i > headAt)
            i = headAt;
        std::string given;
        text::cesu8ToUtf8(text + from, size - from, given);
        locate(given, i, error);
    }
    bool exhausted = !ok && (XML_GetErrorCode(p) == XML_ERROR_NO_MEMORY ||
                             b.failure.find("memory") != std::string::npos);
    XML_ParserFree(p);
    for (Vec<Ns>* v : {&b.pending, &b.top}) {
        for (Ns& ns : *v) {
            release(ns.prefix);
            release(ns.uri);
        }
        v->clear();
    }
    if (ok) return true;
    for (uint32_t i = first; i < out.n; i++) {
        Hold drop(out[i]);
    }
    out.n = first;
    if (exhausted) throw Exhausted();
    return false;
}

} // namespace xml
