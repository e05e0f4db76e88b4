// The engine heap's allocator. Small blocks come from small_blocks.cpp, the others from
// the C library. Every block is counted by the size that it has (its size class, or
// malloc_usable_size), so a free or a reallocation needs no header of its own to keep the
// count exact. Two marks bound the count:
// - growth: once the heap holds kCollectFloor, an allocation that takes it past twice what
//   the last collection left is refused once; the engine then collects and asks again,
//   which passes. Garbage that reference counts alone never free (cycles) goes before the
//   heap has doubled, so the peak stays near what is live.
// - the ceiling (kHeapLimit): past it an allocation fails; the engine collects, retries,
//   and throws a catchable "out of memory" Error. While the engine makes that error (or
//   any error), and while the host reports an uncaught one, allocations may go past the
//   ceiling into a reserve (kErrorReserve), so the error always gets its message, file and
//   line. The script that catches an error made there then has a little room (kGrace,
//   from the first half of the reserve) to enter its catch and let go of what it held;
//   that room ends once the heap is well below the ceiling again. A try entered and a catch
//   clause begun take their few blocks from the reserve too (49-catch-reserve.patch), so a
//   script on a full heap can always reach its catch.
#include "core/engine/internal.h"

#include "platforms/block_size.h"

#include <algorithm>
#include <atomic>
#include <stdlib.h>
#include <string.h>

namespace engine {

namespace {
using platform::blockSize;

constexpr size_t kCollectFloor = size_t(32) << 20;
constexpr size_t kErrorReserve = size_t(1) << 20;
constexpr size_t kGrace = size_t(64) << 10;

std::atomic<size_t> gHeapBytes{0};
std::atomic<size_t> gCollectAt{kCollectFloor}; // the growth mark (0: every allocation asks)
std::atomic<size_t> gSavedMark{0};             // the growth mark while it is 0
std::atomic<bool> gRefused{false};             // refused at the growth mark, not asked again yet
std::atomic<bool> gAtCeiling{false};           // refused at the ceiling: an error may follow
std::atomic<size_t> gGraceEnd{0};              // room after an out-of-memory error, or 0
std::atomic<int> gReserveUsers{0};             // reserveScope()s open

bool inReserve() {
    if (gReserveUsers.load(std::memory_order_relaxed) > 0) return true;
    HostContext* main = mainContext();
    return main && duk_host_creating_error(duk(main));
}

// After a refusal at the ceiling every allocation comes here until the engine either got
// its memory after collecting, or makes the out-of-memory error.
void leaveCeiling() {
    if (gAtCeiling.exchange(false, std::memory_order_relaxed))
        gCollectAt.store(gSavedMark.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

bool admitPastCeiling(size_t now, size_t grow) {
    // A try entered or a catch clause begun: a few small blocks, given back when the script
    // lets go of what it held.
    if (duk_host_catching()) return now + grow <= kHeapLimit + kErrorReserve;
    if (inReserve()) {
        if (now + grow > kHeapLimit + kErrorReserve) return false;
        // A collection's own errors (it catches them) are no script's to catch.
        HostContext* main = mainContext();
        if (main && duk_host_collecting(duk(main))) return true;
        // An error made at the ceiling: the catch that gets it has room of its own.
        size_t from = std::max(now + grow, kHeapLimit);
        gGraceEnd.store(std::min(from + kGrace, kHeapLimit + kErrorReserve / 2),
                        std::memory_order_relaxed);
        leaveCeiling();
        return true;
    }
    if (now + grow <= gGraceEnd.load(std::memory_order_relaxed)) return true;
    if (!gAtCeiling.exchange(true, std::memory_order_relaxed)) {
        gSavedMark.store(gCollectAt.load(std::memory_order_relaxed), std::memory_order_relaxed);
        gCollectAt.store(0, std::memory_order_relaxed);
    }
    return false;
}

// The slow path, taken when `grow` more bytes reach the growth mark or the ceiling.
bool admit(size_t grow) {
    size_t now = gHeapBytes.load(std::memory_order_relaxed);
    if (now + grow > kHeapLimit) return admitPastCeiling(now, grow);
    if (gAtCeiling.load(std::memory_order_relaxed)) {
        if (inReserve()) return admitPastCeiling(now, grow); // the error, made below the ceiling
        leaveCeiling();                                      // collecting made room
    }
    if (!mainContext()) return true; // the heap is being made: nothing to collect yet
    if (now + grow <= gCollectAt.load(std::memory_order_relaxed)) return true;
    if (gRefused.exchange(false, std::memory_order_relaxed)) {
        // Asked again after the refusal: the engine has collected; the next mark is twice
        // what it left.
        gCollectAt.store(std::min(std::max(kCollectFloor, 2 * now), kHeapLimit),
                         std::memory_order_relaxed);
        return true;
    }
    gRefused.store(true, std::memory_order_relaxed);
    return false;
}

bool mayGrow(size_t grow) {
    size_t now = gHeapBytes.load(std::memory_order_relaxed);
    return now + grow <= gCollectAt.load(std::memory_order_relaxed) || admit(grow);
}

// A new block, counted; the caller has admitted its size.
void* take(size_t size) {
    void* p = smallAlloc(size);
    size_t got = p ? smallSize(p) : 0;
    if (!p && (p = malloc(size))) got = blockSize(p);
    if (p) gHeapBytes.fetch_add(got, std::memory_order_relaxed);
    return p;
}

size_t sizeOf(void* p) {
    size_t small = smallSize(p);
    return small ? small : blockSize(p);
}
} // namespace

void* heapAlloc(void*, duk_size_t size) {
    return mayGrow(size) ? take(size) : nullptr;
}

void heapFree(void*, void* ptr) {
    if (!ptr) return;
    size_t small = smallSize(ptr);
    size_t now = gHeapBytes.fetch_sub(small ? small : blockSize(ptr), std::memory_order_relaxed);
    if (gGraceEnd.load(std::memory_order_relaxed) && now < kHeapLimit - kErrorReserve)
        gGraceEnd.store(0, std::memory_order_relaxed); // let go: the room is no longer needed
    if (small)
        smallFree(ptr);
    else
        free(ptr);
}

void* heapRealloc(void* ud, void* ptr, duk_size_t size) {
    if (!ptr) return heapAlloc(ud, size);
    if (size == 0) {
        heapFree(ud, ptr);
        return nullptr;
    }
    size_t old = sizeOf(ptr);
    if (size > old && !mayGrow(size - old)) return nullptr;
    if (smallSize(ptr)) {
        if (size <= old) return ptr; // a small block shrinks where it is
        void* q = take(size);
        if (!q) return nullptr;
        memcpy(q, ptr, old);
        heapFree(ud, ptr);
        return q;
    }
    void* q = realloc(ptr, size);
    if (!q) return nullptr;
    size_t now = blockSize(q);
    if (now >= old)
        gHeapBytes.fetch_add(now - old, std::memory_order_relaxed);
    else
        gHeapBytes.fetch_sub(old - now, std::memory_order_relaxed);
    return q;
}

size_t heapBytes() {
    return gHeapBytes.load();
}

ReserveScope::ReserveScope() {
    gReserveUsers.fetch_add(1, std::memory_order_relaxed);
}
ReserveScope::~ReserveScope() {
    gReserveUsers.fetch_sub(1, std::memory_order_relaxed);
}

} // namespace engine
