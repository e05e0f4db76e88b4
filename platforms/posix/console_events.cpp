// Console events and the service's stop control, from signals. SIGINT and SIGQUIT stand
// for the console's interrupt and break events, SIGHUP and SIGTERM for its close event,
// SIGPWR for a shutdown. The handler only writes the signal to a pipe; a reader thread
// routes it, and a delivery thread calls the host for each event in turn, so that script
// runs outside the signal context and the interrupted thread is left alone.
//
// A close event ends the process once its delivery has returned, or after a grace time
// when the delivery does not return (or is held up by an earlier one), as the console
// ends a process after its handler for the close. While the service dispatcher runs,
// SIGTERM is the service's stop control and goes to the dispatcher instead.
#include "platforms/platform.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {
const int kSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPWR};
constexpr int kGraceMs = 5000;

// Never destroyed: the threads use it while the process exits.
struct Events {
    std::mutex lock;
    std::condition_variable changed;
    void (*deliver)(const char*) = nullptr; // set once the console events are installed
    std::deque<int> queue;                  // console events waiting for delivery
    bool dispatching = false;               // the service dispatcher runs
    bool dispatchEnded = false;
    int stops = 0; // stop controls not yet taken by the dispatcher
};
Events& gEvents = *new Events;
int gPipe[2] = {-1, -1};

void onSignal(int sig) {
    int saved = errno;
    unsigned char b = static_cast<unsigned char>(sig);
    ssize_t r = write(gPipe[1], &b, 1);
    (void)r;
    errno = saved;
}

bool endsProcess(int sig) {
    return sig == SIGHUP || sig == SIGTERM;
}

const char* eventName(int sig) {
    return sig == SIGPWR ? "CONTROL_SHUTDOWN" : "CONTROL_STOP";
}

// Ends the process as a closed console does: the C library's exit (streams flushed), with
// the status a shell gives a process ended by that signal. Only the first caller exits.
[[noreturn]] void endProcess(int sig) {
    static std::once_flag once;
    std::call_once(once, [sig] { exit(128 + sig); });
    for (;;)
        pause();
}

int64_t nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void* deliveryThread(void*) {
    for (;;) {
        int sig;
        void (*deliver)(const char*);
        {
            std::unique_lock<std::mutex> hold(gEvents.lock);
            gEvents.changed.wait(hold, [] { return !gEvents.queue.empty(); });
            sig = gEvents.queue.front();
            gEvents.queue.pop_front();
            deliver = gEvents.deliver;
        }
        if (deliver) deliver(eventName(sig));
        if (endsProcess(sig)) endProcess(sig);
    }
}

void* readerThread(void*) {
    int64_t deadline = -1; // when a close event ends the process in any case
    int ending = 0;
    for (;;) {
        int timeout =
            deadline < 0 ? -1 : static_cast<int>(std::max<int64_t>(0, deadline - nowMs()));
        struct pollfd p = {gPipe[0], POLLIN, 0};
        int ready = poll(&p, 1, timeout);
        if (ready == 0 && deadline >= 0) endProcess(ending);
        if (ready < 0 && errno == EINTR) continue;
        unsigned char b;
        ssize_t n = ready > 0 ? read(gPipe[0], &b, 1) : -1;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;
        std::lock_guard<std::mutex> hold(gEvents.lock);
        if (b == SIGTERM && gEvents.dispatching) {
            gEvents.stops++;
        } else if (gEvents.deliver) {
            gEvents.queue.push_back(b);
            if (endsProcess(b) && deadline < 0) {
                deadline = nowMs() + kGraceMs;
                ending = b;
            }
        } else if (endsProcess(b)) {
            endProcess(b); // caught for a dispatcher that has ended: the default course
        }
        gEvents.changed.notify_all();
    }
}

void startThread(void* (*run)(void*)) {
    pthread_t t;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_create(&t, &attr, run, nullptr);
    pthread_attr_destroy(&attr);
}

// The pipe and the two threads, once; neither thread takes the signals itself.
bool prepare() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (pipe2(gPipe, O_CLOEXEC) != 0) return;
        sigset_t events, old;
        sigemptyset(&events);
        for (int s : kSignals)
            sigaddset(&events, s);
        pthread_sigmask(SIG_BLOCK, &events, &old);
        startThread(readerThread);
        startThread(deliveryThread);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    });
    return gPipe[0] >= 0;
}

void catchSignal(int sig, bool on) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on ? onSignal : SIG_DFL;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}
} // namespace

void attachConsole() {}

void installConsoleEvents(void (*deliver)(const char* name)) {
    if (!prepare()) return;
    {
        std::lock_guard<std::mutex> hold(gEvents.lock);
        gEvents.deliver = deliver;
    }
    for (int s : kSignals)
        catchSignal(s, true);
}

void beginServiceDispatch() {
    if (!prepare()) return;
    {
        std::lock_guard<std::mutex> hold(gEvents.lock);
        gEvents.dispatching = true;
        gEvents.dispatchEnded = false;
        gEvents.stops = 0;
    }
    catchSignal(SIGTERM, true);
}

bool waitServiceEvent() {
    std::unique_lock<std::mutex> hold(gEvents.lock);
    gEvents.changed.wait(hold, [] { return gEvents.dispatchEnded || gEvents.stops > 0; });
    if (gEvents.dispatchEnded) return false;
    gEvents.stops--;
    return true;
}

// SIGTERM goes back to the console events, or to its default when there are none.
void endServiceDispatch() {
    std::lock_guard<std::mutex> hold(gEvents.lock);
    if (!gEvents.dispatching) return;
    gEvents.dispatching = false;
    gEvents.dispatchEnded = true;
    if (!gEvents.deliver) catchSignal(SIGTERM, false);
    gEvents.changed.notify_all();
}

} // namespace platform
