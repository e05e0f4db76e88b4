// SERVICE_INSTALL's Windows side, run under Wine against its service manager: a new
// service and then the same one installed again (its configuration changed in place).
// The description and failure actions are read behind their seam
// (platforms/win32/seams.h), since Wine keeps no failure actions to query. Prints "ok" or
// what went wrong.
#include "platforms/platform.h"
#include "platforms/win32/seams.h"

#include <stdio.h>
#include <windows.h>

#include <string>

namespace {

struct Recorded {
    std::wstring description;
    DWORD reset = 0, actions = 0, type = 0, delay = 0;
    int failureCalls = 0;
} gSeen;

BOOL WINAPI changeConfig2(SC_HANDLE service, DWORD level, void* info) {
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        gSeen.description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        auto* a = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        gSeen.failureCalls++;
        gSeen.reset = a->dwResetPeriod;
        gSeen.actions = a->cActions;
        gSeen.type = a->cActions ? a->lpsaActions[0].Type : 0;
        gSeen.delay = a->cActions ? a->lpsaActions[0].Delay : 0;
    }
    return ChangeServiceConfig2W(service, level, info);
}

// The service's configuration as the manager has it: "type start path|display".
std::wstring configOf(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_QUERY_CONFIG) : nullptr;
    BYTE buf[8192];
    DWORD need = 0;
    std::wstring out = L"<none>";
    if (service && QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf),
                                       sizeof buf, &need)) {
        auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf);
        out = std::to_wstring(c->dwServiceType) + L" " + std::to_wstring(c->dwStartType) + L" " +
              c->lpBinaryPathName + L"|" + c->lpDisplayName;
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return out;
}

int failed = 0;
void expect(bool ok, const char* what) {
    if (!ok) {
        printf("FAILED %s\n", what);
        failed++;
    }
}

} // namespace

int main() {
    platform::gServiceCalls = {changeConfig2};
    platform::ServiceConfig c;
    c.name = "CapsuleSeamTest";
    c.commandLine = "C:\\first.exe -service";
    c.displayName = "First";
    c.description = "made";
    c.interactive = true;
    c.restartDelayMs = 1500;
    expect(platform::installService(c), "a new service is installed");
    expect(configOf(L"CapsuleSeamTest") == L"272 2 C:\\first.exe -service|First",
           "interactive own process, automatic start");
    expect(gSeen.description == L"made", "its description");
    expect(gSeen.failureCalls == 1 && gSeen.reset == 86400 && gSeen.actions == 1 &&
               gSeen.type == SC_ACTION_RESTART && gSeen.delay == 1500,
           "one restart action, failures counted afresh after a day");
    c.commandLine = "C:\\second.exe";
    c.displayName = "Second";
    c.description = "changed";
    c.interactive = false;
    c.manualStart = true;
    c.restartDelayMs = -1;
    expect(platform::installService(c), "installing it again succeeds");
    expect(configOf(L"CapsuleSeamTest") == L"16 3 C:\\second.exe|Second",
           "its configuration is changed in place");
    expect(gSeen.description == L"changed" && gSeen.failureCalls == 1,
           "a new description; the failure actions left as they were");
    expect(platform::uninstallService(c.name), "uninstalled");
    if (!failed) printf("ok\n");
    return failed ? 1 : 0;
}
