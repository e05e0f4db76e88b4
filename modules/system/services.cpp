// controlService: running as a service under the service manager (CONTROL_*), and
// managing services from outside (SERVICE_*), and the delivery of the service's start and
// stop to System.control.
#include "modules/system/system_module.h"

#include "core/guard/crash_guard.h"
#include "platforms/platform.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string.h>
#include <string>

namespace {

// The service thread: System.control('CONTROL_START') on a context of its own; the
// script's service work may run there for the life of the service.
void serviceMain(void*) {
    hostApi->runOnNewContext("System", "if(System.control) System.control('CONTROL_START');");
}

// A stop request: System.control('CONTROL_STOP') on a thread and context of its own,
// so that an error of the script's handler goes to the error reporter rather than to the
// caller of CONTROL_REGISTER. The dispatcher waits for it to return.
struct StopDelivery {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
};

void deliverStop(void* p) {
    StopDelivery* d = static_cast<StopDelivery*>(p);
    hostApi->runOnNewContext("System", "if(System.control) System.control('CONTROL_STOP');");
    std::lock_guard<std::mutex> hold(d->lock);
    d->done = true;
    d->ended.notify_all();
}

// The calling (main) thread becomes the dispatcher: it starts the service thread, then
// has each stop request of the service manager (SIGTERM) delivered until the script
// reports the service stopped. Started outside a service manager it returns at once.
int registerService(HostContext* cx) {
    if (!platform::runningAsService()) return 1;
    platform::beginServiceDispatch();
    int depth = hostApi->suspendRequest(cx);
    if (platform::startThread(serviceMain, nullptr) < 0) platform::endServiceDispatch();
    while (platform::waitServiceEvent()) {
        StopDelivery d;
        if (platform::startThread(deliverStop, &d) < 0) continue;
        std::unique_lock<std::mutex> hold(d.lock);
        d.ended.wait(hold, [&] { return d.done; });
    }
    hostApi->resumeRequest(cx, depth);
    return 1;
}

std::atomic<bool> gStarted{false}; // CONTROL_START has reported the service running

void notify(HostContext* cx, const char* state) {
    int depth = hostApi->suspendRequest(cx);
    platform::notifyServiceManager(state);
    hostApi->resumeRequest(cx, depth);
}

// The SERVICE_* commands: the configuration is read before the request is left.
int manageService(HostContext* cx, const std::string& command, HostObject* config,
                  const std::string& name, HostValue* rval) {
    if (!platform::serviceManagerAvailable()) {
        hostApi->reportError(cx, "Unable to open Service Control Manager");
        return 0;
    }
    platform::ServiceConfig c;
    c.name = name;
    if (command == "SERVICE_INSTALL") {
        if (!textProperty(cx, config, "commandLine", &c.commandLine)) return 1;
        textProperty(cx, config, "displayName", &c.displayName);
        // Windows only: systemd services have no desktop to interact with.
        c.interactive = hostIntProperty(cx, config, "interactive", 0) != 0;
        c.manualStart = hostIntProperty(cx, config, "manualStart", 0) != 0;
        textProperty(cx, config, "description", &c.description);
        c.restartDelayMs = hostIntProperty(cx, config, "onErrorRestartDelay", -1);
    }
    if (hostApi->errorPending(cx)) return 0;
    int depth = hostApi->suspendRequest(cx);
    bool ok = command == "SERVICE_INSTALL"     ? platform::installService(c)
              : command == "SERVICE_UNINSTALL" ? platform::uninstallService(name)
              : command == "SERVICE_START"     ? platform::startService(name)
                                               : platform::stopService(name);
    hostApi->resumeRequest(cx, depth);
    *rval = hostBoolean(ok);
    return 1;
}

} // namespace

SYSTEM_NATIVE(sysControlService) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "System.controlService(<command>, <serviceConfig>)");
    std::string command = hostApi->toBytes(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0;
    HostObject* config = requestObject(cx, argv[1], "serviceConfig");
    if (!config) return 0;
    std::string name;
    textProperty(cx, config, "serviceName", &name);
    if (hostApi->errorPending(cx)) return 0;
    if (command == "CONTROL_REGISTER") return registerService(cx);
    if (command == "CONTROL_START") {
        if (platform::runningAsService()) {
            gStarted = true;
            notify(cx, "READY=1");
        }
        return 1;
    }
    if (command == "CONTROL_STOP") {
        if (gStarted) notify(cx, "STOPPING=1");
        platform::endServiceDispatch();
        crashguard::setCoreDumpEnabled(false);
        return 1;
    }
    if (command == "SERVICE_INSTALL" || command == "SERVICE_UNINSTALL" ||
        command == "SERVICE_START" || command == "SERVICE_STOP")
        return manageService(cx, command, config, name, rval);
    return 1;
}
