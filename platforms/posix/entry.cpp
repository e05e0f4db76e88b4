// Start of the process: the executable's full path becomes argv[0] and its folder the
// working directory; then the engine instance runs the bootstrap.
#include "core/runtime/startup.h"
#include "platforms/platform.h"

#include <signal.h>
#include <string>

namespace platform {

// argv[0] points into it until the process ends.
static std::string gSelf;

int runHost(int argc, char** argv, char** envp, const HostOptions& options) {
    // A write to a pipe or socket whose reader has gone fails with EPIPE instead of ending
    // the process (`app | head -1`); programs the runtime starts get the default back.
    signal(SIGPIPE, SIG_IGN);
    takeServiceSocket();
    gSelf = executablePath();
    if (!gSelf.empty() && argc > 0) {
        argv[0] = &gSelf[0];
        std::string folder = folderOf(gSelf);
        if (!folder.empty()) changeDirectory(folder);
    }
    return hostMain(argc, argv, envp, options);
}

} // namespace platform
