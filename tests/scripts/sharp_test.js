// Sharp variables read back as the shape they name, uneval and toSource write cycles in
// that form, functions inside a value come out bare, and the old comment forms and a
// byte-order mark are read as the engine of that era read them.

// Whether a and b have the same shape: equal primitives, and objects that pair up one to
// one (a cycle of one is the same cycle of the other), with the same keys in order.
function sameShape(a, b, seenA, seenB) {
    if (typeof a !== "object" || a === null) return a === b;
    if (typeof b !== "object" || b === null || Array.isArray(a) !== Array.isArray(b))
        return false;
    var i = seenA.indexOf(a);
    if (i >= 0 || seenB.indexOf(b) >= 0) return i === seenB.indexOf(b);
    seenA.push(a);
    seenB.push(b);
    var ka = Object.keys(a), kb = Object.keys(b);
    return ka.join() === kb.join() && a.length === b.length && ka.every(function (k) {
        return sameShape(a[k], b[k], seenA, seenB);
    });
}

table("a sharp variable names its literal's own object", [
    ["var a = #1=[1, #1#]; a[1] === a && a.length", "2"],
    ["var o = #1={n: 2, self: #1#}; o.self === o && Object.keys(o).join()", "n,self"],
    ["var x = [#1={}, #1#, #2=[#2#]]; x[0] === x[1] && x[2][0] === x[2]", "true"],
    ["var o = #1={get me() { return #1#; }}; o.me === o", "true"],
    ["var a = #1=[0, , #1#, ]; [a.length, 1 in a, a[2] === a].join()", "3,false,true"],
    ["var o = #1={__proto__: {k: 9}, s: #1#}; o.k + ',' + (o.s === o)", "9,true"],
    ["(function () { return #1={f: function () { return #1#; }}; })().f().f().a", "undefined"],
    ["#1={a: #1#}.a.a.a !== undefined", "true"],
    ["[#1#]", "throws SyntaxError"],
    ["#1=5", "throws SyntaxError"],
], String);

table("uneval and toSource write a cycle with sharp variables", [
    ["var a = {}; a.self = a; uneval(a)", "#1={self:#1#}"],
    ["var b = [1]; b.push(b); b.toSource()", "#1=[1, #1#]"],
    ["var c = {}; c.list = [c, {up: c}]; uneval({top: c})", "({top:#1={list:[#1#, {up:#1#}]}})"],
    ["var A = {}, B = {a: A}; A.b = B; uneval([A, B])", "[#1={b:#2={a:#1#}}, #2#]"],
    ["var s = {x: 1}; uneval([s, s])", "[{x:1}, {x:1}]"],
], String);

test("a cyclic value evaluates back to the same shape", function () {
    var a = {name: "a"}, b = [a, 2];
    a.b = b;
    a.self = a;
    b.push({back: b, a: a});
    [a, b, [a, b], {pair: [b, a]}].forEach(function (v) {
        assertTrue(sameShape(eval(uneval(v)), v, [], []), uneval(v));
    });
});

table("functions inside a value are written bare, one on its own in parentheses", [
    ["uneval([function () { return 1; }])", "[function () { return 1; }]"],
    ["uneval({f: function (x) { return x; }})", "({f:function (x) { return x; }})"],
    ["function g() {} uneval(g)", "function g() {}"],
    ["uneval(function () {})", "(function () {})"],
    ["eval(uneval([function (x) { return x * 2; }]))[0](21)", "42"],
], String);

// <!-- where a statement starts or after an operand, and --> first on its line, comment
// out the rest of the line; elsewhere <!-- opens an XML comment. The same with a construct
// of the language beside them, which sends the source through the translator.
table("old comment forms", [
    ["<!-- hidden from old browsers\n1 + 1\n// -->", "2"],
    ["var h = 3 <!-- a comment\n+ 1; h", "4"],
    ["--> at the start\n  --> indented\n5", "5"],
    ["var d = 6;\nd-->5 ? d : 0", "5"],
    ["let k = 7;\n<!-- hide\nk\n-->", "7"],
    ["let m = 8 <!-- comment\n;\n --> comment\nm", "8"],
    ["typeof <!-- xml -->", "xml"],
], String);

test("a byte-order mark is white space", function () {
    assertEq(eval("\xef\xbb\xbf1 + 2"), 3);
    assertEq(eval("\ufeff let b = 4; b"), 4);
    var path = "sharp_test_bom.js";
    var f = new File(path, "wb");
    f.write("\xef\xbb\xbfvar bomValue = #1=[#1#];\n");
    f.close();
    try {
        include(path);
        assertTrue(bomValue[0] === bomValue, "included");
    } finally {
        File.remove(path);
    }
});

done();
