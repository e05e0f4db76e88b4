// The user's folders: the home folder (from the environment or the password database)
// and the private cache folders, opened level by level from the root.
#include "platforms/posix/cache_folder.h"
#include "platforms/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <vector>

namespace platform {

std::string homeFolder() {
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return home;
    std::vector<char> buf(16384);
    struct passwd pw, *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

namespace {

// A level that nobody but the user (and root) can change: a folder owned by either, writable
// by nobody else, or sticky (like /tmp: others may add names there but not take ours).
// The levels of the runtime's own (own is true) are made the user's alone if need be.
bool trusted(int fd, bool own) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    uid_t me = geteuid();
    if (st.st_uid != me && st.st_uid != 0) return false;
    if (own) return st.st_uid == me && ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
    return (st.st_mode & 022) == 0 || (st.st_mode & S_ISVTX);
}

// The next level below a folder: opened without following a link, made (0700) when missing.
int openLevel(int parent, const std::string& name) {
    int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT && (mkdirat(parent, name.c_str(), 0700) == 0 || errno == EEXIST))
        fd = openat(parent, name.c_str(), flags);
    return fd;
}

// Walks an absolute path from the root, level by level; -1 when a level fails. The last
// `own` levels are the runtime's.
int openTrusted(const std::string& path, size_t own) {
    std::vector<std::string> levels;
    for (size_t i = 0; i < path.size();) {
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(i, end - i);
        if (name == "..") return -1; // the walk goes down only
        if (!name.empty() && name != ".") levels.push_back(name);
        i = end + 1;
    }
    int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !trusted(fd, false)) {
        if (fd >= 0) close(fd);
        return -1;
    }
    for (size_t i = 0; i < levels.size(); i++) {
        int next = openLevel(fd, levels[i]);
        close(fd);
        fd = next;
        if (fd < 0 || !trusted(fd, i + own >= levels.size())) {
            if (fd >= 0) close(fd);
            return -1;
        }
    }
    return fd;
}

// $XDG_CACHE_HOME when it is an absolute path (the convention ignores a relative one),
// else ~/.cache.
std::string cacheBase() {
    const char* cache = getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return cache;
    std::string home = homeFolder();
    return home.empty() ? home : home + "/.cache";
}

} // namespace

int cacheFolder(const char* folder) {
    static std::mutex lock;
    static std::map<std::string, int> opened; // held for the process, -1 for none
    std::lock_guard<std::mutex> hold(lock);
    auto found = opened.find(folder);
    if (found != opened.end()) return found->second;
    std::string base = cacheBase();
    int fd = base.empty() ? -1 : openTrusted(base + "/capsule/" + folder, 2);
    opened[folder] = fd;
    return fd;
}

bool hasCacheFolder(const char* folder) {
    return cacheFolder(folder) >= 0;
}

} // namespace platform
