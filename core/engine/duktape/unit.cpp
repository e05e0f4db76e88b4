// The engine's compilation unit: Duktape's single-file source (copied into the build tree
// by cmake/duktape.cmake, with the project's duk_config.h and patches) and what the host
// needs from its internals: the helpers below, the translator's hook, and the files included
// at the end.
#include "duktape.cpp"

#include "core/engine/internal.h"
#include "core/engine/text.h"
#include "core/engine/translate_hook.h"

#include <algorithm>

// Whether a new string is all ASCII (82-string-length.patch): its length is then its size.
duk_bool_t duk_host_is_ascii(const duk_uint8_t* str, duk_uint32_t blen) {
    return engine::isAscii(reinterpret_cast<const char*>(str), blen);
}

// Runs the finalizer of every object that still has one, as destroying the heap does, but
// frees nothing: the process is about to end and gives the memory back whole. It skips the
// three full collections and the block-by-block freeing of duk_destroy_heap, which for a
// large heap cost a good part of a short run. The heap is unusable afterwards.
void duk_host_run_all_finalizers(duk_context* ctx) {
    duk_heap* heap = reinterpret_cast<duk_hthread*>(ctx)->heap;
    if (heap->ms_running || heap->pf_prevent_count) return; // inside a collection: not ours
    // Objects already found unreachable and waiting for their finalizer go first.
    if (heap->finalize_list) duk_heap_process_finalize_list(heap);
    DUK_HEAP_SET_FINALIZER_NORESCUE(heap);
    duk__free_run_finalizers(heap);
}

// Pushes a new plain object with room for `size` properties, as an object literal of that
// many properties gets: built property by property, it would grow many times.
void duk_host_push_object_sized(duk_context* ctx, duk_uint32_t size) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_push_object(thr);
    duk_hobject_resize_entrypart(thr, duk_known_hobject(thr, -1), size);
}

// Defines the property named by the string at -2 with the value at -1 on the plain object
// at objIdx, enumerable and configurable, writable if asked, as the engine defines the
// members of an object literal but without the general checks of duk_def_prop (the object
// is one the caller just made, with no accessors). Pops the name and the value. True when
// the name was new on the object (a repeated one replaces the value and adds no entry).
duk_bool_t duk_host_define_member(duk_context* ctx, duk_idx_t objIdx, duk_bool_t writable) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_require_hobject(thr, objIdx);
    duk_hstring* key = duk_require_hstring(thr, -2);
    duk_uint32_t entries = DUK_HOBJECT_GET_ENEXT(obj);
    duk_hobject_define_property_internal(thr, obj, key,
                                         writable ? DUK_PROPDESC_FLAGS_WEC : DUK_PROPDESC_FLAGS_EC);
    duk_pop(thr); // the value went with the definition
    return DUK_HOBJECT_GET_ENEXT(obj) > entries;
}

// Defines the property named by the string at -1 on the object at objIdx as a configurable,
// non-enumerable accessor with the functions at getterIdx and setterIdx, and pops the name.
// The fast path of start-up's lazy library paths (core/lang/units.cpp): a new key on an
// extensible object goes straight into the entry part; anything else takes duk_def_prop.
void duk_host_define_accessor(duk_context* ctx, duk_idx_t objIdx, duk_idx_t getterIdx,
                              duk_idx_t setterIdx) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    objIdx = duk_require_normalize_index(thr, objIdx);
    getterIdx = duk_require_normalize_index(thr, getterIdx);
    setterIdx = duk_require_normalize_index(thr, setterIdx);
    duk_hobject* obj = duk_require_hobject(thr, objIdx);
    duk_hstring* key = duk_require_hstring(thr, -1);
    duk_hobject* getter = duk_require_hobject(thr, getterIdx);
    duk_hobject* setter = duk_require_hobject(thr, setterIdx);
    duk_propdesc desc;
    if (!DUK_HOBJECT_HAS_EXTENSIBLE(obj) || DUK_HSTRING_HAS_ARRIDX(key) ||
        DUK_HOBJECT_IS_PROXY(obj) || duk_hobject_get_own_propdesc(thr, obj, key, &desc, 0)) {
        duk_dup(thr, getterIdx);
        duk_dup(thr, setterIdx);
        duk_def_prop(thr, objIdx,
                     DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER |
                         DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                         DUK_DEFPROP_FORCE);
        return;
    }
    duk_int_t e = duk__hobject_alloc_entry_checked(thr, obj, key);
    duk_host_entry_set_accessor(thr, obj, e, getter, setter, DUK_PROPDESC_FLAG_CONFIGURABLE);
    duk_pop(thr);
}

// Makes room in the object at idx for n more properties at once (resized once, not at
// every few new keys).
void duk_host_reserve_entries(duk_context* ctx, duk_idx_t idx, duk_uint32_t n) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_require_hobject(thr, idx);
    if (DUK_HOBJECT_IS_PROXY(obj)) return;
    duk_uint32_t need = DUK_HOBJECT_GET_ENEXT(obj) + n;
    if (need > DUK_HOBJECT_GET_ESIZE(obj)) duk_hobject_resize_entrypart(thr, obj, need);
}

// Whether an activation of the context runs the function fn. Reads the context's call
// stack only, so it may ask about a context that another thread has suspended.
duk_bool_t duk_host_on_call_stack(duk_context* ctx, void* fn) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    for (duk_activation* act = thr->callstack_curr; act; act = act->parent)
        if (DUK_ACT_GET_FUNC(act) == static_cast<duk_hobject*>(fn)) return 1;
    return 0;
}

// "Math" or "JSON" when the object at idx is that built-in namespace object (an object of
// its class, which scripts cannot make), nullptr otherwise.
const char* duk_host_namespace_name(duk_context* ctx, duk_idx_t idx) {
    duk_hobject* obj = duk_get_hobject(reinterpret_cast<duk_hthread*>(ctx), idx);
    if (!obj) return nullptr;
    switch (DUK_HOBJECT_GET_CLASS_NUMBER(obj)) {
    case DUK_HOBJECT_CLASS_MATH:
        return "Math";
    case DUK_HOBJECT_CLASS_JSON:
        return "JSON";
    default:
        return nullptr;
    }
}

// The language's for-in, called from the patched INITENUM and NEXTENUM instructions.
#include "core/engine/duktape/forin_keys.cpp"
#include "core/engine/duktape/forin.cpp"

// The source text of compiled functions, kept by the patched compiler.
#include "core/engine/duktape/function_text.cpp"

// Compile errors in the language's words, and the origin of eval code.
#include "core/engine/duktape/compile_errors.cpp"

// The stack of errors in the language's form.
#include "core/engine/duktape/error_stack.cpp"

// The engine's runtime errors in the language's words.
#include "core/engine/duktape/error_texts.cpp"

// `__proto__: v` in object literals, from the patched compiler and MPUTOBJ instruction.
#include "core/engine/duktape/proto_literal.cpp"

// Regular expressions called as functions (the patched call set-up) and compile().
#include "core/engine/duktape/regexp_call.cpp"

// InternalError, raised by the hooks past the engine's limits.
#include "core/engine/duktape/internal_error.cpp"

// The regular expression executor and the regexp compiler's limits.
#include "core/engine/duktape/regexp.cpp"

// An array part that grows in place, from the patched property resize.
#include "core/engine/duktape/props_growth.cpp"

// Accessor pairs in blocks of their own, from the patched property code.
#include "core/engine/duktape/accessor_pairs.cpp"

// The string table's links in 32 bits, from the patched string table.
#include "core/engine/duktape/string_links.cpp"

// Array.prototype.join in one buffer, from the patched built-in.
#include "core/engine/duktape/join.cpp"

// Constants past the instructions' BC field, from the patched compiler and executor.
#include "core/engine/duktape/wide_consts.cpp"

// E4X (core/xml/binding/): XML values are proxies whose handler is the E4X handler; a
// pointer to the native value sits in a hidden own property of the proxy (its "slot", read
// here without proxy behaviour) and of the proxy's target (where the traps find it). The
// engine calls in at a proxy's end, for method calls, typeof, + and == (the 30-e4x patch).
namespace {
duk_host_e4x gE4x;
duk_hstring* gSlotKey = nullptr;
duk_hstring* gTypeofXml = nullptr;

void* ownSlot(duk_heap* heap, duk_hobject* obj) {
    for (duk_uint_fast32_t i = 0; i < DUK_HOBJECT_GET_ENEXT(obj); i++) {
        if (DUK_HOBJECT_E_GET_KEY(heap, obj, i) != gSlotKey) continue;
        if (DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, obj, i)) return nullptr;
        duk_tval* tv = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, obj, i);
        return DUK_TVAL_IS_POINTER(tv) ? DUK_TVAL_GET_POINTER(tv) : nullptr;
    }
    return nullptr;
}

duk_hobject* e4xProxy(duk_tval* tv) {
    if (!gE4x.handler || !DUK_TVAL_IS_OBJECT(tv)) return nullptr;
    duk_hobject* o = DUK_TVAL_GET_OBJECT(tv);
    if (!DUK_HOBJECT_IS_PROXY(o) || reinterpret_cast<duk_hproxy*>(o)->handler != gE4x.handler)
        return nullptr;
    return o;
}

// XML values, and the Namespace and QName objects that == compares by value.
bool e4xOperand(duk_hthread* thr, duk_tval* tv) {
    if (e4xProxy(tv)) return true;
    if (!gE4x.handler || !DUK_TVAL_IS_OBJECT(tv)) return false;
    duk_hobject* proto = DUK_HOBJECT_GET_PROTOTYPE(thr->heap, DUK_TVAL_GET_OBJECT(tv));
    return proto && (proto == gE4x.namespaceProto || proto == gE4x.qnameProto);
}
} // namespace

void duk_host_set_e4x(duk_context* ctx, const duk_host_e4x* hooks) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    // The key and the typeof name stay reachable from the stash for the heap's life.
    duk_push_global_stash(ctx);
    duk_push_literal(ctx, DUK_HIDDEN_SYMBOL("e4xSlot"));
    gSlotKey = duk_known_hstring(thr, -1);
    duk_put_prop_literal(ctx, -2, DUK_HIDDEN_SYMBOL("e4xSlotKey"));
    duk_push_literal(ctx, "xml");
    gTypeofXml = duk_known_hstring(thr, -1);
    duk_put_prop_literal(ctx, -2, DUK_HIDDEN_SYMBOL("e4xTypeof"));
    duk_pop(ctx);
    gE4x = *hooks;
}

void duk_host_collect_quietly(duk_context* ctx) {
    duk_heap* heap = reinterpret_cast<duk_hthread*>(ctx)->heap;
    duk_small_uint_t flags = heap->ms_base_flags;
    heap->ms_base_flags |= DUK_MS_FLAG_NO_OBJECT_COMPACTION;
    heap->pf_prevent_count++;
    duk_heap_mark_and_sweep(heap, 0);
    heap->pf_prevent_count--;
    heap->ms_base_flags = flags;
}

void duk_host_set_slot(duk_context* ctx, duk_idx_t idx, void* slot) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_require_hobject(thr, idx);
    duk_push_pointer(ctx, slot);
    duk_hobject_define_property_internal(thr, obj, gSlotKey, DUK_PROPDESC_FLAGS_NONE);
}

void* duk_host_get_slot(duk_context* ctx, duk_idx_t idx) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_get_hobject(thr, idx);
    return obj && gSlotKey ? ownSlot(thr->heap, obj) : nullptr;
}

void* duk_host_e4x_slot(duk_context* ctx, duk_idx_t idx) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_tval* tv = duk_get_tval(thr, idx);
    duk_hobject* p = tv ? e4xProxy(tv) : nullptr;
    return p ? ownSlot(thr->heap, p) : nullptr;
}

void duk_host_proxy_freed(duk_heap* heap, duk_hobject* h) {
    if (!gE4x.handler || reinterpret_cast<duk_hproxy*>(h)->handler != gE4x.handler) return;
    if (void* slot = ownSlot(heap, h)) gE4x.freed(slot);
}

int duk_host_e4x_value(duk_tval* tv) {
    return e4xProxy(tv) != nullptr;
}

void duk_host_e4x_method(duk_hthread* thr, duk_tval* tv_obj, duk_tval* tv_key) {
    duk_idx_t self = static_cast<duk_idx_t>(tv_obj - thr->valstack_bottom);
    duk_push_tval(thr, tv_key);
    gE4x.method(thr, self);
}

duk_hstring* duk_host_typeof(duk_hthread* thr, duk_tval* tv) {
    if (e4xProxy(tv)) return gTypeofXml;
    return DUK_HTHREAD_GET_STRING(thr, duk_js_typeof_stridx(tv));
}

int duk_host_e4x_add(duk_hthread* thr) {
    if (!e4xProxy(DUK_GET_TVAL_NEGIDX(thr, -2)) || !e4xProxy(DUK_GET_TVAL_NEGIDX(thr, -1)))
        return 0;
    gE4x.add(thr);
    return 1;
}

// Script's == (and !=): E4X's comparison where an XML value, a Namespace or a QName is
// on either side, the engine's otherwise.
duk_bool_t duk_host_equals(duk_hthread* thr, duk_tval* tv_x, duk_tval* tv_y) {
    if (DUK_UNLIKELY(gE4x.handler != nullptr) &&
        (DUK_TVAL_IS_OBJECT(tv_x) || DUK_TVAL_IS_OBJECT(tv_y)) &&
        (e4xOperand(thr, tv_x) || e4xOperand(thr, tv_y))) {
        duk_push_tval(thr, tv_x);
        duk_push_tval(thr, tv_y);
        bool eq = gE4x.equals(thr);
        duk_pop_2(thr);
        return eq ? 1 : 0;
    }
    return duk_js_equals(thr, tv_x, tv_y);
}

// The start of every compilation (core/engine/duktape/10-translate.patch): the translation of the
// script language replaces the input, or its error is thrown from inside the compilation,
// which makes it read like the engine's own syntax errors (fileName and lineNumber name the
// script's line; the compile-error hook of compile_errors.cpp leaves its message alone).
void duk_host_translate(duk_compiler_ctx* comp_ctx, duk_lexer_point* pt, duk_small_uint_t flags) {
    duk_hthread* thr = comp_ctx->thr;
    TranslateError error;
    if (capsuleTranslate(thr, &comp_ctx->lex.input, &comp_ctx->lex.input_length, flags, &error) >=
        0)
        return;
    pt->offset = 0;
    DUK_LEXER_SETPOINT(&comp_ctx->lex, pt); // the error's line information reads the window
    comp_ctx->curr_token.start_line = error.line + pt->line - 1; // pt->line: the first line
    duk_host_translator_failed();
    duk_error(thr, error.code, "%s", duk_get_string(thr, -1));
}

duk_bool_t duk_host_creating_error(duk_context* ctx) {
    return reinterpret_cast<duk_hthread*>(ctx)->heap->creating_error != 0;
}

// Tries and catch clauses being set up (49-catch-reserve.patch), read by the heap's
// allocator. Changed and read under the engine lock.
namespace {
int gCatching = 0;
}
void duk_host_catch_reserve(int on) {
    gCatching += on ? 1 : -1;
}
duk_bool_t duk_host_catching(void) {
    return gCatching > 0;
}

duk_bool_t duk_host_collecting(duk_context* ctx) {
    return reinterpret_cast<duk_hthread*>(ctx)->heap->ms_running != 0;
}
