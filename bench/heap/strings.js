// The heap benchmark (bench/heap.sh): strings.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var a = [];
for (var i = 0; i < 1000000; i++) a.push("s" + i);
out(a.length + " " + a[999999]);
