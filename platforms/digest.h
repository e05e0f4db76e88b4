// SHA-256 and its HMAC: the checks of the files that the runtime keeps in its caches.
// Plain C++, no system headers: the same on every platform.
#ifndef CAPSULE_DIGEST_H
#define CAPSULE_DIGEST_H

#include <stddef.h>
#include <stdint.h>

namespace digest {

constexpr size_t kSize = 32;

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes taken so far
    unsigned char block[64];
    size_t used;
};

void begin(Sha256* s);
void add(Sha256* s, const void* data, size_t n);
void finish(Sha256* s, unsigned char out[kSize]);
void sha256(const void* data, size_t n, unsigned char out[kSize]);

// HMAC-SHA256 over several parts, taken in order as one message.
struct Part {
    const void* data;
    size_t size;
};
void hmac(const unsigned char* key, size_t keySize, const Part* parts, size_t count,
          unsigned char out[kSize]);

// Compares in a time that does not depend on where the bytes differ.
bool same(const unsigned char* a, const unsigned char* b, size_t n);

} // namespace digest

#endif
