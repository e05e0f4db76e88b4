/* What the Windows TLS files of the socket module share: DER and PEM (socket_der.c), private
 * keys and certificate chains (socket_keys_win.c), the subject line of a certificate. Schannel
 * (socket_schannel.c) and Socket.createSSLCertificate (socket_certificate_win.c) build on
 * them. Nothing here touches the engine.
 */
#ifndef CAPSULE_SOCKET_WIN_H
#define CAPSULE_SOCKET_WIN_H

#include <stddef.h>
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

/* A span of DER: an element's content, or what is left of a sequence. */
typedef struct Der {
    const unsigned char* p;
    size_t n;
} Der;

/* Takes the next element of *in, which must have the tag, into *content; 0 when the
 * bytes are no such element. */
int derNext(Der* in, unsigned tag, Der* content);
/* The tag of the next element of in; -1 at its end. */
int derPeek(const Der* in);
/* 1 when content holds exactly the n bytes. */
int derIs(Der content, const void* bytes, size_t n);

/* DER written into a growing buffer; `failed` once memory ran out. */
typedef struct DerOut {
    unsigned char* p;
    size_t n, size;
    int failed;
} DerOut;

void derBytes(DerOut* out, const void* bytes, size_t n);
/* An element: derOpen writes its tag, the content follows, derClose writes its length. */
size_t derOpen(DerOut* out, unsigned tag);
void derClose(DerOut* out, size_t open);
void derPut(DerOut* out, unsigned tag, const void* content, size_t n);
/* A non-negative INTEGER from big-endian bytes. */
void derUnsigned(DerOut* out, const unsigned char* bytes, size_t n);

/* Tags. */
enum {
    DER_INTEGER = 0x02,
    DER_BIT_STRING = 0x03,
    DER_OCTET_STRING = 0x04,
    DER_NULL = 0x05,
    DER_OID = 0x06,
    DER_UTF8 = 0x0C,
    DER_PRINTABLE = 0x13,
    DER_IA5 = 0x16,
    DER_UTC_TIME = 0x17,
    DER_GENERALIZED_TIME = 0x18,
    DER_BMP = 0x1E,
    DER_SEQUENCE = 0x30,
    DER_SET = 0x31
};

/* A PEM block: its label ("CERTIFICATE", "PRIVATE KEY" ...), the headers between the BEGIN
 * line and the data (the encryption of a traditional key), and the decoded DER. */
typedef struct PemBlock {
    char label[64];
    char headers[256];
    unsigned char* der;
    size_t size;
} PemBlock;

/* The next block of text from *at (advanced past it); 0 when there is none. Free der. */
int pemNext(const char** at, PemBlock* block);
/* The PEM text of DER under the label, lines of 64 characters ending in LF (malloc'd). */
char* pemText(const char* label, const unsigned char* der, size_t n, size_t* length);
/* A whole file (NUL added; malloc'd), null when it cannot be read. */
char* readWholeFile(const wchar_t* path, size_t* length);

/* The subject of a certificate as OpenSSL writes it on one line: "/CN=host/O=Org". */
char* subjectLine(const CERT_NAME_BLOB* name);

/* A private key for the system's crypto: a BCrypt key blob with its algorithm, and the
 * public key as the certificate carries it (an RSAPublicKey or an EC point). */
typedef struct PrivateKey {
    const wchar_t* algorithm; /* BCRYPT_RSA_ALGORITHM, BCRYPT_ECDSA_P256_ALGORITHM ... */
    const wchar_t* blobType;  /* BCRYPT_RSAPRIVATE_BLOB or BCRYPT_ECCPRIVATE_BLOB */
    unsigned char* blob;
    ULONG blobSize;
    unsigned char* spki; /* the SubjectPublicKeyInfo */
    size_t spkiSize;
    const unsigned char* publicKey; /* within spki: the contents of its BIT STRING */
    size_t publicKeySize;
    int ec; /* signs with ECDSA, else RSA */
} PrivateKey;

enum { KEY_LOADED, KEY_NO_FILE, KEY_NOT_READ };

/* Reads the first private key of a PEM file (PKCS#8, encrypted PKCS#8, traditional RSA or
 * EC, the traditional ones also encrypted) with the pass phrase (null: none). */
int keyRead(const wchar_t* path, const char* password, PrivateKey* key);
void keyFree(PrivateKey* key);
/* A hash of the bytes with a BCrypt algorithm (BCRYPT_SHA256_ALGORITHM ...); its size. */
ULONG hashBytes(const wchar_t* algorithm, const void* data, size_t n, unsigned char* out,
                ULONG size);

/* A server's certificate with its private key, for Schannel: the leaf of a PEM chain (the
 * rest in the leaf's store, which Schannel sends along), which names its key in the user's
 * key storage provider. */
typedef struct ServerCertificate {
    PCCERT_CONTEXT leaf;
} ServerCertificate;

int serverCertificateLoad(const wchar_t* cert, const wchar_t* key, const char* password,
                          ServerCertificate* out);
void serverCertificateFree(ServerCertificate* c);

#endif
