// Power control through the system's service manager: systemctl halt, poweroff, reboot
// and hibernate, and loginctl to end the caller's session.
#include "platforms/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace platform {

// Root, or the capability to reboot among the effective ones (bit 22 of CapEff).
bool hasShutdownPrivilege() {
    if (geteuid() == 0) return true;
    FILE* f = fopen("/proc/self/status", "re");
    if (!f) return false;
    char line[256];
    unsigned long long caps = 0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "CapEff: %llx", &caps) == 1) break;
    fclose(f);
    return (caps >> 22) & 1;
}

bool requestPower(PowerAction action, bool force) {
    std::vector<std::string> args;
    if (action == kLogOff) {
        // The session of the caller; an empty name asks logind for the caller's own.
        const char* session = getenv("XDG_SESSION_ID");
        args = {"loginctl", "terminate-session", session ? session : ""};
    } else {
        static const char* const kVerbs[] = {"", "halt", "poweroff", "reboot", "hibernate"};
        args = {"systemctl", kVerbs[action]};
        if (force) args.push_back("--ignore-inhibitors");
    }
    return runProgram(args, nullptr) == 0;
}

} // namespace platform
