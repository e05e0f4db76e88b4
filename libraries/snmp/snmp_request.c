/* The request functions of Snmp: getOID, getNextOID, walk and setOID. Arguments are
 * converted and the request is built inside the engine request; the exchange runs with
 * it suspended; the results are made after it resumes, from texts kept in C memory. */
#include "snmp_module.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

/* One answer to a GET or GET-NEXT: its code and, when it was read, its texts. */
typedef struct Answer {
    const char* error;
    int read;
    char oid[SNMP_OID_TEXT_SIZE];
    char value[SNMP_VALUE_SIZE];
} Answer;

static int defineEnumerable(HostContext* cx, HostObject* obj, const char* name, const char* text) {
    HostValue v = hostApi->newString(cx, text, NULL);
    return !hostIsUndefined(v) &&
           hostApi->defineProperty(cx, obj, name, v, NULL, NULL, HOST_ATTR_ENUMERATE);
}

/* Reads the first variable of an answer without error status; 0 when its type does not
 * convert (or the answer holds no variable). */
static int readVariable(const netsnmp_variable_list* v, char* oidText, char* value) {
    if (!v || !snmpValueText(v, value, SNMP_VALUE_SIZE)) return 0;
    snmpOidText(v->name, v->name_length, oidText, SNMP_OID_TEXT_SIZE);
    return 1;
}

/* The answer code of an exchange; an answer without error status is read. */
static void classify(Answer* a, int status, const netsnmp_pdu* response, int next) {
    if (status == STAT_TIMEOUT) {
        a->error = "timeout";
    } else if (status != STAT_SUCCESS || !response) {
        a->error = next ? "status_error" : "bad_status";
    } else if (response->errstat == SNMP_ERR_NOERROR) {
        a->read = readVariable(response->variables, a->oid, a->value);
        a->error = a->read ? "no_error" : "get_answer_error";
    } else if (!next) {
        a->error = "bad_status";
    } else {
        a->error = response->errstat == SNMP_ERR_NOSUCHNAME ? "no_more_oid" : "response_error";
    }
}

/* getOID and getNextOID. An identifier that does not parse sends nothing: it answers as
 * a failed request. */
static int getAnswer(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval, int next) {
    const char* name = next ? "Snmp.getNextOID" : "Snmp.getOID";
    if (argc < 1)
        return hostFormatError(cx, next ? "Snmp.getNextOID(<requestOid>)"
                                        : "Snmp.getOID(<requestOid>)");
    const char* text = hostApi->toBytes(cx, argv[0]);
    Record* r = snmpRecord(cx, self, name, 1);
    if (!r) return 0;
    Answer* a = (Answer*)malloc(sizeof(Answer));
    if (!a) {
        hostApi->reportError(cx, "%s: out of memory", name);
        return 0;
    }
    a->error = "no_error";
    a->read = 0;
    oid request[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!snmpParseOid(text, request, &length)) {
        a->error = next ? "status_error" : "bad_status";
    } else {
        netsnmp_pdu* pdu =
            snmpRequest(next ? SNMP_MSG_GETNEXT : SNMP_MSG_GET, request, length, 0, NULL);
        if (!pdu) {
            free(a);
            if (next)
                hostApi->reportError(cx, "Snmp.getNextOID: snmp_pdu_create failed");
            else
                hostApi->reportError(cx, "Snmp.getOID: snmp_pdu_create failed (%s)", text);
            return 0;
        }
        Session* s = sessionUse(r);
        netsnmp_pdu* response;
        int status = sessionExchange(cx, s, pdu, &response);
        classify(a, status, response, next);
        sessionDone(s, response);
    }
    HostObject* answer = hostApi->newObject(cx, NULL);
    int ok = answer != NULL;
    if (ok) *rval = hostObject(answer);
    if (ok && a->read)
        ok = defineEnumerable(cx, answer, "oid", a->oid) &&
             defineEnumerable(cx, answer, "value", a->value);
    ok = ok && defineEnumerable(cx, answer, "error", a->error);
    free(a);
    return ok;
}

int snmpGetOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    return getAnswer(cx, self, argc, argv, rval, 0);
}

int snmpGetNextOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                   HostValue* rval) {
    return getAnswer(cx, self, argc, argv, rval, 1);
}

/* Engine memory that a walk holds back while it fills the heap, and lets go before it
 * reports that the heap is full: the report needs some. */
#define WALK_RESERVE 65536

/* What walk's loop works on between exchanges. The pairs go into the result array as
 * they arrive, so they count against the engine's heap: a walk that never ends by itself
 * ends at the heap's limit with a catchable error instead of growing C memory. */
typedef struct Walk {
    oid root[MAX_OID_LEN], current[MAX_OID_LEN];
    size_t rootLength, currentLength;
    char oidText[SNMP_OID_TEXT_SIZE];
    char value[SNMP_VALUE_SIZE];
    HostObject* list; /* made before the first exchange, so it lives until walk returns */
    unsigned count;
    void* reserve;
} Walk;

enum { WALK_ON, WALK_END, WALK_FAILED, WALK_REPORTED };

/* Appends {oid, value} to the result; 0 when the engine refused (its heap is full). */
static int addPair(HostContext* cx, Walk* w) {
    HostObject* item = hostApi->newObject(cx, NULL);
    HostValue v = hostObject(item);
    return item && defineEnumerable(cx, item, "oid", w->oidText) &&
           defineEnumerable(cx, item, "value", w->value) &&
           hostApi->setElement(cx, w->list, w->count, &v) && ++w->count;
}

/* One answer of a walk: a pair collected (WALK_ON), the end of the subtree, or a failure.
 * An identifier that does not follow the one asked for would walk in circles: failure. */
static int walkStep(HostContext* cx, Walk* w, int status, netsnmp_pdu* response) {
    if (status != STAT_SUCCESS || !response) return WALK_FAILED;
    if (response->errstat == SNMP_ERR_NOSUCHNAME) return WALK_END;
    netsnmp_variable_list* v = response->variables;
    if (response->errstat != SNMP_ERR_NOERROR || !v) return WALK_FAILED;
    if (v->name_length < w->rootLength || v->name_length > MAX_OID_LEN ||
        memcmp(v->name, w->root, w->rootLength * sizeof(oid)) != 0)
        return WALK_END;
    if (snmp_oid_compare(v->name, v->name_length, w->current, w->currentLength) <= 0)
        return WALK_FAILED;
    if (!readVariable(v, w->oidText, w->value)) {
        snmpOidText(v->name, v->name_length, w->oidText, sizeof w->oidText);
        hostApi->reportError(cx, "Snmp.walk: Error when reading %s", w->oidText);
        return WALK_REPORTED;
    }
    if (!addPair(cx, w)) {
        hostApi->release(cx, w->reserve);
        w->reserve = NULL;
        hostApi->reportError(cx, "Snmp.walk: out of memory after %u objects", w->count);
        return WALK_REPORTED;
    }
    memcpy(w->current, v->name, v->name_length * sizeof(oid));
    w->currentLength = v->name_length;
    return WALK_ON;
}

/* walk(requestOid, [maxRequest]) */
int snmpWalk(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    if (argc < 1) return hostFormatError(cx, "Snmp.walk(<requestOid>, [maxRequest]>)");
    const char* text = hostApi->toBytes(cx, argv[0]);
    long maxRequest = INT_MAX;
    if (hostPresent(argc, argv, 1)) maxRequest = hostIntArg(cx, argv[1]);
    Record* r = snmpRecord(cx, self, "Snmp.walk", 1);
    if (!r) return 0;
    Walk* w = (Walk*)calloc(1, sizeof(Walk));
    if (!w) {
        hostApi->reportError(cx, "Snmp.walk: out of memory");
        return 0;
    }
    w->rootLength = MAX_OID_LEN;
    if (!snmpParseOid(text, w->root, &w->rootLength)) {
        free(w);
        hostApi->reportError(cx, "Snmp.walk: Snmp.walk: Error bad input oid %s", text);
        return 0;
    }
    if (!(w->list = hostApi->newArray(cx, 0, NULL)) ||
        !(w->reserve = hostApi->allocate(cx, WALK_RESERVE))) {
        free(w);
        hostApi->reportError(cx, "Snmp.walk: out of memory");
        return 0;
    }
    memcpy(w->current, w->root, w->rootLength * sizeof(oid));
    w->currentLength = w->rootLength;
    Session* s = sessionUse(r);
    int state = WALK_ON;
    for (long count = 0; state == WALK_ON && count < maxRequest; count++) {
        /* A close from another thread ends the walk before its next exchange. */
        if (sessionClosing(s)) {
            state = WALK_FAILED;
            break;
        }
        netsnmp_pdu* pdu = snmpRequest(SNMP_MSG_GETNEXT, w->current, w->currentLength, 0, NULL);
        if (!pdu) {
            hostApi->reportError(cx, "Snmp.walk: snmp_pdu_create failed");
            state = WALK_REPORTED;
            break;
        }
        netsnmp_pdu* response;
        int status = sessionExchange(cx, s, pdu, &response);
        state = walkStep(cx, w, status, response);
        snmpFreeResponse(response);
    }
    sessionDone(s, NULL);
    if (state != WALK_REPORTED && state != WALK_FAILED) *rval = hostObject(w->list);
    hostApi->release(cx, w->reserve);
    free(w);
    return state != WALK_REPORTED;
}

/* setOID(requestOid, type, value): true when the agent took the value. */
int snmpSetOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    if (argc < 3) return hostFormatError(cx, "Snmp.setOID(<requestOid>, <type>, <value>)");
    const char* text = hostApi->toBytes(cx, argv[0]);
    const char* type = hostApi->toBytes(cx, argv[1]);
    const char* value = hostApi->toBytes(cx, argv[2]);
    Record* r = snmpRecord(cx, self, "Snmp.setOID", 1);
    if (!r) return 0;
    *rval = HOST_FALSE;
    oid request[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    netsnmp_pdu* pdu = NULL;
    /* An identifier given as the value is held to the same 32-bit sub-identifiers. */
    if (!type[0] || !snmpParseOid(text, request, &length) ||
        (type[0] == 'o' && !snmpOidFits(value)) ||
        !(pdu = snmpRequest(SNMP_MSG_SET, request, length, type[0], value)))
        return 1;
    Session* s = sessionUse(r);
    netsnmp_pdu* response;
    int status = sessionExchange(cx, s, pdu, &response);
    *rval =
        hostBoolean(status == STAT_SUCCESS && response && response->errstat == SNMP_ERR_NOERROR);
    sessionDone(s, response);
    return 1;
}
