// The model's small blocks (core/xml/blocks.h). A page of kPageBytes, aligned to its size,
// starts with its header, so a block finds its page from its address. A page whose last
// block is freed goes back to the C library unless it is its size's only page with room
// (against churn). Called only under the request lock, as the model is, so nothing here
// is atomic.
#include "core/xml/blocks.h"

#include <new>
#include <stdint.h>
#include <stdlib.h>

namespace xml {

namespace {

constexpr size_t kPageBytes = size_t(64) << 10;
constexpr size_t kSmallMax = 256;
constexpr size_t kClasses = kSmallMax / 8 + 1;

struct Page {
    Page* prev;
    Page* next;      // in its size's list of pages with room
    void* free;      // its freed blocks, linked through their first word
    uint32_t size;   // block size
    uint32_t carved; // bytes given out from its start so far
    uint32_t live;   // blocks in use
    bool listed;
};
// Blocks start 16-aligned behind the header.
constexpr uint32_t kFirst = (sizeof(Page) + 15) & ~size_t(15);

Page* gRoom[kClasses] = {}; // pages with room, by block size / 8

void list(Page* p) {
    Page*& head = gRoom[p->size / 8];
    p->prev = nullptr;
    p->next = head;
    if (head) head->prev = p;
    head = p;
    p->listed = true;
}

void unlist(Page* p) {
    if (p->prev)
        p->prev->next = p->next;
    else
        gRoom[p->size / 8] = p->next;
    if (p->next) p->next->prev = p->prev;
    p->prev = p->next = nullptr;
    p->listed = false;
}

Page* newPage(uint32_t size) {
    void* m = operator new(kPageBytes, std::align_val_t(kPageBytes), std::nothrow);
    if (!m) return nullptr;
    Page* p = new (m) Page{nullptr, nullptr, nullptr, size, kFirst, 0, false};
    list(p);
    return p;
}

Page* pageOf(void* block) {
    return reinterpret_cast<Page*>(reinterpret_cast<uintptr_t>(block) & ~(kPageBytes - 1));
}

// The sanitizer builds keep every block in the C library, where the sanitizer checks its
// bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

bool pooled(size_t size) {
    return kPooled && size > 0 && size <= kSmallMax;
}

} // namespace

void* takeBlock(size_t size) {
    if (!pooled(size)) return malloc(size ? size : 1);
    uint32_t block = uint32_t(size + 7) & ~7u;
    Page* p = gRoom[block / 8];
    if (!p && !(p = newPage(block))) return nullptr;
    void* b;
    if (p->free) {
        b = p->free;
        p->free = *static_cast<void**>(b);
    } else {
        b = reinterpret_cast<uint8_t*>(p) + p->carved;
        p->carved += block;
    }
    p->live++;
    if (!p->free && p->carved + block > kPageBytes) unlist(p);
    return b;
}

void giveBlock(void* b, size_t size) {
    if (!pooled(size)) {
        free(b);
        return;
    }
    Page* p = pageOf(b);
    *static_cast<void**>(b) = p->free;
    p->free = b;
    p->live--;
    if (!p->listed) {
        list(p);
    } else if (p->live == 0 && (p->prev || p->next)) {
        unlist(p);
        operator delete(p, std::align_val_t(kPageBytes));
    }
}

} // namespace xml
