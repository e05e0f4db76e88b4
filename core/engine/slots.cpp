// The module interface table: the slots that read, convert and make values, and the
// table itself.
#include "core/engine/internal.h"

#include "core/engine/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace engine {

// ---- the slots that read, convert and make values ------------------------------------

namespace {

// Leaves obj[name] on the stack.
bool readProperty(duk_context* ctx, HostObject* obj, const char* name) {
    return run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        pushName(c, name);
        duk_get_prop(c, -2);
        return 1;
    });
}

HostValue getProperty(HostContext* cx, HostObject* obj, const char* name) {
    duk_context* ctx = duk(cx);
    return readProperty(ctx, obj, name) ? box(ctx, -1) : HOST_UNDEFINED;
}

// String(value at top) as bytes or UTF-16; the result (string or buffer) replaces it.
const char* bytesOfTop(duk_context* ctx) {
    const char* out = "";
    run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_dup(c, -1);
        duk_to_string(c, -1);
        duk_idx_t top = duk_get_top(c);
        out = readBytes(c, -1, nullptr);
        if (duk_get_top(c) > top) duk_remove(c, -2);
        return 1;
    });
    return out;
}

const HostChar* charsOfTop(duk_context* ctx) {
    static const HostChar empty[1] = {0};
    const HostChar* out = empty;
    run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_dup(c, -1);
        duk_to_string(c, -1);
        out = readChars(c, -1, nullptr);
        duk_remove(c, -2);
        return 1;
    });
    return out;
}

double numberOfTop(duk_context* ctx) {
    double d = NAN;
    if (run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
            duk_dup(c, -1);
            d = duk_to_number(c, -1);
            return 0;
        }))
        duk_pop(ctx);
    return d;
}

const char* toBytes(HostContext* cx, HostValue v) {
    duk_context* ctx = duk(cx);
    if (!duk_check_stack(ctx, 2)) return "";
    push(ctx, v);
    return bytesOfTop(ctx);
}

const HostChar* toChars(HostContext* cx, HostValue v) {
    duk_context* ctx = duk(cx);
    static const HostChar empty[1] = {0};
    if (!duk_check_stack(ctx, 2)) return empty;
    push(ctx, v);
    return charsOfTop(ctx);
}

int toLength(HostContext* cx, HostValue v) {
    duk_context* ctx = duk(cx);
    int n = 0;
    run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        push(c, v);
        duk_to_string(c, -1);
        n = static_cast<int>(charCount(c, -1));
        return 0;
    });
    return n;
}

double toNumber(HostContext* cx, HostValue v) {
    if (hostIsNumber(v)) return hostToDouble(v);
    duk_context* ctx = duk(cx);
    if (!duk_check_stack(ctx, 2)) return NAN;
    push(ctx, v);
    return numberOfTop(ctx);
}

double propertyAsNumber(HostContext* cx, HostObject* obj, const char* name, double def) {
    duk_context* ctx = duk(cx);
    if (!readProperty(ctx, obj, name) || duk_is_undefined(ctx, -1)) return def;
    return numberOfTop(ctx);
}

const char* propertyAsBytes(HostContext* cx, HostObject* obj, const char* name, const char* def) {
    duk_context* ctx = duk(cx);
    if (!readProperty(ctx, obj, name) || duk_is_undefined(ctx, -1)) return def;
    return bytesOfTop(ctx);
}

const HostChar* propertyAsChars(HostContext* cx, HostObject* obj, const char* name,
                                const HostChar* def) {
    duk_context* ctx = duk(cx);
    if (!readProperty(ctx, obj, name) || duk_is_undefined(ctx, -1)) return def;
    return charsOfTop(ctx);
}

HostValue newStringN(HostContext* cx, const char* bytes, size_t count) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushBytes(c, bytes ? bytes : "", bytes ? count : 0);
        return 1;
    });
    return ok ? box(ctx, -1) : HOST_UNDEFINED;
}

HostValue newString(HostContext* cx, const char* bytes, const HostChar* chars) {
    if (bytes) return newStringN(cx, bytes, strlen(bytes));
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        size_t n = 0;
        while (chars && chars[n])
            n++;
        pushChars(c, chars, n);
        return 1;
    });
    return ok ? box(ctx, -1) : HOST_UNDEFINED;
}

HostValue newNumber(HostContext*, double d) {
    return hostNumber(d);
}

// The values are kept in an array on the stack, which roots them for the native. An
// undefined value is left out: it would end the caller's list early.
HostValue* propertyValues(HostContext* cx, HostObject* obj) {
    duk_context* ctx = duk(cx);
    duk_uarridx_t count = 0;
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_push_array(c);
        pushObject(c, obj);
        duk_enum(c, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
        while (duk_next(c, -1, 1)) {
            if (duk_is_undefined(c, -1))
                duk_pop(c);
            else
                duk_put_prop_index(c, -5, count++);
            duk_pop(c);
        }
        duk_pop_2(c);
        return 1;
    });
    if (!ok) return nullptr;
    HostValue* out = static_cast<HostValue*>(duk_alloc(ctx, (count + 1) * sizeof(HostValue)));
    if (!out) return nullptr;
    for (duk_uarridx_t i = 0; i < count; i++) {
        duk_get_prop_index(ctx, -1, i);
        out[i] = box(ctx, -1);
        duk_pop(ctx);
    }
    out[count] = HOST_UNDEFINED;
    return out;
}

HostObject* getGlobal(HostContext* cx) {
    duk_context* ctx = duk(cx);
    if (!duk_check_stack(ctx, 1)) return nullptr;
    duk_push_global_object(ctx);
    void* p = duk_get_heapptr(ctx, -1);
    duk_pop(ctx);
    return static_cast<HostObject*>(p);
}

void reportError(HostContext* cx, const char* format, ...);

void* allocate(HostContext* cx, size_t size) {
    void* p = duk_alloc(duk(cx), size ? size : 1);
    if (!p) reportError(cx, "out of memory");
    return p;
}

void release(HostContext* cx, void* p) {
    duk_free(duk(cx), p);
}

HostObject* newArray(HostContext* cx, unsigned length, const HostValue* values) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_push_array(c);
        if (values) {
            for (unsigned i = 0; i < length; i++) {
                push(c, values[i]);
                duk_put_prop_index(c, -2, i);
            }
        } else {
            duk_push_uint(c, length);
            duk_put_prop_literal(c, -2, "length");
        }
        return 1;
    });
    return ok ? static_cast<HostObject*>(duk_get_heapptr(ctx, -1)) : nullptr;
}

// Whether obj or an object it inherits from has element index as an accessor with a
// setter: only then did script run when a write of it failed.
bool hasSetter(duk_context* ctx, HostObject* obj, unsigned index) {
    SlotMark before = slotMark();
    bool found = false;
    if (run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
            pushObject(c, obj);
            for (int hops = 0; hops < 10000 && duk_is_object(c, -1); hops++) {
                duk_push_uint(c, index);
                duk_get_prop_desc(c, -2, 0);
                if (duk_is_object(c, -1)) {
                    duk_get_prop_literal(c, -1, "set");
                    found = duk_is_function(c, -1);
                    return 0;
                }
                duk_pop(c);
                duk_get_prototype(c, -1);
                duk_remove(c, -2);
            }
            return 0;
        }))
        duk_pop(ctx);
    thread().pending = before.pending;
    thread().slotThrew = before.slotThrew;
    return found;
}

int setElement(HostContext* cx, HostObject* obj, unsigned index, HostValue* value) {
    duk_context* ctx = duk(cx);
    SlotMark before = slotMark();
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        push(c, value ? *value : HOST_UNDEFINED);
        duk_put_prop_index(c, -2, index);
        return 0;
    });
    if (ok)
        duk_pop(ctx);
    else if (!hasSetter(ctx, obj, index))
        refused(before); // read-only, frozen or not extensible: no script ran
    return ok;
}

int getElement(HostContext* cx, HostObject* obj, unsigned index, HostValue* value) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        duk_get_prop_index(c, -1, index);
        return 1;
    });
    if (value) *value = ok ? box(ctx, -1) : HOST_UNDEFINED;
    return ok;
}

int getArrayLength(HostContext* cx, HostObject* obj, unsigned* length) {
    duk_context* ctx = duk(cx);
    unsigned n = 0;
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        duk_get_prop_literal(c, -1, "length");
        n = duk_to_uint32(c, -1);
        return 0;
    });
    if (ok) duk_pop(ctx);
    if (length) *length = ok ? n : 0;
    return ok;
}

void reportError(HostContext* cx, const char* format, ...) {
    duk_context* ctx = duk(cx);
    va_list ap;
    va_start(ap, format);
    char small[256];
    std::string msg;
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n >= static_cast<int>(sizeof small)) {
        msg.resize(static_cast<size_t>(n) + 1);
        vsnprintf(&msg[0], msg.size(), format, ap);
        msg.resize(static_cast<size_t>(n));
    } else if (n >= 0) {
        msg.assign(small, static_cast<size_t>(n));
    }
    va_end(ap);
    if (run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
            duk_push_error_object_raw(c, DUK_ERR_ERROR | kNoBlame, nullptr, 0, "%s", "");
            pushBytes(c, msg.data(), msg.size());
            duk_put_prop_literal(c, -2, "message");
            return 1;
        }))
        setPending(ctx, -1);
}

} // namespace

void fillApi(ModuleApi* api) {
    *api = ModuleApi{
        getProperty,
        toBytes,
        toChars,
        toLength,
        toNumber,
        propertyAsNumber,
        propertyAsBytes,
        propertyAsChars,
        newString,
        newStringN,
        newNumber,
        evaluateScript,
        propertyValues,
        defineClass,
        newObject,
        getGlobal,
        allocate,
        release,
        newArray,
        setElement,
        getElement,
        getArrayLength,
        defineProperty,
        defineFunctions,
        setPrivate,
        getPrivate,
        reportError,
        requestBegin,
        requestSuspend,
        requestResume,
        requestEnd,
        [](HostContext* cx) -> int { return errorPending(cx); },
        collectGarbage,
        runOnNewContext,
        [](HostContext* cx, const char* text, size_t size, HostValue* out) -> int {
            return readLiteral(cx, text, size, out);
        },
        [](HostContext* cx, const char* text, size_t size, double firstPos, HostValue* out) -> int {
            return readDirectory(cx, text, size, firstPos, out);
        },
        compileScript,
        evaluateChars,
        compileChars,
        runCharsOnNewContext};
}

} // namespace engine
