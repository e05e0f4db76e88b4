/* The Windows build carries no TLS library: "ssl" sockets are refused when they are made
 * (so none of the steps below is ever reached) and Socket.createSSLCertificate reports
 * that it is not available. */
#include "socket.h"

int tlsClientStart(SocketRecord* s, const char* host) {
    (void)s, (void)host;
    return TLS_NO_CONTEXT;
}

int tlsHandshake(SocketRecord* s, char* error, size_t size) {
    (void)s, (void)error, (void)size;
    return TLS_NO_HANDSHAKE;
}

char* tlsPeerSubject(SSL* ssl) {
    (void)ssl;
    return NULL;
}

int tlsServerStart(SocketRecord* s, const char* cert, const char* key) {
    (void)s, (void)cert, (void)key;
    return TLS_NO_CONTEXT;
}

int tlsAccepted(SocketRecord* listener, SocketRecord* c) {
    (void)listener, (void)c;
    return 0;
}

int tlsRead(SSL* ssl, char* buffer, int size) {
    (void)ssl, (void)buffer, (void)size;
    return -1;
}

int tlsWrite(SSL* ssl, const char* data, int size) {
    (void)ssl, (void)data, (void)size;
    return -1;
}

void tlsFree(SocketRecord* s) {
    s->ssl = NULL;
    s->tls = NULL;
}

const char* tlsErrorText(char* buffer, size_t size) {
    if (size > 0) buffer[0] = 0;
    return buffer;
}

/* Socket.createSSLCertificate(descriptor) */
int socketCreateCertificate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    (void)self, (void)argv, (void)rval;
    if (argc < 1) return formatError(cx, "Socket.createSSLCertificate(<certificat descriptor>)");
    return fail(cx, "Socket.createSSLCertificate: SSL is not available on Windows");
}
