/* The values of query(sql, params), bound to the placeholders of each statement. */
#ifndef CAPSULE_SQLITE_PARAMETERS_H
#define CAPSULE_SQLITE_PARAMETERS_H

#include "module_helpers.h"

#include <sqlite3.h>

/* Binds every placeholder of st, inside the request: a named one (:name, @name, $name)
 * takes params[name], a numbered one (?, ?NNN) params[NNN - 1]. A statement with numbered
 * placeholders needs exactly as many values as its highest number; one without takes
 * none. Strings bind as text of their bytes (one per character, as statement text goes),
 * numbers as integers when whole and in range, else as reals, booleans as 1 and 0,
 * undefined and null (and a missing name) as NULL, anything else as its string. 1 when
 * bound; 0 with the error reported (sql completes its message) or pending. */
int bindParameters(HostContext* cx, sqlite3_stmt* st, HostObject* params, const char* sql);

#endif
