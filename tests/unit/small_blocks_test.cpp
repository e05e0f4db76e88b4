// The engine heap's small blocks: sizes rounded up to 8, alignment, reuse of a freed block,
// and a page emptied by one size taken by another.
#include "core/engine/internal.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>
#include <vector>

namespace {

TEST(SmallBlocks, SizesAndAlignment) {
    void* any = engine::smallAlloc(8);
    if (!any) GTEST_SKIP() << "no small blocks in this build";
    engine::smallFree(any);
    struct Case {
        size_t asked, size, align;
    } cases[] = {{0, 8, 8}, {1, 8, 8}, {24, 24, 8}, {25, 32, 16}, {56, 56, 8}, {256, 256, 16}};
    for (const Case& c : cases) {
        void* p = engine::smallAlloc(c.asked);
        ASSERT_NE(p, nullptr) << c.asked;
        EXPECT_EQ(engine::smallSize(p), c.size) << c.asked;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % c.align, 0u) << c.asked;
        memset(p, 0xab, c.size);
        engine::smallFree(p);
    }
    EXPECT_EQ(engine::smallAlloc(engine::kSmallMax + 1), nullptr);
    int onStack = 0;
    std::vector<char> fromMalloc(64);
    EXPECT_EQ(engine::smallSize(&onStack), 0u);
    EXPECT_EQ(engine::smallSize(fromMalloc.data()), 0u);
}

TEST(SmallBlocks, FreedMemoryIsReused) {
    void* any = engine::smallAlloc(8);
    if (!any) GTEST_SKIP() << "no small blocks in this build";
    engine::smallFree(any);
    // A freed block is the next one given out for its size.
    void* a = engine::smallAlloc(40);
    engine::smallFree(a);
    EXPECT_EQ(engine::smallAlloc(40), a);
    engine::smallFree(a);

    // Pages of 48-byte blocks, all freed but the last page, come back for 200-byte blocks:
    // the same memory, not new pages.
    std::vector<void*> small;
    for (int i = 0; i < 20000; i++)
        small.push_back(engine::smallAlloc(48));
    uintptr_t low = UINTPTR_MAX, high = 0;
    for (void* p : small) {
        low = std::min(low, reinterpret_cast<uintptr_t>(p));
        high = std::max(high, reinterpret_cast<uintptr_t>(p));
    }
    for (void* p : small)
        engine::smallFree(p);
    int inside = 0;
    std::vector<void*> large;
    for (int i = 0; i < 4000; i++) {
        void* p = engine::smallAlloc(200);
        large.push_back(p);
        uintptr_t at = reinterpret_cast<uintptr_t>(p);
        inside += at >= low && at <= high;
    }
    EXPECT_GT(inside, 3000);
    for (void* p : large)
        engine::smallFree(p);
}

} // namespace
