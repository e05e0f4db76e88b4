/* Datagrams: sendTo and recvFrom. Both work on the socket of the object's own record. */
#include "socket.h"

#include <string.h>

#define DATAGRAM_MAX 65535

/* sendTo(host, port, data): the count sent (-1 on failure); host "*" broadcasts to
 * 255.255.255.255. Defines peerPort, the local port the datagram left from. */
int socketSendTo(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval) {
    if (argc < 3) return hostFormatError(cx, "Socket.sendTo(<host/ip>, <port>, <data>)");
    const char* notInitialized = "Socket.sendTo: Socket not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    if (hostIsUndefined(argv[0])) return fail(cx, "Socket.sendTo: host is not defined");
    const char* host = hostApi->toBytes(cx, argv[0]);
    int port = hostIntArg(cx, argv[1]);
    size_t length;
    const char* data = hostBytesArg(cx, argv[2], &length);
    SocketRecord* s = hostRecord(cx, self); /* the conversions may have run a close */
    if (!s) return fail(cx, notInitialized);
    keepTarget(s, host, port);
    struct sockaddr_in to, local;
    memset(&to, 0, sizeof to);
    memset(&local, 0, sizeof local);
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    socklen_t size = sizeof local;
    int n = -1, found = 1;
    int depth = suspendOn(cx, s);
    if (!strcmp(host, "*")) {
        int on = 1;
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        setsockopt(s->fd, SOL_SOCKET, SO_BROADCAST, (const char*)&on, sizeof on);
    } else {
        found = resolveHost(host, &to.sin_addr);
    }
    if (found && validPort(port))
        n = (int)sendto(s->fd, data, length, MSG_NOSIGNAL, (struct sockaddr*)&to, sizeof to);
    if (found) getsockname(s->fd, (struct sockaddr*)&local, &size);
    if (!resumeOn(cx, s, depth)) found = 1; /* closed meanwhile: nothing more to close */
    if (!found) {
        hostApi->reportError(cx, "Socket.sendTo: Can't get host by name on '%s'", host);
        closeSocket(cx, self);
        return 0;
    }
    hostPublish(cx, self, "peerPort", hostApi->newNumber(cx, ntohs(local.sin_port)));
    *rval = hostApi->newNumber(cx, n < 0 ? -1 : n);
    return 1;
}

/* recvFrom(host, port): one datagram as {ip, port, data}; the host names the local
 * address the datagram is for ("*" any) and must resolve, but the receive takes any. */
int socketRecvFrom(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                   HostValue* rval) {
    if (argc < 2) return hostFormatError(cx, "Socket.recvFrom(<host>, <port>)");
    const char* notInitialized = "Socket.recvFrom: Socket not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    hostPublish(cx, self, "host", argv[0]);
    hostPublish(cx, self, "port", argv[1]);
    const char* host = hostApi->toBytes(cx, argv[0]);
    int port = hostIntArg(cx, argv[1]);
    SocketRecord* s = hostRecord(cx, self);
    if (!s) return fail(cx, notInitialized);
    keepTarget(s, host, port);
    char* buffer = (char*)hostApi->allocate(cx, DATAGRAM_MAX + 1);
    if (!buffer) return fail(cx, "Socket.recvFrom: Can't malloc");
    struct sockaddr_in from, prepared;
    memset(&from, 0, sizeof from);
    socklen_t size = sizeof from;
    int n = 0, found = 1;
    int depth = suspendOn(cx, s);
    if (strcmp(host, "*") != 0) found = resolveHost(host, &prepared.sin_addr);
    if (found) n = (int)recvfrom(s->fd, buffer, DATAGRAM_MAX, 0, (struct sockaddr*)&from, &size);
    if (!resumeOn(cx, s, depth)) found = 1;
    if (!found) {
        hostApi->release(cx, buffer);
        hostApi->reportError(cx, "Socket.recvFrom: Can't get host by name on '%s'", host);
        closeSocket(cx, self);
        return 0;
    }
    HostObject* result = hostApi->newObject(cx, NULL);
    if (result) {
        char dotted[INET_ADDRSTRLEN];
        *rval = hostObject(result);
        putField(cx, result, "ip", hostApi->newString(cx, dottedQuad(from.sin_addr, dotted), NULL));
        putField(cx, result, "port", hostApi->newNumber(cx, ntohs(from.sin_port)));
        putField(cx, result, "data", hostApi->newStringN(cx, buffer, n > 0 ? (size_t)n : 0));
    }
    hostApi->release(cx, buffer);
    return result != NULL;
}
