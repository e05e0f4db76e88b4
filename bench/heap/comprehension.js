// The heap benchmark (bench/heap.sh): comprehension.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var a = [];
for (var i = 0; i < 1000000; i++) a.push(i);
var b = [x * 2 for each (x in a)];
out(b.length + " " + b[999999]);
