// Large blocks of the C library in mappings of their own (platform.h).
#include "platforms/platform.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void mapLargeBlocks() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024); // a fixed bound: glibc no longer raises it
#endif
}

} // namespace platform
