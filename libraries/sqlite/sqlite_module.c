/* The SQLite module (bin/msqlite.so): the script class SQLite, one open database file per
 * object, over Debian's SQLite and the module interface table alone.
 *
 *   new SQLite(file)   opens (or creates) the database file
 *   db.query(sql)      runs every statement of sql; an array of row objects, one
 *                      read-only text property per column (undefined for NULL)
 *   db.close()         closes the database; later queries fail
 *
 * Text: file names cross as UTF-16; statement text as narrow text (each character's
 * low byte); column names and values as their bytes, one character per byte, so UTF-8
 * stays undecoded.
 *
 * Rooting: a value that a slot hands out after a resumeRequest stays rooted only until
 * this native's next suspendRequest (or its return); values made before the first
 * suspension stay rooted until it returns. So the result array is made before the first
 * suspension, each row object is stored into that array before the row callback suspends
 * again, and nothing made in one round is kept for a later one.
 */
#include "module_helpers.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

HOST_API_DEFINE;

/* The record of an SQLite object. `users` counts the queries running on the connection:
 * they run outside the request, so another script thread may close the object meanwhile.
 * Its close then only detaches the record and marks it; the last query to finish closes
 * the connection. Closing at once would block on the connection's mutex, which the
 * running query holds while it waits for the request lock: a deadlock. */
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

/* What the row callback needs: the calling context, the result array and the number of
 * rows in it, the request depth of the latest suspension, and the batch. `failed`
 * records a failure that stopped the statement: 1 for an engine failure (out of memory;
 * the callback then stays inside the request so that the pending error still stands
 * when the native returns), 2 for a batch that could not grow (outside the request). */
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

/* One result row, outside the request: into the batch, and a full batch into objects. */
static int rowCallback(void* data, int count, char** values, char** names) {
    QueryContext* q = (QueryContext*)data;
    for (int i = 0; i < count; i++) {
        const char* name = names[i] ? names[i] : "";
        char flag = values[i] != NULL;
        if (!batchPut(q, &flag, 1) || !batchPut(q, name, strlen(name) + 1) ||
            (values[i] && !batchPut(q, values[i], strlen(values[i]) + 1))) {
            q->failed = 2;
            return 1; /* stops the statement */
        }
    }
    q->columns[q->batched++] = count;
    q->values += count;
    if (q->batched < kBatchRows && q->used < kBatchBytes && q->values < kBatchValues) return 0;
    hostApi->resumeRequest(q->cx, q->depth);
    if (!buildRows(q)) {
        q->failed = 1;
        return 1; /* stops the statement; the request stays entered */
    }
    q->depth = hostApi->suspendRequest(q->cx);
    return 0;
}

/* query(sql) */
static int sqliteQuery(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    if (argc < 1) return hostFormatError(cx, "SQLite.query(<sql>)");
    if (!hostRecord(cx, self)) {
        hostApi->reportError(cx, "SQL error: database object not initialized");
        return 0;
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
    int rc = sqlite3_exec(d->db, sql, rowCallback, q, &message);
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
