// Shortcuts: a shell link made through IShellLinkW and saved with IPersistFile; an
// elevated one carries the "run as administrator" flag of IShellLinkDataList.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace platform {

namespace {
// Releases a COM interface with the scope.
template <typename T> struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->Release();
    }
};

// IPersistFile::Save takes a full path: a relative one is completed from the working
// directory.
std::wstring fullPath(const std::string& path) {
    std::wstring w = widen(path);
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(w.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(full, n) : w;
}
} // namespace

bool writeShortcut(const Shortcut& s) {
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    {
        Held<IShellLinkW> link;
        Held<IPersistFile> file;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, reinterpret_cast<void**>(&link.p)))) {
            ok = SUCCEEDED(link.p->SetPath(widen(s.command).c_str())) &&
                 SUCCEEDED(link.p->SetArguments(widen(s.params).c_str())) &&
                 SUCCEEDED(link.p->SetDescription(widen(s.description).c_str()));
            if (ok && !s.iconPath.empty())
                ok = SUCCEEDED(link.p->SetIconLocation(widen(s.iconPath).c_str(), s.iconIndex));
            if (ok && s.elevate) {
                Held<IShellLinkDataList> data;
                DWORD flags = 0;
                ok = SUCCEEDED(link.p->QueryInterface(IID_IShellLinkDataList,
                                                      reinterpret_cast<void**>(&data.p))) &&
                     SUCCEEDED(data.p->GetFlags(&flags)) &&
                     SUCCEEDED(data.p->SetFlags(flags | SLDF_RUNAS_USER));
            }
            ok = ok &&
                 SUCCEEDED(
                     link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))) &&
                 SUCCEEDED(file.p->Save(fullPath(s.link).c_str(), TRUE));
        }
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

} // namespace platform
