// The registry as files: each root key is a folder tree, each key a folder, each value a
// file "@<name>" holding a header line "capsule-registry 1 <type> <size>" and exactly
// <size> bytes of data. Names are escaped for the file system (%XX) and found without
// regard to letter case; a name too long for a file name gets an entry named by a hash
// and is kept inside it (registry_names.h): a key's in the file ".name" of its folder, a
// value's in a record "capsule-registry 1 NAME <size>" in front of its own. Writers hold
// an exclusive lock on the tree's ".lock" file and replace value files atomically;
// readers hold a shared one. Names beginning with a dot are the store's own (lock,
// temporary files, keys being deleted, long names).
#include "platforms/platform.h"
#include "platforms/posix/registry_names.h"

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

using regnames::fold;

const char kNameFile[] = ".name";
bool isDir(int dirFd, const char* name) {
    struct stat st;
    return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool readWhole(const std::string& path, std::string* out);
void removeTree(const std::string& path);
void removeLeftovers(const std::string& folder);

// The name kept in a long entry's name record ("" when there is none); *rest is what
// follows the record.
std::string nameRecord(const std::string& file, std::string* rest) {
    static const std::string kHead = std::string(kMagic) + " NAME ";
    size_t eol = file.find('\n');
    if (eol == std::string::npos || file.compare(0, kHead.size(), kHead) != 0) return "";
    unsigned long size = strtoul(file.c_str() + kHead.size(), nullptr, 10);
    if (size == 0 || file.size() - eol - 1 < size) return "";
    if (rest) *rest = file.substr(eol + 1 + size);
    return file.substr(eol + 1, size);
}

// The name an entry stands for: a plain entry's own, a long one's from inside it ("" when
// it cannot be read).
std::string entryName(const std::string& folder, const char* entry, bool isKey) {
    const char* stem = isKey ? entry : entry + 1;
    if (!regnames::isLong(stem)) return regnames::unescape(stem);
    std::string text;
    if (isKey) return readWhole(folder + "/" + entry + "/" + kNameFile, &text) ? text : "";
    return readWhole(folder + "/" + entry, &text) ? nameRecord(text, nullptr) : "";
}

// The entry of a folder that stands for a name (a key folder, or a value file), matched
// without regard to case; "" when there is none.
std::string findEntry(const std::string& folder, const std::string& name, bool isKey) {
    DIR* d = opendir(folder.c_str());
    if (!d) return std::string();
    std::u32string want = fold(name);
    std::string stem, found;
    while (struct dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' || (n[0] == '@') == isKey) continue;
        const char* bare = isKey ? n : n + 1;
        // A long entry can only be the name's when its hash is the name's.
        if (regnames::isLong(bare)) {
            if (stem.empty()) stem = regnames::longStem(name);
            if (strncmp(bare, stem.c_str(), stem.size()) != 0) continue;
        }
        if (isDir(dirfd(d), n) != isKey || fold(entryName(folder, n, isKey)) != want) continue;
        found = n;
        break;
    }
    closedir(d);
    return found;
}

// The entry a new key or value of that name gets: its plain name, or a long one that no
// other entry of the folder has.
std::string newEntry(const std::string& folder, const std::string& name, bool isKey) {
    std::string prefix = isKey ? "" : "@";
    if (regnames::fitsPlain(name)) return prefix + regnames::escape(name);
    std::string stem = prefix + regnames::longStem(name), entry = stem;
    struct stat st;
    for (int n = 1; lstat((folder + "/" + entry).c_str(), &st) == 0; n++)
        entry = stem + "-" + std::to_string(n);
    return entry;
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
// Folders and files get these modes whatever the umask.
mode_t folderMode(int root) {
    return root == kCurrentUser ? 0700 : 0755;
}
mode_t fileMode(int root) {
    return root == kCurrentUser ? 0600 : 0644;
}

// Makes a key folder: a plain one directly, a long one under a temporary name first, so
// that no reader meets it without its name.
bool makeKey(int root, const std::string& folder, const std::string& entry,
             const std::string& name) {
    std::string path = folder + "/" + entry;
    if (!regnames::isLong(entry.c_str())) {
        if (mkdir(path.c_str(), folderMode(root)) != 0) return errno == EEXIST;
        return chmod(path.c_str(), folderMode(root)) == 0;
    }
    std::string temp = folder + "/.tmp-" + std::to_string(getpid()) + "-key";
    bool ok = mkdir(temp.c_str(), folderMode(root)) == 0 &&
              chmod(temp.c_str(), folderMode(root)) == 0 &&
              writeFileAtomically(temp + "/" + kNameFile, name, fileMode(root)) &&
              rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) removeTree(temp);
    return ok;
}

// The folder of a key; with create, missing keys are made. "" when it is missing.
std::string keyFolder(int root, const std::string& path, bool create) {
    std::string folder = registryTreePath(root);
    for (const std::string& part : splitPath(path)) {
        std::string entry = findEntry(folder, part, true);
        if (entry.empty()) {
            if (!create) return std::string();
            removeLeftovers(folder);
            entry = newEntry(folder, part, true);
            if (!makeKey(root, folder, entry, part)) return std::string();
        }
        folder += "/" + entry;
    }
    return folder;
}

// Makes the missing folders of a path; those it makes get the mode whatever the umask.
bool makeTree(const std::string& path, mode_t mode) {
    std::string sofar;
    size_t i = 0;
    while (i != std::string::npos) {
        i = path.find('/', i + 1);
        sofar = path.substr(0, i);
        if (sofar.empty()) continue;
        if (mkdir(sofar.c_str(), mode) == 0)
            chmod(sofar.c_str(), mode);
        else if (errno != EEXIST)
            return false;
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
        if (fd_ >= 0 && write) fchmod(fd_, fileMode(root)); // readers may take it too
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
// lives under $XDG_CONFIG_HOME (an absolute path; else ~/.config, the home from the
// password database when $HOME is not set) and the machine's trees under /var/lib.
std::string registryTreePath(int root) {
    if (!validRoot(root)) return std::string();
    std::string base;
    const char* moved = getenv("CAPSULE_REGISTRY");
    if (moved && *moved) {
        base = moved;
    } else if (root == kCurrentUser) {
        const char* config = getenv("XDG_CONFIG_HOME");
        if (config && config[0] == '/') {
            base = config;
        } else {
            base = homeFolder();
            if (base.empty()) return std::string(); // never a tree below the file system's root
            base += "/.config";
        }
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
    std::string entry = findEntry(folder, name, false), file, value;
    if (entry.empty() || !readWhole(folder + "/" + entry, &file)) return false;
    if (!regnames::isLong(entry.c_str() + 1)) return parseValue(file, out);
    return !nameRecord(file, &value).empty() && parseValue(value, out);
}

bool registrySubkeys(int root, const std::string& path, std::vector<std::string>* names) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, false);
    std::string folder = keyFolder(root, path, false);
    DIR* d = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!d) return splitPath(path).empty(); // a root key exists even before its first write
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || e->d_name[0] == '@' || !isDir(dirfd(d), e->d_name)) continue;
        std::string name = entryName(folder, e->d_name, true);
        if (!name.empty()) names->push_back(name);
    }
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
    std::string entry = findEntry(folder, name, false);
    if (entry.empty()) entry = newEntry(folder, name, false);
    std::string record;
    if (regnames::isLong(entry.c_str() + 1))
        record = std::string(kMagic) + " NAME " + std::to_string(name.size()) + "\n" + name;
    return writeFileAtomically(folder + "/" + entry, record + formatValue(value), fileMode(root));
}

bool registryDeleteValue(int root, const std::string& path, const std::string& name) {
    if (!validRoot(root)) return false;
    TreeLock lock(root, true);
    std::string folder = lock.ok() ? keyFolder(root, path, false) : std::string();
    if (folder.empty()) return false;
    std::string entry = findEntry(folder, name, false);
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
