// Files and directories: streams, path status, directory listings and wildcard names.
#include "platforms/platform.h"

#include "core/text/utf.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string localPath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

// A folder is no file: it opens as nothing (fopen would take one for reading).
FILE* openFile(const std::string& path, const char* mode) {
    FILE* f = fopen(path.c_str(), mode);
    struct stat st;
    if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(f);
        errno = EISDIR;
        return nullptr;
    }
    return f;
}

bool streamStatus(FILE* f, int64_t* size, int64_t* mtime) {
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return false;
    *size = st.st_size;
    *mtime = st.st_mtime;
    return true;
}

int64_t readAt(FILE* f, int64_t offset, void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = pread(fileno(f), static_cast<char*>(buf) + done, n - done,
                          offset + static_cast<int64_t>(done));
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(done);
}

int64_t streamSize(FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 ? st.st_size : -1;
}

static bool hasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// A path that ends in a separator but is not the root names nothing, folder or not, as
// with the stat of the scripts' first home: "web/" is never taken for the folder "web".
static bool endsInSeparator(const std::string& s) {
    return !s.empty() && s.back() == '/' && s.find_first_not_of('/') != std::string::npos;
}

bool pathStatus(const std::string& path, PathStatus* status) {
    struct stat st;
    if (hasWildcard(path) || endsInSeparator(path) || stat(path.c_str(), &st) != 0) return false;
    status->size = st.st_size;
    status->mtime = st.st_mtime;
    status->isDir = S_ISDIR(st.st_mode);
    return true;
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

// Flushes the file's content first, so that a crash after the rename cannot leave an
// empty file under the new name, and the new name's folder after, so that the rename
// itself survives one.
bool renamePath(const std::string& from, const std::string& to) {
    struct stat st;
    if (lstat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    if (rename(from.c_str(), to.c_str()) != 0) return false;
    std::string folder = folderOf(to);
    int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool setFileTime(const std::string& path, int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool createDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

bool removeDirectory(const std::string& path) {
    return rmdir(path.c_str()) == 0;
}

std::string currentDirectory() {
    std::string buf(256, '\0');
    while (!getcwd(&buf[0], buf.size())) {
        if (errno != ERANGE || buf.size() >= (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.c_str());
}

std::string resolvedPath(const std::string& path) {
    if (path.empty()) return std::string();
    char* full = realpath(path.c_str(), nullptr);
    if (!full) return std::string();
    std::string out(full);
    free(full);
    return out;
}

// A directory entry's kind; a link counts as what it points to.
static bool entryIsDir(int folder, const struct dirent* e) {
    if (e->d_type == DT_DIR) return true;
    if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) return false;
    struct stat st;
    return fstatat(folder, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::vector<DirEntry> listDirectory(const std::string& pattern) {
    std::vector<DirEntry> found;
    size_t slash = pattern.find_last_of('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : pattern.substr(0, slash);
    std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (name.empty()) return found; // "folder/" names no entry
    if (!hasWildcard(name)) {
        struct stat st;
        if (lstat(pattern.c_str(), &st) != 0) return found;
        bool isDir =
            S_ISDIR(st.st_mode) ||
            (S_ISLNK(st.st_mode) && stat(pattern.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        found.push_back(DirEntry{name, isDir});
        return found;
    }
    DIR* d = opendir(folder.c_str());
    if (!d) return found;
    while (const struct dirent* e = readdir(d))
        if (wildcardMatch(name, e->d_name))
            found.push_back(DirEntry{e->d_name, entryIsDir(dirfd(d), e)});
    closedir(d);
    return found;
}

static char16_t folded(char16_t c) {
    return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
}

// * and ? over UTF-16 units; on a mismatch the last * takes one more unit and tries again.
static bool matchUnits(const std::u16string& p, size_t pn, const std::u16string& s) {
    size_t pi = 0, si = 0, star = std::string::npos, resume = 0;
    while (si < s.size()) {
        if (pi < pn && p[pi] == u'*') {
            star = ++pi;
            resume = si;
        } else if (pi < pn && (p[pi] == u'?' || folded(p[pi]) == folded(s[si]))) {
            pi++, si++;
        } else if (star != std::string::npos) {
            pi = star;
            si = ++resume;
        } else {
            return false;
        }
    }
    while (pi < pn && p[pi] == u'*')
        pi++;
    return pi == pn;
}

bool wildcardMatch(const std::string& pattern, const std::string& name) {
    std::u16string p = text::fromUtf8(pattern.data(), pattern.size());
    std::u16string s = text::fromUtf8(name.data(), name.size());
    if (matchUnits(p, p.size(), s)) return true;
    // "x.*" also stands for "x" without any extension: "*.*" is every name.
    size_t n = p.size();
    return n >= 2 && p[n - 2] == u'.' && p[n - 1] == u'*' && s.find(u'.') == std::u16string::npos &&
           matchUnits(p, n - 2, s);
}

} // namespace platform
