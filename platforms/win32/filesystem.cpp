// Files and directories through the wide calls: streams, path status, directory search
// with FindFirstFileW (the system's own wildcard matching) and times.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

namespace {
// 100-nanosecond intervals from 1601 to 1970.
constexpr int64_t kEpochOffset = 116444736000000000LL;

int64_t unixSeconds(const FILETIME& t) {
    int64_t v = (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return (v - kEpochOffset) / 10000000;
}

FILETIME fileTime(int64_t seconds) {
    uint64_t v = static_cast<uint64_t>(seconds * 10000000 + kEpochOffset);
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(v);
    t.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return t;
}

bool hasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}
} // namespace

// Both separators work in the wide calls; the path stays as the script wrote it.
std::string localPath(const std::string& path) {
    return path;
}

FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
}

bool streamStatus(FILE* f, int64_t* size, int64_t* mtime) {
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0) return false;
    *size = st.st_size;
    *mtime = st.st_mtime;
    return true;
}

// A positioned read moves the handle's file pointer, which the runtime library's stream
// relies on: it is put back afterwards.
int64_t readAt(FILE* f, int64_t offset, void* buf, size_t n) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER zero, saved;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(h, zero, &saved, FILE_CURRENT)) return 0;
    size_t done = 0;
    while (done < n) {
        uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED place;
        ZeroMemory(&place, sizeof place);
        place.Offset = static_cast<DWORD>(at);
        place.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD want = n - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n - done), got = 0;
        if (!ReadFile(h, static_cast<char*>(buf) + done, want, &got, &place) || got == 0) break;
        done += got;
    }
    SetFilePointerEx(h, saved, nullptr, FILE_BEGIN);
    return static_cast<int64_t>(done);
}

int64_t streamSize(FILE* f) {
    struct _stat64 st;
    return _fstat64(_fileno(f), &st) == 0 ? st.st_size : -1;
}

// A trailing separator names nothing but a root (separators alone, or after a drive
// letter), as with the C runtime's stat: "web/" is never taken for the folder "web".
static bool endsInSeparator(const std::string& s) {
    if (s.empty() || (s.back() != '/' && s.back() != '\\')) return false;
    size_t start = s.size() >= 2 && s[1] == ':' ? 2 : 0; // after a drive letter
    return s.find_first_not_of("/\\", start) != std::string::npos;
}

bool pathStatus(const std::string& path, PathStatus* status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (hasWildcard(path) || endsInSeparator(path) ||
        !GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    status->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status->mtime = unixSeconds(data.ftLastWriteTime);
    status->isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(widen(path).c_str()) != 0;
}

// Without MOVEFILE_COPY_ALLOWED a move to another volume fails rather than copy.
bool renamePath(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool setFileTime(const std::string& path, int64_t seconds) {
    HANDLE h = CreateFileW(widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME t = fileTime(seconds);
    bool ok = SetFileTime(h, nullptr, &t, &t) != 0;
    CloseHandle(h);
    return ok;
}

bool createDirectory(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool removeDirectory(const std::string& path) {
    return RemoveDirectoryW(widen(path).c_str()) != 0;
}

std::string currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return std::string();
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, &buf[0]);
    return n && n < buf.size() ? narrow(buf.data(), n) : std::string();
}

// The final path of the file the handle opens, without the "\\?\" that the system puts
// in front of it (kept for a path of a server's share, "\\?\UNC\...").
std::string resolvedPath(const std::string& path) {
    HANDLE h =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::wstring buf(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, &buf[0], static_cast<DWORD>(buf.size()), 0);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, &buf[0], static_cast<DWORD>(buf.size()), 0);
    }
    CloseHandle(h);
    if (n == 0 || n >= buf.size()) return std::string();
    buf.resize(n);
    if (buf.compare(0, 4, L"\\\\?\\") == 0 && buf.compare(4, 4, L"UNC\\") != 0) buf.erase(0, 4);
    return narrow(buf.data(), buf.size());
}

std::vector<DirEntry> listDirectory(const std::string& pattern) {
    std::vector<DirEntry> found;
    size_t slash = pattern.find_last_of("\\/");
    if (slash + 1 == pattern.size()) return found; // "folder\" names no entry
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(widen(pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        found.push_back(DirEntry{narrow(data.cFileName),
                                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

} // namespace platform
