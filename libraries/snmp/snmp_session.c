/* Sessions over net-snmp's single-session interface: each Snmp object opens a session of
 * its own, and an exchange touches nothing but that session, so two objects on two script
 * threads exchange at the same time. The library's shared state (initialisation, the
 * identifier parser and its tree, request building, session opening and closing) is
 * reached only under one module-wide lock, which is never held across a suspension nor
 * while calling into the engine.
 *
 * A session counts the exchanges that run on it: a close from another script thread
 * meanwhile only marks it, and the last exchange to end closes it. One session's
 * exchanges take turns on its own mutex, outside the engine request. */
#include "snmp_module.h"

#include <pthread.h>
#include <stdlib.h>

struct Session {
    void* handle;         /* from snmp_sess_open */
    pthread_mutex_t lock; /* one exchange at a time */
    int users;            /* exchanges under way, guarded by libraryLock */
    int closing;          /* closed while in use: the last user closes it */
};

static pthread_mutex_t libraryLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_once_t libraryOnce = PTHREAD_ONCE_INIT;

static void initLibrary(void) {
    init_snmp("snmpapp");
}

void snmpLibraryInit(void) {
    pthread_mutex_lock(&libraryLock);
    pthread_once(&libraryOnce, initLibrary);
    pthread_mutex_unlock(&libraryLock);
}

Session* sessionOpen(const char* address, const char* community, long timeout) {
    Session* s = (Session*)calloc(1, sizeof(Session));
    if (!s) return NULL;
    netsnmp_session settings;
    pthread_mutex_lock(&libraryLock);
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_1;
    settings.retries = 1;
    settings.timeout = timeout;
    settings.peername = (char*)address;
    settings.community = (u_char*)community;
    settings.community_len = strlen(community);
    s->handle = snmp_sess_open(&settings); /* copies what it keeps */
    pthread_mutex_unlock(&libraryLock);
    if (!s->handle) {
        free(s);
        return NULL;
    }
    pthread_mutex_init(&s->lock, NULL);
    return s;
}

/* Under libraryLock. */
static int destroy(Session* s) {
    int closed = snmp_sess_close(s->handle);
    pthread_mutex_destroy(&s->lock);
    free(s);
    return closed;
}

int sessionClose(Session* s) {
    pthread_mutex_lock(&libraryLock);
    int closed = 1;
    if (s->users > 0)
        s->closing = 1;
    else
        closed = destroy(s);
    pthread_mutex_unlock(&libraryLock);
    return closed;
}

/* Whether a close came while the session was in use. */
int sessionClosing(Session* s) {
    pthread_mutex_lock(&libraryLock);
    int closing = s->closing;
    pthread_mutex_unlock(&libraryLock);
    return closing;
}

Session* sessionUse(Record* r) {
    pthread_mutex_lock(&libraryLock);
    Session* s = r->session;
    if (s) s->users++;
    pthread_mutex_unlock(&libraryLock);
    return s;
}

void sessionDone(Session* s, netsnmp_pdu* response) {
    pthread_mutex_lock(&libraryLock);
    if (response) snmp_free_pdu(response);
    if (--s->users == 0 && s->closing) destroy(s);
    pthread_mutex_unlock(&libraryLock);
}

void snmpFreeResponse(netsnmp_pdu* response) {
    if (!response) return;
    pthread_mutex_lock(&libraryLock);
    snmp_free_pdu(response);
    pthread_mutex_unlock(&libraryLock);
}

/* Whether every sub-identifier written in decimal (a part between dots that is all
 * digits) fits 32 bits: net-snmp's parser would wrap a larger one silently and name
 * another object. */
int snmpOidFits(const char* text) {
    while (*text) {
        const char* part = text;
        unsigned long long v = 0; /* held at 2^32 once it is larger */
        while (*text >= '0' && *text <= '9') {
            v = v * 10 + (unsigned)(*text++ - '0');
            if (v > 0xFFFFFFFFull) v = 0x100000000ull;
        }
        if (text > part && (*text == '.' || !*text) && v > 0xFFFFFFFFull) return 0;
        while (*text && *text != '.')
            text++;
        if (*text) text++;
    }
    return 1;
}

int snmpParseOid(const char* text, oid* name, size_t* length) {
    if (!snmpOidFits(text)) return 0;
    pthread_mutex_lock(&libraryLock);
    int ok = snmp_parse_oid(text, name, length) != NULL;
    pthread_mutex_unlock(&libraryLock);
    return ok;
}

/* A request for one variable: a null value, or for SET the value text converted by the
 * type letter. Null when the request cannot be made or the value does not convert. */
netsnmp_pdu* snmpRequest(int command, const oid* name, size_t length, char type,
                         const char* value) {
    pthread_mutex_lock(&libraryLock);
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    if (pdu) {
        int failed = value ? snmp_add_var(pdu, name, length, type, value) != 0
                           : snmp_add_null_var(pdu, name, length) == NULL;
        if (failed) {
            snmp_free_pdu(pdu);
            pdu = NULL;
        }
    }
    pthread_mutex_unlock(&libraryLock);
    return pdu;
}

/* Sends the request (which the library takes over) and waits for the answer, the
 * time-out and its one retry, with the calling context's request suspended. */
int sessionExchange(HostContext* cx, Session* s, netsnmp_pdu* request, netsnmp_pdu** response) {
    *response = NULL;
    int depth = hostApi->suspendRequest(cx);
    pthread_mutex_lock(&s->lock);
    int status = snmp_sess_synch_response(s->handle, request, response);
    pthread_mutex_unlock(&s->lock);
    hostApi->resumeRequest(cx, depth);
    return status;
}
