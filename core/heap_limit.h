// The limits that the engine and the built-in modules share, with no engine header.
#ifndef CAPSULE_HEAP_LIMIT_H
#define CAPSULE_HEAP_LIMIT_H

#include <stddef.h>

namespace limits {

// The engine heap's ceiling: everything that script values hold (objects, strings,
// property tables, array elements) counts. Past it an allocation fails with a catchable
// "out of memory" Error.
constexpr size_t kHeapBytes = size_t(1) << 30;

// The longest string or buffer that a native makes for a script: a quarter of the heap,
// which leaves the script room to work on it. A native refuses a larger size before it
// allocates.
constexpr size_t kStringBytes = kHeapBytes / 4;

} // namespace limits

#endif
