// Compiled scripts kept across starts. The bytecode of a script that an evaluation compiles
// goes to the user's private cache folder "scripts" (platforms: "<cache>/capsule/scripts",
// every level of it the user's alone), and the next start of the same runtime build loads
// it instead of compiling the source again: compiling is most of what an application's
// start costs. A file there is named after the executable and the script's name and
// sealed with the user's secret key (script_store.cpp), kept in the same folder as "key"
// (mode 0600, made on first use); a changed source or a new build compiles anew and
// replaces the file. The folder holds at most kBounds' files and bytes, the oldest removed
// first. Without a trusted cache folder, a key, or on a platform that cannot tell its
// builds apart, every start compiles as the first one did.
#include "core/engine/internal.h"
#include "core/engine/script_store.h"

#include "platforms/digest.h"
#include "platforms/platform.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace engine {

namespace {

constexpr const char* kFolder = "scripts";
constexpr size_t kMinSource = 512; // a smaller script compiles sooner than a file is read
constexpr int kMaxWrites = 32;     // per process: a script that evaluates ever new text
                                   // under one name does not write a file each time
constexpr platform::CacheBounds kBounds = {".jsc", 256, int64_t(64) << 20};
constexpr size_t kKeySize = 32;

struct Cache {
    bool ready = false;
    bool usable = false;
    ScriptSeal seal;
    std::string exe; // a new build in another place does not take this one's files
    int writes = 0;
};

// The user's key: read, or made and written once (the first of several processes starting
// at once wins, and every one reads what it wrote).
bool userKey(std::string* key) {
    if (platform::readCacheFile(kFolder, "key", kKeySize, key) && key->size() == kKeySize)
        return true;
    std::string fresh(kKeySize, '\0');
    if (!platform::randomBytes(&fresh[0], fresh.size())) return false;
    platform::writeCacheFile(kFolder, "key", fresh, false, {".key", 1, 64});
    return platform::readCacheFile(kFolder, "key", kKeySize, key) && key->size() == kKeySize;
}

// Set up on the first compilation (under the engine lock, as every compilation is).
Cache& cache() {
    static Cache c;
    if (c.ready) return c;
    c.ready = true;
    c.seal.identity = platform::runtimeIdentity();
    if (c.seal.identity.empty() || !platform::hasCacheFolder(kFolder) || !userKey(&c.seal.key))
        return c;
    c.exe = platform::executablePath();
    c.usable = true;
    return c;
}

std::string fileFor(const Cache& c, const char* fileName) {
    digest::Sha256 s;
    unsigned char sum[digest::kSize];
    digest::begin(&s);
    digest::add(&s, c.exe.c_str(), c.exe.size() + 1);
    digest::add(&s, fileName, strlen(fileName));
    digest::finish(&s, sum);
    char name[40];
    for (int i = 0; i < 16; i++)
        snprintf(name + 2 * i, 3, "%02x", sum[i]);
    return std::string(name) + kBounds.suffix;
}

// [... function] -> [... dump]
duk_ret_t dumpOnly(duk_context* ctx, void*) {
    duk_dump_function(ctx);
    return 1;
}

// [... function] -> [... function]: its dump and its texts into out.
struct Dumped {
    std::vector<std::string> texts;
    std::string dump;
};
duk_ret_t dumpWithTexts(duk_context* ctx, void* udata) {
    Dumped* out = static_cast<Dumped*>(udata);
    duk_idx_t fn = duk_get_top_index(ctx);
    duk_push_array(ctx);
    duk_host_swap_function_texts(ctx, fn, fn + 1, 1);
    duk_dup(ctx, fn);
    bool dumped = duk_safe_call(ctx, dumpOnly, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
    duk_host_swap_function_texts(ctx, fn, fn + 1, 0);
    if (dumped) {
        duk_size_t size;
        const char* bytes = static_cast<const char*>(duk_get_buffer_data(ctx, -1, &size));
        out->dump.assign(bytes ? bytes : "", bytes ? size : 0);
        duk_size_t count = duk_get_length(ctx, fn + 1);
        for (duk_uarridx_t i = 0; i < count; i++) {
            duk_get_prop_index(ctx, fn + 1, i);
            duk_size_t len;
            const char* text = duk_get_lstring(ctx, -1, &len);
            out->texts.emplace_back(text ? text : "", text ? len : 0);
            duk_pop(ctx);
        }
    }
    duk_set_top(ctx, fn + 1);
    return 1;
}

} // namespace

bool loadCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n) {
    if (n < kMinSource) return false;
    const Cache& c = cache();
    if (!c.usable) return false;
    std::string data;
    StoredScript stored;
    return platform::readCacheFile(kFolder, fileFor(c, fileName), size_t(kBounds.bytes), &data) &&
           openScript(data, c.seal, fileName, code, n, &stored) && loadStoredScript(ctx, stored);
}

void keepCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n) {
    if (n < kMinSource) return;
    Cache& c = cache();
    if (!c.usable || c.writes >= kMaxWrites || !duk_check_stack(ctx, 4)) return;
    c.writes++;
    Dumped dumped;
    duk_dup_top(ctx);
    bool ok = duk_safe_call(ctx, dumpWithTexts, &dumped, 1, 1) == DUK_EXEC_SUCCESS;
    duk_pop(ctx);
    if (!ok || dumped.dump.empty()) return;
    platform::writeCacheFile(kFolder, fileFor(c, fileName),
                             sealScript(c.seal, fileName, code, n, dumped.texts, dumped.dump), true,
                             kBounds);
}

} // namespace engine
