// Power control and shortcuts: shutdown and createLink.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

#include <string.h>
#include <string>

// Option words anywhere in the text: "-hibernate" before all others, then the first of
// "-shutdown", "-shutoff" and "-reboot"; none of them logs the user off. "-force"
// overrides what holds the action up (hibernation always does).
SYSTEM_NATIVE(sysShutdown) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.shutdown(<params>)");
    std::string params = hostApi->toBytes(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0;
    auto has = [&](const char* word) { return params.find(word) != std::string::npos; };
    platform::PowerAction action = has("-hibernate")  ? platform::kHibernate
                                   : has("-shutdown") ? platform::kHalt
                                   : has("-shutoff")  ? platform::kPowerOff
                                   : has("-reboot")   ? platform::kReboot
                                                      : platform::kLogOff;
    bool force = action == platform::kHibernate || has("-force");
    int depth = hostApi->suspendRequest(cx);
    if (!platform::hasShutdownPrivilege()) {
        hostApi->resumeRequest(cx, depth);
        hostApi->reportError(cx, "Unable to retrieve shutdown privilege");
        return 0;
    }
    bool accepted = platform::requestPower(action, force);
    hostApi->resumeRequest(cx, depth);
    *rval = hostBoolean(accepted);
    return 1;
}

// Writes a launcher for the descriptor's command; undefined whatever happens. iconIndex
// has no counterpart in a Linux launcher.
SYSTEM_NATIVE(sysCreateLink) {
    (void)self, (void)rval;
    if (argc < 1) return hostFormatError(cx, "System.createLink(<link>)");
    HostObject* link = requestObject(cx, argv[0], "link");
    if (!link) return 0;
    platform::Shortcut s;
    textProperty(cx, link, "command", &s.command);
    textProperty(cx, link, "params", &s.params);
    textProperty(cx, link, "link", &s.link);
    textProperty(cx, link, "description", &s.description);
    textProperty(cx, link, "iconPath", &s.iconPath);
    s.iconIndex = hostIntProperty(cx, link, "iconIndex", 0);
    s.elevate = hostIntProperty(cx, link, "runas", 0) > 0;
    if (hostApi->errorPending(cx)) return 0;
    int depth = hostApi->suspendRequest(cx);
    platform::writeShortcut(s);
    hostApi->resumeRequest(cx, depth);
    return 1;
}
