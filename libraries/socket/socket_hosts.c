/* Host names and IPv4 addresses: the look-ups that connect, bind and sendTo share, and
 * the static functions Socket.getHostName, getLocalAddress and getHostInfos. Look-ups
 * run with the request suspended; getaddrinfo and getnameinfo are safe on any thread.
 */
#include "socket.h"

#include <string.h>

/* The first IPv4 address of a name or dotted quad; 1 when there is one. */
int resolveHost(const char* host, struct in_addr* out) {
    struct addrinfo hints, *list = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host, NULL, &hints, &list) != 0 || !list) return 0;
    *out = ((struct sockaddr_in*)list->ai_addr)->sin_addr;
    freeaddrinfo(list);
    return 1;
}

const char* dottedQuad(struct in_addr address, char* out) {
    return inet_ntop(AF_INET, &address, out, INET_ADDRSTRLEN);
}

/* Ports are 16-bit: a number outside 0 to 65535 names no port (it would wrap to another). */
int validPort(int port) {
    return port >= 0 && port <= 65535;
}

/* Exactly four groups of one to three decimal digits separated by dots. */
static int isDottedQuad(const char* s) {
    for (int group = 0; group < 4; group++) {
        int digits = 0;
        while (*s >= '0' && *s <= '9' && digits < 4)
            s++, digits++;
        if (digits < 1 || digits > 3) return 0;
        if (group < 3 && *s++ != '.') return 0;
    }
    return *s == 0;
}

static int localHostName(char* name, size_t size) {
    if (gethostname(name, size) != 0) return 0;
    name[size - 1] = 0;
    return 1;
}

/* Socket.getHostName() */
int socketGetHostName(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                      HostValue* rval) {
    (void)self, (void)argc, (void)argv;
    char name[256] = "";
    int depth = hostApi->suspendRequest(cx);
    localHostName(name, sizeof name);
    hostApi->resumeRequest(cx, depth);
    *rval = hostApi->newString(cx, name, NULL);
    return 1;
}

/* Socket.getLocalAddress(): the first address of the local host name, else undefined. */
int socketGetLocalAddress(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                          HostValue* rval) {
    (void)self, (void)argc, (void)argv;
    char name[256];
    struct in_addr address;
    int depth = hostApi->suspendRequest(cx);
    int found = localHostName(name, sizeof name) && resolveHost(name, &address);
    hostApi->resumeRequest(cx, depth);
    char dotted[INET_ADDRSTRLEN];
    if (found) *rval = hostApi->newString(cx, dottedQuad(address, dotted), NULL);
    return 1;
}

/* Socket.getHostInfos(host): {ip, host}; a dotted quad is looked up in reverse, and the
 * name found counts only when it differs from the text and resolves itself. */
int socketGetHostInfos(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "Socket.getHostInfos(<host>)");
    HostObject* result = hostApi->newObject(cx, NULL);
    if (!result) return 0;
    *rval = hostObject(result);
    const char* text = hostApi->toBytes(cx, argv[0]);
    char name[1025] = "";
    struct in_addr address;
    int found = 0;
    if (isDottedQuad(text)) {
        putField(cx, result, "ip", hostApi->newString(cx, text, NULL));
        int depth = hostApi->suspendRequest(cx);
        struct sockaddr_in sa;
        memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        found = inet_pton(AF_INET, text, &sa.sin_addr) == 1 &&
                getnameinfo((struct sockaddr*)&sa, sizeof sa, name, sizeof name, NULL, 0,
                            NI_NAMEREQD) == 0 &&
                strcmp(name, text) != 0 && resolveHost(name, &address);
        hostApi->resumeRequest(cx, depth);
        if (found) putField(cx, result, "host", hostApi->newString(cx, name, NULL));
    } else {
        putField(cx, result, "host", hostApi->newString(cx, text, NULL));
        int depth = hostApi->suspendRequest(cx);
        found = resolveHost(text, &address);
        hostApi->resumeRequest(cx, depth);
        if (found)
            putField(cx, result, "ip", hostApi->newString(cx, dottedQuad(address, name), NULL));
    }
    return 1;
}
