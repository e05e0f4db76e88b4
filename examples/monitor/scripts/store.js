// The event log and the last hour of readings in one SQLite file. One connection serves
// every thread, one at a time under Store.mutex.

var Store = {db: null, mutex: 0, keepMs: 3600 * 1000, lastPrune: 0};

Store.open = function (path) {
    if (!Store.mutex) Store.mutex = System.createMutex();
    var db = new SQLite(path);
    Util.locked(Store.mutex, function () { Store.db = db; });
    Store.query("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;" +
                "CREATE TABLE IF NOT EXISTS events(time INTEGER, kind TEXT, text TEXT);" +
                "CREATE TABLE IF NOT EXISTS readings(time INTEGER PRIMARY KEY, cpu INTEGER," +
                " processes INTEGER, charge INTEGER, load INTEGER, onBattery INTEGER);" +
                "CREATE INDEX IF NOT EXISTS events_time ON events(time)");
};

Store.close = function () {
    if (!Store.db) return;
    Util.locked(Store.mutex, function () {
        Store.db.close();
        Store.db = null;
    });
};

// What the monitor did not make itself (texts and readings of the devices) goes in as
// parameters, never into the statement text.
Store.query = function (sql, params) {
    return Util.locked(Store.mutex, function () {
        return Store.db ? Store.db.query(sql, params) : [];
    });
};

// A reading as a whole number, or null (NULL) for none.
Store.number = function (v) {
    return v === undefined || v === null || v !== v ? null : Math.round(v);
};

// Texts are stored as UTF-8.
Store.addEvent = function (kind, text) {
    var time = Date.now();
    Store.query("INSERT INTO events VALUES(?, ?, ?)",
                [time, Util.toUtf8(String(kind)), Util.toUtf8(String(text))]);
    return {time: time, kind: kind, text: text};
};

// The latest events, newest first.
Store.events = function (limit) {
    var rows = Store.query("SELECT time, kind, text FROM events ORDER BY time DESC, rowid DESC" +
                           " LIMIT " + Math.max(1, Math.min(limit | 0, 500)));
    var out = [];
    for (var i = 0; i < rows.length; i++)
        out.push({time: +rows[i].time, kind: rows[i].kind, text: Util.fromUtf8(rows[i].text)});
    return out;
};

// Stores a reading, and once a minute drops those older than an hour.
Store.addReading = function (r) {
    var sql = "INSERT OR REPLACE INTO readings VALUES(?, ?, ?, ?, ?, ?)";
    var values = [r.time, Store.number(r.cpu), Store.number(r.processes),
                  Store.number(r.charge), Store.number(r.load),
                  r.onBattery === undefined ? null : r.onBattery ? 1 : 0];
    if (r.time - Store.lastPrune > 60000) {
        Store.lastPrune = r.time;
        sql += "; DELETE FROM readings WHERE time < " + (r.time - Store.keepMs) +
               "; DELETE FROM events WHERE rowid NOT IN" +
               " (SELECT rowid FROM events ORDER BY time DESC LIMIT 10000)";
    }
    Store.query(sql, values);
};

// The readings of the last hour, oldest first.
Store.readings = function () {
    var rows = Store.query("SELECT * FROM readings WHERE time >= " + (Date.now() - Store.keepMs) +
                           " ORDER BY time");
    var out = [];
    function num(v) { return v === undefined ? null : +v; }
    for (var i = 0; i < rows.length; i++) {
        var r = rows[i];
        out.push({time: +r.time, cpu: num(r.cpu), processes: num(r.processes),
                  charge: num(r.charge), load: num(r.load),
                  onBattery: r.onBattery === undefined ? null : r.onBattery === "1"});
    }
    return out;
};
