// Processes: CreateProcessW with the window hidden, ShellExecuteExW (with "runas" for
// elevation), and the process list from EnumProcesses with each executable's base name.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

namespace platform {

// The system finds the program from the first token of the command line (searching and
// appending ".exe"); the child gets the host's environment and a hidden window. The new
// process object is open to everyone: a null access-control list.
bool startProcess(const std::string& commandLine, const std::string* directory, bool wait) {
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);
    std::wstring line = widen(commandLine); // CreateProcessW may write into it
    std::wstring folder = directory ? widen(*directory) : std::wstring();
    if (!CreateProcessW(nullptr, &line[0], &attributes, nullptr, FALSE, 0, nullptr,
                        directory ? folder.c_str() : nullptr, &startup, &child))
        return false;
    if (wait) WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return true;
}

// Returns once the shell has started the request; the shell shows its own messages.
bool openWithDesktop(const std::string& file, const std::string& params, bool elevate) {
    std::wstring wideFile = widen(file), wideParams = widen(params);
    SHELLEXECUTEINFOW request;
    ZeroMemory(&request, sizeof request);
    request.cbSize = sizeof request;
    request.lpVerb = elevate ? L"runas" : nullptr;
    request.lpFile = wideFile.c_str();
    request.lpParameters = params.empty() ? nullptr : wideParams.c_str();
    request.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&request) != 0;
}

namespace {
// The debug privilege opens other users' processes where the account holds it; without it
// those processes are left out of the list.
void enableDebugPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}
} // namespace

bool listProcesses(std::vector<ProcessEntry>* list) {
    DWORD ids[1024], bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) return false;
    enableDebugPrivilege();
    for (DWORD i = 0; i < bytes / sizeof ids[0]; i++) {
        if (ids[i] == 0) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (!process) continue;
        wchar_t name[MAX_PATH] = {0};
        HMODULE first;
        DWORD needed;
        if (EnumProcessModules(process, &first, sizeof first, &needed))
            GetModuleBaseNameW(process, first, name, MAX_PATH);
        list->push_back(ProcessEntry{narrow(name), ids[i]});
        CloseHandle(process);
    }
    return true;
}

} // namespace platform
