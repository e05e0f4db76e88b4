// The native of core/lang/generator.js: whether a generator's step runs on another script
// thread (its state then says running, and resuming it is an error there too).
#include "core/engine/internal.h"

namespace engine {

namespace {

// runningElsewhere(step): true while another context has step on its call stack.
duk_ret_t stepRunningElsewhere(duk_context* ctx) {
    duk_push_boolean(ctx, duk_is_function(ctx, 0) && runningElsewhere(ctx, 0));
    return 1;
}

} // namespace

extern const duk_function_list_entry kGeneratorNatives[] = {
    {"runningElsewhere", stepRunningElsewhere, 1},
    {nullptr, nullptr, 0},
};

} // namespace engine
