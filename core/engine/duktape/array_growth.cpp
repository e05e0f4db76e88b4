// The growth of an object's array part (core/engine/duktape/46-array-growth.patch). The
// engine resizes a property block by allocating a new one, copying every part over and
// freeing the old one, so an array of n elements briefly holds two blocks of n (64 MB
// and 72 MB at once for four million numbers). When only the array part grows, the block
// is reallocated instead, which large blocks do in place, and the hash part (the only
// part behind the array part) moves up. Included at the end of unit.cpp.

// Returns false, having done nothing, when anything but the array part would change.
duk_bool_t duk_host_grow_array_part(duk_hthread* thr, duk_hobject* obj, duk_uint32_t new_e_size,
                                    duk_uint32_t new_a_size, duk_uint32_t new_h_size,
                                    duk_bool_t abandon_array) {
    duk_heap* heap = thr->heap;
    duk_uint8_t* old_p = DUK_HOBJECT_GET_PROPS(heap, obj);
    duk_uint32_t old_a_size = DUK_HOBJECT_GET_ASIZE(obj);
    if (abandon_array || old_p == nullptr || new_a_size <= old_a_size ||
        new_e_size != DUK_HOBJECT_GET_ESIZE(obj) || new_h_size != DUK_HOBJECT_GET_HSIZE(obj))
        return 0;

    // A collection that the reallocation runs (to make room) must neither compact this
    // object nor run finalizers: the block stays where it is until the reallocation succeeds.
    duk_small_uint_t ms_flags = heap->ms_base_flags;
    heap->ms_base_flags |= DUK_MS_FLAG_NO_OBJECT_COMPACTION;
    heap->pf_prevent_count++;
    duk_uint8_t* p = static_cast<duk_uint8_t*>(
        DUK_REALLOC(heap, old_p, DUK_HOBJECT_P_COMPUTE_SIZE(new_e_size, new_a_size, new_h_size)));
    heap->pf_prevent_count--;
    heap->ms_base_flags = ms_flags;
    if (p == nullptr) {
        DUK_ERROR_ALLOC_FAILED(thr);
        DUK_WO_NORETURN(return 0;);
    }

    duk_hstring** keys;
    duk_propvalue* values;
    duk_uint8_t* flags;
    duk_tval* array;
    duk_uint32_t* hash;
    DUK_HOBJECT_P_SET_REALLOC_PTRS(p, keys, values, flags, array, hash, new_e_size, new_a_size,
                                   new_h_size);
    DUK_UNREF(keys);
    DUK_UNREF(values);
    DUK_UNREF(flags);
    if (new_h_size) memmove(hash, array + old_a_size, sizeof(duk_uint32_t) * new_h_size);
    for (duk_uint32_t i = old_a_size; i < new_a_size; i++)
        DUK_TVAL_SET_UNUSED(&array[i]);
    DUK_HOBJECT_SET_PROPS(heap, obj, p);
    DUK_HOBJECT_SET_ASIZE(obj, new_a_size);
    return 1;
}
