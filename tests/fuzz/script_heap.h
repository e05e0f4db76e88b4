// A bare engine heap for the fuzz targets that build values, with uneval installed and
// same(a, b, loose): deep equality that tells -0 from 0, holes from undefined and key order
// apart. Loose, numbers may differ in their last bits: the engine's own number parser is
// not exact for some texts (beyond 2^53, some tiny ones), unlike strtod.
#ifndef CAPSULE_FUZZ_SCRIPT_HEAP_H
#define CAPSULE_FUZZ_SCRIPT_HEAP_H

#include "core/lang/lang.h"

#include <stdio.h>
#include <stdlib.h>

namespace fuzz {

inline const char* kSame = R"(
(function same(a, b, loose) {
    if (typeof a !== typeof b) return false;
    if (typeof a === 'number')
        return Object.is(a, b) || (loose && Math.abs(a - b) <= Math.abs(a) * 1e-15);
    if (a === null || b === null || typeof a !== 'object') return a === b;
    if (Object.prototype.toString.call(a) !== Object.prototype.toString.call(b) ||
        Object.getPrototypeOf(a) !== Object.getPrototypeOf(b)) return false;
    if (a instanceof Date || a instanceof Number || a instanceof String || a instanceof Boolean)
        return same(a.valueOf(), b.valueOf(), loose);
    var ka = Object.keys(a), kb = Object.keys(b);
    if (JSON.stringify(ka) !== JSON.stringify(kb) || a.length !== b.length) return false;
    for (var i = 0; i < ka.length; i++)
        if (!same(a[ka[i]], b[ka[i]], loose)) return false;
    return true;
}))";

// The heap lives for the whole run; each input leaves its value stack empty.
inline duk_context* heap() {
    static duk_context* ctx = [] {
        duk_context* c = duk_create_heap_default();
        if (!c) abort();
        engine::installUneval(c);
        duk_push_global_stash(c);
        if (duk_peval_string(c, kSame) != 0) abort();
        duk_put_prop_string(c, -2, "same");
        duk_pop(c);
        return c;
    }();
    return ctx;
}

// Aborts, for the fuzzer to keep the input, unless the values at a and b are the same.
inline void expectSame(duk_context* ctx, duk_idx_t a, duk_idx_t b, bool loose, const char* what) {
    a = duk_normalize_index(ctx, a);
    b = duk_normalize_index(ctx, b);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, "same");
    duk_dup(ctx, a);
    duk_dup(ctx, b);
    duk_push_boolean(ctx, loose);
    if (duk_pcall(ctx, 3) != 0 || !duk_to_boolean(ctx, -1)) {
        fprintf(stderr, "%s: the values differ\n", what);
        duk_peval_string(ctx, "(function (a, b) { return uneval(a) + '\\n' + uneval(b); })");
        duk_dup(ctx, a);
        duk_dup(ctx, b);
        duk_pcall(ctx, 2);
        fprintf(stderr, "%s\n", duk_safe_to_string(ctx, -1));
        abort();
    }
    duk_pop_2(ctx);
}

// Evaluates n bytes of engine-encoded source; true with the result on top, false with the
// error there.
inline bool evaluate(duk_context* ctx, const char* source, size_t n) {
    return duk_peval_lstring(ctx, source, n) == 0;
}

} // namespace fuzz

#endif
