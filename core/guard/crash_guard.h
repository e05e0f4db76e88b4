// The fault guard around evaluations: a fault (access violation) on a thread inside a
// guarded evaluation writes core_dump_<time>.log naming the innermost running script and
// ends the process with exit code 1. The room core/guard/ may include the platform layer
// only; the engine and start-up install it, the platform's fault trap calls it through
// the handler it is given.
#ifndef CAPSULE_GUARD_CRASH_GUARD_H
#define CAPSULE_GUARD_CRASH_GUARD_H

#include <stddef.h>

namespace crashguard {

// One guarded region on the calling thread; regions nest, the innermost handles a fault.
struct Frame {
    const char* source; // the complete source text of the guarded evaluation
    void* context;      // the engine context it runs on
    bool writeLog;      // false: end with code 1 but write nothing (context teardown)
    Frame* outer;
};

class Scope {
  public:
    Scope(const char* source, void* context, bool writeLog = true);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    Frame frame_;
};

// Finds the innermost script frame of a context: its file name and current line.
using Locator = bool (*)(void* context, char* file, size_t fileSize, int* line);

// Installs the platform's fault trap once per process.
void install(Locator locate);

// The process-wide switch for the log; on at start.
void setCoreDumpEnabled(bool on);
bool coreDumpEnabled();

// Called by the platform's fault trap on the faulting thread with the exception code
// (0xC0000005 for an access violation). Returns false when no guard is active on the
// thread, so that the fault takes its default course; otherwise it does not return.
bool handleFault(unsigned code, const void* address);

// Writes the log for a fault in `frame` (used by handleFault; exposed for tests).
// Returns the file name written, or an empty string when nothing was written.
bool writeCoreDump(const Frame& frame, unsigned code, const void* address, char* name,
                   size_t nameSize);

} // namespace crashguard

#endif
