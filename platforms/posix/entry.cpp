// Start of the process: the executable's full path becomes argv[0] and its folder the
// working directory (PWD keeps the one it started in); then the engine instance runs the
// bootstrap.
#include "core/runtime/startup.h"
#include "platforms/platform.h"

#include <signal.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace platform {

// argv[0] points into it until the process ends.
static std::string gSelf;

// PWD names the folder the process started in, as scripts read it once the working
// directory has moved: a stale PWD inherited from a parent that changed folder without
// telling (a spawn with its own working directory) is replaced by the real one. True when
// it changed the environment.
static bool keepStartFolder() {
    char here[4096];
    if (!getcwd(here, sizeof here)) return false;
    const char* pwd = getenv("PWD");
    struct stat a, b;
    if (!pwd || (*pwd == '/' && stat(pwd, &a) == 0 && stat(here, &b) == 0 && a.st_dev == b.st_dev &&
                 a.st_ino == b.st_ino))
        return false; // absent (no shell started the process) or right
    return setenv("PWD", here, 1) == 0;
}

int runHost(int argc, char** argv, char** envp, const HostOptions& options) {
    // A write to a pipe or socket whose reader has gone fails with EPIPE instead of ending
    // the process (`app | head -1`); programs the runtime starts get the default back.
    signal(SIGPIPE, SIG_IGN);
    takeServiceSocket();
    gSelf = executablePath();
    if (keepStartFolder()) envp = environ; // with the new PWD
    if (!gSelf.empty() && argc > 0) {
        argv[0] = &gSelf[0];
        std::string folder = folderOf(gSelf);
        if (!folder.empty()) changeDirectory(folder);
    }
    return hostMain(argc, argv, envp, options);
}

} // namespace platform
