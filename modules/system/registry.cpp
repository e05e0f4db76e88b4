// Registry natives: getRegistry, enumRegistry, setRegistry and delRegistry over the
// platform's key store. Failures of the store show only in the results.
#include "modules/system/system_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <string.h>
#include <string>
#include <vector>

namespace {

// The first of the five names that occurs anywhere in the text decides (case matters);
// -1 when none does.
int parseRootKey(const char* text) {
    static const char* const kNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                         "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
    static const int kRoots[] = {platform::kClassesRoot, platform::kCurrentUser,
                                 platform::kLocalMachine, platform::kUsers,
                                 platform::kCurrentConfig};
    for (int i = 0; i < 5; i++)
        if (strstr(text, kNames[i])) return kRoots[i];
    return -1;
}

struct Request {
    int root = -1;
    std::string path, key;
};

// Reads root, path and key of the request object; false with an error reported or
// pending. Without an argument: the format error when a usage text is given.
bool readRequest(HostContext* cx, unsigned argc, HostValue* argv, const char* usage,
                 HostObject** obj, Request* r) {
    if (argc < 1 && usage) return hostFormatError(cx, usage);
    *obj = requestObject(cx, argc ? argv[0] : HOST_UNDEFINED, "regRequest");
    if (!*obj) return false;
    r->root = parseRootKey(hostApi->propertyAsBytes(cx, *obj, "root", "HKEY_LOCAL_MACHINE"));
    textProperty(cx, *obj, "path", &r->path);
    textProperty(cx, *obj, "key", &r->key);
    return !hostApi->errorPending(cx);
}

HostValue newText(HostContext* cx, const std::u16string& s) {
    return hostApi->newString(cx, nullptr, reinterpret_cast<const HostChar*>(s.c_str()));
}

// A value read as text: a string's text (a multi-string's first), any other type's bytes
// taken as UTF-16 units, low byte first (so the number 1 is the character U+0001); the
// text ends at its first NUL.
std::u16string valueText(const platform::RegistryValue& v) {
    std::u16string t;
    if (v.type == platform::kRegString || v.type == platform::kRegExpandString ||
        v.type == platform::kRegMultiString) {
        t = text::fromUtf8(v.data.data(), v.data.size());
    } else {
        for (size_t i = 0; i + 1 < v.data.size(); i += 2)
            t += static_cast<char16_t>(static_cast<unsigned char>(v.data[i]) |
                                       static_cast<unsigned char>(v.data[i + 1]) << 8);
    }
    size_t nul = t.find(u'\0');
    if (nul != std::u16string::npos) t.resize(nul);
    return t;
}

} // namespace

// The value's text, or def (default "") when the key or value is missing or empty.
SYSTEM_NATIVE(sysGetRegistry) {
    (void)self;
    HostObject* obj;
    Request r;
    if (!readRequest(cx, argc, argv, "System.getRegistry(<regRequest>)", &obj, &r)) return 0;
    std::string def;
    textProperty(cx, obj, "def", &def);
    if (hostApi->errorPending(cx)) return 0;
    platform::RegistryValue value;
    std::u16string result;
    if (platform::registryRead(r.root, r.path, r.key, &value)) result = valueText(value);
    if (result.empty()) result = text::fromUtf8(def.data(), def.size());
    *rval = newText(cx, result);
    return 1;
}

// The subkey names of path, sorted; undefined when the key is missing.
SYSTEM_NATIVE(sysEnumRegistry) {
    (void)self;
    HostObject* obj;
    Request r;
    if (!readRequest(cx, argc, argv, "System.enumRegistry(<regRequest>)", &obj, &r)) return 0;
    std::vector<std::string> names;
    if (!platform::registrySubkeys(r.root, r.path, &names)) return 1;
    HostObject* array = hostApi->newArray(cx, 0, nullptr);
    if (!array) return 0;
    *rval = hostObject(array);
    for (unsigned i = 0; i < names.size(); i++) {
        HostValue name = newText(cx, text::fromUtf8(names[i].data(), names[i].size()));
        if (!hostApi->setElement(cx, array, i, &name)) return 0;
    }
    return 1;
}

// Writes value (default "") as a string, creating the keys of path as needed.
SYSTEM_NATIVE(sysSetRegistry) {
    (void)self, (void)rval;
    HostObject* obj;
    Request r;
    if (!readRequest(cx, argc, argv, nullptr, &obj, &r)) return 0;
    platform::RegistryValue value;
    textProperty(cx, obj, "value", &value.data);
    if (hostApi->errorPending(cx)) return 0;
    platform::registryWrite(r.root, r.path, r.key, value);
    return 1;
}

// Deletes the value key, or with key empty the key path itself when it has no subkeys.
SYSTEM_NATIVE(sysDelRegistry) {
    (void)self, (void)rval;
    HostObject* obj;
    Request r;
    if (!readRequest(cx, argc, argv, nullptr, &obj, &r)) return 0;
    if (r.key.empty())
        platform::registryDeleteKey(r.root, r.path);
    else
        platform::registryDeleteValue(r.root, r.path, r.key);
    return 1;
}
