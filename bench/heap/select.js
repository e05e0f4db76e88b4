// 300 000 rows selected into objects: through SQLite.query in Capsule (argv[1] names the
// module library); Rhino, which has no such module, builds the same row objects.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var rows, n = 300000;
if (typeof System != "undefined") {
    System.loadModule(argv[1]);
    var db = new SQLite(":memory:");
    rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT " + n +
                    ") SELECT x AS id, 'row ' || x AS name FROM c");
} else {
    rows = [];
    for (var i = 1; i <= n; i++) rows.push({id: String(i), name: "row " + i});
}
out(rows.length + " " + rows[n - 1].name);
