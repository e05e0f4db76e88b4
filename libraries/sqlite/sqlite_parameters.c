/* The values of query(sql, params) on the placeholders of a prepared statement. */
#include "sqlite_parameters.h"

/* Binds one value; an SQLite result code, or -1 when the conversion left an error. */
static int bindValue(HostContext* cx, sqlite3_stmt* st, int i, HostValue v) {
    if (hostIsUndefined(v) || hostIsNull(v)) return sqlite3_bind_null(st, i);
    if (hostIsBoolean(v)) return sqlite3_bind_int(st, i, hostToBoolean(v));
    if (hostIsNumber(v)) {
        double d = hostToDouble(v);
        /* Whole numbers of the 64-bit range are INTEGER, as the same digits in the text
         * would be; the rest (fractions, NaN, the infinities) REAL. */
        if (d >= -9223372036854775808.0 && d < 9223372036854775808.0 &&
            (double)(sqlite3_int64)d == d)
            return sqlite3_bind_int64(st, i, (sqlite3_int64)d);
        return sqlite3_bind_double(st, i, d);
    }
    size_t n;
    const char* bytes = hostBytesArg(cx, v, &n);
    if (hostApi->errorPending(cx)) return -1;
    return sqlite3_bind_text64(st, i, bytes, (sqlite3_uint64)n, SQLITE_TRANSIENT, SQLITE_UTF8);
}

/* A numbered placeholder: "?" or "?NNN" (SQLite names the plain one null). */
static int isNumbered(const char* name) {
    return !name || name[0] == '?';
}

int bindParameters(HostContext* cx, sqlite3_stmt* st, HostObject* params, const char* sql) {
    int count = sqlite3_bind_parameter_count(st), highest = 0;
    for (int i = 1; i <= count; i++)
        if (isNumbered(sqlite3_bind_parameter_name(st, i))) highest = i;
    unsigned length = 0;
    if (highest > 0) {
        if (!hostApi->getArrayLength(cx, params, &length)) return 0;
        if (length != (unsigned)highest) {
            hostApi->reportError(cx,
                                 "SQL error: the statement takes %d values, not %u\nSQL query: %s",
                                 highest, length, sql);
            return 0;
        }
    }
    for (int i = 1; i <= count; i++) {
        const char* name = sqlite3_bind_parameter_name(st, i);
        HostValue v = HOST_UNDEFINED;
        if (!isNumbered(name))
            v = hostApi->getProperty(cx, params, name + 1);
        else if (!hostApi->getElement(cx, params, (unsigned)i - 1, &v))
            return 0;
        if (hostApi->errorPending(cx)) return 0;
        int rc = bindValue(cx, st, i, v);
        if (rc == -1) return 0;
        if (rc != SQLITE_OK) {
            hostApi->reportError(cx, "SQL error: %s\nSQL query: %s", sqlite3_errstr(rc), sql);
            return 0;
        }
    }
    return 1;
}
