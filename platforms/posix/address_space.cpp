// Address space reserved for the engine heap's small blocks (platform.h).
#include "platforms/platform.h"

#include <sys/mman.h>

namespace platform {

void* reserveAddressSpace(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void pagesUnused(void* start, size_t size) {
    madvise(start, size, MADV_DONTNEED);
}

} // namespace platform
