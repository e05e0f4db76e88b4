// for-in as the script language has it, run by the engine's INITENUM and NEXTENUM
// instructions (core/engine/duktape/20-forin.patch):
// - an object with an __iterator__ method is iterated by what __iterator__(true) returns:
//   each value its next() returns, until next() throws StopIteration;
// - `for each` is a for-in over __lang.each(v): the values of v instead of its keys
//   (__iterator__(false) for an object that has one);
// - the indexes of an array are walked one at a time rather than listed up front, so that
//   a loop over a million elements needs no million key strings;
// - the other keys of ordinary objects are listed after the enumerator's slots
//   (forin_keys.cpp) rather than in an enumerator object of the engine's.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp): it reads
// the array part of objects directly.
#include "core/engine/internal.h"

#include <cassert>

namespace {

// The enumerators made here are arrays (the engine's own are bare objects) with these slots,
// followed by the listed keys, if any.
enum Slot { kKind, kTarget, kAux, kIndex, kEnd, kFlags, kKeyAt, kKeyEnd, kSlotCount };
enum Kind {
    kIterator, // kTarget: the iterator; kAux: its next method
    kArray,    // kTarget: an array; kIndex..kEnd: indexes still to walk; then its other keys
    kKeys,     // kTarget: the object; then its keys
};
// The keys after the indexes, or of an object, are those listed from kSlotCount + kKeyAt to
// kSlotCount + kKeyEnd, or else those that the engine's enumerator in kAux gives.

duk_tval* slots(duk_hthread* thr, duk_hobject* e) {
    return DUK_HOBJECT_A_GET_BASE(thr->heap, e);
}

duk_uint32_t slotNumber(duk_hthread* thr, duk_hobject* e, Slot s) {
    return (duk_uint32_t)DUK_TVAL_GET_NUMBER(slots(thr, e) + s);
}

// A marker that __lang.each made: a bare object with the one hidden key.
bool isEachMarker(duk_hthread* thr, duk_hobject* obj) {
    static const char kKey[] = ENGINE_KEY_EACH;
    if (DUK_HOBJECT_GET_PROTOTYPE(thr->heap, obj) || DUK_HOBJECT_GET_ENEXT(obj) != 1) return false;
    duk_hstring* k = DUK_HOBJECT_E_GET_KEY(thr->heap, obj, 0);
    return k && DUK_HSTRING_GET_BYTELEN(k) == sizeof kKey - 1 &&
           memcmp(DUK_HSTRING_GET_DATA(k), kKey, sizeof kKey - 1) == 0;
}

// [... obj a b] -> [... enum] where enum = [kind, obj, a, b, end, flags].
void pushEnumerator(duk_hthread* thr, Kind kind, duk_uint32_t end, duk_small_uint_t flags) {
    duk_push_array(thr);
    duk_push_uint(thr, kind);
    duk_put_prop_index(thr, -2, kKind);
    duk_dup(thr, -4);
    duk_put_prop_index(thr, -2, kTarget);
    duk_dup(thr, -3);
    duk_put_prop_index(thr, -2, kAux);
    duk_dup(thr, -2);
    duk_put_prop_index(thr, -2, kIndex);
    duk_push_uint(thr, end);
    duk_put_prop_index(thr, -2, kEnd);
    duk_push_uint(thr, flags);
    duk_put_prop_index(thr, -2, kFlags);
    duk_push_uint(thr, 0);
    duk_put_prop_index(thr, -2, kKeyAt);
    duk_push_uint(thr, 0);
    duk_put_prop_index(thr, -2, kKeyEnd);
    duk_replace(thr, -4);
    duk_pop_2(thr);
}

// [... obj] -> [... enum] where enum = [kind, obj, undefined, 0, end, flags, 0, n, keys...],
// or false (and the stack as it was) where the engine's enumerator must list the keys.
bool pushKeyList(duk_hthread* thr, Kind kind, duk_uint32_t end, duk_small_uint_t flags) {
    duk_hobject* obj = duk_known_hobject(thr, -1);
    duk_uint32_t room;
    if (!countForInKeys(thr->heap, obj, kind == kArray, &room)) return false;
    duk_tval* s = duk_push_harray_with_size_outptr(thr, kSlotCount + room);
    // Making the array may have run a finalizer that added keys: then there is no room.
    duk_uint32_t n = writeForInKeys(thr, obj, s + kSlotCount, room);
    if (n > room) {
        duk_pop(thr);
        return false;
    }
    DUK_TVAL_SET_NUMBER(s + kKind, kind);
    DUK_TVAL_SET_OBJECT(s + kTarget, obj);
    DUK_HOBJECT_INCREF(thr, obj);
    DUK_TVAL_SET_UNDEFINED(s + kAux);
    DUK_TVAL_SET_NUMBER(s + kIndex, 0);
    DUK_TVAL_SET_NUMBER(s + kEnd, end);
    DUK_TVAL_SET_NUMBER(s + kFlags, flags);
    DUK_TVAL_SET_NUMBER(s + kKeyAt, 0);
    DUK_TVAL_SET_NUMBER(s + kKeyEnd, n);
    duk_replace(thr, -2);
    return true;
}

// [... enum] -> [... enum key] (true) or [... enum] (false): the next key after the indexes
// that the object (or its prototypes) still has.
bool nextKey(duk_hthread* thr, duk_hobject* e, duk_hobject* target) {
    if (!DUK_TVAL_IS_UNDEFINED(slots(thr, e) + kAux)) {
        duk_push_tval(thr, slots(thr, e) + kAux);
        return duk_hobject_enumerator_next(thr, 0);
    }
    for (duk_uint32_t at = slotNumber(thr, e, kKeyAt), end = slotNumber(thr, e, kKeyEnd); at < end;
         at++) {
        duk_tval* s = slots(thr, e);
        DUK_TVAL_SET_NUMBER(s + kKeyAt, (duk_double_t)(at + 1));
        duk_hstring* k = DUK_TVAL_GET_STRING(s + kSlotCount + at);
        if (duk_hobject_hasprop_raw(thr, target, k)) {
            duk_push_hstring(thr, k);
            return true;
        }
    }
    return false;
}

// Errors blame the script that runs the loop (at the loop's line), not this file.
[[noreturn]] void typeError(duk_hthread* thr, const char* message) {
    duk_hthread_sync_currpc(thr);
    duk_error_raw(thr, DUK_ERR_TYPE_ERROR | DUK_ERRCODE_FLAG_NOBLAME_FILELINE, NULL, 0, "%s",
                  message);
    __builtin_unreachable();
}

bool isStopIteration(duk_hthread* thr, duk_idx_t idx) {
    idx = duk_normalize_index(thr, idx);
    duk_push_heap_stash(thr);
    duk_get_prop_literal(thr, -1, ENGINE_KEY_STOP_ITERATION);
    bool stop = duk_is_object(thr, -1) && duk_strict_equals(thr, -1, idx);
    duk_pop_2(thr);
    return stop;
}

// [... obj iteratorMethod] -> [... enum]
void createIterator(duk_hthread* thr, duk_small_uint_t flags) {
    if (!duk_is_callable(thr, -1)) typeError(thr, "__iterator__ is not a function");
    duk_dup(thr, -2);
    duk_push_boolean(thr, !(flags & engine::kEnumValues));
    duk_call_method(thr, 1); // [... obj iterator]
    if (!duk_is_object(thr, -1)) typeError(thr, "__iterator__ returned a primitive value");
    duk_get_prop_literal(thr, -1, "next");
    duk_push_undefined(thr);
    pushEnumerator(thr, kIterator, 0, flags); // [... obj enum]
    duk_replace(thr, -2);
}

// [... enum] -> [... next] (true) or [...] (false), as duk_hobject_enumerator_next.
bool stepIterator(duk_hthread* thr, duk_hobject* e) {
    duk_tval* s = slots(thr, e);
    duk_push_tval(thr, s + kAux);
    duk_push_tval(thr, s + kTarget);
    if (duk_pcall_method(thr, 0) != DUK_EXEC_SUCCESS) {
        if (!isStopIteration(thr, -1)) (void)duk_throw(thr);
        duk_pop_2(thr);
        return false;
    }
    duk_remove(thr, -2);
    return true;
}

// Pushes the key (or, for a values enumerator, the value) found at -1 (a key) and removes
// the key; numeric keys become numbers when asked.
void keyOrValue(duk_hthread* thr, duk_hobject* target, duk_small_uint_t flags) {
    if (flags & engine::kEnumValues) {
        duk_push_hobject(thr, target);
        duk_dup(thr, -2);
        duk_get_prop(thr, -2);
        duk_replace(thr, -3);
        duk_pop(thr);
    } else if (flags & engine::kEnumNumericIndexes) {
        duk_hstring* k = duk_known_hstring(thr, -1);
        duk_uarridx_t i = DUK_HSTRING_GET_ARRIDX_SLOW(k);
        if (i != DUK_HSTRING_NO_ARRAY_INDEX) {
            duk_pop(thr);
            duk_push_uint(thr, i);
        }
    }
}

bool stepKeys(duk_hthread* thr, duk_hobject* e, bool skipOwnIndexes) {
    duk_small_uint_t flags = slotNumber(thr, e, kFlags);
    duk_hobject* target = DUK_TVAL_GET_OBJECT(slots(thr, e) + kTarget);
    for (;;) {
        if (!nextKey(thr, e, target)) return false;
        // An index of the array's own was walked already (a prototype's equal key is hidden).
        if (skipOwnIndexes) {
            duk_hstring* k = duk_known_hstring(thr, -1);
            duk_propdesc desc;
            if (DUK_HSTRING_HAS_ARRIDX(k) &&
                duk_hobject_get_own_propdesc(thr, target, k, &desc, 0)) {
                duk_pop(thr);
                continue;
            }
        }
        keyOrValue(thr, target, flags);
        return true;
    }
}

bool stepArray(duk_hthread* thr, duk_hobject* e) {
    duk_small_uint_t flags = slotNumber(thr, e, kFlags);
    duk_hobject* a = DUK_TVAL_GET_OBJECT(slots(thr, e) + kTarget);
    for (duk_uint32_t i = slotNumber(thr, e, kIndex), end = slotNumber(thr, e, kEnd); i < end;
         i++) {
        DUK_TVAL_SET_NUMBER(slots(thr, e) + kIndex, (duk_double_t)(i + 1));
        if (DUK_HOBJECT_HAS_ARRAY_PART(a) && i < DUK_HOBJECT_GET_ASIZE(a)) {
            duk_tval* tv = DUK_HOBJECT_A_GET_VALUE_PTR(thr->heap, a, i);
            if (DUK_TVAL_IS_UNUSED(tv)) continue; // deleted before it was reached
            if (flags & engine::kEnumValues) {
                duk_push_tval(thr, tv);
            } else if (flags & engine::kEnumNumericIndexes) {
                duk_push_uint(thr, i);
            } else {
                duk_push_hstring(thr, duk_heap_strtable_intern_u32_checked(thr, i));
            }
        } else {
            // The array gave up its array part meanwhile: the index is an ordinary key now.
            duk_push_hstring(thr, duk_heap_strtable_intern_u32_checked(thr, i));
            if (!duk_hobject_hasprop_raw(thr, a, duk_known_hstring(thr, -1))) {
                duk_pop(thr);
                continue;
            }
            keyOrValue(thr, a, flags);
        }
        duk_remove(thr, -2);
        return true;
    }
    if (!stepKeys(thr, e, true)) {
        duk_pop(thr);
        return false;
    }
    duk_remove(thr, -2);
    return true;
}

// [... value] -> [... enum]
void createEnum(duk_hthread* thr, duk_small_uint_t flags) {
    duk_hobject* obj = duk_require_hobject(thr, -1);
    if (isEachMarker(thr, obj)) {
        flags |= engine::kEnumValues;
        duk_get_prop_literal(thr, -1, ENGINE_KEY_EACH);
        duk_remove(thr, -2);
        if (duk_is_null_or_undefined(thr, -1)) { // no iterations: NEXTENUM's null enumerator
            duk_pop(thr);
            duk_push_null(thr);
            return;
        }
        duk_to_object(thr, -1);
        obj = duk_known_hobject(thr, -1);
    }
    if (!(flags & engine::kEnumNoHook)) {
        duk_get_prop_literal(thr, -1, "__iterator__");
        if (!duk_is_undefined(thr, -1)) {
            createIterator(thr, flags);
            return;
        }
        duk_pop(thr);
    }
    if (DUK_HOBJECT_HAS_EXOTIC_ARRAY(obj) && DUK_HOBJECT_HAS_ARRAY_PART(obj) &&
        DUK_HOBJECT_GET_ASIZE(obj) > 0) {
        duk_uint32_t end = DUK_HOBJECT_GET_ASIZE(obj);
        if (pushKeyList(thr, kArray, end, flags)) return;
        duk_dup(thr, -1);
        duk_hobject_enumerator_create(thr, DUK_HOST_ENUM_SKIP_ARRAY_PART);
        duk_push_uint(thr, 0);
        pushEnumerator(thr, kArray, end, flags);
    } else if (pushKeyList(thr, kKeys, 0, flags)) {
        return;
    } else if (flags & (engine::kEnumValues | engine::kEnumNumericIndexes)) {
        duk_dup(thr, -1);
        duk_hobject_enumerator_create(thr, 0);
        duk_push_uint(thr, 0);
        pushEnumerator(thr, kKeys, 0, flags);
    } else {
        duk_hobject_enumerator_create(thr, 0);
    }
}

// [... enum] -> [... next] (true) or [...] (false)
bool nextEnum(duk_hthread* thr) {
    duk_hobject* e = duk_require_hobject(thr, -1);
    if (!DUK_HOBJECT_HAS_EXOTIC_ARRAY(e) || !DUK_HOBJECT_HAS_ARRAY_PART(e) ||
        DUK_HOBJECT_GET_ASIZE(e) < kSlotCount)
        return duk_hobject_enumerator_next(thr, 0);
    switch (slotNumber(thr, e, kKind)) {
    case kIterator:
        return stepIterator(thr, e);
    case kArray:
        return stepArray(thr, e);
    default:
        if (!stepKeys(thr, e, false)) {
            duk_pop(thr);
            return false;
        }
        duk_remove(thr, -2);
        return true;
    }
}

} // namespace

// INITENUM and NEXTENUM run these with the enumerated value, or the enumerator, one slot
// above the function's registers: taking or leaving one slot more or less would shift the
// frame's top into (or away from) its registers, so the balance is checked in debug builds.
void duk_host_enum_create(duk_hthread* thr, duk_small_uint_t flags) {
    duk_require_stack(thr, 8);
    [[maybe_unused]] const duk_idx_t top = duk_get_top(thr);
    createEnum(thr, flags);
    assert(duk_get_top(thr) == top);
}

duk_bool_t duk_host_enum_next(duk_hthread* thr) {
    duk_require_stack(thr, 8);
    [[maybe_unused]] const duk_idx_t top = duk_get_top(thr);
    bool more = nextEnum(thr);
    assert(duk_get_top(thr) == (more ? top : top - 1));
    return more;
}

// __lang.each(v): the marker that makes a for-in enumerate the values of v.
duk_ret_t duk_host_each(duk_context* ctx) {
    duk_push_bare_object(ctx);
    duk_dup(ctx, 0);
    duk_put_prop_literal(ctx, -2, ENGINE_KEY_EACH);
    return 1;
}
