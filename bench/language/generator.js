// (a) A generator yielding 1 000 000 numbers, summed with for each.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
function range(n) {
    for (var i = 0; i < n; i++)
        yield i;
}
function run() {
    var sum = 0;
    for each (var v in range(1000000))
        sum += v;
    return sum;
}
out(run());
