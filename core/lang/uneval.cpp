// uneval(value) and Object.prototype.toSource(): the source text of a value. Primitives,
// arrays and plain objects evaluate back to an equal value; the forms follow the engine
// that scripts were written for, e.g. ({'a/b.js':{size:1, csize:9, time:0, module:"app"}}).
#include "core/lang/lang.h"
#include "core/engine/text.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace engine {

namespace {

#define UNEVAL_KEY_BUILTINS DUK_HIDDEN_SYMBOL("unevalBuiltins")

// Deeper nesting is refused rather than risking the C stack.
constexpr size_t kMaxDepth = 1000;

// Built-in methods taken at installation, so that a script replacing them does not change
// the output. Indexes into the array kept on both natives.
enum Builtin {
    kObjectToString,
    kRegExpToString,
    kSymbolToString,
    kDateGetTime,
    kNumberValueOf,
    kStringValueOf,
    kBooleanValueOf,
    kBuiltinCount,
    kHostToSource = kBuiltinCount // Object.prototype.toSource as installed
};
const char* const kBuiltinPaths[kBuiltinCount][2] = {
    {"Object", "toString"}, {"RegExp", "toString"}, {"Symbol", "toString"}, {"Date", "getTime"},
    {"Number", "valueOf"},  {"String", "valueOf"},  {"Boolean", "valueOf"},
};

// Cycles are written with sharp variables, #1={self:#1#}: an array or object that its own
// members lead back to is labelled, and every later meeting of it (inside it or after it)
// is a use #n#. An object met twice on paths without a cycle is written both times.
struct Open {
    void* object;
    size_t at;   // where its text starts
    bool parens; // written as ({...}), which a label replaces: #1={...}
};
struct Label {
    size_t at, end; // its object's text
    bool parens;
    bool used = false;
};
struct Use {
    size_t at;
    int label;
};

struct Writer {
    duk_context* ctx;
    duk_idx_t builtins;                     // stack index of the built-in methods array
    std::string text;                       // ASCII only: everything else is escaped
    std::vector<Open> path;                 // arrays and objects being written, outermost first
    bool self;                              // the value is the `this` of toSource()
    std::unordered_map<void*, int> labelOf; // the objects of cycles, by label
    std::vector<Label> labels;
    std::vector<Use> uses; // in the order of the text
};

// Pushes builtin b called on the value at idx.
void callBuiltin(Writer& w, Builtin b, duk_idx_t idx) {
    duk_get_prop_index(w.ctx, w.builtins, b);
    duk_dup(w.ctx, idx);
    duk_call_method(w.ctx, 0);
}

void appendHex(std::string& out, char kind, unsigned v, int digits) {
    out += '\\';
    out += kind;
    while (digits--)
        out += "0123456789ABCDEF"[(v >> (4 * digits)) & 15];
}

} // namespace

// Appends text quoted with q, escaped so that it evaluates back to the same code units.
void appendQuoted(std::string& out, const uint16_t* c, size_t n, char q) {
    out += q;
    for (size_t i = 0; i < n; i++) {
        unsigned u = c[i];
        const char* esc = u == '\b'   ? "\\b"
                          : u == '\t' ? "\\t"
                          : u == '\n' ? "\\n"
                          : u == '\v' ? "\\v"
                          : u == '\f' ? "\\f"
                          : u == '\r' ? "\\r"
                                      : nullptr;
        if (esc) {
            out += esc;
        } else if (u == static_cast<unsigned>(q) || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u <= 0x7E) {
            out += static_cast<char>(u);
        } else {
            appendHex(out, u < 0x100 ? 'x' : 'u', u, u < 0x100 ? 2 : 4);
        }
    }
    out += q;
}

namespace {

// Appends the string at idx quoted with q.
void appendString(Writer& w, duk_idx_t idx, char q) {
    size_t n;
    const uint16_t* c = readChars(w.ctx, idx, &n);
    appendQuoted(w.text, c, n, q);
    duk_pop(w.ctx);
}

// Appends source text (a function's or a regular expression's) with printable ASCII kept
// (and in a function's, line breaks and tabs) and everything else as \uHHHH, which means
// the same in a pattern, a string literal and an identifier. A backslash before such a
// character is dropped: `\é` matches what `é` matches, and kept it would escape the
// backslash of the new escape.
void appendSource(Writer& w, duk_idx_t idx, bool function) {
    size_t n;
    const uint16_t* c = readChars(w.ctx, idx, &n);
    auto kept = [function](unsigned u) {
        return (u >= 0x20 && u <= 0x7E) || (function && u >= '\t' && u <= '\r');
    };
    for (size_t i = 0; i < n; i++) {
        unsigned u = c[i];
        if (u == '\\' && i + 1 < n) {
            unsigned next = c[i + 1];
            if (!kept(next)) continue;
            w.text += '\\';
            w.text += static_cast<char>(next);
            i++;
        } else if (kept(u)) {
            w.text += static_cast<char>(u);
        } else {
            appendHex(w.text, 'u', u, 4);
        }
    }
    duk_pop(w.ctx);
}

// JS ToString, except that negative zero keeps its sign and that a number whose ToString
// reads back as another number (the engine's shortest form is not always exact) is
// written with 17 significant digits, which always read back exactly.
void appendNumber(std::string& out, duk_context* ctx, duk_idx_t idx) {
    double d = duk_get_number(ctx, idx);
    if (d == 0 && signbit(d)) {
        out += "-0";
        return;
    }
    duk_dup(ctx, idx);
    duk_size_t n;
    const char* s = duk_to_lstring(ctx, -1, &n); // ASCII
    char exact[32];
    if (isfinite(d) && strtod(s, nullptr) != d) {
        n = static_cast<duk_size_t>(snprintf(exact, sizeof exact, "%.17g", d));
        s = exact;
    }
    out.append(s, n);
    duk_pop(ctx);
}

bool isDigit(unsigned u) {
    return u >= '0' && u <= '9';
}
bool isIdentChar(unsigned u) {
    return isDigit(u) || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '$';
}
bool isIdentifier(const uint16_t* c, size_t n) {
    if (n == 0 || isDigit(c[0])) return false;
    for (size_t i = 0; i < n; i++)
        if (!isIdentChar(c[i])) return false;
    return true;
}
// A canonical non-negative integer short enough to read back exactly as a number literal.
bool isIndex(const uint16_t* c, size_t n) {
    if (n == 0 || n > 15 || (c[0] == '0' && n > 1)) return false;
    for (size_t i = 0; i < n; i++)
        if (!isDigit(c[i])) return false;
    return true;
}

// Identifiers and integer keys go bare, every other key single-quoted.
void appendKey(Writer& w, duk_idx_t idx) {
    size_t n;
    const uint16_t* c = readChars(w.ctx, idx, &n);
    if (isIdentifier(c, n) || isIndex(c, n)) {
        for (size_t i = 0; i < n; i++)
            w.text += static_cast<char>(c[i]);
    } else {
        appendQuoted(w.text, c, n, '\'');
    }
    duk_pop(w.ctx);
}

void appendValue(Writer& w, duk_idx_t idx, bool top);

// An object with a toSource method of its own (not the host's) is written by it, as the
// engine that scripts were written for does; false when it has none.
bool appendOwnSource(Writer& w, duk_idx_t idx) {
    duk_context* ctx = w.ctx;
    duk_get_prop_literal(ctx, idx, "toSource");
    duk_get_prop_index(ctx, w.builtins, kHostToSource);
    bool own = duk_is_callable(ctx, -2) && !duk_strict_equals(ctx, -1, -2);
    duk_pop(ctx);
    if (!own) {
        duk_pop(ctx);
        return false;
    }
    duk_dup(ctx, idx);
    duk_call_method(ctx, 0);
    duk_to_string(ctx, -1);
    appendSource(w, -1, true);
    duk_pop(ctx);
    return true;
}

// Marks the object at idx as being written, its text starting here (parens: with the
// parentheses of a top-level object); false when it is written as a use of its label
// instead: it is being written (a cycle, whose objects all get a label), or it was
// labelled before.
bool enter(Writer& w, duk_idx_t idx, bool parens) {
    void* p = duk_get_heapptr(w.ctx, idx);
    auto labelled = w.labelOf.find(p);
    if (labelled == w.labelOf.end()) {
        size_t i = 0;
        while (i < w.path.size() && w.path[i].object != p)
            i++;
        if (i == w.path.size()) {
            if (w.path.size() >= kMaxDepth) duk_range_error(w.ctx, "uneval: nesting too deep");
            w.path.push_back(Open{p, w.text.size(), parens});
            return true;
        }
        for (; i < w.path.size(); i++) {
            const Open& o = w.path[i];
            if (w.labelOf.emplace(o.object, static_cast<int>(w.labels.size())).second)
                w.labels.push_back(Label{o.at, 0, o.parens});
        }
        labelled = w.labelOf.find(p);
    }
    w.labels[labelled->second].used = true;
    w.uses.push_back(Use{w.text.size(), labelled->second});
    return false;
}

// The object entered last is written.
void leave(Writer& w) {
    auto labelled = w.labelOf.find(w.path.back().object);
    if (labelled != w.labelOf.end()) w.labels[labelled->second].end = w.text.size();
    w.path.pop_back();
}

// The text with the labels that are used put in: #n= before its object (numbered in the
// order of the text, and in place of a top-level object's parentheses), #n# for each use.
std::string withLabels(const Writer& w) {
    if (w.uses.empty()) return w.text;
    std::vector<int> order;
    for (size_t i = 0; i < w.labels.size(); i++)
        if (w.labels[i].used) order.push_back(static_cast<int>(i));
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return w.labels[a].at < w.labels[b].at; });
    std::vector<int> number(w.labels.size());
    // Edits in the order of the text: a definition (its parentheses dropped) or a use.
    struct Edit {
        size_t at;
        int label;
        bool use;
    };
    std::vector<Edit> edits;
    for (size_t i = 0; i < order.size(); i++) {
        number[order[i]] = static_cast<int>(i) + 1;
        edits.push_back(Edit{w.labels[order[i]].at, order[i], false});
    }
    for (const Use& u : w.uses)
        edits.push_back(Edit{u.at, u.label, true});
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit& a, const Edit& b) { return a.at < b.at; });
    size_t close = std::string::npos; // a labelled top-level object's `)`, the last byte
    std::string out;
    out.reserve(w.text.size() + edits.size() * 4);
    size_t from = 0;
    for (const Edit& e : edits) {
        out.append(w.text, from, e.at - from);
        from = e.at;
        const Label& l = w.labels[e.label];
        out += '#';
        out += std::to_string(number[e.label]);
        out += e.use ? '#' : '=';
        if (!e.use && l.parens) {
            from++; // (
            close = l.end - 1;
        }
    }
    out.append(w.text, from, close == std::string::npos ? close : close - from);
    return out;
}

// Holes stay empty slots; a trailing hole needs one more comma to keep the length.
void appendArray(Writer& w, duk_idx_t idx) {
    if (!enter(w, idx, false)) return;
    w.text += '[';
    duk_size_t n = duk_get_length(w.ctx, idx);
    bool hole = false;
    for (duk_size_t i = 0; i < n; i++) {
        if (i) w.text += ", ";
        if (w.text.size() > limits::kStringBytes) duk_range_error(w.ctx, "uneval: result too long");
        hole = !duk_has_prop_index(w.ctx, idx, static_cast<duk_uarridx_t>(i));
        if (hole) continue;
        duk_get_prop_index(w.ctx, idx, static_cast<duk_uarridx_t>(i));
        appendValue(w, duk_get_top_index(w.ctx), false);
        duk_pop(w.ctx);
    }
    if (hole) w.text += ',';
    w.text += ']';
    leave(w);
}

// Own enumerable string-keyed properties in enumeration order, getters called.
void appendObject(Writer& w, duk_idx_t idx, bool top) {
    if (!enter(w, idx, top)) return;
    w.text += top ? "({" : "{";
    duk_enum(w.ctx, idx, DUK_ENUM_OWN_PROPERTIES_ONLY);
    for (bool first = true; duk_next(w.ctx, -1, 1); first = false) {
        duk_idx_t value = duk_get_top_index(w.ctx);
        if (!first) w.text += ", ";
        appendKey(w, value - 1);
        w.text += ':';
        appendValue(w, value, false);
        duk_pop_2(w.ctx);
    }
    duk_pop(w.ctx);
    w.text += top ? "})" : "}";
    leave(w);
}

// (new TypeError("message", "file.js", 12)), trailing parts left out when missing.
void appendError(Writer& w, duk_idx_t idx) {
    duk_context* ctx = w.ctx;
    duk_idx_t base = duk_get_top(ctx);
    std::string args[3];
    int count = 0;
    size_t n = 0;
    const uint16_t* c = nullptr;
    w.text += "(new ";
    duk_get_prop_literal(ctx, idx, "name");
    if (duk_is_string(ctx, -1)) c = readChars(ctx, -1, &n);
    if (c && isIdentifier(c, n)) {
        for (size_t i = 0; i < n; i++)
            w.text += static_cast<char>(c[i]);
    } else {
        w.text += "Error";
    }
    duk_get_prop_literal(ctx, idx, "message");
    if (!duk_is_undefined(ctx, -1)) {
        duk_to_string(ctx, -1);
        c = readChars(ctx, -1, &n);
        appendQuoted(args[0], c, n, '"');
        count = 1;
    }
    duk_get_prop_literal(ctx, idx, "fileName");
    if (duk_is_string(ctx, -1) && !duk_is_symbol(ctx, -1)) {
        c = readChars(ctx, -1, &n);
        appendQuoted(args[1], c, n, '"');
        count = 2;
    }
    duk_get_prop_literal(ctx, idx, "lineNumber");
    if (duk_is_number(ctx, -1) && duk_get_number(ctx, -1) > 0) {
        appendNumber(args[2], ctx, -1);
        count = 3;
    }
    duk_set_top(ctx, base);
    w.text += '(';
    for (int i = 0; i < count; i++) {
        if (i) w.text += ", ";
        w.text += args[i].empty() ? "\"\"" : args[i];
    }
    w.text += "))";
}

// Symbol("description"), from the engine's "Symbol(description)".
void appendSymbol(Writer& w, duk_idx_t idx) {
    callBuiltin(w, kSymbolToString, idx);
    size_t n;
    const uint16_t* c = readChars(w.ctx, -1, &n);
    w.text += "Symbol(";
    if (n > 8) appendQuoted(w.text, c + 7, n - 8, '"');
    w.text += ')';
    duk_pop_2(w.ctx);
}

// Date and boxed primitives: (new Date(1234)), (new Number(5)). False if the object only
// claims the class (Symbol.toStringTag) and the built-in refuses it.
bool appendBoxed(Writer& w, duk_idx_t idx, Builtin b, const char* ctor) {
    duk_get_prop_index(w.ctx, w.builtins, b);
    duk_dup(w.ctx, idx);
    if (duk_pcall_method(w.ctx, 0) != DUK_EXEC_SUCCESS) {
        duk_pop(w.ctx);
        return false;
    }
    w.text += "(new ";
    w.text += ctor;
    w.text += '(';
    appendValue(w, duk_get_top_index(w.ctx), false);
    w.text += "))";
    duk_pop(w.ctx);
    return true;
}

// Appends the value at idx (an absolute index); the stack is left as it was.
void appendValue(Writer& w, duk_idx_t idx, bool top) {
    duk_context* ctx = w.ctx;
    duk_require_stack(ctx, 16); // ample for one level (appendError pushes the most, 8)
    if (w.text.size() > limits::kStringBytes) duk_range_error(ctx, "uneval: result too long");
    switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
        w.text += "(void 0)";
        return;
    case DUK_TYPE_NULL:
    case DUK_TYPE_POINTER: // a native pointer has no source form
        w.text += "null";
        return;
    case DUK_TYPE_BOOLEAN:
        w.text += duk_get_boolean(ctx, idx) ? "true" : "false";
        return;
    case DUK_TYPE_NUMBER:
        appendNumber(w.text, ctx, idx);
        return;
    case DUK_TYPE_STRING:
        if (duk_is_symbol(ctx, idx)) {
            appendSymbol(w, idx);
        } else {
            appendString(w, idx, '"');
        }
        return;
    case DUK_TYPE_BUFFER: // a plain buffer reads as its Uint8Array object
        duk_dup(ctx, idx);
        duk_to_object(ctx, -1);
        appendValue(w, duk_get_top_index(ctx), top);
        duk_pop(ctx);
        return;
    }
    // Not for the `this` of toSource itself: an own toSource may call the host's on it.
    if (!(top && w.self) && appendOwnSource(w, idx)) return;
    // A function inside an array or object is written bare, only one on its own in
    // parentheses.
    if (duk_host_push_function_text(ctx, idx, top)) {
        appendSource(w, -1, true);
        duk_pop(ctx);
        return;
    }
    if (duk_is_array(ctx, idx)) {
        appendArray(w, idx);
        return;
    }
    if (const char* name = duk_host_namespace_name(ctx, idx)) { // Math, JSON: their names
        w.text += name;
        return;
    }
    callBuiltin(w, kObjectToString, idx);
    std::string tag = duk_get_string(ctx, -1); // "[object Class]", ASCII for built-in classes
    duk_pop(ctx);
    if (tag == "[object Error]") {
        appendError(w, idx);
    } else if (tag == "[object RegExp]") {
        callBuiltin(w, kRegExpToString, idx);
        appendSource(w, -1, false);
        duk_pop(ctx);
    } else if (!(tag == "[object Date]" && appendBoxed(w, idx, kDateGetTime, "Date")) &&
               !(tag == "[object Number]" && appendBoxed(w, idx, kNumberValueOf, "Number")) &&
               !(tag == "[object String]" && appendBoxed(w, idx, kStringValueOf, "String")) &&
               !(tag == "[object Boolean]" && appendBoxed(w, idx, kBooleanValueOf, "Boolean"))) {
        appendObject(w, idx, top);
    }
}

// Writes the value at idx and pushes the text.
duk_ret_t unevalAt(duk_context* ctx, duk_idx_t idx, bool self) {
    duk_push_current_function(ctx);
    duk_get_prop_literal(ctx, -1, UNEVAL_KEY_BUILTINS);
    Writer w{ctx, duk_get_top_index(ctx), {}, {}, self, {}, {}, {}};
    appendValue(w, idx, true);
    std::string text = withLabels(w);
    pushBytes(ctx, text.data(), text.size());
    return 1;
}

duk_ret_t uneval(duk_context* ctx) {
    return unevalAt(ctx, 0, false);
}

// A primitive `this` is written boxed: (5).toSource() is (new Number(5)).
duk_ret_t toSource(duk_context* ctx) {
    duk_push_this(ctx);
    duk_to_object(ctx, -1);
    return unevalAt(ctx, duk_get_top_index(ctx), true);
}

// Defines on the object at -1 a non-enumerable native method that keeps the builtins
// array found at index builtins.
void defineNative(duk_context* ctx, duk_idx_t builtins, const char* name, duk_c_function fn,
                  duk_idx_t nargs) {
    duk_push_string(ctx, name); // ASCII literal
    duk_push_c_function(ctx, fn, nargs);
    duk_push_literal(ctx, "name");
    duk_push_string(ctx, name);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_C);
    duk_dup(ctx, builtins);
    duk_put_prop_literal(ctx, -2, UNEVAL_KEY_BUILTINS);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC | DUK_DEFPROP_CLEAR_E);
}

} // namespace

void installUneval(duk_context* ctx) {
    duk_idx_t builtins = duk_push_array(ctx);
    for (int b = 0; b < kBuiltinCount; b++) {
        duk_get_global_string(ctx, kBuiltinPaths[b][0]);
        duk_get_prop_literal(ctx, -1, "prototype");
        duk_get_prop_string(ctx, -1, kBuiltinPaths[b][1]);
        duk_put_prop_index(ctx, -4, static_cast<duk_uarridx_t>(b));
        duk_pop_2(ctx);
    }
    duk_push_global_object(ctx);
    defineNative(ctx, builtins, "uneval", uneval, 1);
    duk_get_prop_literal(ctx, -1, "Object");
    duk_get_prop_literal(ctx, -1, "prototype");
    duk_remove(ctx, -2);
    defineNative(ctx, builtins, "toSource", toSource, 0);
    duk_get_prop_literal(ctx, -1, "toSource");
    duk_put_prop_index(ctx, builtins, kHostToSource);
    duk_pop_3(ctx);
}

} // namespace engine
