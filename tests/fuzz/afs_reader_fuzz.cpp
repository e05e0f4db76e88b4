// The package reader on any file: locate the block, inflate the directory, and read
// entries at offsets the input chooses. Each ends in a result or a clean refusal.
#include "modules/package/afs_reader.h"

#include <stdlib.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// One in-memory file for the whole run, rewritten for every input.
static FILE* memoryFile() {
    static FILE* f = [] {
        int fd = memfd_create("afs_reader_fuzz", 0);
        FILE* s = fd >= 0 ? fdopen(fd, "r+b") : nullptr;
        if (!s) abort();
        return s;
    }();
    return f;
}

static uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = memoryFile();
    int fd = fileno(f);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) abort();
    afs::Block block;
    if (afs::locate(f, &block)) {
        if (block.start < 0 || block.start + block.length > int64_t(size)) abort();
        std::string text;
        if (afs::readDirectory(f, block, &text) == afs::Status::Ok && text.size() != block.dirSize)
            abort();
    }
    // An entry as a damaged directory may describe it: the input's first 12 bytes.
    if (size >= 12) {
        std::string out;
        int64_t csize = be32(data + 4), want = be32(data + 8) & 0xFFFFF;
        if (afs::readEntry(f, be32(data), csize, want, &out) == afs::Status::Ok &&
            int64_t(out.size()) != want)
            abort();
    }
    return 0;
}
