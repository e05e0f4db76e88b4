/* TLS over OpenSSL 3: contexts for clients and servers (TLS 1.2 and later), connections on
 * a socket, reads and writes. Nothing here touches the engine, so all of it may run with
 * the request suspended. OpenSSL itself is loaded on the first use (socket_openssl.c).
 *
 * Connections reach their socket through a small I/O layer of our own rather than
 * OpenSSL's socket layer, which writes with write(): a peer that has gone away would then
 * raise SIGPIPE and end the process. Ours sends with MSG_NOSIGNAL and gets EPIPE instead.
 *
 * The socket's time-out bounds a whole TLS call, handshake included: one SSL_read may
 * wait for many small receives, and a peer that sends a byte now and then would keep it
 * waiting without end if each receive had the time-out to itself.
 */
#include "socket.h"
#include "socket_openssl.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static pthread_once_t started = PTHREAD_ONCE_INIT;
static BIO_METHOD* socketLayer;

/* What the I/O layer of one connection holds: its socket and the end of the TLS call
 * under way (monotonic milliseconds; 0 without a time-out). */
typedef struct Link {
    int fd;
    long long deadline;
} Link;

static Link* linkOf(BIO* b) {
    return (Link*)BIO_get_data(b);
}

static long long nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Starts the deadline of one TLS call from the socket's receive or send time-out; option
 * 0 starts a call without one. */
static void startCall(SSL* ssl, int option) {
    BIO* b = SSL_get_rbio(ssl);
    Link* l = b ? linkOf(b) : NULL;
    struct timeval tv = {0, 0};
    socklen_t size = sizeof tv;
    if (!l) return;
    l->deadline = 0;
    if (option && getsockopt(l->fd, SOL_SOCKET, option, &tv, &size) == 0 &&
        (tv.tv_sec || tv.tv_usec))
        l->deadline = nowMs() + (long long)tv.tv_sec * 1000 + tv.tv_usec / 1000;
}

/* Waits until the socket is ready for the events or the call's deadline passes; 0 when it
 * passed (errno EAGAIN, as for a receive that timed out). */
static int ready(Link* l, short events) {
    if (!l->deadline) return 1;
    for (;;) {
        long long left = l->deadline - nowMs();
        if (left <= 0) {
            errno = EAGAIN;
            return 0;
        }
        struct pollfd p = {l->fd, events, 0};
        int n = poll(&p, 1, left > INT_MAX ? INT_MAX : (int)left);
        if (n > 0 || (n < 0 && errno != EINTR)) return 1;
    }
}

static int retryable(void) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

static int layerWrite(BIO* b, const char* data, int size) {
    BIO_clear_retry_flags(b);
    Link* l = linkOf(b);
    int n = ready(l, POLLOUT) ? (int)send(l->fd, data, (size_t)size, MSG_NOSIGNAL) : -1;
    if (n < 0 && retryable()) BIO_set_retry_write(b);
    return n;
}

static int layerRead(BIO* b, char* data, int size) {
    BIO_clear_retry_flags(b);
    Link* l = linkOf(b);
    int n = ready(l, POLLIN) ? (int)recv(l->fd, data, (size_t)size, 0) : -1;
    if (n < 0 && retryable()) BIO_set_retry_read(b);
    return n;
}

static int layerDestroy(BIO* b) {
    free(BIO_get_data(b));
    BIO_set_data(b, NULL);
    return 1;
}

static long layerControl(BIO* b, int command, long number, void* pointer) {
    (void)number;
    if (command == BIO_CTRL_FLUSH) return 1;
    if (command == BIO_C_GET_FD) {
        int fd = linkOf(b) ? linkOf(b)->fd : -1;
        if (pointer) *(int*)pointer = fd;
        return fd;
    }
    return 0;
}

/* OpenSSL's start and ours run once, whichever threads come first. */
static void start(void) {
    if (!opensslStart(NULL, 0)) return;
    socketLayer = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                               "capsule socket");
    BIO_meth_set_write(socketLayer, layerWrite);
    BIO_meth_set_read(socketLayer, layerRead);
    BIO_meth_set_ctrl(socketLayer, layerControl);
    BIO_meth_set_destroy(socketLayer, layerDestroy);
}

/* 1 when OpenSSL is ready. */
static int tlsStart(void) {
    pthread_once(&started, start);
    return socketLayer != NULL;
}

/* A context that speaks TLS 1.2 or later and asks nothing of the peer's certificate. */
static SSL_CTX* tlsContext(int server) {
    if (!tlsStart()) return NULL;
    SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    if (ctx && !SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION)) {
        SSL_CTX_free(ctx);
        ctx = NULL;
    }
    return ctx;
}

/* The certificate (PEM, a chain allowed) and its private key (PEM, encrypted with the pass
 * phrase); 1 when they match. */
static int tlsLoadCertificate(SSL_CTX* ctx, const char* cert, const char* key,
                              const char* password) {
    SSL_CTX_set_default_passwd_cb(ctx, opensslPassPhrase);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, (void*)password);
    return SSL_CTX_use_certificate_chain_file(ctx, cert) == 1 &&
           SSL_CTX_use_PrivateKey_file(ctx, key, SSL_FILETYPE_PEM) == 1 &&
           SSL_CTX_check_private_key(ctx) == 1;
}

static int tlsAttach(SSL* ssl, int fd) {
    Link* l = (Link*)calloc(1, sizeof(Link));
    BIO* b = l && socketLayer ? BIO_new(socketLayer) : NULL;
    if (!b) {
        free(l);
        return 0;
    }
    l->fd = fd;
    BIO_set_data(b, l);
    BIO_set_init(b, 1);
    SSL_set_bio(ssl, b, b);
    return 1;
}

int tlsRead(SSL* ssl, char* buffer, int size) {
    ERR_clear_error();
    startCall(ssl, SO_RCVTIMEO);
    return SSL_read(ssl, buffer, size);
}

int tlsWrite(SSL* ssl, const char* data, int size) {
    if (size == 0) return 0;
    ERR_clear_error();
    startCall(ssl, SO_SNDTIMEO);
    return SSL_write(ssl, data, size);
}

/* Says goodbye to the peer if the socket takes it at once (never waits), frees the
 * connection. */
static void tlsClose(SSL* ssl, int fd) {
    if (fd >= 0 && SSL_is_init_finished(ssl)) {
        startCall(ssl, 0);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ERR_clear_error();
}

/* The text of this thread's latest OpenSSL error, else of errno; why OpenSSL did not load
 * when it did not. */
const char* tlsErrorText(char* buffer, size_t size) {
    if (!opensslStart(buffer, size)) return buffer;
    unsigned long e = ERR_peek_last_error();
    if (e)
        ERR_error_string_n(e, buffer, size);
    else
        snprintf(buffer, size, "%s", errno ? strerror(errno) : "connection closed");
    ERR_clear_error();
    return buffer;
}

void tlsFree(SocketRecord* s) {
    if (s->ssl) tlsClose(s->ssl, s->fd);
    if (s->tls) SSL_CTX_free(s->tls);
    s->ssl = NULL;
    s->tls = NULL;
}

/* A client connection in place of any earlier one, naming the host to the server unless it
 * is a dotted quad. */
int tlsClientStart(SocketRecord* s, const char* host) {
    tlsFree(s);
    if (!(s->tls = tlsContext(0))) return TLS_NO_CONTEXT;
    if (!(s->ssl = SSL_new(s->tls))) return TLS_NO_CONNECTION;
    SSL_set_connect_state(s->ssl);
    struct in_addr literal;
    if (inet_pton(AF_INET, host, &literal) != 1) SSL_set_tlsext_host_name(s->ssl, host);
    return TLS_OK;
}

/* The client handshake on the connected socket; the error text in error on failure. */
int tlsHandshake(SocketRecord* s, char* error, size_t size) {
    if (!tlsAttach(s->ssl, s->fd)) {
        tlsErrorText(error, size);
        return TLS_NO_PEER;
    }
    ERR_clear_error();
    errno = 0;
    startCall(s->ssl, SO_RCVTIMEO);
    if (SSL_connect(s->ssl) != 1) {
        tlsErrorText(error, size);
        return TLS_NO_HANDSHAKE;
    }
    return TLS_OK;
}

char* tlsPeerSubject(SSL* ssl) {
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (!cert) return NULL;
    char* line = X509_NAME_oneline(X509_get_subject_name(cert), NULL, 0);
    char* subject = strdup(line ? line : "");
    OPENSSL_free(line);
    X509_free(cert);
    return subject;
}

int tlsServerStart(SocketRecord* s, const char* cert, const char* key, const char* password) {
    if (s->tls) SSL_CTX_free(s->tls);
    if (!(s->tls = tlsContext(1))) return TLS_NO_CONTEXT;
    int loaded = tlsLoadCertificate(s->tls, cert, key, password);
    SSL_CTX_set_default_passwd_cb_userdata(s->tls, NULL); /* the text lives no longer */
    return loaded ? TLS_OK : TLS_NO_CERTIFICATES;
}

/* A server connection on the listener's context; its handshake happens on the first read
 * or write. */
int tlsAccepted(SocketRecord* listener, SocketRecord* c) {
    if (listener->tls && SSL_CTX_up_ref(listener->tls)) c->tls = listener->tls;
    if (c->tls && (c->ssl = SSL_new(c->tls)) && tlsAttach(c->ssl, c->fd)) {
        SSL_set_accept_state(c->ssl);
        return 1;
    }
    return 0;
}
