// The keys a for-in over an ordinary object visits, listed up front as one dense run of string
// values (forin.cpp keeps them after its enumerator's slots). The engine's own enumerator is
// an object that holds each key with a value and a hash slot, grown key by key; for an object
// of half a million keys that came to some 35 MB, where this list is 16 bytes a key, sized
// once.
//
// The list is the one the engine's enumerator makes, in the same order: for the object and
// then each prototype, the enumerable string keys of its entry part in insertion order (array
// index keys first, ascending, where a level has any), each key once (a prototype's key that
// an earlier level listed is left out). Objects whose keys are partly virtual or come from a
// trap (proxies, String objects, buffers, array parts other than the walked array's own) are
// left to the engine's enumerator. Part of the engine's compilation unit (included by
// core/engine/duktape/unit.cpp before forin.cpp).

namespace {

// Whether the engine's enumerator would list every key of obj from its entry part alone.
bool keysAreInEntryPart(duk_hobject* obj, bool arrayPartWalked) {
    if (DUK_HOBJECT_IS_PROXY(obj) || DUK_HOBJECT_HAS_EXOTIC_STRINGOBJ(obj) ||
        DUK_HOBJECT_IS_BUFOBJ(obj))
        return false;
    return arrayPartWalked || !DUK_HOBJECT_HAS_ARRAY_PART(obj) || DUK_HOBJECT_GET_ASIZE(obj) == 0;
}

// The entry at i is one the enumerator lists: a live, enumerable, ordinary string key.
duk_hstring* listedKey([[maybe_unused]] duk_heap* heap, duk_hobject* obj, duk_uint_fast32_t i) {
    duk_hstring* k = DUK_HOBJECT_E_GET_KEY(heap, obj, i);
    if (!k || !DUK_HOBJECT_E_SLOT_IS_ENUMERABLE(heap, obj, i) || DUK_HSTRING_HAS_SYMBOL(k))
        return nullptr;
    return k;
}

// A level before `level` (from target on) listed k already.
bool listedBefore(duk_heap* heap, duk_hobject* target, duk_hobject* level, duk_hstring* k) {
    for (duk_hobject* o = target; o != level; o = DUK_HOBJECT_GET_PROTOTYPE(heap, o)) {
        duk_int_t e_idx, h_idx;
        if (duk_hobject_find_entry(heap, o, k, &e_idx, &h_idx) && e_idx >= 0 &&
            DUK_HOBJECT_E_SLOT_IS_ENUMERABLE(heap, o, e_idx))
            return true;
    }
    return false;
}

// The engine's order within one level: array index keys first, ascending, the others after
// them as they were (the same stable insertion sort, which does nothing for keys in order).
void sortLevel(duk_tval* keys, duk_uint32_t n) {
    for (duk_uint32_t i = 1; i < n; i++) {
        duk_tval curr = keys[i];
        duk__sort_key_t v = duk__hstring_sort_key(DUK_TVAL_GET_STRING(&curr));
        duk_uint32_t at = i;
        while (at > 0 && duk__hstring_sort_key(DUK_TVAL_GET_STRING(keys + at - 1)) > v)
            at--;
        if (at != i) {
            memmove(keys + at + 1, keys + at, (i - at) * sizeof(duk_tval));
            keys[at] = curr;
        }
    }
}

// The number of keys the list of target can hold (an upper bound: keys a prototype shares
// with an earlier level are counted), or false where the engine's enumerator must list them.
bool countForInKeys(duk_heap* heap, duk_hobject* target, bool arrayPartWalked,
                    duk_uint32_t* count) {
    duk_uint64_t n = 0;
    for (duk_hobject* o = target; o; o = DUK_HOBJECT_GET_PROTOTYPE(heap, o)) {
        if (!keysAreInEntryPart(o, arrayPartWalked && o == target)) return false;
        for (duk_uint_fast32_t i = 0; i < DUK_HOBJECT_GET_ENEXT(o); i++)
            if (listedKey(heap, o, i)) n++;
    }
    if (n > DUK_HOBJECT_MAX_PROPERTIES) return false;
    *count = (duk_uint32_t)n;
    return true;
}

// Writes the keys of target into out, each referenced, and returns how many there are, or
// room + 1 where they do not fit (the objects changed since they were counted). Nothing here
// allocates or runs code.
duk_uint32_t writeForInKeys(duk_hthread* thr, duk_hobject* target, duk_tval* out,
                            duk_uint32_t room) {
    duk_heap* heap = thr->heap;
    duk_uint32_t n = 0;
    for (duk_hobject* o = target; o; o = DUK_HOBJECT_GET_PROTOTYPE(heap, o)) {
        duk_uint32_t start = n;
        bool indexKeys = false;
        for (duk_uint_fast32_t i = 0; i < DUK_HOBJECT_GET_ENEXT(o); i++) {
            duk_hstring* k = listedKey(heap, o, i);
            if (!k || (o != target && listedBefore(heap, target, o, k))) continue;
            if (n == room) return room + 1;
            indexKeys = indexKeys || DUK_HSTRING_HAS_ARRIDX(k);
            DUK_TVAL_SET_STRING(out + n, k);
            DUK_HSTRING_INCREF(thr, k);
            n++;
        }
        if (indexKeys) sortLevel(out + start, n - start);
    }
    return n;
}

} // namespace
