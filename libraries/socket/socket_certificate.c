/* Socket.createSSLCertificate(descriptor): a self-signed X.509 v3 server certificate over
 * an existing private key, signed with SHA-256, returned as PEM text.
 *
 * descriptor: keyFile (PEM private key), password (its pass phrase), outputFile
 * (optional: the PEM is also written there), CN, O, OU, C (the subject, also the issuer;
 * absent entries are left out), serial, notBefore and notAfter (seconds from now; 0 and
 * 364 days when absent).
 */
#include "socket.h"
#include "socket_openssl.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct Descriptor {
    char* keyFile;
    char* outputFile;
    const char* password;
    const char* names[4]; /* CN, O, OU, C */
    long serial;
    long notBefore, notAfter;
} Descriptor;

static const char* const nameFields[4] = {"CN", "O", "OU", "C"};

enum { MADE, NO_KEY_FILE, NO_KEY, NO_OUTPUT_FILE, NO_CERTIFICATE };

static void putUtf8(char** p, unsigned c) {
    unsigned char* o = (unsigned char*)*p;
    if (c < 0x80) {
        *o++ = (unsigned char)c;
    } else if (c < 0x800) {
        *o++ = (unsigned char)(0xC0 | c >> 6);
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *o++ = (unsigned char)(0xE0 | c >> 12);
        *o++ = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    } else {
        *o++ = (unsigned char)(0xF0 | c >> 18);
        *o++ = (unsigned char)(0x80 | (c >> 12 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    }
    *p = (char*)o;
}

/* obj[name] as a file name: its UTF-16 text in UTF-8, the way the runtime names files
 * (U+DC80 to U+DCFF stand for the undecodable bytes 0x80 to 0xFF). Null when undefined. */
static char* pathProperty(HostContext* cx, HostObject* obj, const char* name) {
    const HostChar* s = obj ? api->propertyAsChars(cx, obj, name, NULL) : NULL;
    if (!s) return NULL;
    size_t n = 0;
    while (s[n])
        n++;
    char* out = (char*)malloc(n * 3 + 1);
    char* p = out;
    for (size_t i = 0; out && i < n; i++) {
        unsigned c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            putUtf8(&p, 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00));
        else if (c >= 0xDC80 && c < 0xDD00)
            *p++ = (char)(c - 0xDC00);
        else
            putUtf8(&p, c);
    }
    if (p) *p = 0;
    return out;
}

static int addExtension(X509* x, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, x, x, NULL, NULL, 0);
    X509_EXTENSION* e = X509V3_EXT_conf_nid(NULL, &ctx, nid, value);
    int ok = e && X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
    return ok;
}

/* The certificate's name and extensions: subject = issuer; the common name also as the
 * subject alternative name, which is where browsers look for the host. */
static int describe(X509* x, const Descriptor* d) {
    X509_NAME* name = X509_get_subject_name(x);
    for (int i = 0; i < 4; i++)
        if (d->names[i] && *d->names[i] &&
            !X509_NAME_add_entry_by_txt(name, nameFields[i], MBSTRING_ASC,
                                        (const unsigned char*)d->names[i], -1, -1, 0))
            return 0;
    if (!X509_set_issuer_name(x, name)) return 0;
    if (!addExtension(x, NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(x, NID_subject_key_identifier, "hash") ||
        !addExtension(x, NID_ext_key_usage, "serverAuth"))
        return 0;
    const char* cn = d->names[0];
    if (cn && *cn && strlen(cn) < 256) {
        char alt[272];
        struct in_addr literal;
        snprintf(alt, sizeof alt, "%s:%s", inet_pton(AF_INET, cn, &literal) == 1 ? "IP" : "DNS",
                 cn);
        addExtension(x, NID_subject_alt_name, alt); /* a name that is no host name: left out */
        ERR_clear_error();
    }
    return 1;
}

/* Signs with SHA-256; keys that choose their own digest (Ed25519, Ed448) with none. */
static int sign(X509* x, EVP_PKEY* key) {
    const EVP_MD* md =
        EVP_PKEY_is_a(key, "ED25519") || EVP_PKEY_is_a(key, "ED448") ? NULL : EVP_sha256();
    return X509_sign(x, key, md) > 0;
}

/* Hands OpenSSL the descriptor's pass phrase; without one an encrypted key fails to load
 * (rather than asking on the terminal). */
static int passPhrase(char* buffer, int size, int writing, void* data) {
    (void)writing;
    const char* password = (const char*)data;
    int n = password ? (int)strlen(password) : 0;
    if (n > size) n = size;
    if (n) memcpy(buffer, password, (size_t)n);
    return n;
}

/* Makes the certificate and its PEM text (malloc'd) without touching the engine. */
static int makeCertificate(const Descriptor* d, char** pem, size_t* length) {
    FILE* f = fopen(d->keyFile, "r");
    if (!f) return NO_KEY_FILE;
    if (!opensslStart(NULL, 0)) {
        fclose(f);
        return NO_CERTIFICATE;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(f, NULL, passPhrase, (void*)d->password);
    fclose(f);
    if (!key) return NO_KEY;
    X509* x = X509_new();
    BIO* mem = BIO_new(BIO_s_mem());
    int code = NO_CERTIFICATE;
    if (x && mem && X509_set_version(x, X509_VERSION_3) &&
        ASN1_INTEGER_set(X509_get_serialNumber(x), d->serial) &&
        X509_gmtime_adj(X509_getm_notBefore(x), d->notBefore) &&
        X509_gmtime_adj(X509_getm_notAfter(x), d->notAfter) && X509_set_pubkey(x, key) &&
        describe(x, d) && sign(x, key) && PEM_write_bio_X509(mem, x)) {
        char* data;
        long n = BIO_get_mem_data(mem, &data);
        if (n > 0 && (*pem = (char*)malloc((size_t)n))) {
            memcpy(*pem, data, (size_t)n);
            *length = (size_t)n;
            code = MADE;
        }
    }
    if (code == MADE && d->outputFile) {
        FILE* out = fopen(d->outputFile, "w");
        if (!out || !PEM_write_X509(out, x)) code = NO_OUTPUT_FILE;
        if (out && fclose(out) != 0) code = NO_OUTPUT_FILE;
        ERR_clear_error();
    }
    BIO_free(mem);
    X509_free(x);
    EVP_PKEY_free(key);
    return code;
}

static double numberField(HostContext* cx, HostObject* obj, const char* name, double def) {
    return obj ? api->propertyAsNumber(cx, obj, name, def) : def;
}

/* Socket.createSSLCertificate(descriptor) */
int socketCreateCertificate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    (void)self;
    if (argc < 1) return formatError(cx, "Socket.createSSLCertificate(<certificat descriptor>)");
    HostObject* obj = hostToObject(argv[0]);
    Descriptor d;
    memset(&d, 0, sizeof d);
    d.keyFile = pathProperty(cx, obj, "keyFile");
    d.outputFile = pathProperty(cx, obj, "outputFile");
    d.password = textProperty(cx, obj, "password");
    for (int i = 0; i < 4; i++)
        d.names[i] = textProperty(cx, obj, nameFields[i]);
    d.serial = toInteger(numberField(cx, obj, "serial", 0));
    d.notBefore = toInteger(numberField(cx, obj, "notBefore", 0));
    d.notAfter = toInteger(numberField(cx, obj, "notAfter", 31449600));
    char* pem = NULL;
    size_t length = 0;
    int code = NO_KEY_FILE;
    if (d.keyFile) {
        int depth = api->suspendRequest(cx);
        code = makeCertificate(&d, &pem, &length);
        api->resumeRequest(cx, depth);
    }
    char error[256];
    if (code == NO_KEY_FILE || code == NO_OUTPUT_FILE)
        api->reportError(cx, "createSSLCertificate: Unable to open file '%s'",
                         code == NO_KEY_FILE ? (d.keyFile ? d.keyFile : "undefined")
                                             : d.outputFile);
    else if (code == NO_KEY)
        api->reportError(cx, "createSSLCertificate: Unable to read the private key '%s': %s",
                         d.keyFile, tlsErrorText(error, sizeof error));
    else if (code == NO_CERTIFICATE)
        api->reportError(cx, "createSSLCertificate: Unable to make the certificate: %s",
                         tlsErrorText(error, sizeof error));
    else
        *rval = api->newStringN(cx, pem, length);
    free(pem);
    free(d.keyFile);
    free(d.outputFile);
    return code == MADE;
}
