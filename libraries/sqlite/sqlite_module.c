/* The SQLite module (bin/msqlite.so): the script class SQLite, one open database file per
 * object, over Debian's SQLite and the module interface table alone.
 *
 *   new SQLite(file)   opens (or creates) the database file
 *   db.query(sql)      runs every statement of sql; an array of row objects, one
 *                      read-only text property per column (undefined for NULL)
 *   db.query(sql, params)  the same with the placeholders' values from params, an
 *                      array (?, ?NNN) or an object (:name), never spliced into the text
 *   db.close()         closes the database; later queries fail
 *
 * Text: file names cross as UTF-16; statement text as narrow text (each character's
 * low byte); column names and values as their bytes, one character per byte, so UTF-8
 * stays undecoded.
 *
 * Rooting: a value that a slot hands out after a resumeRequest stays rooted only until
 * this native's next suspendRequest (or its return); values made before the first
 * suspension stay rooted until it returns. So the result array is made before the first
 * suspension, each row object is stored into that array before the query suspends
 * again, and nothing made in one round is kept for a later one.
 */
#include "module_helpers.h"
#include "sqlite_parameters.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

HOST_API_DEFINE;

/* The record of an SQLite object. `users` counts the queries running on the connection:
 * they run outside the request, so another script thread may close the object meanwhile.
 * Its close then only detaches the record and marks it; the last query to finish closes
 * the connection. Closing at once would pull the connection from under the statements
 * that the query still has to prepare and step. */
typedef struct Database {
    sqlite3* db;
    int users;
    int closing;
} Database;

/* Rows are gathered outside the request and turned into objects a batch at a time:
 * entering and leaving the request for every row would cost more than making its object.
 * A batch holds up to kBatchRows rows (fewer when their text passes kBatchBytes or their
 * columns kBatchValues, which bounds the values one round makes); each
 * column is stored as a flag byte (1: a value follows, 0: SQL NULL), its name and, for a
 * value, its text, each NUL-terminated. */
enum { kBatchRows = 256, kBatchBytes = 1 << 20, kBatchValues = 1 << 14 };

/* What a running query keeps: the calling context, the result array and the number of
 * rows in it, the request depth of the latest suspension, and the batch. `failed`
 * records a failure that stopped the statement: 1 for an engine failure (out of memory;
 * or an error in binding the parameters; the query then stays inside the request so that
 * the pending error still stands when the native returns), 2 for a batch that could not
 * grow or a column text SQLite could not make (outside the request). */
typedef struct QueryContext {
    HostContext* cx;
    HostObject* rows;
    unsigned count;
    int depth;
    int failed;
    char* text;
    size_t used, size;
    int batched, values;
    int columns[kBatchRows];
} QueryContext;

static void closeDatabase(Database* d) {
    sqlite3_close_v2(d->db);
    free(d);
}

/* Detaches the record from the object and closes it, or leaves that to the running
 * queries. */
static void detach(HostContext* cx, HostObject* self) {
    Database* d = hostRecord(cx, self);
    if (!d) return;
    hostApi->setPrivate(cx, self, NULL);
    if (d->users > 0)
        d->closing = 1;
    else
        closeDatabase(d);
}

/* new SQLite(file). A file that cannot be opened as a database fails the constructor:
 * the `new` expression throws at once, so a script never holds an object without a
 * connection unless it closed it itself. */
static int sqliteConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                           HostValue* rval) {
    (void)rval;
    if (argc < 1) return hostFormatError(cx, "SQLite(<file>)");
    if (!self) {
        hostApi->reportError(cx, "SQLite must be called with new");
        return 0;
    }
    const HostChar* file = hostApi->toChars(cx, argv[0]);
    Database* d = (Database*)calloc(1, sizeof(Database));
    if (!d) {
        hostApi->reportError(cx, "out of memory");
        return 0;
    }
    int rc = sqlite3_open16(file, &d->db);
    /* Opening is lazy about the content: a file that is no database shows only when it
     * is first read. Reading the schema version once finds that here. A database that
     * another connection holds locked is still a database. */
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(d->db, "PRAGMA schema_version", NULL, NULL, NULL);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) rc = SQLITE_OK;
    }
    if (rc != SQLITE_OK) {
        hostApi->reportError(cx, "Can't open database: %s",
                             d->db ? sqlite3_errmsg(d->db) : sqlite3_errstr(rc));
        closeDatabase(d);
        return 0;
    }
    if (!hostApi->setPrivate(cx, self, d)) {
        closeDatabase(d);
        hostApi->reportError(cx, "SQLite: no record for this object");
        return 0;
    }
    return 1;
}

/* Appends n bytes to the batch text. */
static int batchPut(QueryContext* q, const char* bytes, size_t n) {
    if (q->used + n > q->size) {
        size_t size = q->size ? q->size : 4096;
        while (q->used + n > size)
            size *= 2;
        char* text = (char*)realloc(q->text, size);
        if (!text) return 0;
        q->text = text;
        q->size = size;
    }
    memcpy(q->text + q->used, bytes, n);
    q->used += n;
    return 1;
}

/* Makes the row objects of the batch, inside the request: one new object per row at
 * index `count` of the result array, one read-only enumerable text property per column
 * (undefined for NULL), in column order. Returns 0 with the engine's error pending. */
static int buildRows(QueryContext* q) {
    HostContext* cx = q->cx;
    const char* t = q->text;
    for (int r = 0; r < q->batched; r++) {
        HostObject* row = hostApi->newObject(cx, NULL);
        HostValue v = hostObject(row);
        if (!row || !hostApi->setElement(cx, q->rows, q->count++, &v)) return 0;
        for (int i = 0; i < q->columns[r]; i++) {
            int isText = *t++;
            const char* name = t;
            t += strlen(t) + 1;
            v = HOST_UNDEFINED;
            if (isText) {
                v = hostApi->newString(cx, t, NULL);
                if (hostIsUndefined(v)) return 0;
                t += strlen(t) + 1;
            }
            if (!hostPublish(cx, row, name, v)) return 0;
        }
    }
    q->batched = q->values = 0;
    q->used = 0;
    return 1;
}

/* One result row, outside the request: into the batch, and a full batch into objects.
 * 0 when the statement must stop (q->failed says why). */
static int takeRow(QueryContext* q, sqlite3_stmt* st) {
    int count = sqlite3_column_count(st);
    for (int i = 0; i < count; i++) {
        const char* name = sqlite3_column_name(st, i);
        const char* value = (const char*)sqlite3_column_text(st, i);
        if (!name) name = "";
        char flag = value != NULL;
        if ((!value && sqlite3_column_type(st, i) != SQLITE_NULL) || !batchPut(q, &flag, 1) ||
            !batchPut(q, name, strlen(name) + 1) ||
            (value && !batchPut(q, value, strlen(value) + 1))) {
            q->failed = 2;
            return 0;
        }
    }
    q->columns[q->batched++] = count;
    q->values += count;
    if (q->batched < kBatchRows && q->used < kBatchBytes && q->values < kBatchValues) return 1;
    hostApi->resumeRequest(q->cx, q->depth);
    if (!buildRows(q)) {
        q->failed = 1; /* the request stays entered */
        return 0;
    }
    q->depth = hostApi->suspendRequest(q->cx);
    return 1;
}

/* Runs one prepared statement to its end, outside the request; its placeholders bound
 * first, inside it, when there are parameters. An SQLite result code. */
static int runStatement(QueryContext* q, sqlite3_stmt* st, HostObject* params, const char* sql) {
    if (params) {
        hostApi->resumeRequest(q->cx, q->depth);
        if (!bindParameters(q->cx, st, params, sql)) {
            q->failed = 1;
            return SQLITE_ERROR;
        }
        q->depth = hostApi->suspendRequest(q->cx);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        if (!takeRow(q, st)) return SQLITE_ABORT;
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

/* A copy of the connection's error text (sqlite3_free). The connection's mutex is held
 * while it is copied: another script thread on the same database may replace (and free)
 * that text at any moment. */
static char* errorText(sqlite3* db) {
    sqlite3_mutex* m = sqlite3_db_mutex(db);
    sqlite3_mutex_enter(m);
    char* text = sqlite3_mprintf("%s", sqlite3_errmsg(db));
    sqlite3_mutex_leave(m);
    return text;
}

/* Every statement of the text in turn, as sqlite3_exec runs them, outside the request.
 * The error message of a failed statement goes to *message (sqlite3_free). */
static int runText(QueryContext* q, sqlite3* db, const char* sql, HostObject* params,
                   char** message) {
    const char* rest = sql;
    int rc = SQLITE_OK;
    while (rc == SQLITE_OK && *rest) {
        sqlite3_stmt* st = NULL;
        rc = sqlite3_prepare_v2(db, rest, -1, &st, &rest);
        if (rc == SQLITE_OK && st) rc = runStatement(q, st, params, sql);
        if (rc != SQLITE_OK && !q->failed) *message = errorText(db);
        sqlite3_finalize(st);
    }
    return rc;
}

/* query(sql[, params]): params, an array or an object, gives the placeholders' values. */
static int sqliteQuery(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    if (argc < 1) return hostFormatError(cx, "SQLite.query(<sql>)");
    if (!hostRecord(cx, self)) {
        hostApi->reportError(cx, "SQL error: database object not initialized");
        return 0;
    }
    HostObject* params = NULL;
    if (argc > 1 && !hostIsUndefined(argv[1]) && !hostIsNull(argv[1])) {
        params = hostToObject(argv[1]);
        if (!params) {
            hostApi->reportError(cx, "SQLite.query: parameters must be an array or an object");
            return 0;
        }
    }
    const char* sql = hostApi->toBytes(cx, argv[0]);
    Database* d = hostRecord(cx, self); /* the conversion may have run a close */
    if (!d) {
        hostApi->reportError(cx, "SQL error: database object not initialized");
        return 0;
    }
    QueryContext* q = (QueryContext*)calloc(1, sizeof(QueryContext));
    if (!q) {
        hostApi->reportError(cx, "out of memory");
        return 0;
    }
    q->cx = cx;
    q->rows = hostApi->newArray(cx, 0, NULL);
    if (!q->rows) {
        free(q);
        return 0;
    }
    *rval = hostObject(q->rows);
    d->users++;
    q->depth = hostApi->suspendRequest(cx);
    char* message = NULL;
    int rc = runText(q, d->db, sql, params, &message);
    if (q->failed != 1) hostApi->resumeRequest(cx, q->depth);
    if (--d->users == 0 && d->closing) closeDatabase(d);
    /* The rows still in the batch came before any error: they stay in the result. */
    int ok = q->failed == 1 ? 0 : buildRows(q);
    if (ok && q->failed == 2) {
        hostApi->reportError(cx, "out of memory");
        ok = 0;
    } else if (ok && rc != SQLITE_OK) {
        hostApi->reportError(cx, "SQL error: %s\nSQL query: %s",
                             message ? message : sqlite3_errstr(rc), sql);
        ok = 0;
    }
    sqlite3_free(message);
    free(q->text);
    free(q);
    return ok;
}

/* close() */
static int sqliteClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    detach(cx, self);
    return 1;
}

static void sqliteFinalize(HostContext* cx, HostObject* obj) {
    detach(cx, obj);
}

static const HostFunctionSpec sqliteFns[] = {
    {"query", sqliteQuery, 1, 0, 0},
    {"close", sqliteClose, 0, 0, 0},
    {NULL, NULL, 0, 0, 0},
};

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
    hostApi->defineClass(cx, "SQLite", sqliteConstruct, 0, NULL, sqliteFns, NULL, NULL,
                         sqliteFinalize);
}
