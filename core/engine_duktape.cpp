// The engine's compilation unit: Duktape's single-file source (copied into the build tree
// by cmake/duktape.cmake, with the project's duk_config.h and patches) and what the host
// needs from its internals: the helpers below, and the files included at the end.
#include "duktape.cpp"

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
// is one the caller just made, with no accessors). Pops the name and the value.
void duk_host_define_member(duk_context* ctx, duk_idx_t objIdx, duk_bool_t writable) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_require_hobject(thr, objIdx);
    duk_hstring* key = duk_require_hstring(thr, -2);
    duk_hobject_define_property_internal(thr, obj, key,
                                         writable ? DUK_PROPDESC_FLAGS_WEC : DUK_PROPDESC_FLAGS_EC);
    duk_pop(thr); // the value went with the definition
}

// Defines the property named by the string at -1 on the object at objIdx as a configurable,
// non-enumerable accessor with the functions at getterIdx and setterIdx, and pops the name.
// The fast path of start-up's lazy library paths (core/engine_lang.cpp): a new key on an
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
    DUK_HOBJECT_E_SET_FLAGS(thr->heap, obj, e,
                            DUK_PROPDESC_FLAG_CONFIGURABLE | DUK_PROPDESC_FLAG_ACCESSOR);
    DUK_HOBJECT_E_SET_VALUE_GETTER(thr->heap, obj, e, getter);
    DUK_HOBJECT_E_SET_VALUE_SETTER(thr->heap, obj, e, setter);
    DUK_HOBJECT_INCREF(thr, getter);
    DUK_HOBJECT_INCREF(thr, setter);
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
#include "core/engine_forin.cpp"

// The source text of compiled functions, kept by the patched compiler.
#include "core/engine_funcsource.cpp"

// `__proto__: v` in object literals, from the patched compiler and MPUTOBJ instruction.
#include "core/engine_proto_literal.cpp"
