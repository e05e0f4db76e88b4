// Files of the private cache folders, reached through the folder's open descriptor: never
// by a path that a link or a renamed folder could turn elsewhere.
#include "platforms/posix/cache_folder.h"
#include "platforms/platform.h"

#include <atomic>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

std::atomic<unsigned> gCounter{0};

bool endsWith(const char* name, const char* suffix) {
    size_t n = strlen(name), s = strlen(suffix);
    return n >= s && memcmp(name + n - s, suffix, s) == 0;
}

bool writeAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Removes the oldest files that count until one more of `adding` bytes keeps the folder
// within its bounds. The file about to be replaced counts as gone.
void prune(int dir, const std::string& replacing, size_t adding, const CacheBounds& bounds) {
    int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) close(fd);
        return;
    }
    struct File {
        int64_t mtime;
        int64_t size;
        std::string name;
    };
    std::vector<File> files;
    int64_t total = 0;
    while (struct dirent* e = readdir(d)) {
        struct stat st;
        if (!endsWith(e->d_name, bounds.suffix) || replacing == e->d_name ||
            fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        files.push_back(
            {static_cast<int64_t>(st.st_mtime), static_cast<int64_t>(st.st_size), e->d_name});
        total += st.st_size;
    }
    closedir(d);
    std::sort(files.begin(), files.end(),
              [](const File& a, const File& b) { return a.mtime < b.mtime; });
    size_t count = files.size();
    for (const File& f : files) {
        if (count + 1 <= bounds.files && total + static_cast<int64_t>(adding) <= bounds.bytes)
            break;
        unlinkat(dir, f.name.c_str(), 0);
        count--;
        total -= f.size;
    }
}

} // namespace

bool readCacheFile(const char* folder, const std::string& name, size_t maxBytes, std::string* out) {
    int dir = cacheFolder(folder);
    if (dir < 0 || name.find('/') != std::string::npos) return false;
    // Non-blocking: a FIFO or a device in the file's place is never waited on.
    int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
              (st.st_mode & 022) == 0 && static_cast<uint64_t>(st.st_size) <= maxBytes;
    if (ok) {
        out->resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < out->size()) {
            ssize_t n = read(fd, &(*out)[done], out->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ok = done == out->size();
    }
    close(fd);
    return ok;
}

bool writeCacheFile(const char* folder, const std::string& name, const std::string& data,
                    bool replace, const CacheBounds& bounds) {
    int dir = cacheFolder(folder);
    if (dir < 0 || name.find('/') != std::string::npos ||
        static_cast<int64_t>(data.size()) > bounds.bytes)
        return false;
    prune(dir, replace ? name : std::string(), data.size(), bounds);
    // A dot first: the temporary file is hidden and never taken for a finished one; it
    // ends in the suffix, so that one a crash left behind is pruned in its turn.
    char temp[64];
    snprintf(temp, sizeof temp, ".tmp-%d-%u%s", static_cast<int>(getpid()), gCounter++,
             bounds.suffix);
    int fd = openat(dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, data);
    ok = close(fd) == 0 && ok;
    // Without replace, a link keeps whatever file another process put there first.
    if (ok)
        ok = replace ? renameat(dir, temp, dir, name.c_str()) == 0
                     : linkat(dir, temp, dir, name.c_str(), 0) == 0;
    if (!ok || !replace) unlinkat(dir, temp, 0);
    return ok;
}

bool randomBytes(void* out, size_t n) {
    char* p = static_cast<char*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace platform
