/* The SNMP module (bin/msnmp.so): the script class Snmp, at most one SNMP version 1
 * session with one agent per object, over Debian's net-snmp and the module interface
 * table alone.
 *
 *   new Snmp()                                  an object without a session
 *   open(ipAddress, communityName, [timeout])   opens the session (timeout in ms)
 *   close()                                     true when a session was closed
 *   getOID(oid), getNextOID(oid)                an answer object {oid, value, error}
 *   walk(oid, [maxRequest])                     an array of {oid, value}, or undefined
 *   setOID(oid, type, value)                    true when the agent took the value
 *
 * This file holds the class: registration, constructor, finalizer, open and close, and
 * the checks that every function makes. */
#include "snmp_module.h"

#include <stdlib.h>
#include <string.h>

HOST_API_DEFINE;

/* The record of self, or null after the function's report; with needSession, only a
 * record that holds an open session. */
Record* snmpRecord(HostContext* cx, HostObject* self, const char* function, int needSession) {
    Record* r = hostRecord(cx, self);
    if (!r) {
        hostApi->reportError(cx, "%s: failed during get class root", function);
        return NULL;
    }
    if (needSession && !r->session) {
        hostApi->reportError(cx, "%s: SNMP Layer not initialized", function);
        return NULL;
    }
    return r;
}

/* Copies text into a field of size bytes, cut to fit. */
static void copyField(char* field, size_t size, const char* text) {
    size_t n = strnlen(text, size - 1);
    memcpy(field, text, n);
    field[n] = '\0';
}

/* new Snmp(): a record without a session. */
static int snmpConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                         HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    if (!self) {
        hostApi->reportError(cx, "Snmp must be called with new");
        return 0;
    }
    snmpLibraryInit();
    if (hostRecord(cx, self)) return 1; /* constructed already */
    Record* r = (Record*)calloc(1, sizeof(Record));
    if (!r || !hostApi->setPrivate(cx, self, r)) {
        free(r);
        hostApi->reportError(cx, r ? "Snmp must be called with new" : "Snmp: out of memory");
        return 0;
    }
    return 1;
}

static int closeRecord(Record* r) {
    if (!r->session) return 0;
    Session* s = r->session;
    r->session = NULL;
    return sessionClose(s);
}

/* open(ipAddress, communityName, [timeout]) */
static int snmpOpen(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                    HostValue* rval) {
    if (argc < 2) return hostFormatError(cx, "Snmp.open(<ipAddress>, <communityName>, [timeout])");
    Record* r = snmpRecord(cx, self, "Snmp.open", 0);
    if (!r) return 0;
    if (!hostPublish(cx, self, "ipAddress", argv[0]) ||
        !hostPublish(cx, self, "communityName", argv[1]))
        return 0;
    copyField(r->address, sizeof r->address, hostApi->toBytes(cx, argv[0]));
    copyField(r->community, sizeof r->community, hostApi->toBytes(cx, argv[1]));
    r->timeout = 10000000;
    if (hostPresent(argc, argv, 2)) r->timeout = hostIntArg(cx, argv[2]) * 1000L;
    if (!hostPublish(cx, self, "timeout", hostApi->newNumber(cx, (double)r->timeout))) return 0;
    closeRecord(r);
    r->session = sessionOpen(r->address, r->community, r->timeout);
    if (!r->session) {
        *rval = HOST_FALSE;
        hostApi->reportError(cx, "Snmp.open: Open failed on %s", r->address);
        return 0;
    }
    *rval = HOST_TRUE;
    return 1;
}

/* close(): true when a session was closed. */
static int snmpClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval) {
    (void)argc, (void)argv;
    Record* r = hostRecord(cx, self);
    *rval = hostBoolean(r && closeRecord(r));
    return 1;
}

static void snmpFinalize(HostContext* cx, HostObject* obj) {
    Record* r = hostRecord(cx, obj);
    if (!r) return;
    closeRecord(r);
    hostApi->setPrivate(cx, obj, NULL);
    free(r);
}

static const HostFunctionSpec snmpFns[] = {
    {"open", snmpOpen, 1, 0, 0},     {"close", snmpClose, 0, 0, 0},
    {"getOID", snmpGetOID, 0, 0, 0}, {"getNextOID", snmpGetNextOID, 0, 0, 0},
    {"walk", snmpWalk, 0, 0, 0},     {"setOID", snmpSetOID, 0, 0, 0},
    {NULL, NULL, 0, 0, 0},
};

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
    hostApi->defineClass(cx, "Snmp", snmpConstruct, 0, NULL, snmpFns, NULL, NULL, snmpFinalize);
}
