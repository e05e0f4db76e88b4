// The registry through the system's own calls: RegOpenKeyExW, RegCreateKeyExW,
// RegQueryValueExW, RegSetValueExW, RegEnumKeyExW, RegDeleteValueW and RegDeleteKeyW.
// Texts cross as UTF-8; a multi-string's parts are separated by NULs on both sides.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

HKEY rootKey(int root) {
    switch (root) {
    case kClassesRoot:
        return HKEY_CLASSES_ROOT;
    case kCurrentUser:
        return HKEY_CURRENT_USER;
    case kLocalMachine:
        return HKEY_LOCAL_MACHINE;
    case kUsers:
        return HKEY_USERS;
    case kCurrentConfig:
        return HKEY_CURRENT_CONFIG;
    default:
        return nullptr;
    }
}

// The path with empty parts (doubled, leading or trailing backslashes) left out, as the
// file store takes it.
std::wstring keyPath(const std::string& path) {
    std::wstring out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            if (!out.empty()) out += L'\\';
            out += widen(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

// An open key, closed with the object; null when it could not be opened.
class Key {
  public:
    Key(int root, const std::string& path, REGSAM access, bool create) {
        HKEY base = rootKey(root);
        if (!base) return;
        std::wstring p = keyPath(path);
        LONG r = create ? RegCreateKeyExW(base, p.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          access, nullptr, &key_, nullptr)
                        : RegOpenKeyExW(base, p.c_str(), 0, access, &key_);
        if (r != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

bool isText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

// The stores are the system's: a root key's name stands for its tree.
std::string registryTreePath(int root) {
    return rootKey(root) ? kRootNames[root] : std::string();
}

bool registryRead(int root, const std::string& path, const std::string& name, RegistryValue* out) {
    Key key(root, path, KEY_QUERY_VALUE, false);
    if (!key.get()) return false;
    std::wstring wname = widen(name);
    std::string bytes;
    DWORD type = 0;
    for (int tries = 0; tries < 4; tries++) { // the value may grow between the two calls
        DWORD size = static_cast<DWORD>(bytes.size());
        LONG r =
            RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(bytes.empty() ? nullptr : &bytes[0]), &size);
        if (r == ERROR_SUCCESS && size <= bytes.size()) {
            bytes.resize(size);
            break;
        }
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return false;
        bytes.resize(size + 2);
        if (tries == 3) return false;
    }
    out->type = static_cast<int>(type);
    if (!isText(type)) {
        out->data = bytes;
        return true;
    }
    std::wstring w(bytes.size() / 2, L'\0');
    std::copy(bytes.begin(), bytes.begin() + w.size() * 2, reinterpret_cast<char*>(&w[0]));
    while (!w.empty() && w.back() == L'\0') // the terminating NULs
        w.pop_back();
    out->data = narrow(w.data(), w.size());
    return true;
}

bool registrySubkeys(int root, const std::string& path, std::vector<std::string>* names) {
    Key key(root, path, KEY_ENUMERATE_SUB_KEYS, false);
    if (!key.get()) return false;
    std::vector<std::wstring> found;
    for (DWORD i = 0;; i++) {
        wchar_t name[256]; // the longest key name the system allows, and its NUL
        DWORD len = 256;
        LONG r = RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) return false;
        found.emplace_back(name, len);
    }
    std::sort(found.begin(), found.end(), [](const std::wstring& a, const std::wstring& b) {
        int c = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                     static_cast<int>(b.size()), TRUE);
        return c != CSTR_EQUAL ? c == CSTR_LESS_THAN : a < b;
    });
    for (const std::wstring& n : found)
        names->push_back(narrow(n.data(), n.size()));
    return true;
}

bool registryWrite(int root, const std::string& path, const std::string& name,
                   const RegistryValue& value) {
    Key key(root, path, KEY_SET_VALUE, true);
    if (!key.get()) return false;
    DWORD type = static_cast<DWORD>(value.type);
    std::string bytes = value.data;
    if (isText(type)) {
        std::wstring w = widen(value.data);
        w += L'\0';
        if (type == REG_MULTI_SZ) w += L'\0';
        bytes.assign(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
    } else if (type == REG_DWORD) {
        bytes.resize(4, '\0');
    }
    return RegSetValueExW(key.get(), widen(name).c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool registryDeleteValue(int root, const std::string& path, const std::string& name) {
    Key key(root, path, KEY_SET_VALUE, false);
    return key.get() && RegDeleteValueW(key.get(), widen(name).c_str()) == ERROR_SUCCESS;
}

bool registryDeleteKey(int root, const std::string& path) {
    std::wstring p = keyPath(path);
    if (p.empty() || !rootKey(root)) return false;
    {
        Key key(root, path, KEY_QUERY_VALUE, false);
        DWORD subkeys = 0;
        if (!key.get() ||
            RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys > 0)
            return false;
    }
    return RegDeleteKeyW(rootKey(root), p.c_str()) == ERROR_SUCCESS;
}

} // namespace platform
