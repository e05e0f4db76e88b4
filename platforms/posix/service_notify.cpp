// The service manager's notification protocol, written directly: one datagram of
// "NAME=value" lines to the socket that $NOTIFY_SOCKET names (a path, or '@' for the
// abstract namespace). The protocol is a single sendto, so no library is linked for it,
// and it works the same under systemd and under anything else that listens.
#include "platforms/platform.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

namespace platform {

namespace {
std::string gSocket; // written once at start, before any thread
} // namespace

void takeServiceSocket() {
    const char* socket = getenv("NOTIFY_SOCKET");
    if (!socket) return;
    gSocket = socket;
    unsetenv("NOTIFY_SOCKET");
}

bool runningAsService() {
    return !gSocket.empty() && (gSocket[0] == '/' || gSocket[0] == '@');
}

bool notifyServiceManager(const char* state) {
    if (!runningAsService()) return false;
    const char* path = gSocket.c_str();
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    size_t len = strlen(path);
    if (len >= sizeof addr.sun_path) return false;
    memcpy(addr.sun_path, path, len);
    if (path[0] == '@') addr.sun_path[0] = 0;
    socklen_t size = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + len +
                                            (path[0] == '@' ? 0 : 1));
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    size_t n = strlen(state);
    ssize_t sent = sendto(fd, state, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), size);
    close(fd);
    return sent == static_cast<ssize_t>(n);
}

} // namespace platform
