// The error constructors as scripts know them: new Error(message, fileName, lineNumber).
// The engine's own take the message only; each global error constructor is wrapped so
// that the file name and line number given after it become the error's own, which makes
// the printed form of an error, (new Error("m", "f.js", 3)), evaluate back to its like.
// InternalError, the class of "too much recursion" and "out of memory", is one more kind
// of Error: its constructor makes an Error and gives it InternalError.prototype.
#include "core/lang/lang.h"

namespace engine {

namespace {

#define ERROR_KEY_TARGET DUK_HIDDEN_SYMBOL("errorTarget")
#define ERROR_KEY_PROTOTYPE DUK_HIDDEN_SYMBOL("errorPrototype") // of a kind the engine lacks

const char* const kErrorClasses[] = {"Error",       "EvalError", "RangeError", "ReferenceError",
                                     "SyntaxError", "TypeError", "URIError"};

constexpr duk_uint_t kHidden = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                               DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE;

// Calls or constructs the engine's constructor with the message alone; being a native
// without a file name, this wrapper is never what the error blames.
duk_ret_t errorWithLocation(duk_context* ctx) {
    duk_idx_t argc = duk_get_top(ctx);
    duk_push_current_function(ctx);
    duk_get_prop_literal(ctx, -1, ERROR_KEY_TARGET);
    duk_idx_t n = argc > 0 ? 1 : 0;
    if (n) duk_dup(ctx, 0);
    if (duk_is_constructor_call(ctx))
        duk_new(ctx, n);
    else
        duk_call(ctx, n);
    if (duk_get_prop_literal(ctx, -2, ERROR_KEY_PROTOTYPE))
        duk_set_prototype(ctx, -2);
    else
        duk_pop(ctx);
    if (argc > 1 && !duk_is_undefined(ctx, 1)) {
        duk_push_literal(ctx, "fileName");
        duk_dup(ctx, 1);
        duk_to_string(ctx, -1);
        duk_def_prop(ctx, -3, kHidden);
    }
    if (argc > 2 && !duk_is_undefined(ctx, 2)) {
        duk_push_literal(ctx, "lineNumber");
        duk_push_uint(ctx, duk_to_uint32(ctx, 2));
        duk_def_prop(ctx, -3, kHidden);
    }
    return 1;
}

// InternalError: a constructor whose target is the engine's Error and whose prototype
// inherits from Error.prototype, named InternalError, with an empty message; the engine
// gives that prototype to the errors it raises of that kind.
void installInternalError(duk_context* ctx) {
    duk_push_global_object(ctx);
    duk_push_c_function(ctx, errorWithLocation, DUK_VARARGS); // [global ctor]
    duk_get_prop_literal(ctx, -2, "Error");
    duk_get_prop_literal(ctx, -1, ERROR_KEY_TARGET);
    duk_put_prop_literal(ctx, -3, ERROR_KEY_TARGET);
    duk_push_object(ctx); // [global ctor Error proto]
    duk_get_prop_literal(ctx, -2, "prototype");
    duk_set_prototype(ctx, -2);
    duk_remove(ctx, -2);
    duk_push_literal(ctx, "name");
    duk_push_literal(ctx, "InternalError");
    duk_def_prop(ctx, -3, kHidden);
    duk_push_literal(ctx, "message");
    duk_push_literal(ctx, "");
    duk_def_prop(ctx, -3, kHidden);
    duk_push_literal(ctx, "constructor");
    duk_dup(ctx, -3);
    duk_def_prop(ctx, -3, kHidden);
    duk_host_set_internal_error(ctx, -1);
    duk_dup(ctx, -1);
    duk_put_prop_literal(ctx, -3, ERROR_KEY_PROTOTYPE);
    duk_push_literal(ctx, "prototype"); // [global ctor proto "prototype"]
    duk_insert(ctx, -2);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_CLEAR_WEC);
    duk_push_literal(ctx, "length");
    duk_push_uint(ctx, 1);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    duk_push_literal(ctx, "name");
    duk_push_literal(ctx, "InternalError");
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    duk_push_literal(ctx, "InternalError");
    duk_insert(ctx, -2);
    duk_def_prop(ctx, -3, kHidden); // global.InternalError, as the other kinds are defined
    duk_pop(ctx);
}

} // namespace

// The wrapper takes the engine constructor's place on the global object, its prototype,
// name and length; the prototype's constructor points back to it. Errors that the engine
// raises itself still have that prototype, so instanceof holds for them as well.
void installErrorArguments(duk_context* ctx) {
    duk_push_global_object(ctx);
    for (const char* name : kErrorClasses) {
        duk_get_prop_string(ctx, -1, name); // [global original]
        duk_push_c_function(ctx, errorWithLocation, DUK_VARARGS);
        duk_dup(ctx, -2);
        duk_put_prop_literal(ctx, -2, ERROR_KEY_TARGET);
        duk_push_literal(ctx, "length");
        duk_push_uint(ctx, 1);
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
        duk_push_literal(ctx, "name");
        duk_push_string(ctx, name);
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
        duk_push_literal(ctx, "prototype");
        duk_get_prop_literal(ctx, -3, "prototype");
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_CLEAR_WEC);
        duk_get_prop_literal(ctx, -2, "prototype"); // [global original wrapper proto]
        duk_push_literal(ctx, "constructor");
        duk_dup(ctx, -3);
        duk_def_prop(ctx, -3, kHidden);
        duk_pop(ctx);
        duk_put_prop_string(ctx, -3, name); // global[name] = wrapper
        duk_pop(ctx);
    }
    duk_pop(ctx);
    installInternalError(ctx);
}

} // namespace engine
