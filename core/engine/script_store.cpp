// The file of a compiled script: a header, the script's name, the function texts (length,
// bytes) and the engine's dump. The header's check is an HMAC-SHA256 under the user's own
// secret key over the runtime build's identity, the source's SHA-256 and everything after
// the check, so that only this user's processes of this build can write a file that
// passes, and only for this very source. The engine's bytecode loader trusts its input:
// nothing of a file reaches it before the check holds.
//   file: Header | script name | texts (length, bytes) | the engine's dump
#include "core/engine/script_store.h"

#include "platforms/digest.h"

#include <stdint.h>
#include <string.h>

namespace engine {

namespace {

constexpr char kMagic[8] = {'C', 'a', 'p', 'J', 'S', 'C', '2', '\0'};

struct Header {
    char magic[8];
    unsigned char check[digest::kSize];
    uint64_t sourceLength; // bytes
    uint64_t bodyLength;   // bytes after the header
    uint32_t nameLength;
    uint32_t texts;
};

constexpr size_t kChecked = offsetof(Header, sourceLength); // the check covers what follows

void check(const ScriptSeal& seal, const char* code, size_t n, const char* rest, size_t size,
           unsigned char out[digest::kSize]) {
    unsigned char source[digest::kSize];
    digest::sha256(code, n, source);
    uint64_t idLength = seal.identity.size();
    const digest::Part parts[] = {{&idLength, sizeof idLength},
                                  {seal.identity.data(), seal.identity.size()},
                                  {source, sizeof source},
                                  {rest, size}};
    digest::hmac(reinterpret_cast<const unsigned char*>(seal.key.data()), seal.key.size(), parts,
                 sizeof parts / sizeof parts[0], out);
}

void appendWord(std::string& out, uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), 8);
}

} // namespace

std::string sealScript(const ScriptSeal& seal, const std::string& name, const char* code, size_t n,
                       const std::vector<std::string>& texts, const std::string& dump) {
    Header h;
    memset(&h, 0, sizeof h);
    memcpy(h.magic, kMagic, sizeof kMagic);
    h.sourceLength = n;
    h.nameLength = static_cast<uint32_t>(name.size());
    h.texts = static_cast<uint32_t>(texts.size());
    std::string body = name;
    for (const std::string& text : texts) {
        appendWord(body, text.size());
        body += text;
    }
    body += dump;
    h.bodyLength = body.size();
    std::string file(reinterpret_cast<const char*>(&h), sizeof h);
    file += body;
    check(seal, code, n, file.data() + kChecked, file.size() - kChecked, h.check);
    memcpy(&file[offsetof(Header, check)], h.check, sizeof h.check);
    return file;
}

bool openScript(const std::string& file, const ScriptSeal& seal, const std::string& name,
                const char* code, size_t n, StoredScript* out) {
    if (file.size() < sizeof(Header) || seal.key.empty()) return false;
    Header h;
    memcpy(&h, file.data(), sizeof h);
    const char* p = file.data() + sizeof h;
    const char* end = file.data() + file.size();
    if (memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.sourceLength != n ||
        h.bodyLength != static_cast<uint64_t>(end - p) || h.nameLength != name.size())
        return false;
    unsigned char expected[digest::kSize];
    check(seal, code, n, file.data() + kChecked, file.size() - kChecked, expected);
    if (!digest::same(expected, h.check, sizeof expected)) return false;
    // Written by this user's own build: the parts are still bounded, as a slip of ours
    // must not become a read past the file.
    if (name.size() > static_cast<size_t>(end - p) || memcmp(p, name.data(), name.size()) != 0)
        return false;
    p += name.size();
    out->texts.clear();
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

namespace {

// [...] -> [... function]
duk_ret_t loadStored(duk_context* ctx, void* udata) {
    const StoredScript* s = static_cast<const StoredScript*>(udata);
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

} // namespace

bool loadStoredScript(duk_context* ctx, const StoredScript& stored) {
    if (!duk_check_stack(ctx, 4)) return false;
    if (duk_safe_call(ctx, loadStored, const_cast<StoredScript*>(&stored), 0, 1) ==
        DUK_EXEC_SUCCESS)
        return true;
    duk_pop(ctx);
    return false;
}

} // namespace engine
