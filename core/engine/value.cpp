// The value word on the value stack, engine work under protection, and the raising of a
// native's pending error.
#include "core/engine/internal.h"

#include "core/engine/text.h"

#include <string.h>

namespace engine {

// ---- the value word ----------------------------------------------------------------

static HostValue tagged(uint64_t tag, void* p) {
    return (tag << HOST_TAG_SHIFT) | static_cast<HostValue>(reinterpret_cast<uintptr_t>(p));
}

HostValue box(duk_context* ctx, duk_idx_t idx) {
    switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_NUMBER:
        return hostNumber(duk_get_number(ctx, idx));
    case DUK_TYPE_STRING:
        return tagged(HOST_TAG_STRING, duk_get_heapptr(ctx, idx));
    case DUK_TYPE_OBJECT:
        return tagged(HOST_TAG_OBJECT, duk_get_heapptr(ctx, idx));
    case DUK_TYPE_BOOLEAN:
        return hostBoolean(duk_get_boolean(ctx, idx));
    case DUK_TYPE_NULL:
        return HOST_NULL;
    case DUK_TYPE_BUFFER:
    case DUK_TYPE_LIGHTFUNC:
        duk_to_object(ctx, idx); // their object forms are what scripts see
        return tagged(HOST_TAG_OBJECT, duk_get_heapptr(ctx, idx));
    default:
        return HOST_UNDEFINED;
    }
}

void push(duk_context* ctx, HostValue v) {
    switch (hostTag(v)) {
    case HOST_TAG_UNDEFINED:
        duk_push_undefined(ctx);
        return;
    case HOST_TAG_NULL:
        duk_push_null(ctx);
        return;
    case HOST_TAG_BOOLEAN:
        duk_push_boolean(ctx, hostToBoolean(v));
        return;
    case HOST_TAG_STRING:
    case HOST_TAG_OBJECT:
        duk_push_heapptr(ctx,
                         reinterpret_cast<void*>(static_cast<uintptr_t>(v & HOST_PAYLOAD_MASK)));
        return;
    default:
        duk_push_number(ctx, hostToDouble(v));
    }
}

// ---- protected engine work -----------------------------------------------------------

void setPending(duk_context* ctx, duk_idx_t idx) {
    thread().pending = duk_normalize_index(ctx, idx);
}

bool protect(duk_context* ctx, int nrets, duk_ret_t (*f)(duk_context*, void*), void* udata) {
    if (!duk_check_stack(ctx, nrets + 4)) {
        thread().stackFull = true;
        return false;
    }
    if (duk_safe_call(ctx, f, udata, 0, nrets) == DUK_EXEC_SUCCESS) return true;
    setPending(ctx, -nrets);
    thread().slotThrew = true;
    return false;
}

SlotMark slotMark() {
    return SlotMark{thread().pending, thread().slotThrew};
}

void refused(const SlotMark& before) {
    ThreadState& ts = thread();
    if (before.slotThrew) ts.pending = before.pending;
    ts.slotThrew = before.slotThrew;
}

[[noreturn]] void raisePending(duk_context* ctx) {
    int p = thread().pending;
    if (p >= 0 && p < duk_get_top(ctx)) {
        duk_dup(ctx, p);
        duk_throw(ctx);
    }
    if (thread().stackFull)
        duk_error_raw(ctx, DUK_ERR_RANGE_ERROR | kNoBlame, nullptr, 0,
                      "too many values in one native call");
    duk_error_raw(ctx, DUK_ERR_ERROR | kNoBlame, nullptr, 0, "native function failed");
    __builtin_unreachable();
}

void pushName(duk_context* ctx, const char* name) {
    pushBytes(ctx, name, strlen(name));
}

} // namespace engine
