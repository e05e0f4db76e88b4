// The natives of the iteration units (core/lang/iterator.js, core/lang/each.js): the
// Iterator constructor and its next(), and the registration of StopIteration, which the
// for-in of core/engine/duktape/forin.cpp recognises as the end of an iterator.
#include "core/engine/internal.h"

namespace engine {

namespace {

#define ITERATOR_KEY_TARGET DUK_HIDDEN_SYMBOL("iterTarget")
#define ITERATOR_KEY_ENUM DUK_HIDDEN_SYMBOL("iterEnum")
#define ITERATOR_KEY_KEYS DUK_HIDDEN_SYMBOL("iterKeys")

[[noreturn]] void typeError(duk_context* ctx, const char* message) {
    duk_error_raw(ctx, DUK_ERR_TYPE_ERROR | kNoBlame, nullptr, 0, "%s", message);
    __builtin_unreachable();
}

// Iterator(obj [, keysOnly]): obj's own __iterator__(keysOnly) when it has one and this
// is a call, otherwise a new iterator over obj's enumerable properties in for-in order.
duk_ret_t iteratorConstruct(duk_context* ctx) {
    if (duk_is_null_or_undefined(ctx, 0)) typeError(ctx, "Iterator: no object to iterate");
    bool keysOnly = duk_to_boolean(ctx, 1);
    duk_to_object(ctx, 0);
    if (duk_is_constructor_call(ctx)) {
        duk_push_this(ctx);
    } else {
        duk_get_prop_literal(ctx, 0, "__iterator__");
        if (!duk_is_undefined(ctx, -1)) {
            duk_dup(ctx, 0);
            duk_push_boolean(ctx, keysOnly);
            duk_call_method(ctx, 1);
            if (!duk_is_object(ctx, -1)) typeError(ctx, "__iterator__ returned a primitive value");
            return 1;
        }
        duk_push_object(ctx);
        duk_push_current_function(ctx);
        duk_get_prop_literal(ctx, -1, "prototype");
        if (duk_is_object(ctx, -1))
            duk_set_prototype(ctx, -3);
        else
            duk_pop(ctx);
        duk_pop(ctx);
    }
    duk_dup(ctx, 0);
    duk_put_prop_literal(ctx, -2, ITERATOR_KEY_TARGET);
    duk_dup(ctx, 0);
    duk_host_enum_create(ctx, kEnumNoHook | kEnumNumericIndexes);
    duk_put_prop_literal(ctx, -2, ITERATOR_KEY_ENUM);
    duk_push_boolean(ctx, keysOnly);
    duk_put_prop_literal(ctx, -2, ITERATOR_KEY_KEYS);
    return 1;
}

// next(): the next key, or [key, value]; StopIteration at the end.
duk_ret_t iteratorNext(duk_context* ctx) {
    duk_push_this(ctx);
    if (!duk_is_object(ctx, -1) || !duk_get_prop_literal(ctx, -1, ITERATOR_KEY_ENUM))
        typeError(ctx, "Iterator.prototype.next called on an object that is not an Iterator");
    if (!duk_host_enum_next(ctx)) { // [this key]
        duk_push_heap_stash(ctx);
        duk_get_prop_literal(ctx, -1, ENGINE_KEY_STOP_ITERATION);
        (void)duk_throw(ctx);
    }
    duk_get_prop_literal(ctx, -2, ITERATOR_KEY_KEYS);
    if (duk_get_boolean(ctx, -1)) {
        duk_pop(ctx);
        return 1;
    }
    duk_pop(ctx);
    duk_push_array(ctx);
    duk_dup(ctx, -2);
    duk_put_prop_index(ctx, -2, 0);
    duk_get_prop_literal(ctx, -3, ITERATOR_KEY_TARGET);
    duk_dup(ctx, -3);
    duk_get_prop(ctx, -2);
    duk_put_prop_index(ctx, -3, 1);
    duk_pop(ctx);
    return 1;
}

// __iterator__(): an iterator is its own.
duk_ret_t iteratorSelf(duk_context* ctx) {
    duk_push_this(ctx);
    return 1;
}

// register(stop): the object that ends an iteration.
duk_ret_t registerStop(duk_context* ctx) {
    duk_push_heap_stash(ctx);
    duk_dup(ctx, 0);
    duk_put_prop_literal(ctx, -2, ENGINE_KEY_STOP_ITERATION);
    return 0;
}

} // namespace

extern const duk_function_list_entry kIteratorNatives[] = {
    {"Iterator", iteratorConstruct, 2},
    {"next", iteratorNext, 0},
    {"__iterator__", iteratorSelf, 1},
    {"register", registerStop, 1},
    {nullptr, nullptr, 0},
};

extern const duk_function_list_entry kEachNatives[] = {
    {"each", duk_host_each, 1},
    {nullptr, nullptr, 0},
};

} // namespace engine
