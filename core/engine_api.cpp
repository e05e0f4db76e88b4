// The module interface table: slots 0 to 30 over the engine, the native-function
// trampolines and the classes with private data.
#include "core/engine_internal.h"

#include "core/engine_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <type_traits>

namespace engine {

// ---- the value word ----------------------------------------------------------------

static HostValue tagged(uint64_t tag, void* p) {
    return (tag << HOST_TAG_SHIFT) | static_cast<HostValue>(reinterpret_cast<uintptr_t>(p));
}

HostValue box(duk_context* ctx, duk_idx_t idx) {
    switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_NUMBER:
        return hostNumber(duk_get_number(ctx, idx));
    case DUK_TYPE_STRING:
        return tagged(HOST_TAG_STRING, duk_get_heapptr(ctx, idx));
    case DUK_TYPE_OBJECT:
        return tagged(HOST_TAG_OBJECT, duk_get_heapptr(ctx, idx));
    case DUK_TYPE_BOOLEAN:
        return hostBoolean(duk_get_boolean(ctx, idx));
    case DUK_TYPE_NULL:
        return HOST_NULL;
    case DUK_TYPE_BUFFER:
    case DUK_TYPE_LIGHTFUNC:
        duk_to_object(ctx, idx); // their object forms are what scripts see
        return tagged(HOST_TAG_OBJECT, duk_get_heapptr(ctx, idx));
    default:
        return HOST_UNDEFINED;
    }
}

void push(duk_context* ctx, HostValue v) {
    switch (hostTag(v)) {
    case HOST_TAG_UNDEFINED:
        duk_push_undefined(ctx);
        return;
    case HOST_TAG_NULL:
        duk_push_null(ctx);
        return;
    case HOST_TAG_BOOLEAN:
        duk_push_boolean(ctx, hostToBoolean(v));
        return;
    case HOST_TAG_STRING:
    case HOST_TAG_OBJECT:
        duk_push_heapptr(ctx,
                         reinterpret_cast<void*>(static_cast<uintptr_t>(v & HOST_PAYLOAD_MASK)));
        return;
    default:
        duk_push_number(ctx, hostToDouble(v));
    }
}

// ---- protected engine work -----------------------------------------------------------

void setPending(duk_context* ctx, duk_idx_t idx) {
    thread().pending = duk_normalize_index(ctx, idx);
}

bool protect(duk_context* ctx, int nrets, duk_ret_t (*f)(duk_context*, void*), void* udata) {
    if (!duk_check_stack(ctx, nrets + 4)) {
        thread().stackFull = true;
        return false;
    }
    if (duk_safe_call(ctx, f, udata, 0, nrets) == DUK_EXEC_SUCCESS) return true;
    setPending(ctx, -nrets);
    thread().slotThrew = true;
    return false;
}

// Runs a lambda (duk_context*) -> duk_ret_t under protect().
template <class F> static bool run(duk_context* ctx, int nrets, F&& f) {
    using Fn = std::remove_reference_t<F>;
    return protect(
        ctx, nrets,
        [](duk_context* c, void* ud) -> duk_ret_t { return (*static_cast<Fn*>(ud))(c); }, &f);
}

[[noreturn]] void raisePending(duk_context* ctx) {
    int p = thread().pending;
    if (p >= 0 && p < duk_get_top(ctx)) {
        duk_dup(ctx, p);
        duk_throw(ctx);
    }
    if (thread().stackFull)
        duk_error_raw(ctx, DUK_ERR_RANGE_ERROR | kNoBlame, nullptr, 0,
                      "too many values in one native call");
    duk_error_raw(ctx, DUK_ERR_ERROR | kNoBlame, nullptr, 0, "native function failed");
    __builtin_unreachable();
}

static void pushName(duk_context* ctx, const char* name) {
    pushBytes(ctx, name, strlen(name));
}

// ---- natives and classes ---------------------------------------------------------------

namespace {
struct NativeEntry {
    HostNative fn;
    const ClassInfo* owner;
};
constexpr int kMaxNatives = 32767;
NativeEntry* gNatives = new NativeEntry[kMaxNatives]; // kept for the process's life
int gNativeCount = 0;
const ClassInfo** gClasses = new const ClassInfo*[kMaxNatives];
int gClassCount = 0;

int nativeIndex(HostNative fn, const ClassInfo* owner) {
    for (int i = 0; i < gNativeCount; i++)
        if (gNatives[i].fn == fn && gNatives[i].owner == owner) return i;
    if (gNativeCount == kMaxNatives) return -1;
    gNatives[gNativeCount] = {fn, owner};
    return gNativeCount++;
}

int classIndex(const ClassInfo* cls) {
    for (int i = 0; i < gClassCount; i++)
        if (gClasses[i] == cls) return i;
    gClasses[gClassCount] = cls;
    return gClassCount++;
}

// What a native finds on its thread while it runs; restored on return and on unwinding.
struct NativeScope {
    ThreadState& ts;
    int pending, resumeMark;
    bool stackFull, slotThrew;
    const ClassInfo* owner;
    NativeScope(const ClassInfo* cls)
        : ts(thread()), pending(ts.pending), resumeMark(ts.resumeMark), stackFull(ts.stackFull),
          slotThrew(ts.slotThrew), owner(ts.owner) {
        ts.pending = -1;
        ts.resumeMark = -1;
        ts.stackFull = false;
        ts.slotThrew = false;
        ts.owner = cls;
    }
    ~NativeScope() {
        ts.pending = pending;
        ts.resumeMark = resumeMark;
        ts.stackFull = stackFull;
        ts.slotThrew = slotThrew;
        ts.owner = owner;
    }
};

// An instance also holds its own address: hidden properties are inherited like any
// other, and an object made with Object.create(instance) must not pass for the instance.
#define ENGINE_KEY_SELF DUK_HIDDEN_SYMBOL("self")

void markInstance(duk_context* ctx, duk_idx_t idx, const ClassInfo* cls) {
    idx = duk_normalize_index(ctx, idx);
    duk_push_pointer(ctx, const_cast<ClassInfo*>(cls));
    duk_put_prop_literal(ctx, idx, ENGINE_KEY_CLASS);
    duk_push_pointer(ctx, nullptr);
    duk_put_prop_literal(ctx, idx, ENGINE_KEY_PRIVATE);
    duk_push_pointer(ctx, duk_get_heapptr(ctx, idx));
    duk_put_prop_literal(ctx, idx, ENGINE_KEY_SELF);
}

const ClassInfo* classOf(duk_context* ctx, duk_idx_t idx) {
    duk_get_prop_literal(ctx, idx, ENGINE_KEY_CLASS);
    const ClassInfo* cls = static_cast<const ClassInfo*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return cls;
}

// The class of the object at idx when it is itself an instance, else null.
const ClassInfo* instanceClassOf(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    duk_get_prop_literal(ctx, idx, ENGINE_KEY_SELF);
    bool own = duk_get_pointer(ctx, -1) == duk_get_heapptr(ctx, idx);
    duk_pop(ctx);
    return own ? classOf(ctx, idx) : nullptr;
}

duk_ret_t invoke(duk_context* ctx, const NativeEntry& e, bool constructor) {
    duk_idx_t argc = duk_get_top(ctx);
    HostValue local[8];
    HostValue* argv = local;
    if (argc > 8)
        argv = static_cast<HostValue*>(duk_push_fixed_buffer(ctx, argc * sizeof(HostValue)));
    for (duk_idx_t i = 0; i < argc; i++)
        argv[i] = box(ctx, i);
    duk_push_this(ctx);
    HostObject* self = nullptr;
    // A constructor called without `new` has no instance to work on: self stays null, so
    // that it cannot put a record onto `this` (an existing instance or the prototype).
    bool constructing = constructor && duk_is_constructor_call(ctx);
    if (duk_is_object(ctx, -1) && constructor == constructing) {
        if (constructing) markInstance(ctx, -1, e.owner);
        self = static_cast<HostObject*>(duk_get_heapptr(ctx, -1));
    }
    HostValue rval = HOST_UNDEFINED;
    NativeScope scope(e.owner);
    if (!e.fn) return 0;
    // A failed native raises what is pending. So does one that succeeded after a slot's
    // conversion or property read threw: script code it ran failed, and that failure is
    // the caller's to see. An error it reported and chose to ignore is dropped.
    bool ok = e.fn(host(ctx), self, static_cast<unsigned>(argc), argv, &rval);
    if (!ok || (scope.ts.slotThrew && scope.ts.pending >= 0)) raisePending(ctx);
    // A constructor's instance is `this` unless it returns another object.
    if (constructor && !hostIsObject(rval)) return 0;
    push(ctx, rval);
    return 1;
}

duk_ret_t callNative(duk_context* ctx) {
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], false);
}

duk_ret_t constructNative(duk_context* ctx) {
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], true);
}

duk_ret_t finalizeNative(duk_context* ctx) {
    const ClassInfo* cls = gClasses[duk_get_current_magic(ctx)];
    if (!cls->finalizer || !duk_is_object(ctx, 0)) return 0;
    NativeScope scope(cls);
    cls->finalizer(host(ctx), static_cast<HostObject*>(duk_get_heapptr(ctx, 0)));
    return 0;
}

void pushFunction(duk_context* ctx, const char* name, duk_c_function trampoline, HostNative fn,
                  unsigned nargs, const ClassInfo* owner) {
    int idx = nativeIndex(fn, owner);
    if (idx < 0) duk_error_raw(ctx, DUK_ERR_RANGE_ERROR, nullptr, 0, "too many native functions");
    duk_push_c_function(ctx, trampoline, DUK_VARARGS);
    duk_set_magic(ctx, -1, idx);
    duk_push_literal(ctx, "length");
    duk_push_uint(ctx, nargs);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    if (name) {
        duk_push_literal(ctx, "name");
        pushName(ctx, name);
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    }
}

// Attribute bits of the table -> engine definition flags.
duk_uint_t defineFlags(unsigned attrs, bool accessor) {
    duk_uint_t flags = DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE;
    if (attrs & HOST_ATTR_ENUMERATE) flags |= DUK_DEFPROP_ENUMERABLE;
    if (!(attrs & HOST_ATTR_PERMANENT)) flags |= DUK_DEFPROP_CONFIGURABLE;
    if (!accessor) {
        flags |= DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE;
        if (!(attrs & HOST_ATTR_READONLY)) flags |= DUK_DEFPROP_WRITABLE;
    }
    return flags;
}

void defineSpecs(duk_context* ctx, duk_idx_t obj, const HostFunctionSpec* fns,
                 const HostPropertySpec* props, const ClassInfo* owner) {
    obj = duk_normalize_index(ctx, obj);
    for (; fns && fns->name; fns++) {
        pushName(ctx, fns->name);
        pushFunction(ctx, fns->name, callNative, fns->call, fns->nargs, owner);
        duk_def_prop(ctx, obj,
                     DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                         DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    }
    for (; props && props->name; props++) {
        duk_uint_t flags = defineFlags(props->attrs, true) | DUK_DEFPROP_HAVE_GETTER;
        pushName(ctx, props->name);
        pushFunction(ctx, props->name, callNative, props->getter, 0, owner);
        if (props->setter) {
            pushFunction(ctx, props->name, callNative, props->setter, 1, owner);
            flags |= DUK_DEFPROP_HAVE_SETTER;
        }
        duk_def_prop(ctx, obj, flags);
    }
}
} // namespace

void pushNative(duk_context* ctx, const char* name, HostNative fn, unsigned nargs,
                const ClassInfo* owner) {
    pushFunction(ctx, name, callNative, fn, nargs, owner);
}

// ---- the slots -------------------------------------------------------------------------

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

// The values are kept in an array on the stack, which roots them for the native.
HostValue* propertyValues(HostContext* cx, HostObject* obj) {
    duk_context* ctx = duk(cx);
    duk_uarridx_t count = 0;
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_push_array(c);
        pushObject(c, obj);
        duk_enum(c, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
        while (duk_next(c, -1, 1)) {
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

HostObject* defineClass(HostContext* cx, const char* name, HostNative constructor, unsigned nargs,
                        const HostPropertySpec* props, const HostFunctionSpec* fns,
                        const HostPropertySpec* staticProps, const HostFunctionSpec* staticFns,
                        HostFinalizer finalizer) {
    duk_context* ctx = duk(cx);
    if (!name) return nullptr;
    ClassInfo* cls = new ClassInfo{name, finalizer}; // lives as long as the process
    HostObject* proto = nullptr;
    run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_push_global_object(c);
        pushFunction(c, name, constructNative, constructor, nargs, cls);
        duk_push_object(c); // the prototype: [global ctor proto]
        duk_push_pointer(c, cls);
        duk_put_prop_literal(c, -2, ENGINE_KEY_CLASS);
        duk_push_c_function(c, finalizeNative, 2);
        duk_set_magic(c, -1, classIndex(cls));
        duk_set_finalizer(c, -2);
        defineSpecs(c, -1, fns, props, cls);
        defineSpecs(c, -2, staticFns, staticProps, cls);
        duk_push_literal(c, "prototype");
        duk_dup(c, -2);
        duk_def_prop(c, -4,
                     DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_HAVE_WRITABLE |
                         DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE);
        duk_push_literal(c, "constructor");
        duk_dup(c, -3);
        duk_def_prop(c, -3,
                     DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                         DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
        pushName(c, name);
        duk_dup(c, -3);
        duk_def_prop(c, -5,
                     DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                         DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
        proto = static_cast<HostObject*>(duk_get_heapptr(c, -1));
        return 1; // the prototype stays on the stack
    });
    return proto;
}

HostObject* newObject(HostContext* cx, HostObject* proto) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        duk_push_object(c);
        if (proto) {
            pushObject(c, proto);
            const ClassInfo* cls = classOf(c, -1);
            duk_set_prototype(c, -2);
            if (cls) markInstance(c, -1, cls);
        }
        return 1;
    });
    return ok ? static_cast<HostObject*>(duk_get_heapptr(ctx, -1)) : nullptr;
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

int setElement(HostContext* cx, HostObject* obj, unsigned index, HostValue* value) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        push(c, value ? *value : HOST_UNDEFINED);
        duk_put_prop_index(c, -2, index);
        return 0;
    });
    if (ok) duk_pop(ctx);
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

int defineProperty(HostContext* cx, HostObject* obj, const char* name, HostValue value,
                   HostNative getter, HostNative setter, unsigned attrs) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        pushName(c, name);
        bool accessor = getter || setter;
        duk_uint_t flags = defineFlags(attrs, accessor);
        if (accessor) {
            if (getter) {
                pushNative(c, name, getter, 0, nullptr);
                flags |= DUK_DEFPROP_HAVE_GETTER;
            }
            if (setter) {
                pushNative(c, name, setter, 1, nullptr);
                flags |= DUK_DEFPROP_HAVE_SETTER;
            }
        } else {
            push(c, value);
        }
        duk_def_prop(c, -3 - (accessor && getter && setter ? 1 : 0), flags);
        return 0;
    });
    if (ok) duk_pop(ctx);
    return ok;
}

int defineFunctions(HostContext* cx, HostObject* obj, const HostFunctionSpec* fns) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        defineSpecs(c, -1, fns, nullptr, nullptr);
        return 0;
    });
    if (ok) duk_pop(ctx);
    return ok;
}

// A record goes only onto an instance of a class, and only of the running native's class
// when it belongs to one, so that a method applied to a foreign object never reads or
// replaces another class's record.
bool ownsRecord(duk_context* ctx, duk_idx_t idx) {
    const ClassInfo* cls = instanceClassOf(ctx, idx);
    const ClassInfo* owner = thread().owner;
    return cls && (!owner || owner == cls);
}

int setPrivate(HostContext* cx, HostObject* obj, void* data) {
    duk_context* ctx = duk(cx);
    if (!obj || !duk_check_stack(ctx, 2)) return 0;
    pushObject(ctx, obj);
    bool ok = ownsRecord(ctx, -1);
    if (ok) {
        duk_push_pointer(ctx, data);
        duk_put_prop_literal(ctx, -2, ENGINE_KEY_PRIVATE);
    }
    duk_pop(ctx);
    return ok;
}

void* getPrivate(HostContext* cx, HostObject* obj) {
    duk_context* ctx = duk(cx);
    if (!obj || !duk_check_stack(ctx, 2)) return nullptr;
    pushObject(ctx, obj);
    void* data = nullptr;
    if (ownsRecord(ctx, -1)) {
        duk_get_prop_literal(ctx, -1, ENGINE_KEY_PRIVATE);
        data = duk_get_pointer(ctx, -1);
        duk_pop(ctx);
    }
    duk_pop(ctx);
    return data;
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
    *api = ModuleApi{getProperty,    toBytes,          toChars,         toLength,
                     toNumber,       propertyAsNumber, propertyAsBytes, propertyAsChars,
                     newString,      newStringN,       newNumber,       evaluateScript,
                     propertyValues, defineClass,      newObject,       getGlobal,
                     allocate,       release,          newArray,        setElement,
                     getElement,     getArrayLength,   defineProperty,  defineFunctions,
                     setPrivate,     getPrivate,       reportError,     requestBegin,
                     requestSuspend, requestResume,    requestEnd};
}

} // namespace engine
