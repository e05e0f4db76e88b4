// Power control: the shutdown privilege enabled in the process token, then ExitWindowsEx
// (log-off, shutdown, power-off, reboot) or SetSuspendState (hibernation), and the
// privilege disabled again.
#include "platforms/platform.h"
#include "platforms/win32/seams.h"

#include <windows.h>

#include <powrprof.h>

namespace platform {

PowerCalls gPowerCalls = {ExitWindowsEx, SetSuspendState};

// Enables or disables the shutdown privilege in the process token; true when the token
// holds it and the change was made.
static bool setShutdownPrivilege(bool enable) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    bool ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS; // not ERROR_NOT_ALL_ASSIGNED
    CloseHandle(token);
    return ok;
}

bool hasShutdownPrivilege() {
    return setShutdownPrivilege(true);
}

bool requestPower(PowerAction action, bool force) {
    bool accepted;
    if (action == kHibernate) {
        accepted = gPowerCalls.suspend(TRUE, force, FALSE) != 0;
    } else {
        static const UINT kFlags[] = {EWX_LOGOFF, EWX_SHUTDOWN, EWX_POWEROFF, EWX_REBOOT};
        UINT flags = kFlags[action] | (force ? EWX_FORCE : 0);
        accepted = gPowerCalls.exitWindows(flags, SHTDN_REASON_MAJOR_APPLICATION |
                                                      SHTDN_REASON_FLAG_PLANNED) != 0;
    }
    setShutdownPrivilege(false);
    return accepted;
}

} // namespace platform
