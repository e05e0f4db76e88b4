// Access violations reach the installed handler through the process's top-level structured
// exception filter, on the faulting thread, once no handler nearer the fault has taken
// them. Every other exception, and a violation outside any guard, goes on to the filter
// that was there before.
#include "platforms/platform.h"

#include <windows.h>

namespace platform {

namespace {
LPTOP_LEVEL_EXCEPTION_FILTER gPrevious = nullptr;
FaultHandler gHandler = nullptr;

LONG WINAPI onException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && gHandler)
        gHandler(r->ExceptionCode, r->ExceptionAddress); // returns without a guard
    return gPrevious ? gPrevious(info) : EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

void installFaultTrap(FaultHandler handler) {
    bool installed = gHandler != nullptr;
    gHandler = handler;
    if (installed) return;
    gPrevious = SetUnhandledExceptionFilter(onException);
}

// The filter runs on the faulting thread's own stack: nothing to prepare.
void prepareFaultStack() {}

} // namespace platform
