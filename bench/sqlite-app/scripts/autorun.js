// The SQLite benchmark's application (see bench/sqlite.sh):
//   sqlite-app <module> <database> insert <script.sql>   runs the file's text in one query
//   sqlite-app <module> <database> select <sql>          runs the statement, keeps the rows
//   sqlite-app <module> <database> objects <n>           builds the same rows in script
// Prints the time of the query itself and the number of rows it returned.
System.loadModule(argv[1]);
var db = new SQLite(argv[2]);
var sql = argv[4];
if (argv[3] === "insert") {
    var f = new File(sql, "rb");
    sql = f.read();
    f.close();
}
var start = Date.now(), rows;
if (argv[3] === "objects") {
    // The rows the select makes, built by script from object literals.
    rows = [];
    for (var i = 1; i <= +sql; i++)
        rows.push({ id: String(i), name: "row " + i });
} else {
    rows = db.query(sql);
}
System.print("query " + (Date.now() - start) + " ms, " + rows.length + " rows");
db.close();
