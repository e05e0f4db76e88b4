/* TLS on Windows through the system's own TLS, Schannel (SSPI): credentials for clients and
 * servers (TLS 1.2), the handshakes, and records in both directions with EncryptMessage and
 * DecryptMessage over the socket. The peer's certificate is not checked, as on Linux.
 * Nothing here touches the engine.
 *
 * The socket's time-out bounds a whole TLS call, handshake included, as on Linux: each wait
 * for the socket gets what is left of the call's time, so a peer that sends a byte now and
 * then cannot stretch one call without end.
 *
 * SSL is a connection, SSL_CTX the credentials a listener shares with the connections it
 * accepts (counted references).
 */
#define SECURITY_WIN32
#include "socket.h"
#include "socket_win.h"

#include <schannel.h>
#include <security.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct ssl_ctx_st {
    CredHandle handle;
    LONG references;
    ServerCertificate certificate; /* a server's */
};

struct ssl_st {
    SSL_CTX* credentials;
    CtxtHandle context;
    int hasContext, server, established, ended;
    int fd;
    /* The end of the TLS call under way (GetTickCount64), 0 for none. */
    ULONGLONG deadline;
    wchar_t* target; /* the name the client sends, null for an address */
    SecPkgContext_StreamSizes sizes;
    char* in; /* received and not yet decrypted */
    size_t inLength, inSize;
    char* plain; /* decrypted and not yet read */
    size_t plainAt, plainLength;
};

/* The latest failure of this thread, for tlsErrorText: a status of Schannel or of Winsock;
 * 0 for a peer that closed the connection. */
static __thread long lastStatus;

static int failed(long status) {
    lastStatus = status;
    return 0;
}

const char* tlsErrorText(char* buffer, size_t size) {
    char text[200] = "";
    if (lastStatus)
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                       (DWORD)lastStatus, 0, text, sizeof text, NULL);
    for (size_t n = strlen(text);
         n && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ');)
        text[--n] = 0;
    if (!lastStatus)
        snprintf(buffer, size, "connection closed");
    else if (text[0])
        snprintf(buffer, size, "%s (0x%08lX)", text, (unsigned long)lastStatus);
    else
        snprintf(buffer, size, "Schannel error 0x%08lX", (unsigned long)lastStatus);
    lastStatus = 0;
    return buffer;
}

static void release(SSL_CTX* credentials) {
    if (!credentials || InterlockedDecrement(&credentials->references) > 0) return;
    FreeCredentialsHandle(&credentials->handle);
    serverCertificateFree(&credentials->certificate);
    free(credentials);
}

static SSL_CTX* newCredentials(void) {
    SSL_CTX* c = (SSL_CTX*)calloc(1, sizeof *c);
    if (c) c->references = 1;
    return c;
}

/* Credentials for TLS 1.2 that check nothing of the peer's certificate; a server's with its
 * certificate. */
static int acquire(SSL_CTX* c, int server) {
    SCHANNEL_CRED cred;
    memset(&cred, 0, sizeof cred);
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = server ? SP_PROT_TLS1_2_SERVER : SP_PROT_TLS1_2_CLIENT;
    if (server) {
        cred.cCreds = 1;
        cred.paCred = &c->certificate.leaf;
    } else {
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS |
                       SCH_CRED_NO_SERVERNAME_CHECK;
    }
    TimeStamp expiry;
    SECURITY_STATUS status = AcquireCredentialsHandleW(
        NULL, (SEC_WCHAR*)UNISP_NAME_W, server ? SECPKG_CRED_INBOUND : SECPKG_CRED_OUTBOUND, NULL,
        &cred, NULL, NULL, &c->handle, &expiry);
    lastStatus = status;
    return status == SEC_E_OK;
}

static SSL* newConnection(SSL_CTX* credentials, int fd, int server) {
    SSL* ssl = (SSL*)calloc(1, sizeof *ssl);
    if (!ssl) return NULL;
    ssl->credentials = credentials;
    ssl->fd = fd;
    ssl->server = server;
    return ssl;
}

/* Starts the deadline of one TLS call from the socket's receive or send time-out. */
static void startCall(SSL* ssl, int option) {
    DWORD ms = 0;
    int size = sizeof ms;
    ssl->deadline = 0;
    if (getsockopt((SOCKET)ssl->fd, SOL_SOCKET, option, (char*)&ms, &size) == 0 && ms)
        ssl->deadline = GetTickCount64() + ms;
}

/* Waits until the socket can be read (or written) or the call's deadline passes; 0 when it
 * passed, kept as a time-out. */
static int waitFor(SSL* ssl, int writing) {
    if (!ssl->deadline) return 1;
    ULONGLONG now = GetTickCount64();
    if (now >= ssl->deadline) return failed(WSAETIMEDOUT);
    ULONGLONG left = ssl->deadline - now;
    struct timeval wait = {(long)(left / 1000), (long)(left % 1000 * 1000)};
    fd_set set;
    FD_ZERO(&set);
    FD_SET((SOCKET)ssl->fd, &set);
    if (select(0, writing ? NULL : &set, writing ? &set : NULL, NULL, &wait) == 0)
        return failed(WSAETIMEDOUT);
    return 1; /* ready, or a failed select, which the send or receive then reports */
}

/* Sends all n bytes; 0 when the socket fails or the call's time is up. */
static int sendAll(SSL* ssl, const char* data, size_t n) {
    while (n > 0) {
        if (!waitFor(ssl, 1)) return 0;
        int sent = send((SOCKET)ssl->fd, data, n > 0x40000000 ? 0x40000000 : (int)n, 0);
        if (sent <= 0) return failed(WSAGetLastError());
        data += sent;
        n -= (size_t)sent;
    }
    return 1;
}

/* Receives more into the buffer of received bytes, which grows to hold a whole handshake
 * message or record; > 0 when bytes came, else the reason is kept. */
static int receiveMore(SSL* ssl) {
    if (ssl->inLength == ssl->inSize) {
        size_t size = ssl->inSize ? ssl->inSize * 2 : 32768;
        char* in = size <= (1u << 24) ? (char*)realloc(ssl->in, size) : NULL;
        if (!in) return failed(SEC_E_INSUFFICIENT_MEMORY) - 1;
        ssl->in = in;
        ssl->inSize = size;
    }
    if (!waitFor(ssl, 0)) return -1;
    int n = recv((SOCKET)ssl->fd, ssl->in + ssl->inLength, (int)(ssl->inSize - ssl->inLength), 0);
    if (n > 0) ssl->inLength += (size_t)n;
    lastStatus = n < 0 ? WSAGetLastError() : 0;
    return n;
}

/* Keeps what the last call did not consume (an EXTRA buffer), drops the rest. */
static void keepExtra(SSL* ssl, const SecBuffer* extra) {
    if (extra->BufferType == SECBUFFER_EXTRA && extra->cbBuffer <= ssl->inLength) {
        memmove(ssl->in, ssl->in + ssl->inLength - extra->cbBuffer, extra->cbBuffer);
        ssl->inLength = extra->cbBuffer;
    } else {
        ssl->inLength = 0;
    }
}

/* One step of the handshake with what was received: ISC for a client, ASC for a server. */
static SECURITY_STATUS handshakeStep(SSL* ssl, SecBufferDesc* input, SecBufferDesc* output) {
    ULONG attributes;
    TimeStamp expiry;
    CtxtHandle* context = ssl->hasContext ? &ssl->context : NULL;
    SECURITY_STATUS status;
    if (ssl->server)
        status = AcceptSecurityContext(&ssl->credentials->handle, context, input,
                                       ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM |
                                           ASC_REQ_CONFIDENTIALITY | ASC_REQ_EXTENDED_ERROR |
                                           ASC_REQ_SEQUENCE_DETECT | ASC_REQ_REPLAY_DETECT,
                                       0, &ssl->context, output, &attributes, &expiry);
    else
        status = InitializeSecurityContextW(
            &ssl->credentials->handle, context, ssl->target,
            ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_CONFIDENTIALITY |
                ISC_REQ_EXTENDED_ERROR | ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                ISC_REQ_MANUAL_CRED_VALIDATION,
            0, 0, context ? input : NULL, 0, &ssl->context, output, &attributes, &expiry);
    if (!ssl->hasContext && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                             status == SEC_I_INCOMPLETE_CREDENTIALS))
        ssl->hasContext = 1;
    return status;
}

/* The whole handshake; 1 when it is done. The client speaks first. */
static int handshake(SSL* ssl) {
    int needInput = ssl->server, withoutCertificate = 0;
    for (;;) {
        if (needInput && receiveMore(ssl) <= 0) return 0;
        SecBuffer in[2] = {{(ULONG)ssl->inLength, SECBUFFER_TOKEN, ssl->in},
                           {0, SECBUFFER_EMPTY, NULL}};
        SecBuffer out[2] = {{0, SECBUFFER_TOKEN, NULL}, {0, SECBUFFER_ALERT, NULL}};
        SecBufferDesc input = {SECBUFFER_VERSION, 2, in}, output = {SECBUFFER_VERSION, 2, out};
        SECURITY_STATUS status = handshakeStep(ssl, &input, &output);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = 1;
            continue;
        }
        int sent = 1;
        if (out[0].cbBuffer && out[0].pvBuffer)
            sent = sendAll(ssl, (const char*)out[0].pvBuffer, out[0].cbBuffer);
        for (int i = 0; i < 2; i++)
            if (out[i].pvBuffer) FreeContextBuffer(out[i].pvBuffer);
        /* Asked for a client certificate, the call consumed nothing: the same input again. */
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) keepExtra(ssl, &in[1]);
        if (!sent) return 0;
        if (status == SEC_E_OK) {
            status = QueryContextAttributesW(&ssl->context, SECPKG_ATTR_STREAM_SIZES, &ssl->sizes);
            if (status != SEC_E_OK) return failed(status);
            ssl->established = 1;
            return 1;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !withoutCertificate++) {
            needInput = 0; /* the handshake goes on without a certificate */
            continue;
        }
        if (status != SEC_I_CONTINUE_NEEDED) return failed(status);
        needInput = ssl->inLength == 0;
    }
}

void tlsFree(SocketRecord* s) {
    SSL* ssl = s->ssl;
    if (ssl) {
        if (ssl->established && !ssl->ended && s->fd >= 0) {
            /* Says goodbye if the socket takes it at once. */
            DWORD kind = SCHANNEL_SHUTDOWN;
            SecBuffer token = {sizeof kind, SECBUFFER_TOKEN, &kind};
            SecBufferDesc tokens = {SECBUFFER_VERSION, 1, &token};
            SecBuffer out[2] = {{0, SECBUFFER_TOKEN, NULL}, {0, SECBUFFER_ALERT, NULL}};
            SecBufferDesc output = {SECBUFFER_VERSION, 2, out};
            if (ApplyControlToken(&ssl->context, &tokens) == SEC_E_OK) {
                handshakeStep(ssl, NULL, &output);
                u_long nonBlocking = 1;
                ioctlsocket((SOCKET)s->fd, FIONBIO, &nonBlocking);
                if (out[0].pvBuffer && out[0].cbBuffer)
                    send((SOCKET)s->fd, (const char*)out[0].pvBuffer, (int)out[0].cbBuffer, 0);
                for (int i = 0; i < 2; i++)
                    if (out[i].pvBuffer) FreeContextBuffer(out[i].pvBuffer);
            }
        }
        if (ssl->hasContext) DeleteSecurityContext(&ssl->context);
        free(ssl->target);
        free(ssl->in);
        free(ssl->plain);
        free(ssl);
    }
    release(s->tls);
    s->ssl = NULL;
    s->tls = NULL;
}

/* Narrow text to wide, one character per byte as the script's text was cut to bytes. */
static wchar_t* widenBytes(const char* text) {
    size_t n = strlen(text);
    wchar_t* wide = (wchar_t*)calloc(n + 1, sizeof(wchar_t));
    for (size_t i = 0; wide && i < n; i++)
        wide[i] = (unsigned char)text[i];
    return wide;
}

/* A file name in UTF-8 (as module_path.h gives it) to wide text for the wide file calls. */
static wchar_t* widenPath(const char* path) {
    int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, NULL, 0);
    wchar_t* wide = n > 0 ? (wchar_t*)calloc((size_t)n, sizeof(wchar_t)) : NULL;
    if (wide && MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, n) != n) {
        free(wide);
        wide = NULL;
    }
    return wide;
}

int tlsClientStart(SocketRecord* s, const char* host) {
    tlsFree(s);
    if (!(s->tls = newCredentials()) || !acquire(s->tls, 0)) {
        free(s->tls);
        s->tls = NULL;
        return TLS_NO_CONTEXT;
    }
    if (!(s->ssl = newConnection(s->tls, s->fd, 0))) return TLS_NO_CONNECTION;
    struct in_addr literal;
    if (inet_pton(AF_INET, host, &literal) != 1 && !(s->ssl->target = widenBytes(host)))
        return TLS_NO_CONNECTION;
    return TLS_OK;
}

int tlsHandshake(SocketRecord* s, char* error, size_t size) {
    s->ssl->fd = s->fd;
    startCall(s->ssl, SO_RCVTIMEO);
    if (handshake(s->ssl)) return TLS_OK;
    tlsErrorText(error, size);
    return TLS_NO_HANDSHAKE;
}

char* tlsPeerSubject(SSL* ssl) {
    PCCERT_CONTEXT cert = NULL;
    if (!ssl ||
        QueryContextAttributesW(&ssl->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) !=
            SEC_E_OK ||
        !cert)
        return NULL;
    char* subject = subjectLine(&cert->pCertInfo->Subject);
    CertFreeCertificateContext(cert);
    return subject;
}

int tlsServerStart(SocketRecord* s, const char* cert, const char* key, const char* password) {
    release(s->tls);
    if (!(s->tls = newCredentials())) return TLS_NO_CONTEXT;
    wchar_t *certPath = widenPath(cert), *keyPath = widenPath(key);
    int loaded = certPath && keyPath &&
                 serverCertificateLoad(certPath, keyPath, password, &s->tls->certificate);
    free(certPath);
    free(keyPath);
    if (!loaded || !acquire(s->tls, 1)) {
        serverCertificateFree(&s->tls->certificate);
        free(s->tls);
        s->tls = NULL;
        return TLS_NO_CERTIFICATES;
    }
    return TLS_OK;
}

int tlsAccepted(SocketRecord* listener, SocketRecord* c) {
    if (!listener->tls) return 0;
    InterlockedIncrement(&listener->tls->references);
    c->tls = listener->tls;
    c->ssl = newConnection(c->tls, c->fd, 1);
    return c->ssl != NULL;
}

/* Decrypts the next record from the received bytes; 1 with plain text ready, 0 when more
 * bytes are needed, -1 on failure, -2 when the peer said goodbye. */
static int decryptRecord(SSL* ssl) {
    if (ssl->inLength == 0) return 0;
    SecBuffer buffers[4] = {{(ULONG)ssl->inLength, SECBUFFER_DATA, ssl->in},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&ssl->context, &message, 0, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return 0;
    if (status == SEC_I_CONTEXT_EXPIRED) return -2;
    if (status != SEC_E_OK) return failed(status) - 1;
    const SecBuffer *data = NULL, *extra = NULL;
    for (int i = 0; i < 4; i++) {
        if (buffers[i].BufferType == SECBUFFER_DATA && !data) data = &buffers[i];
        if (buffers[i].BufferType == SECBUFFER_EXTRA && !extra) extra = &buffers[i];
    }
    if (data && data->cbBuffer) {
        char* plain = (char*)realloc(ssl->plain, data->cbBuffer);
        if (!plain) return failed(SEC_E_INSUFFICIENT_MEMORY) - 1;
        memcpy(plain, data->pvBuffer, data->cbBuffer);
        ssl->plain = plain;
        ssl->plainAt = 0;
        ssl->plainLength = data->cbBuffer;
    }
    SecBuffer none = {0, SECBUFFER_EMPTY, NULL};
    keepExtra(ssl, extra ? extra : &none);
    return 1;
}

/* A server's handshake happens on its first read or write. */
static int ready(SSL* ssl) {
    return ssl->established || (!ssl->ended && ssl->server && handshake(ssl));
}

int tlsRead(SSL* ssl, char* buffer, int size) {
    startCall(ssl, SO_RCVTIMEO);
    if (!ready(ssl)) return -1;
    while (ssl->plainAt == ssl->plainLength) {
        if (ssl->ended) return 0;
        int got = decryptRecord(ssl);
        if (got == -2) {
            ssl->ended = 1;
            return 0;
        }
        if (got < 0) return -1;
        if (got == 0) {
            int n = receiveMore(ssl);
            if (n <= 0) return n;
        }
    }
    size_t n = ssl->plainLength - ssl->plainAt;
    if (n > (size_t)size) n = (size_t)size;
    memcpy(buffer, ssl->plain + ssl->plainAt, n);
    ssl->plainAt += n;
    return (int)n;
}

int tlsWrite(SSL* ssl, const char* data, int size) {
    if (size == 0) return 0;
    startCall(ssl, SO_SNDTIMEO);
    if (!ready(ssl) || ssl->ended) return -1;
    SecPkgContext_StreamSizes* z = &ssl->sizes;
    char* record = (char*)malloc(z->cbHeader + z->cbMaximumMessage + z->cbTrailer);
    if (!record) return -1;
    int written = 0;
    while (written < size) {
        ULONG n = (ULONG)(size - written) < z->cbMaximumMessage ? (ULONG)(size - written)
                                                                : z->cbMaximumMessage;
        memcpy(record + z->cbHeader, data + written, n);
        SecBuffer buffers[4] = {{z->cbHeader, SECBUFFER_STREAM_HEADER, record},
                                {n, SECBUFFER_DATA, record + z->cbHeader},
                                {z->cbTrailer, SECBUFFER_STREAM_TRAILER, record + z->cbHeader + n},
                                {0, SECBUFFER_EMPTY, NULL}};
        SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = EncryptMessage(&ssl->context, 0, &message, 0);
        if (status != SEC_E_OK ||
            !sendAll(ssl, record,
                     buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) {
            if (status != SEC_E_OK) failed(status);
            written = -1;
            break;
        }
        written += (int)n;
    }
    free(record);
    return written;
}
