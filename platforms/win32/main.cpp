// The executable's entry point: the wide-character entry of a GUI-subsystem program.
#include "core/runtime/startup.h"
#include "platforms/platform.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The command line and the environment come from the runtime library's wide copies.
    // Script threads may still run when the bootstrap has returned: the process ends as
    // System.exit ends it.
    platform::endProcess(platform::runHost(0, nullptr, nullptr,
                                           HostOptions{kBootstrapName, kBootstrapSource, nullptr}));
}
