// The heap benchmark (bench/heap.sh): integers.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var a = [];
for (var i = 0; i < 4000000; i++) a.push(i % 1000);
var sum = 0;
for (var i = 0; i < a.length; i++) sum += a[i];
out(a.length + " " + sum);
