// Helper programs: CreateProcessW with the arguments quoted by the C runtime's rules, its
// standard output read through a pipe when asked for, and a wait for its end.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

namespace platform {

namespace {
// One argument as splitArguments reads it back: quoted when it holds a blank, a tab or a
// quote (or is empty), with the backslashes before a quote doubled.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(2 * slashes, '\\');
    return out + "\"";
}
} // namespace

int runProgram(const std::vector<std::string>& args, std::string* output) {
    if (args.empty()) return -1;
    std::string line;
    for (const std::string& a : args)
        line += (line.empty() ? "" : " ") + quoteArgument(a);
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    if (output) {
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | (output ? STARTF_USESTDHANDLES : 0);
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);
    std::wstring wline = widen(line); // CreateProcessW may write into it
    BOOL started = CreateProcessW(nullptr, &wline[0], nullptr, nullptr, output != nullptr, 0,
                                  nullptr, nullptr, &startup, &child);
    if (writeEnd) CloseHandle(writeEnd); // the child holds its own copy
    if (!started) {
        if (readEnd) CloseHandle(readEnd);
        return -1;
    }
    if (readEnd) {
        char buf[4096];
        DWORD n;
        while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
            output->append(buf, n);
        CloseHandle(readEnd);
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    bool ended = GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return ended ? static_cast<int>(code) : -1;
}

// SearchPathW with the executable extension, as the command line's search would add it.
bool programOnPath(const std::string& name) {
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, widen(name).c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
}

} // namespace platform
