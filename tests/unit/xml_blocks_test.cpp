// The XML model's small blocks: each block of a size holds its bytes apart from every other
// one in use, is aligned as its size asks, and comes back for reuse once given back.
#include "core/xml/blocks.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>
#include <vector>

namespace {

using namespace xml;

TEST(XmlBlocks, BlocksHoldTheirBytesApartAndAligned) {
    // Sizes across the small classes and past them; 3000 blocks span several pages.
    const size_t sizes[] = {1, 8, 12, 16, 24, 40, 120, 256, 257, 4096};
    for (size_t size : sizes) {
        std::vector<unsigned char*> blocks;
        for (int i = 0; i < 3000; i++) {
            auto* b = static_cast<unsigned char*>(takeBlock(size));
            ASSERT_NE(b, nullptr);
            uintptr_t at = reinterpret_cast<uintptr_t>(b);
            EXPECT_EQ(at % (size % 16 == 0 ? 16 : 8), 0u) << size;
            memset(b, i & 0xFF, size);
            blocks.push_back(b);
        }
        for (size_t i = 0; i < blocks.size(); i++)
            for (size_t j = 0; j < size; j++)
                ASSERT_EQ(blocks[i][j], i & 0xFF) << size << " " << i;
        // Every other one back and taken again: the blocks still held keep their bytes.
        for (size_t i = 0; i < blocks.size(); i += 2)
            giveBlock(blocks[i], size);
        for (size_t i = 0; i < blocks.size(); i += 2) {
            blocks[i] = static_cast<unsigned char*>(takeBlock(size));
            memset(blocks[i], 0xAB, size);
        }
        for (size_t i = 1; i < blocks.size(); i += 2)
            for (size_t j = 0; j < size; j++)
                ASSERT_EQ(blocks[i][j], i & 0xFF) << size << " " << i;
        for (unsigned char* b : blocks)
            giveBlock(b, size);
    }
}

} // namespace
