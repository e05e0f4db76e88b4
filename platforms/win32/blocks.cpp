// Blocks for the translator (platform.h): from the C library (large pages need a privilege
// that a process does not hold by default).
#include "platforms/platform.h"

#include <stdlib.h>

namespace platform {

void* allocateBlock(size_t size) {
    return malloc(size);
}

void freeBlock(void* block) {
    free(block);
}

} // namespace platform
