// InternalError, the error of a task past the engine's limits (core/engine/internal.h): an
// error of the InternalError class that the language library makes (an Error until it has).
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

void duk_host_throw_internal_error(duk_context* ctx, const char* message) {
    duk_push_error_object(ctx, DUK_ERR_HOST_INTERNAL_ERROR | engine::kNoBlame, "%s", message);
    duk_throw(ctx);
    __builtin_unreachable();
}
