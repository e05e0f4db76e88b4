// The SQLite module (build/bin/msqlite.so, msqlite.dll on Windows) on real database files
// in a scratch folder that the test makes under the working directory (the build folder)
// and removes at the end. On Linux, Debian's sqlite3 program cross-checks what the module
// writes and reads, and the process's descriptors show each connection's file.

var scratch = File.getCurrentWorkingDir() + "/sqlite_test_" + System.getPID();

function path(name) {
    return scratch + "/" + name;
}

function writeFile(name, content) {
    var f = new File(path(name), "wb");
    f.write(content);
    f.close();
}

function readFile(name) {
    var f = new File(path(name), "rb");
    var content = f.read();
    f.close();
    return content;
}

// Runs a shell command line in the scratch folder and waits for it.
function shell(line) {
    assertTrue(System.exec("sh -c \"" + line + "\"", scratch, 1), "ran: " + line);
}

function openDescriptors() {
    return File.openDir("/proc/self/fd/*").length;
}

// The values of one column of a query's rows, joined by commas.
function column(rows, name) {
    return rows.map(function (r) { return r[name]; }).join(",");
}

var loaded = System.loadModule(moduleLibrary("bin/msqlite"));
assertTrue(File.createDir(scratch), "scratch folder made");

try {
    test("the module registers the class SQLite", function () {
        assertEq(loaded, true);
        assertEq(typeof SQLite, "function");
        assertEq(SQLite.length, 0);
        assertEq(SQLite.prototype.query.length, 1);
        assertEq(SQLite.prototype.close.length, 0);
        assertTrue(new SQLite(":memory:") instanceof SQLite, "instanceof");
    });

    test("format errors and calls without an instance", function () {
        var e = assertThrows(function () { new SQLite(); });
        assertTrue(e instanceof Error, "an Error");
        assertEq(e.message, "Native function format error: SQLite(<file>)");
        var db = new SQLite(":memory:");
        assertEq(assertThrows(function () { db.query(); }).message,
                 "Native function format error: SQLite.query(<sql>)");
        // Without new there is no object to hold a connection: it fails, opens nothing.
        assertEq(assertThrows(function () { SQLite(path("nonew.db")); }).message,
                 "SQLite must be called with new");
        assertEq(File.status(path("nonew.db")), false, "no file made");
        // A record is never found on anything but the instance itself.
        var notInit = "SQL error: database object not initialized";
        var foreign = [{}, SQLite.prototype, Object.create(db)];
        for (var i = 0; i < foreign.length; i++) {
            assertEq(assertThrows(function () {
                SQLite.prototype.query.call(foreign[i], "select 1");
            }).message, notInit, "foreign " + i);
            assertEq(SQLite.prototype.close.call(foreign[i]), undefined);
        }
        assertEq(db.query("select 1 as one")[0].one, "1", "the instance still works");
        db.close();
    });

    test("a new file is created; statements without rows give an empty array", function () {
        var db = new SQLite(path("a.db"));
        assertTrue(File.status(path("a.db")) !== false, "file created");
        var r = db.query("CREATE TABLE t(a, b)");
        assertTrue(r instanceof Array, "an array");
        assertEq(r.length, 0);
        assertEq(db.query("INSERT INTO t VALUES(1, 'x')").length, 0);
        assertEq(db.query("").length, 0, "empty text");
        assertEq(db.query("SELECT * FROM t WHERE 0").length, 0, "no matching row");
        assertEq(db.close(), undefined);
    });

    test("rows are plain objects of read-only enumerable texts, in column order", function () {
        var db = new SQLite(path("a.db"));
        db.query("INSERT INTO t VALUES(NULL, 2.5); INSERT INTO t VALUES(-7, 'A'); " +
                 "INSERT INTO t VALUES(1e100, '')");
        var rows = db.query("SELECT a, b FROM t ORDER BY rowid");
        assertEq(rows.length, 4);
        assertEq(rows[0].a, "1");
        assertEq(rows[0].b, "x");
        assertEq(Object.keys(rows[0]).join(), "a,b");
        assertEq(Object.getPrototypeOf(rows[0]), Object.prototype);
        assertTrue("a" in rows[1] && rows[1].hasOwnProperty("a"), "NULL column present");
        assertEq(rows[1].a, undefined);
        assertEq(rows[1].b, "2.5");
        assertEq(rows[2].a + "|" + rows[2].b, "-7|A");
        assertEq(rows[3].a + "|" + rows[3].b, "1.0e+100|");
        var d = Object.getOwnPropertyDescriptor(rows[0], "a");
        assertEq(d.enumerable, true);
        assertEq(d.writable, false);
        rows[0].a = "changed";
        assertEq(rows[0].a, "1", "read-only");
        // Names as the statement gives them; a repeated name keeps the last value.
        var r = db.query("SELECT b AS \"the b\", a, 3 AS a FROM t WHERE rowid = 1")[0];
        assertEq(Object.keys(r).join(), "the b,a");
        assertEq(r["the b"] + "|" + r.a, "x|3");
        db.close();
    });

    test("every statement of the text runs; rows of all of them in order", function () {
        var db = new SQLite(path("a.db"));
        var rows = db.query("SELECT 'first' AS s; CREATE TABLE two(v); INSERT INTO two " +
                            "VALUES('second'); SELECT v AS s FROM two;\n SELECT 3 AS n");
        assertEq(rows.length, 3);
        assertEq(rows[0].s + "," + rows[1].s + "," + rows[2].n, "first,second,3");
        assertEq(Object.keys(rows[2]).join(), "n");
        db.close();
    });

    test("rows of many rounds and two statements keep their columns, NULLs and order", function () {
        var db = new SQLite(":memory:");
        var rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c " +
                            "LIMIT 600) SELECT x, CASE WHEN x % 3 = 0 THEN NULL ELSE 'v' || x " +
                            "END AS y FROM c; SELECT 'last' AS z");
        assertEq(rows.length, 601);
        for (var i = 0; i < 600; i++) {
            var x = i + 1, r = rows[i];
            if (Object.keys(r).join() !== "x,y" || r.x !== String(x) ||
                r.y !== (x % 3 ? "v" + x : undefined))
                assertEq(uneval(r), "row " + x);
        }
        assertEq(uneval(rows[600]), '({z:"last"})');
        db.close();
    });

    test("SQL errors are catchable Errors naming the message and the statement", function () {
        var db = new SQLite(path("a.db"));
        var e = assertThrows(function () { db.query("SELEC 1"); });
        assertTrue(e instanceof Error, "an Error");
        assertEq(e.message, "SQL error: near \"SELEC\": syntax error\nSQL query: SELEC 1");
        e = assertThrows(function () { db.query("SELECT nope FROM t"); });
        assertEq(e.message, "SQL error: no such column: nope\nSQL query: SELECT nope FROM t");
        // The connection stays usable.
        assertEq(db.query("SELECT count(*) AS n FROM t")[0].n, "4");
        db.close();
    });

    test("a text failing part way keeps what the statements before did", function () {
        var db = new SQLite(path("a.db"));
        db.query("CREATE TABLE u(k PRIMARY KEY)");
        var sql = "INSERT INTO u VALUES(1); INSERT INTO u VALUES(2); SELECT k FROM u; " +
                  "INSERT INTO u VALUES(1); INSERT INTO u VALUES(3)";
        var e = assertThrows(function () { db.query(sql); });
        assertEq(e.message, "SQL error: UNIQUE constraint failed: u.k\nSQL query: " + sql);
        assertEq(column(db.query("SELECT k FROM u ORDER BY k"), "k"), "1,2");
        db.close();
        var again = new SQLite(path("a.db"));
        assertEq(column(again.query("SELECT k FROM u ORDER BY k"), "k"), "1,2", "on disk");
        again.close();
    });

    test("close ends the connection; a second close does nothing", function () {
        var db = new SQLite(path("a.db"));
        assertEq(db.close(), undefined);
        assertEq(db.close(), undefined);
        assertEq(assertThrows(function () { db.query("SELECT 1"); }).message,
                 "SQL error: database object not initialized");
        // Closed while the statement text converts: the query sees it.
        var db2 = new SQLite(path("a.db"));
        var sql = { toString: function () { db2.close(); return "SELECT 1"; } };
        assertEq(assertThrows(function () { db2.query(sql); }).message,
                 "SQL error: database object not initialized");
    });

    test("files that cannot be opened as a database fail the constructor", function () {
        var text = "this is not a database file, only some text of a fair length.\n";
        for (var i = 0; i < 5; i++) text += text;
        writeFile("text.db", text);
        var e = assertThrows(function () { new SQLite(path("text.db")); });
        assertTrue(e instanceof Error, "an Error");
        assertEq(e.message, "Can't open database: file is not a database");
        assertEq(readFile("text.db"), text, "the file is left as it was");
        var missing = ["missing/dir/x.db", "text.db/x.db", ""];
        assertEq(assertThrows(function () { new SQLite(path(missing[0])); }).message,
                 "Can't open database: unable to open database file");
        assertEq(assertThrows(function () { new SQLite(path(missing[1])); }).message,
                 "Can't open database: unable to open database file");
        assertEq(assertThrows(function () { new SQLite(scratch); }).message,
                 "Can't open database: unable to open database file", "a folder");
        assertEq(File.status(path("missing")), false, "no folder made");
    });

    test("a database locked by another connection opens; queries report the lock", function () {
        var a = new SQLite(path("a.db"));
        a.query("BEGIN EXCLUSIVE");
        var b = new SQLite(path("a.db"));
        assertEq(assertThrows(function () { b.query("SELECT count(*) FROM t"); }).message,
                 "SQL error: database is locked\nSQL query: SELECT count(*) FROM t");
        a.query("COMMIT");
        assertEq(b.query("SELECT count(*) AS n FROM t")[0].n, "4");
        a.close();
        b.close();
    });

    // Windows has no descriptor list to count.
    if (!onWindows) test("connections are closed by the finalizer", function () {
        System.gc();
        var before = openDescriptors();
        var dbs = [];
        for (var i = 0; i < 5; i++) {
            dbs.push(new SQLite(path("a.db")));
            dbs[i].query("SELECT count(*) FROM t");
        }
        assertEq(openDescriptors(), before + 5, "one descriptor each");
        dbs = null;
        System.gc();
        assertEq(openDescriptors(), before, "all closed");
    });

    test("text crosses as bytes: narrow statement text, undecoded column text", function () {
        var name = "\u00e9\u20ac.db";
        var db = new SQLite(path(name));
        db.query("CREATE TABLE w(s)");
        assertTrue(File.status(path(name)) !== false, "Unicode file name");
        // Each character's low byte goes in; each byte comes back as one character, so
        // UTF-8 is the script's to encode and decode.
        db.query("INSERT INTO w VALUES('\u0178\u0141'); INSERT INTO w VALUES('\u00c3\u00a9')");
        var rows = db.query("SELECT s, length(s) AS n FROM w ORDER BY rowid");
        assertEq(rows[0].s + "|" + rows[0].n, "xA|2");
        assertEq(rows[1].s + "|" + rows[1].n, "\u00c3\u00a9|1", "UTF-8 of U+00E9");
        assertEq(db.query("SELECT char(8364) AS c")[0].c, "\u00e2\u0082\u00ac", "UTF-8 of U+20AC");
        assertEq(Object.keys(db.query("SELECT 1 AS \"\u00c3\u00a9\"")[0]).join(), "\u00c3\u00a9");
        // The round trip a script makes for Unicode text.
        var text = "\u00e9\u20ac\ud83d\ude00";
        db.query("INSERT INTO w VALUES('" + unescape(encodeURIComponent(text)) + "')");
        var back = db.query("SELECT s, length(s) AS n FROM w WHERE rowid = 3")[0];
        assertEq(decodeURIComponent(escape(back.s)), text);
        assertEq(back.n, "3", "three characters to SQLite");
        // The statement text ends at a NUL character.
        db.query("SELECT 1\u0000; DROP TABLE w");
        assertEq(db.query("SELECT count(*) AS n FROM w")[0].n, "3", "w still there");
        db.close();
    });

    // Windows has no sqlite3 program.
    if (!onWindows) test("Debian's sqlite3 reads what the module wrote, and the other way round", function () {
        var db = new SQLite(path("x.db"));
        db.query("CREATE TABLE p(id INTEGER PRIMARY KEY, name TEXT, v REAL);" +
                 "INSERT INTO p VALUES(1, 'one', 1.5); INSERT INTO p VALUES(2, NULL, -2)");
        db.close();
        shell("sqlite3 x.db 'PRAGMA encoding; SELECT id, name, v FROM p ORDER BY id' > out1");
        // A new database takes UTF-16 in native byte order.
        assertEq(readFile("out1"), "UTF-16le\n1|one|1.5\n2||-2.0\n");

        writeFile("make.sql", "CREATE TABLE q(k TEXT, n INT);\n" +
                  "INSERT INTO q VALUES('caf\u00c3\u00a9', 7);\nINSERT INTO q VALUES(NULL, 8);\n");
        shell("sqlite3 y.db < make.sql");
        db = new SQLite(path("y.db"));
        var rows = db.query("SELECT k, n FROM q ORDER BY n");
        assertEq(rows.length, 2);
        assertEq(rows[0].k + "|" + rows[0].n, "caf\u00c3\u00a9|7");
        assertEq(rows[1].k, undefined);
        // And the module's writes into sqlite3's database.
        db.query("INSERT INTO q VALUES('more', 9)");
        db.close();
        shell("sqlite3 y.db 'SELECT count(*), max(n) FROM q' > out2");
        assertEq(readFile("out2"), "3|9\n");
    });

    test("two script threads, a connection each, lose no row", function () {
        var n = 100;
        var setup = new SQLite(path("threads.db"));
        setup.query("CREATE TABLE r(thread, i)");
        setup.query("PRAGMA busy_timeout = 5000");
        sqlThreadMutex = System.createMutex();
        sqlThreadDone = [];
        sqlThreadError = [];
        var body = function (k) {
            return "(function () { try { var c = new SQLite(" + JSON.stringify(path("threads.db")) + ");" +
                   "  c.query('PRAGMA busy_timeout = 5000');" +
                   "  for (var i = 0; i < " + n + "; i++) {" +
                   "    System.lockMutex(sqlThreadMutex);" +
                   "    try { c.query('INSERT INTO r VALUES(" + k + ", ' + i + ')'); }" +
                   "    finally { System.unlockMutex(sqlThreadMutex); }" +
                   "  }" +
                   "  c.close();" +
                   "} catch (e) { sqlThreadError[" + k + "] = String(e); }" +
                   "sqlThreadDone[" + k + "] = true; })();";
        };
        assertTrue(System.createThread(body(0)) > 0 && System.createThread(body(1)) > 0);
        // Reads alongside, outside the mutex (the busy timeout covers them).
        var reads = 0;
        for (var i = 0; i < 1000 && !(sqlThreadDone[0] && sqlThreadDone[1]); i++) {
            setup.query("SELECT count(*) AS n FROM r");
            reads++;
            System.sleep(2);
        }
        assertTrue(waitUntil(function () { return sqlThreadDone[0] && sqlThreadDone[1]; }, 30000),
                   "both threads done");
        assertEq(sqlThreadError.join("; "), "", "no thread failed");
        var rows = setup.query("SELECT thread, count(*) AS n, count(DISTINCT i) AS d FROM r " +
                               "GROUP BY thread ORDER BY thread");
        assertEq(rows.map(function (r) { return r.thread + ":" + r.n + ":" + r.d; }).join(),
                 "0:" + n + ":" + n + ",1:" + n + ":" + n);
        assertTrue(reads > 0, "read meanwhile");
        setup.close();
        System.destroyMutex(sqlThreadMutex);
    });

    test("another thread's close during a running query waits for it to end", function () {
        sqlShared = new SQLite(":memory:");
        sqlStarted = false;
        sqlResult = undefined;
        System.createThread(
            "sqlStarted = true;" +
            "try { sqlResult = sqlShared.query('WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL " +
            "SELECT x + 1 FROM c LIMIT 100000) SELECT x FROM c').length; }" +
            "catch (e) { sqlResult = e.message; }");
        assertTrue(waitUntil(function () { return sqlStarted; }), "thread started");
        System.sleep(20);
        assertEq(sqlShared.close(), undefined);
        assertTrue(waitUntil(function () { return sqlResult !== undefined; }, 20000),
                   "query ended");
        // Closed in the middle, the query still ends normally; closed before, it never ran.
        assertTrue(sqlResult === 100000 ||
                       sqlResult === "SQL error: database object not initialized",
                   "result " + sqlResult);
        assertEq(assertThrows(function () { sqlShared.query("SELECT 1"); }).message,
                 "SQL error: database object not initialized");
        sqlShared = null;
    });

    test("large results: values of earlier rows do not pile up", function () {
        var db = new SQLite(":memory:");
        var rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c " +
                            "LIMIT 100000) SELECT x FROM c");
        assertEq(rows.length, 100000);
        assertEq(rows[99999].x, "100000");
        rows = null;
        // 1100 rows of 1000 values (one property, named 1000 times): over a million values
        // made in one query, more than the engine's value stack holds at once.
        var cols = [];
        for (var i = 0; i < 1000; i++) cols.push("'v" + (i % 7) + "' AS v");
        rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c " +
                        "LIMIT 1100) SELECT " + cols.join(", ") + " FROM c");
        assertEq(rows.length, 1100);
        assertEq(rows[1099].v, "v5");
        rows = null;
        // A million rows fit the heap.
        rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c " +
                        "LIMIT 1000000) SELECT x FROM c");
        assertEq(rows.length, 1000000);
        rows = null;
        System.gc();
        var objects = [];
        for (i = 0; i < 100000; i++) objects.push({ i: i });
        assertEq(objects.length, 100000);
        objects = null;
        assertEq(db.query("SELECT 6 * 7 AS v")[0].v, "42", "the connection works");
        db.close();
    });
    // query(sql, params): each row's source runs on the database pdb; its rows as uneval
    // gives them, or the message of what it threw.
    var pdb = new SQLite(path("params.db"));
    pdb.query("CREATE TABLE kv(k, v)");
    function params(source) {
        try {
            return uneval(eval(source));
        } catch (e) {
            return "error: " + e.message;
        }
    }
    table("parameters", [
        ['pdb.query("SELECT ? AS v, typeof(?) AS t", ["it\'s", "x"])', '[{v:"it\'s", t:"text"}]'],
        ['pdb.query("SELECT ?2 AS b, ?1 AS a", ["x", "y"])', '[{b:"y", a:"x"}]'],
        ['pdb.query("SELECT typeof(?) AS i, typeof(?) AS r, ? || \'\' AS big, ? + 0 AS neg",' +
         ' [7, 2.5, 9007199254740992, -0])', '[{i:"integer", r:"real", big:"9007199254740992", neg:"0"}]'],
        ['pdb.query("SELECT ? AS t, ? AS f, typeof(?) AS n, typeof(?) AS u", [true, false, null, undefined])',
         '[{t:"1", f:"0", n:"null", u:"null"}]'],
        ['pdb.query("SELECT :a AS a, @b AS b, $c AS c, :gone IS NULL AS g", {a: 1, b: "two", c: null})',
         '[{a:"1", b:"two", c:(void 0), g:"1"}]'],
        ['pdb.query("SELECT ? AS v", [{toString: function () { return "made"; }}])', '[{v:"made"}]'],
        ['pdb.query("SELECT length(?) AS n", ["\\u00c3\\u00a9"])', '[{n:"1"}]'],
        ['pdb.query("INSERT INTO kv VALUES(:k, 1); SELECT :k AS k", {k: "both"})', '[{k:"both"}]'],
        ['pdb.query("SELECT 1 AS one", null).length + pdb.query("SELECT 1", undefined).length', "2"],
        ['pdb.query("SELECT ?, ?", [1])', "error: SQL error: the statement takes 2 values, not 1\n" +
         "SQL query: SELECT ?, ?"],
        ['pdb.query("SELECT ?", [1, 2])', "error: SQL error: the statement takes 1 values, not 2\n" +
         "SQL query: SELECT ?"],
        ['pdb.query("SELECT ?", {a: 1})', "error: SQL error: the statement takes 1 values, not 0\n" +
         "SQL query: SELECT ?"],
        ['pdb.query("SELECT ?", "x")', "error: SQLite.query: parameters must be an array or an object"],
        ['pdb.query("SELECT :a", {get a() { throw new Error("no a"); }})', "error: no a"],
    ], String, params);

    test("a value that would break concatenated SQL is stored as it is", function () {
        var evil = "x'); DROP TABLE kv; --";
        assertEq(pdb.query("INSERT INTO kv VALUES(?, ?)", ["evil", evil]).length, 0);
        pdb.close();
        var again = new SQLite(path("params.db"));
        var rows = again.query("SELECT v FROM kv WHERE k = ?", ["evil"]);
        assertEq(rows.length, 1, "one row, and the table is still there");
        assertEq(rows[0].v, evil);
        again.close();
    });

} finally {
    removeTree(scratch);
}
