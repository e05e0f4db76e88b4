// Array.prototype.join and toLocaleString (core/engine/duktape/47-join.patch): the texts of
// the elements go one after the other into one growing buffer, each copied once. The
// engine joined every 4096 elements onto the text made so far, copying it again each time,
// so that the time grew with the square of the result (a 64 MB text of a million parts
// took seconds). Included at the end of unit.cpp.

//
// A join of an array whose elements are all strings (or null or undefined) goes further: its
// length is known up front, so the text is written once, straight into the memory of the
// string that becomes the result, rather than into a buffer that is then copied into a
// string (which held the text twice at the end).

#if defined(DUK_USE_ROM_STRINGS) || defined(DUK_USE_STRTAB_PTRCOMP) ||                             \
    defined(DUK_USE_HSTRING_EXTDATA) || defined(DUK_USE_STRLEN16)
#error "join.cpp interns its text for a RAM string table of full-width strings only"
#endif

namespace {

// The text length of the join of a[0..len) with sep when every element is a string or null or
// undefined and sits in the array part (a hole would look into the prototypes); else false.
bool joinedLength([[maybe_unused]] duk_hthread* thr, duk_hobject* a, duk_uint32_t len,
                  duk_hstring* sep, duk_size_t* length) {
    if (!DUK_HOBJECT_HAS_EXOTIC_ARRAY(a) || !DUK_HOBJECT_HAS_ARRAY_PART(a) ||
        len > DUK_HOBJECT_GET_ASIZE(a) || len == 0)
        return false;
    duk_tval* tv = DUK_HOBJECT_A_GET_BASE(thr->heap, a);
    duk_uint64_t n = (duk_uint64_t)DUK_HSTRING_GET_BYTELEN(sep) * (len - 1);
    for (duk_uint32_t i = 0; i < len; i++, tv++) {
        if (DUK_TVAL_IS_STRING(tv) && !DUK_HSTRING_HAS_SYMBOL(DUK_TVAL_GET_STRING(tv)))
            n += DUK_HSTRING_GET_BYTELEN(DUK_TVAL_GET_STRING(tv));
        else if (!DUK_TVAL_IS_NULL(tv) && !DUK_TVAL_IS_UNDEFINED(tv))
            return false;
    }
    // A text over the limit is left to the buffer, which reports it as ever.
    if (n > DUK_HSTRING_MAX_BYTELEN) return false;
    *length = (duk_size_t)n;
    return true;
}

// Writes the join into out (room bytes); false where the elements no longer give room bytes.
bool writeJoined([[maybe_unused]] duk_hthread* thr, duk_hobject* a, duk_uint32_t len,
                 duk_hstring* sep, duk_uint8_t* out, duk_size_t room) {
    if (!DUK_HOBJECT_HAS_ARRAY_PART(a) || len > DUK_HOBJECT_GET_ASIZE(a)) return false;
    duk_tval* tv = DUK_HOBJECT_A_GET_BASE(thr->heap, a);
    duk_size_t at = 0;
    for (duk_uint32_t i = 0; i < len; i++, tv++) {
        if (i > 0) {
            duk_size_t n = DUK_HSTRING_GET_BYTELEN(sep);
            if (n > room - at) return false;
            memcpy(out + at, DUK_HSTRING_GET_DATA(sep), n);
            at += n;
        }
        if (!DUK_TVAL_IS_STRING(tv)) continue;
        duk_hstring* h = DUK_TVAL_GET_STRING(tv);
        duk_size_t n = DUK_HSTRING_GET_BYTELEN(h);
        if (n > room - at) return false;
        memcpy(out + at, DUK_HSTRING_GET_DATA(h), n);
        at += n;
    }
    return at == room;
}

// The interned string equal to data, if there is one.
duk_hstring* findInterned(duk_heap* heap, const duk_uint8_t* data, duk_uint32_t blen,
                          duk_uint32_t hash) {
    for (duk_hstring* h = heap->strtable[hash & heap->st_mask]; h; h = h->hdr.h_next)
        if (DUK_HSTRING_GET_HASH(h) == hash && DUK_HSTRING_GET_BYTELEN(h) == blen &&
            memcmp(data, DUK_HSTRING_GET_DATA(h), blen) == 0)
            return h;
    return nullptr;
}

// Makes res (allocated as a string of blen bytes, its text written) a string of the heap,
// as the engine's interning initialises and links the strings it allocates itself, and
// pushes it; or pushes the equal string the heap has already and frees res.
void pushAsInterned(duk_hthread* thr, duk_hstring* res, duk_uint32_t blen) {
    duk_heap* heap = thr->heap;
    duk_uint8_t* data = (duk_uint8_t*)(res + 1);
    data[blen] = 0;
    duk_uint32_t hash = duk_heap_hashstring(heap, data, blen);
    if (duk_hstring* h = findInterned(heap, data, blen, hash)) {
        DUK_FREE(heap, res);
        duk_push_hstring(thr, h);
        return;
    }
    // Grows the table before the string is linked, as the engine does: a collection the
    // growth may start must not find the string linked but unreferenced.
    heap->pf_prevent_count++;
#if defined(DUK__STRTAB_RESIZE_CHECK)
    if ((heap->st_count & DUK_USE_STRTAB_RESIZE_CHECK_MASK) == 0) duk__strtable_resize_check(heap);
#endif
    heap->pf_prevent_count--;

    duk_memzero(res, sizeof(duk_hstring));
#if defined(DUK_USE_EXPLICIT_NULL_INIT)
    DUK_HEAPHDR_STRING_INIT_NULLS(&res->hdr);
#endif
    DUK_HEAPHDR_SET_TYPE_AND_FLAGS(&res->hdr, DUK_HTYPE_STRING, 0);
    DUK_HSTRING_SET_BYTELEN(res, blen);
    DUK_HSTRING_SET_HASH(res, hash);
    duk_uarridx_t arridx = duk_js_to_arrayindex_string(data, blen);
#if defined(DUK_USE_HSTRING_ARRIDX)
    res->arridx = arridx;
#endif
    if (arridx != DUK_HSTRING_NO_ARRAY_INDEX) {
        DUK_HSTRING_SET_ARRIDX(res);
        DUK_HSTRING_SET_ASCII(res);
    } else {
        if (DUK_UNLIKELY(data[0] >= 0x80U)) {
            if (data[0] <= 0x81) {
                DUK_HSTRING_SET_SYMBOL(res);
            } else if (data[0] == 0x82U || data[0] == 0xffU) {
                DUK_HSTRING_SET_HIDDEN(res);
                DUK_HSTRING_SET_SYMBOL(res);
            }
        }
#if !defined(DUK_USE_HSTRING_LAZY_CLEN)
        duk_hstring_init_charlen(res);
#endif
    }
    duk_hstring** slot = heap->strtable + (hash & heap->st_mask);
    res->hdr.h_next = *slot;
    *slot = res;
#if defined(DUK__STRTAB_RESIZE_CHECK)
    heap->st_count++;
#endif
    duk_push_hstring(thr, res);
}

// [ ... ] -> [ ... text ] for an array of strings (see joinedLength), else false.
bool pushJoinedInPlace(duk_hthread* thr, duk_uint32_t len, duk_hstring* sep) {
    duk_hobject* a = duk_known_hobject(thr, 1);
    duk_size_t blen;
    if (!joinedLength(thr, a, len, sep, &blen)) return false;
    duk_require_stack(thr, 1);
    // No finalizer may run (and change the elements) while the string is allocated.
    duk_heap* heap = thr->heap;
    heap->pf_prevent_count++;
    auto* res = (duk_hstring*)DUK_ALLOC(heap, sizeof(duk_hstring) + blen + 1);
    heap->pf_prevent_count--;
    if (!res) return false; // the buffer's way reports the failure as ever
    // A collection on the way may have compacted the array: the text is written only if
    // the elements still give the length counted.
    if (!writeJoined(thr, a, len, sep, (duk_uint8_t*)(res + 1), blen)) {
        DUK_FREE(heap, res);
        return false;
    }
    pushAsInterned(thr, res, (duk_uint32_t)blen);
    return true;
}

} // namespace

// [ sep ToObject(this) len ] -> [ sep ToObject(this) len text ] (an array of strings) or
// [ sep ToObject(this) len buffer text ]
duk_ret_t duk_host_array_join(duk_hthread* thr, duk_uint32_t len,
                              duk_small_int_t to_locale_string) {
    duk_hstring* sep = duk_known_hstring(thr, 0);
    if (!to_locale_string && pushJoinedInPlace(thr, len, sep)) return 1;
    duk_bufwriter_ctx bw;
    DUK_BW_INIT_PUSHBUF(thr, &bw, 0);
    for (duk_uint32_t idx = 0; idx < len; idx++) {
        if (idx > 0) DUK_BW_WRITE_ENSURE_HSTRING(thr, &bw, sep);
        duk_get_prop_index(thr, 1, static_cast<duk_uarridx_t>(idx));
        if (!duk_is_null_or_undefined(thr, -1)) {
            if (to_locale_string) {
                duk_to_object(thr, -1);
                duk_get_prop_stridx_short(thr, -1, DUK_STRIDX_TO_LOCALE_STRING);
                duk_insert(thr, -2); // [ ... toLocaleString ToObject(val) ]
                duk_call_method(thr, 0);
            }
            duk_to_string(thr, -1);
            DUK_BW_WRITE_ENSURE_HSTRING(thr, &bw, duk_known_hstring(thr, -1));
        }
        duk_pop(thr);
    }
    DUK_BW_PUSH_AS_STRING(thr, &bw);
    return 1;
}
