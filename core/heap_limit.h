// The limits that the engine and the built-in modules share, with no engine header: the
// heap's size bounds what a native may build for a script (no string beyond it could be
// made), so a native can refuse such a size before it allocates.
#ifndef CAPSULE_HEAP_LIMIT_H
#define CAPSULE_HEAP_LIMIT_H

#include <stddef.h>

namespace limits {

constexpr size_t kHeapBytes = 32u * 1024u * 1024u;

} // namespace limits

#endif
