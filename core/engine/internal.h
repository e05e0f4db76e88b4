// The engine host's inside: Duktape's API and the helpers shared by the files of
// core/engine/. The engine bindings (core/lang/ and core/xml/binding/), which are written
// against Duktape's API, include it too; nothing else does.
#ifndef CAPSULE_ENGINE_INTERNAL_H
#define CAPSULE_ENGINE_INTERNAL_H

#include "core/engine/engine.h"
#include "duktape.h"

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <type_traits>

// Runs the finalizer of every object that still has one and frees nothing
// (core/engine/duktape/unit.cpp); the heap is unusable afterwards.
void duk_host_run_all_finalizers(duk_context* ctx);
// Pushes a new plain object with room for `size` properties (core/engine/duktape/unit.cpp).
void duk_host_push_object_sized(duk_context* ctx, duk_uint32_t size);
// Defines name (at -2) = value (at -1) on a plain object the caller just made, as an object
// literal does (enumerable, configurable; writable if asked), and pops both; true when the
// name was new on the object.
duk_bool_t duk_host_define_member(duk_context* ctx, duk_idx_t objIdx, duk_bool_t writable);
// Defines the name at -1 on the object at objIdx as a configurable, non-enumerable accessor
// with the functions at getterIdx and setterIdx, and pops the name.
void duk_host_define_accessor(duk_context* ctx, duk_idx_t objIdx, duk_idx_t getterIdx,
                              duk_idx_t setterIdx);
// Makes room in the object at idx for n more properties.
void duk_host_reserve_entries(duk_context* ctx, duk_idx_t idx, duk_uint32_t n);

// Throws InternalError with the message (core/engine/duktape/internal_error.cpp): the
// error of a task past the engine's limits, such as a regular expression too complex.
[[noreturn]] void duk_host_throw_internal_error(duk_context* ctx, const char* message);

// "Math" or "JSON" for those built-in objects, nullptr for any other value.
const char* duk_host_namespace_name(duk_context* ctx, duk_idx_t idx);

// Pushes the text of the function at idx (core/engine/duktape/function_text.cpp): its source as
// compiled, in parentheses for toSource when it is a function expression (forSource), or
// "function name() {\n    [native code]\n}"; false (nothing pushed) for a non-function.
duk_bool_t duk_host_push_function_text(duk_context* ctx, duk_idx_t idx, duk_bool_t forSource);
// The source line that an error raised in eval code ran (core/engine/duktape/error_stack.cpp):
// pushed, with true, when the error names the line of its first script frame and that
// frame's function is eval code or the Function constructor's, whose text is its own.
duk_bool_t duk_host_push_error_line(duk_context* ctx, duk_idx_t err);
// Swaps the source texts that the compiled function at fnIdx (and each function inside
// it) keeps for their index in the array at textsIdx, appending new ones (toIndex), or
// back (core/engine/duktape/function_text.cpp).
void duk_host_swap_function_texts(duk_context* ctx, duk_idx_t fnIdx, duk_idx_t textsIdx,
                                  duk_bool_t toIndex);

// The prototype of the errors that the engine raises as InternalError (too much recursion,
// out of memory), kept for the heap's life (core/engine/duktape/error_texts.cpp).
void duk_host_set_internal_error(duk_context* ctx, duk_idx_t protoIdx);
// An evaluation running on this thread, from its begin to its end (innermost first): the
// text (UTF-8) of a script whose program function keeps none, for the lines that its errors
// quote (core/engine/duktape/error_texts.cpp).
struct duk_host_evaluation {
    void* fileName; // the script's name, the string its functions have as fileName
    const char* text;
    size_t size;
    duk_host_evaluation* outer;
};
void duk_host_begin_evaluation(duk_host_evaluation* e);
void duk_host_end_evaluation(duk_host_evaluation* e);

// for-in as the script language has it (core/engine/duktape/forin.cpp, run by the engine's for-in):
// [... obj] -> [... enumerator], where flags are kEnum* below; an object with __iterator__
// is iterated by what that method returns unless kEnumNoHook.
void duk_host_enum_create(duk_context* ctx, duk_small_uint_t flags);
// [... enumerator] -> [... key or value] and true, or [...] and false at the end.
duk_bool_t duk_host_enum_next(duk_context* ctx);
// __lang.each(v): the marker whose for-in gives the values of v.
duk_ret_t duk_host_each(duk_context* ctx);

// RegExp.prototype.compile(source, flags), a native (core/engine/duktape/regexp_call.cpp).
duk_ret_t duk_host_regexp_compile(duk_context* ctx);
// Frees the calling thread's backtracking stack (core/engine/duktape/regexp.cpp).
void duk_host_regexp_release(void);

// Whether the function fn is on the call stack of the context (core/engine/duktape/unit.cpp).
duk_bool_t duk_host_on_call_stack(duk_context* ctx, void* fn);

// E4X support in the engine (core/engine/duktape/unit.cpp; the engine calls in through the
// 30-e4x patch). Registered once, when the XML unit is first used.
struct duk_host_e4x {
    void* handler;             // the handler of every XML and XMLList proxy
    void* namespaceProto;      // Namespace.prototype and QName.prototype: == compares their
    void* qnameProto;          // objects by value
    void (*freed)(void* slot); // a proxy's end: drop what its slot holds
    void (*method)(duk_context* ctx, duk_idx_t self); // [... key] -> [... function]
    void (*add)(duk_context* ctx);                    // [... x y] -> [... x + y], both XML values
    bool (*equals)(duk_context* ctx);                 // x == y for the values at -2 and -1
};
void duk_host_set_e4x(duk_context* ctx, const duk_host_e4x* hooks);
// A full collection that runs no finalizer and moves no object (they wait for the next
// one): safe inside a native that walks a tree which script could otherwise change.
void duk_host_collect_quietly(duk_context* ctx);
// The slot (a native pointer in a hidden own property): set on any object (proxies too),
// read from any object, or read from an XML proxy only (null for any other value).
void duk_host_set_slot(duk_context* ctx, duk_idx_t idx, void* slot);
void* duk_host_get_slot(duk_context* ctx, duk_idx_t idx);
void* duk_host_e4x_slot(duk_context* ctx, duk_idx_t idx);
// Whether the engine is making an error object to throw (core/engine/duktape/unit.cpp).
duk_bool_t duk_host_creating_error(duk_context* ctx);
// Whether a try or a catch clause is being set up: its blocks may use the error reserve.
duk_bool_t duk_host_catching(void);
// Whether a garbage collection is running (core/engine/duktape/unit.cpp).
duk_bool_t duk_host_collecting(duk_context* ctx);
// The small blocks' range once reserved, else null and 0, set by small_blocks.cpp: the
// string table codes a string there by its place (core/engine/duktape/string_links.cpp).
extern duk_uint8_t* duk_host_small_range;
extern duk_size_t duk_host_small_range_bytes;
// The far table's slots ever handed out at once, its high-water mark.
duk_uint32_t duk_host_far_slots_peak(void);

namespace engine {

// Per OS thread: its context, its request depth and what a running native has pending.
struct ThreadState {
    duk_context* ctx = nullptr;
    int depth = 0;
    bool suspended = false;
    alignas(alignof(max_align_t)) duk_thread_state saved; // a char array the engine casts
    int pending = -1;                        // stack index of an error to raise when a native fails
    const struct ClassInfo* owner = nullptr; // class of the running native, if any
    int resumeMark = -1;    // stack top when the running native last resumed its request
    bool stackFull = false; // a slot found no room on the running native's value stack
    bool slotThrew = false; // a slot's conversion or property access threw (pending)
};
ThreadState& thread();

// The heap's allocator (heap.cpp), counted and bounded by kHeapLimit.
void* heapAlloc(void* udata, duk_size_t size);
void* heapRealloc(void* udata, void* ptr, duk_size_t size);
void heapFree(void* udata, void* ptr);
// The heap's small blocks (small_blocks.cpp), under the request lock. smallAlloc gives null
// for a size past kSmallMax or when its range is full; smallSize is a block's size, 0 for a
// block that is not one of them.
constexpr size_t kSmallMax = 256;
void* smallAlloc(size_t size);
size_t smallSize(const void* block);
void smallFree(void* block);
// While one is open, allocations may pass the heap's ceiling by a small fixed reserve, as
// they may while the engine makes an error: the host reports an error from a full heap
// inside one. Held under the request lock.
class ReserveScope {
  public:
    ReserveScope();
    ~ReserveScope();
    ReserveScope(const ReserveScope&) = delete;
    ReserveScope& operator=(const ReserveScope&) = delete;
};

struct ClassInfo {
    const char* name;
    HostFinalizer finalizer;
};

inline duk_context* duk(HostContext* cx) {
    return reinterpret_cast<duk_context*>(cx);
}
inline HostContext* host(duk_context* ctx) {
    return reinterpret_cast<HostContext*>(ctx);
}
inline void* heapPtr(HostObject* o) {
    return static_cast<void*>(o);
}

// The value word <-> the value stack.
HostValue box(duk_context* ctx, duk_idx_t idx);
void push(duk_context* ctx, HostValue v);
inline void pushObject(duk_context* ctx, HostObject* o) {
    duk_push_heapptr(ctx, heapPtr(o));
}

// Runs f(ctx) -> duk_ret_t under duk_safe_call, leaving nrets values. On an engine error
// the error value is left on top, recorded as the running native's pending error, and
// false is returned.
bool protect(duk_context* ctx, int nrets, duk_ret_t (*f)(duk_context*, void*), void* udata);
void setPending(duk_context* ctx, duk_idx_t idx);
// The thread's error state before a slot, and after a slot that the engine refused (no
// script ran): the refusal's error stays pending, raised only if the native fails, unless
// an exception that script threw earlier is pending, which stays the one to raise.
struct SlotMark {
    int pending;
    bool slotThrew;
};
SlotMark slotMark();
void refused(const SlotMark& before);
// Runs a lambda (duk_context*) -> duk_ret_t under protect().
template <class F> bool run(duk_context* ctx, int nrets, F&& f) {
    using Fn = std::remove_reference_t<F>;
    return protect(
        ctx, nrets,
        [](duk_context* c, void* ud) -> duk_ret_t { return (*static_cast<Fn*>(ud))(c); }, &f);
}
// Pushes a property name given as narrow text.
void pushName(duk_context* ctx, const char* name);
// Throws the pending error, or a generic one; used when a native returns 0.
[[noreturn]] void raisePending(duk_context* ctx);

// Registers a native function object for a host native (pushed on the stack).
void pushNative(duk_context* ctx, const char* name, HostNative fn, unsigned nargs,
                const ClassInfo* owner);

// Hidden property keys (engine symbols, unreachable from script).
#define ENGINE_KEY_CLASS DUK_HIDDEN_SYMBOL("cls")
#define ENGINE_KEY_PRIVATE DUK_HIDDEN_SYMBOL("priv")
#define ENGINE_KEY_SOURCE_LINE DUK_HIDDEN_SYMBOL("srcline")
#define ENGINE_KEY_CTOR_CLASS DUK_HIDDEN_SYMBOL("ctorcls")
#define ENGINE_KEY_PROTOTYPES DUK_HIDDEN_SYMBOL("prototypes")
#define ENGINE_KEY_EACH DUK_HIDDEN_SYMBOL("each")                    // on __lang.each's markers
#define ENGINE_KEY_STOP_ITERATION DUK_HIDDEN_SYMBOL("StopIteration") // in the heap stash

// Flags of duk_host_enum_create.
enum EnumFlags : duk_small_uint_t {
    kEnumValues = 1,         // values instead of keys
    kEnumNoHook = 2,         // ignore __iterator__
    kEnumNumericIndexes = 4, // array indexes as numbers, not strings
};

// The slots that make functions, classes and records (classes.cpp).
HostObject* defineClass(HostContext* cx, const char* name, HostNative constructor, unsigned nargs,
                        const HostPropertySpec* props, const HostFunctionSpec* fns,
                        const HostPropertySpec* staticProps, const HostFunctionSpec* staticFns,
                        HostFinalizer finalizer);
HostObject* newObject(HostContext* cx, HostObject* proto);
int defineProperty(HostContext* cx, HostObject* obj, const char* name, HostValue value,
                   HostNative getter, HostNative setter, unsigned attrs);
int defineFunctions(HostContext* cx, HostObject* obj, const HostFunctionSpec* fns);
int setPrivate(HostContext* cx, HostObject* obj, void* data);
void* getPrivate(HostContext* cx, HostObject* obj);

// The request lock (slots 27 to 30).
void requestBegin(HostContext* cx);
void requestEnd(HostContext* cx);
int requestSuspend(HostContext* cx);
void requestResume(HostContext* cx, int depth);

// Whether the function at idx runs on another context than ctx: one of another thread,
// which waits meanwhile in a native with its request suspended (instance.cpp).
bool runningElsewhere(duk_context* ctx, duk_idx_t idx);

// Compiled scripts kept across starts (script_cache.cpp): pushes the function that
// compiling code (n bytes, named fileName) makes and returns true when the cache holds
// it; keeps the compiled function at -1 for the next start.
bool loadCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n);
void keepCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n);

// Slot 11: guarded evaluation; slot 36: the same compilation, without running the script.
int evaluateScript(HostContext* cx, const char* fileName, const char* source, HostValue* result);
int compileScript(HostContext* cx, const char* fileName, const char* source);
// The same for wide source text of count UTF-16 units, every character kept.
int evaluateChars(HostContext* cx, const char* fileName, const HostChar* source, size_t count,
                  HostValue* result);
int compileChars(HostContext* cx, const char* fileName, const HostChar* source, size_t count);

// Start-up pieces.
void fillApi(ModuleApi* api);
bool locateScript(void* context, char* file, size_t fileSize, int* line);
// Flags for errors that blame the calling script rather than a C file.
constexpr duk_errcode_t kNoBlame = (duk_errcode_t)(1L << 24);

} // namespace engine

#endif
