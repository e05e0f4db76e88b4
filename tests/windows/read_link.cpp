// Reads a shell link back through IShellLinkW and IPersistFile and prints what it holds,
// one field a line: target, arguments, description, icon and its index, and whether it
// asks to run as administrator (IShellLinkDataList's flags). The Windows suite uses it to
// check what System.createLink saved; Wine does not keep that flag when it saves a link,
// so the suite compares the first four lines only.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    if (FAILED(CoInitialize(nullptr))) return 3;
    int status = 4;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    IShellLinkDataList* data = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(argv[1], STGM_READ))) {
        wchar_t target[MAX_PATH] = L"", args[1024] = L"", description[1024] = L"";
        wchar_t icon[MAX_PATH] = L"";
        int iconIndex = -1;
        DWORD flags = 0;
        link->GetPath(target, MAX_PATH, nullptr, 0);
        link->GetArguments(args, 1024);
        link->GetDescription(description, 1024);
        link->GetIconLocation(icon, MAX_PATH, &iconIndex);
        if (SUCCEEDED(
                link->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void**>(&data))))
            data->GetFlags(&flags);
        wprintf(L"target %ls\nargs %ls\ndescription %ls\nicon %ls %d\nrunas %d\n", target, args,
                description, icon, iconIndex, (flags & SLDF_RUNAS_USER) ? 1 : 0);
        status = 0;
    }
    if (data) data->Release();
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return status;
}
