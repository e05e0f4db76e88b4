// Start of the process: the runtime library's wide argument and environment copies in
// UTF-8, the executable's full path (GetModuleFileNameW) as argv[0] and its folder as the
// working directory; then the engine instance runs the bootstrap.
#include "core/runtime/startup.h"
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <stdlib.h>
#include <string>
#include <vector>
#include <windows.h>

namespace platform {

namespace {
// Text blocks that argv and envp point into until the process ends.
std::vector<std::string> gArgs, gEnv;
} // namespace

// argc, argv and envp are not used: the wide start-up copies carry the same, as UTF-16.
int runHost(int, char**, char**, const HostOptions& options) {
    for (int i = 0; i < __argc; i++)
        gArgs.push_back(narrow(__wargv[i]));
    if (_wenviron)
        for (wchar_t** e = _wenviron; *e; e++)
            gEnv.push_back(narrow(*e));
    std::string self = executablePath();
    if (!self.empty()) {
        if (gArgs.empty())
            gArgs.push_back(self);
        else
            gArgs[0] = self;
        std::string folder = folderOf(self);
        if (!folder.empty()) changeDirectory(folder);
    }
    std::vector<char*> argv, envp;
    for (std::string& a : gArgs)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string& e : gEnv)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    return hostMain(static_cast<int>(gArgs.size()), argv.data(), _wenviron ? envp.data() : nullptr,
                    options);
}

} // namespace platform
