// SIGSEGV and SIGBUS on an alternate stack, handed to the installed handler. A fault that
// the handler leaves, or a second fault while the first is handled, takes the default course.
#include "platforms/platform.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr unsigned kAccessViolation = 0xC0000005u;
constexpr unsigned kInPageError = 0xC0000006u;
constexpr size_t kAltStackSize = 256 * 1024;

thread_local bool tHandling = false;
FaultHandler gHandler = nullptr;

void restoreDefault(int sig) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigaction(sig, &sa, nullptr);
}

void onFault(int sig, siginfo_t* info, void*) {
    if (tHandling) _exit(1);
    tHandling = true;
    if (!gHandler || !gHandler(sig == SIGBUS ? kInPageError : kAccessViolation,
                               info ? info->si_addr : nullptr)) {
        // No guard: let the fault happen again with the default action.
        restoreDefault(sig);
        tHandling = false;
    }
}

// The alternate stack of a thread, freed when the thread ends.
struct AltStack {
    void* memory = nullptr;
    ~AltStack() {
        // While a fault is handled the process exits on this very stack: keep it.
        if (!memory || tHandling) return;
        stack_t off;
        memset(&off, 0, sizeof off);
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        free(memory);
    }
};
thread_local AltStack tAltStack;
} // namespace

void installFaultTrap(FaultHandler handler) {
    gHandler = handler;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = onFault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, nullptr);
    sigaction(SIGBUS, &sa, nullptr);
}

void prepareFaultStack() {
    if (tAltStack.memory) return;
    void* memory = malloc(kAltStackSize);
    if (!memory) return;
    stack_t st;
    memset(&st, 0, sizeof st);
    st.ss_sp = memory;
    st.ss_size = kAltStackSize;
    if (sigaltstack(&st, nullptr) != 0) {
        free(memory);
        return;
    }
    tAltStack.memory = memory;
}

} // namespace platform
