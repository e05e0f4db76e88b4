// Start of the process: the executable's full path becomes argv[0] and its folder the
// working directory; then the engine instance runs the bootstrap.
#include "core/startup.h"
#include "platforms/platform.h"

#include <string>

namespace platform {

int runHost(int argc, char** argv, char** envp, const HostOptions& options) {
    // Kept for the process's life: argv[0] points into it.
    std::string* self = new std::string(executablePath());
    if (!self->empty() && argc > 0) {
        argv[0] = &(*self)[0];
        std::string folder = folderOf(*self);
        if (!folder.empty()) changeDirectory(folder);
    }
    return hostMain(argc, argv, envp, options);
}

} // namespace platform
