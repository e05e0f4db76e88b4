/* The socket module (bin/msocket.so): registration of the class Socket, its constructor,
 * close and finalizer, setTimeout, and the helpers that every native of the module uses.
 *
 *   new Socket("tcp" | "ssl" | "udp")
 *   connect, bind, accept, send, recv           socket_stream.c
 *   sendTo, recvFrom                            socket_datagram.c
 *   Socket.getHostName, getLocalAddress, getHostInfos     socket_hosts.c
 *   Socket.createSSLCertificate                 socket_certificate.c
 */
#include "socket.h"

#include <stdlib.h>
#include <string.h>

HOST_API_DEFINE;
/* Every instance, the listener that accept runs on among them, holds it as prototype. */
HostObject* socketPrototype;

int fail(HostContext* cx, const char* message) {
    hostApi->reportError(cx, "%s", message);
    return 0;
}

/* A property of a result record: enumerable. */
void putField(HostContext* cx, HostObject* obj, const char* name, HostValue value) {
    hostApi->defineProperty(cx, obj, name, value, NULL, NULL, HOST_ATTR_ENUMERATE);
}

void keepTarget(SocketRecord* s, const char* host, int port) {
    free(s->host);
    s->host = strdup(host);
    s->port = port;
}

int suspendOn(HostContext* cx, SocketRecord* s) {
    s->users++;
    return hostApi->suspendRequest(cx);
}

/* Resumes the request; 0 when the socket was closed meanwhile (the record is then gone). */
int resumeOn(HostContext* cx, SocketRecord* s, int depth) {
    hostApi->resumeRequest(cx, depth);
    if (--s->users > 0 || !s->closing) return !s->closing;
    freeRecord(s);
    return 0;
}

SocketRecord* newRecord(int type, int fd) {
    SocketRecord* s = (SocketRecord*)calloc(1, sizeof(SocketRecord));
    if (!s) return NULL;
    s->type = type;
    s->fd = fd;
    return s;
}

void freeRecord(SocketRecord* s) {
    tlsFree(s);
    if (s->fd >= 0) closeDescriptor(s->fd);
    free(s->host);
    free(s);
}

/* Detaches and frees the record, or, while a blocked call uses it, shuts the socket down
 * so that the call returns and frees it. */
static void detach(HostContext* cx, HostObject* obj) {
    SocketRecord* s = hostRecord(cx, obj);
    if (!s) return;
    hostApi->setPrivate(cx, obj, NULL);
    if (s->users > 0) {
        s->closing = 1;
        shutdown(s->fd, SHUT_RDWR);
    } else {
        freeRecord(s);
    }
}

/* The close routine of close() and of every failed connect, bind, sendTo and recvFrom. */
void closeSocket(HostContext* cx, HostObject* self) {
    if (!self) return;
    detach(cx, self);
    hostPublish(cx, self, "host", HOST_UNDEFINED);
    hostPublish(cx, self, "peer", HOST_UNDEFINED);
    hostPublish(cx, self, "port", HOST_UNDEFINED);
}

/* new Socket(type) */
static int socketConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                           HostValue* rval) {
    (void)rval;
    if (argc < 1) return hostFormatError(cx, "Socket(<type>)");
    if (!self) return fail(cx, "Socket must be called with new");
    hostPublish(cx, self, "type", argv[0]);
    const char* name = hostApi->toBytes(cx, argv[0]);
    int type = !strcmp(name, "tcp")   ? SOCKET_TCP
               : !strcmp(name, "ssl") ? SOCKET_SSL
               : !strcmp(name, "udp") ? SOCKET_UDP
                                      : 0;
    int fd = -1;
    if (type)
        fd = keepFromChildren(
            socket(AF_INET, (type == SOCKET_UDP ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0));
    if (fd < 0) return fail(cx, "Socket: Unable to create socket");
    SocketRecord* s = newRecord(type, fd);
    if (!s || !hostApi->setPrivate(cx, self, s)) {
        if (s)
            freeRecord(s);
        else
            closeDescriptor(fd);
        return fail(cx, "Socket: Unable to create socket");
    }
    hostPublish(cx, self, "peer", hostApi->newNumber(cx, fd));
    return 1;
}

/* setTimeout(timeout): whole seconds; 0, a negative number or NaN waits without limit. */
static int socketSetTimeout(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    (void)rval;
    if (argc < 1) return hostFormatError(cx, "Socket.setTimeout(<timeout>)");
    if (!hostRecord(cx, self)) return fail(cx, "Socket.setTimeout: Socket not initialized");
    if (hostIsUndefined(argv[0])) return 1;
    hostPublish(cx, self, "timeout", argv[0]);
    int seconds = hostIntArg(cx, argv[0]);
    SocketRecord* s = hostRecord(cx, self); /* the conversion may have run a close */
    if (!s) return fail(cx, "Socket.setTimeout: Socket not initialized");
#ifdef _WIN32
    /* Milliseconds, at most what a DWORD holds. */
    DWORD tv = seconds <= 0 ? 0 : seconds > 4294967 ? 4294967000u : (DWORD)seconds * 1000;
#else
    struct timeval tv = {seconds > 0 ? seconds : 0, 0};
#endif
    setsockopt(s->fd, SOL_SOCKET, SO_RCVTIMEO, (const char*)&tv, sizeof tv);
    setsockopt(s->fd, SOL_SOCKET, SO_SNDTIMEO, (const char*)&tv, sizeof tv);
    return 1;
}

/* close() */
static int socketClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    closeSocket(cx, self);
    return 1;
}

static void socketFinalize(HostContext* cx, HostObject* obj) {
    detach(cx, obj);
}

static const HostFunctionSpec socketFns[] = {
    {"connect", socketConnect, 3, 0, 0}, {"bind", socketBind, 2, 0, 0},
    {"accept", socketAccept, 0, 0, 0},   {"setTimeout", socketSetTimeout, 1, 0, 0},
    {"send", socketSend, 1, 0, 0},       {"recv", socketRecv, 1, 0, 0},
    {"sendTo", socketSendTo, 3, 0, 0},   {"recvFrom", socketRecvFrom, 3, 0, 0},
    {"close", socketClose, 0, 0, 0},     {NULL, NULL, 0, 0, 0},
};

static const HostFunctionSpec socketStaticFns[] = {
    {"getHostName", socketGetHostName, 0, 0, 0},
    {"getLocalAddress", socketGetLocalAddress, 0, 0, 0},
    {"getHostInfos", socketGetHostInfos, 1, 0, 0},
    {"createSSLCertificate", socketCreateCertificate, 1, 0, 0},
    {NULL, NULL, 0, 0, 0},
};

#ifdef _WIN32
static void stopWinsock(void) {
    WSACleanup();
}

/* Winsock, started once per process and stopped at its exit; 0 when it does not start. */
static int startWinsock(void) {
    static int started;
    WSADATA data;
    if (started) return 1;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    atexit(stopWinsock);
    return started = 1;
}
#endif

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
#ifdef _WIN32
    if (!startWinsock()) {
        hostApi->reportError(cx, "Socket: WSAStartup() failed");
        return;
    }
#endif
    socketPrototype = hostApi->defineClass(cx, "Socket", socketConstruct, 0, NULL, socketFns, NULL,
                                           socketStaticFns, socketFinalize);
}
