// The console of a GUI-subsystem process: AllocConsole, a 500-line screen buffer, the
// standard streams bound to it, and console control events through SetConsoleCtrlHandler.
#include "platforms/platform.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace platform {

namespace {
void (*gDeliver)(const char*) = nullptr;

// Windows calls the handler on a new thread for each event.
BOOL WINAPI onConsoleEvent(DWORD type) {
    const char* name = nullptr;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        name = "CONTROL_STOP";
        break;
    case CTRL_LOGOFF_EVENT:
        name = "CONTROL_LOGOFF";
        break;
    case CTRL_SHUTDOWN_EVENT:
        name = "CONTROL_SHUTDOWN";
        break;
    default:
        return FALSE; // no such event: the next handler decides
    }
    if (gDeliver) gDeliver(name);
    return TRUE;
}

// A stream that is not on the standard handle (a GUI process has none at start) is opened
// again on the console; one the parent redirected to a file or pipe stays there.
void bind(FILE* stream, DWORD which, const char* device, const char* mode) {
    HANDLE h = GetStdHandle(which);
    int fd = _fileno(stream);
    if (h && h != INVALID_HANDLE_VALUE && fd >= 0 &&
        reinterpret_cast<HANDLE>(_get_osfhandle(fd)) == h)
        return;
    FILE* reopened = freopen(device, mode, stream);
    (void)reopened;
}
} // namespace

// Standard handles that the parent gave (a file or pipe it redirected to) stay in place:
// output that the user sent somewhere keeps going there once the console exists.
void attachConsole() {
    const DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE inherited[3];
    for (int i = 0; i < 3; i++) {
        HANDLE h = GetStdHandle(kStd[i]);
        inherited[i] =
            h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN ? h : nullptr;
    }
    if (AllocConsole()) { // fails when there is a console already; it is used as it is
        for (int i = 0; i < 3; i++)
            if (inherited[i]) SetStdHandle(kStd[i], inherited[i]);
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out, &info)) {
        COORD size = {info.dwSize.X, 500};
        SetConsoleScreenBufferSize(out, size);
    }
    bind(stdout, STD_OUTPUT_HANDLE, "CONOUT$", "w");
    bind(stdin, STD_INPUT_HANDLE, "CONIN$", "r");
    bind(stderr, STD_ERROR_HANDLE, "CONOUT$", "w");
}

void installConsoleEvents(void (*deliver)(const char* name)) {
    gDeliver = deliver;
    static bool installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    (void)installed;
}

} // namespace platform
