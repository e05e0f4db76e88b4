#include "modules/package/afs_reader.h"

#include "core/heap_limit.h"
#include "platforms/platform.h"

#include <memory>
#include <new>
#include <zlib.h>

namespace afs {

static uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

static bool readU32(FILE* f, int64_t at, uint32_t* v) {
    unsigned char b[4];
    if (at < 0 || platform::readAt(f, at, b, 4) != 4) return false;
    *v = be32(b);
    return true;
}

bool locate(FILE* f, Block* block) {
    int64_t end = platform::streamSize(f);
    if (end < 8) return false;
    int64_t magicAt = end - 8;
    uint32_t magic = 0;
    if (!readU32(f, magicAt, &magic) || magic != kMagic) {
        if (end < kScanWindow) return false;
        std::string window(kScanWindow, '\0');
        int64_t q = end - kScanWindow;
        int64_t got = platform::readAt(f, q, &window[0], window.size());
        const unsigned char* w = reinterpret_cast<const unsigned char*>(window.data());
        magicAt = -1;
        for (int64_t i = 0; i + 4 <= got; i++) {
            if (be32(w + i) == kMagic) {
                magicAt = q + i;
                break;
            }
        }
        if (magicAt < 0) return false;
    }
    uint32_t length;
    if (!readU32(f, magicAt + 4, &length)) return false;
    // Header (8) + the smallest zlib stream (8) + trailer (8).
    int64_t start = magicAt + 8 - int64_t(length);
    if (length < 24 || start < 0) return false;
    uint32_t csize, size;
    if (!readU32(f, start, &csize) || !readU32(f, start + 4, &size)) return false;
    if (int64_t(csize) + 16 > int64_t(length)) return false;
    *block = Block{start, length, csize, size};
    return true;
}

// Inflates exactly size bytes from a zlib stream; anything else is damage.
static Status inflateExact(const char* in, int64_t csize, int64_t size, std::string* out) {
    if (size > int64_t(limits::kStringBytes))
        return Status::NoMemory; // longer than a script's string
    try {
        out->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return Status::NoMemory;
    }
    uLongf len = static_cast<uLongf>(size);
    int rc = uncompress(reinterpret_cast<Bytef*>(&(*out)[0]), &len,
                        reinterpret_cast<const Bytef*>(in), static_cast<uLong>(csize));
    if (rc == Z_MEM_ERROR) return Status::NoMemory;
    if (rc != Z_OK || int64_t(len) != size) return Status::Damaged;
    return Status::Ok;
}

Status readEntry(FILE* f, int64_t pos, int64_t csize, int64_t size, std::string* out) {
    int64_t end = platform::streamSize(f);
    if (pos < 0 || csize < 0 || size < 0 || pos + csize > end) return Status::Damaged;
    std::unique_ptr<char[]> in(new (std::nothrow) char[static_cast<size_t>(csize) + 1]);
    if (!in) return Status::NoMemory;
    if (platform::readAt(f, pos, in.get(), static_cast<size_t>(csize)) != csize)
        return Status::Damaged;
    return inflateExact(in.get(), csize, size, out);
}

Status readDirectory(FILE* f, const Block& block, std::string* text) {
    return readEntry(f, block.start + 8, block.dirCsize, block.dirSize, text);
}

} // namespace afs
