// Reading the package archive appended to a file: the block behind the image holds the
// directory text and one zlib stream per file. All integers are big-endian. Reads go to
// explicit offsets, so threads sharing one stream never disturb each other's position.
// The room modules/package/ sits below the File class and the module loader that read
// packages; it includes no engine header (zlib and the platform layer only).
#ifndef CAPSULE_PACKAGE_AFS_READER_H
#define CAPSULE_PACKAGE_AFS_READER_H

#include <stdint.h>
#include <stdio.h>
#include <string>

namespace afs {

constexpr uint32_t kMagic = 0xABCDABCDu;
constexpr int64_t kScanWindow = 10000;

struct Block {
    int64_t start = 0;   // offset of the block's first byte: the image's length
    uint32_t length = 0; // the block's total length
    uint32_t dirCsize = 0;
    uint32_t dirSize = 0;
};

enum class Status { Ok, NoMemory, Damaged };

// Finds the block: the trailer in the last 8 bytes, or else the first magic in the last
// 10000 bytes. False when there is none, or when its lengths point outside the file.
bool locate(FILE* f, Block* block);
// Reads and inflates the directory text (exactly dirSize bytes).
Status readDirectory(FILE* f, const Block& block, std::string* text);
// Reads the csize-byte stream at pos and inflates it to exactly size bytes.
Status readEntry(FILE* f, int64_t pos, int64_t csize, int64_t size, std::string* out);

} // namespace afs

#endif
