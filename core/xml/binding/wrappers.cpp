// E4X in the engine: the wrappers, conversions, the engine's calls for method calls, +
// and ==, the XML and XMLList constructors with their settings, and the unit's install
// (core/xml/binding/xml.js calls it on first use of XML, XMLList, Namespace, QName, isXMLName or
// __lang.xml).
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"
#include "core/xml/parse.h"
#include "core/xml/write.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace engine {
namespace e4x {

using namespace xml;

State& state() {
    static State s;
    return s;
}

namespace {

#define XML_KEY_KEEP DUK_HIDDEN_SYMBOL("e4xKeep")

void* slotOf(Node* n) {
    return n;
}
void* slotOf(List* l) {
    return reinterpret_cast<char*>(l) + 1; // lists are aligned: the low bit tells them apart
}

Value fromSlot(void* p) {
    Value v;
    uintptr_t u = reinterpret_cast<uintptr_t>(p);
    if (!u) return v;
    if (u & 1)
        v.list = reinterpret_cast<List*>(u - 1);
    else
        v.node = reinterpret_cast<Node*>(u);
    return v;
}

// A proxy over a fresh target whose prototype gives instanceof its answer; both carry the
// slot. The proxy's slot goes last: a wrapper that failed half-way holds nothing.
void pushWrapper(duk_context* ctx, void* slot, void* proto) {
    duk_push_bare_object(ctx);
    duk_push_heapptr(ctx, proto);
    duk_set_prototype(ctx, -2);
    duk_host_set_slot(ctx, -1, slot);
    duk_push_heapptr(ctx, state().handler);
    duk_push_proxy(ctx, 0);
    duk_host_set_slot(ctx, -1, slot);
}

// A wrapper's end: what it held goes (the collector calls this; no engine call here).
void wrapperFreed(void* slot) {
    Value v = fromSlot(slot);
    if (v.node) {
        v.node->wrapper = nullptr;
        unref(v.node);
    } else if (v.list) {
        v.list->wrapper = nullptr;
        unref(v.list);
    }
}

// Past the model's memory limit: collect, so that unreachable wrappers let their trees go.
// Without finalizers: no script may run in the middle of a native's tree walk.
void reclaim() {
    duk_context* ctx = thread().ctx;
    if (ctx) duk_host_collect_quietly(ctx);
}

} // namespace

void fail(duk_context* ctx, duk_errcode_t code, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    duk_error_va_raw(ctx, code | kNoBlame, nullptr, 0, fmt, ap);
    abort(); // not reached: the engine's error unwinds
}

void defineMethod(duk_context* ctx, duk_idx_t obj, const char* name, duk_c_function fn, int nargs) {
    obj = duk_normalize_index(ctx, obj);
    duk_push_string(ctx, name);
    duk_push_c_function(ctx, fn, nargs);
    duk_def_prop(ctx, obj, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
}

void defineClass(duk_context* ctx, duk_idx_t global, const char* name, duk_c_function ctor,
                 int length, void** proto) {
    global = duk_normalize_index(ctx, global);
    duk_push_c_function(ctx, ctor, DUK_VARARGS);
    duk_push_string(ctx, "length");
    duk_push_int(ctx, length);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    duk_push_string(ctx, "name");
    duk_push_string(ctx, name);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    duk_push_object(ctx);
    *proto = duk_get_heapptr(ctx, -1);
    duk_push_string(ctx, "constructor");
    duk_dup(ctx, -3);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
    duk_push_string(ctx, "prototype");
    duk_swap_top(ctx, -2);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WEC);
    duk_push_string(ctx, name);
    duk_swap_top(ctx, -2);
    duk_def_prop(ctx, global, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
}

void keepAlive(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    duk_push_global_stash(ctx);
    if (!duk_get_prop_string(ctx, -1, XML_KEY_KEEP)) {
        duk_pop(ctx);
        duk_push_array(ctx);
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, XML_KEY_KEEP);
    }
    duk_dup(ctx, idx);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(duk_get_length(ctx, -2)));
    duk_pop_2(ctx);
}

namespace {
// The wrapper of a node or a list: made once, with a reference that the wrapper's finalizer
// drops.
template <class T> void pushObject(duk_context* ctx, T* x, void* proto) {
    if (x->wrapper) {
        duk_push_heapptr(ctx, x->wrapper);
        return;
    }
    ref(x);
    try {
        pushWrapper(ctx, slotOf(x), proto);
    } catch (...) {
        unref(x);
        throw;
    }
    x->wrapper = duk_get_heapptr(ctx, -1);
}
} // namespace

void pushNode(duk_context* ctx, Node* n) {
    pushObject(ctx, n, state().xmlProto);
}

void pushList(duk_context* ctx, List* l) {
    pushObject(ctx, l, state().listProto);
}

void pushRef(duk_context* ctx, const Ref& r) {
    if (r.node)
        pushNode(ctx, r.node);
    else if (r.list)
        pushList(ctx, r.list);
    else
        duk_push_undefined(ctx);
}

Value valueAt(duk_context* ctx, duk_idx_t idx) {
    return fromSlot(duk_host_e4x_slot(ctx, idx));
}

// The prototypes stand for an empty text node and an empty list (as ECMA-357 makes them),
// so that XML.prototype.toString() and the like answer.
Value thisValue(duk_context* ctx) {
    duk_push_this(ctx);
    Value v = valueAt(ctx, -1);
    void* self = duk_get_heapptr(ctx, -1);
    duk_pop(ctx);
    State& s = state();
    if (!v && self && self == s.xmlProto) v.node = s.emptyText;
    if (!v && self && self == s.listProto) v.list = s.emptyList;
    if (!v) fail(ctx, DUK_ERR_TYPE_ERROR, "not an XML or XMLList object");
    return v;
}

Node* thisNode(duk_context* ctx) {
    Value v = thisValue(ctx);
    if (!v.node) fail(ctx, DUK_ERR_TYPE_ERROR, "not an XML object");
    return v.node;
}

bool isNamespace(duk_context* ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx)) return false;
    duk_get_prototype(ctx, idx);
    bool is = duk_get_heapptr(ctx, -1) == state().namespaceProto;
    duk_pop(ctx);
    return is;
}

bool isQName(duk_context* ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx)) return false;
    duk_get_prototype(ctx, idx);
    bool is = duk_get_heapptr(ctx, -1) == state().qnameProto;
    duk_pop(ctx);
    return is;
}

// Engine strings hold the engine's own encoding; text read from them (and text the parser
// converted to that encoding) goes back as it is.
std::string toText(duk_context* ctx, duk_idx_t idx) {
    Value v = valueAt(ctx, idx);
    if (v) return valueString(v);
    duk_dup(ctx, idx);
    duk_size_t n;
    const char* s = duk_to_lstring(ctx, -1, &n);
    std::string out(s, n);
    duk_pop(ctx);
    return out;
}

void pushText(duk_context* ctx, const std::string& s) {
    duk_push_lstring(ctx, s.data(), s.size());
}

void pushStr(duk_context* ctx, const Str* s) {
    if (s)
        duk_push_lstring(ctx, s->data, s->size);
    else
        duk_push_null(ctx);
}

Str* internAt(duk_context* ctx, duk_idx_t idx) {
    std::string s = toText(ctx, idx);
    return intern(s.data(), s.size());
}

std::string valueString(const Value& v) {
    std::string s;
    if (v.node)
        writeString(s, v.node, settingsFormat());
    else
        writeListString(s, v.list, settingsFormat());
    return s;
}

std::string valueMarkup(const Value& v, bool source) {
    Format f = settingsFormat();
    f.source = source; // printed as the settings say, as toXMLString (the engines of the era)
    std::string s;
    if (v.node)
        writeNode(s, v.node, f);
    else
        writeList(s, v.list, f);
    return s;
}

Assigned::Assigned(duk_context* ctx, duk_idx_t idx) {
    Value v = valueAt(ctx, idx);
    val.node = v.node;
    val.list = v.list;
    if (!v) {
        std::string s = toText(ctx, idx);
        val.text = newStr(s.data(), s.size());
    }
}

void parseText(duk_context* ctx, const std::string& text, Vec<Node*>& out) {
    const State& s = state();
    ParseOptions o;
    o.ignoreComments = s.settings.ignoreComments;
    o.ignoreInstructions = s.settings.ignoreInstructions;
    o.ignoreWhitespace = s.settings.ignoreWhitespace;
    o.defaultUri = s.defaultUri;
    ParseError e;
    if (!parse(text.data(), text.size(), o, out, &e))
        fail(ctx, DUK_ERR_SYNTAX_ERROR, "malformed XML: %s (line %lu, column %lu)",
             e.message.c_str(), e.line, e.column);
}

namespace {

// Releases the nodes a parse made that nobody took.
struct Parsed {
    Vec<Node*> nodes;
    uint32_t taken = 0;
    ~Parsed() {
        for (uint32_t i = taken; i < nodes.n; i++) {
            Hold drop(nodes[i]);
        }
        nodes.clear();
    }
};

} // namespace

void pushToXML(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    Value v = valueAt(ctx, idx);
    if (v.node) return duk_dup(ctx, idx);
    if (v.list) {
        if (v.list->items.n != 1)
            fail(ctx, DUK_ERR_TYPE_ERROR, "an XMLList of %u items is not one XML value",
                 static_cast<unsigned>(v.list->items.n));
        return pushNode(ctx, v.list->items[0]);
    }
    if (duk_is_null_or_undefined(ctx, idx))
        fail(ctx, DUK_ERR_TYPE_ERROR, "no XML in null or undefined");
    Parsed p;
    parseText(ctx, toText(ctx, idx), p.nodes);
    if (p.nodes.n > 1) fail(ctx, DUK_ERR_SYNTAX_ERROR, "XML text of more than one node");
    if (!p.nodes.n) {
        Node* t = newNode(kText);
        Hold h(t);
        t->value = retain(emptyName());
        return pushNode(ctx, t);
    }
    p.taken = 1;
    Hold h(p.nodes[0]);
    pushNode(ctx, p.nodes[0]);
}

void pushToXMLList(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    Value v = valueAt(ctx, idx);
    if (v.list) return duk_dup(ctx, idx);
    Ref l(newList());
    if (v.node) {
        append(l.list, v.node);
    } else {
        if (duk_is_null_or_undefined(ctx, idx))
            fail(ctx, DUK_ERR_TYPE_ERROR, "no XML in null or undefined");
        Parsed p;
        parseText(ctx, toText(ctx, idx), p.nodes);
        for (Node* n : p.nodes)
            append(l.list, n);
    }
    pushList(ctx, l.list);
}

namespace {

// XML(value) and new XML(value): text parsed, an XML value as it is (a copy when
// constructed), a list of one as its item.
duk_ret_t xmlConstructor(duk_context* ctx) {
    return guard(ctx, [&] {
        if (duk_get_top(ctx) == 0 || duk_is_null_or_undefined(ctx, 0)) {
            duk_set_top(ctx, 0);
            duk_push_string(ctx, "");
        }
        pushToXML(ctx, 0);
        if (duk_is_constructor_call(ctx) && valueAt(ctx, 0)) {
            Ref c(deepCopy(valueAt(ctx, -1).node));
            pushNode(ctx, c.node);
        }
        return 1;
    });
}

duk_ret_t listConstructor(duk_context* ctx) {
    return guard(ctx, [&] {
        if (duk_get_top(ctx) == 0 || duk_is_null_or_undefined(ctx, 0)) {
            duk_set_top(ctx, 0);
            duk_push_string(ctx, "");
        }
        Value v = valueAt(ctx, 0);
        if (v.list && duk_is_constructor_call(ctx)) {
            Ref l(newList());
            appendAll(l.list, v.list);
            pushList(ctx, l.list);
            return 1;
        }
        pushToXMLList(ctx, 0);
        return 1;
    });
}

// The settings, as accessors of XML (magic: which one).
enum Setting { kIgnoreComments, kIgnoreInstructions, kIgnoreWhitespace, kPretty, kIndent };
const char* const kSettingNames[] = {"ignoreComments", "ignoreProcessingInstructions",
                                     "ignoreWhitespace", "prettyPrinting", "prettyIndent"};

void pushSetting(duk_context* ctx, int which, bool defaults) {
    const Settings& s = state().settings;
    const Format& f = settingsFormat();
    switch (which) {
    case kIgnoreComments:
        return duk_push_boolean(ctx, defaults || s.ignoreComments);
    case kIgnoreInstructions:
        return duk_push_boolean(ctx, defaults || s.ignoreInstructions);
    case kIgnoreWhitespace:
        return duk_push_boolean(ctx, defaults || s.ignoreWhitespace);
    case kPretty:
        return duk_push_boolean(ctx, defaults || f.pretty);
    default:
        return duk_push_uint(ctx, defaults ? 2 : f.indent);
    }
}

void setSetting(duk_context* ctx, int which, duk_idx_t value) {
    Settings& s = state().settings;
    Format& f = settingsFormat();
    bool b = which != kIndent && duk_to_boolean(ctx, value);
    switch (which) {
    case kIgnoreComments:
        s.ignoreComments = b;
        break;
    case kIgnoreInstructions:
        s.ignoreInstructions = b;
        break;
    case kIgnoreWhitespace:
        s.ignoreWhitespace = b;
        break;
    case kPretty:
        f.pretty = b;
        break;
    default: {
        double d = duk_to_number(ctx, value);
        f.indent = d > 0 ? (d < 1000 ? static_cast<uint32_t>(d) : 1000) : 0;
    }
    }
}

duk_ret_t getSetting(duk_context* ctx) {
    pushSetting(ctx, duk_get_current_magic(ctx), false);
    return 1;
}

duk_ret_t putSetting(duk_context* ctx) {
    setSetting(ctx, duk_get_current_magic(ctx), 0);
    return 0;
}

void pushSettings(duk_context* ctx, bool defaults) {
    duk_push_object(ctx);
    for (int i = 0; i < 5; i++) {
        pushSetting(ctx, i, defaults);
        duk_put_prop_string(ctx, -2, kSettingNames[i]);
    }
}

duk_ret_t settingsNative(duk_context* ctx) {
    pushSettings(ctx, false);
    return 1;
}

duk_ret_t defaultSettings(duk_context* ctx) {
    pushSettings(ctx, true);
    return 1;
}

// XML.setSettings(): back to the defaults; setSettings(o): each setting o has, of the
// right type.
duk_ret_t setSettings(duk_context* ctx) {
    if (duk_is_null_or_undefined(ctx, 0)) {
        pushSettings(ctx, true);
    } else if (!duk_is_object(ctx, 0)) {
        return 0;
    }
    duk_idx_t from = duk_is_null_or_undefined(ctx, 0) ? duk_get_top_index(ctx) : 0;
    for (int i = 0; i < 5; i++) {
        duk_get_prop_string(ctx, from, kSettingNames[i]);
        if (i == kIndent ? duk_is_number(ctx, -1) : duk_is_boolean(ctx, -1)) setSetting(ctx, i, -1);
        duk_pop(ctx);
    }
    return 0;
}

// Makes a constructor with its prototype (a plain object) and defines it on the global.

// The unit's entry: install(global, lang).
duk_ret_t install(duk_context* ctx) {
    duk_idx_t global = 0;
    State& s = state();
    s.emptyText = newNode(kText);
    s.emptyText->value = retain(emptyName());
    ref(s.emptyText);
    s.emptyList = newList();
    ref(s.emptyList);
    s.defaultUri = retain(emptyName());
    s.defaultPrefix = retain(emptyName());
    defineClass(ctx, global, "XML", xmlConstructor, 1, &s.xmlProto);
    defineClass(ctx, global, "XMLList", listConstructor, 1, &s.listProto);
    duk_get_prop_string(ctx, global, "XML");
    duk_idx_t xml = duk_get_top_index(ctx);
    for (int i = 0; i < 5; i++) {
        duk_push_string(ctx, kSettingNames[i]);
        duk_push_c_function(ctx, getSetting, 0);
        duk_set_magic(ctx, -1, i);
        duk_push_c_function(ctx, putSetting, 1);
        duk_set_magic(ctx, -1, i);
        duk_def_prop(ctx, xml,
                     DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER |
                         DUK_DEFPROP_SET_CONFIGURABLE | DUK_DEFPROP_CLEAR_ENUMERABLE);
    }
    defineMethod(ctx, xml, "settings", settingsNative, 0);
    defineMethod(ctx, xml, "setSettings", setSettings, 1);
    defineMethod(ctx, xml, "defaultSettings", defaultSettings, 0);
    duk_pop(ctx);
    duk_get_global_string(ctx, "String");
    duk_get_prop_string(ctx, -1, "prototype");
    s.stringProto = duk_get_heapptr(ctx, -1);
    duk_pop_2(ctx);

    duk_push_heapptr(ctx, s.xmlProto);
    duk_push_heapptr(ctx, s.listProto);
    installMethods(ctx);
    duk_pop_2(ctx);
    duk_dup(ctx, global);
    installNames(ctx);
    duk_pop(ctx);
    installTraps(ctx);
    duk_push_object(ctx);
    installLang(ctx);
    duk_put_prop_string(ctx, 1, "xml");

    for (void* p : {s.xmlProto, s.listProto, s.namespaceProto, s.qnameProto}) {
        duk_push_heapptr(ctx, p);
        keepAlive(ctx, -1);
        duk_pop(ctx);
    }

    duk_host_e4x hooks{s.handler,  s.namespaceProto, s.qnameProto, wrapperFreed,
                       callMethod, addValues,        equalValues};
    duk_host_set_e4x(ctx, &hooks);
    setReclaimer(reclaim);
    return 0;
}

} // namespace

} // namespace e4x

extern const duk_function_list_entry xmlNatives[] = {{"install", e4x::install, 2},
                                                     {nullptr, nullptr, 0}};

} // namespace engine
