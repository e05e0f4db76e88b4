// Start of the process: the executable's full path becomes argv[0] and its folder the
// working directory; then the engine instance runs the bootstrap.
#include "core/startup.h"
#include "platforms/platform.h"

#include <string>

namespace platform {

// argv[0] points into it until the process ends.
static std::string gSelf;

int runHost(int argc, char** argv, char** envp, const HostOptions& options) {
    gSelf = executablePath();
    if (!gSelf.empty() && argc > 0) {
        argv[0] = &gSelf[0];
        std::string folder = folderOf(gSelf);
        if (!folder.empty()) changeDirectory(folder);
    }
    return hostMain(argc, argv, envp, options);
}

} // namespace platform
