/* Socket.createSSLCertificate's certificate on Windows: the X.509 v3 certificate that the Linux
 * build makes (UTF8String names with a PrintableString country, UTCTime validity, basic
 * constraints, subject key identifier, server authentication, the common name as subject
 * alternative name), written in DER here and signed with SHA-256 by the system's crypto
 * (BCrypt: RSA PKCS #1 or ECDSA), then as PEM.
 */
#include "socket.h"
#include "socket_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const unsigned char oidEcdsaSha256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
static const unsigned char oidRsaSha256[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
static const unsigned char oidBasicConstraints[] = {0x55, 0x1D, 0x13};
static const unsigned char oidKeyIdentifier[] = {0x55, 0x1D, 0x0E};
static const unsigned char oidExtendedKeyUsage[] = {0x55, 0x1D, 0x25};
static const unsigned char oidAlternativeName[] = {0x55, 0x1D, 0x11};
static const unsigned char oidServerAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};
/* CN, O, OU, C: 2.5.4.3, .10, .11, .6; at most 64 characters, the country exactly 2. */
static const unsigned char nameOids[4] = {3, 10, 11, 6};

static int printable(const char* s) {
    for (; *s; s++)
        if (!strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '()+,-./:=?",
                    *s))
            return 0;
    return 1;
}

/* The subject (also the issuer): the entries given, in order; 0 for an entry out of bounds. */
static int writeName(DerOut* out, const CertificateRequest* d) {
    size_t name = derOpen(out, DER_SEQUENCE);
    for (int i = 0; i < 4; i++) {
        const char* text = d->names[i];
        size_t n = text ? strlen(text) : 0;
        if (n == 0) continue;
        if (i == 3 ? n != 2 || !printable(text) : n > 64) return 0;
        size_t set = derOpen(out, DER_SET), attribute = derOpen(out, DER_SEQUENCE);
        unsigned char oid[3] = {0x55, 0x04, nameOids[i]};
        derPut(out, DER_OID, oid, 3);
        size_t value = derOpen(out, i == 3 ? DER_PRINTABLE : DER_UTF8);
        for (const unsigned char* c = (const unsigned char*)text; *c; c++) {
            unsigned char utf8[2] = {(unsigned char)(0xC0 | *c >> 6),
                                     (unsigned char)(0x80 | (*c & 0x3F))};
            if (*c < 0x80)
                derBytes(out, c, 1);
            else
                derBytes(out, utf8, 2);
        }
        derClose(out, value);
        derClose(out, attribute);
        derClose(out, set);
    }
    derClose(out, name);
    return 1;
}

/* Now plus the offset in seconds, as UTCTime (GeneralizedTime from 2050 on). */
static int writeTime(DerOut* out, long offset) {
    time_t t = time(NULL) + offset;
    struct tm* g = gmtime(&t);
    if (!g) return 0;
    char text[20];
    int year = g->tm_year + 1900, utc = year >= 1950 && year < 2050;
    int n = snprintf(
        text, sizeof text, utc ? "%02d%02d%02d%02d%02d%02dZ" : "%04d%02d%02d%02d%02d%02dZ",
        utc ? year % 100 : year, g->tm_mon + 1, g->tm_mday, g->tm_hour, g->tm_min, g->tm_sec);
    derPut(out, utc ? DER_UTC_TIME : DER_GENERALIZED_TIME, text, (size_t)n);
    return 1;
}

/* A signed INTEGER in its fewest bytes. */
static void writeSerial(DerOut* out, long serial) {
    unsigned char bytes[8];
    int n = 8;
    for (int i = 0; i < 8; i++)
        bytes[7 - i] = (unsigned char)((unsigned long long)(long long)serial >> (8 * i));
    int start = 0;
    while (start < n - 1 && ((bytes[start] == 0 && !(bytes[start + 1] & 0x80)) ||
                             (bytes[start] == 0xFF && bytes[start + 1] & 0x80)))
        start++;
    derPut(out, DER_INTEGER, bytes + start, (size_t)(n - start));
}

static void writeExtension(DerOut* out, const unsigned char* oid, size_t oidSize, int critical,
                           const DerOut* value) {
    size_t extension = derOpen(out, DER_SEQUENCE);
    derPut(out, DER_OID, oid, oidSize);
    if (critical) derPut(out, 0x01, "\xFF", 1);
    derPut(out, DER_OCTET_STRING, value->p, value->n);
    derClose(out, extension);
}

/* The extensions; the alternative name only for a common name that is a host name or an
 * IPv4 address. */
static void writeExtensions(DerOut* out, const CertificateRequest* d, const PrivateKey* key) {
    size_t tagged = derOpen(out, 0xA3), list = derOpen(out, DER_SEQUENCE);
    DerOut value = {0};
    derPut(&value, DER_SEQUENCE, NULL, 0); /* CA:FALSE */
    writeExtension(out, oidBasicConstraints, sizeof oidBasicConstraints, 1, &value);
    unsigned char hash[20];
    value.n = 0;
    ULONG n =
        hashBytes(BCRYPT_SHA1_ALGORITHM, key->publicKey, key->publicKeySize, hash, sizeof hash);
    derPut(&value, DER_OCTET_STRING, hash, n);
    if (n) writeExtension(out, oidKeyIdentifier, sizeof oidKeyIdentifier, 0, &value);
    value.n = 0;
    size_t usage = derOpen(&value, DER_SEQUENCE);
    derPut(&value, DER_OID, oidServerAuth, sizeof oidServerAuth);
    derClose(&value, usage);
    writeExtension(out, oidExtendedKeyUsage, sizeof oidExtendedKeyUsage, 0, &value);
    const char* cn = d->names[0];
    struct in_addr literal;
    if (cn && *cn && strlen(cn) < 256 && printable(cn)) {
        value.n = 0;
        size_t names = derOpen(&value, DER_SEQUENCE);
        if (inet_pton(AF_INET, cn, &literal) == 1)
            derPut(&value, 0x87, &literal, 4);
        else
            derPut(&value, 0x82, cn, strlen(cn));
        derClose(&value, names);
        writeExtension(out, oidAlternativeName, sizeof oidAlternativeName, 0, &value);
    }
    out->failed |= value.failed;
    free(value.p);
    derClose(out, list);
    derClose(out, tagged);
}

static void writeAlgorithm(DerOut* out, const PrivateKey* key) {
    size_t algorithm = derOpen(out, DER_SEQUENCE);
    if (key->ec) {
        derPut(out, DER_OID, oidEcdsaSha256, sizeof oidEcdsaSha256);
    } else {
        derPut(out, DER_OID, oidRsaSha256, sizeof oidRsaSha256);
        derPut(out, DER_NULL, NULL, 0);
    }
    derClose(out, algorithm);
}

/* The signature of the bytes with the key, as the certificate carries it: PKCS #1 bytes, or
 * ECDSA's r and s in a SEQUENCE. The system's status, 0 when signed. */
static NTSTATUS sign(const PrivateKey* key, const unsigned char* data, size_t n, DerOut* out) {
    unsigned char hash[32], signature[1024];
    ULONG size = 0;
    BCRYPT_ALG_HANDLE alg;
    BCRYPT_KEY_HANDLE handle = NULL;
    BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
    if (hashBytes(BCRYPT_SHA256_ALGORITHM, data, n, hash, sizeof hash) != sizeof hash)
        return (NTSTATUS)0xC0000001L; /* STATUS_UNSUCCESSFUL */
    NTSTATUS status = BCryptOpenAlgorithmProvider(&alg, key->algorithm, NULL, 0);
    if (status != 0) return status;
    status = BCryptImportKeyPair(alg, NULL, key->blobType, &handle, key->blob, key->blobSize, 0);
    if (status == 0)
        status = BCryptSignHash(handle, key->ec ? NULL : &padding, hash, sizeof hash, signature,
                                sizeof signature, &size, key->ec ? 0 : BCRYPT_PAD_PKCS1);
    if (handle) BCryptDestroyKey(handle);
    BCryptCloseAlgorithmProvider(alg, 0);
    if (status != 0) return status;
    if (!key->ec) {
        derBytes(out, signature, size);
        return 0;
    }
    size_t pair = derOpen(out, DER_SEQUENCE);
    derUnsigned(out, signature, size / 2);
    derUnsigned(out, signature + size / 2, size / 2);
    derClose(out, pair);
    return 0;
}

/* The DER certificate; the reason in error when it cannot be made. */
static int writeCertificate(DerOut* out, const CertificateRequest* d, const PrivateKey* key,
                            char* error, size_t size) {
    DerOut tbs = {0}, signature = {0};
    size_t body = derOpen(&tbs, DER_SEQUENCE);
    derPut(&tbs, 0xA0, "\x02\x01\x02", 3); /* version 3 */
    writeSerial(&tbs, d->serial);
    writeAlgorithm(&tbs, key);
    int named = writeName(&tbs, d); /* the issuer */
    size_t validity = derOpen(&tbs, DER_SEQUENCE);
    int timed = writeTime(&tbs, d->notBefore) && writeTime(&tbs, d->notAfter);
    derClose(&tbs, validity);
    named = named && writeName(&tbs, d); /* the subject */
    if (!named)
        snprintf(error, size, "a name field is too long or not printable");
    else if (!timed)
        snprintf(error, size, "the validity is out of range");
    int ok = named && timed;
    derBytes(&tbs, key->spki, key->spkiSize);
    writeExtensions(&tbs, d, key);
    derClose(&tbs, body);
    NTSTATUS status = ok && !tbs.failed ? sign(key, tbs.p, tbs.n, &signature) : 0;
    if (status != 0) {
        snprintf(error, size, "the system cannot sign with the key (0x%08lX)",
                 (unsigned long)status);
        ok = 0;
    }
    if (ok && !tbs.failed && !signature.failed) {
        size_t certificate = derOpen(out, DER_SEQUENCE);
        derBytes(out, tbs.p, tbs.n);
        writeAlgorithm(out, key);
        size_t bits = derOpen(out, DER_BIT_STRING);
        derBytes(out, "", 1);
        derBytes(out, signature.p, signature.n);
        derClose(out, bits);
        derClose(out, certificate);
    }
    if (ok && (tbs.failed || signature.failed || out->failed)) {
        snprintf(error, size, "out of memory");
        ok = 0;
    }
    free(tbs.p);
    free(signature.p);
    return ok;
}

int certificateMake(const CertificateRequest* d, char** pem, size_t* length, char* error,
                    size_t size) {
    PrivateKey key;
    int read = keyRead((const wchar_t*)d->keyFile, d->password, &key);
    if (read == KEY_NO_FILE) return CERTIFICATE_NO_KEY_FILE;
    if (read != KEY_LOADED) {
        snprintf(error, size, "no RSA or EC (P-256, P-384, P-521) key, or the wrong pass phrase");
        return CERTIFICATE_NO_KEY;
    }
    DerOut der = {0};
    int code =
        writeCertificate(&der, d, &key, error, size) ? CERTIFICATE_MADE : CERTIFICATE_NOT_MADE;
    keyFree(&key);
    if (code == CERTIFICATE_MADE && !(*pem = pemText("CERTIFICATE", der.p, der.n, length))) {
        snprintf(error, size, "out of memory");
        code = CERTIFICATE_NOT_MADE;
    }
    free(der.p);
    if (code == CERTIFICATE_MADE && d->outputFile) {
        FILE* out = _wfopen((const wchar_t*)d->outputFile, L"w");
        if (!out || fwrite(*pem, 1, *length, out) != *length) code = CERTIFICATE_NO_OUTPUT_FILE;
        if (out && fclose(out) != 0) code = CERTIFICATE_NO_OUTPUT_FILE;
    }
    return code;
}
