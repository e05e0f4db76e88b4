// The registry store's value-file reader on any file content: a value of a known type or
// a refusal; a number is always its four bytes.
#include "platforms/platform.h"

#include <filesystem>
#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::string gStore; // removed at exit
static void removeStore() {
    std::error_code ignored;
    std::filesystem::remove_all(gStore, ignored);
}

// A store of its own in a fresh folder (in memory where there is /dev/shm), with one key
// whose value file each input replaces.
static std::string valueFile() {
    static std::string path = [] {
        char dir[] = "/dev/shm/registry_store_fuzz_XXXXXX";
        char fallback[] = "/tmp/registry_store_fuzz_XXXXXX";
        const char* made = mkdtemp(dir);
        if (!made) made = mkdtemp(fallback);
        if (!made) abort();
        gStore = made;
        atexit(removeStore);
        setenv("CAPSULE_REGISTRY", made, 1);
        platform::RegistryValue v;
        if (!platform::registryWrite(platform::kCurrentUser, "Key", "v", v)) abort();
        return platform::registryTreePath(platform::kCurrentUser) + "/Key/@v";
    }();
    return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = valueFile();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
    platform::RegistryValue value;
    if (platform::registryRead(platform::kCurrentUser, "Key", "v", &value)) {
        int t = value.type;
        if (t != platform::kRegString && t != platform::kRegExpandString &&
            t != platform::kRegBinary && t != platform::kRegNumber &&
            t != platform::kRegMultiString)
            abort();
        if (t == platform::kRegNumber && value.data.size() != 4) abort();
    }
    return 0;
}
