// InternalError, the error of a task past the engine's limits (core/engine/internal.h).
// Until the language library has the InternalError class, it is an Error whose own `name`
// is "InternalError": `e.name`, String(e) and the error reporter read that; its prototype
// and constructor are Error's. Built into the engine's library, beside the compilation
// unit whose hooks raise it.
#include "core/engine/internal.h"

void duk_host_throw_internal_error(duk_context* ctx, const char* message) {
    duk_push_error_object(ctx, DUK_ERR_ERROR | engine::kNoBlame, "%s", message);
    duk_push_literal(ctx, "InternalError");
    duk_put_prop_literal(ctx, -2, "name");
    duk_throw(ctx);
    __builtin_unreachable();
}
