// Files replaced whole: the new content goes to a temporary file next to the target, is
// flushed to the disk, and MoveFileExW puts it in the target's place in one step. A
// reader sees the old file or the new one.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace platform {

namespace {
std::atomic<unsigned> gCounter{0};
} // namespace

// The mode is the POSIX one; files here take the folder's access rights.
bool writeFileAtomically(const std::string& path, const std::string& data, unsigned mode,
                         bool durable) {
    (void)mode;
    std::string local = localPath(path);
    std::string folder = folderOf(local);
    size_t slash = local.find_last_of("/\\");
    std::string base = slash == std::string::npos ? local : local.substr(slash + 1);
    std::string temp = (folder.empty() ? std::string() : folder + "\\") + ".tmp-" +
                       std::to_string(GetCurrentProcessId()) + "-" + std::to_string(gCounter++) +
                       "-" + base;
    std::wstring wtemp = widen(temp);
    HANDLE h = CreateFileW(wtemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(h, data.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && (!durable || FlushFileBuffers(h));
    ok = CloseHandle(h) && ok;
    ok = ok && MoveFileExW(wtemp.c_str(), widen(local).c_str(),
                           MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0));
    if (!ok) DeleteFileW(wtemp.c_str());
    return ok;
}

} // namespace platform
