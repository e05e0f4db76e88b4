// Generated sources past the engine's instruction fields: a function (here the code that
// eval compiles) with more than 65535 constants or inner functions compiles and runs, the
// names, strings and functions past that number included.

// The source text of n pieces made by piece(i), joined by sep.
function pieces(n, sep, piece) {
    var a = [];
    for (var i = 0; i < n; i++) a.push(piece(i));
    return a.join(sep);
}

// Each row compiles its own source, so that one row's memory is free for the next.
function tableOf(n) {
    var t = eval("[" + pieces(n, ",", function (i) { return '"s' + i + '"'; }) + "]");
    return t.length + " " + t[0] + " " + t[n - 1];
}
function keyed(n) {
    var o = eval("({" + pieces(n, ",", function (i) { return "k" + i + ": 'v" + i + "'"; }) + "})");
    return Object.keys(o).length + " " + o["k" + (n - 1)];
}
// Functions past 65535 inside one: all but the last are never made into closures.
function inner(n) {
    var f = eval("(function (make) { if (make) return [" +
                 pieces(n, ",", function (i) { return "function () {}"; }) +
                 "]; return function () { return 42; }; })");
    return f(false)();
}
// A function whose constants run past 65535 before the names it uses last: reading,
// writing, deleting and typeof of variables, a catch and a closure.
function late(n) {
    return eval("(function () { var o = {};" +
                pieces(n, "\n", function (i) { return "o.p" + i + " = 'c" + i + "';"; }) +
                "lateGlobal = 1; lateGlobal += o.p" + (n - 1) + ".length;" +
                "var kind = typeof lateGlobal, gone = delete lateGlobal;" +
                "try { missingAfterAll; } catch (lateError) { kind += ' ' + lateError.name; }" +
                "var f = function () { return o.p123; };" +
                "return [kind, gone, typeof lateGlobal, f()].join(); })")();
}

table("past 65535 constants and functions", [
    ["tableOf(100000)", "100000 s0 s99999"],
    ["keyed(70000)", "70000 v69999"],
    ["inner(66000)", "42"],
    ["late(70000)", "number ReferenceError,true,undefined,c123"],
], String);

done();
