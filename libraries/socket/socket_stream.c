/* Stream sockets, plain ("tcp") and over TLS ("ssl"): connect, bind, accept, send and
 * recv. Each does its blocking part with the request suspended, in a function that
 * touches no engine value and returns what went wrong; the native reports it after
 * resuming.
 */
#include "socket.h"

#include "module_path.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The longest queue of connections waiting for accept that the system allows: a short one
 * makes the kernel drop connections under a burst of clients, and a dropped client only
 * tries again a second or more later. Linux caps the queue at net.core.somaxconn, which
 * may be set above SOMAXCONN. */
static int listenBacklog(void) {
    int backlog = SOMAXCONN;
#ifndef _WIN32
    FILE* f = fopen("/proc/sys/net/core/somaxconn", "re");
    if (f) {
        int n;
        if (fscanf(f, "%d", &n) == 1 && n > backlog) backlog = n;
        fclose(f);
    }
#endif
    return backlog;
}

enum { CONNECTED, NO_HOST, NO_CONTEXT, NO_CONNECTION, NO_CONNECT, NO_PEER, NO_HANDSHAKE };

/* Indexed by the codes above; the last two carry the TLS error text before the host. */
static const char* const connectErrors[] = {
    NULL,
    "Socket.connect: Can't get host by name on '%s'",
    "Socket.connect: Unable to create SSL context on '%s'",
    "Socket.connect: Unable to open SSL socket on '%s'",
    "Socket.connect: connect error on '%s'",
    "Socket.connect: SSL set peer error '%s' on '%s'",
    "Socket.connect: SSL connect error '%s' on '%s'",
};

/* The blocking part of connect. */
static int connectStream(SocketRecord* s, const char* host, int port, char* error, size_t size) {
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    if (!resolveHost(host, &sa.sin_addr)) return NO_HOST;
    if (s->type == SOCKET_SSL) {
        int started = tlsClientStart(s, host);
        if (started != TLS_OK) return started == TLS_NO_CONTEXT ? NO_CONTEXT : NO_CONNECTION;
    }
    sa.sin_port = htons((uint16_t)port);
    if (!validPort(port) || connect(s->fd, (struct sockaddr*)&sa, sizeof sa) != 0)
        return NO_CONNECT;
    dottedQuad(sa.sin_addr, s->peer);
    if (s->type != SOCKET_SSL) return CONNECTED;
    int shaken = tlsHandshake(s, error, size);
    return shaken == TLS_OK ? CONNECTED : shaken == TLS_NO_PEER ? NO_PEER : NO_HANDSHAKE;
}

/* The one-line subject of the peer's certificate as `ssl`; 0 without a certificate. */
static int publishSubject(HostContext* cx, HostObject* self, SocketRecord* s) {
    char* subject = tlsPeerSubject(s->ssl);
    if (!subject) return 0;
    hostPublish(cx, self, "ssl", hostApi->newString(cx, subject, NULL));
    free(subject);
    return 1;
}

/* connect(host, port) */
int socketConnect(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                  HostValue* rval) {
    (void)rval;
    if (argc < 2) return hostFormatError(cx, "Socket.connect(<host>, <port>)");
    const char* notInitialized = "Socket.connect: Socket not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    const char* host = hostApi->toBytes(cx, argv[0]);
    int port = hostIntArg(cx, argv[1]);
    SocketRecord* s = hostRecord(cx, self); /* the conversions may have run a close */
    if (!s) return fail(cx, notInitialized);
    keepTarget(s, host, port);
    hostPublish(cx, self, "host", argv[0]);
    hostPublish(cx, self, "port", argv[1]);
    char error[256] = "";
    int depth = suspendOn(cx, s);
    int code = connectStream(s, host, port, error, sizeof error);
    if (!resumeOn(cx, s, depth)) {
        closeSocket(cx, self);
        return fail(cx, notInitialized);
    }
    if (code == CONNECTED && s->type == SOCKET_SSL && !publishSubject(cx, self, s)) {
        hostApi->reportError(cx, "Socket.connect: SSL read certificate error '%s' on '%s'",
                             tlsErrorText(error, sizeof error), host);
        closeSocket(cx, self);
        return 0;
    }
    if (code == NO_PEER || code == NO_HANDSHAKE)
        hostApi->reportError(cx, connectErrors[code], error, host);
    else if (code != CONNECTED)
        hostApi->reportError(cx, connectErrors[code], host);
    if (code != CONNECTED) {
        closeSocket(cx, self);
        return 0;
    }
    hostPublish(cx, self, "ip", hostApi->newString(cx, s->peer, NULL));
    return 1;
}

enum { BOUND, NO_SSL_CONTEXT, NO_CERTIFICATES, NO_BIND, NO_LISTEN };

/* The blocking part of bind. A host name that does not resolve is an error rather than
 * any address, which would open the service on every network of the machine. */
static int bindSocket(SocketRecord* s, const char* host, int port, const char* cert,
                      const char* key, const char* password, struct in_addr* address) {
    if (s->type == SOCKET_SSL) {
        int started = tlsServerStart(s, cert, key, password);
        if (started != TLS_OK) return started == TLS_NO_CONTEXT ? NO_SSL_CONTEXT : NO_CERTIFICATES;
    }
    address->s_addr = htonl(INADDR_ANY);
    if (strcmp(host, "*") != 0 && !resolveHost(host, address)) return NO_BIND;
    if (!validPort(port)) return NO_BIND;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr = *address;
    sa.sin_port = htons((uint16_t)port);
    int on = 1;
    setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, (const char*)&on, sizeof on);
    if (bind(s->fd, (struct sockaddr*)&sa, sizeof sa) != 0) return NO_BIND;
    if (s->type != SOCKET_UDP && listen(s->fd, listenBacklog()) != 0) return NO_LISTEN;
    return BOUND;
}

/* bind(host, port) */
int socketBind(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    (void)rval;
    if (argc < 2) return hostFormatError(cx, "Socket.bind(<host>, <port>)");
    const char* notInitialized = "Socket.bind: Not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    hostPublish(cx, self, "host", argv[0]);
    hostPublish(cx, self, "port", argv[1]);
    const char* host = hostApi->toBytes(cx, argv[0]);
    int port = hostIntArg(cx, argv[1]);
    const char* cert = hostTextProperty(cx, self, "cert");
    const char* key = hostTextProperty(cx, self, "key");
    const char* password = hostTextProperty(cx, self, "password");
    if (!cert) cert = "undefined";
    if (!key) key = "undefined";
    /* The files are named as the runtime's file functions name them. */
    char* certFile = hostPathProperty(hostApi, cx, self, "cert");
    char* keyFile = hostPathProperty(hostApi, cx, self, "key");
    SocketRecord* s = hostRecord(cx, self);
    if (!s) {
        free(certFile);
        free(keyFile);
        return fail(cx, notInitialized);
    }
    keepTarget(s, host, port);
    struct in_addr address;
    int depth = suspendOn(cx, s);
    int code = bindSocket(s, host, port, certFile ? certFile : cert, keyFile ? keyFile : key,
                          password, &address);
    free(certFile);
    free(keyFile);
    if (!resumeOn(cx, s, depth)) {
        closeSocket(cx, self);
        return fail(cx, notInitialized);
    }
    if (code == NO_SSL_CONTEXT)
        hostApi->reportError(cx, "Socket.bind: Unable to create SSL context on '%s'", host);
    else if (code == NO_CERTIFICATES)
        hostApi->reportError(cx, "Socket.bind: Unable to load SSL certificates '%s' or key '%s'",
                             cert, key);
    else if (code != BOUND)
        hostApi->reportError(cx,
                             code == NO_BIND ? "Socket.bind: Bind error on '%s:%d'"
                                             : "Socket.bind: Listen error on '%s:%d'",
                             host, port);
    if (code != BOUND) {
        closeSocket(cx, self);
        return 0;
    }
    char dotted[INET_ADDRSTRLEN];
    hostPublish(cx, self, "ip", hostApi->newString(cx, dottedQuad(address, dotted), NULL));
    return 1;
}

/* The record of an accepted connection; for "ssl" a server connection on the listener's
 * context, whose handshake happens on the first read or write. Closes fd on failure. */
static SocketRecord* acceptedRecord(SocketRecord* listener, int fd,
                                    const struct sockaddr_in* from) {
    SocketRecord* c = newRecord(listener->type, fd);
    if (!c) {
        closeDescriptor(fd);
        return NULL;
    }
    c->port = ntohs(from->sin_port);
    dottedQuad(from->sin_addr, c->peer);
    if (c->type != SOCKET_SSL || tlsAccepted(listener, c)) return c;
    freeRecord(c);
    return NULL;
}

/* accept() */
int socketAccept(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval) {
    (void)argc, (void)argv;
    SocketRecord* s = hostRecord(cx, self);
    if (!s) return fail(cx, "Socket.accept: Socket not initialized");
    struct sockaddr_in from;
    socklen_t size = sizeof from;
    SocketRecord* client = NULL;
    int depth = suspendOn(cx, s);
    int fd = accept4(s->fd, (struct sockaddr*)&from, &size, SOCK_CLOEXEC);
    if (fd >= 0) client = acceptedRecord(s, fd, &from);
    resumeOn(cx, s, depth);
    if (!client) return fail(cx, "Socket.accept: Accept error");
    HostObject* obj = hostApi->newObject(cx, socketPrototype);
    if (!obj || !hostApi->setPrivate(cx, obj, client)) {
        freeRecord(client);
        return fail(cx, "Socket.accept: Accept error");
    }
    hostPublish(cx, obj, "peer", hostApi->newNumber(cx, client->fd));
    hostPublish(cx, obj, "ip", hostApi->newString(cx, client->peer, NULL));
    *rval = hostObject(obj);
    return 1;
}

/* send(data): the count sent, -1 on failure (a peer that has gone away among them). */
int socketSend(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    if (argc < 1) return hostFormatError(cx, "Socket.send(<data>)");
    const char* notInitialized = "Socket.send: Socket not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    size_t length;
    const char* data = hostBytesArg(cx, argv[0], &length);
    SocketRecord* s = hostRecord(cx, self);
    if (!s) return fail(cx, notInitialized);
    int depth = suspendOn(cx, s);
    int n = s->type != SOCKET_SSL ? (int)send(s->fd, data, length, MSG_NOSIGNAL)
            : s->ssl              ? tlsWrite(s->ssl, data, (int)length)
                                  : -1;
    resumeOn(cx, s, depth);
    *rval = hostApi->newNumber(cx, n < 0 || (n == 0 && length > 0) ? -1 : n);
    return 1;
}

/* A size below 1 (or no number) reads the default amount; one above 16 MiB reads 16 MiB. */
static int recvSize(int requested) {
    return requested < 1                 ? SOCKET_RECV_DEFAULT
           : requested > SOCKET_RECV_MAX ? SOCKET_RECV_MAX
                                         : requested;
}

/* recv([maxSize]): the bytes of one receive; "" at the end of the stream, on a time-out
 * and on failure. */
int socketRecv(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    const char* notInitialized = "Socket.recv: Socket not initialized";
    if (!hostRecord(cx, self)) return fail(cx, notInitialized);
    int size = SOCKET_RECV_DEFAULT;
    if (hostPresent(argc, argv, 0)) size = recvSize(hostIntArg(cx, argv[0]));
    SocketRecord* s = hostRecord(cx, self);
    if (!s) return fail(cx, notInitialized);
    char* buffer = (char*)hostApi->allocate(cx, (size_t)size + 1);
    if (!buffer) return fail(cx, "Socket.recv: Unable to allocate buffer");
    int depth = suspendOn(cx, s);
    int n = s->type != SOCKET_SSL ? (int)recv(s->fd, buffer, (size_t)size, 0)
            : s->ssl              ? tlsRead(s->ssl, buffer, size)
                                  : -1;
    resumeOn(cx, s, depth);
    *rval = hostApi->newStringN(cx, buffer, n > 0 ? (size_t)n : 0);
    hostApi->release(cx, buffer);
    return 1;
}
