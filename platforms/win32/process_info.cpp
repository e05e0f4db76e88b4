// Paths, directories and facts about the machine and the process: GetModuleFileNameW,
// GetVersionExW, the Administrators group and elevation of the token, and the processor
// load from the Performance Data Helper library.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <pdh.h>
#include <stdio.h>
#include <stdlib.h>

namespace platform {

std::string executablePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) return narrow(buf.data(), n);
        if (buf.size() >= 32768) return std::string(); // the longest path the system has
        buf.resize(buf.size() * 2);
    }
}

// No build identifier is read here: nothing is kept across starts.
std::string runtimeIdentity() {
    return std::string();
}

// The text before the last separator: for a file in a drive's root that is the bare drive
// ("C:"), whose current directory a change of directory then selects.
std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash);
}

bool changeDirectory(const std::string& path) {
    return SetCurrentDirectoryW(widen(path).c_str()) != 0;
}

// "Windows NT" with the major and minor version and the major service-pack number.
SystemVersion systemVersion() {
    SystemVersion v;
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return v;
    v.name = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Windows NT" : "Windows 9X";
    v.major = static_cast<int>(info.dwMajorVersion);
    v.minor = static_cast<int>(info.dwMinorVersion);
    v.patch = info.wServicePackMajor;
    return v;
}

int processId() {
    return static_cast<int>(GetCurrentProcessId());
}

namespace {
// The token of the calling thread as the process itself, else the process's own.
HANDLE openToken() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return token;
    if (GetLastError() != ERROR_NO_TOKEN) return nullptr;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ? token : nullptr;
}

bool inAdministrators(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    if (size == 0) return false;
    std::string block(size, '\0');
    TOKEN_GROUPS* groups = reinterpret_cast<TOKEN_GROUPS*>(&block[0]);
    if (!GetTokenInformation(token, TokenGroups, groups, size, &size)) return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
        return false;
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; i++)
        found = EqualSid(groups->Groups[i].Sid, admins) != 0;
    FreeSid(admins);
    return found;
}
} // namespace

// A member of the Administrators group whose token is elevated; a system that knows no
// elevation counts as elevated.
bool isAdministrator() {
    HANDLE token = openToken();
    if (!token) return false;
    bool admin = inAdministrators(token);
    if (admin) {
        TOKEN_ELEVATION elevation;
        elevation.TokenIsElevated = 1;
        DWORD size = 0;
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        admin = elevation.TokenIsElevated != 0;
    }
    CloseHandle(token);
    return admin;
}

namespace {
// The processor object (238) and its processor-time counter (6) of the standard numbering,
// for all processors, in one query that lives as long as the process.
struct LoadCounter {
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER counter = nullptr;
    bool ready = false;
    uint64_t lastTick = 0;
    uint64_t busy = 0, total = 0; // milliseconds, summed over the samples
};

// The localised name of a standard counter index; the English name given stays where the
// system has none (Wine knows no name for the processor object).
void lookUpName(DWORD index, wchar_t (&name)[2048]) {
    wchar_t found[2048];
    DWORD n = 2048;
    if (PdhLookupPerfNameByIndexW(nullptr, index, found, &n) == ERROR_SUCCESS) wcscpy(name, found);
}

bool openCounter(LoadCounter* c) {
    if (PdhOpenQueryW(nullptr, 0, &c->query) != ERROR_SUCCESS) return false;
    wchar_t object[2048] = L"Processor", counter[2048] = L"% Processor Time", path[2048];
    lookUpName(238, object);
    lookUpName(6, counter);
    PDH_COUNTER_PATH_ELEMENTS_W parts;
    ZeroMemory(&parts, sizeof parts);
    parts.szObjectName = object;
    parts.szInstanceName = const_cast<wchar_t*>(L"_Total");
    parts.dwInstanceIndex = static_cast<DWORD>(-1);
    parts.szCounterName = counter;
    DWORD n = 2048;
    if (PdhMakeCounterPathW(&parts, path, &n, 0) != ERROR_SUCCESS) return false;
    // Wine writes the instance index -1 into the path ("_Total#4294967295"), which it then
    // cannot find: the path without an index is the same counter.
    std::wstring plain = std::wstring(L"\\") + object + L"(_Total)\\" + counter;
    if (PdhAddCounterW(c->query, path, 0, &c->counter) != ERROR_SUCCESS &&
        PdhAddCounterW(c->query, plain.c_str(), 0, &c->counter) != ERROR_SUCCESS)
        return false;
    if (PdhCollectQueryData(c->query) != ERROR_SUCCESS) return false;
    c->lastTick = GetTickCount64();
    return true;
}
} // namespace

// The counter reports the load between two samples in percent; spread over the time between
// them it gives the busy and total times that the caller takes differences of.
bool processorTimes(uint64_t* busy, uint64_t* total) {
    static LoadCounter c;
    if (!c.ready) {
        if (c.query) PdhCloseQuery(c.query);
        c = LoadCounter();
        c.ready = openCounter(&c);
        if (!c.ready) return false;
    } else if (PdhCollectQueryData(c.query) == ERROR_SUCCESS) {
        uint64_t now = GetTickCount64();
        PDH_FMT_COUNTERVALUE value;
        if (PdhGetFormattedCounterValue(c.counter, PDH_FMT_LONG, nullptr, &value) ==
                ERROR_SUCCESS &&
            value.CStatus == ERROR_SUCCESS) {
            uint64_t span = now - c.lastTick;
            long load = value.longValue < 0 ? 0 : value.longValue > 100 ? 100 : value.longValue;
            c.busy += span * static_cast<uint64_t>(load) / 100;
            c.total += span;
        }
        c.lastTick = now;
    }
    *busy = c.busy;
    *total = c.total;
    return true;
}

void sleepMs(unsigned ms) {
    Sleep(ms);
}

// Not through exit: the C++ library's exit handlers delete its thread keys under a lock
// that can stay taken while other threads run, and the process then never ends. The
// streams are flushed first, and nothing else of the process needs its handlers.
void endProcess(int code) {
    fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    _exit(code);
}

} // namespace platform
