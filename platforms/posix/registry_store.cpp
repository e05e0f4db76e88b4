// The registry as files: each root key is a folder tree, each key a folder, each value a
// file "@<name>" holding a header line "capsule-registry 1 <type> <size>" and exactly
// <size> bytes of data. Names are escaped for the file system (%XX) and found without
// regard to letter case. Writers hold an exclusive lock on the tree's ".lock" file and
// replace value files atomically; readers hold a shared one. Names beginning with a dot
// are the store's own (lock, temporary files, keys being deleted).
#include "platforms/platform.h"

#include <algorithm>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
const char kMagic[] = "capsule-registry 1";

struct TypeName {
    int type;
    const char* name;
};
const TypeName kTypes[] = {{kRegString, "REG_SZ"},
                           {kRegExpandString, "REG_EXPAND_SZ"},
                           {kRegBinary, "REG_BINARY"},
                           {kRegNumber, "REG_DWORD"},
                           {kRegMultiString, "REG_MULTI_SZ"}};

// Escapes what a file name cannot hold or what the store reserves: '/', '\\' (a separator
// to the runtime's own file functions), '%', '@', control
// characters, and a leading dot.
std::string escapeName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\' || c == '%' || c == '@' || c < 0x20 || c == 0x7F ||
            (i == 0 && c == '.')) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string unescapeName(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        int hi, lo;
        if (s[i] == '%' && i + 2 < s.size() && (hi = hexDigit(s[i + 1])) >= 0 &&
            (lo = hexDigit(s[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Upper case of one code point: ASCII, Latin-1, Greek and Cyrillic letters.
uint32_t upper(uint32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0x3C2) return 0x3A3; // final sigma
    if ((c >= 0x3B1 && c <= 0x3C9) || (c >= 0x430 && c <= 0x44F)) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

// A name folded for comparison: code points upper-cased; bytes that are no UTF-8 kept.
std::u32string fold(const std::string& s) {
    std::u32string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned c = p[i];
        unsigned len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        if (len > 1 && i + len <= n) {
            uint32_t cp = c & (0x7F >> len);
            bool ok = true;
            for (unsigned k = 1; k < len; k++) {
                ok = ok && (p[i + k] & 0xC0) == 0x80;
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            if (ok) {
                out += upper(cp);
                i += len;
                continue;
            }
        }
        out += upper(c < 0x80 ? c : 0x110000 + c); // a stray byte stays distinct
        i++;
    }
    return out;
}

bool isDir(int dirFd, const char* name) {
    struct stat st;
    return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// The entry of a folder that stands for a name (a key folder, or a value file when
// prefix is "@"), matched without regard to case; "" when there is none.
std::string findEntry(const std::string& folder, const std::string& name, bool wantDir,
                      const char* prefix) {
    DIR* d = opendir(folder.c_str());
    if (!d) return std::string();
    std::u32string want = fold(name);
    size_t plen = strlen(prefix);
    std::string found;
    while (struct dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' || strncmp(n, prefix, plen) != 0 || (!plen && n[0] == '@')) continue;
        if (fold(unescapeName(n + plen)) != want) continue;
        if (isDir(dirfd(d), n) != wantDir) continue;
        found = n;
        break;
    }
    closedir(d);
    return found;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The current user's settings are private to the user; the machine's are readable by all.
mode_t folderMode(int root) {
    return root == kCurrentUser ? 0700 : 0755;
}

// The folder of a key; with create, missing keys are made. "" when it is missing.
std::string keyFolder(int root, const std::string& path, bool create) {
    std::string folder = registryTreePath(root);
    for (const std::string& part : splitPath(path)) {
        std::string entry = findEntry(folder, part, true, "");
        if (entry.empty()) {
            if (!create) return std::string();
            entry = escapeName(part);
            if (mkdir((folder + "/" + entry).c_str(), folderMode(root)) != 0 && errno != EEXIST)
                return std::string();
        }
        folder += "/" + entry;
    }
    return folder;
}

bool makeTree(const std::string& path, mode_t mode) {
    std::string sofar;
    size_t i = 0;
    while (i != std::string::npos) {
        i = path.find('/', i + 1);
        sofar = path.substr(0, i);
        if (!sofar.empty() && mkdir(sofar.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// The tree's lock, held for the life of the object. A reader of a tree that was never
// written to goes without one.
class TreeLock {
  public:
    TreeLock(int root, bool write) {
        std::string tree = registryTreePath(root);
        if (write && !makeTree(tree, folderMode(root))) return;
        fd_ = open((tree + "/.lock").c_str(),
                   write ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC, 0644);
        if (fd_ >= 0) {
            while (flock(fd_, write ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {}
        }
        ok_ = fd_ >= 0 || !write;
    }
    ~TreeLock() {
        if (fd_ >= 0) close(fd_); // releases the lock
    }
    bool ok() const { return ok_; }

  private:
    int fd_ = -1;
    bool ok_ = false;
};

// Leftovers of writers that were killed: under the exclusive lock no other writer is
// active, so every temporary file and key being deleted in the folder is stale.
void removeTree(const std::string& path);
void removeLeftovers(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> stale;
    while (struct dirent* e = readdir(d))
        if (!strncmp(e->d_name, ".tmp-", 5) || !strncmp(e->d_name, ".del-", 5))
            stale.push_back(folder + "/" + e->d_name);
    closedir(d);
    for (const std::string& s : stale)
        removeTree(s);
}

void removeTree(const std::string& path) {
    if (unlink(path.c_str()) == 0 || errno != EISDIR) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    }
    if (DIR* d = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (struct dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
        for (const std::string& n : names)
            removeTree(path + "/" + n);
    }
    rmdir(path.c_str());
}

bool readWhole(const std::string& path, std::string* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out->append(buf, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

// Parses a value file; false when it is damaged in any way.
bool parseValue(const std::string& file, RegistryValue* out) {
    size_t eol = file.find('\n');
    if (eol == std::string::npos) return false;
    char type[32];
    unsigned long size;
    char extra;
    std::string header = file.substr(0, eol);
    if (header.compare(0, sizeof kMagic - 1, kMagic) != 0 ||
        sscanf(header.c_str() + sizeof kMagic - 1, " %31s %lu %c", type, &size, &extra) != 2 ||
        file.size() - eol - 1 != size)
        return false;
    out->data = file.substr(eol + 1);
    for (const TypeName& t : kTypes) {
        if (strcmp(type, t.name) != 0) continue;
        out->type = t.type;
        if (t.type != kRegNumber) return true;
        // A number: decimal text of 0 to 4294967295, handed on as its four bytes.
        if (out->data.empty() || out->data.size() > 10 ||
            out->data.find_first_not_of("0123456789") != std::string::npos)
            return false;
        unsigned long long v = strtoull(out->data.c_str(), nullptr, 10);
        if (v > 0xFFFFFFFFull) return false;
        out->data.clear();
        for (int i = 0; i < 4; i++)
            out->data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    return false;
}

std::string formatValue(const RegistryValue& v) {
    std::string data = v.data;
    if (v.type == kRegNumber) {
        uint32_t n = 0;
        for (size_t i = 0; i < 4 && i < v.data.size(); i++)
            n |= static_cast<uint32_t>(static_cast<unsigned char>(v.data[i])) << (8 * i);
        data = std::to_string(n);
    }
    const char* name = "REG_SZ";
    for (const TypeName& t : kTypes)
        if (t.type == v.type) name = t.name;
    return std::string(kMagic) + " " + name + " " + std::to_string(data.size()) + "\n" + data;
}

bool validRoot(int root) {
    return root >= kClassesRoot && root <= kCurrentConfig;
}

} // namespace

// CAPSULE_REGISTRY moves the whole store (tests); otherwise the current user's tree
// lives under $XDG_CONFIG_HOME (~/.config) and the machine's trees under /var/lib.
std::string registryTreePath(int root) {
    if (!validRoot(root)) return std::string();
    std::string base;
    const char* moved = getenv("CAPSULE_REGISTRY");
    if (moved && *moved) {
        base = moved;
    } else if (root == kCurrentUser) {
        const char* config = getenv("XDG_CONFIG_HOME");
        const char* home = getenv("HOME");
        base = config && *config ? std::string(config) : std::string(home ? home : "") + "/.config";
        base += "/capsule/registry";
    } else {
        base = "/var/lib/capsule/registry";
    }
    return base + "/" + kRootNames[root];
}

bool registryRead(int root, const std::string& path, const std::string& name, RegistryValue* out) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, false);
    std::string folder = keyFolder(root, path, false);
    if (folder.empty()) return false;
    std::string entry = findEntry(folder, name, false, "@");
    std::string file;
    return !entry.empty() && readWhole(folder + "/" + entry, &file) && parseValue(file, out);
}

bool registrySubkeys(int root, const std::string& path, std::vector<std::string>* names) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, false);
    std::string folder = keyFolder(root, path, false);
    DIR* d = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!d) return splitPath(path).empty(); // a root key exists even before its first write
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.' && e->d_name[0] != '@' && isDir(dirfd(d), e->d_name))
            names->push_back(unescapeName(e->d_name));
    closedir(d);
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
        std::u32string fa = fold(a), fb = fold(b);
        return fa != fb ? fa < fb : a < b;
    });
    return true;
}

bool registryWrite(int root, const std::string& path, const std::string& name,
                   const RegistryValue& value) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, true);
    if (!lock.ok()) return false;
    std::string folder = keyFolder(root, path, true);
    if (folder.empty()) return false;
    removeLeftovers(folder);
    std::string entry = findEntry(folder, name, false, "@");
    if (entry.empty()) entry = "@" + escapeName(name);
    return writeFileAtomically(folder + "/" + entry, formatValue(value),
                               root == kCurrentUser ? 0600 : 0644);
}

bool registryDeleteValue(int root, const std::string& path, const std::string& name) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, true);
    std::string folder = lock.ok() ? keyFolder(root, path, false) : std::string();
    if (folder.empty()) return false;
    std::string entry = findEntry(folder, name, false, "@");
    return !entry.empty() && unlink((folder + "/" + entry).c_str()) == 0;
}

// The key folder is first renamed to a hidden name (one atomic step: the key is gone for
// every reader), then removed with its values.
bool registryDeleteKey(int root, const std::string& path) {
    if (!validRoot(root) || splitPath(path).empty()) return false;
    TreeLock lock(root, true);
    std::string folder = lock.ok() ? keyFolder(root, path, false) : std::string();
    if (folder.empty()) return false;
    DIR* d = opendir(folder.c_str());
    if (!d) return false;
    bool hasSubkeys = false;
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.' && e->d_name[0] != '@' && isDir(dirfd(d), e->d_name))
            hasSubkeys = true;
    closedir(d);
    if (hasSubkeys) return false;
    std::string parent = folderOf(folder);
    removeLeftovers(parent);
    char hidden[40];
    snprintf(hidden, sizeof hidden, "/.del-%d", static_cast<int>(getpid()));
    if (rename(folder.c_str(), (parent + hidden).c_str()) != 0) return false;
    removeTree(parent + hidden);
    return true;
}

} // namespace platform
