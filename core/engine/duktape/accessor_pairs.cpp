// An accessor's get/set pair in a block of its own (core/engine/duktape/81-accessor-pairs.patch),
// so that a property's slot is one value wide. The block is made when a property becomes an
// accessor and freed when it stops being one or its object is freed. Included at the end of
// unit.cpp.

// Makes entry e_idx (its value slot undefined or garbage, nothing counted in it) an accessor
// with get and set (increfed here) and the given flags. The pair's block is taken with the
// entry a plain undefined, so that a failure leaves a sound property; nothing is compacted
// and no finalizer runs meanwhile, so e_idx stays valid.
void duk_host_entry_set_accessor(duk_hthread* thr, duk_hobject* obj, duk_int_t e_idx,
                                 duk_hobject* get, duk_hobject* set, duk_small_uint_t flags) {
    duk_heap* heap = thr->heap;
    DUK_TVAL_SET_UNDEFINED(DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, obj, e_idx));
    DUK_HOBJECT_E_SET_FLAGS(heap, obj, e_idx, flags & ~DUK_PROPDESC_FLAG_ACCESSOR);
    duk_small_uint_t ms_flags = heap->ms_base_flags;
    heap->ms_base_flags |= DUK_MS_FLAG_NO_OBJECT_COMPACTION;
    heap->pf_prevent_count++;
    auto* pa = static_cast<duk_propaccessor*>(DUK_ALLOC(heap, sizeof(duk_propaccessor)));
    heap->pf_prevent_count--;
    heap->ms_base_flags = ms_flags;
    if (!pa) {
        DUK_ERROR_ALLOC_FAILED(thr);
        DUK_WO_NORETURN(return;);
    }
    pa->get = get;
    pa->set = set;
    DUK_HOBJECT_INCREF_ALLOWNULL(thr, get);
    DUK_HOBJECT_INCREF_ALLOWNULL(thr, set);
    DUK_HOBJECT_E_GET_VALUE_PTR(heap, obj, e_idx)->a = pa;
    DUK_HOBJECT_E_SET_FLAGS(heap, obj, e_idx, flags | DUK_PROPDESC_FLAG_ACCESSOR);
}

// Makes accessor entry e_idx a data entry holding undefined, its pair's block freed; its
// get and set go to the caller, which decrefs them (the counts are unchanged here).
void duk_host_entry_drop_accessor(duk_heap* heap, duk_hobject* obj, duk_int_t e_idx,
                                  duk_hobject** out_get, duk_hobject** out_set) {
    duk_propaccessor* pa = DUK_HOBJECT_E_GET_VALUE_PTR(heap, obj, e_idx)->a;
    *out_get = pa->get;
    *out_set = pa->set;
    DUK_FREE(heap, pa);
    DUK_TVAL_SET_UNDEFINED(DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, obj, e_idx));
    DUK_HOBJECT_E_SLOT_CLEAR_ACCESSOR(heap, obj, e_idx);
}

// The pair blocks of an object about to be freed (a deleted entry's went with it).
void duk_host_free_accessor_pairs(duk_heap* heap, duk_hobject* h) {
    for (duk_uint_fast32_t i = 0; i < DUK_HOBJECT_GET_ENEXT(h); i++)
        if (DUK_HOBJECT_E_GET_KEY(heap, h, i) && DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, h, i))
            DUK_FREE(heap, DUK_HOBJECT_E_GET_VALUE(heap, h, i).a);
}
