// Compiled scripts kept across starts. The bytecode of a script that an evaluation compiles
// goes to the user's private cache folder ("<cache>/capsule/scripts"), and the next start
// of the same runtime build loads it instead of compiling the source again: compiling is
// most of what an application's start costs. A file there is named after the executable
// and the script's name, and records the runtime build and the hash and length of the
// source it came from, so that a changed source or a new build compiles anew and replaces
// the file.
// The engine trusts bytecode, so a file is used only when a hash over its whole content
// matches. The texts that functions keep for their source (duktape/function_text.cpp) are
// stored once each, not once per function. Without a cache folder, or on a platform that
// cannot tell its builds apart, every start compiles as the first one did.
//   file: Header | script name | texts (length, bytes) | the engine's dump
#include "core/engine/internal.h"

#include "platforms/platform.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace engine {

namespace {

constexpr size_t kMinSource = 512; // a smaller script compiles sooner than a file is read
constexpr int kMaxWrites = 32;     // per process: a script that evaluates ever new text
                                   // under one name does not write a file each time
constexpr char kMagic[8] = {'C', 'a', 'p', 'J', 'S', 'C', '1', '\0'};

struct Header {
    char magic[8];
    uint64_t identity;     // hash of the runtime build
    uint64_t source;       // hash of the source
    uint64_t sourceLength; // bytes
    uint64_t body;         // hash of everything after the header
    uint64_t bodyLength;
    uint32_t nameLength;
    uint32_t texts;
};

inline uint64_t mix(uint64_t h, uint64_t w) {
    h ^= w * 0xC2B2AE3D27D4EB4Full;
    return ((h << 31) | (h >> 33)) * 0x9E3779B97F4A7C15ull;
}

// A 64-bit hash, eight bytes a step.
uint64_t hashBytes(const void* data, size_t n, uint64_t basis) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t h = mix(basis, n);
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w;
        memcpy(&w, p, 8);
        h = mix(h, w);
    }
    uint64_t tail = 0;
    memcpy(&tail, p, n);
    h = mix(h, tail);
    return h ^ (h >> 32);
}

struct Cache {
    bool ready = false;
    std::string folder; // "" when nothing is kept
    uint64_t identity = 0, place = 0;
    int writes = 0;
};

// Set up on the first compilation (under the engine lock, as every compilation is).
Cache& cache() {
    static Cache c;
    if (c.ready) return c;
    c.ready = true;
    std::string id = platform::runtimeIdentity();
    if (id.empty()) return c;
    c.identity = hashBytes(id.data(), id.size(), 0);
    std::string exe = platform::executablePath();
    c.place = hashBytes(exe.data(), exe.size(), 0); // a new build replaces the old one's files
    c.folder = platform::privateCacheFolder("scripts");
    return c;
}

std::string cachePath(const Cache& c, const char* fileName) {
    char name[32];
    snprintf(name, sizeof name, "/%016llx.jsc",
             static_cast<unsigned long long>(hashBytes(fileName, strlen(fileName), c.place)));
    return c.folder + name;
}

bool readWhole(const std::string& path, std::string* out) {
    FILE* f = platform::openFile(path, "rb");
    if (!f) return false;
    int64_t size = platform::streamSize(f);
    bool ok = size >= static_cast<int64_t>(sizeof(Header)) && size < (int64_t(1) << 30);
    if (ok) {
        out->resize(static_cast<size_t>(size));
        ok = fread(&(*out)[0], 1, out->size(), f) == out->size();
    }
    fclose(f);
    return ok;
}

// A file's parts, pointing into its bytes.
struct Stored {
    std::vector<std::pair<const char*, size_t>> texts;
    const char* dump = nullptr;
    size_t dumpLength = 0;
};

bool parse(const std::string& data, const Cache& c, const char* fileName, const char* code,
           size_t n, Stored* out) {
    Header h;
    memcpy(&h, data.data(), sizeof h);
    const char* p = data.data() + sizeof h;
    const char* end = data.data() + data.size();
    size_t nameLength = strlen(fileName);
    if (memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.identity != c.identity ||
        h.sourceLength != n || h.bodyLength != static_cast<uint64_t>(end - p) ||
        h.nameLength != nameLength || h.body != hashBytes(p, end - p, c.identity) ||
        h.source != hashBytes(code, n, c.identity))
        return false;
    if (nameLength > static_cast<size_t>(end - p) || memcmp(p, fileName, nameLength) != 0)
        return false;
    p += nameLength;
    for (uint32_t i = 0; i < h.texts; i++) {
        uint64_t length;
        if (end - p < 8) return false;
        memcpy(&length, p, 8);
        p += 8;
        if (length > static_cast<uint64_t>(end - p)) return false;
        out->texts.emplace_back(p, static_cast<size_t>(length));
        p += length;
    }
    out->dump = p;
    out->dumpLength = static_cast<size_t>(end - p);
    return out->dumpLength > 0;
}

// [...] -> [... function]
duk_ret_t loadStored(duk_context* ctx, void* udata) {
    const Stored* s = static_cast<const Stored*>(udata);
    duk_push_array(ctx);
    for (size_t i = 0; i < s->texts.size(); i++) {
        duk_push_lstring(ctx, s->texts[i].first, s->texts[i].second);
        duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
    }
    memcpy(duk_push_fixed_buffer(ctx, s->dumpLength), s->dump, s->dumpLength);
    duk_load_function(ctx);
    duk_host_swap_function_texts(ctx, -1, -2, 0);
    return 1;
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

void appendWord(std::string& out, uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), 8);
}

} // namespace

bool loadCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n) {
    if (n < kMinSource) return false;
    const Cache& c = cache();
    if (c.folder.empty()) return false;
    std::string data;
    Stored stored;
    if (!readWhole(cachePath(c, fileName), &data) || !parse(data, c, fileName, code, n, &stored) ||
        !duk_check_stack(ctx, 4))
        return false;
    if (duk_safe_call(ctx, loadStored, &stored, 0, 1) == DUK_EXEC_SUCCESS) return true;
    duk_pop(ctx);
    return false;
}

void keepCompiledScript(duk_context* ctx, const char* fileName, const char* code, size_t n) {
    if (n < kMinSource) return;
    Cache& c = cache();
    if (c.folder.empty() || c.writes >= kMaxWrites || !duk_check_stack(ctx, 4)) return;
    c.writes++;
    Dumped dumped;
    duk_dup_top(ctx);
    bool ok = duk_safe_call(ctx, dumpWithTexts, &dumped, 1, 1) == DUK_EXEC_SUCCESS;
    duk_pop(ctx);
    if (!ok || dumped.dump.empty()) return;
    std::string body(fileName);
    for (const std::string& text : dumped.texts) {
        appendWord(body, text.size());
        body += text;
    }
    body += dumped.dump;
    Header h;
    memcpy(h.magic, kMagic, sizeof kMagic);
    h.identity = c.identity;
    h.source = hashBytes(code, n, c.identity);
    h.sourceLength = n;
    h.body = hashBytes(body.data(), body.size(), c.identity);
    h.bodyLength = body.size();
    h.nameLength = static_cast<uint32_t>(strlen(fileName));
    h.texts = static_cast<uint32_t>(dumped.texts.size());
    std::string file(reinterpret_cast<const char*>(&h), sizeof h);
    file += body;
    platform::writeFileAtomically(cachePath(c, fileName), file, 0600, false);
}

} // namespace engine
