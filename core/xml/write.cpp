// ToXMLString and ToString (core/xml/write.h). The writer keeps the namespace bindings in
// force as a stack (later entries shadow earlier ones with the same prefix) and its own
// stack of open elements, so a deep tree costs no native recursion.
#include "core/xml/write.h"

#include <stdio.h>
#include <stdint.h>
#include <string.h>
#include <unordered_map>
#include <vector>

namespace xml {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendRef(std::string& out, uint32_t cp) {
    char buf[16];
    snprintf(buf, sizeof buf, "&#x%X;", cp);
    out += buf;
}

// The code point of the sequence at s[i] (CESU-8, a surrogate pair joined; four-byte
// UTF-8 too) and its length.
uint32_t decode(const unsigned char* s, size_t n, size_t i, size_t* len) {
    unsigned c = s[i];
    auto cont = [&](size_t k) { return i + k < n ? s[i + k] & 0x3F : 0; };
    if (c < 0xE0) {
        *len = 2;
        return ((c & 0x1F) << 6) | cont(1);
    }
    if (c < 0xF0) {
        uint32_t cp = ((c & 0x0F) << 12) | (cont(1) << 6) | cont(2);
        *len = 3;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 5 < n && s[i + 3] == 0xED &&
            (s[i + 4] & 0xF0) == 0xB0) {
            uint32_t lo = ((s[i + 4] & 0x0F) << 6) | (s[i + 5] & 0x3F);
            *len = 6;
            return 0x10000 + ((cp - 0xD800) << 10) + (lo & 0x3FF);
        }
        return cp;
    }
    *len = 4;
    return ((c & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
}

template <class F> void escape(std::string& out, const char* s, size_t n, bool source, F&& named) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    size_t start = 0;
    for (size_t i = 0; i < n; i++) {
        const char* rep = named(s[i]);
        bool ref = source && (u[i] >= 0x80 || s[i] == '{' || s[i] == '}' || s[i] == '\n' ||
                              s[i] == '\r' || s[i] == '\t');
        if (!rep && !ref) continue;
        out.append(s + start, i - start);
        if (rep) {
            out += rep;
        } else if (u[i] >= 0x80) {
            size_t len;
            appendRef(out, decode(u, n, i, &len));
            i += len - 1;
        } else {
            appendRef(out, u[i]);
        }
        start = i + 1;
    }
    out.append(s + start, n - start);
}

constexpr size_t kNone = SIZE_MAX;

// A binding in force, with the bindings that it hides: the one before it of the same
// prefix, and the one before it of the same uri.
struct Binding {
    Ns ns;
    size_t samePrefix;
    size_t sameUri;
};

struct Writer {
    std::string& out;
    const Format& f;
    std::vector<Binding> scope;  // bindings in force, innermost last
    std::vector<Str*> generated; // prefixes made up here, released at the end
    // The innermost binding of each prefix and of each uri, so that looking one up costs
    // the same however many are in force.
    std::unordered_map<const Str*, size_t> byPrefix, byUri;
    ~Writer() {
        for (Str* s : generated)
            release(s);
    }
};

size_t innermost(const std::unordered_map<const Str*, size_t>& m, const Str* key) {
    auto it = m.find(key);
    return it == m.end() ? kNone : it->second;
}

void bind(Writer& w, const Ns& ns) {
    size_t at = w.scope.size();
    w.scope.push_back({ns, innermost(w.byPrefix, ns.prefix), innermost(w.byUri, ns.uri)});
    w.byPrefix[ns.prefix] = at;
    w.byUri[ns.uri] = at;
}

void restore(std::unordered_map<const Str*, size_t>& m, const Str* key, size_t hidden) {
    if (hidden == kNone)
        m.erase(key);
    else
        m[key] = hidden;
}

// Ends the bindings made since the scope had the size given.
void unbindTo(Writer& w, size_t size) {
    while (w.scope.size() > size) {
        const Binding& b = w.scope.back();
        restore(w.byPrefix, b.ns.prefix, b.samePrefix);
        restore(w.byUri, b.ns.uri, b.sameUri);
        w.scope.pop_back();
    }
}

constexpr const char* kTooLong = "XML text longer than 64 MiB";

void check(const Writer& w) {
    if (w.out.size() > kMaxText) throw Exhausted{kTooLong};
}

void indent(Writer& w, uint32_t level) {
    if (w.f.pretty) w.out.append(level, ' ');
}

// The uri bound to prefix in scope, or null when the prefix is unbound.
Str* boundUri(const Writer& w, const Str* prefix) {
    size_t at = innermost(w.byPrefix, prefix);
    return at == kNone ? nullptr : w.scope[at].ns.uri;
}

// A prefix bound to uri in scope (and not shadowed), preferring `want`; attributes cannot
// take the empty prefix. Null when there is none.
Str* boundPrefix(const Writer& w, const Str* uri, const Str* want, bool attribute) {
    Str* found = nullptr;
    for (size_t i = innermost(w.byUri, uri); i != kNone; i = w.scope[i].sameUri) {
        const Ns& b = w.scope[i].ns;
        if (attribute && isEmpty(b.prefix)) continue;
        if (boundUri(w, b.prefix) != uri) continue; // shadowed
        if (b.prefix == want) return b.prefix;
        if (!found) found = b.prefix;
    }
    return found;
}

bool nameChar(char c, bool first) {
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    return first ? alpha : alpha || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A prefix for uri that is bound to nothing in scope: the last part of the uri that is a
// name ("xhtml" for ".../1999/xhtml"), else "ns", with "-1", "-2" ... behind until free.
Str* makePrefix(Writer& w, const Str* uri) {
    std::string base;
    size_t end = uri->size;
    while (end > 0 && base.empty()) {
        size_t start = end;
        while (start > 0 && !strchr("/:.#?=", uri->data[start - 1]))
            start--;
        bool ok = start < end;
        for (size_t i = start; ok && i < end; i++)
            ok = nameChar(uri->data[i], i == start);
        if (ok && !(end - start >= 3 && strncasecmp(uri->data + start, "xml", 3) == 0))
            base.assign(uri->data + start, end - start);
        end = start ? start - 1 : 0;
    }
    if (base.empty()) base = "ns";
    std::string name = base;
    for (int i = 1;; i++) {
        Str* p = intern(name.data(), name.size());
        if (!boundUri(w, p)) {
            w.generated.push_back(p);
            return p;
        }
        release(p);
        name = base + "-" + std::to_string(i);
    }
}

// The prefix that name gets at this element, adding to the scope the declaration it needs.
Str* prefixFor(Writer& w, const Name& name, bool attribute, const Node* context) {
    Str* uri = name.uri ? name.uri : emptyName();
    if (isEmpty(uri)) {
        if (attribute) return nullptr;
        Str* def = boundUri(w, emptyName());
        if (def && !isEmpty(def)) bind(w, {emptyName(), emptyName()});
        return emptyName();
    }
    Str* p = boundPrefix(w, uri, name.prefix, attribute);
    if (p) return p;
    // A prefix the name or the node's ancestors know for the uri, else a new one.
    Str* want = name.prefix && !(attribute && isEmpty(name.prefix)) ? name.prefix : nullptr;
    if (!want && context) {
        eachNamespaceInScope(context, [&](const Ns& ns) {
            if (!want && ns.uri == uri && !(attribute && isEmpty(ns.prefix))) want = ns.prefix;
        });
    }
    if (!want && !attribute && !boundUri(w, emptyName())) want = emptyName();
    if (!want) want = makePrefix(w, uri);
    bind(w, {want, uri});
    return want;
}

void appendQName(Writer& w, const Str* prefix, const Str* local) {
    if (prefix && prefix->size) {
        w.out.append(prefix->data, prefix->size);
        w.out += ':';
    }
    w.out.append(local->data, local->size);
}

void appendTrimmed(Writer& w, const Str* v, bool trim) {
    const char* s = v ? v->data : "";
    size_t n = v ? v->size : 0;
    if (trim) {
        while (n && isSpace(s[n - 1]))
            n--;
        while (n && isSpace(*s)) {
            s++;
            n--;
        }
    }
    escapeText(w.out, s, n, w.f.source);
}

// A node other than an element, at its indentation.
void writeLeaf(Writer& w, const Node* n, uint32_t level) {
    indent(w, level);
    switch (n->kind) {
    case kText:
        appendTrimmed(w, n->value, w.f.pretty);
        break;
    case kAttribute:
        escapeAttribute(w.out, n->value->data, n->value->size, w.f.source);
        break;
    case kComment:
        w.out += "<!--";
        w.out.append(n->value->data, n->value->size);
        w.out += "-->";
        break;
    default:
        w.out += "<?";
        w.out.append(n->name.local->data, n->name.local->size);
        w.out += ' ';
        w.out.append(n->value->data, n->value->size);
        w.out += "?>";
        break;
    }
}

struct Open {
    const Node* n;
    uint32_t next;  // the next child to write
    size_t scope;   // the scope's size before this element
    uint32_t level; // its indentation
    bool indentKids;
    Str* prefix;
};

// Writes the start tag; true when the element has children to write.
bool writeStart(Writer& w, Open& o, bool top) {
    const Node* x = o.n;
    o.scope = w.scope.size();
    indent(w, o.level);
    for (const Ns& ns : x->ns) {
        Str* bound = boundUri(w, ns.prefix);
        // The empty default namespace is in force where nothing else is.
        if (bound == ns.uri || (!bound && isEmpty(ns.prefix) && isEmpty(ns.uri))) continue;
        bind(w, ns);
    }
    o.prefix = prefixFor(w, x->name, false, top ? x->parent : nullptr);
    std::vector<Str*> attrPrefixes;
    for (const Node* a : x->attrs)
        attrPrefixes.push_back(prefixFor(w, a->name, true, top ? x : nullptr));
    w.out += '<';
    appendQName(w, o.prefix, x->name.local);
    // Attributes, then the namespace declarations, as the engine of that era writes them.
    for (uint32_t i = 0; i < x->attrs.n; i++) {
        const Node* a = x->attrs[i];
        w.out += ' ';
        appendQName(w, attrPrefixes[i], a->name.local);
        w.out += "=\"";
        escapeAttribute(w.out, a->value->data, a->value->size, w.f.source);
        w.out += '"';
    }
    for (size_t i = o.scope; i < w.scope.size(); i++) {
        const Ns& ns = w.scope[i].ns;
        w.out += isEmpty(ns.prefix) ? " xmlns" : " xmlns:";
        w.out.append(ns.prefix->data, ns.prefix->size);
        w.out += "=\"";
        escapeAttribute(w.out, ns.uri->data, ns.uri->size, w.f.source);
        w.out += '"';
    }
    if (!x->kids.n) {
        w.out += "/>";
        unbindTo(w, o.scope);
        return false;
    }
    w.out += '>';
    o.indentKids = w.f.pretty && (x->kids.n > 1 || x->kids[0]->kind != kText);
    return true;
}

void writeEnd(Writer& w, const Open& o) {
    if (o.indentKids) {
        w.out += '\n';
        indent(w, o.level);
    }
    w.out += "</";
    appendQName(w, o.prefix, o.n->name.local);
    w.out += '>';
    unbindTo(w, o.scope);
}

void writeTop(Writer& w, const Node* n) {
    if (n->kind != kElement) return writeLeaf(w, n, 0);
    std::vector<Open> stack{{n, 0, 0, 0, false, nullptr}};
    if (!writeStart(w, stack.back(), true)) return;
    while (!stack.empty()) {
        Open& o = stack.back();
        if (o.next == o.n->kids.n) {
            writeEnd(w, o);
            stack.pop_back();
            continue;
        }
        const Node* k = o.n->kids[o.next++];
        uint32_t level = o.indentKids ? o.level + w.f.indent : 0;
        if (o.indentKids) w.out += '\n';
        check(w);
        if (k->kind != kElement) {
            writeLeaf(w, k, level);
            continue;
        }
        Open child{k, 0, 0, level, false, nullptr};
        if (writeStart(w, child, false)) stack.push_back(child);
    }
}

} // namespace

Format& settingsFormat() {
    static Format f;
    return f;
}

void escapeText(std::string& out, const char* s, size_t n, bool source) {
    escape(out, s, n, source, [](char c) -> const char* {
        return c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : nullptr;
    });
}

void escapeAttribute(std::string& out, const char* s, size_t n, bool source) {
    escape(out, s, n, source, [](char c) -> const char* {
        switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '"':
            return "&quot;";
        case '\t':
            return "&#x9;";
        case '\n':
            return "&#xA;";
        case '\r':
            return "&#xD;";
        default:
            return nullptr;
        }
    });
}

void writeNode(std::string& out, const Node* n, const Format& f) {
    Writer w{out, f, {}, {}, {}, {}};
    writeTop(w, n);
}

void writeList(std::string& out, const List* l, const Format& f) {
    for (uint32_t i = 0; i < l->items.n; i++) {
        if (i && f.pretty) out += '\n';
        writeNode(out, l->items[i], f);
        if (out.size() > kMaxText) throw Exhausted{kTooLong};
    }
}

void writeString(std::string& out, const Node* n, const Format& f) {
    if (n->kind == kAttribute || n->kind == kText) {
        out.append(n->value->data, n->value->size);
    } else if (hasSimpleContent(n)) {
        for (const Node* k : n->kids)
            if (k->kind == kText) out.append(k->value->data, k->value->size);
    } else {
        writeNode(out, n, f);
    }
}

bool listHasSimpleContent(const List* l) {
    if (l->items.n == 1) return hasSimpleContent(l->items[0]);
    for (const Node* n : l->items)
        if (n->kind == kElement) return false;
    return true;
}

void writeListString(std::string& out, const List* l, const Format& f) {
    if (!listHasSimpleContent(l)) return writeList(out, l, f);
    for (const Node* n : l->items)
        if (n->kind != kComment && n->kind != kInstruction) writeString(out, n, f);
}

} // namespace xml
