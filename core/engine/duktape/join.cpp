// Array.prototype.join and toLocaleString (core/engine/duktape/47-join.patch): the texts of
// the elements go one after the other into one growing buffer, each copied once. The
// engine joined every 4096 elements onto the text made so far, copying it again each time,
// so that the time grew with the square of the result (a 64 MB text of a million parts
// took seconds). An array whose elements are all strings (or null or undefined) goes
// further: the length of its text is known up front, so the text is written once, a short one
// on the native stack and then interned, a long one straight into the block of the string
// that becomes the result, which the engine's interning then takes as it is
// (48-interned-in-place.patch), rather than into a buffer that is copied into a string at the
// end (the text twice in memory). Included at the end of unit.cpp.

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

// The block whose text is being interned, until the engine takes it as the new string.
thread_local duk_hstring* textInPlace;

// Frees the block where the engine did not take it (an equal string was there already).
struct TextInPlace {
    duk_heap* heap;
    duk_hstring* block;
    ~TextInPlace() {
        if (textInPlace != block) return;
        textInPlace = nullptr;
        DUK_FREE(heap, block);
    }
};

// [ ... ] -> [ ... text ] for an array of strings (see joinedLength), else false.
bool pushJoinedInPlace(duk_hthread* thr, duk_uint32_t len, duk_hstring* sep) {
    duk_hobject* a = duk_known_hobject(thr, 1);
    duk_size_t blen;
    if (!joinedLength(thr, a, len, sep, &blen)) return false;
    duk_require_stack(thr, 1);
    if (blen < DUK_HOST_TEXT_IN_PLACE_MIN) { // a short text is written here and interned
        duk_uint8_t text[DUK_HOST_TEXT_IN_PLACE_MIN];
        if (!writeJoined(thr, a, len, sep, text, blen)) return false;
        duk_push_lstring(thr, (const char*)text, blen);
        return true;
    }
    // No finalizer may run (and change the elements) while the string is allocated.
    duk_heap* heap = thr->heap;
    heap->pf_prevent_count++;
    // The block of a string that is not ASCII: room after the NUL for its code point count.
    auto* res = (duk_hstring*)DUK_ALLOC(heap, duk_host_string_block((duk_uint32_t)blen, 0));
    heap->pf_prevent_count--;
    if (!res) return false; // the buffer's way reports the failure as ever
    // A collection on the way may have compacted the array: the text is written only if
    // the elements still give the length counted.
    if (!writeJoined(thr, a, len, sep, (duk_uint8_t*)(res + 1), blen)) {
        DUK_FREE(heap, res);
        return false;
    }
    TextInPlace pending{heap, res};
    textInPlace = res;
    duk_hstring* h = duk_heap_strtable_intern(heap, (duk_uint8_t*)(res + 1), (duk_uint32_t)blen);
    if (!h) DUK_ERROR_ALLOC_FAILED(thr);
    duk_push_hstring(thr, h);
    return true;
}

} // namespace

// The engine's interning asks whether the text at str is one written in place.
duk_hstring* duk_host_text_in_place(const duk_uint8_t* str) {
    duk_hstring* h = textInPlace;
    if (!h || str != (const duk_uint8_t*)(h + 1)) return nullptr;
    textInPlace = nullptr;
    return h;
}

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
