// Names in E4X: property keys and name arguments as lookups (ECMA-357 ToXMLName), the keys
// that __lang.xml.key makes for qualified names, and the Namespace and QName objects with
// isXMLName (ECMA-357 13.2, 13.3, 13.1.2.1).
//
// A qualified name reaches a proxy's trap only as a string key, so __lang.xml.key encodes
// one as "\x01" flag uri "\x01" local ["\x01" prefix] (flag: e element, a attribute, E and
// A for any namespace); control characters appear in no XML name. A QName used as a key
// arrives as its toString, "uri::local".
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"

#include <string.h>

namespace engine {
namespace e4x {

using namespace xml;

namespace {
#define XML_KEY_PREFIX DUK_HIDDEN_SYMBOL("e4xPrefix")

Str* internPart(const std::string& s, size_t from, size_t to) {
    return intern(s.data() + from, to - from);
}

void decodeKey(const std::string& s, Name& out) {
    char flag = s.size() > 1 ? s[1] : 'e';
    size_t a = s.find('\x01', 2);
    if (a == std::string::npos) a = s.size();
    size_t b = s.find('\x01', a + 1);
    out.q.attr = flag == 'a' || flag == 'A';
    out.q.name.uri = (flag == 'E' || flag == 'A') ? nullptr : internPart(s, 2, a);
    out.q.name.local = a < s.size() ? internPart(s, a + 1, b == std::string::npos ? s.size() : b)
                                    : retain(emptyName());
    if (b != std::string::npos) out.q.name.prefix = internPart(s, b + 1, s.size());
}

void defineReadOnly(duk_context* ctx, const char* name) {
    duk_push_string(ctx, name);
    duk_swap_top(ctx, -2);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_FORCE);
}

bool given(duk_context* ctx, duk_idx_t i) {
    return duk_get_top(ctx) > i;
}

// Namespace(prefix, uri) as ECMA-357 13.2.2 builds it; idx of prefix is -1 when absent.
void buildNamespace(duk_context* ctx, duk_idx_t prefixAt, duk_idx_t uriAt, Str** prefix,
                    Str** uri) {
    *prefix = nullptr;
    *uri = nullptr;
    if (uriAt < 0) {
        *prefix = retain(emptyName());
        *uri = retain(emptyName());
        return;
    }
    if (prefixAt < 0 && isNamespace(ctx, uriAt)) return namespaceOf(ctx, uriAt, prefix, uri);
    Name q;
    bool fromQName = isQName(ctx, uriAt);
    if (fromQName) qnameOf(ctx, uriAt, q.q.name);
    if (fromQName && q.q.name.uri) {
        *uri = retain(q.q.name.uri);
        if (prefixAt < 0) *prefix = retain(q.q.name.prefix);
    } else {
        *uri = internAt(ctx, uriAt);
    }
    if (prefixAt < 0) {
        if (isEmpty(*uri) && !*prefix) *prefix = retain(emptyName());
        return;
    }
    if (isEmpty(*uri)) {
        if (duk_is_undefined(ctx, prefixAt) || toText(ctx, prefixAt).empty()) {
            *prefix = retain(emptyName());
            return;
        }
        release(*uri);
        fail(ctx, DUK_ERR_TYPE_ERROR, "a namespace without a uri takes no prefix");
    }
    if (duk_is_undefined(ctx, prefixAt)) return;
    std::string p = toText(ctx, prefixAt);
    if (p.empty() || isXmlName(p.data(), p.size())) *prefix = intern(p.data(), p.size());
}

duk_ret_t namespaceConstructor(duk_context* ctx) {
    return guard(ctx, [&] {
        duk_idx_t argc = duk_get_top(ctx);
        if (!duk_is_constructor_call(ctx) && argc == 1 && isNamespace(ctx, 0)) return 1;
        Str *prefix, *uri;
        buildNamespace(ctx, argc >= 2 ? 0 : -1, argc >= 2 ? 1 : argc == 1 ? 0 : -1, &prefix, &uri);
        pushNamespace(ctx, prefix, uri);
        release(prefix);
        release(uri);
        return 1;
    });
}

duk_ret_t qnameConstructor(duk_context* ctx) {
    return guard(ctx, [&] {
        duk_idx_t argc = duk_get_top(ctx);
        duk_idx_t nameAt = argc >= 2 ? 1 : 0;
        bool haveNs = argc >= 2 && !duk_is_undefined(ctx, 0);
        if (argc == 1 && isQName(ctx, 0)) {
            if (!duk_is_constructor_call(ctx)) return 1;
            Name q;
            qnameOf(ctx, 0, q.q.name);
            pushQName(ctx, q.q.name);
            return 1;
        }
        Name q;
        if (given(ctx, nameAt) && isQName(ctx, nameAt)) {
            Name inner;
            qnameOf(ctx, nameAt, inner.q.name);
            q.q.name.local = retain(inner.q.name.local);
        } else if (!given(ctx, nameAt) || duk_is_undefined(ctx, nameAt)) {
            q.q.name.local = retain(emptyName());
        } else {
            q.q.name.local = internAt(ctx, nameAt);
        }
        if (!haveNs) {
            if (q.q.name.local != starName()) {
                q.q.name.uri = retain(state().defaultUri);
                q.q.name.prefix = retain(state().defaultPrefix);
            }
        } else if (!duk_is_null(ctx, 0)) {
            buildNamespace(ctx, -1, 0, &q.q.name.prefix, &q.q.name.uri);
        }
        pushQName(ctx, q.q.name);
        return 1;
    });
}

duk_ret_t namespaceToString(duk_context* ctx) {
    duk_push_this(ctx);
    if (!isNamespace(ctx, -1)) fail(ctx, DUK_ERR_TYPE_ERROR, "not a Namespace");
    duk_get_prop_string(ctx, -1, "uri");
    return 1;
}

duk_ret_t qnameToString(duk_context* ctx) {
    duk_push_this(ctx);
    if (!isQName(ctx, -1)) fail(ctx, DUK_ERR_TYPE_ERROR, "not a QName");
    duk_get_prop_string(ctx, -1, "uri");
    duk_get_prop_string(ctx, -2, "localName");
    if (duk_is_null(ctx, -2)) {
        duk_push_string(ctx, "*::");
        duk_swap_top(ctx, -2);
        duk_concat(ctx, 2);
    } else if (duk_get_length(ctx, -2)) {
        duk_push_string(ctx, "::");
        duk_swap_top(ctx, -2);
        duk_concat(ctx, 3);
    }
    return 1;
}

duk_ret_t isXMLName(duk_context* ctx) {
    std::string s = toText(ctx, 0);
    duk_push_boolean(ctx, isXmlName(s.data(), s.size()));
    return 1;
}

} // namespace

bool indexKey(duk_context* ctx, duk_idx_t idx, uint32_t* index) {
    if (duk_is_number(ctx, idx)) {
        double d = duk_get_number(ctx, idx);
        if (!(d >= 0 && d < 4294967295.0) || d != static_cast<double>(static_cast<uint32_t>(d)))
            return false;
        *index = static_cast<uint32_t>(d);
        return true;
    }
    duk_size_t n;
    const char* s = duk_get_lstring(ctx, idx, &n);
    if (!s || !n || n > 10 || (s[0] == '0' && n > 1) || duk_is_symbol(ctx, idx)) return false;
    uint64_t v = 0;
    for (duk_size_t i = 0; i < n; i++) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + static_cast<uint64_t>(s[i] - '0');
    }
    if (v >= 4294967295u) return false;
    *index = static_cast<uint32_t>(v);
    return true;
}

void toName(duk_context* ctx, duk_idx_t idx, Name& out, bool attribute) {
    clearName(out.q.name);
    out.q.attr = attribute;
    if (isQName(ctx, idx)) return qnameOf(ctx, idx, out.q.name);
    std::string s = toText(ctx, idx);
    if (!s.empty() && s[0] == '\x01') return decodeKey(s, out);
    size_t from = 0;
    if (!s.empty() && s[0] == '@') {
        out.q.attr = true;
        from = 1;
    }
    size_t sep = s.rfind("::");
    if (sep != std::string::npos && sep >= from) {
        bool any = sep - from == 1 && s[from] == '*';
        out.q.name.uri = any ? nullptr : internPart(s, from, sep);
        out.q.name.local = internPart(s, sep + 2, s.size());
        return;
    }
    out.q.name.local = internPart(s, from, s.size());
    if (out.q.name.local == starName()) return; // any name in any namespace
    if (out.q.attr) {
        out.q.name.uri = retain(emptyName());
    } else {
        out.q.name.uri = retain(state().defaultUri);
        out.q.name.prefix = retain(state().defaultPrefix);
    }
}

void pushKey(duk_context* ctx, const xml::Name& name, bool attribute) {
    std::string k = "\x01";
    k += attribute ? (name.uri ? 'a' : 'A') : (name.uri ? 'e' : 'E');
    if (name.uri) k.append(name.uri->data, name.uri->size);
    k += '\x01';
    k.append(name.local->data, name.local->size);
    if (name.prefix) {
        k += '\x01';
        k.append(name.prefix->data, name.prefix->size);
    }
    pushText(ctx, k);
}

void pushNamespace(duk_context* ctx, const Str* prefix, const Str* uri) {
    duk_push_object(ctx);
    duk_push_heapptr(ctx, state().namespaceProto);
    duk_set_prototype(ctx, -2);
    if (prefix)
        pushStr(ctx, prefix);
    else
        duk_push_undefined(ctx);
    defineReadOnly(ctx, "prefix");
    pushStr(ctx, uri ? uri : emptyName());
    defineReadOnly(ctx, "uri");
}

void pushQName(duk_context* ctx, const xml::Name& name) {
    duk_push_object(ctx);
    duk_push_heapptr(ctx, state().qnameProto);
    duk_set_prototype(ctx, -2);
    pushStr(ctx, name.local ? name.local : emptyName());
    defineReadOnly(ctx, "localName");
    pushStr(ctx, name.uri); // null for any namespace
    defineReadOnly(ctx, "uri");
    if (name.prefix) {
        pushStr(ctx, name.prefix);
        duk_put_prop_string(ctx, -2, XML_KEY_PREFIX);
    }
}

void namespaceOf(duk_context* ctx, duk_idx_t idx, Str** prefix, Str** uri) {
    idx = duk_normalize_index(ctx, idx);
    if (isNamespace(ctx, idx)) {
        duk_get_prop_string(ctx, idx, "prefix");
        *prefix = duk_is_undefined(ctx, -1) ? nullptr : internAt(ctx, -1);
        duk_get_prop_string(ctx, idx, "uri");
        *uri = internAt(ctx, -1);
        duk_pop_2(ctx);
        return;
    }
    buildNamespace(ctx, -1, idx, prefix, uri);
}

void qnameOf(duk_context* ctx, duk_idx_t idx, xml::Name& out) {
    idx = duk_normalize_index(ctx, idx);
    clearName(out);
    duk_get_prop_string(ctx, idx, "uri");
    out.uri = duk_is_null(ctx, -1) ? nullptr : internAt(ctx, -1);
    duk_get_prop_string(ctx, idx, "localName");
    out.local = internAt(ctx, -1);
    duk_get_prop_string(ctx, idx, XML_KEY_PREFIX);
    out.prefix = duk_is_string(ctx, -1) ? internAt(ctx, -1) : nullptr;
    duk_pop_3(ctx);
}

void installNames(duk_context* ctx) {
    State& s = state();
    defineClass(ctx, -1, "Namespace", namespaceConstructor, 2, &s.namespaceProto);
    defineClass(ctx, -1, "QName", qnameConstructor, 2, &s.qnameProto);
    duk_push_heapptr(ctx, s.namespaceProto);
    defineMethod(ctx, -1, "toString", namespaceToString, 0);
    duk_push_heapptr(ctx, s.qnameProto);
    defineMethod(ctx, -1, "toString", qnameToString, 0);
    // Object.prototype.toString names their class: [object Namespace], [object QName].
    duk_get_global_string(ctx, "Symbol");
    for (const char* name : {"Namespace", "QName"}) {
        duk_get_prop_string(ctx, -1, "toStringTag");
        duk_push_string(ctx, name);
        duk_def_prop(ctx, name[0] == 'N' ? -5 : -4,
                     DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_CONFIGURABLE);
    }
    duk_pop_3(ctx);
    defineMethod(ctx, -1, "isXMLName", isXMLName, 1);
}

} // namespace e4x
} // namespace engine
