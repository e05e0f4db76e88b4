// Errors as the script language words them: the message of each common error, naming what
// failed as the script wrote it where the line tells; compile errors (the text alone, the
// line in lineNumber); the file and line of eval code; the stack's form; the error
// classes; System.compile.

function run(source) {
    return System.evaluate("case.js", source);
}

function described(e) {
    return e && e.name ? e.name + ": " + e.message : "throws " + uneval(e);
}

// source -> "Name: message" of what evaluating it throws.
var kRuntime = [
    ["undefinedName", "ReferenceError: undefinedName is not defined"],
    ["var o = {};\no.missing(1)", "TypeError: o.missing is not a function"],
    ["var o = {a: {}};\no.a.b(2)", "TypeError: o.a.b is not a function"],
    ["var y = {};\n(y.a = [1, 2])()", "TypeError: (y.a = [1, 2]) is not a function"],
    ["var x = 3;\nx()", "TypeError: x is not a function"],
    ["(function () { var local = 'text'; local(); })()", "TypeError: local is not a function"],
    ["var f = 1;\nString(f(2))", "TypeError: f is not a function"],
    ["function make() { return 4; }\nmake()()", "TypeError: make() is not a function"],
    ["[1].forEach(5)", "TypeError: 5 is not a function"],
    ["var u;\nu.x", "TypeError: u is undefined"],
    ["var n = null;\nn.x = 1", "TypeError: n is null"],
    ["var o = {a: {}};\no.a.b.c", "TypeError: o.a.b is undefined"],
    ["var list = [];\ndelete list[3].name", "TypeError: list[3] is undefined"],
    ["undefined.x", "TypeError: undefined has no properties"],
    ["null[0]", "TypeError: null has no properties"],
    ["var a, b;\na.x + b.x", "TypeError: undefined has no properties"],
    ["new 3", "TypeError: 3 is not a constructor"],
    ["var o = {};\nnew o.Missing()", "TypeError: o.Missing is not a constructor"],
    ["({}) instanceof 3", "TypeError: invalid 'instanceof' operand 3"],
    ["'a' in 'abc'", "TypeError: invalid 'in' operand \"abc\""],
    ["var o = {toString: function () { return {}; }, valueOf: function () { return {}; }};\n'' + o",
     "TypeError: can't convert [object Object] to primitive type"],
    ["(function () { 'use strict'; Object.freeze({a: 1}).a = 2; })()", "TypeError: a is read-only"],
    ["function deep() { return deep() + 1; } deep()", "InternalError: too much recursion"],
    ["new Array(-1)", "RangeError: invalid array length"],
    ["[].length = 1.5", "RangeError: invalid array length"],
];

kRuntime.forEach(function (row) {
    test("runtime: " + row[0], function () {
        var e = assertThrows(function () { run(row[0]); });
        assertEq(described(e), row[1]);
        assertEq(e.fileName, "case.js");
        assertEq(e.lineNumber, row[0].split("\n").length);
    });
});

// source -> "Name: message @line": the text alone, the line apart.
var kCompile = [
    ["var a = 1;\nvar b = ;", "SyntaxError: syntax error @2"],
    ["a b", "SyntaxError: missing ; before statement @1"],
    ["f(1\n 2)", "SyntaxError: missing ) after argument list @2"],
    ["var s = 'open;", "SyntaxError: unterminated string literal @1"],
    ["1 = 2", "SyntaxError: invalid assignment left-hand side @1"],
    ["let x;\nfor (1 in o) ;", "SyntaxError: invalid for/in left-hand side @2"],
    ["let x;\nfor (var [a, b, c] in o) ;",
     "SyntaxError: left-hand side of for..in loop must be an array of length 2 to accept key/value pair @2"],
    ["var c = 1;\nif (c)\n  let x = 2;", "SyntaxError: let declaration not directly within block @3"],
    ["const c = 1;\n\nvar c;", "TypeError: redeclaration of const c @3"],
    ["function g() {\n  yield 1;\n  return 2;\n}", "TypeError: generator function g returns a value @3"],
];

kCompile.forEach(function (row) {
    test("compile: " + row[0], function () {
        var e = assertThrows(function () { run(row[0]); });
        assertEq(described(e) + " @" + e.lineNumber, row[1]);
        assertEq(e.fileName, "case.js");
    });
});

test("eval code and the Function constructor's functions name the calling script's line", function () {
    var here = new Error().lineNumber + 1;
    var e = assertThrows(function () { eval("1;\n\nnull.x"); }, "eval");
    assertEq([e.fileName, e.lineNumber, e.message].join(), [testFile, here + 2, "null has no properties"].join());
    var here2 = new Error().lineNumber + 1;
    e = assertThrows(function () { eval("var ok;\nok ok"); }, "eval of a syntax error");
    assertEq([e.fileName, e.lineNumber, e.message].join(),
             [testFile, here2 + 1, "missing ; before statement"].join());
    var here3 = new Error().lineNumber + 1;
    var f = new Function("a", "return a.b;");
    e = assertThrows(function () { f(undefined); }, "the function");
    assertEq([e.fileName, e.lineNumber, e.message].join(), [testFile, here3, "a is undefined"].join());
    // In another evaluation's code, eval names that evaluation's file.
    e = assertThrows(function () { System.evaluate("other.js", "\n\neval('nowhere.y')"); }, "other.js");
    assertEq(e.fileName + ":" + e.lineNumber + " " + e.message, "other.js:3 nowhere is not defined");
});

// source -> the frames of case.js in the stack of the error it throws.
var kStacks = [
    ["function f(a, b) { throw new Error('m'); }\nf(1, 'two')", 'f(1,"two")@case.js:1\n@case.js:2'],
    ["function outer() { var r = inner(null, undefined, true); return r; }\n" +
     "function inner(x, y, z) { return x.p; }\nouter()",
     "inner(null,(void 0),true)@case.js:2\nouter()@case.js:1\n@case.js:3"],
    ["var g = function (o) { o.missing(); };\n\ng({k: [1]})", "([object Object])@case.js:1\n@case.js:3"],
    ["eval('\\n\\nthrow new TypeError(\"t\")')", "@case.js:3\n@case.js:1"],
    ["function cb(v) { throw new Error('m'); }\n[7].forEach(cb)", "cb(7)@case.js:1\n@case.js:2"],
    ["function s(p) { System.compile('q.js', 'var = 1'); }\ns(1)", "s(1)@case.js:1\n@case.js:2"],
];

kStacks.forEach(function (row) {
    test("stack: " + row[0], function () {
        var e = assertThrows(function () { run(row[0]); });
        var lines = e.stack.split("\n");
        assertEq(lines.filter(function (l) { return /@case\.js:/.test(l); }).join("\n"), row[1]);
        assertEq(lines[lines.length - 1], "", "the last line ends");
    });
});

test("errors at one place of functions alike name each its own expression", function () {
    var seen = [];
    for (var i = 0; i < 3; i++) {
        var f = eval("(function (o" + i + ") { return o" + i + ".p.q; })");
        try { f({}); } catch (e) { seen.push(e.message); }
    }
    function a(o) { return o.p.q; }
    function b(w) { return w.p.q; }
    [a, b, a].forEach(function (g) {
        try { g({}); } catch (e) { seen.push(e.message); }
    });
    assertEq(seen.join(), "o0.p is undefined,o1.p is undefined,o2.p is undefined," +
                          "o.p is undefined,w.p is undefined,o.p is undefined");
});

test("a long string argument is cut in the stack; an error without frames has an empty stack", function () {
    var e = assertThrows(function () {
        run("function s(t) { throw new Error(); }\ns(new Array(100).join('a'))");
    });
    assertEq(e.stack.split("\n")[0], 's("' + new Array(65).join("a") + '...")@case.js:1');
    var plain = Object.create(Error.prototype);
    assertEq(plain.stack, "");
});

// The classes: every kind is an Error, InternalError among them, one argument long.
var kClasses = [
    ["new TypeError('t') instanceof Error", "true"],
    ["new TypeError('t') instanceof RangeError", "false"],
    ["TypeError.prototype instanceof Error", "true"],
    ["new InternalError('i') instanceof Error", "true"],
    ["String(new InternalError('i'))", "\"InternalError: i\""],
    ["InternalError('i') instanceof InternalError", "true"],
    ["[Error.length, TypeError.length, InternalError.length].join()", "\"1,1,1\""],
    ["InternalError.prototype.constructor === InternalError", "true"],
    ["[InternalError.prototype.name, InternalError.prototype.message].join()", "\"InternalError,\""],
    ["var e = new InternalError('m', 'f.js', 4); [e.fileName, e.lineNumber].join()", "\"f.js,4\""],
    ["Object.keys(global).indexOf('InternalError')", "-1"],
];

table("class", kClasses, uneval);

test("too much recursion is an InternalError, and the script goes on", function () {
    var e = assertThrows(function () { (function r() { r(); })(); });
    assertTrue(e instanceof InternalError, String(e));
    assertEq(e.message, "too much recursion");
    assertEq(run("6 * 7"), 42);
});

test("System.compile compiles as evaluation does and runs nothing", function () {
    compiledRan = false;
    assertEq(System.compile("c.js", "compiledRan = true; function declaredThere() {}"), true);
    assertEq(compiledRan, false);
    assertEq(typeof declaredThere, "undefined");
    var e = assertThrows(function () { System.compile("c.js", "\nfunction g() { yield 1; return 2; }"); });
    assertEq(described(e) + " " + e.fileName + ":" + e.lineNumber,
             "TypeError: generator function g returns a value c.js:2");
    e = assertThrows(function () { System.compile("c.js"); });
    assertEq(e.message, "Native function format error: System.compile(<script file name>, <script source>)");
});
