// The string table's links in 32 bits where pointers are 64 (83-string-links.patch): the
// table's slots and each string's link to the next string of its chain hold a code, 4 bytes
// where a pointer takes 8, which makes every string 4 bytes smaller and the table half as big.
// A string in the heap's small blocks (core/engine/small_blocks.cpp) is coded by its place
// there, (offset / 8) + 1. Any other string (a long one; any string of a heap whose blocks
// come from elsewhere) takes a slot of the far table, and its code (the top bit and the slot's
// number) sits in its own block, after the NUL and the 4 bytes of its length in code points.
// Included at the end of unit.cpp.
//
// The far table is made of chunks that never move once made, so that a code is read
// without a lock. Slots are taken and given back under a lock of their own: the heaps of
// tools and tests, on other threads, share the table with the runtime's. A free slot holds
// the number of the next free one, tagged with the low bit. The chunks are the C library's,
// kept for the process's life: a slot costs 8 bytes, for a string of 257 bytes and more.

#include <atomic>
#include <stdlib.h>
#include <thread>

// Set by the heap's small blocks once they have their range (core/engine/small_blocks.cpp).
duk_uint8_t* duk_host_small_range = nullptr;
duk_size_t duk_host_small_range_bytes = 0;

namespace {
// Room after the NUL for a far string: its length slot and its code.
constexpr duk_size_t kFarRoom = 2 * sizeof(duk_uint32_t);
} // namespace

// The block of a new string: its header, text, NUL and (not ASCII) the length trailer; one
// too long for the small blocks has room for a far code as well.
duk_size_t duk_host_string_block(duk_uint32_t blen, duk_bool_t ascii) {
    duk_size_t size = sizeof(duk_hstring) + blen + 1 + (ascii ? 0 : sizeof(duk_uint32_t));
#if defined(DUK_USE_STRING_LINK32)
    if (size > engine::kSmallMax || !duk_host_small_range)
        size = sizeof(duk_hstring) + blen + 1 + kFarRoom;
#endif
    return size;
}

#if defined(DUK_USE_STRING_LINK32)

constexpr duk_uint32_t kChunkSlots = duk_uint32_t(1) << DUK_STRLINK_CHUNK_BITS;
constexpr duk_uint32_t kFarSlots = DUK_STRLINK_FAR;
duk_hstring** duk_host_far_strings[kFarSlots / kChunkSlots];

namespace {
// A spin lock: held for a few instructions, and by more than one thread only where tools
// or tests run heaps of their own beside the runtime's.
std::atomic<bool> gFarLocked{false};
struct FarLock {
    FarLock() {
        while (gFarLocked.exchange(true, std::memory_order_acquire))
            std::this_thread::yield();
    }
    ~FarLock() { gFarLocked.store(false, std::memory_order_release); }
};
duk_uint32_t gFarMade = 0; // slots in the chunks made so far
duk_uint32_t gFarNext = 0; // slots handed out at least once
duk_uint32_t gFarFree = 0; // the first free slot + 1 (0: none)

duk_hstring*& farSlot(duk_uint32_t n) {
    return duk_host_far_strings[n >> DUK_STRLINK_CHUNK_BITS][n & (kChunkSlots - 1)];
}

// A far slot for h, or false when the table is full or no chunk could be made.
bool takeFarSlot(duk_hstring* h, duk_uint32_t* out) {
    FarLock lock;
    duk_uint32_t n;
    if (gFarFree) {
        n = gFarFree - 1;
        gFarFree = duk_uint32_t((duk_uintptr_t)farSlot(n) >> 1);
    } else {
        if (gFarNext == gFarMade) {
            if (gFarMade == kFarSlots) return false;
            auto* chunk = static_cast<duk_hstring**>(calloc(kChunkSlots, sizeof(duk_hstring*)));
            if (!chunk) return false;
            duk_host_far_strings[gFarMade >> DUK_STRLINK_CHUNK_BITS] = chunk;
            gFarMade += kChunkSlots;
        }
        n = gFarNext++;
    }
    farSlot(n) = h;
    *out = n;
    return true;
}
} // namespace

// Gives the new string *h (its text in place) its code. A string outside the small blocks
// takes a far slot; one without room for the code (a heap whose small blocks ran out, or a
// heap of the C library's blocks) first moves to a block with room. False, with *h still to
// be freed, when there is no memory for it.
duk_bool_t duk_host_string_placed(duk_heap* heap, duk_hstring** h, duk_uint32_t blen,
                                  duk_bool_t ascii) {
    if (duk_strlink_in_range(*h)) return 1;
    duk_size_t room = sizeof(duk_hstring) + blen + 1 + kFarRoom;
    if (duk_host_string_block(blen, ascii) < room) {
        auto* moved = static_cast<duk_hstring*>(DUK_REALLOC(heap, *h, room));
        if (!moved) return 0;
        *h = moved;
    }
    duk_uint32_t n;
    if (!takeFarSlot(*h, &n)) return 0;
    duk_uint32_t code = duk_uint32_t(DUK_STRLINK_FAR) | n;
    memcpy(duk_strlink_far_code(*h, blen), &code, sizeof(code));
    return 1;
}

// A string about to be freed gives back its far slot.
void duk_host_string_freed(duk_hstring* h) {
    if (duk_strlink_in_range(h)) return;
    duk_uint32_t code;
    memcpy(&code, duk_strlink_far_code(h, DUK_HSTRING_GET_BYTELEN(h)), sizeof(code));
    duk_uint32_t n = code & ~duk_uint32_t(DUK_STRLINK_FAR);
    FarLock lock;
    farSlot(n) = (duk_hstring*)((duk_uintptr_t(gFarFree) << 1) | 1);
    gFarFree = n + 1;
}

duk_uint32_t duk_host_far_slots_peak(void) {
    FarLock lock;
    return gFarNext;
}

#else // pointers of 32 bits are links as they stand

duk_bool_t duk_host_string_placed(duk_heap*, duk_hstring**, duk_uint32_t, duk_bool_t) {
    return 1;
}
void duk_host_string_freed(duk_hstring*) {}
duk_uint32_t duk_host_far_slots_peak(void) {
    return 0;
}

#endif
