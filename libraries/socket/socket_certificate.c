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

#include "module_path.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char* const certificateNameFields[4] = {"CN", "O", "OU", "C"};

/* Socket.createSSLCertificate(descriptor) */
int socketCreateCertificate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    (void)self;
    if (argc < 1)
        return hostFormatError(cx, "Socket.createSSLCertificate(<certificat descriptor>)");
    HostObject* obj = hostToObject(argv[0]);
    CertificateRequest d;
    memset(&d, 0, sizeof d);
    d.keyFile = hostCharsProperty(cx, obj, "keyFile");
    d.outputFile = hostCharsProperty(cx, obj, "outputFile");
    /* The names in UTF-8, as the runtime's file functions take them: Linux opens these,
     * Windows the script's UTF-16 text, which those functions end up with too. */
    d.keyName = hostPathFromChars(d.keyFile);
    d.outputName = hostPathFromChars(d.outputFile);
    d.password = hostTextProperty(cx, obj, "password");
    for (int i = 0; i < 4; i++)
        d.names[i] = hostTextProperty(cx, obj, certificateNameFields[i]);
    d.serial = hostIntProperty(cx, obj, "serial", 0);
    d.notBefore = hostIntProperty(cx, obj, "notBefore", 0);
    d.notAfter = hostIntProperty(cx, obj, "notAfter", 31449600);
    char* pem = NULL;
    size_t length = 0;
    char error[256] = "";
    int code = CERTIFICATE_NO_KEY_FILE;
    if (d.keyName && (!d.outputFile || d.outputName)) {
        int depth = hostApi->suspendRequest(cx);
        code = certificateMake(&d, &pem, &length, error, sizeof error);
        hostApi->resumeRequest(cx, depth);
    }
    if (code == CERTIFICATE_NO_KEY_FILE || code == CERTIFICATE_NO_OUTPUT_FILE)
        hostApi->reportError(cx, "createSSLCertificate: Unable to open file '%s'",
                             code == CERTIFICATE_NO_OUTPUT_FILE ? d.outputName
                             : d.keyName                        ? d.keyName
                                                                : "undefined");
    else if (code == CERTIFICATE_NO_KEY)
        hostApi->reportError(cx, "createSSLCertificate: Unable to read the private key '%s': %s",
                             d.keyName, error);
    else if (code == CERTIFICATE_NOT_MADE)
        hostApi->reportError(cx, "createSSLCertificate: Unable to make the certificate: %s", error);
    else
        *rval = hostApi->newStringN(cx, pem, length);
    free(pem);
    free(d.keyName);
    free(d.outputName);
    return code == CERTIFICATE_MADE;
}
