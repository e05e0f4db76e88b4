/* Answered values and identifiers as text. Counter32, Gauge32 and TimeTicks are unsigned
 * and read as such; identifiers are given whole; every copy is bounded by its buffer. */
#include "snmp_module.h"

#include <stdio.h>
#include <string.h>

/* Dotted decimal, a dot before every sub-identifier: .1.3.6.1.2.1.1.1.0 */
void snmpOidText(const oid* name, size_t length, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    for (size_t i = 0; i < length && used < size; i++) {
        int n = snprintf(out + used, size - used, ".%lu", (unsigned long)(name[i] & 0xFFFFFFFFu));
        if (n < 0) break;
        used += (size_t)n;
    }
}

/* The value of an answered variable as text; 0 for a type that does not convert. */
int snmpValueText(const netsnmp_variable_list* v, char* out, size_t size) {
    out[0] = '\0';
    switch (v->type) {
    case ASN_INTEGER:
        if (!v->val.integer) return 0;
        snprintf(out, size, "%ld", (long)*v->val.integer);
        return 1;
    case ASN_COUNTER:
    case ASN_GAUGE:
        if (!v->val.integer) return 0;
        snprintf(out, size, "%lu", (unsigned long)*v->val.integer & 0xFFFFFFFFu);
        return 1;
    case ASN_TIMETICKS: /* whole seconds */
        if (!v->val.integer) return 0;
        snprintf(out, size, "%lu", ((unsigned long)*v->val.integer & 0xFFFFFFFFu) / 100);
        return 1;
    case ASN_OCTET_STR: { /* the octets up to the first zero, cut at the text limit */
        size_t n = v->val.string ? strnlen((const char*)v->val.string, v->val_len) : 0;
        if (n > SNMP_TEXT_LIMIT) n = SNMP_TEXT_LIMIT;
        if (n >= size) n = size - 1;
        if (n) memcpy(out, v->val.string, n);
        out[n] = '\0';
        return 1;
    }
    case ASN_OBJECT_ID:
        if (!v->val.objid) return 0;
        snmpOidText(v->val.objid, v->val_len / sizeof(oid), out, size);
        return 1;
    case ASN_IPADDRESS:
        if (!v->val.string || v->val_len != 4) return 0;
        snprintf(out, size, "%u.%u.%u.%u", v->val.string[0], v->val.string[1], v->val.string[2],
                 v->val.string[3]);
        return 1;
    default:
        return 0;
    }
}
