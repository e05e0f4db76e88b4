// The growth of an object's property block (core/engine/duktape/46-props-growth.patch). The
// engine resizes a property block by allocating a new one, copying every part over and
// freeing the old one, so an array of n elements or an object of n keys briefly holds two
// blocks of n (64 MB and 72 MB at once for four million numbers). When no part shrinks and
// no entry was deleted (the engine's copy would drop it), the block is reallocated instead,
// which large blocks do in place, and its parts move up within it, the last one first: each
// part's new place begins after the old end of the part before it. The hash part is built
// anew, as the engine does. Included at the end of unit.cpp.

// Returns false, having done nothing, when the engine's own copy is needed.
duk_bool_t duk_host_grow_props(duk_hthread* thr, duk_hobject* obj, duk_uint32_t new_e_size,
                               duk_uint32_t new_a_size, duk_uint32_t new_h_size,
                               duk_bool_t abandon_array) {
    duk_heap* heap = thr->heap;
    duk_uint8_t* old_p = DUK_HOBJECT_GET_PROPS(heap, obj);
    duk_uint32_t old_e_size = DUK_HOBJECT_GET_ESIZE(obj);
    duk_uint32_t old_a_size = DUK_HOBJECT_GET_ASIZE(obj);
    duk_uint32_t e_next = DUK_HOBJECT_GET_ENEXT(obj);
    if (abandon_array || old_p == nullptr || new_a_size < old_a_size || new_e_size < old_e_size ||
        (new_a_size == old_a_size && new_e_size == old_e_size))
        return 0;
    for (duk_uint32_t i = 0; i < e_next; i++)
        if (DUK_HOBJECT_E_GET_KEY(heap, obj, i) == nullptr) return 0;

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

    duk_hstring** keys[2];
    duk_propvalue* values[2];
    duk_uint8_t* flags[2];
    duk_tval* array[2];
    duk_uint32_t* hash[2];
    DUK_HOBJECT_P_SET_REALLOC_PTRS(p, keys[0], values[0], flags[0], array[0], hash[0], old_e_size,
                                   old_a_size, DUK_HOBJECT_GET_HSIZE(obj));
    DUK_HOBJECT_P_SET_REALLOC_PTRS(p, keys[1], values[1], flags[1], array[1], hash[1], new_e_size,
                                   new_a_size, new_h_size);
    struct Part {
        void* from;
        void* to;
        size_t bytes;
    } parts[] = {
        {keys[0], keys[1], sizeof(duk_hstring*) * e_next},
        {values[0], values[1], sizeof(duk_propvalue) * e_next},
        {flags[0], flags[1], e_next},
        {array[0], array[1], sizeof(duk_tval) * old_a_size},
    };
    // The layout decides the parts' order: sort them by place, then move the last first.
    std::sort(std::begin(parts), std::end(parts),
              [](const Part& a, const Part& b) { return a.from > b.from; });
    for (const Part& part : parts)
        if (part.bytes) memmove(part.to, part.from, part.bytes);
    for (duk_uint32_t i = old_a_size; i < new_a_size; i++)
        DUK_TVAL_SET_UNUSED(&array[1][i]);

    duk_uint32_t* h = hash[1];
    DUK_UNREF(h);
#if defined(DUK_USE_HOBJECT_HASH_PART)
    if (new_h_size) {
        duk_memset(h, 0xff, sizeof(duk_uint32_t) * new_h_size);
        duk_uint32_t mask = new_h_size - 1;
        for (duk_uint32_t i = 0; i < e_next; i++) {
            duk_uint32_t j = DUK_HSTRING_GET_HASH(keys[1][i]) & mask;
            while (h[j] != DUK_HOBJECT_HASHIDX_UNUSED)
                j = (j + 1) & mask;
            h[j] = i;
        }
    }
#endif
    DUK_HOBJECT_SET_PROPS(heap, obj, p);
    DUK_HOBJECT_SET_ESIZE(obj, new_e_size);
    DUK_HOBJECT_SET_ASIZE(obj, new_a_size);
    DUK_HOBJECT_SET_HSIZE(obj, new_h_size);
    return 1;
}
