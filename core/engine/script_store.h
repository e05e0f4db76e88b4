// The file of a compiled script in the cache (script_store.cpp): its writing and the checks
// before the engine's bytecode loader may see any of it.
#ifndef CAPSULE_ENGINE_SCRIPT_STORE_H
#define CAPSULE_ENGINE_SCRIPT_STORE_H

#include "core/engine/internal.h"

#include <stddef.h>
#include <string>
#include <utility>
#include <vector>

namespace engine {

// What a file is sealed with: the user's secret key and the runtime build's identity.
struct ScriptSeal {
    std::string key;
    std::string identity;
};

// A file's parts, pointing into its bytes: the texts that functions keep for their source
// and the engine's dump.
struct StoredScript {
    std::vector<std::pair<const char*, size_t>> texts;
    const char* dump = nullptr;
    size_t dumpLength = 0;
};

// The file for the compiled form of a source (n bytes of code, named name).
std::string sealScript(const ScriptSeal& seal, const std::string& name, const char* code, size_t n,
                       const std::vector<std::string>& texts, const std::string& dump);
// True, with its parts, only when the file is one that sealScript wrote with this key and
// identity for this name and source.
bool openScript(const std::string& file, const ScriptSeal& seal, const std::string& name,
                const char* code, size_t n, StoredScript* out);
// [...] -> [... function] for an opened file; [...] and false when the engine refuses it.
bool loadStoredScript(duk_context* ctx, const StoredScript& stored);

} // namespace engine

#endif
