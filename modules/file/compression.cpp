// File.compress and File.uncompress: byte strings in the zlib stream format.
#include "modules/file/file_module.h"

#include <string>
#include <zlib.h>

#define api gFileApi

static void reportZlib(HostContext* cx, int status) {
    if (status == Z_MEM_ERROR) api->reportError(cx, "File.compress: Memory error");
    if (status == Z_BUF_ERROR) api->reportError(cx, "File.compress: Buffer error");
}

// The output buffer, trunc(n * 1.1 + 12), is always above zlib's worst case.
FILE_NATIVE(fileCompress) {
    (void)self;
    if (argc < 1) return native::formatError(api, cx, "File.compress(<content>)");
    native::Bytes in = native::bytesArg(api, cx, argv[0]);
    std::string out(static_cast<size_t>(static_cast<double>(in.size) * 1.1 + 12), '\0');
    uLongf len = out.size();
    int depth = api->suspendRequest(cx);
    int status = compress(reinterpret_cast<Bytef*>(&out[0]), &len,
                          reinterpret_cast<const Bytef*>(in.data), in.size);
    api->resumeRequest(cx, depth);
    if (status != Z_OK) len = 0;
    reportZlib(cx, status);
    *rval = api->newStringN(cx, out.data(), len);
    return status == Z_OK;
}

// Restores at most resultSize bytes. Data that does not fit reports a buffer error and
// fails; an input that is no complete zlib stream gives the bytes restored so far.
FILE_NATIVE(fileUncompress) {
    (void)self;
    if (argc < 2) return native::formatError(api, cx, "File.uncompress(<content>, <result size>)");
    native::Bytes in = native::bytesArg(api, cx, argv[0]);
    double m = api->toNumber(cx, argv[1]);
    uint32_t capacity = m == m ? static_cast<uint32_t>(static_cast<int64_t>(m)) : 0;
    std::string out;
    int status = Z_OK;
    size_t len = 0;
    int depth = api->suspendRequest(cx);
    try {
        out.resize(capacity);
    } catch (const std::bad_alloc&) {
        status = Z_MEM_ERROR;
    }
    if (status == Z_OK) {
        z_stream zs{};
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data));
        zs.avail_in = static_cast<uInt>(in.size);
        zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
        zs.avail_out = capacity;
        status = inflateInit(&zs);
        if (status == Z_OK) {
            status = inflate(&zs, Z_FINISH);
            len = zs.total_out;
            if (status == Z_STREAM_END) status = Z_OK;
            else if (status == Z_BUF_ERROR && zs.avail_out == 0) status = Z_BUF_ERROR;
            else status = Z_DATA_ERROR;
            inflateEnd(&zs);
        }
    }
    api->resumeRequest(cx, depth);
    reportZlib(cx, status);
    *rval = api->newStringN(cx, out.data(), len);
    return status == Z_OK || status == Z_DATA_ERROR;
}
