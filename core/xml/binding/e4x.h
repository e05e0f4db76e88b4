// E4X in the engine (core/xml/binding/). An XML or XMLList value is a proxy whose
// handler's traps are natives (core/xml/binding/traps.cpp); the native node or list it
// stands for lives outside the script heap (core/xml/tree.h). A node has at most one
// wrapper, so x.a[0] === x.a[0]; a wrapper holds a reference on its node or list and
// drops it when the collector frees the proxy. Everything here runs under the request
// lock, and nothing of it runs before a script first touches XML. The room
// core/xml/binding/ is an engine binding: it may include the engine host's headers
// (core/engine/) and the data model (core/xml/), nothing of core/lang/, the modules or
// start-up.
#ifndef CAPSULE_XML_BINDING_E4X_H
#define CAPSULE_XML_BINDING_E4X_H

#include "core/xml/ops.h"
#include "core/xml/tree.h"
#include "core/engine/internal.h"

#include <string>

namespace engine {
namespace e4x {

// The value behind a wrapper: a node or a list.
struct Value {
    xml::Node* node = nullptr;
    xml::List* list = nullptr;
    explicit operator bool() const { return node || list; }
};

struct Settings {
    bool ignoreComments = true;
    bool ignoreInstructions = true;
    bool ignoreWhitespace = true;
};

// What the unit made once: prototypes, the handler and the functions the traps hand out
// (heap pointers, kept reachable from the stash), the settings, the default namespace.
struct State {
    void* handler = nullptr;
    void* xmlProto = nullptr;
    void* listProto = nullptr;
    void* namespaceProto = nullptr;
    void* qnameProto = nullptr;
    void* stringProto = nullptr;
    void* toPrimitive = nullptr;
    void* iterator = nullptr;
    void* toSource = nullptr;
    Settings settings;
    xml::Node* emptyText = nullptr;    // what XML.prototype stands for
    xml::List* emptyList = nullptr;    // and XMLList.prototype
    xml::Str* defaultUri = nullptr;    // default xml namespace ("" at first)
    xml::Str* defaultPrefix = nullptr; // its prefix, null when unknown
};
State& state();

// A native constructor with a prototype of its own (plain), defined on the object at
// global; and a method (not enumerable) on the object at obj.
void defineClass(duk_context* ctx, duk_idx_t global, const char* name, duk_c_function ctor,
                 int length, void** proto);
void defineMethod(duk_context* ctx, duk_idx_t obj, const char* name, duk_c_function fn, int nargs);
// Keeps the value at idx reachable for the heap's life (what State points to).
void keepAlive(duk_context* ctx, duk_idx_t idx);

// Wrappers.
void pushNode(duk_context* ctx, xml::Node* n);
void pushList(duk_context* ctx, xml::List* l);
void pushRef(duk_context* ctx, const xml::Ref& r);
Value valueAt(duk_context* ctx, duk_idx_t idx); // empty for anything but an XML value
Value thisValue(duk_context* ctx);              // `this`, or a TypeError
xml::Node* thisNode(duk_context* ctx);          // `this` as an XML node, or a TypeError
bool isNamespace(duk_context* ctx, duk_idx_t idx);
bool isQName(duk_context* ctx, duk_idx_t idx);

// Errors raised for the calling script (its file and line). Faults and memory exhaustion
// of the model become TypeError and RangeError at the natives' boundary (guard).
[[noreturn]] void fail(duk_context* ctx, duk_errcode_t code, const char* fmt, ...);
template <class F> duk_ret_t guard(duk_context* ctx, F&& f) {
    const char* fault = nullptr;
    try {
        return f();
    } catch (xml::Fault& e) {
        fault = e.message;
    } catch (xml::Exhausted& e) {
        if (e.what) fail(ctx, DUK_ERR_RANGE_ERROR, "%s", e.what);
    }
    if (fault) fail(ctx, DUK_ERR_TYPE_ERROR, "%s", fault);
    fail(ctx, DUK_ERR_RANGE_ERROR, "XML memory limit of %u MiB reached",
         static_cast<unsigned>(xml::kMemoryLimit >> 20));
}

// Conversions.
std::string toText(duk_context* ctx, duk_idx_t idx); // ToString, in the engine's encoding
void pushText(duk_context* ctx, const std::string& s);
void pushStr(duk_context* ctx, const xml::Str* s);
xml::Str* internAt(duk_context* ctx, duk_idx_t idx); // ToString, interned (new reference)
// ToString of an XML value with the current settings (ECMA-357 10.1).
std::string valueString(const Value& v);
std::string valueMarkup(const Value& v, bool source = false);

// The value to assign or insert: a node, a list, or the text of anything else. Owns
// the text it made.
struct Assigned {
    xml::Val val;
    Assigned(duk_context* ctx, duk_idx_t idx);
    ~Assigned() { xml::release(val.text); }
    Assigned(const Assigned&) = delete;
};

// A property name or a name argument as a lookup (ECMA-357 ToXMLName, ToAttributeName).
// Owns the references of its name.
struct Name {
    xml::Query q;
    ~Name() { xml::clearName(q.name); }
};
// A canonical array index ("0", "1" ...), for the traps.
bool indexKey(duk_context* ctx, duk_idx_t idx, uint32_t* index);
// From a property key (a string: "a", "@a", "*", "@*", "uri::a", or one that
// __lang.xml.key made), a QName object or anything else (its ToString).
void toName(duk_context* ctx, duk_idx_t idx, Name& out, bool attribute = false);
// Pushes the key that finds name (for __lang.xml.key and attributeKey).
void pushKey(duk_context* ctx, const xml::Name& name, bool attribute);

// Namespace and QName objects.
void pushNamespace(duk_context* ctx, const xml::Str* prefix, const xml::Str* uri);
void pushQName(duk_context* ctx, const xml::Name& name);
// ECMA-357 Namespace(value): prefix (null when undefined) and uri, new references.
void namespaceOf(duk_context* ctx, duk_idx_t idx, xml::Str** prefix, xml::Str** uri);
// The name of a QName object (uri null for any), new references.
void qnameOf(duk_context* ctx, duk_idx_t idx, xml::Name& out);

// Parsing text as XML (ECMA-357 ToXML, ToXMLList): the nodes, or a SyntaxError.
void parseText(duk_context* ctx, const std::string& text, xml::Vec<xml::Node*>& out);
void pushToXML(duk_context* ctx, duk_idx_t idx);     // XML(value)
void pushToXMLList(duk_context* ctx, duk_idx_t idx); // XMLList(value)

// The natives of each part, installed by the unit.
void installTraps(duk_context* ctx);   // the handler and the functions it hands out
void installMethods(duk_context* ctx); // XML.prototype and XMLList.prototype at -2, -1
void installNameMethods(duk_context* ctx, duk_idx_t xmlProto);
void installNames(duk_context* ctx); // Namespace, QName, isXMLName on the global at -1
void installLang(duk_context* ctx);  // __lang.xml, the object at -1
// The engine's calls into E4X for method calls, + and ==.
void callMethod(duk_context* ctx, duk_idx_t self);
void addValues(duk_context* ctx);
bool equalValues(duk_context* ctx);

} // namespace e4x
} // namespace engine

#endif
