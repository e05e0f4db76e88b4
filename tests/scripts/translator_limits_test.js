// The translator's limits as scripts meet them: nesting past its depth is a SyntaxError at
// the line where it goes too deep, never the source run untranslated (a const that takes a
// new value, a yield taken for a call); a source too large to translate is a RangeError;
// deep nesting within the limit translates.

function repeat(piece, n) {
    return new Array(n + 1).join(piece);
}

// What eval of the source gives, or the error's name, line within the source and message
// (an eval's lines count from the line of its call: the probe's error is on its first line).
function outcome(source, probe) {
    try {
        return String(eval(source));
    } catch (e) {
        return probe ? e.lineNumber : e.name + " " + (e.lineNumber - base) + " " + e.message;
    }
}
var base = outcome(")", true) - 1;

// Rows of [what, source, expected], named by what (the sources are long).
[
    ["a const assigned", "const c = 1;\n" + repeat("(", 2000) + "c = 2" + repeat(")", 2000) + "; c",
     "SyntaxError 2 nesting too deep"],
    ["a yield", "function g() { for (var i = 0; i < 3; i++)\n yield" + repeat("(", 2000) + "i" +
     repeat(")", 2000) + "; }\n[x for (x in g())].join()", "SyntaxError 2 nesting too deep"],
    ["an array", "let q = 1;\n\n" + repeat("[", 4000) + repeat("]", 4000), "SyntaxError 3 nesting too deep"],
    ["1000 parentheses", "let q = 2; " + repeat("(", 1000) + "q" + repeat(")", 1000), "2"],
    ["1200 operators", "let q = 3; q" + repeat(" + q", 1200), "3603"],
].forEach(function (row) {
    test("nesting: " + row[0], function () { assertEq(outcome(row[1]), row[2]); });
});

test("a source too large to translate is a RangeError", function () {
    var big = "let q = 1;" + repeat(" ", 8 * 1048576);
    assertEq(outcome(big), "RangeError 1 source too large to translate (more than 8 MiB)");
    assertEq(outcome("var q = 1;" + repeat(" ", 8 * 1048576) + "q"), "1");
});

done();
