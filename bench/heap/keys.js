// The heap benchmark (bench/heap.sh): keys.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var o = {};
for (var i = 0; i < 500000; i++) o["k" + i] = i;
var n = 0;
for (var k in o) n++;
out(n + " " + o.k499999);
