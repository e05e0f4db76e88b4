// for each over a 1 000 000-element array and over an iterator of 1 000 000 values, and a
// for-in over the array's keys. Written as the translator writes `for each`
// (for (v in __lang.each(x))); bench/enumeration.sh runs it in Capsule and, with the loops
// turned back into `for each`, in rhino. Prints the loop times in milliseconds.
function run() {
    var a = [];
    for (var i = 0; i < 1000000; i++) a.push(i);
    var limit = 1000000;
    var counter = {
        __iterator__: function () {
            var n = 0;
            return {next: function () { if (n < limit) return n++; throw StopIteration; }};
        }
    };
    var t0 = Date.now(), sum = 0, count = 0;
    for (var v in __lang.each(a)) sum += v;
    var t1 = Date.now();
    for (var v in __lang.each(counter)) sum += v;
    var t2 = Date.now();
    for (var k in a) count++;
    var t3 = Date.now();
    if (sum !== 999999000000 || count !== 1000000) throw new Error("wrong sums");
    return "array values " + (t1 - t0) + ", iterator values " + (t2 - t1) + ", array keys " + (t3 - t2);
}
var text = run();
if (typeof System !== "undefined") {
    System.print(text);
    System.exit(0);
} else {
    print(text);
}
