// (c) An array comprehension over 1 000 000 numbers (from a generator: an array of them and
// the result together would not fit the runtime's 32 MiB script heap).
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
function range(n) {
    for (var i = 0; i < n; i++)
        yield i;
}
function run() {
    var doubled = [i * 2 for each (i in range(1000000))];
    return doubled.length + " " + doubled[999999];
}
out(run());
