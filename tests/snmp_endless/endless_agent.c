/* A hostile SNMP version 1 agent for the SNMP module's tests, on 127.0.0.1 only: every
 * GET-NEXT is answered with a next, larger identifier below the one asked for (a walk over
 * it never ends by itself), with an OCTET STRING of VALUE bytes;
 * a GET is answered with the count of GET-NEXT answers so far, as an INTEGER; a SET is
 * accepted whatever it holds.
 *
 *   snmp-endless-agent <port file> <seconds> [value bytes]
 *
 * It binds a free port, writes its number to the port file and ends after the given
 * seconds whatever happens (so that it never outlives its test for long). */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define MAX_SUBIDS 128

typedef struct {
    const unsigned char* at;
    const unsigned char* end;
} Reader;

/* The next element's tag and content; 0 when the message ends or is malformed. */
static int element(Reader* r, int* tag, Reader* content) {
    if (r->end - r->at < 2) return 0;
    *tag = r->at[0];
    size_t length = r->at[1];
    const unsigned char* p = r->at + 2;
    if (length & 0x80) {
        int n = (int)(length & 0x7f);
        if (n < 1 || n > 2 || r->end - p < n) return 0;
        length = 0;
        while (n--)
            length = length << 8 | *p++;
    }
    if ((size_t)(r->end - p) < length) return 0;
    content->at = p;
    content->end = p + length;
    r->at = p + length;
    return 1;
}

typedef struct {
    unsigned char bytes[2048];
    size_t used;
} Writer;

/* Appends one element with the content given. */
static void put(Writer* w, int tag, const void* content, size_t length) {
    unsigned char head[4];
    size_t n = 0;
    head[n++] = (unsigned char)tag;
    if (length < 0x80) {
        head[n++] = (unsigned char)length;
    } else {
        head[n++] = 0x82;
        head[n++] = (unsigned char)(length >> 8);
        head[n++] = (unsigned char)length;
    }
    memcpy(w->bytes + w->used, head, n);
    memcpy(w->bytes + w->used + n, content, length);
    w->used += n + length;
}

/* Wraps everything written from `from` on into one element of the tag. */
static void wrap(Writer* w, int tag, size_t from) {
    unsigned char content[sizeof w->bytes];
    size_t length = w->used - from;
    memcpy(content, w->bytes + from, length);
    w->used = from;
    put(w, tag, content, length);
}

static void putInteger(Writer* w, uint32_t v) {
    unsigned char b[5];
    size_t n = 0;
    b[n++] = 0;
    for (int shift = 24; shift >= 0; shift -= 8)
        b[n++] = (unsigned char)(v >> shift);
    size_t skip = 0; /* the shortest two's complement form */
    while (skip < 4 && b[skip] == 0 && !(b[skip + 1] & 0x80))
        skip++;
    put(w, 0x02, b + skip, n - skip);
}

static size_t decodeOid(Reader r, uint32_t* ids) {
    size_t n = 0;
    if (r.at < r.end) {
        ids[n++] = *r.at / 40;
        ids[n++] = *r.at++ % 40;
    }
    uint32_t v = 0;
    while (r.at < r.end && n < MAX_SUBIDS) {
        v = v << 7 | (*r.at & 0x7f);
        if (!(*r.at++ & 0x80)) ids[n++] = v, v = 0;
    }
    return n;
}

static void putOid(Writer* w, const uint32_t* ids, size_t n) {
    unsigned char b[MAX_SUBIDS * 5];
    size_t used = 0;
    b[used++] = (unsigned char)(ids[0] * 40 + ids[1]);
    for (size_t i = 2; i < n; i++) {
        unsigned char digits[5];
        int k = 0;
        uint32_t v = ids[i];
        do {
            digits[k++] = v & 0x7f;
            v >>= 7;
        } while (v);
        while (k--)
            b[used++] = digits[k] | (k ? 0x80 : 0);
    }
    put(w, 0x06, b, used);
}

/* The answer to one request, or 0 bytes for what is no SNMP version 1 request. */
static size_t answer(const unsigned char* in, size_t size, Writer* w, unsigned long* nexts,
                     size_t valueBytes) {
    Reader message = {in, in + size}, body, version, community, pdu, id, ignored, list, bind, name,
           whole;
    int tag, pduTag;
    if (!element(&message, &tag, &body) || tag != 0x30 || !element(&body, &tag, &version) ||
        !element(&body, &tag, &community) || !element(&body, &pduTag, &pdu) ||
        !element(&pdu, &tag, &id) || !element(&pdu, &tag, &ignored) ||
        !element(&pdu, &tag, &ignored) || !element(&pdu, &tag, &list) ||
        !element(&list, &tag, &bind) || !((whole = bind), element(&bind, &tag, &name)) ||
        tag != 0x06)
        return 0;
    uint32_t ids[MAX_SUBIDS + 1];
    size_t n = decodeOid(name, ids);
    if (n < 2) return 0;
    w->used = 0;
    put(w, 0x02, version.at, (size_t)(version.end - version.at));
    put(w, 0x04, community.at, (size_t)(community.end - community.at));
    size_t pduStart = w->used;
    put(w, 0x02, id.at, (size_t)(id.end - id.at));
    putInteger(w, 0);
    putInteger(w, 0);
    size_t listStart = w->used;
    if (pduTag == 0xA3) { /* SET: the variable back, taken */
        if (whole.end - whole.at > 1024) return 0;
        put(w, 0x30, whole.at, (size_t)(whole.end - whole.at));
    } else {
        size_t bindStart = w->used;
        if (pduTag == 0xA1) { /* GET-NEXT: deeper while short, then the next sibling */
            if (n < 12)
                ids[n++] = 1;
            else
                ids[n - 1]++;
            putOid(w, ids, n);
            unsigned char value[1024];
            memset(value, 'x', valueBytes);
            put(w, 0x04, value, valueBytes);
            ++*nexts;
        } else {
            putOid(w, ids, n);
            putInteger(w, (uint32_t)*nexts);
        }
        wrap(w, 0x30, bindStart);
    }
    wrap(w, 0x30, listStart);
    wrap(w, 0xA2, pduStart);
    wrap(w, 0x30, 0);
    return w->used;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: snmp-endless-agent <port file> <seconds> [value bytes]\n");
        return 2;
    }
    size_t valueBytes = argc > 3 ? (size_t)atoi(argv[3]) : 400;
    if (valueBytes > 1000) valueBytes = 1000;
    alarm((unsigned)atoi(argv[2]));
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    if (fd < 0 || bind(fd, (struct sockaddr*)&sa, sizeof sa) != 0 ||
        getsockname(fd, (struct sockaddr*)&sa, &size) != 0)
        return 1;
    FILE* f = fopen(argv[1], "w");
    if (!f) return 1;
    fprintf(f, "%d\n", ntohs(sa.sin_port));
    fclose(f);
    unsigned long nexts = 0;
    for (;;) {
        unsigned char in[4096];
        struct sockaddr_in from;
        socklen_t fromSize = sizeof from;
        ssize_t got = recvfrom(fd, in, sizeof in, 0, (struct sockaddr*)&from, &fromSize);
        if (got <= 0) continue;
        static Writer w;
        size_t n = answer(in, (size_t)got, &w, &nexts, valueBytes);
        if (n) sendto(fd, w.bytes, n, 0, (struct sockaddr*)&from, fromSize);
    }
}
