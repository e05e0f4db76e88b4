/* What the files of the socket module share: the record of a Socket object, the helpers
 * every native uses, and the natives each file defines for the class tables.
 *
 * Threads: a blocking call runs with the request suspended (suspendOn/resumeOn). Another
 * script thread may close the object meanwhile; its close then only detaches the record
 * and shuts the socket down, which wakes the blocked call, and the last call to resume
 * frees the record. `users` and `closing` change only inside the request.
 */
#ifndef CAPSULE_SOCKET_H
#define CAPSULE_SOCKET_H

#define _GNU_SOURCE
#include "module_helpers.h"

#include <stddef.h>
#ifdef _WIN32
/* Winsock. A socket is kept as an int: Windows hands out small handle values, and
 * INVALID_SOCKET becomes -1. SSL and SSL_CTX are Schannel's connection and credentials
 * (socket_schannel.c). */
#include <winsock2.h>
#include <ws2tcpip.h>
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
#define MSG_NOSIGNAL 0 /* Windows raises no signal for a peer that has gone away */
#define SOCK_CLOEXEC 0 /* see keepFromChildren */
#define SHUT_RDWR SD_BOTH
#define closeDescriptor(fd) closesocket((SOCKET)(fd))
#define accept4(fd, address, size, flags) keepFromChildren((int)accept((SOCKET)(fd), address, size))
/* A socket the programs that the runtime starts do not inherit (a helper whose output is
 * read inherits the inheritable handles); the socket itself. */
static inline int keepFromChildren(int fd) {
    if (fd >= 0) SetHandleInformation((HANDLE)(SOCKET)fd, HANDLE_FLAG_INHERIT, 0);
    return fd;
}
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#define closeDescriptor(fd) close(fd)
#define keepFromChildren(fd) (fd) /* SOCK_CLOEXEC and accept4 see to it */
#endif

enum { SOCKET_TCP = 1, SOCKET_SSL = 2, SOCKET_UDP = 3 };

/* recv reads at most this many bytes in one call. */
#define SOCKET_RECV_DEFAULT 4000
#define SOCKET_RECV_MAX (16 * 1024 * 1024)

typedef struct SocketRecord {
    int type;
    int fd;
    int port;   /* of the last connect, bind, sendTo or recvFrom */
    char* host; /* its host text */
    char peer[INET_ADDRSTRLEN];
    SSL_CTX* tls; /* "ssl": the context (one reference of its own) */
    SSL* ssl;     /* "ssl": the connection */
    int users;    /* natives blocked on the socket right now */
    int closing;  /* closed while in use: the last user frees it */
} SocketRecord;

extern HostObject* socketPrototype;

/* Helpers (socket_class.c), beside those of module_helpers.h. */
int fail(HostContext* cx, const char* message);
void putField(HostContext* cx, HostObject* obj, const char* name, HostValue value);
void keepTarget(SocketRecord* s, const char* host, int port);
int suspendOn(HostContext* cx, SocketRecord* s);
int resumeOn(HostContext* cx, SocketRecord* s, int depth);
void closeSocket(HostContext* cx, HostObject* self);
SocketRecord* newRecord(int type, int fd);
void freeRecord(SocketRecord* s);

/* Host names and addresses (socket_hosts.c); none touches the engine. */
int resolveHost(const char* host, struct in_addr* out);
int validPort(int port);
const char* dottedQuad(struct in_addr address, char* out); /* INET_ADDRSTRLEN bytes */

/* TLS (socket_tls.c; socket_schannel.c on Windows); none touches the engine. Results of the
 * steps that can fail: */
enum {
    TLS_OK,
    TLS_NO_CONTEXT,
    TLS_NO_CONNECTION,
    TLS_NO_CERTIFICATES,
    TLS_NO_PEER,
    TLS_NO_HANDSHAKE
};
int tlsClientStart(SocketRecord* s, const char* host);       /* a new client connection */
int tlsHandshake(SocketRecord* s, char* error, size_t size); /* on the connected socket */
char* tlsPeerSubject(SSL* ssl); /* the peer certificate's subject line (free it), or null */
/* A listener's context: its certificate chain and key (PEM files; password: the key's pass
 * phrase, null for none). */
int tlsServerStart(SocketRecord* s, const char* cert, const char* key, const char* password);
int tlsAccepted(SocketRecord* listener, SocketRecord* c); /* 1: c is a server connection */
int tlsRead(SSL* ssl, char* buffer, int size);
int tlsWrite(SSL* ssl, const char* data, int size);
void tlsFree(SocketRecord* s); /* says goodbye, frees the connection and the context */
const char* tlsErrorText(char* buffer, size_t size);

/* Socket.createSSLCertificate's descriptor (socket_certificate.c) and the platform's maker of
 * the certificate, which touches no engine value. */
typedef struct CertificateRequest {
    const HostChar* keyFile; /* the files as the script names them */
    const HostChar* outputFile;
    char* keyName; /* the same in UTF-8 */
    char* outputName;
    const char* password;
    const char* names[4]; /* by certificateNameFields */
    long serial;
    long notBefore, notAfter;
} CertificateRequest;
enum {
    CERTIFICATE_MADE,
    CERTIFICATE_NO_KEY_FILE,
    CERTIFICATE_NO_KEY,
    CERTIFICATE_NO_OUTPUT_FILE,
    CERTIFICATE_NOT_MADE
};
extern const char* const certificateNameFields[4]; /* "CN", "O", "OU", "C" */
/* The PEM text (malloc'd) and its length; the reason in error (size bytes) for the last two. */
int certificateMake(const CertificateRequest* d, char** pem, size_t* length, char* error,
                    size_t size);

/* The natives. */
int socketConnect(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketBind(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketAccept(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketSend(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketRecv(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketSendTo(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketRecvFrom(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketGetHostName(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketGetLocalAddress(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketGetHostInfos(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);
int socketCreateCertificate(HostContext*, HostObject*, unsigned, HostValue*, HostValue*);

#endif
