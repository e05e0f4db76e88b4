// Power control: the shutdown privilege enabled in the process token, then ExitWindowsEx
// (log-off, shutdown, power-off, reboot) or SetSuspendState (hibernation).
#include "platforms/platform.h"

#include <windows.h>

#include <powrprof.h>

namespace platform {

// True when the token holds the privilege and it could be enabled.
bool hasShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS; // not ERROR_NOT_ALL_ASSIGNED
    CloseHandle(token);
    return ok;
}

bool requestPower(PowerAction action, bool force) {
    if (action == kHibernate) return SetSuspendState(TRUE, force, FALSE) != 0;
    static const UINT kFlags[] = {EWX_LOGOFF, EWX_SHUTDOWN, EWX_POWEROFF, EWX_REBOOT};
    UINT flags = kFlags[action] | (force ? EWX_FORCE : 0);
    return ExitWindowsEx(flags, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED) != 0;
}

} // namespace platform
