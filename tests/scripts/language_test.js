// The script language beyond ECMAScript 5.1, through every route to the compiler: tables of
// source text and the value its evaluation gives (each evaluated on its own, through eval,
// System.evaluate or the Function constructor), the errors the language reports, and
// generators across script threads and sleeping natives.

function run(source) {
    return System.evaluate("case.js", source);
}

// source -> uneval of its completion value.
var kValues = [
    // let: block scope, a fresh binding per entry, let statements and expressions
    ["var x = 1; { let x = 2; } x", "1"],
    ["let t = 5; t", "5"],
    ["var fs = []; for (var i = 0; i < 3; i++) { let v = i; fs.push(function () { return v; }); }" +
     " fs.map(function (f) { return f(); })", "[0, 1, 2]"],
    ["var fs = []; for (let i = 0; i < 3; i++) fs.push(function () { return i; });" +
     " fs.map(function (f) { return f(); })", "[3, 3, 3]"],
    ["var r = []; for (var i = 0; i < 2; i++) { let u; r.push(u); u = i; } r", "[(void 0), (void 0)]"],
    ["var a = 1; let (a = a + 1, b = a) { [a, b] }", "[2, 1]"],
    ["var z = 4; [(let (z = 5) z * 2), z]", "[10, 4]"],
    ["var z = 4; [let (z = 5) z * 2, z]", "[5]"],
    ["(function () { let q = 1; { let q = 2; { let q = 3; } } return q; })()", "1"],
    ["switch (1) { case 1: let s = 'in'; s }", "\"in\""],
    // a function declared in a block of let bindings is made where it stands, each entry's
    // keeping that entry's bindings
    ["var fs = []; for (var i = 0; i < 3; i++) { let x = i; function g() { return x; } fs.push(g); }" +
     " fs.map(function (f) { return f(); })", "[0, 1, 2]"],
    ["var r = []; for (var i = 0; i < 2; i++) { let x = i; r.push(typeof g1); function g1() { return x; } } r",
     "[\"undefined\", \"function\"]"],
    ["var fs = []; for (var i = 0; i < 2; i++) let (x = i) { if (x >= 0) { function g() { return x; } }" +
     " fs.push(g); } fs.map(function (f) { return f(); })", "[0, 1]"],
    ["function gen() { for (var i = 0; i < 2; i++) { let x = i; function g() { return x; } yield g; } }" +
     " var fs = [f for (f in gen())]; fs.map(function (f) { return f(); })", "[0, 1]"],
    // const
    ["const c = 1; c = 2; c += 3; c++; [c, (c = 9)]", "[1, 9]"],
    // destructuring
    ["var [a, , b] = [1, 2, 3]; [a, b]", "[1, 3]"],
    ["var {p: x, q: {r: y}} = {p: 1, q: {r: 2}}; [x, y]", "[1, 2]"],
    ["var a = 1, b = 2; [a, b] = [b, a]; [a, b]", "[2, 1]"],
    ["(function () { var a = 1, b = 2; [a, b] = [b, a]; return [a, b]; })()", "[2, 1]"],
    ["(function () { var a = 1, b = 2; [a, b] = [, a]; return [a, b]; })()", "[(void 0), 1]"],
    ["var a, b; var v = ([a, b] = [3, 4]); [v, a, b]", "[[3, 4], 3, 4]"],
    ["var o = {}; [o.x, o.y] = 'xy'; o.x + o.y", "\"xy\""],
    ["(function ([a, [b]], {c: d}) { return a + b + d; })([1, [2]], {c: 3})", "6"],
    ["(function ([a], b) {}).length", "2"],
    ["var r = []; for (var [k, v] in {a: 1, b: 2}) r.push(k + v); r", "[\"a1\", \"b2\"]"],
    ["var r = []; for (let [k, v] in ['x']) r.push(k + v); r", "[\"0x\"]"],
    ["var {a, b} = {a: 1, b: 2}; var o = {a, b}; o.a + o.b", "3"],
    // comprehensions and generator expressions
    ["[i * 2 for (i in [5, 6])]", "[0, 2]"],
    ["[[i, j] for (i in {a: 1, b: 2}) for (j in {c: 3}) if (i != 'b')]", "[[\"a\", \"c\"]]"],
    ["var i = 'kept'; [i for (i in {x: 1})]; i", "\"kept\""],
    ["var g = (k + '!' for (k in {a: 1, b: 2})); [g.next(), g.next()]", "[\"a!\", \"b!\"]"],
    ["(function (g) { return g.next(); })(k + '?' for (k in {a: 1}))", "\"a?\""],
    ["(function () { return [a * 2 for each (a in arguments)]" +
     ".concat((b + this.c for each (b in arguments)).next()); }).call({c: 1}, 1, 2)", "[2, 4, 2]"],
    // expression closures and conditional catch
    ["(function (x) x * x)(7)", "49"],
    ["({get v() 5}).v", "5"],
    ["function c(v) { try { throw v; } catch (e if typeof e == 'number') { return 'n'; }" +
     " catch (f if typeof f == 'string') { return 's' + f; } catch (e) { return 'o'; } }" +
     " [c(1), c('x'), c(null)]", "[\"n\", \"sx\", \"o\"]"],
    ["try { try { throw 5; } catch (e if e == 4) { 'no' } } catch (e) { e }", "5"],
    // generators
    ["function r(n) { for (var i = 0; i < n; i++) yield i; } var g = r(3), a = [];" +
     " try { for (;;) a.push(g.next()); } catch (e) { a.push(e === StopIteration); } a",
     "[0, 1, 2, true]"],
    ["function e() { var x = 0; for (;;) x = yield x * 2; } var g = e(); g.next();" +
     " [g.send(5), g.send(7)]", "[10, 14]"],
    ["function f() { var a = 0, b = 1; for (;;) { yield a; [a, b] = [b, a + b]; } }" +
     " var g = f(), r = []; for (var i = 0; i < 8; i++) r.push(g.next()); r",
     "[0, 1, 1, 2, 3, 5, 8, 13]"],
    ["function t() { try { yield 1; } catch (e) { yield 'caught ' + e; } } var g = t();" +
     " g.next(); g.throw('x')", "\"caught x\""],
    ["function l() { out: for (var i = 0; i < 3; i++) for (var j = 0; j < 3; j++) {" +
     " if (j == 1) continue out; if (i == 2) break out; yield i * 10 + j; } yield 'end'; }" +
     " var g = l(), r = []; try { for (;;) r.push(g.next()); } catch (e) {} r", "[0, 10, \"end\"]"],
    ["function s(x) { switch (x) { case 1: yield 'one'; case 2: yield 'two'; break;" +
     " default: yield 'other'; } } [s(1).next(), s(2).next(), s(3).next()]",
     "[\"one\", \"two\", \"other\"]"],
    ["function w() { var v = 1 + (yield 2) + (yield 3); yield v; } var g = w(); g.next();" +
     " g.send(10); g.send(100)", "111"],
    ["function th() { yield this.v; } ({v: 42, g: th}).g().next()", "42"],
    ["function ar() { yield arguments.length; } ar(1, 2, 3).next()", "3"],
    ["function k() { var o = {a: 1, b: 2}; for (var p in o) yield p + o[p]; } var g = k();" +
     " [g.next(), g.next()]", "[\"a1\", \"b2\"]"],
    ["function f() { try { yield 1; return; } finally { log.push('fin'); } } var log = [];" +
     " var g = f(); g.next(); try { g.next(); } catch (e) { log.push(e === StopIteration); } log",
     "[\"fin\", true]"],
    ["function f() { yield 1; throw 5; } var g = f(), r = [g.next()]; try { g.next(); }" +
     " catch (e) { r.push(e); } try { g.next(); } catch (e) { r.push(e === StopIteration); } r",
     "[1, 5, true]"],
    ["function f() { try { try { yield 1; } finally { log.push(1); } } finally { log.push(2); } }" +
     " var log = [], g = f(); g.next(); g.close(); log", "[1, 2]"],
    ["function f() { for (var i = 0; i < 3; i++) { try { if (i == 1) break; yield i; }" +
     " finally { log.push('f' + i); } } yield 'after'; } var log = [], g = f(), r = [];" +
     " try { for (;;) r.push(g.next()); } catch (e) {} r.concat(log)",
     "[0, \"after\", \"f0\", \"f1\"]"],
    ["function f() { try { yield 1; } catch (e) { yield 'c' + e; } finally { yield 'fin'; }" +
     " yield 'end'; } var g = f(), r = [g.next(), g.throw(2), g.next(), g.next()]; r",
     "[1, \"c2\", \"fin\", \"end\"]"],
    ["function f() { out: try { yield 1; break out; } finally { log.push('f'); } yield 2; }" +
     " var log = [], g = f(); [g.next(), g.next(), log.length]", "[1, 2, 1]"],
    ["function f() { var x = 1, get = function () { return x; }; yield get(); x = 2;" +
     " yield get(); } var g = f(); [g.next(), g.next()]", "[1, 2]"],
    ["function f() { var r = [(yield 1), (yield 2)]; var o = {a: (yield 3)}; yield r.concat(o.a); }" +
     " var g = f(); g.next(); g.send('a'); g.send('b'); g.send('c')",
     "[\"a\", \"b\", \"c\"]"],
    ["function f() { var x = (yield 1) || (yield 2); yield x; } var g = f(); g.next();" +
     " [g.send(0), g.send(5)]", "[2, 5]"],
    ["function f(a) { yield Math.max(a, (yield a * 2)); } var g = f(3); [g.next(), g.send(10)]",
     "[6, 10]"],
    ["function m(a) { yield a; yield a + 1; yield a + 2; yield a + 3; yield a + 4; yield a + 5;" +
     " yield a + 6; yield a + 7; yield a + 8; yield a + 9; yield a + 10; } var g = m(0), r = [];" +
     " for (var k = 0; k < 11; k++) r.push(g.next()); r", "[0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10]"],
    ["function p(a, b, c, d) { [a, {x: b}] = [b, {x: a}]; for (c in {z: 1}) ; d++; yield 0;" +
     " yield a + b + c + d; } var g = p('1', '2', '3', 4); [g.next(), g.next()]", "[0, \"21z5\"]"],
    ["function f() { yield 1; } var g = f(); g.next(); try { g.next(); } catch (e) {}" +
     " try { g.send(1); 'no' } catch (e) { e === StopIteration }", "true"],
    ["var c = 0; var g = (c++ for (x in [1, 2])); [c, g.next(), c]", "[0, 0, 1]"],
    ["function f() { let a = 1; { let a = 2; yield a; } yield a; } var g = f();" +
     " [g.next(), g.next()]", "[2, 1]"],
    ["var top = this; function f() { var fs = [], gs = []; for (var i = 0; i < 2; i++) {" +
     " let j = i, k = function () { return this === top; }; fs.push(function () { return j; });" +
     " gs.push(j + x for each (x in [10])); yield k(); } yield [fs[0](), fs[1](), gs[0].next()," +
     " gs[1].next()]; } var g = f(); [g.next(), g.next(), g.next()]",
     "[true, true, [0, 1, 10, 11]]"],
    ["function f(o) { with (o) { yield a; a = (yield b) + 1; } yield o.a; } var g = f({a: 1, b: 2});" +
     " [g.next(), g.next(), g.send(5)]", "[1, 2, 6]"],
    ["function f() { yield typeof h; var a = h; yield a === h; h = 2; yield h; function h() {} }" +
     " var g = f(); [g.next(), g.next(), g.next()]", "[\"function\", true, 2]"],
    ["function f() { var x = yield 1; yield x; } var g = f(); g.next();" +
     " [g.next(5), Object.prototype.toString.call(g), uneval(g)]",
     "[(void 0), \"[object Generator]\", \"({})\"]"],
    // let and const, more
    ["var fs = []; for (var j = 0; j < 2; j++) for (let k in {a: 1}) fs.push(function () {" +
     " return k + j; }); fs.map(function (f) { return f(); })", "[\"a2\", \"a2\"]"],
    ["function f() { let x = 'f'; return (function () { return x; })(); } f()", "\"f\""],
    ["var r = []; for (var i = 0; i < 2; i++) { let v = i; try { throw v; } catch (e) {" +
     " let w = e * 10; r.push(function () { return v + w; }); } } r.map(function (f) {" +
     " return f(); })", "[0, 11]"],
    ["(function () { 'use strict'; const k = 1; try { k = 2; } catch (e) { return e.name; } })()",
     "\"TypeError\""],
    ["eval('let e1 = 5; e1 * 2')", "10"],
    // destructuring, more
    ["var a, b; var v = ([a, , b] = [1, 2, 3]); [v.length, a, b]", "[3, 1, 3]"],
    ["var a = 1, b = 2, c = 3; [a, b, c] = [c, a, b]; [a, b, c]", "[3, 1, 2]"],
    ["var {'a-b': x, 0: y} = {'a-b': 1, 0: 2}; x + y", "3"],
    ["[k + v for ([k, v] in {a: 1, b: 2})]", "[\"a1\", \"b2\"]"],
    ["function f() { return [1, [2, 3]]; } var [p, [, q]] = f(); p + q", "4"],
    // expression closures, conditional catch, more
    ["[1, 2].map(function (x) x + 1)", "[2, 3]"],
    ["(function () ({a: 1}))().a", "1"],
    ["var log = []; try { try { throw 1; } catch (e if e > 5) { log.push('no'); } finally {" +
     " log.push('fin'); } } catch (e) { log.push('out' + e); } log", "[\"fin\", \"out1\"]"],
    ["try { try { throw 3; } catch (e if (function () { throw 'guard'; })()) { 1 } catch (e) {" +
     " 'second' } } catch (x) { 'out ' + x }", "\"out guard\""],
    ["function f() { yield 1; } var g = f(); [g.__iterator__() === g, String(g)]",
     "[true, \"[object Generator]\"]"],
    // a generator's control flow: each yield a state, as the language's engine runs it
    ["function g(a) { yield a ? yield 1 : yield 2; } var it = g(true); [it.next(), it.send('s')]",
     "[1, \"s\"]"],
    ["function g() { var r = (yield 1) && (yield 2); yield r; } var it = g(); [it.next(), it.send(0)]",
     "[1, 0]"],
    ["function g() { var i = 0; while (true) { try { if (i++ == 2) return; yield i; } finally { continue; } } }" +
     " var a = [], it = g(); for (var n = 0; n < 4; n++) a.push(it.next()); a", "[1, 2, 4, 5]"],
    ["function g() { do { var x = yield 1; } while (x); yield 'out'; } var it = g(); [it.next(), it.send(true), it.send(false)]",
     "[1, 1, \"out\"]"],
    ["function g() { for (var k in yield 1) yield k; } var it = g(); it.next(); [it.send({p: 1, q: 2}), it.next()]",
     "[\"p\", \"q\"]"],
    ["function g() { var a = 0, o = {n: 1}; a += yield 1; o.n *= yield 2; yield [a, o.n, typeof (yield)]; }" +
     " var it = g(); it.next(); it.send(3); it.send(4); it.send('x')", "[3, 4, \"string\"]"],
    ["function g(n) { if (n > 0) { for (var x in g(n - 1)) yield x; } yield n; } [v for (v in g(3))]", "[0, 1, 2, 3]"],
    ["function g() { try { yield 1; } catch (e if e == 2) { yield 'two'; } catch (e) { yield 'other ' + e; } }" +
     " var it = g(); it.next(); it.throw(3)", "\"other 3\""],
    ["function g() { try { yield 1; } finally { return; } } var it = g(); it.next();" +
     " try { it.next(); 'no' } catch (e) { e === StopIteration }", "true"],
    ["function g() { label: { yield 1; break label; yield 2; } var x = 1; with ({x: 3}) { yield x; } yield x; }" +
     " [v for (v in g())]", "[1, 3, 1]"],
    // the older forms: getters and setters, catch and parenthesised patterns, export, import
    ["var o = {}; o.x getter = function () { return 42; }; o.x", "42"],
    ["var o = {}; o['y'] setter = function (v) { this.z = v * 2; }; o.y = 5; o.z", "10"],
    ["var o = {}; o.x getter = function () 1; o.x setter = function (v) { this.v = v; }; o.x = 3;" +
     " [o.x, o.v]", "[1, 3]"],
    ["var p = {a getter: function () 'A', b setter: function (v) { this.c = v; }}; p.b = 3;" +
     " [p.a, p.c]", "[\"A\", 3]"],
    ["getter function topLevelGetter() { return 'g'; } topLevelGetter", "\"g\""],
    ["try { throw [1, [2]]; } catch ([a, [b]]) { a + b }", "3"],
    ["try { throw new Error('m'); } catch ({message: m}) { m }", "\"m\""],
    ["var r = []; try { throw [0, 2]; } catch ([a, b] if a) { r.push('no'); } catch ([c, d]) {" +
     " r.push(c, d); } r", "[0, 2]"],
    ["var a = 'outer', r = []; for (var i = 0; i < 2; i++) try { throw [i]; } catch ([a] if a) {" +
     " r.push('in ' + a); } catch (e) { r.push(a); } r", "[\"outer\", \"in 1\"]"],
    ["var log = [], t = {set x(v) { log.push('set ' + v); }};" +
     " var s = {get a() { log.push('get a'); return 1; }, get b() { log.push('get b'); return 2; }};" +
     " var v = (({a: t.x, b: t.x}) = s); [v === s, log.join()]",
     "[true, \"get a,set 1,get b,set 2\"]"],
    ["var x, y; (([x, y])) = [7, 8]; [x, y]", "[7, 8]"],
    ["var a = 1; export a; export *; a", "1"],
    ["var o = {n1: 3, n2: 4}; import o.n1; import o.*; [n1, n2]", "[3, 4]"],
    ["function g() { f(yield); } var it = g(); it.next(); var f = function (v) { return v; };" +
     " try { it.send(9); } catch (e) { e === StopIteration }", "true"],
    ["function g() { var x = yield; yield [x, (yield 1), 2]; } var it = g(); it.next(); it.send(5);" +
     " it.send(6)", "[5, 6, 2]"],
    ["function g(l) { var r = l.(@id == (yield @id)); yield r.length(); }" +
     " var it = g(<><p id='a'/><q id='b'/><r id='a'/></>);" +
     " [String(it.next()), String(it.send('a')), String(it.send('x')), it.send('a')]",
     "[\"a\", \"b\", \"a\", 2]"],
    // functions give the text they were written with
    ["function g(a) { yield [b for each (b in a)]; } [g, function (x) x * x," +
     " {get p() 1}.__lookupGetter__('p')].map(String)",
     "[\"function g(a) { yield [b for each (b in a)]; }\", \"function (x) x * x\"," +
     " \"function () 1\"]"],
];

test("the constructs give the values of the language", function () {
    for (var i = 0; i < kValues.length; i++)
        assertEq(uneval(run(kValues[i][0])), kValues[i][1], kValues[i][0]);
});

test("eval, indirect eval and the Function constructor take the language", function () {
    assertEq(eval("let a = [1, 2]; [x * 10 for (x in a)].length"), 2);
    var indirect = eval;
    assertEq(indirect("var [p, q] = [3, 4]; p + q"), 7);
    assertEq(new Function("a", "let [x, y] = a; return x + y;")([1, 2]), 3);
    assertEq(Function("n", "for (var i = 0; i < n; i++) yield i;")(2).next(), 0);
    (function () {
        let local = "direct";
        assertEq(eval("local"), "direct", "a direct eval sees the block's let");
    })();
});

// A program of this size is written on two threads: what runs is what was written, in both
// halves, and an error found while writing the second half names its line.
test("a large program runs as written, and its errors name their lines", function () {
    var block = "function f_N(a) { let [x, y] = a; for each (let v in [x, y]) yield v * N; }\n" +
                "let (k = N) total += k;\n[p, q] = [q, p];\n";
    var source = "var total = 0, p = 1, q = 2;\n", n = 0;
    for (; source.length < 270 * 1024; n++)
        source += block.replace(/N/g, n);
    var last = "f_" + (n - 1);
    assertEq(uneval(run(source + "[total, p, q, [v for (v in f_1([1, 2]))], [v for (v in " + last +
                        "([1, 2]))]]")),
             uneval([n * (n - 1) / 2, n % 2 ? 2 : 1, n % 2 ? 1 : 2, [1, 2], [n - 1, 2 * (n - 1)]]));
    try {
        run(source + "var g = function () (yield 1);");
        fail("no error");
    } catch (e) {
        assertEq(e.name + " " + e.lineNumber, "SyntaxError " + (3 * n + 2));
    }
});

// source -> [error name, line]
var kErrors = [
    ["yield 1;", "SyntaxError", 1],
    ["var a;\n\n{\n let b = 1;\n let b = 2;\n}", "TypeError", 5],
    ["function g() {\n yield 1;\n return 2;\n}", "TypeError", 3],
    ["let ok = 1;\nvar x = ;", "SyntaxError", 2],
    ["let ok = 1;\n\nfor (var [a, b, c] in o) ;", "SyntaxError", 3],
    ["var [a] = null;", "TypeError", 1],
    ["let {b} = undefined;", "TypeError", 1],
    ["function f() { yield 1; }\nf().send(2);", "TypeError", 2],
    ["function f() {\n var g = yield;\n g.next();\n}\nvar g = f(); g.next(); g.send(g);", "TypeError", 3],
    ["function f() { try { yield 1; } finally {\n yield 2; } }\nvar g = f(); g.next();\ng.close();", "TypeError", 4],
    ["let ok = 1;\n\n\nundefinedName;", "ReferenceError", 4],
    ["function g() {\n yield 1;\n null.x;\n}\nvar it = g(); it.next(); it.next();", "TypeError", 3],
    ["{\n let a = 1;\n a.b.c;\n}", "TypeError", 3],
    ["var r = [x\n for (x in {a: 1})\n if (x.y.z)];", "TypeError", 3],
];

// What the language refuses at compile time: source -> [error name, message, line].
var kRefusals = [
    ["function f() {\n getter function x() {}\n}", "SyntaxError",
     "getter or setter function outside the top level of a script", 2],
    ["x getter = function () {};", "SyntaxError", "invalid assignment left-hand side", 1],
    ["var o = {\n a getter: 1};", "SyntaxError", "missing function after getter or setter", 2],
    ["function g() {\n f(yield 1, 2);\n}", "SyntaxError", "yield expression must be parenthesized", 2],
    ["function f() {\n import o.*;\n}", "SyntaxError",
     "import of * outside the top level of a script", 2],
    ["import\n  a;", "SyntaxError", "invalid import expression", 2],
    ["export 1;", "SyntaxError", "missing name in export statement", 1],
    ["try {} catch ([a, 1]) {}", "SyntaxError", "missing variable name", 1],
    ["function g() {\n import o.a; yield 1;\n}", "SyntaxError",
     "import in a generator is not supported", 2],
];

test("refused forms are errors at their line, in the language's words", function () {
    for (var i = 0; i < kRefusals.length; i++) {
        var c = kRefusals[i];
        var e = assertThrows(function () { run(c[0]); }, c[0]);
        assertEq(e.name + ": " + e.message + " @" + e.lineNumber, c[1] + ": " + c[2] + " @" + c[3], c[0]);
    }
});

test("errors name the kind and the line of the script", function () {
    for (var i = 0; i < kErrors.length; i++) {
        var c = kErrors[i];
        var e = assertThrows(function () { run(c[0]); }, c[0]);
        assertEq(e.name, c[1], c[0] + ": " + e);
        assertEq(e.lineNumber, c[2], c[0] + ": " + e);
        assertEq(e.fileName, "case.js", c[0]);
    }
    var e = assertThrows(function () { eval("let a;\nlet a;"); });
    assertEq(e.message, "redeclaration of variable a");
});

// source -> "Name: message @line" of what the language refuses when it compiles, and of the
// names of a block that are gone after it.
var kRefusals = [
    ["var c;\nconst c = 1;", "TypeError: redeclaration of var c @2"],
    ["function f() {}\nconst f = 1;", "TypeError: redeclaration of function f @2"],
    ["(function (p) {\n const p = 1; })", "TypeError: redeclaration of formal parameter p @2"],
    ["let v;\nconst v = 1;", "TypeError: redeclaration of variable v @2"],
    ["{ let a;\n var a; }", "TypeError: redeclaration of variable a @2"],
    ["{ let a;\n function a() {} }", "TypeError: redeclaration of variable a @2"],
    ["let ok;\nlabel: let y = 1;", "SyntaxError: let declaration not directly within block @2"],
    ["let ok;\nfor (let [a, b] = c in o) ;", "SyntaxError: invalid for/in left-hand side @2"],
    ["let ok;\n[a, [b, 1]] = c;", "SyntaxError: invalid assignment left-hand side @2"],
    ["{ let q1 = 1; }\nfunction f() { return q1; }\nf()", "ReferenceError: q1 is not defined @2"],
    ["switch (1) { case 1: let s1 = 1; }\ns1", "ReferenceError: s1 is not defined @2"],
    ["let (x = 1) { let y1 = x; }\ny1", "ReferenceError: y1 is not defined @2"],
];

test("what the language refuses, and names gone after their block", function () {
    kRefusals.forEach(function (row) {
        var e = assertThrows(function () { run(row[0]); }, row[0]);
        assertEq(e.name + ": " + e.message + " @" + e.lineNumber, row[1], row[0]);
    });
});

test("close runs pending finally blocks; a yield in one is a TypeError", function () {
    closeLog = [];
    run("function f() { try { yield 1; yield 2; } finally { closeLog.push('closed'); } }" +
        "var g = f(); g.next(); g.close(); closeLog.push(g.close() === undefined);" +
        "try { g.next(); } catch (e) { closeLog.push(e === StopIteration); }");
    assertEq(closeLog.join(), "closed,true,true");
    var e = assertThrows(function () {
        run("function f() { try { yield 1; } finally { yield 2; } } var g = f(); g.next(); g.close();");
    });
    assertEq(e.name, "TypeError");
    assertEq(run("function f() { yield 1; } var g = f(); g.close(); try { g.next(); 'no' }" +
                 " catch (e) { e === StopIteration }"), true, "a newborn closes at once");
});

test("a generator is plain script: its body may sleep, and another thread may resume it", function () {
    run("function slow() { for (var i = 0; i < 3; i++) { System.sleep(5); yield i; } }");
    var g = run("slow()");
    assertEq(g.next(), 0);
    sharedGenerator = g;
    fromThread = [];
    System.createThread("fromThread.push(sharedGenerator.next()); fromThread.push(sharedGenerator.next());");
    assertTrue(waitUntil(function () { return fromThread.length === 2; }), "the thread resumed it");
    assertEq(fromThread.join(), "1,2");
    assertThrows(function () { g.next(); }, "the end on this thread again");
});

test("deep recursion and exceptions through generators", function () {
    var depth = run("function down(n) { if (n) { var g = down(n - 1); yield g.next() + 1; }" +
                    " else yield 0; } down(200).next()");
    assertEq(depth, 200);
    var e = assertThrows(function () {
        run("function bad() { yield 1; throw new RangeError('inside'); } var g = bad(); g.next(); g.next();");
    });
    assertEq(e.name, "RangeError");
});

done();
