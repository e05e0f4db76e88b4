// The compiled-script cache loader on damaged and forged files. One genuine file is sealed
// at the start; each input is either a whole file, or patches to the genuine one, or the
// genuine one cut and continued with the input. A file that opens must be the genuine
// one, byte for byte, and only then does the engine's bytecode loader see it.
#include "core/engine/script_store.h"

#include <stdlib.h>
#include <string>

namespace {

const engine::ScriptSeal kSeal = {std::string(32, '\x5a'), "fuzz-build"};
const char kName[] = "scripts/fuzz.js";
const std::string kCode = "var n = 0; function step(x) { n += x; return n * 2; } step(3);";

duk_context* heap() {
    static duk_context* ctx = [] {
        duk_context* c = duk_create_heap_default();
        if (!c) abort();
        return c;
    }();
    return ctx;
}

duk_ret_t dump(duk_context* ctx, void*) {
    duk_compile_lstring_filename(ctx, 0, kCode.data(), kCode.size());
    duk_dump_function(ctx);
    return 1;
}

const std::string& genuine() {
    static std::string file = [] {
        duk_context* ctx = heap();
        duk_push_string(ctx, kName);
        if (duk_safe_call(ctx, dump, nullptr, 1, 1) != DUK_EXEC_SUCCESS) abort();
        duk_size_t size;
        const char* bytes = static_cast<const char*>(duk_get_buffer_data(ctx, -1, &size));
        std::string d(bytes, size);
        duk_pop(ctx);
        return engine::sealScript(kSeal, kName, kCode.data(), kCode.size(), {"function step(x) {}"},
                                  d);
    }();
    return file;
}

std::string fileFrom(const uint8_t* data, size_t size) {
    if (size == 0) return std::string();
    std::string file = genuine();
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    switch (data[0] % 3) {
    case 0: // the input is the file
        return std::string(reinterpret_cast<const char*>(p), n);
    case 1: // (offset, xor) patches
        for (; n >= 3; p += 3, n -= 3)
            file[((p[0] << 8) | p[1]) % file.size()] ^= static_cast<char>(p[2]);
        return file;
    default: // cut at an offset, the rest of the input after it
        if (n < 2) return file;
        file.resize(((p[0] << 8) | p[1]) % (file.size() + 1));
        return file + std::string(reinterpret_cast<const char*>(p + 2), n - 2);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = fileFrom(data, size);
    engine::StoredScript stored;
    if (!engine::openScript(file, kSeal, kName, kCode.data(), kCode.size(), &stored)) return 0;
    if (file != genuine()) abort(); // a file that is not the genuine one opened
    duk_context* ctx = heap();
    if (!engine::loadStoredScript(ctx, stored)) abort();
    duk_pop(ctx);
    return 0;
}
