// Services. Not yet through the service control manager (CreateServiceW,
// ChangeServiceConfig2W, StartServiceCtrlDispatcherW and its control handler are the next
// step): the manager counts as unavailable, so the management commands report "Unable to
// open Service Control Manager", and a process never runs as a service, so
// CONTROL_REGISTER returns at once.
#include "platforms/platform.h"

#include <condition_variable>
#include <mutex>

namespace platform {

bool serviceManagerAvailable() {
    return false;
}

bool installService(const ServiceConfig&) {
    return false;
}

bool uninstallService(const std::string&) {
    return false;
}

bool startService(const std::string&) {
    return false;
}

bool stopService(const std::string&) {
    return false;
}

std::string serviceUnitPath(const std::string&) {
    return std::string();
}

bool runningAsService() {
    return false;
}

bool notifyServiceManager(const char*) {
    return false;
}

// The dispatcher's wait: no stop request reaches it yet, so it lasts until its end.
namespace {
struct Dispatch {
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
};
Dispatch& gDispatch = *new Dispatch; // never destroyed: threads may use it at exit
} // namespace

void beginServiceDispatch() {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    gDispatch.ended = false;
}

bool waitServiceEvent() {
    std::unique_lock<std::mutex> hold(gDispatch.lock);
    gDispatch.changed.wait(hold, [] { return gDispatch.ended; });
    return false;
}

void endServiceDispatch() {
    std::lock_guard<std::mutex> hold(gDispatch.lock);
    gDispatch.ended = true;
    gDispatch.changed.notify_all();
}

} // namespace platform
