// Regular expressions: the forms the engine of that era accepted compile with its meaning,
// deep backtracking over long inputs ends in a result, a loop's empty iteration ends the
// loop, and a pattern too complex is an InternalError.

// The match as text: its parts joined by "|" (undefined as "-"), or "null".
function matched(m) {
    return m === null ? "null" : m.map(function (p) { return p === undefined ? "-" : p; }).join("|");
}
function exec(pattern, input) {
    return matched(new RegExp(pattern).exec(input));
}

table("the forms of that engine", [
    ["exec('\\\\c1', '\\\\c1')", "\\c1"],            // \c not before a letter: a backslash
    ["exec('[\\\\c_]+', '\\\\c_')", "\\c_"],
    ["exec('\\\\cJ', '\\n')", "\n"],
    ["exec('\\\\8', '\\\\8')", "\\8"],               // \8 and \9 beyond the groups
    ["exec('(a)\\\\2', 'a\\x02')", "a\x02|a"],       // back references beyond the groups: octal
    ["exec('\\\\12', '\\n')", "\n"],
    ["exec('\\\\1(a)', 'a')", "a|a"],                // within the groups: a back reference
    ["exec('\\\\400', ' 0')", " 0"],                 // octal up to \377
    ["exec('\\\\0' + '7', '\\x07')", "\x07"],
    ["exec('[\\\\1]', '\\x01')", "\x01"],
    ["exec('[\\\\9]', '9')", "9"],
    ["exec('\\\\xg\\\\u12g', 'xgu12g')", "xgu12g"],  // \x and \u short of digits
    ["exec('\\\\u{2}', 'uu')", "uu"],
    ["exec('a\\\\x1', 'a\\x01')", "a\x01"],
    ["exec('{1}', '{1}')", "{1}"],                   // braces that quantify nothing
    ["exec('a{2}{3}', 'aa{3}')", "aa{3}"],
    ["exec('a{,2}', 'a{,2}')", "a{,2}"],
    ["exec('x{1,2', 'x{1,2')", "x{1,2"],
    ["exec('[a-\\\\d]+', 'a-5')", "a-5"],            // a class escape ends no range
    ["exec('(?=a)*b', 'b')", "b"],                   // quantified lookaheads
    ["exec('(?=(a))+', 'a')", "|a"],
    ["exec('[/]', '/')", "/"],
    ["/[/]x]/.exec('/x]')[0]", "/x]"],
    ["new RegExp('\\\\c1').source", "\\c1"],          // the source stays as written
    ["exec('a**', 'a')", "throws SyntaxError"],
    ["exec('[z-a]', 'a')", "throws SyntaxError"],
], String);

// An iteration of * + {n,} that matches nothing ends the loop, keeping what the earlier
// iterations captured.
table("empty iterations", [
    ["exec('(a*)*b', 'aaab')", "aaab|aaa"],
    ["exec('(a*)*', 'b')", "|-"],
    ["exec('(a*)+', 'b')", "|"],
    ["exec('(a|)*b', 'aab')", "aab|a"],
    ["exec('(a*?)*', 'aa')", "aa|a"],
    ["exec('(a*){2,}', 'aaa')", "aaa|"],
    ["exec('(?:x?)*y', 'xxz')", "null"],
], String);

var long = new Array(200001).join("ab");
table("deep backtracking on long inputs", [
    ["/(a|b)*c/.exec(long + 'c')[0].length", "400001"],
    ["/^(?:a|b)*$/.test(long)", "true"],
    ["/^(?:a|b)*c/.test(long)", "false"],
    ["/^(ab)*$/.exec(long)[1]", "ab"],
    ["long.replace(/(a|b)+/g, 'x')", "x"],
    ["new RegExp(new Array(10001).join('a|') + 'b').exec('b')[0]", "b"],
], String);

// A pattern past the limits: an InternalError that the script can catch and go on from.
function failure(f) {
    try {
        return "returned " + f();
    } catch (e) {
        return [e.name, e.message, e instanceof Error].join(", ");
    }
}
var complex = "InternalError, regular expression too complex, true";
var deep = new Array(20001).join("(") + "a" + new Array(20001).join(")");
table("too complex", [
    ["failure(function () { return new RegExp(deep); })", complex],
    ["failure(function () { return new RegExp('((a{1000}){1000}){1000}'); })", complex],
    ["failure(function () { return new RegExp('(ab){1001}'); })", complex],
    ["failure(function () { return /^(?:a|b)*$/.test(new Array(4000001).join('ab')); })",
     complex],
    ["failure(function () { return new RegExp(new Array(100001).join('(a)')).exec('a'); })",
     "returned null"],
    ["/^(?:a|b)*$/.test('ab')", "true"],
], String);

done();
