/* DER and PEM for the Windows TLS files: reading the elements of keys and certificates,
 * writing certificates, PEM blocks in both directions, and a certificate's subject in the
 * one-line form that the Linux build publishes.
 */
#include "socket_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int derNext(Der* in, unsigned tag, Der* content) {
    if (in->n < 2 || in->p[0] != tag) return 0;
    size_t length = in->p[1], at = 2;
    if (length & 0x80) {
        size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > sizeof(size_t) || in->n < 2 + bytes) return 0;
        length = 0;
        for (size_t i = 0; i < bytes; i++)
            length = length << 8 | in->p[2 + i];
        at += bytes;
    }
    if (length > in->n - at) return 0;
    content->p = in->p + at;
    content->n = length;
    in->p += at + length;
    in->n -= at + length;
    return 1;
}

int derPeek(const Der* in) {
    return in->n ? in->p[0] : -1;
}

int derIs(Der content, const void* bytes, size_t n) {
    return content.n == n && memcmp(content.p, bytes, n) == 0;
}

void derBytes(DerOut* out, const void* bytes, size_t n) {
    if (out->failed) return;
    if (out->n + n > out->size) {
        size_t size = (out->n + n) * 2 + 256;
        unsigned char* p = (unsigned char*)realloc(out->p, size);
        if (!p) {
            out->failed = 1;
            return;
        }
        out->p = p;
        out->size = size;
    }
    if (n) memcpy(out->p + out->n, bytes, n);
    out->n += n;
}

/* The tag and a length byte to be mended; where the content starts. */
size_t derOpen(DerOut* out, unsigned tag) {
    unsigned char head[2] = {(unsigned char)tag, 0};
    derBytes(out, head, 2);
    return out->n;
}

/* A length of 128 or more takes more bytes: the content moves up to make room. */
void derClose(DerOut* out, size_t open) {
    if (out->failed) return;
    size_t length = out->n - open;
    unsigned char extra[sizeof(size_t) + 1] = {0};
    size_t bytes = 0;
    for (size_t l = length; length >= 0x80 && l; l >>= 8)
        bytes++;
    if (bytes == 0) {
        out->p[open - 1] = (unsigned char)length;
        return;
    }
    derBytes(out, extra, bytes);
    if (out->failed) return;
    memmove(out->p + open + bytes, out->p + open, length);
    out->p[open - 1] = (unsigned char)(0x80 | bytes);
    for (size_t i = 0; i < bytes; i++)
        out->p[open + i] = (unsigned char)(length >> (8 * (bytes - 1 - i)));
}

void derPut(DerOut* out, unsigned tag, const void* content, size_t n) {
    size_t open = derOpen(out, tag);
    derBytes(out, content, n);
    derClose(out, open);
}

void derUnsigned(DerOut* out, const unsigned char* bytes, size_t n) {
    while (n > 1 && bytes[0] == 0) {
        bytes++;
        n--;
    }
    size_t open = derOpen(out, DER_INTEGER);
    if (n == 0 || bytes[0] & 0x80) derBytes(out, "", 1);
    derBytes(out, bytes, n);
    derClose(out, open);
}

/* ---- PEM ---- */

int pemNext(const char** at, PemBlock* block) {
    memset(block, 0, sizeof *block);
    for (;;) {
        const char* begin = strstr(*at, "-----BEGIN ");
        if (!begin) return 0;
        const char* labelEnd = strstr(begin + 11, "-----");
        const char* lineEnd = labelEnd ? strchr(labelEnd, '\n') : NULL;
        size_t labelLength = labelEnd ? (size_t)(labelEnd - begin - 11) : 0;
        if (!lineEnd || labelLength >= sizeof block->label) return 0;
        memcpy(block->label, begin + 11, labelLength);
        char end[96];
        snprintf(end, sizeof end, "-----END %s-----", block->label);
        const char* data = lineEnd + 1;
        const char* stop = strstr(data, end);
        if (!stop) return 0;
        *at = stop + strlen(end);
        /* Headers ("Proc-Type: ...") end at the first empty line. */
        const char* blank = strstr(data, "\n\n");
        const char* blankCr = strstr(data, "\r\n\r\n");
        if (blankCr && (!blank || blankCr < blank)) blank = blankCr + 1;
        const char* colon = memchr(data, ':', (size_t)(stop - data));
        if (colon && blank && blank < stop && colon < blank) {
            size_t n = (size_t)(blank - data);
            if (n >= sizeof block->headers) n = sizeof block->headers - 1;
            memcpy(block->headers, data, n);
            data = blank + 1;
        }
        DWORD size = 0, length = (DWORD)(stop - data);
        if (!CryptStringToBinaryA(data, length, CRYPT_STRING_BASE64, NULL, &size, NULL, NULL))
            continue; /* not base64: the next block */
        block->der = (unsigned char*)malloc(size ? size : 1);
        if (!block->der) return 0;
        if (!CryptStringToBinaryA(data, length, CRYPT_STRING_BASE64, block->der, &size, NULL,
                                  NULL)) {
            free(block->der);
            block->der = NULL;
            continue;
        }
        block->size = size;
        return 1;
    }
}

char* pemText(const char* label, const unsigned char* der, size_t n, size_t* length) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t chars = (n + 2) / 3 * 4;
    char* text = (char*)malloc(2 * strlen(label) + 40 + chars + chars / 64 + 1);
    if (!text) return NULL;
    char* o = text + sprintf(text, "-----BEGIN %s-----\n", label);
    for (size_t i = 0, column = 0; i < n; i += 3) {
        unsigned v = (unsigned)der[i] << 16 | (i + 1 < n ? der[i + 1] << 8 : 0) |
                     (i + 2 < n ? der[i + 2] : 0);
        *o++ = digits[v >> 18 & 63];
        *o++ = digits[v >> 12 & 63];
        *o++ = i + 1 < n ? digits[v >> 6 & 63] : '=';
        *o++ = i + 2 < n ? digits[v & 63] : '=';
        if ((column += 4) == 64 || i + 3 >= n) {
            *o++ = '\n';
            column = 0;
        }
    }
    o += sprintf(o, "-----END %s-----\n", label);
    *length = (size_t)(o - text);
    return text;
}

char* readWholeFile(const wchar_t* path, size_t* length) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return NULL;
    char* text = NULL;
    size_t n = 0, size = 0;
    for (;;) {
        if (n + 4096 + 1 > size) {
            char* more = (char*)realloc(text, size = size * 2 + 4096 + 1);
            if (!more) break;
            text = more;
        }
        size_t got = fread(text + n, 1, 4096, f);
        n += got;
        if (got < 4096) {
            fclose(f);
            text[n] = 0;
            if (length) *length = n;
            return text;
        }
    }
    fclose(f);
    free(text);
    return NULL;
}

/* ---- The subject line ---- */

static const struct {
    unsigned char oid[10];
    unsigned char size;
    const char* name;
} attributeNames[] = {
    {{0x55, 0x04, 0x03}, 3, "CN"},
    {{0x55, 0x04, 0x04}, 3, "SN"},
    {{0x55, 0x04, 0x05}, 3, "serialNumber"},
    {{0x55, 0x04, 0x06}, 3, "C"},
    {{0x55, 0x04, 0x07}, 3, "L"},
    {{0x55, 0x04, 0x08}, 3, "ST"},
    {{0x55, 0x04, 0x09}, 3, "street"},
    {{0x55, 0x04, 0x0A}, 3, "O"},
    {{0x55, 0x04, 0x0B}, 3, "OU"},
    {{0x55, 0x04, 0x0C}, 3, "title"},
    {{0x55, 0x04, 0x2A}, 3, "GN"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, 9, "emailAddress"},
    {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19}, 10, "DC"},
    {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x01}, 10, "UID"},
};

/* An OID's dotted form, for attributes without a short name. */
static void dottedOid(Der oid, char* out, size_t size) {
    size_t used = 0;
    unsigned long value = 0;
    for (size_t i = 0; i < oid.n && used + 24 < size; i++) {
        value = value << 7 | (oid.p[i] & 0x7F);
        if (oid.p[i] & 0x80) continue;
        if (used == 0)
            used += (size_t)snprintf(out, size, "%lu.%lu", value < 80 ? value / 40 : 2,
                                     value < 80 ? value % 40 : value - 80);
        else
            used += (size_t)snprintf(out + used, size - used, ".%lu", value);
        value = 0;
    }
}

/* "/name=value" with the bytes OpenSSL escapes written \xHH; of a BMP or universal string
 * whose characters are all Latin-1, the low bytes. */
static void appendAttribute(char* line, size_t* used, const char* name, int tag, Der value) {
    *used += (size_t)sprintf(line + *used, "/%s=", name);
    size_t step = tag == DER_BMP ? 2 : tag == 0x1C ? 4 : 1;
    for (size_t i = 0; step > 1 && i < value.n; i++)
        if ((i + 1) % step != 0 && value.p[i]) step = 1;
    for (size_t i = step - 1; i < value.n; i += step) {
        unsigned char c = value.p[i];
        if (c < ' ' || c > '~')
            *used += (size_t)sprintf(line + *used, "\\x%02X", c);
        else
            line[(*used)++] = (char)c;
    }
    line[*used] = 0;
}

char* subjectLine(const CERT_NAME_BLOB* name) {
    Der all = {name->pbData, name->cbData}, rdns, set, attribute, oid, value;
    char* line = (char*)malloc(name->cbData * 4 + 64);
    if (!line) return NULL;
    size_t used = 0;
    line[0] = 0;
    if (!derNext(&all, DER_SEQUENCE, &rdns)) return line;
    while (derNext(&rdns, DER_SET, &set))
        while (derNext(&set, DER_SEQUENCE, &attribute) && derNext(&attribute, DER_OID, &oid)) {
            char dotted[128] = "";
            const char* label = NULL;
            for (size_t i = 0; !label && i < sizeof attributeNames / sizeof attributeNames[0]; i++)
                if (derIs(oid, attributeNames[i].oid, attributeNames[i].size))
                    label = attributeNames[i].name;
            if (!label) dottedOid(oid, dotted, sizeof dotted), label = dotted;
            int tag = derPeek(&attribute);
            if (tag < 0 || !derNext(&attribute, (unsigned)tag, &value)) break;
            appendAttribute(line, &used, label, tag, value);
        }
    return line;
}
