// Native functions and classes with private data: the trampolines that call host natives,
// the registry behind them, and the table's slots that make functions, classes, instances
// and records.
#include "core/engine/internal.h"

#include "core/engine/text.h"

#include <string.h>

namespace engine {

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

// The owner a running native of no class finds on its thread: it matches no class, so
// such a native reads and replaces no record. Host code outside any native has owner null.
const ClassInfo kNoClass = {"", nullptr};

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
        ts.owner = cls ? cls : &kNoClass;
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

// maxArgs: how many arguments the native gets at most (an accessor's key, which the
// engine passes too, is not among them); -1 for all.
duk_ret_t invoke(duk_context* ctx, const NativeEntry& e, bool constructor, duk_idx_t maxArgs) {
    duk_idx_t argc = duk_get_top(ctx);
    if (maxArgs >= 0 && argc > maxArgs) argc = maxArgs;
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
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], false, -1);
}

duk_ret_t constructNative(duk_context* ctx) {
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], true, -1);
}

// Accessors: the getter gets no argument, the setter the new value only.
duk_ret_t callGetter(duk_context* ctx) {
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], false, 0);
}

duk_ret_t callSetter(duk_context* ctx) {
    return invoke(ctx, gNatives[duk_get_current_magic(ctx)], false, 1);
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
        pushFunction(ctx, props->name, callGetter, props->getter, 0, owner);
        if (props->setter) {
            pushFunction(ctx, props->name, callSetter, props->setter, 1, owner);
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

// The class that natives defined on the object at idx belong to: the class of a prototype
// or instance, or of a constructor; else that of the running native (none outside one).
static const ClassInfo* ownerFor(duk_context* ctx, duk_idx_t idx) {
    const ClassInfo* cls = classOf(ctx, idx);
    if (!cls) {
        duk_get_prop_literal(ctx, idx, ENGINE_KEY_CTOR_CLASS);
        cls = static_cast<const ClassInfo*>(duk_get_pointer(ctx, -1));
        duk_pop(ctx);
    }
    const ClassInfo* running = thread().owner;
    return cls ? cls : running == &kNoClass ? nullptr : running;
}

// ---- the slots that make functions, classes and records --------------------------------

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
        duk_push_pointer(c, cls);
        duk_put_prop_literal(c, -2, ENGINE_KEY_CTOR_CLASS);
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
        // The prototype lives as long as the process, so that a module may keep it for
        // newObject even after scripts drop the constructor.
        duk_push_heap_stash(c);
        duk_get_prop_literal(c, -1, ENGINE_KEY_PROTOTYPES);
        if (!duk_is_array(c, -1)) {
            duk_pop(c);
            duk_push_array(c);
            duk_dup_top(c);
            duk_put_prop_literal(c, -3, ENGINE_KEY_PROTOTYPES);
        }
        duk_dup(c, -3);
        duk_put_prop_index(c, -2, static_cast<duk_uarridx_t>(duk_get_length(c, -2)));
        duk_pop_2(c);
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

int defineProperty(HostContext* cx, HostObject* obj, const char* name, HostValue value,
                   HostNative getter, HostNative setter, unsigned attrs) {
    duk_context* ctx = duk(cx);
    SlotMark before = slotMark(); // no script runs: a failure is a refusal
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        pushName(c, name);
        bool accessor = getter || setter;
        duk_uint_t flags = defineFlags(attrs, accessor);
        if (accessor) {
            const ClassInfo* owner = ownerFor(c, -2);
            if (getter) {
                pushFunction(c, name, callGetter, getter, 0, owner);
                flags |= DUK_DEFPROP_HAVE_GETTER;
            }
            if (setter) {
                pushFunction(c, name, callSetter, setter, 1, owner);
                flags |= DUK_DEFPROP_HAVE_SETTER;
            }
        } else {
            push(c, value);
        }
        duk_def_prop(c, -3 - (accessor && getter && setter ? 1 : 0), flags);
        return 0;
    });
    if (ok)
        duk_pop(ctx);
    else
        refused(before);
    return ok;
}

int defineFunctions(HostContext* cx, HostObject* obj, const HostFunctionSpec* fns) {
    duk_context* ctx = duk(cx);
    bool ok = run(ctx, 1, [&](duk_context* c) -> duk_ret_t {
        pushObject(c, obj);
        defineSpecs(c, -1, fns, nullptr, ownerFor(c, -1));
        return 0;
    });
    if (ok) duk_pop(ctx);
    return ok;
}

// A record goes only onto an instance of a class, and from inside a native only of that
// native's own class, so that a method applied to a foreign object, or a native of no
// class at all, never reads or replaces another class's record. Host code outside any
// native (start-up, teardown) reaches every record.
static bool ownsRecord(duk_context* ctx, duk_idx_t idx) {
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

} // namespace engine
