/* Socket.createSSLCertificate(descriptor): a self-signed X.509 v3 server certificate over
 * an existing private key, signed with SHA-256, returned as PEM text. This file reads the
 * descriptor and reports; certificateMake (socket_certificate_openssl.c, or
 * socket_certificate_win.c on Windows) makes the certificate.
 *
 * descriptor: keyFile (PEM private key), password (its pass phrase), outputFile
 * (optional: the PEM is also written there), CN, O, OU, C (the subject, also the issuer;
 * absent entries are left out), serial, notBefore and notAfter (seconds from now; 0 and
 * 364 days when absent).
 */
#include "socket.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char* const certificateNameFields[4] = {"CN", "O", "OU", "C"};

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

/* A file name in UTF-8, as messages show it and the Linux build opens it (U+DC80 to
 * U+DCFF stand for the undecodable bytes 0x80 to 0xFF). Null for null. */
static char* utf8Path(const HostChar* s) {
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

static double numberField(HostContext* cx, HostObject* obj, const char* name, double def) {
    return obj ? api->propertyAsNumber(cx, obj, name, def) : def;
}

/* Socket.createSSLCertificate(descriptor) */
int socketCreateCertificate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    (void)self;
    if (argc < 1) return formatError(cx, "Socket.createSSLCertificate(<certificat descriptor>)");
    HostObject* obj = hostToObject(argv[0]);
    CertificateRequest d;
    memset(&d, 0, sizeof d);
    d.keyFile = obj ? api->propertyAsChars(cx, obj, "keyFile", NULL) : NULL;
    d.outputFile = obj ? api->propertyAsChars(cx, obj, "outputFile", NULL) : NULL;
    d.keyName = utf8Path(d.keyFile);
    d.outputName = utf8Path(d.outputFile);
    d.password = textProperty(cx, obj, "password");
    for (int i = 0; i < 4; i++)
        d.names[i] = textProperty(cx, obj, certificateNameFields[i]);
    d.serial = toInteger(numberField(cx, obj, "serial", 0));
    d.notBefore = toInteger(numberField(cx, obj, "notBefore", 0));
    d.notAfter = toInteger(numberField(cx, obj, "notAfter", 31449600));
    char* pem = NULL;
    size_t length = 0;
    char error[256] = "";
    int code = CERTIFICATE_NO_KEY_FILE;
    if (d.keyName && (!d.outputFile || d.outputName)) {
        int depth = api->suspendRequest(cx);
        code = certificateMake(&d, &pem, &length, error, sizeof error);
        api->resumeRequest(cx, depth);
    }
    if (code == CERTIFICATE_NO_KEY_FILE || code == CERTIFICATE_NO_OUTPUT_FILE)
        api->reportError(cx, "createSSLCertificate: Unable to open file '%s'",
                         code == CERTIFICATE_NO_OUTPUT_FILE ? d.outputName
                         : d.keyName                        ? d.keyName
                                                            : "undefined");
    else if (code == CERTIFICATE_NO_KEY)
        api->reportError(cx, "createSSLCertificate: Unable to read the private key '%s': %s",
                         d.keyName, error);
    else if (code == CERTIFICATE_NOT_MADE)
        api->reportError(cx, "createSSLCertificate: Unable to make the certificate: %s", error);
    else
        *rval = api->newStringN(cx, pem, length);
    free(pem);
    free(d.keyName);
    free(d.outputName);
    return code == CERTIFICATE_MADE;
}
