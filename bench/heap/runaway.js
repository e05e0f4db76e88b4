// The heap benchmark (bench/heap.sh): runaway.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var hog = [];
try {
    for (;;) hog.push({n: hog.length, s: "x" + hog.length});
} catch (e) {
    var n = hog.length;
    hog = null;
    out(n + " " + e.name + ": " + e.message + " at " + e.fileName + ":" + e.lineNumber);
}
