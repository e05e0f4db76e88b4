// The platform layer: what the host needs from the operating system, without its headers.
// Text crossing here is UTF-8 (the platform's own encoding of names).
#ifndef CAPSULE_PLATFORM_H
#define CAPSULE_PLATFORM_H

#include <stdint.h>
#include <string>

struct HostOptions;

namespace platform {

// The process start: argv[0] becomes the executable's full path, the working directory
// its folder; then hostMain. Returns the exit code.
int runHost(int argc, char** argv, char** envp, const HostOptions& options);

// The executable's full path ("" if it cannot be read).
std::string executablePath();
// The folder part of a path (up to the last separator), or "" when it has none.
std::string folderOf(const std::string& path);
bool changeDirectory(const std::string& path);

// Fault trap: routes access violations of guarded threads to crashguard::handleFault.
void installFaultTrap();
// Gives the calling thread the alternate stack that the trap runs on.
void prepareFaultStack();

// System information.
struct SystemVersion {
    std::string name; // "Linux"
    int major = 0, minor = 0, patch = 0;
};
SystemVersion systemVersion();
int processId();
bool isAdministrator();
// Cumulative processor times over all processors: busy and total ticks.
bool processorTimes(uint64_t* busy, uint64_t* total);
void sleepMs(unsigned ms);

// Console events: calls deliver with "CONTROL_STOP", "CONTROL_LOGOFF" or
// "CONTROL_SHUTDOWN" on a thread of its own for each event. Installing again is harmless.
void installConsoleEvents(void (*deliver)(const char* name));

} // namespace platform

#endif
