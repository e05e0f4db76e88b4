// The model's small blocks (core/xml/blocks.cpp): nodes, names, short texts and short
// arrays, in pages of one block size each, without the C library's per-block header and
// rounding. The caller gives a block's size back with it, as allocate and deallocate do.
#ifndef CAPSULE_XML_BLOCKS_H
#define CAPSULE_XML_BLOCKS_H

#include <stddef.h>

namespace xml {

// Null when the memory is not to be had. A block whose size is a multiple of 16 is
// aligned to 16, any other to 8.
void* takeBlock(size_t size);
void giveBlock(void* p, size_t size);

} // namespace xml

#endif
