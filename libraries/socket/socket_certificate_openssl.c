/* Socket.createSSLCertificate's certificate through OpenSSL: X.509 v3, signed with
 * SHA-256 (keys that choose their own digest, Ed25519 and Ed448, with none), written as PEM.
 */
#include "socket.h"
#include "socket_openssl.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
static int describe(X509* x, const CertificateRequest* d) {
    X509_NAME* name = X509_get_subject_name(x);
    for (int i = 0; i < 4; i++)
        if (d->names[i] && *d->names[i] &&
            !X509_NAME_add_entry_by_txt(name, certificateNameFields[i], MBSTRING_ASC,
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

/* The certificate and its PEM text (malloc'd); the reason in error when it fails. */
int certificateMake(const CertificateRequest* d, char** pem, size_t* length, char* error,
                    size_t size) {
    FILE* f = fopen(d->keyName, "r");
    if (!f) return CERTIFICATE_NO_KEY_FILE;
    if (!opensslStart(error, size)) {
        fclose(f);
        return CERTIFICATE_NOT_MADE;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(f, NULL, opensslPassPhrase, (void*)d->password);
    fclose(f);
    if (!key) {
        tlsErrorText(error, size);
        return CERTIFICATE_NO_KEY;
    }
    X509* x = X509_new();
    BIO* mem = BIO_new(BIO_s_mem());
    int code = CERTIFICATE_NOT_MADE;
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
            code = CERTIFICATE_MADE;
        }
    }
    if (code == CERTIFICATE_NOT_MADE) tlsErrorText(error, size);
    if (code == CERTIFICATE_MADE && d->outputName) {
        FILE* out = fopen(d->outputName, "w");
        if (!out || !PEM_write_X509(out, x)) code = CERTIFICATE_NO_OUTPUT_FILE;
        if (out && fclose(out) != 0) code = CERTIFICATE_NO_OUTPUT_FILE;
        ERR_clear_error();
    }
    BIO_free(mem);
    X509_free(x);
    EVP_PKEY_free(key);
    return code;
}
