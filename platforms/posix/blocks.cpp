// Blocks for the translator (platform.h): malloc, and from 2 MiB on aligned blocks marked
// for transparent huge pages (a system set to give them only where asked gives them there).
#include "platforms/platform.h"

#include <stdlib.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace platform {

namespace {
constexpr size_t kHugePage = 2 * 1024 * 1024;
}

void* allocateBlock(size_t size) {
#if defined(__linux__)
    void* p = nullptr;
    if (size >= kHugePage && !posix_memalign(&p, kHugePage, size)) {
        madvise(p, size, MADV_HUGEPAGE);
        return p;
    }
#endif
    return malloc(size);
}

void freeBlock(void* block) {
    free(block);
}

} // namespace platform
