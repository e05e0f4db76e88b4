// Address space reserved for the engine heap's small blocks (platform.h). Committed at
// once, which charges the commit limit but no physical memory until a page is touched.
#include "platforms/platform.h"

#include <windows.h>

namespace platform {

void* reserveAddressSpace(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void pagesUnused(void* start, size_t size) {
    // Reset pages keep their commitment but not their contents; zero them on reuse.
    VirtualAlloc(start, size, MEM_RESET, PAGE_READWRITE);
}

} // namespace platform
