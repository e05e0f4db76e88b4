/* Private keys from PEM files for the system's crypto (BCrypt and the key storage provider),
 * and a server's certificate chain with its key for Schannel.
 *
 * Key forms: PKCS#8 ("PRIVATE KEY"), encrypted PKCS#8 ("ENCRYPTED PRIVATE KEY": PBES2 with
 * PBKDF2 and AES or triple DES, as OpenSSL writes it), and the traditional "RSA PRIVATE
 * KEY" and "EC PRIVATE KEY", also encrypted (a DEK-Info header). RSA and the NIST curves
 * P-256, P-384 and P-521; other keys (Ed25519 ...) the system cannot use.
 */
#include "socket_win.h"

#include <ncrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const unsigned char oidRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
static const unsigned char oidEc[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
static const unsigned char oidPbes2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
static const unsigned char oidPbkdf2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};
static const unsigned char oidHmacPrefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02};
static const unsigned char oidAesPrefix[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01};
static const unsigned char oidDes3[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};

static const struct Curve {
    unsigned char oid[8];
    unsigned char oidSize;
    ULONG size; /* bytes of a coordinate */
    ULONG magic;
    const wchar_t* algorithm;
} curves[] = {
    {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07},
     8,
     32,
     BCRYPT_ECDSA_PRIVATE_P256_MAGIC,
     BCRYPT_ECDSA_P256_ALGORITHM},
    {{0x2B, 0x81, 0x04, 0x00, 0x22},
     5,
     48,
     BCRYPT_ECDSA_PRIVATE_P384_MAGIC,
     BCRYPT_ECDSA_P384_ALGORITHM},
    {{0x2B, 0x81, 0x04, 0x00, 0x23},
     5,
     66,
     BCRYPT_ECDSA_PRIVATE_P521_MAGIC,
     BCRYPT_ECDSA_P521_ALGORITHM},
};

ULONG hashBytes(const wchar_t* algorithm, const void* data, size_t n, unsigned char* out,
                ULONG size) {
    BCRYPT_ALG_HANDLE alg;
    BCRYPT_HASH_HANDLE hash = NULL;
    ULONG length = 0, got;
    if (BCryptOpenAlgorithmProvider(&alg, algorithm, NULL, 0) != 0) return 0;
    if (BCryptGetProperty(alg, BCRYPT_HASH_LENGTH, (PUCHAR)&length, sizeof length, &got, 0) != 0 ||
        length > size || BCryptCreateHash(alg, &hash, NULL, 0, NULL, 0, 0) != 0 ||
        BCryptHashData(hash, (PUCHAR)data, (ULONG)n, 0) != 0 ||
        BCryptFinishHash(hash, out, length, 0) != 0)
        length = 0;
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(alg, 0);
    return length;
}

/* Decrypts data in place with a CBC cipher (AES of the key's size, or triple DES); the
 * plain length, 0 when the key is wrong (the padding does not check). */
static ULONG decryptCbc(const wchar_t* cipher, const unsigned char* key, ULONG keySize,
                        const unsigned char* iv, ULONG ivSize, unsigned char* data, ULONG n) {
    BCRYPT_ALG_HANDLE alg;
    BCRYPT_KEY_HANDLE handle = NULL;
    ULONG plain = 0;
    unsigned char chain[16];
    if (ivSize > sizeof chain || BCryptOpenAlgorithmProvider(&alg, cipher, NULL, 0) != 0) return 0;
    memcpy(chain, iv, ivSize);
    if (BCryptSetProperty(alg, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_CBC,
                          sizeof BCRYPT_CHAIN_MODE_CBC, 0) != 0 ||
        BCryptGenerateSymmetricKey(alg, &handle, NULL, 0, (PUCHAR)key, keySize, 0) != 0 ||
        BCryptDecrypt(handle, data, n, NULL, chain, ivSize, data, n, &plain,
                      BCRYPT_BLOCK_PADDING) != 0)
        plain = 0;
    if (handle) BCryptDestroyKey(handle);
    BCryptCloseAlgorithmProvider(alg, 0);
    return plain;
}

/* A cipher by its PBES2 identifier: AES-128/192/256-CBC or DES-EDE3-CBC; its key size. */
static const wchar_t* cipherOf(Der oid, ULONG* keySize) {
    if (oid.n == sizeof oidAesPrefix + 1 && memcmp(oid.p, oidAesPrefix, sizeof oidAesPrefix) == 0) {
        unsigned last = oid.p[sizeof oidAesPrefix];
        *keySize = last == 2 ? 16 : last == 22 ? 24 : last == 42 ? 32 : 0;
        return *keySize ? BCRYPT_AES_ALGORITHM : NULL;
    }
    *keySize = 24;
    return derIs(oid, oidDes3, sizeof oidDes3) ? BCRYPT_3DES_ALGORITHM : NULL;
}

/* The HMAC of PBKDF2 by its identifier (hmacWithSHA1 when absent). */
static const wchar_t* prfOf(Der params) {
    Der algorithm, oid;
    if (!derNext(&params, DER_SEQUENCE, &algorithm)) return BCRYPT_SHA1_ALGORITHM;
    if (!derNext(&algorithm, DER_OID, &oid) || oid.n != sizeof oidHmacPrefix + 1 ||
        memcmp(oid.p, oidHmacPrefix, sizeof oidHmacPrefix) != 0)
        return NULL;
    switch (oid.p[sizeof oidHmacPrefix]) {
    case 7:
        return BCRYPT_SHA1_ALGORITHM;
    case 9:
        return BCRYPT_SHA256_ALGORITHM;
    case 10:
        return BCRYPT_SHA384_ALGORITHM;
    case 11:
        return BCRYPT_SHA512_ALGORITHM;
    default:
        return NULL;
    }
}

/* An EncryptedPrivateKeyInfo (PBES2) decrypted in place into its PrivateKeyInfo. */
static int decryptPkcs8(Der all, const char* password, Der* plain) {
    Der info, algorithm, oid, params, kdf, kdfOid, kdfParams, salt, count, scheme, schemeOid, iv,
        data;
    if (!derNext(&all, DER_SEQUENCE, &info) || !derNext(&info, DER_SEQUENCE, &algorithm) ||
        !derNext(&algorithm, DER_OID, &oid) || !derIs(oid, oidPbes2, sizeof oidPbes2) ||
        !derNext(&algorithm, DER_SEQUENCE, &params) || !derNext(&params, DER_SEQUENCE, &kdf) ||
        !derNext(&kdf, DER_OID, &kdfOid) || !derIs(kdfOid, oidPbkdf2, sizeof oidPbkdf2) ||
        !derNext(&kdf, DER_SEQUENCE, &kdfParams) || !derNext(&kdfParams, DER_OCTET_STRING, &salt) ||
        !derNext(&kdfParams, DER_INTEGER, &count) || count.n > 4 ||
        !derNext(&params, DER_SEQUENCE, &scheme) || !derNext(&scheme, DER_OID, &schemeOid) ||
        !derNext(&scheme, DER_OCTET_STRING, &iv) || !derNext(&info, DER_OCTET_STRING, &data))
        return 0;
    Der keyLength;
    if (derPeek(&kdfParams) == DER_INTEGER) derNext(&kdfParams, DER_INTEGER, &keyLength);
    ULONG iterations = 0, keySize;
    for (size_t i = 0; i < count.n; i++)
        iterations = iterations << 8 | count.p[i];
    const wchar_t* cipher = cipherOf(schemeOid, &keySize);
    const wchar_t* prf = prfOf(kdfParams);
    if (!cipher || !prf || !password) return 0;
    BCRYPT_ALG_HANDLE hmac;
    unsigned char key[32];
    if (BCryptOpenAlgorithmProvider(&hmac, prf, NULL, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) return 0;
    NTSTATUS status =
        BCryptDeriveKeyPBKDF2(hmac, (PUCHAR)password, (ULONG)strlen(password), (PUCHAR)salt.p,
                              (ULONG)salt.n, iterations, key, keySize, 0);
    BCryptCloseAlgorithmProvider(hmac, 0);
    if (status != 0) return 0;
    unsigned char* bytes = (unsigned char*)data.p; /* the block is ours to change */
    plain->p = bytes;
    plain->n = decryptCbc(cipher, key, keySize, iv.p, (ULONG)iv.n, bytes, (ULONG)data.n);
    SecureZeroMemory(key, sizeof key);
    return plain->n > 0;
}

static int hexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

/* A traditional key with "Proc-Type: 4,ENCRYPTED" and "DEK-Info: <cipher>,<iv>" decrypted in
 * place: the key is OpenSSL's EVP_BytesToKey, MD5 over the pass phrase and the first eight
 * bytes of the IV, once. */
static int decryptTraditional(PemBlock* block, const char* password) {
    static const struct {
        const char* name;
        const wchar_t* cipher;
        ULONG keySize, ivSize;
    } ciphers[] = {{"AES-128-CBC,", BCRYPT_AES_ALGORITHM, 16, 16},
                   {"AES-192-CBC,", BCRYPT_AES_ALGORITHM, 24, 16},
                   {"AES-256-CBC,", BCRYPT_AES_ALGORITHM, 32, 16},
                   {"DES-EDE3-CBC,", BCRYPT_3DES_ALGORITHM, 24, 8}};
    const char* info = strstr(block->headers, "DEK-Info: ");
    if (!info || !password) return 0;
    info += 10;
    for (size_t c = 0; c < sizeof ciphers / sizeof ciphers[0]; c++) {
        size_t nameLength = strlen(ciphers[c].name);
        if (strncmp(info, ciphers[c].name, nameLength) != 0) continue;
        unsigned char iv[16], key[48], round[16 + 256 + 8];
        for (ULONG i = 0; i < ciphers[c].ivSize; i++) {
            int high = hexDigit(info[nameLength + 2 * i]),
                low = hexDigit(info[nameLength + 2 * i + 1]);
            if (high < 0 || low < 0) return 0;
            iv[i] = (unsigned char)(high << 4 | low);
        }
        size_t passwordLength = strlen(password);
        if (passwordLength > 256) return 0;
        ULONG made = 0, last = 0;
        while (made < ciphers[c].keySize) {
            memcpy(round, key + made - last, last);
            memcpy(round + last, password, passwordLength);
            memcpy(round + last + passwordLength, iv, 8);
            last =
                hashBytes(BCRYPT_MD5_ALGORITHM, round, last + passwordLength + 8, key + made, 16);
            if (last != 16) return 0;
            made += last;
        }
        block->size = decryptCbc(ciphers[c].cipher, key, ciphers[c].keySize, iv, ciphers[c].ivSize,
                                 block->der, (ULONG)block->size);
        SecureZeroMemory(key, sizeof key);
        return block->size > 0;
    }
    return 0;
}

/* The big-endian bytes of an INTEGER without the sign byte. */
static int unsignedInteger(Der* in, Der* value) {
    if (!derNext(in, DER_INTEGER, value) || value->n == 0 || value->p[0] & 0x80) return 0;
    while (value->n > 1 && value->p[0] == 0)
        value->p++, value->n--;
    return 1;
}

/* The SubjectPublicKeyInfo of the key: algorithm, parameters and the public key bits. */
static int keepPublicKey(PrivateKey* key, const unsigned char* oid, size_t oidSize, Der curve,
                         const unsigned char* bits, size_t n) {
    DerOut out = {0};
    size_t info = derOpen(&out, DER_SEQUENCE), algorithm = derOpen(&out, DER_SEQUENCE);
    derPut(&out, DER_OID, oid, oidSize);
    if (curve.n)
        derPut(&out, DER_OID, curve.p, curve.n);
    else
        derPut(&out, DER_NULL, NULL, 0);
    derClose(&out, algorithm);
    size_t bitString = derOpen(&out, DER_BIT_STRING);
    derBytes(&out, "", 1);
    derBytes(&out, bits, n);
    derClose(&out, bitString);
    derClose(&out, info);
    if (out.failed) {
        free(out.p);
        return 0;
    }
    key->spki = out.p;
    key->spkiSize = out.n;
    key->publicKey = out.p + out.n - n;
    key->publicKeySize = n;
    return 1;
}

/* An RSAPrivateKey (PKCS#1) as a BCRYPT_RSAPRIVATE_BLOB. */
static int rsaKey(Der all, PrivateKey* key) {
    Der seq, version, n, e, d, p, q;
    if (!derNext(&all, DER_SEQUENCE, &seq) || !derNext(&seq, DER_INTEGER, &version) ||
        !unsignedInteger(&seq, &n) || !unsignedInteger(&seq, &e) || !unsignedInteger(&seq, &d) ||
        !unsignedInteger(&seq, &p) || !unsignedInteger(&seq, &q))
        return 0;
    ULONG bits = (ULONG)n.n * 8;
    for (unsigned top = n.p[0]; bits && !(top & 0x80); top <<= 1)
        bits--;
    BCRYPT_RSAKEY_BLOB header = {
        BCRYPT_RSAPRIVATE_MAGIC, bits, (ULONG)e.n, (ULONG)n.n, (ULONG)p.n, (ULONG)q.n};
    key->blobSize = (ULONG)(sizeof header + e.n + n.n + p.n + q.n);
    unsigned char* o = key->blob = (unsigned char*)malloc(key->blobSize);
    if (!o) return 0;
    memcpy(o, &header, sizeof header), o += sizeof header;
    memcpy(o, e.p, e.n), o += e.n;
    memcpy(o, n.p, n.n), o += n.n;
    memcpy(o, p.p, p.n), o += p.n;
    memcpy(o, q.p, q.n);
    key->algorithm = BCRYPT_RSA_ALGORITHM;
    key->blobType = BCRYPT_RSAPRIVATE_BLOB;
    DerOut pub = {0};
    size_t open = derOpen(&pub, DER_SEQUENCE);
    derUnsigned(&pub, n.p, n.n);
    derUnsigned(&pub, e.p, e.n);
    derClose(&pub, open);
    Der none = {NULL, 0};
    int ok = !pub.failed && keepPublicKey(key, oidRsa, sizeof oidRsa, none, pub.p, pub.n);
    free(pub.p);
    return ok;
}

/* An ECPrivateKey (SEC 1) on the curve named here or inside it, as a BCRYPT_ECCPRIVATE_BLOB;
 * it must carry its public point, as OpenSSL writes it. */
static int ecKey(Der all, Der curveOid, PrivateKey* key) {
    Der seq, version, d, tagged, point = {NULL, 0};
    if (!derNext(&all, DER_SEQUENCE, &seq) || !derNext(&seq, DER_INTEGER, &version) ||
        !derNext(&seq, DER_OCTET_STRING, &d))
        return 0;
    if (derPeek(&seq) == 0xA0 && derNext(&seq, 0xA0, &tagged)) derNext(&tagged, DER_OID, &curveOid);
    if (derPeek(&seq) == 0xA1 && derNext(&seq, 0xA1, &tagged) &&
        (!derNext(&tagged, DER_BIT_STRING, &point) || point.n < 2))
        return 0;
    const struct Curve* curve = NULL;
    for (size_t i = 0; i < sizeof curves / sizeof curves[0]; i++)
        if (derIs(curveOid, curves[i].oid, curves[i].oidSize)) curve = &curves[i];
    /* The point: an unused-bits byte, then 04 X Y. */
    if (!curve || point.n != 2 + 2 * curve->size || point.p[1] != 4 || d.n > curve->size) return 0;
    BCRYPT_ECCKEY_BLOB header = {curve->magic, curve->size};
    key->blobSize = (ULONG)(sizeof header + 3 * curve->size);
    unsigned char* o = key->blob = (unsigned char*)calloc(1, key->blobSize);
    if (!o) return 0;
    memcpy(o, &header, sizeof header);
    memcpy(o + sizeof header, point.p + 2, 2 * curve->size);
    memcpy(o + sizeof header + 3 * curve->size - d.n, d.p, d.n);
    key->algorithm = curve->algorithm;
    key->blobType = BCRYPT_ECCPRIVATE_BLOB;
    key->ec = 1;
    return keepPublicKey(key, oidEc, sizeof oidEc, curveOid, point.p + 1, point.n - 1);
}

/* A PrivateKeyInfo (PKCS#8) of an RSA or EC key. */
static int pkcs8Key(Der all, PrivateKey* key) {
    Der info, version, algorithm, oid, params = {NULL, 0}, inner;
    if (!derNext(&all, DER_SEQUENCE, &info) || !derNext(&info, DER_INTEGER, &version) ||
        !derNext(&info, DER_SEQUENCE, &algorithm) || !derNext(&algorithm, DER_OID, &oid) ||
        !derNext(&info, DER_OCTET_STRING, &inner))
        return 0;
    if (derIs(oid, oidRsa, sizeof oidRsa)) return rsaKey(inner, key);
    if (!derIs(oid, oidEc, sizeof oidEc) || !derNext(&algorithm, DER_OID, &params)) return 0;
    return ecKey(inner, params, key);
}

int keyRead(const wchar_t* path, const char* password, PrivateKey* key) {
    memset(key, 0, sizeof *key);
    char* text = readWholeFile(path, NULL);
    if (!text) return KEY_NO_FILE;
    const char* at = text;
    PemBlock block;
    int read = 0;
    Der none = {NULL, 0};
    while (!read && pemNext(&at, &block)) {
        Der der = {block.der, block.size}, plain;
        int encrypted = strstr(block.headers, "ENCRYPTED") != NULL;
        if (!strcmp(block.label, "PRIVATE KEY"))
            read = pkcs8Key(der, key) ? 1 : -1;
        else if (!strcmp(block.label, "ENCRYPTED PRIVATE KEY"))
            read = decryptPkcs8(der, password, &plain) && pkcs8Key(plain, key) ? 1 : -1;
        else if (!strcmp(block.label, "RSA PRIVATE KEY") ||
                 !strcmp(block.label, "EC PRIVATE KEY")) {
            int ok = !encrypted || decryptTraditional(&block, password);
            der.n = block.size;
            read =
                ok && (block.label[0] == 'R' ? rsaKey(der, key) : ecKey(der, none, key)) ? 1 : -1;
        }
        SecureZeroMemory(block.der, block.size);
        free(block.der);
    }
    free(text);
    if (read == 1) return KEY_LOADED;
    keyFree(key);
    return KEY_NOT_READ;
}

void keyFree(PrivateKey* key) {
    if (key->blob) SecureZeroMemory(key->blob, key->blobSize);
    free(key->blob);
    free(key->spki);
    memset(key, 0, sizeof *key);
}

/* ---- A server's certificate ---- */

/* Puts the key into the user's key storage provider, where Schannel finds it through the
 * certificate (it takes no key that lives only in this process). Its name comes from its
 * public key, so a key file that is used again, in this process or the next, finds its
 * copy there rather than adding one. The name in name; 0 when the system refuses the key. */
static int storeKey(const PrivateKey* key, wchar_t* name, size_t size) {
    unsigned char hash[32];
    if (hashBytes(BCRYPT_SHA256_ALGORITHM, key->spki, key->spkiSize, hash, sizeof hash) != 32)
        return 0;
    int n = _snwprintf(name, size, L"Capsule TLS ");
    for (int i = 0; i < 16 && n + 3 < (int)size; i++)
        n += _snwprintf(name + n, size - (size_t)n, L"%02x", hash[i]);
    NCRYPT_PROV_HANDLE provider;
    NCRYPT_KEY_HANDLE handle = 0;
    if (NCryptOpenStorageProvider(&provider, MS_KEY_STORAGE_PROVIDER, 0) != 0) return 0;
    NCryptBuffer parameter = {(ULONG)((wcslen(name) + 1) * sizeof(wchar_t)),
                              NCRYPTBUFFER_PKCS_KEY_NAME, name};
    NCryptBufferDesc parameters = {NCRYPTBUFFER_VERSION, 1, &parameter};
    if (NCryptOpenKey(provider, &handle, name, 0, 0) != 0 &&
        NCryptImportKey(provider, 0, key->blobType, &parameters, &handle, key->blob, key->blobSize,
                        0) != 0)
        handle = 0;
    if (handle) NCryptFreeObject(handle);
    NCryptFreeObject(provider);
    return handle != 0;
}

/* The certificates of a PEM file into a store of their own; the first one, the leaf. */
static PCCERT_CONTEXT loadChain(const wchar_t* path) {
    char* text = readWholeFile(path, NULL);
    if (!text) return NULL;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, NULL);
    PCCERT_CONTEXT leaf = NULL;
    const char* at = text;
    PemBlock block;
    while (store && pemNext(&at, &block)) {
        PCCERT_CONTEXT added = NULL;
        if (!strcmp(block.label, "CERTIFICATE") &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, block.der, (DWORD)block.size,
                                             CERT_STORE_ADD_ALWAYS, leaf ? NULL : &added))
            if (!leaf) leaf = added;
        free(block.der);
    }
    if (store) CertCloseStore(store, 0); /* the leaf keeps the store */
    free(text);
    return leaf;
}

int serverCertificateLoad(const wchar_t* cert, const wchar_t* keyPath, const char* password,
                          ServerCertificate* out) {
    memset(out, 0, sizeof *out);
    PrivateKey key;
    if (keyRead(keyPath, password, &key) != KEY_LOADED) return 0;
    out->leaf = loadChain(cert);
    const CRYPT_BIT_BLOB* pub =
        out->leaf ? &out->leaf->pCertInfo->SubjectPublicKeyInfo.PublicKey : NULL;
    wchar_t name[64];
    int ok = pub && pub->cbData == key.publicKeySize &&
             memcmp(pub->pbData, key.publicKey, key.publicKeySize) == 0 &&
             storeKey(&key, name, sizeof name / sizeof name[0]);
    if (ok) {
        CRYPT_KEY_PROV_INFO info = {name, (LPWSTR)MS_KEY_STORAGE_PROVIDER, 0, 0, 0, NULL, 0};
        ok = CertSetCertificateContextProperty(out->leaf, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    }
    keyFree(&key);
    if (!ok) serverCertificateFree(out);
    return ok;
}

void serverCertificateFree(ServerCertificate* c) {
    if (c->leaf) CertFreeCertificateContext(c->leaf);
    c->leaf = NULL;
}
