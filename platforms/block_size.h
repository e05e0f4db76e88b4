// The size that the C library has for a block from malloc: malloc_usable_size with glibc,
// _msize with the Windows C runtime. Inline, unlike the rest of the platform layer, because
// the engine's allocator asks it at every allocation and free.
#ifndef CAPSULE_PLATFORMS_BLOCK_SIZE_H
#define CAPSULE_PLATFORMS_BLOCK_SIZE_H

#include <malloc.h>
#include <stddef.h>

namespace platform {

inline size_t blockSize(void* p) {
#ifdef _WIN32
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

} // namespace platform

#endif
