function f(a, b) { return a + b; }
var x = 0;
for (var i = 0; i < 500000; i++) x = f(x, i) & 0xffff;
