// The engine's value layout: pointers of the whole user address space come back out of a
// packed value, a lightfunc runs through its offset (and one too far from the engine's
// code is refused), and an accessor's pair block is given back whatever becomes of the
// property: the heap's count returns to where it was.
#include "core/engine/internal.h"
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

namespace {

struct Stack {
    duk_context* ctx;
    duk_idx_t top;
    Stack() : ctx(engine::duk(testEngine())), top(duk_get_top(ctx)) {}
    ~Stack() { duk_set_top(ctx, top); }
};

TEST(ValueLayout, PointersOfTheWholeUserSpaceComeBack) {
    Stack s;
    void* const cases[] = {nullptr, reinterpret_cast<void*>(uintptr_t(8)), &s,
                           reinterpret_cast<void*>(uintptr_t(0x00007ffffffff000ull)),
                           reinterpret_cast<void*>(uintptr_t(0x0000800000000000ull - 8))};
    for (void* p : cases) {
        duk_push_pointer(s.ctx, p);
        EXPECT_EQ(duk_get_type(s.ctx, -1), DUK_TYPE_POINTER) << p;
        EXPECT_EQ(duk_get_pointer(s.ctx, -1), p);
        duk_pop(s.ctx);
    }
}

duk_ret_t fortyTwo(duk_context* ctx) {
    duk_push_int(ctx, 42 + duk_get_current_magic(ctx));
    return 1;
}

duk_ret_t pushFar(duk_context* ctx, void*) {
    // A function of the C library, mapped far from the engine's code.
    duk_push_c_lightfunc(
        ctx, reinterpret_cast<duk_c_function>(reinterpret_cast<void (*)()>(&fputs)), 0, 0, 0);
    return 1;
}

TEST(ValueLayout, ALightfuncRunsAndOneOutOfReachIsRefused) {
    Stack s;
    duk_push_c_lightfunc(s.ctx, fortyTwo, 0, 0, 3);
    EXPECT_TRUE(duk_is_lightfunc(s.ctx, -1));
    duk_call(s.ctx, 0);
    EXPECT_EQ(duk_get_int(s.ctx, -1), 45);
    duk_pop(s.ctx);
    duk_int_t rc = duk_safe_call(s.ctx, pushFar, nullptr, 0, 1);
    bool far = (reinterpret_cast<uintptr_t>(&fputs) - reinterpret_cast<uintptr_t>(&fortyTwo) +
                (uintptr_t(1) << 31)) >>
                   32 !=
               0;
#if defined(DUK_USE_PACKED_TVAL) && UINTPTR_MAX > 0xffffffffu
    if (far) {
        EXPECT_EQ(rc, DUK_EXEC_ERROR);
        EXPECT_EQ(duk_get_error_code(s.ctx, -1), DUK_ERR_TYPE_ERROR);
        return;
    }
#endif
    (void)far;
    EXPECT_EQ(rc, DUK_EXEC_SUCCESS);
}

TEST(ValueLayout, AccessorPairBlocksAreGivenBack) {
    HostContext* cx = testEngine();
    Stack s;
    const char* source =
        "(function () {"
        "  var keep = [];"
        "  for (var i = 0; i < 5000; i++) {"
        "    var o = {get a() { return 1; }, set a(v) {}, b: i};"
        "    Object.defineProperty(o, 'b', {get: function () { return 2; }, configurable: true});"
        "    Object.defineProperty(o, 'a', {value: 3, configurable: true});"
        "    o.__defineSetter__('c', function (v) {});"
        "    delete o.c;"
        "    o.self = o;"
        "    keep.push(o);"
        "  }"
        "  return keep.length;"
        "})()";
    engine::collectGarbage(cx);
    size_t before = engine::heapBytes();
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(duk_peval_string(s.ctx, source), 0) << duk_safe_to_string(s.ctx, -1);
        EXPECT_EQ(duk_get_int(s.ctx, -1), 5000);
        duk_pop(s.ctx);
        engine::collectGarbage(cx);
    }
    // 15 000 objects each left a pair behind if any path kept its block: 240 kB and more.
    EXPECT_LT(engine::heapBytes(), before + 64 * 1024);
}

// Strings outside the heap's small blocks take slots of the far table: long ones here, and
// every string of a heap whose blocks come from the C library. Each gives its slot back as it
// is freed, so rounds of as many strings take no more slots than the first; and a string
// made again is found in the string table (the same string, so the same key).
TEST(ValueLayout, FarStringsGiveBackTheirSlots) {
    HostContext* cx = testEngine();
    Stack s;
    duk_context* plain = duk_create_heap_default();
    ASSERT_NE(plain, nullptr);
    const char* source =
        "(function () {"
        "  var keep = [], o = {}, pad = new Array(300).join('x');"
        "  for (var i = 0; i < 20000; i++) { keep.push(pad + i); o[keep[i]] = i; }"
        "  for (var i = 0; i < 20000; i += 997) if (o[pad + i] !== i) return 'lost ' + i;"
        "  for (var i = 0; i < 3000; i++) o['k' + i] = i;"
        "  for (var i = 0; i < 3000; i += 7) if (o['k' + i] !== i) return 'lost k' + i;"
        "  return 'ok';"
        "})()";
    duk_uint32_t peak = 0;
    for (int round = 0; round < 3; round++) {
        for (duk_context* ctx : {s.ctx, plain}) {
            ASSERT_EQ(duk_peval_string(ctx, source), 0) << duk_safe_to_string(ctx, -1);
            EXPECT_STREQ(duk_get_string(ctx, -1), "ok");
            duk_pop(ctx);
            duk_gc(ctx, 0);
        }
        engine::collectGarbage(cx);
        if (round == 0) peak = duk_host_far_slots_peak();
    }
    EXPECT_EQ(duk_host_far_slots_peak(), peak);
    duk_destroy_heap(plain);
}

} // namespace
