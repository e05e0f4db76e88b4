// The SQLite benchmark's application (see bench/sqlite.sh):
//   sqlite-app <module> <database> insert <script.sql>   runs the file's text in one query
//   sqlite-app <module> <database> select <sql>          runs the statement, keeps the rows
// Prints the time of the query itself and the number of rows it returned.
System.loadModule(argv[1]);
var db = new SQLite(argv[2]);
var sql = argv[4];
if (argv[3] === "insert") {
    var f = new File(sql, "rb");
    sql = f.read();
    f.close();
}
var start = Date.now();
var rows = db.query(sql);
System.print("query " + (Date.now() - start) + " ms, " + rows.length + " rows");
db.close();
