// The E4X syntax through the translator (ECMA-357 sections 11 and 12): tables of source text
// and the value its evaluation gives, each row evaluated as a program of its own through
// System.evaluate (an XML value stands for its unindented toXMLString()); the errors of
// malformed initialisers and their lines; lines after multi-line initialisers.

XML.prettyPrinting = false;

function run(source) {
    return System.evaluate("case.js", source);
}
function text(v) {
    return typeof v === "xml" ? v.toXMLString() : v;
}
var R = 'var x = <r a="1"><i k="1"><n>a</n></i><i k="2"><n>b</n><m/></i>t</r>; ';
var N = 'var p = new Namespace("urn:p"); ' +
        'var y = <y xmlns:p="urn:p"><p:a p:at="q">1</p:a><a>2</a><p:b/></y>; ';

table("XML initialisers (11.1.4)", [
    ['<a b="1" c=\'2\'/>', '<a b="1" c="2"/>'],
    ['var v = "a\\"<&", c = "<&>"; <a b={v}>{c}</a>', '<a b="a&quot;&lt;&amp;">&lt;&amp;&gt;</a>'],
    ['var t = "q", n = "k"; <{t} {n}={1 + 1}>x</{t}>', '<q k="2">x</q>'],
    ['var at = \'u="1"\'; <a {at}/>', '<a u="1"/>'],
    ['var s = "x"; <a b="{s}">{"{"}}</a>', '<a b="{s}">{}</a>'],
    ['<a>{<b>{1 + 2}</b>}{<c/> + <d/>}</a>', '<a><b>3</b><c/><d/></a>'],
    ['<a><![CDATA[<{x}>]]></a>.toString()', '<{x}>'],
    ['XML.ignoreComments = false; var c = <a><!-- {x} --></a>; XML.ignoreComments = true; c',
     '<a><!-- {x} --></a>'],
    ['XML.ignoreProcessingInstructions = false; var c = <?p {d}?>; ' +
     'XML.ignoreProcessingInstructions = true; c.nodeKind()', 'processing-instruction'],
    ['<a>\n  x  \n</a>.toString()', 'x'],
    ['<p:a xmlns:p="urn:p" p:b="1"/>.@*.length()', 1],
    ['<a b-c.d="1"/>.@["b-c.d"]', '1'],
    ['<a>{1, 2}</a>', '<a>2</a>'],
    ['function f(v) { return <a>{v}</a>; } f("x") + f(<b/>)', '<a>x</a><a><b/></a>'],
    // names of text and braces together
    ['var n = 2; <p:b{n} xmlns:p="urn:p">t</p:b{n}>.localName()', 'b2'],
    ['var a = "f", b = "g"; <{a}{b}/>', '<fg/>'],
    ['var a = "f", b = "g"; <{a}-{b}></{a}-{b}>', '<f-g/>'],
    ['var i = 3; <a x{i}="1" y{i}z={i}/>', '<a x3="1" y3z="3"/>'],
    ['var n = "c"; <a b{n}="1"/>.@bc.toString()', '1'],
], text, run);

table("XMLList initialisers (11.1.5)", [
    ['<><a/>t<b/></>.length()', 3],
    ['<></>.length()', 0],
    ['<>{<a/>}{"t"}</>', '<a/>t'],
    ['typeof <><a/></>', 'xml'],
], text, run);

table("property accessors and calls (11.2.1, 11.2.2)", [
    [R + 'x.@a', '1'],
    [R + 'x.@*.length() + x.*.length()', 4],
    [R + 'var k = "a"; x.@[k]', '1'],
    [R + 'x.i.@k.toString()', '12'],
    [R + 'x.i[1].@k.toString().length', 1],
    [R + 'x.i.(@k == 2).name().toString()', 'i'],
    [R + 'x.@class.length()', 0],
    [N + 'y.p::a.toString() + y.*::a.length() + y.p::a.@p::at + y.p::*.length()', '12q2'],
    [N + 'y.p::["a"].toString() + y.@*::at.length()', '10'],
    [N + 'y.*::a.@*::at.toString()', 'q'],
    [N + 'var q = new QName(p, "b"); y.p::b.name() == q', true],
], text, run);

table("descendants (11.2.3)", [
    [R + 'x..n.length()', 2],
    [R + 'x..@k.toString()', '12'],
    [R + 'x..*.length()', 8],
    [R + 'x..i..n', '<n>a</n><n>b</n>'],
    [N + 'y..p::a.length() + y..*::a.length()', 3],
], text, run);

table("filters (11.2.4)", [
    [R + 'x.i.(@k == "2").n', '<n>b</n>'],
    [R + 'x.i.(n == "a").@k', '1'],
    [R + 'var want = "b"; x.i.(n == want).@k', '2'],
    [R + 'x.i.(n.(String(n) == "b").length()).@k', '2'],
    [R + 'x.i.(@k == 2 && m.length()).length()', 1],
    [R + 'x.i.(m.length())', 'throws ReferenceError'],
    [R + 'x.i.(function () { return @k == 1; }()).@k', '1'],
    [R + 'var o = {w: "2", f: function () { return x.i.(@k == this.w).@k; }}; o.f()', '2'],
    [R + 'x.*.(*.length() > 1).@k', '2'],
    [R + 'x.i.(nope == 1)', 'throws ReferenceError'],
    [N + 'y.*.(@p::at == "q").length()', 1],
    ['var p = new Namespace("urn:p"); <y xmlns:p="urn:p"><e><p:v>1</p:v></e><e><p:v>2</p:v></e></y>' +
     '.e.(p::v == 2).p::v', '<p:v xmlns:p="urn:p">2</p:v>'],
    ['(<a><b c="1"/><b c="2"/></a>).b.(@c > 1).(@c < 3).@c', '2'],
    ['var l = [1, 2, 3]; <a><b/><b/></a>.b.(l.length == 3).length()', 2],
], text, run);

table("attribute and qualified identifiers alone (11.1.1, 11.1.2)", [
    ['@a', 'throws ReferenceError'],
    ['var p = new Namespace("urn:p"); var q = p::a; q instanceof QName && q.uri + "|" + q.localName',
     'urn:p|a'],
    ['*::a.uri', null],
], text, run);

table("with statements around bare selectors", [
    [R + 'with (x) @a', '1'],
    [R + 'with (x) [@*.length(), *.length(), @["a"]].join()', '1,3,1'],
    [R + 'with (x) with (x.i[1]) [@a, @k].join()', '1,2'],
    [R + 'with (x) with ({a: 5}) @a', '1'],
    [R + 'with ({}) @a', 'throws ReferenceError'],
    [R + 'with (x) i.(@k == 2).length()', 1],
    [R + 'x.i.(function () { with (<q z="9"/>) return String(@z) + @k == "92"; }()).@k', '2'],
    [R + 'with (x) var f = function () { return @a; }; f()', '1'],
    [R + 'var r = []; for (var k = 0; k < 2; k++) with (k ? x.i[1] : x) r.push(k ? @k : @a); r.join()',
     '1,2'],
    [N + 'with (y) @p::at', 'throws ReferenceError'],
    [N + 'with (y.p::a) @p::at', 'q'],
    [R + 'function g() { with (x) { yield @a; yield *.length(); } } var r = []; ' +
     'for (var v in g()) r.push(String(v)); r.join()', '1,3'],
], text, run);

table("function:: qualification", [
    [R + 'x.function::toString() == x.toXMLString()', true],
    ['var x = <a><name>n</name><length>2</length></a>; ' +
     '[typeof x.function::name, x.function::name().toString(), x.function::length()].join()',
     'function,a,1'],
    ['<a>b</a>.function::charAt(0)', 'b'],
    [R + 'x.i.function::length() + x.i[0].function::childIndex()', 2],
    [R + 'x.function::["attribute"]("a")', '1'],
    [R + 'x.function::nothing', undefined],
    [R + 'x.function::nothing()', 'throws TypeError'],
    ['var o = {v: 7, f: function () { return this.v; }}; o.function::f() + "abc".function::length', 10],
    [R + 'delete x.function::toString; typeof x.function::toString', 'function'],
    [R + 'function g() { yield x.function::attribute(yield 1); } var it = g(); it.next(); ' +
     'it.send("a").toString()', '1'],
    // bare: the method of the first object in scope that has one, else the plain name
    ['function::parseInt("42") + typeof function::String', '42function'],
    ['var x = <a><name>n</name></a>; with (x) [function::name(), name, typeof function::name].join()',
     'a,n,function'],
    ['with ({k: 5}) function::k', 5],
    [R + 'x.i.(function::childIndex() == 1).@k', '2'],
    [R + 'with (x) function::nothing_here', 'throws ReferenceError'],
    ['with ({}) function::[1]', 'throws ReferenceError'],
    ['function::x = 1', 'throws SyntaxError'],
], text, run);

table("default xml namespace (12.1)", [
    ['default xml namespace = "urn:d"; var a = <a><b/></a>; default xml namespace = ""; ' +
     'a.namespace().uri + a.b.length()', 'urn:d0'],
    ['default xml namespace = new Namespace("urn:d"); var a = <a><b/></a>; var n = a.b.length(); ' +
     'default xml namespace = ""; n', 1],
    ['function f() { default xml namespace = "urn:f"; return <a/>; } var a = f(); ' +
     'a.namespace().uri + "|" + <b/>.namespace().uri', 'urn:f|'],
    ['function f() { default xml namespace = "urn:f"; throw 1; } try { f(); } catch (e) {} ' +
     '<b/>.namespace().uri', ''],
    ['function f(k) { switch (k) { case 1: default xml namespace = "urn:s"; default: return <a/>; } } ' +
     'f(1).namespace().uri + "|" + f(2).namespace().uri', 'urn:s|'],
], text, run);

table("operators (11.3-11.6, 11.4.1)", [
    [R + 'typeof x.@a + typeof x.zz + typeof x..n', 'xmlxmlxml'],
    [R + 'delete x.@a; delete x.i[0].@k; x.@*.length() + x.i.@k.length()', 1],
    [R + 'delete x.i; x.i.length()', 0],
    [R + '"i" in x && "@a" in x && !("zz" in x)', true],
    [R + 'x.@a = 5; x.@a += 1; x.i[0].@k++; ++x.i[1].@k; [x.@a, x.i[0].@k, x.i[1].@k].join()',
     '51,2,3'],
    [R + 'x.i += <i k="3"/>; x.i.length() + x.i[2].@k', '33'],
    [R + 'x.i[0].n = "z"; x.i[0]', '<i k="1"><n>z</n></i>'],
    [R + 'x.@b = "q"; x.@b', 'q'],
    [N + 'y.p::c = "v"; y.p::c.toString() + y.p::c.namespace().uri', 'vurn:p'],
    ['var a = <a/>; a.@[new QName("urn:q", "t")] = 1; a.@*::t.toString()', '1'],
    ['(<a/> + <b/>).length()', 2],
    ['var d = <a>1</a>; var x = d <!-- a comment to the end of the line }\n+ 2; x', '12'],
    ['var r = []; for each (var v in <><a>1</a><a>2</a></>) r.push(v.toString()); r.join()', '1,2'],
    ['var r = []; for (var k in <><a/><a/></>) r.push(k); r.join()', '0,1'],
], text, run);

table("other routes to the compiler", [
    ['eval("<a>{1 + 1}</a>")', '<a>2</a>'],
    ['new Function("v", "return <a v={v}/>.@v;")(3).toString()', '3'],
    ['function g(x) { for each (var i in x.i) yield i.@k.toString(); yield x.i.(@k == 2).length(); }' +
     ' var r = []; for (var v in g(<r><i k="1"/><i k="2"/></r>)) r.push(v); r.join()', '1,2,1'],
    ['[i.@k.toString() for each (i in <r><i k="1"/><i k="2"/></r>.i) if (i.@k > 1)].join()', '2'],
    // yields inside an initialiser's braces and under a selector, in source order
    ['function g() { var x = <{yield 1} a={yield 2}>{yield 3}<b/>{yield 4}</{yield 5}>; yield x.toXMLString(); }' +
     ' var it = g(), r = [it.next()]; ["e", "A", "B", "C", "e"].forEach(function (v) { r.push(it.send(v)); }); r.join()',
     '1,2,3,4,5,<e a="A">B<b/>C</e>'],
    ['function g() { yield (yield 1).b.toString() + (yield 2)..c.length(); } var it = g(); it.next();' +
     ' it.send(<a><b>x</b></a>); it.send(<a><d><c/></d><c/></a>)', 'x2'],
], text, run);

// Malformed initialisers: SyntaxError at the line of the fault; code after a multi-line
// initialiser keeps its lines.
var kLines = [
    ['var x = <a>\n  <b>\n</a>;', 'SyntaxError', 3],
    ['var x = 1;\nx = <a b=1/>;', 'SyntaxError', 2],
    ['var x = <a>\n\n  <b/>', 'SyntaxError', 1],
    ['var x = <a>{\n  1 +\n</a>;', 'SyntaxError', 3],
    ['var x = <r>\n <a b="1\n2"/>\n <!--\n -->\n</r>; null.f;', 'TypeError', 6],
    ['var x = <r>\n{1}\n</r>\n\nnull.f;', 'TypeError', 5],
    ['var x = <>\r\n<a/>\r\n</>;\r\nnull.f;', 'TypeError', 4],
    ['var x = <a/>;\nx.function::toString(\n  1)\n.nothing();', 'TypeError', 4],
    ['var x = <a a="1"/>;\nwith (x) {\n  @a;\n  @a.b\n}\nnull.f;', 'TypeError', 6],
    ['var x = <a\n  b{1}>\n</a>;', 'SyntaxError', 2],
    ['var x = 1;\nx.function::a = 1;', 'SyntaxError', 2],
    ['with (x) {}\n*;', 'SyntaxError', 2],
];

kLines.forEach(function (c) {
    test("line of " + JSON.stringify(c[0]), function () {
        var e = assertThrows(function () { run(c[0]); });
        assertEq(e.name, c[1], c[0] + ": " + e);
        assertEq(e.lineNumber, c[2], c[0] + ": " + e);
    });
});

done();
