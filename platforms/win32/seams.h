// Windows calls behind tables that a test replaces to read the call sequence: those that
// act on the machine's power (nothing is shut down under test) and the one that sets a
// service's description and failure actions (Wine keeps no failure actions to read back).
#ifndef CAPSULE_WIN32_SEAMS_H
#define CAPSULE_WIN32_SEAMS_H

#include <windows.h>

namespace platform {

struct PowerCalls {
    BOOL(WINAPI* exitWindows)(UINT flags, DWORD reason);
    BOOLEAN(WINAPI* suspend)(BOOLEAN hibernate, BOOLEAN force, BOOLEAN noWakeEvents);
};
extern PowerCalls gPowerCalls;

struct ServiceCalls {
    BOOL(WINAPI* changeConfig2)(SC_HANDLE service, DWORD level, void* info);
};
extern ServiceCalls gServiceCalls;

} // namespace platform

#endif
