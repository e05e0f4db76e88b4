// The engine heap's small blocks (up to kSmallMax bytes), in pages of one block size each
// inside one reserved range of address space. Most of the heap's blocks are small (object
// headers, property tables of a few entries, short strings); the C library would round each
// up to 16 bytes and put a header of 8 in front of it, here a block takes its size rounded
// up to 8 and nothing more. A block's page tells its size, so freeing needs no header.
// A page whose last block is freed goes back to a common pool for any size, and its memory
// back to the system past the first few such pages. Called only under the request lock,
// as the engine's allocator is (heap.cpp), so nothing here is atomic.
// A block's alignment is the largest power of two up to 16 that divides its size, enough
// for any type whose size was asked for.
#include "core/engine/internal.h"

#include "platforms/platform.h"

#include <stdint.h>

namespace engine {

namespace {

constexpr size_t kPageBytes = size_t(64) << 10;
// Room for a heap at its ceiling in small blocks, with an eighth for partly used pages;
// past it small blocks come from the C library.
constexpr size_t kRangeBytes = (kHeapLimit + kHeapLimit / 8) & ~(kPageBytes - 1);
constexpr uint32_t kPages = kRangeBytes / kPageBytes;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kClasses = kSmallMax / 8 + 1;
constexpr uint32_t kKeptPages = 16; // pool pages whose memory is kept for reuse

// Zero-initialised, so that the table takes no room in the executable's image.
struct Page {
    void* free = nullptr;        // its freed blocks, linked through their first word
    uint32_t carved = 0;         // bytes given out from its start so far
    uint32_t live = 0;           // blocks in use
    uint32_t prev = 0, next = 0; // in its size's list of pages with room (list())
    uint32_t size = 0;           // block size; 0 while in the pool
    bool listed = false;
};

uint8_t* gRange = nullptr;
bool gTried = false;
uint32_t gUsed = 0;     // pages of the range ever taken
uint32_t gPool[kPages]; // pages given back, the latest last
uint32_t gPooled = 0;
Page gPage[kPages];
uint32_t gRoom[kClasses] = {}; // first page with room + 1, by size / 8 (0: none)

uint8_t* pageStart(uint32_t n) {
    return gRange + size_t(n) * kPageBytes;
}

uint32_t firstWithRoom(uint32_t cls) {
    return gRoom[cls] - 1; // 0 - 1 is kNone
}

void setFirst(uint32_t cls, uint32_t n) {
    gRoom[cls] = n + 1;
}

void list(uint32_t n) {
    Page& p = gPage[n];
    uint32_t cls = p.size / 8, head = firstWithRoom(cls);
    p.prev = kNone;
    p.next = head;
    if (head != kNone) gPage[head].prev = n;
    setFirst(cls, n);
    p.listed = true;
}

void unlist(uint32_t n) {
    Page& p = gPage[n];
    if (p.prev != kNone)
        gPage[p.prev].next = p.next;
    else
        setFirst(p.size / 8, p.next);
    if (p.next != kNone) gPage[p.next].prev = p.prev;
    p.prev = p.next = kNone;
    p.listed = false;
}

// A page for blocks of `size`: from the pool, else the next one of the range.
uint32_t takePage(uint32_t size) {
    uint32_t n;
    if (gPooled > 0)
        n = gPool[--gPooled];
    else if (gUsed < kPages)
        n = gUsed++;
    else
        return kNone;
    gPage[n] = Page{};
    gPage[n].size = size;
    list(n);
    return n;
}

void poolPage(uint32_t n) {
    unlist(n);
    gPage[n].size = 0;
    if (gPooled >= kKeptPages) platform::pagesUnused(pageStart(n), kPageBytes);
    gPool[gPooled++] = n;
}

} // namespace

void* smallAlloc(size_t size) {
    if (!gTried) {
        gTried = true;
#if !defined(__SANITIZE_ADDRESS__)
        // The sanitizer builds keep every block in the C library, where the sanitizer
        // checks its bounds and finds what it points to.
        gRange = static_cast<uint8_t*>(platform::reserveAddressSpace(kRangeBytes));
#endif
        if (gRange) {
            duk_host_small_range = gRange;
            duk_host_small_range_bytes = kRangeBytes;
        }
    }
    if (!gRange || size > kSmallMax) return nullptr;
    uint32_t block = size ? uint32_t(size + 7) & ~7u : 8;
    uint32_t n = firstWithRoom(block / 8);
    if (n == kNone && (n = takePage(block)) == kNone) return nullptr;
    Page& p = gPage[n];
    void* b;
    if (p.free) {
        b = p.free;
        p.free = *static_cast<void**>(b);
    } else {
        b = pageStart(n) + p.carved;
        p.carved += block;
    }
    p.live++;
    if (!p.free && p.carved + block > kPageBytes) unlist(n);
    return b;
}

size_t smallSize(const void* block) {
    uintptr_t off = reinterpret_cast<uintptr_t>(block) - reinterpret_cast<uintptr_t>(gRange);
    if (!gRange || off >= kRangeBytes) return 0;
    return gPage[off / kPageBytes].size;
}

void smallFree(void* block) {
    uint32_t n = uint32_t((static_cast<uint8_t*>(block) - gRange) / kPageBytes);
    Page& p = gPage[n];
    *static_cast<void**>(block) = p.free;
    p.free = block;
    p.live--;
    if (!p.listed)
        list(n);
    else if (p.live == 0 && (p.prev != kNone || p.next != kNone))
        poolPage(n); // kept while it is its size's only page with room, against churn
}

} // namespace engine
