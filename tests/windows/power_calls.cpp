// System.shutdown's Windows sequence read behind its seam (platforms/win32/seams.h),
// run under Wine: the power calls are stand-ins that record their flags and whether the
// shutdown privilege is enabled when they come; after the request it is disabled again.
// Prints "ok" or what went wrong; nothing is shut down.
#include "platforms/platform.h"
#include "platforms/win32/seams.h"

#include <stdio.h>
#include <windows.h>

namespace {

// Whether the process token has the shutdown privilege enabled now.
bool privilegeEnabled() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    LUID luid;
    char buf[4096];
    DWORD size = 0;
    bool enabled = false;
    if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &luid) &&
        GetTokenInformation(token, TokenPrivileges, buf, sizeof buf, &size)) {
        TOKEN_PRIVILEGES* p = reinterpret_cast<TOKEN_PRIVILEGES*>(buf);
        for (DWORD i = 0; i < p->PrivilegeCount; i++)
            if (p->Privileges[i].Luid.LowPart == luid.LowPart &&
                p->Privileges[i].Luid.HighPart == luid.HighPart)
                enabled = (p->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    CloseHandle(token);
    return enabled;
}

int calls = 0;
UINT seenFlags = 0;
bool enabledDuringCall = false;

BOOL WINAPI exitWindows(UINT flags, DWORD) {
    calls++;
    seenFlags = flags;
    enabledDuringCall = privilegeEnabled();
    return TRUE;
}

BOOLEAN WINAPI suspend(BOOLEAN, BOOLEAN, BOOLEAN) {
    calls++;
    seenFlags = 0xFFFF;
    enabledDuringCall = privilegeEnabled();
    return TRUE;
}

} // namespace

int main() {
    platform::gPowerCalls = {exitWindows, suspend};
    struct {
        platform::PowerAction action;
        bool force;
        UINT flags;
    } cases[] = {
        {platform::kReboot, true, EWX_REBOOT | EWX_FORCE},
        {platform::kPowerOff, false, EWX_POWEROFF},
        {platform::kHibernate, true, 0xFFFF},
    };
    int failed = 0;
    for (const auto& c : cases) {
        calls = 0;
        bool ok = platform::hasShutdownPrivilege() && platform::requestPower(c.action, c.force);
        if (!ok || calls != 1 || seenFlags != c.flags || !enabledDuringCall || privilegeEnabled()) {
            printf("action %d: result %d, %d calls, flags %#x, enabled during the call %d, "
                   "enabled after %d\n",
                   c.action, ok, calls, seenFlags, enabledDuringCall, privilegeEnabled());
            failed++;
        }
    }
    if (!failed) printf("ok\n");
    return failed ? 1 : 0;
}
