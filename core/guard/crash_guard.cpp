#include "core/guard/crash_guard.h"

#include "platforms/platform.h"

#include <atomic>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

namespace crashguard {

static std::atomic<bool> gEnabled{true};
static Locator gLocate = nullptr;
static thread_local Frame* tInnermost = nullptr;

Scope::Scope(const char* source, void* context, bool writeLog)
    : frame_{source, context, writeLog, tInnermost} {
    platform::prepareFaultStack();
    tInnermost = &frame_;
}

Scope::~Scope() {
    tInnermost = frame_.outer;
}

void install(Locator locate) {
    gLocate = locate;
    platform::installFaultTrap(handleFault);
}

void setCoreDumpEnabled(bool on) {
    gEnabled = on;
}
bool coreDumpEnabled() {
    return gEnabled;
}

bool writeCoreDump(const Frame& frame, unsigned code, const void* address, char* name,
                   size_t nameSize) {
    if (!gEnabled || !frame.writeLog || !gLocate) return false;
    char file[260];
    int line = 0;
    if (!gLocate(frame.context, file, sizeof file, &line)) return false;
    time_t now = time(nullptr);
    struct tm* local = localtime(&now); // the faulting thread is the only one still at work
    char stamp[19];
    if (!local || !strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", local)) return false;
    snprintf(name, nameSize, "core_dump_%s.log", stamp);
    FILE* f = fopen(name, "w");
    if (!f) return false;
    fprintf(f, "Core exception (0x%08X) in '%s' from '%s' -> %d\n", code,
            frame.source ? frame.source : "", file, line);
    fprintf(f, "from (0x%08lX)", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    fclose(f);
    return true;
}

bool handleFault(unsigned code, const void* address) {
    Frame* frame = tInnermost;
    if (!frame) return false;
    char name[260];
    writeCoreDump(*frame, code, address, name, sizeof name);
    platform::endProcess(1);
}

} // namespace crashguard
