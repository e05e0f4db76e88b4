// Console events: SIGINT, SIGQUIT, SIGHUP and SIGTERM stand for the console's interrupt,
// break and close events, SIGPWR for a shutdown. The handler only writes the signal to a
// pipe; a thread of its own reads it and delivers the event, so that the script runs
// outside the signal context and the interrupted thread is left alone.
#include "platforms/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace platform {

namespace {
const int kSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPWR};
int gPipe[2] = {-1, -1};
void (*gDeliver)(const char*) = nullptr;

void onSignal(int sig) {
    int saved = errno;
    unsigned char b = static_cast<unsigned char>(sig);
    ssize_t r = write(gPipe[1], &b, 1);
    (void)r;
    errno = saved;
}

const char* eventName(int sig) {
    switch (sig) {
    case SIGPWR:
        return "CONTROL_SHUTDOWN";
    default:
        return "CONTROL_STOP";
    }
}

void* eventThread(void*) {
    for (;;) {
        unsigned char b;
        ssize_t n = read(gPipe[0], &b, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;
        if (gDeliver) gDeliver(eventName(b));
    }
}
} // namespace

void attachConsole() {}

void installConsoleEvents(void (*deliver)(const char* name)) {
    gDeliver = deliver;
    if (gPipe[0] < 0) {
        if (pipe2(gPipe, O_CLOEXEC) != 0) return;
        pthread_t t;
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        // The event thread must not take the console signals itself.
        sigset_t events, old;
        sigemptyset(&events);
        for (int s : kSignals)
            sigaddset(&events, s);
        pthread_sigmask(SIG_BLOCK, &events, &old);
        pthread_create(&t, &attr, eventThread, nullptr);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        pthread_attr_destroy(&attr);
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
}

} // namespace platform
