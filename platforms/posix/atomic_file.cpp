// Files replaced whole: the new content goes to a temporary file next to the target, is
// flushed to the disk, and is renamed over the target; the folder is flushed after, so
// that the rename itself survives a crash. A reader sees the old file or the new one.
#include "platforms/platform.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
std::atomic<unsigned> gCounter{0};

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

bool writeFileAtomically(const std::string& path, const std::string& data, unsigned mode,
                         bool durable) {
    std::string folder = folderOf(path);
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[48];
    snprintf(suffix, sizeof suffix, ".tmp-%d-%u-", static_cast<int>(getpid()), gCounter++);
    // A dot first: the temporary file is hidden and never taken for a finished one.
    std::string temp = (folder.empty() ? std::string() : folder + "/") + suffix + base;
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    fchmod(fd, mode); // whatever the umask
    bool ok = writeAll(fd, data) && (!durable || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    int dir = durable
                  ? open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                  : -1;
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

} // namespace platform
