// The heap benchmark (bench/heap.sh): join.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var parts = [];
for (var i = 0; i < 1000000; i++) parts.push("0123456789abcdef0123456789abcdef0123456789abcdef012345678" + (1000000 + i));
var s = parts.join("");
out(s.length + " " + s.slice(-7));
