// The natives of core/lang/generics.js: the generic form of a prototype method (the
// method called with its first argument as `this`), and String.prototype.quote.
#include "core/lang/lang.h"
#include "core/engine/text.h"

namespace engine {

namespace {

#define GENERIC_KEY_METHOD DUK_HIDDEN_SYMBOL("method")

// A generic: method.call(arg0, arg1, ...).
duk_ret_t callGeneric(duk_context* ctx) {
    if (duk_get_top(ctx) == 0) duk_push_undefined(ctx);
    duk_idx_t nargs = duk_get_top(ctx) - 1;
    duk_push_current_function(ctx);
    duk_get_prop_literal(ctx, -1, GENERIC_KEY_METHOD);
    duk_remove(ctx, -2);
    duk_insert(ctx, 0);
    duk_call_method(ctx, nargs);
    return 1;
}

// generic(method, name): the generic of method, named name, one argument longer.
duk_ret_t makeGeneric(duk_context* ctx) {
    duk_int_t length = 1;
    duk_get_prop_literal(ctx, 0, "length");
    if (duk_is_number(ctx, -1)) length += duk_get_int(ctx, -1);
    duk_pop(ctx);
    duk_push_c_function(ctx, callGeneric, DUK_VARARGS);
    duk_dup(ctx, 0);
    duk_put_prop_literal(ctx, -2, GENERIC_KEY_METHOD);
    duk_push_literal(ctx, "name");
    duk_dup(ctx, 1);
    duk_def_prop(ctx, -3,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_SET_CONFIGURABLE);
    duk_push_literal(ctx, "length");
    duk_push_int(ctx, length);
    duk_def_prop(ctx, -3,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_SET_CONFIGURABLE);
    return 1;
}

// String.prototype.quote(): the string as a double-quoted literal, as uneval writes it.
duk_ret_t quote(duk_context* ctx) {
    duk_push_this(ctx);
    if (duk_is_null_or_undefined(ctx, -1))
        duk_error_raw(ctx, DUK_ERR_TYPE_ERROR | kNoBlame, nullptr, 0, "quote: no string");
    duk_to_string(ctx, -1);
    size_t n;
    const uint16_t* c = readChars(ctx, -1, &n);
    std::string text;
    appendQuoted(text, c, n, '"');
    pushBytes(ctx, text.data(), text.size());
    return 1;
}

} // namespace

extern const duk_function_list_entry kGenericNatives[] = {
    {"generic", makeGeneric, 2},
    {"quote", quote, 0},
    {nullptr, nullptr, 0},
};

} // namespace engine
