/* The module interface table: the one header a native module needs.
 *
 * Every native that reaches the engine, built in or loaded at run time, does so through
 * the slots of ModuleApi (31 at first, 36 now). Slots are found by position, so the table
 * only ever grows at its end and no slot changes its arguments.
 *
 * Values cross as HostValue, one 64-bit word passed by value. A double stands for itself;
 * every other kind is a NaN pattern carrying a tag in its top 16 bits and a payload in
 * the low 48 bits (a boolean's 0 or 1, a string's or an object's engine reference).
 *
 * Rooting: every value a slot hands to a native stays alive at least until that native
 * returns; so do the texts that slots 1, 2, 6 and 7 return. A native that works in rounds
 * (suspend, blocking call, resume, make values, suspend again ...) keeps the values of one
 * round only until it suspends again; the values made before its first suspension (its
 * arguments included) live until it returns. Store what a later round needs in an object
 * made before the first suspension. Keep a value longer by storing it in a script-visible
 * object.
 *
 * Keeping pointers: a HostObject* is valid as long as the value it came from (above). The
 * global object (slot 15) and the prototype that slot 13 returns stay valid until the
 * process ends and may be kept in a module's variables; any other object must be kept
 * reachable from script (a property of such an object) for its pointer to stay valid.
 *
 * Values per call: one native call holds at most about a million values at once (the
 * engine's value stack; arguments and everything the slots handed it in the current
 * round count). Past that, a slot that makes or reads a value fails (null, undefined, 0,
 * NaN or the empty text); if the native then returns 0 the script gets RangeError "too
 * many values in one native call".
 *
 * Failing: a native calls reportError and returns 0; the host raises the error in the
 * calling script. A slot whose conversion or property read runs script that throws leaves
 * that exception pending; the host raises it when the native returns, whatever the native
 * returns. A slot that the engine refuses (22 on a permanent property or a non-extensible
 * object, 19 on a read-only element or a frozen array) returns 0 and leaves its TypeError
 * pending only for the case that the native fails: returning 1 leaves no exception. An
 * error that the native reported and then ignored by returning 1 is dropped. No engine
 * error ever unwinds a module's frames.
 *
 * Records: slots 24 and 25 reach the record of an instance of a class only from code of
 * that class: its constructor, finalizer, instance and static specs, and the functions
 * and accessors that slots 22 and 23 define on its prototype, its constructor or its
 * instances, or define while a native of the class runs. Every other native (slot 22 or
 * 23 on another object, from initModule for example) has no class and reaches no record.
 *
 * Deep recursion through natives (an evaluation that evaluates itself, a toString that
 * calls a native on its own object) ends in a catchable RangeError before the thread's C
 * stack runs out: the limit is the stack that the thread has left, not a count.
 *
 * Threads: every slot but 27 to 30 and 33 must be called inside a request on the context
 * that it is given. Suspend (28) before a blocking call, resume (29) with the saved depth
 * after it, and touch no value in between.
 */
#ifndef CAPSULE_MODULE_API_H
#define CAPSULE_MODULE_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t HostValue;
typedef uint16_t HostChar; /* one UTF-16 code unit: "wide text" */
typedef struct HostContext HostContext;
typedef struct HostObject HostObject;

/* A native: returns 1 on success, 0 to fail (with an error reported or pending). The
 * result slot starts as undefined. `self` is the `this` object, or null when `this` is
 * not an object (and for a constructor called without new). */
typedef int (*HostNative)(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                          HostValue* rval);
/* A class finalizer: called once when an object of the class is collected (also for
 * the class's prototype object, at teardown); getPrivate tells whether it holds a record.
 * It runs inside the collector, perhaps in the middle of another native's slot call, and
 * may call slots 17, 24 and 25 only: it makes no value, runs no script, reports nothing
 * and does not suspend. */
typedef void (*HostFinalizer)(HostContext* cx, HostObject* obj);

/* A function of an object or class; a table of them ends with a null name. */
typedef struct HostFunctionSpec {
    const char* name;
    HostNative call;
    uint16_t nargs; /* becomes the function's length */
    uint16_t flags; /* 0 */
    uint32_t extra; /* 0 */
} HostFunctionSpec;

/* An accessor property of a class; a table of them ends with a null name. The getter
 * receives no argument (argc 0) and sets *rval; the setter receives the new value as its
 * one argument (argc 1). */
typedef struct HostPropertySpec {
    const char* name;
    HostNative getter;
    HostNative setter; /* null: the property is read-only */
    unsigned attrs;    /* HOST_ATTR_* bits */
} HostPropertySpec;

/* Property attributes for defineProperty. HOST_ATTR_READONLY applies to data properties
 * only: an accessor is read-only when it has no setter, and the bit is ignored for it. */
#define HOST_ATTR_ENUMERATE 1u
#define HOST_ATTR_READONLY 2u
#define HOST_ATTR_PERMANENT 4u

/* The value word. */
#define HOST_TAG_SHIFT 48
#define HOST_PAYLOAD_MASK ((UINT64_C(1) << HOST_TAG_SHIFT) - 1)
#define HOST_TAG_UNDEFINED UINT64_C(0xFFF9)
#define HOST_TAG_NULL UINT64_C(0xFFFA)
#define HOST_TAG_BOOLEAN UINT64_C(0xFFFB)
#define HOST_TAG_STRING UINT64_C(0xFFFC)
#define HOST_TAG_OBJECT UINT64_C(0xFFFD)
#define HOST_UNDEFINED (HOST_TAG_UNDEFINED << HOST_TAG_SHIFT)
#define HOST_NULL (HOST_TAG_NULL << HOST_TAG_SHIFT)
#define HOST_FALSE (HOST_TAG_BOOLEAN << HOST_TAG_SHIFT)
#define HOST_TRUE (HOST_FALSE | 1u)

static inline uint64_t hostTag(HostValue v) {
    return v >> HOST_TAG_SHIFT;
}
static inline int hostIsNumber(HostValue v) {
    return hostTag(v) < HOST_TAG_UNDEFINED;
}
static inline int hostIsUndefined(HostValue v) {
    return v == HOST_UNDEFINED;
}
static inline int hostIsNull(HostValue v) {
    return v == HOST_NULL;
}
static inline int hostIsBoolean(HostValue v) {
    return hostTag(v) == HOST_TAG_BOOLEAN;
}
static inline int hostIsString(HostValue v) {
    return hostTag(v) == HOST_TAG_STRING;
}
static inline int hostIsObject(HostValue v) {
    return hostTag(v) == HOST_TAG_OBJECT;
}
static inline int hostToBoolean(HostValue v) {
    return (int)(v & 1u);
}
static inline HostValue hostBoolean(int b) {
    return b ? HOST_TRUE : HOST_FALSE;
}
static inline double hostToDouble(HostValue v) {
    union {
        uint64_t u;
        double d;
    } x;
    x.u = v;
    return x.d;
}
/* Any NaN becomes the one canonical NaN, so that no double is mistaken for a tag. */
static inline HostValue hostNumber(double d) {
    union {
        uint64_t u;
        double d;
    } x;
    x.d = d;
    if (d != d) x.u = UINT64_C(0x7FF8000000000000);
    return x.u;
}
static inline HostObject* hostToObject(HostValue v) {
    return hostIsObject(v) ? (HostObject*)(uintptr_t)(v & HOST_PAYLOAD_MASK) : (HostObject*)0;
}
static inline HostValue hostObject(HostObject* o) {
    return o ? ((HOST_TAG_OBJECT << HOST_TAG_SHIFT) | (HostValue)(uintptr_t)o) : HOST_NULL;
}

/* The table. One line each: what the slot does, and what it gives for the odd cases. */
typedef struct ModuleApi {
    /* 0: reads obj[name]; a missing property or a failed read gives undefined. */
    HostValue (*getProperty)(HostContext* cx, HostObject* obj, const char* name);
    /* 1: String(v) as narrow text (each UTF-16 unit cut to its low byte), NUL-terminated. */
    const char* (*toBytes)(HostContext* cx, HostValue v);
    /* 2: String(v) as NUL-terminated UTF-16 (lone surrogates kept). */
    const HostChar* (*toChars)(HostContext* cx, HostValue v);
    /* 3: the length of String(v) in UTF-16 units. */
    int (*toLength)(HostContext* cx, HostValue v);
    /* 4: Number(v); NaN for what does not convert. */
    double (*toNumber)(HostContext* cx, HostValue v);
    /* 5: obj[name] as by slot 4, or the default when it is undefined or missing. */
    double (*propertyAsNumber)(HostContext* cx, HostObject* obj, const char* name, double def);
    /* 6: obj[name] as by slot 1, or the default pointer (null allowed) when undefined. */
    const char* (*propertyAsBytes)(HostContext* cx, HostObject* obj, const char* name,
                                   const char* def);
    /* 7: obj[name] as by slot 2, or the default pointer (null allowed) when undefined. */
    const HostChar* (*propertyAsChars)(HostContext* cx, HostObject* obj, const char* name,
                                       const HostChar* def);
    /* 8: a string from narrow text (one character per byte) if given, else from wide
     * text, else the empty string. */
    HostValue (*newString)(HostContext* cx, const char* bytes, const HostChar* chars);
    /* 9: a string of exactly count bytes, one character per byte, NULs included. */
    HostValue (*newStringN)(HostContext* cx, const char* bytes, size_t count);
    /* 10: a number. */
    HostValue (*newNumber)(HostContext* cx, double d);
    /* 11: evaluates narrow source text as global code under fileName from line 1, inside
     * the fault guard; null cx means the calling thread's context. Returns 1 and the
     * completion value in *result, or 0: the error then goes to the calling script
     * (nested: pending, raised if the native returns 0, dropped if it returns 1) or to
     * the error reporter (no script beneath). */
    int (*evaluateScript)(HostContext* cx, const char* fileName, const char* source,
                          HostValue* result);
    /* 12: the values of obj's own enumerable properties in enumeration order, leaving
     * out those whose value is undefined, then undefined; free with release. Null on
     * failure (a getter that throws, no memory). */
    HostValue* (*propertyValues)(HostContext* cx, HostObject* obj);
    /* 13: makes the class `name` (the text must outlive the process) with private data,
     * registers its constructor on the global object and returns its prototype (null on
     * failure); the prototype lives until the process ends. Instance specs go on the
     * prototype, static specs on the constructor; any table may be null. The constructor
     * runs with self = the new instance, or with self null when called without new. */
    HostObject* (*defineClass)(HostContext* cx, const char* name, HostNative constructor,
                               unsigned nargs, const HostPropertySpec* props,
                               const HostFunctionSpec* fns, const HostPropertySpec* staticProps,
                               const HostFunctionSpec* staticFns, HostFinalizer finalizer);
    /* 14: with a class prototype, a new instance of that class; with another object, a
     * plain object inheriting from it; with null, a new plain object. */
    HostObject* (*newObject)(HostContext* cx, HostObject* proto);
    /* 15: the global object. */
    HostObject* (*getGlobal)(HostContext* cx);
    /* 16: engine memory (size 0 is taken as 1); null with an error reported when the heap
     * limit is reached. */
    void* (*allocate)(HostContext* cx, size_t size);
    /* 17: frees memory from slots 12 and 16; null is allowed. */
    void (*release)(HostContext* cx, void* p);
    /* 18: a new array of length elements, taken from values when it is not null. */
    HostObject* (*newArray)(HostContext* cx, unsigned length, const HostValue* values);
    /* 19: obj[index] = *value; 0 if the write is refused or a setter throws. */
    int (*setElement)(HostContext* cx, HostObject* obj, unsigned index, HostValue* value);
    /* 20: *value = obj[index]; 0 if the read throws. */
    int (*getElement)(HostContext* cx, HostObject* obj, unsigned index, HostValue* value);
    /* 21: *length = obj.length as an unsigned 32-bit number; 0 if the read throws. */
    int (*getArrayLength)(HostContext* cx, HostObject* obj, unsigned* length);
    /* 22: defines obj[name] as a data property with HOST_ATTR_* bits, or as an accessor
     * when a getter or setter is given (getter argc 0, setter argc 1, as in a
     * HostPropertySpec); 0 if the definition is refused. */
    int (*defineProperty)(HostContext* cx, HostObject* obj, const char* name, HostValue value,
                          HostNative getter, HostNative setter, unsigned attrs);
    /* 23: defines the functions of a function table on obj: writable, deletable, not
     * enumerable; they belong to a class as told under Records above. */
    int (*defineFunctions)(HostContext* cx, HostObject* obj, const HostFunctionSpec* fns);
    /* 24: attaches a record to an instance of a class; 0 for any other object, and for
     * an instance of a class other than the calling native's (see Records above). */
    int (*setPrivate)(HostContext* cx, HostObject* obj, void* data);
    /* 25: the record of an instance of a class; null for any other object, and for an
     * instance of a class other than the calling native's. */
    void* (*getPrivate)(HostContext* cx, HostObject* obj);
    /* 26: records an Error with the printf-formatted message, blamed on the calling
     * script's file and line; the host throws it when the native returns 0. */
    void (*reportError)(HostContext* cx, const char* format, ...);
    /* 27: enters the engine (re-entrant per thread). */
    void (*beginRequest)(HostContext* cx);
    /* 28: leaves every request level of this thread; returns the depth to restore. */
    int (*suspendRequest)(HostContext* cx);
    /* 29: re-enters the engine with the depth that slot 28 returned. */
    void (*resumeRequest)(HostContext* cx, int depth);
    /* 30: leaves one request level. */
    void (*endRequest)(HostContext* cx);
    /* 31: 1 when the running native has an error pending (reported, or left by a
     * conversion, a property read or an evaluation that threw), which returning 0 raises. */
    int (*errorPending)(HostContext* cx);
    /* 32: a full garbage collection, run twice: the first pass runs finalizers, the second
     * frees what they released. */
    void (*collectGarbage)(HostContext* cx);
    /* 33: evaluates narrow source text as global code under fileName on the calling OS
     * thread, which holds no request and has no context: on a context made for the call
     * (sharing the global object) inside a request, dropped afterwards under the fault
     * guard; an error goes to the error reporter. Called outside any request. */
    void (*runOnNewContext)(const char* fileName, const char* source);
    /* 34: builds the value of literal text in the forms that uneval writes (objects,
     * arrays, strings, numbers, booleans, null, in parentheses or not) as evaluating it
     * would, without compiling or running anything; 0, with nothing reported, for any
     * other text, which the caller may then evaluate (slot 11). */
    int (*readLiteral)(HostContext* cx, const char* text, size_t size, HostValue* out);
    /* 35: a package directory (an object literal of one entry object per packed file),
     * read as by slot 34, each entry given a read-only enumerable `pos` on the way:
     * firstPos for the first entry in the text, then the previous pos plus the previous
     * entry's csize (as a 32-bit integer). Every name is the object's own, "__proto__"
     * too. 0 for a text that needs slot 34, or whose names would enumerate out of the
     * text's order; the caller then places the entries itself. */
    int (*readDirectory)(HostContext* cx, const char* text, size_t size, double firstPos,
                         HostValue* out);
    /* 36: compiles narrow source text as global code under fileName as slot 11 does (the
     * translator, then the engine's compiler) and runs nothing: 1 when it compiles, else 0
     * with the compile error passed on as slot 11 passes an evaluation's. */
    int (*compileScript)(HostContext* cx, const char* fileName, const char* source);
    /* 37: slot 11 for wide source text of count UTF-16 units: every character reaches the
     * compiler whole (NULs and lone surrogates included), as the script's eval sees it. */
    int (*evaluateChars)(HostContext* cx, const char* fileName, const HostChar* source,
                         size_t count, HostValue* result);
    /* 38: slot 36 for wide source text, as slot 37 takes it. */
    int (*compileChars)(HostContext* cx, const char* fileName, const HostChar* source,
                        size_t count);
    /* 39: slot 33 for wide source text, as slot 37 takes it. */
    void (*runCharsOnNewContext)(const char* fileName, const HostChar* source, size_t count);
} ModuleApi;

/* Marks initModule for export from a module library built with hidden visibility. */
#if defined(_WIN32)
#define HOST_MODULE_EXPORT __declspec(dllexport)
#else
#define HOST_MODULE_EXPORT __attribute__((visibility("default")))
#endif

/* What a module library exports (C linkage): register names, keep `api`, return. An
 * error it reports (or a conversion's exception left pending) becomes an exception of
 * the System.loadModule call that loaded it. */
typedef void (*HostModuleInit)(HostContext* cx, const ModuleApi* api);

#ifdef __cplusplus
}
#endif

#endif
