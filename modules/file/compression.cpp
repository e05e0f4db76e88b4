// File.compress and File.uncompress: byte strings in the zlib stream format.
#include "modules/file/file_module.h"

#include "core/heap_limit.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <zlib.h>

static void reportZlib(HostContext* cx, int status) {
    if (status == Z_MEM_ERROR) hostApi->reportError(cx, "File.compress: Memory error");
    if (status == Z_BUF_ERROR) hostApi->reportError(cx, "File.compress: Buffer error");
}

// The output buffer, trunc(n * 1.1 + 12), is always above zlib's worst case.
FILE_NATIVE(fileCompress) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "File.compress(<content>)");
    size_t size;
    const char* data = hostBytesArg(cx, argv[0], &size);
    if (hostApi->errorPending(cx)) return 0; // a toString that threw goes to the caller
    std::string out(static_cast<size_t>(static_cast<double>(size) * 1.1 + 12), '\0');
    uLongf len = out.size();
    int depth = hostApi->suspendRequest(cx);
    int status = compress(reinterpret_cast<Bytef*>(&out[0]), &len,
                          reinterpret_cast<const Bytef*>(data), size);
    hostApi->resumeRequest(cx, depth);
    if (status != Z_OK) len = 0;
    reportZlib(cx, status);
    *rval = hostApi->newStringN(cx, out.data(), len);
    return status == Z_OK;
}

// The low 32 bits of a number truncated toward zero, as an unsigned count; NaN and the
// infinities give 0.
static uint32_t low32(double m) {
    if (!std::isfinite(m)) return 0;
    double t = std::fmod(std::trunc(m), 4294967296.0);
    return static_cast<uint32_t>(t < 0 ? t + 4294967296.0 : t);
}

// Inflates into out, at most capacity bytes. The buffer grows with what is restored, so
// a large capacity for small data costs nothing, and stops at the longest string that a
// native makes for a script. Z_STREAM_END: complete; Z_BUF_ERROR: more data
// than fits; Z_MEM_ERROR; anything else: no complete stream.
static int inflateInto(const char* data, size_t size, uint32_t capacity, std::string* out) {
    size_t limit = std::min<size_t>(capacity, limits::kStringBytes);
    z_stream zs{};
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = static_cast<uInt>(size);
    int status = inflateInit(&zs);
    if (status != Z_OK) return status;
    size_t chunk = 64 * 1024;
    try {
        for (;;) {
            size_t at = out->size();
            if (at == limit) {
                // Full: one more byte tells data that does not fit from an ending stream.
                unsigned char probe;
                zs.next_out = &probe;
                zs.avail_out = 1;
                status = inflate(&zs, Z_NO_FLUSH);
                if (zs.avail_out == 0)
                    status = limit < capacity ? Z_MEM_ERROR : Z_BUF_ERROR;
                else if (status == Z_BUF_ERROR)
                    status = Z_DATA_ERROR; // input ended early
                break;
            }
            size_t room = std::min<size_t>(limit - at, chunk);
            out->resize(at + room);
            zs.next_out = reinterpret_cast<Bytef*>(&(*out)[at]);
            zs.avail_out = static_cast<uInt>(room);
            status = inflate(&zs, Z_NO_FLUSH);
            out->resize(at + room - zs.avail_out);
            if (status != Z_OK) {
                if (status == Z_BUF_ERROR) status = Z_DATA_ERROR; // input ended early
                break;
            }
            if (chunk < (1u << 24)) chunk *= 2;
        }
    } catch (const std::bad_alloc&) {
        status = Z_MEM_ERROR;
    }
    inflateEnd(&zs);
    return status;
}

// Restores at most resultSize bytes. Data that does not fit reports a buffer error and
// fails; an input that is no complete zlib stream gives the bytes restored so far.
FILE_NATIVE(fileUncompress) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "File.uncompress(<content>, <result size>)");
    size_t size;
    const char* data = hostBytesArg(cx, argv[0], &size);
    if (hostApi->errorPending(cx)) return 0; // a toString that threw goes to the caller
    uint32_t capacity = low32(hostApi->toNumber(cx, argv[1]));
    std::string out;
    int depth = hostApi->suspendRequest(cx);
    int status = inflateInto(data, size, capacity, &out);
    hostApi->resumeRequest(cx, depth);
    if (status == Z_MEM_ERROR || status == Z_BUF_ERROR) {
        reportZlib(cx, status);
        return 0;
    }
    *rval = hostApi->newStringN(cx, out.data(), out.size());
    return 1;
}
