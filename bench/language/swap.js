// (b) 1 000 000 destructuring swaps.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
function run() {
    var a = 1, b = 2;
    for (var i = 0; i < 1000000; i++)
        [a, b] = [b, a];
    return a + "," + b;
}
out(run());
