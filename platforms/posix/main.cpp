// The executable's entry point.
#include "core/runtime/startup.h"
#include "platforms/platform.h"

int main(int argc, char** argv, char** envp) {
    return platform::runHost(argc, argv, envp,
                             HostOptions{kBootstrapName, kBootstrapSource, nullptr});
}
