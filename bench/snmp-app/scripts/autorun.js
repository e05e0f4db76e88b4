// Walks one subtree through the SNMP module a number of times and prints the objects
// read, the milliseconds of the fastest walk call and of all of them:
//   snmp-app <module> <agent> <oid> <rounds>
System.loadModule(argv[1]);
var s = new Snmp();
s.open(argv[2], "public", 2000);
var rounds = parseInt(argv[4], 10), objects = 0, best = Infinity, total = 0;
for (var i = 0; i < rounds; i++) {
    var start = Date.now();
    var w = s.walk(argv[3]);
    var ms = Date.now() - start;
    best = Math.min(best, ms);
    total += ms;
    if (!w) {
        System.print("walk failed");
        System.exit(1);
    }
    objects += w.length;
}
System.print(objects + " " + best + " " + total);
s.close();
