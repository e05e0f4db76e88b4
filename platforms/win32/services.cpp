// Services through the service control manager. Management: CreateServiceW, or
// ChangeServiceConfigW for a service that exists, with ChangeServiceConfig2W
// (description, restart on failure), StartServiceW, ControlService
// and DeleteService, each waiting at most 30 s for the state it asks for; the manager's
// transient "database locked" (1055) is retried. The service's own side:
// StartServiceCtrlDispatcherW on a thread of its own, whose ServiceMain registers the
// control handler; stop and shutdown controls reach waitServiceEvent, and the states
// READY and STOPPING, then the end of the dispatch, go to SetServiceStatus.
#include "platforms/platform.h"
#include "platforms/win32/seams.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <tlhelp32.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string.h>

namespace platform {

ServiceCalls gServiceCalls = {ChangeServiceConfig2W};

namespace {
constexpr DWORD kWaitMs = 30000;

// A service manager handle, closed with the object.
struct Handle {
    SC_HANDLE h = nullptr;
    explicit Handle(SC_HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h) CloseServiceHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

SC_HANDLE openManager() {
    for (int tries = 0;; tries++) {
        SC_HANDLE m =
            OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        if (m || GetLastError() != ERROR_SERVICE_DATABASE_LOCKED || tries == 50) return m;
        Sleep(100);
    }
}

// Polls the service until it reaches state; false when it ends up stopped instead or the
// time runs out.
bool waitForState(SC_HANDLE service, DWORD state) {
    ULONGLONG end = GetTickCount64() + kWaitMs;
    SERVICE_STATUS status;
    while (QueryServiceStatus(service, &status)) {
        if (status.dwCurrentState == state) return true;
        if (status.dwCurrentState == SERVICE_STOPPED || GetTickCount64() > end) return false;
        Sleep(100);
    }
    return false;
}

// ---- the service's own side ----
struct Dispatch {
    std::mutex lock;
    std::condition_variable changed;
    SERVICE_STATUS_HANDLE handle = nullptr;
    bool registered = false; // ServiceMain has run (handle set, or null when it failed)
    bool ended = false;
    int stops = 0;
    DWORD state = SERVICE_START_PENDING;
};
Dispatch& gDispatch = *new Dispatch; // never destroyed: threads may use it at exit

// Reports the state; the caller holds the lock.
void report(DWORD state) {
    gDispatch.state = state;
    if (!gDispatch.handle) return;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : kWaitMs;
    SetServiceStatus(gDispatch.handle, &status);
}

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*) {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        gDispatch.stops++;
        report(SERVICE_STOP_PENDING);
        gDispatch.changed.notify_all();
    } else if (control == SERVICE_CONTROL_INTERROGATE) {
        report(gDispatch.state);
    } else {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD argc, wchar_t** argv) {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    gDispatch.handle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", onControl, nullptr);
    gDispatch.registered = true;
    report(gDispatch.ended ? SERVICE_STOPPED : gDispatch.state);
    gDispatch.changed.notify_all();
}

// The dispatcher returns once the service has reported itself stopped.
DWORD WINAPI dispatcherThread(void*) {
    static wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::lock_guard<std::mutex> hold(gDispatch.lock);
        gDispatch.registered = true;
        gDispatch.changed.notify_all();
    }
    return 0;
}

// The name of the parent process's executable, "" when it cannot be found.
std::wstring parentName() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return std::wstring();
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId(), parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    std::wstring name;
    for (BOOL more = Process32FirstW(snapshot, &entry); parent && more;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == parent) name = entry.szExeFile;
    CloseHandle(snapshot);
    return name;
}
} // namespace

bool serviceManagerAvailable() {
    Handle manager(openManager());
    return manager.h != nullptr;
}

// An existing service keeps its account, group and dependencies; its type, start type,
// program and display name change. Failure counts reset after a day without failure.
bool installService(const ServiceConfig& c) {
    Handle manager(openManager());
    if (!manager.h) return false;
    std::wstring name = widen(c.name),
                 display = widen(c.displayName.empty() ? c.name : c.displayName);
    std::wstring command = widen(c.commandLine);
    DWORD type = SERVICE_WIN32_OWN_PROCESS | (c.interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
    DWORD start = c.manualStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START;
    SC_HANDLE held = nullptr;
    for (int tries = 0; !held && tries <= 50; tries++) {
        held = OpenServiceW(manager.h, name.c_str(), SERVICE_ALL_ACCESS);
        if (held) {
            if (ChangeServiceConfigW(held, type, start, SERVICE_ERROR_NORMAL, command.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr, display.c_str()))
                break;
            CloseServiceHandle(held);
            return false;
        }
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return false; // no rights, say
        held = CreateServiceW(manager.h, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS, type,
                              start, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                              nullptr, nullptr, nullptr);
        // Locked, or made by another process meanwhile: try again.
        if (!held && GetLastError() != ERROR_SERVICE_DATABASE_LOCKED &&
            GetLastError() != ERROR_SERVICE_EXISTS)
            return false;
        if (!held) Sleep(100);
    }
    Handle service(held);
    if (!service.h) return false;
    std::wstring description = widen(c.description);
    SERVICE_DESCRIPTIONW text = {&description[0]};
    gServiceCalls.changeConfig2(service.h, SERVICE_CONFIG_DESCRIPTION, &text);
    if (c.restartDelayMs >= 0) {
        SC_ACTION restart = {SC_ACTION_RESTART, static_cast<DWORD>(c.restartDelayMs)};
        SERVICE_FAILURE_ACTIONSW actions = {};
        actions.dwResetPeriod = 86400; // seconds
        actions.cActions = 1;
        actions.lpsaActions = &restart;
        gServiceCalls.changeConfig2(service.h, SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    }
    return true;
}

bool uninstallService(const std::string& name) {
    Handle manager(openManager());
    Handle service(manager.h ? OpenServiceW(manager.h, widen(name).c_str(), DELETE) : nullptr);
    return service.h && DeleteService(service.h);
}

bool startService(const std::string& name) {
    Handle manager(openManager());
    Handle service(manager.h ? OpenServiceW(manager.h, widen(name).c_str(),
                                            SERVICE_START | SERVICE_QUERY_STATUS)
                             : nullptr);
    if (!service.h) return false;
    if (!StartServiceW(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    return waitForState(service.h, SERVICE_RUNNING);
}

bool stopService(const std::string& name) {
    Handle manager(openManager());
    if (!manager.h) return false;
    Handle service(
        OpenServiceW(manager.h, widen(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service.h) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status;
    if (!ControlService(service.h, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return false;
    return waitForState(service.h, SERVICE_STOPPED);
}

// A service has no unit file here: its configuration lives in the service manager.
std::string serviceUnitPath(const std::string&) {
    return std::string();
}

// The service manager (services.exe) starts every service process.
bool runningAsService() {
    static const bool asService = _wcsicmp(parentName().c_str(), L"services.exe") == 0;
    return asService;
}

void beginServiceDispatch() {
    {
        std::lock_guard<std::mutex> hold(gDispatch.lock);
        gDispatch.ended = false;
        gDispatch.stops = 0;
    }
    HANDLE t = CreateThread(nullptr, 0, dispatcherThread, nullptr, 0, nullptr);
    if (t) CloseHandle(t);
    // The service's states can be reported once ServiceMain has registered its handler.
    std::unique_lock<std::mutex> hold(gDispatch.lock);
    gDispatch.changed.wait_for(hold, std::chrono::milliseconds(kWaitMs),
                               [] { return gDispatch.registered; });
}

bool waitServiceEvent() {
    std::unique_lock<std::mutex> hold(gDispatch.lock);
    gDispatch.changed.wait(hold, [] { return gDispatch.ended || gDispatch.stops > 0; });
    if (gDispatch.ended) return false;
    gDispatch.stops--;
    return true;
}

// "READY=1" reports the service running, "STOPPING=1" stopping.
bool notifyServiceManager(const char* state) {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    if (!gDispatch.handle) return false;
    report(strcmp(state, "READY=1") == 0 ? SERVICE_RUNNING : SERVICE_STOP_PENDING);
    return true;
}

void endServiceDispatch() {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    if (gDispatch.ended) return;
    gDispatch.ended = true;
    report(SERVICE_STOPPED);
    gDispatch.changed.notify_all();
}

} // namespace platform
