// The older library's regular expressions: a regular expression called as a function
// (`/a+/("caaat")` is `/a+/.exec("caaat")`, from the patched call set-up) and
// RegExp.prototype.compile, which gives an existing regular expression a new pattern in
// place. typeof stays "object": only the call itself is accepted, so that code which tests
// typeof, or the library's callability checks (Array.prototype.map(/a/) is a TypeError),
// see a regular expression as they always did.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

namespace {

// The engine's own exec, made once and kept reachable from the heap stash: a script that
// replaces RegExp.prototype.exec does not change what a call of a regular expression does.
duk_hobject* gRegExpExec = nullptr;

bool isRegExp(duk_tval* tv) {
    return DUK_TVAL_IS_OBJECT(tv) &&
           DUK_HOBJECT_GET_CLASS_NUMBER(DUK_TVAL_GET_OBJECT(tv)) == DUK_HOBJECT_CLASS_REGEXP;
}

// A TypeError that blames the calling script's line.
[[noreturn]] void regexpTypeError(duk_hthread* thr, const char* message) {
    duk_error_raw(thr, DUK_ERR_TYPE_ERROR | DUK_ERRCODE_FLAG_NOBLAME_FILELINE, nullptr, 0, "%s",
                  message);
    __builtin_unreachable();
}

} // namespace

duk_bool_t duk_host_regexp_value(duk_tval* tv) {
    return isRegExp(tv);
}

// The call of the value at idx_func (its `this` at idx_func + 1) when that value is not
// callable: for a regular expression, its exec takes the callee's place and the regular
// expression becomes `this`, and true is returned (the call goes on with them).
duk_bool_t duk_host_regexp_callee(duk_hthread* thr, duk_idx_t idx_func) {
    duk_tval* tv = DUK_GET_TVAL_POSIDX(thr, idx_func);
    if (!isRegExp(tv)) return 0;
    if (!gRegExpExec) {
        duk_push_c_function(thr, duk_bi_regexp_prototype_exec, 1);
        gRegExpExec = duk_known_hobject(thr, -1);
        duk_push_heap_stash(thr);
        duk_dup(thr, -2);
        duk_put_prop_literal(thr, -2, DUK_HIDDEN_SYMBOL("regexpExec"));
        duk_pop_2(thr);
    }
    duk_dup(thr, idx_func);
    duk_replace(thr, idx_func + 1);
    duk_push_hobject(thr, gRegExpExec);
    duk_replace(thr, idx_func);
    return 1;
}

// re.compile(source, flags): re matches what new RegExp(source, flags) would, from
// lastIndex 0, and is returned. A regular expression as the source gives its pattern and
// flags (flags beside it are a TypeError, as for the constructor of that language level).
// Nothing changes when the pattern does not compile or lastIndex cannot be written.
duk_ret_t duk_host_regexp_compile(duk_context* ctx) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_push_this(thr);
    duk_hobject* re = duk_get_hobject(thr, -1);
    if (!re || DUK_HOBJECT_GET_CLASS_NUMBER(re) != DUK_HOBJECT_CLASS_REGEXP)
        regexpTypeError(thr, "compile: not a regular expression");
    duk_idx_t self = duk_get_top_index(thr);
    duk_hobject* source = duk_get_hobject(thr, 0);
    if (source && DUK_HOBJECT_GET_CLASS_NUMBER(source) == DUK_HOBJECT_CLASS_REGEXP) {
        if (!duk_is_undefined(thr, 1))
            regexpTypeError(thr, "can't supply flags when constructing one RegExp from another");
        duk_get_prop_stridx_short(thr, 0, DUK_STRIDX_SOURCE);
        duk_get_prop_stridx(thr, 0, DUK_STRIDX_FLAGS);
    } else {
        for (duk_idx_t i = 0; i < 2; i++) {
            if (duk_is_undefined(thr, i))
                duk_push_hstring_empty(thr);
            else
                duk_dup(thr, i);
            duk_to_string(thr, -1);
        }
    }
    duk_regexp_compile(thr); // [... escaped_source bytecode]
    duk_push_int(thr, 0);
    duk_put_prop_stridx_short(thr, self, DUK_STRIDX_LAST_INDEX); // natives are strict: throws
    duk_xdef_prop_stridx_short(thr, self, DUK_STRIDX_INT_BYTECODE, DUK_PROPDESC_FLAGS_NONE);
    duk_xdef_prop_stridx_short(thr, self, DUK_STRIDX_INT_SOURCE, DUK_PROPDESC_FLAGS_NONE);
    duk_dup(thr, self);
    return 1;
}
