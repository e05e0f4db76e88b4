// The user's folders: the home folder (from the environment or the password database)
// and the private cache folder of the base-directory convention.
#include "platforms/platform.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Makes the missing levels of a folder with the mode (whatever the umask); true when the
// last one is a folder of the user's own that nobody else may enter (made so if need be).
static bool privateFolder(const std::string& path) {
    for (size_t i = path.find('/', 1);; i = path.find('/', i + 1)) {
        std::string level = path.substr(0, i);
        if (mkdir(level.c_str(), 0700) == 0)
            chmod(level.c_str(), 0700);
        else if (errno != EEXIST)
            return false;
        if (i == std::string::npos) break;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
}

// $XDG_CACHE_HOME when it is an absolute path (the convention ignores a relative one),
// else ~/.cache.
std::string privateCacheFolder(const std::string& name) {
    const char* cache = getenv("XDG_CACHE_HOME");
    std::string base = cache && cache[0] == '/' ? cache : homeFolder();
    if (base.empty()) return std::string();
    if (!(cache && cache[0] == '/')) base += "/.cache";
    std::string folder = base + "/capsule/" + name;
    return privateFolder(folder) ? folder : std::string();
}

} // namespace platform
