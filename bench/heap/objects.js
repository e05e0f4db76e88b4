// The heap benchmark (bench/heap.sh): objects.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var a = [];
for (var i = 0; i < 500000; i++) a.push({id: i, name: "n"});
out(a.length + " " + a[499999].id);
