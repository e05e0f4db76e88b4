// `__proto__: v` in an object literal sets the new object's prototype to v (an object or
// null; any other value is ignored), as the script language has it, for every compiled
// script, translated or not. The compiler writes such a member's key as a hidden symbol
// that no script can make (core/engine/duktape/23-proto-literal.patch); the instruction that
// defines the literal's members sets the prototype when it meets that key. Computed keys
// (`["__proto__"]`), the shorthand `{__proto__}` and methods stay plain properties.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

#define ENGINE_KEY_PROTO_MEMBER DUK_HIDDEN_SYMBOL("protoMember")

// Loads the key of a `key: value` member into reg_temp, as the compiler does.
duk_bool_t duk_host_objlit_load_key(duk_compiler_ctx* comp_ctx, duk_ivalue* res, duk_token* tok,
                                    duk_regconst_t reg_temp) {
    duk_hthread* thr = comp_ctx->thr;
    if ((tok->t_nores != DUK_TOK_IDENTIFIER && tok->t_nores != DUK_TOK_STRING) ||
        tok->str1 != DUK_HTHREAD_STRING___PROTO__(thr))
        return duk__objlit_load_key(comp_ctx, res, tok, reg_temp);
    duk_token member = *tok;
    duk_push_literal(thr, ENGINE_KEY_PROTO_MEMBER); // held here until it is a constant
    member.str1 = duk_known_hstring(thr, -1);
    duk_bool_t rc = duk__objlit_load_key(comp_ctx, res, &member, reg_temp);
    duk_pop(thr);
    return rc;
}

// For the member whose key is at key_idx (its value at key_idx + 1): sets the prototype of
// the object at obj_idx and returns true when the key is the one written above.
duk_bool_t duk_host_objlit_proto(duk_hthread* thr, duk_idx_t obj_idx, duk_idx_t key_idx) {
    static const char kKey[] = ENGINE_KEY_PROTO_MEMBER;
    duk_tval* key = thr->valstack_bottom + key_idx;
    if (!DUK_TVAL_IS_STRING(key)) return 0;
    duk_hstring* k = DUK_TVAL_GET_STRING(key);
    if (!DUK_HSTRING_HAS_SYMBOL(k) || DUK_HSTRING_GET_BYTELEN(k) != sizeof kKey - 1 ||
        memcmp(DUK_HSTRING_GET_DATA(k), kKey, sizeof kKey - 1) != 0)
        return 0;
    duk_tval* value = key + 1;
    duk_hobject* obj = duk_known_hobject(thr, obj_idx);
    if (DUK_TVAL_IS_OBJECT(value))
        DUK_HOBJECT_SET_PROTOTYPE_UPDREF(thr, obj, DUK_TVAL_GET_OBJECT(value));
    else if (DUK_TVAL_IS_NULL(value))
        DUK_HOBJECT_SET_PROTOTYPE_UPDREF(thr, obj, NULL);
    return 1;
}
