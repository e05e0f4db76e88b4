/* The SNMP module's shared declarations: the session record of an Snmp object, the
 * helpers of the class, the sessions over net-snmp and the value conversions. */
#ifndef CAPSULE_SNMP_MODULE_H
#define CAPSULE_SNMP_MODULE_H

#include "module_helpers.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#define SNMP_ADDRESS_SIZE 32   /* agent address: 31 bytes and the terminator */
#define SNMP_COMMUNITY_SIZE 50 /* community: 49 bytes and the terminator */
#define SNMP_TEXT_LIMIT 499    /* longest octet string given as a value text */
/* A whole identifier in dotted form: each sub-identifier at most ".4294967295". */
#define SNMP_OID_TEXT_SIZE (MAX_OID_LEN * 11 + 1)
#define SNMP_VALUE_SIZE                                                                            \
    (SNMP_OID_TEXT_SIZE > SNMP_TEXT_LIMIT + 1 ? SNMP_OID_TEXT_SIZE : SNMP_TEXT_LIMIT + 1)

typedef struct Session Session;

/* The private record of an Snmp object; `session` is null before open and after close. */
typedef struct Record {
    Session* session;
    char address[SNMP_ADDRESS_SIZE];
    char community[SNMP_COMMUNITY_SIZE];
    long timeout; /* microseconds per attempt */
} Record;

/* snmp_module.c */
Record* snmpRecord(HostContext* cx, HostObject* self, const char* function, int needSession);

/* snmp_request.c: the request functions of the class. */
int snmpGetOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int snmpGetNextOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                   HostValue* rval);
int snmpWalk(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int snmpSetOID(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);

/* snmp_session.c: every net-snmp call but the value conversions. All of them run under
 * the module's library lock except the exchange, which uses only its own session. */
void snmpLibraryInit(void);
Session* sessionOpen(const char* address, const char* community, long timeout);
int sessionClose(Session* s);
Session* sessionUse(Record* r);
int sessionClosing(Session* s);
int snmpOidFits(const char* text);
int snmpParseOid(const char* text, oid* name, size_t* length);
netsnmp_pdu* snmpRequest(int command, const oid* name, size_t length, char type, const char* value);
int sessionExchange(HostContext* cx, Session* s, netsnmp_pdu* request, netsnmp_pdu** response);
void sessionDone(Session* s, netsnmp_pdu* response);
void snmpFreeResponse(netsnmp_pdu* response);

/* snmp_value.c */
void snmpOidText(const oid* name, size_t length, char* out, size_t size);
int snmpValueText(const netsnmp_variable_list* v, char* out, size_t size);

#endif
