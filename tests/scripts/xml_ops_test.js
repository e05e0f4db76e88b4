// E4X internal methods and operators (ECMA-357 9.1.1, 9.2.1, 11), through the forms the
// translator lowers the syntax to: x["@a"] for x.@a, x["*"] for x.*, __lang.xml.* for
// descendants, filters and qualified names. Each table row is source -> expected value,
// where an XML value stands for its unindented toXMLString().

XML.prettyPrinting = false;

function X(s) {
    return XML(s);
}
function L(s) {
    return XMLList(s);
}
function text(v) {
    return typeof v === "xml" ? v.toXMLString() : v;
}

var D = '<a k="1"><b>1</b><c/><b x="y">2</b>t</a>';

// [[Get]]: names, attributes, *, indexes; a list's get maps over its elements.
table("get (9.1.1.1, 9.2.1.1)", [
    ['X(D).b', '<b>1</b><b x="y">2</b>'],
    ['X(D)["@k"]', '1'],
    ['X(D)["@*"].length()', 1],
    ['X(D)["*"].length()', 4],
    ['X(D).zz.length()', 0],
    ['typeof X(D).zz', "xml"],
    ['var x = X(D); x[0] === x', true],
    ['X(D)[1]', undefined],
    ['X(D).b[1]', '<b x="y">2</b>'],
    ['X(D).b[2]', undefined],
    ['X(D).b["@x"]', 'y'],
    ['X("<a><b><c>1</c></b><b><c>2</c></b></a>").b.c', '<c>1</c><c>2</c>'],
    ['X(D)["@zz"].length()', 0],
    ['X("<a><b/></a>").b.c.d.length()', 0],
], text);

// [[Put]]: replaces the first match and drops the others, appends, creates elements on
// the way through an empty list's target, sets attributes.
table("put (9.1.1.2, 9.2.1.2)", [
    ['var x = X(D); x.b = "n"; x', '<a k="1"><b>n</b><c/>t</a>'],
    ['var x = X("<a/>"); x.b = "n"; x', '<a><b>n</b></a>'],
    ['var x = X("<a/>"); x.b = X("<q>2</q>"); x', '<a><q>2</q></a>'],
    ['var x = X("<a><b/></a>"); x.b = L("<q/><r/>"); x', '<a><q/><r/></a>'],
    ['var x = X("<a/>"); x["@b"] = 5; x', '<a b="5"/>'],
    ['var x = X("<a/>"); x["@b"] = L("<q>1</q><r>2</r>"); x', '<a b="1 2"/>'],
    ['var x = X("<a/>"); x["@b"] = "<\\"&\\t\\n\\r>"; x', '<a b="&lt;&quot;&amp;&#x9;&#xA;&#xD;>"/>'],
    ['var x = X("<a/>"); x.b = "<&>"; x', '<a><b>&lt;&amp;&gt;</b></a>'],
    ['var x = X("<a><b/><c/></a>"); x["*"] = "all"; x', '<a>all</a>'],
    ['var x = X("<a/>"); x.b.c.d = "v"; x', '<a><b><c><d>v</d></c></b></a>'],
    ['var x = X("<a/>"); x[0] = "v"; x', 'throws TypeError'],
    ['var x = X("<a><b>1</b></a>"); x.b[0] = "v"; x', '<a><b>v</b></a>'],
    ['var x = X("<a><b>1</b></a>"); x.b[1] = "v"; x', '<a><b>1</b><b>v</b></a>'],
    ['var x = X("<a><b>1</b></a>"); x.b[1] = X("<z/>"); x', '<a><b>1</b><z/></a>'],
    ['var x = X("<a><b><c/></b><b/></a>"); x.b.c = "v"; x', 'throws TypeError'],
    ['var x = X("<a><b/></a>"); x.b.c = "v"; x', '<a><b><c>v</c></b></a>'],
    ['var x = X("<a><b/></a>"); x.b["@k"] = "v"; x', '<a><b k="v"/></a>'],
    ['var x = X("<a><b k=\'1\'/></a>"); x.b["@k"][0] = "v"; x', '<a><b k="v"/></a>'],
    ['var x = X("<a><b/></a>"); x.b["@k"][0] = "v"; x', '<a><b k="v"/></a>'],
    ['var x = X("<a>t</a>"); x.text()[0] = "u"; x', '<a>u</a>'],
    ['var x = X("<a><b/></a>"); x.b += X("<c/>"); x', '<a><b/><c/></a>'],
    ['var x = X("<a/>"); x.b += X("<c/>"); x', '<a><c/></a>'],
    ['var x = X("<a>t</a>"); x.text()[0].b = 1; x', '<a>t</a>'],
    ['var x = X("<a/>"); var y = X("<y/>"); x.b = y; y["@k"] = 1; x', '<a><y/></a>'],
], text);

table("delete (9.1.1.3, 9.2.1.3)", [
    ['var x = X("<a><b/><c/><b/></a>"); delete x.b; x', '<a><c/></a>'],
    ['var x = X("<a b=\'1\' c=\'2\'/>"); delete x["@b"]; x', '<a c="2"/>'],
    ['var x = X("<a b=\'1\' c=\'2\'/>"); delete x["@*"]; x', '<a/>'],
    ['var x = X("<a><b/><c/></a>"); delete x.b[0]; x', '<a><c/></a>'],
    ['var x = X("<a><b/><c/></a>"); var l = x["*"]; delete l[1]; x.toXMLString() + l.length()', '<a><b/></a>1'],
    ['var x = X("<a><b/></a>"); delete x[0]', 'throws TypeError'],
    ['var x = X("<a>t<b/><c/></a>"); delete x["*"]; x', '<a/>'],
    ['var x = X("<a b=\'1\'/>"); var l = x["@b"]; delete l[0]; x', '<a/>'],
    ['var x = X("<a><b><c/></b><b><c/><d/></b></a>"); delete x.b.c; x', '<a><b/><b><d/></b></a>'],
], text);

table("has and enumeration (9.1.1.6, 9.2.1.5)", [
    ['var x = X("<a b=\'1\'><c/></a>"); ["c" in x, "d" in x, "@b" in x, "@c" in x, 0 in x, 1 in x, "*" in x].join()',
     "true,false,true,false,true,false,true"],
    ['var x = X("<a><b><c/></b></a>"); ["c" in x.b, 0 in x.b, 1 in x.b].join()', "true,true,false"],
    ['var r = []; for (var k in X("<a><b/><c/></a>")["*"]) r.push(k); r.join()', "0,1"],
    ['var r = []; for (var k in X("<a><b/></a>")) r.push(k); r.join()', "0"],
    ['var it = X("<a><b/><c/></a>")["*"].__iterator__(false); it.next().name() + it.next().name()', "bc"],
    ['var it = X("<a><b/></a>")["*"].__iterator__(true); it.next() + typeof it.next', "0function"],
    ['var it = X("<a/>").__iterator__(false); it.next().name() + ""', "a"],
    ['var it = X("<a/>").__iterator__(false); it.next(); try { it.next(); } catch (e) { e === StopIteration }', true],
], text);

// +, ==, typeof, instanceof and the conversions (ECMA-357 11.4.1, 11.5.1, 11.3.2).
table("operators (11)", [
    ['var x = X("<a><b/><c/></a>"); var l = x.b + x.c; typeof l + l.length() + (l instanceof XMLList)', "xml2true"],
    ['X("<a/>") + X("<b/>")', '<a/><b/>'],
    ['var l = X("<a/>") + X("<b/>"); l += X("<c/>"); l.length()', 3],
    ['X("<a>1</a>") + 1', "11"],
    ['"s" + X("<a><b/></a>")', "s<a><b/></a>"],
    ['+X("<a>41</a>") + 1', 42],
    ['X("<a>2</a>") * 3', 6],
    ['isNaN(X("<a>x</a>") * 1)', true],
    ['X("<a>1</a>") == X("<a>1</a>")', true],
    ['X("<a x=\'1\' y=\'2\'/>") == X("<a y=\'2\' x=\'1\'/>")', true],
    ['X("<a x=\'1\'/>") == X("<a x=\'2\'/>")', false],
    ['X("<a><b/></a>") == X("<a><c/></a>")', false],
    ['X("<a>1</a>") == "1"', true],
    ['X("<a>1.0</a>") == 1', false],
    ['X("<a><b/></a>") == "<a><b/></a>"', true],
    ['var x = X("<a><b>1</b><b>1</b></a>"); x.b == x.b', true],
    ['X("<a/>").zz == undefined', true],
    ['X("<a><b>1</b></a>").b == 1', true],
    ['var x = X("<a k=\'v\'><b>v</b></a>"); x["@k"] == x.b', true],
    ['X("<a>1</a>") === X("<a>1</a>")', false],
    ['var x = X("<a><b/></a>"); x.b[0] === x.b[0]', true],
    ['var x = X("<a><b/></a>"); x.b === x.b', false],
    ['X("<a>1</a>") != "1"', false],
    ['typeof X("<a/>") + typeof L("")', "xmlxml"],
    ['X("<a/>") instanceof XML', true],
    ['X("<a/>") instanceof XMLList', false],
    ['X("<a><b/></a>").b instanceof XMLList', true],
    ['X("<a/>") instanceof Object', true],
    ['String(X("<a>1<b/>2</a>"))', "<a>1<b/>2</a>"],
    ['String(X("<a>1<!--c-->2</a>"))', "12"],
    ['Object.prototype.toString.call(X("<a/>")) + Object.prototype.toString.call(L(""))', "[object XML][object XMLList]"],
    ['X("<a>b</a>") < X("<a>c</a>")', true],
    ['if (X("<a/>").zz) "truthy"', "truthy"],
], text);

// E4X CallMethod: methods win over children of the same name; a list of one answers its
// item's methods, simple content those of its string.
table("method calls (11.2.2.1)", [
    ['var x = X("<a><name>n</name><length>3</length></a>"); x.name().localName + x.length() + x.name + x.length',
     "a1n3"],
    ['X("<a><b>hi</b></a>").b.name().localName', "b"],
    ['X("<a><b>hi</b></a>").b.toUpperCase()', "HI"],
    ['X("<a><b>hi</b></a>").b.charAt(1)', "i"],
    ['X("<a><b>hi</b><b/></a>").b.name()', "throws TypeError"],
    ['X("<a><b/></a>").b.nothing()', "throws TypeError"],
    ['XML.prototype.toString.call(X("<q>1</q>"))', "1"],
    ['X("<a><b/></a>").toString.call(X("<q>1</q>"))', "throws TypeError"],
    ['XML.prototype.name.call({})', "throws TypeError"],
], text);

table("filters and descendants (11.2.3, 11.2.4)", [
    ['var x = X("<a><b k=\'1\'>x</b><b k=\'2\'>y</b><c k=\'1\'/></a>"); __lang.xml.filter(x["*"], function (i) { return i["@k"] == 1; }, this)',
     '<b k="1">x</b><c k="1"/>'],
    ['var x = X("<a><i><p>5</p></i><i><p>15</p></i></a>"); __lang.xml.filter(x.i, function ($x1) { with ($x1) return parseFloat(p) < 10; }, this)',
     '<i><p>5</p></i>'],
    ['__lang.xml.filter(X("<a/>"), function () { return this.marker; }, {marker: true})', '<a/>'],
    ['__lang.xml.filter(5, function () {}, this)', "throws TypeError"],
    ['var x = X("<a><b><b/></b><c><b/></c></a>"); __lang.xml.descendants(x, "b").length()', 3],
    ['var x = X("<a k=\'1\'><b k=\'2\'><c k=\'3\'/></b></a>"); __lang.xml.descendants(x, "@k").toString()', "123"],
    ['var x = X("<a>t<b>u</b></a>"); __lang.xml.descendants(x, "*").length()', 3],
    ['var x = X("<r><a><b/></a><a><b/><b/></a></r>"); __lang.xml.descendants(x.a, "b").length()', 3],
    ['__lang.xml.descendants({}, "b")', "throws TypeError"],
    ['__lang.xml.bareAttribute("a")', "throws ReferenceError"],
], text);

var N = '<a xmlns:p="urn:p" p:k="1" k="2"><p:b>1</p:b><b>2</b></a>';
table("qualified names (11.1.2)", [
    ['var p = new Namespace("urn:p"); X(N)[__lang.xml.key(p, "b")]', '<p:b xmlns:p="urn:p">1</p:b>'],
    ['X(N)[__lang.xml.key("*", "b")].length()', 2],
    ['X(N)[__lang.xml.key(new Namespace("urn:p"), "k", true)]', "1"],
    ['X(N)[__lang.xml.key("*", "k", true)].length()', 2],
    ['X(N)[__lang.xml.attributeKey("k")]', "2"],
    ['X(N)[__lang.xml.attributeKey(new QName("urn:p", "k"))]', "1"],
    ['X(N)[new QName("urn:p", "b")].length()', 1],
    ['X(N).b.length()', 1],
    ['var x = X(N); x[__lang.xml.key(new Namespace("q", "urn:q"), "c")] = "v"; x.toXMLString()',
     '<a p:k="1" k="2" xmlns:p="urn:p"><p:b>1</p:b><b>2</b><q:c xmlns:q="urn:q">v</q:c></a>'],
    ['String(__lang.xml.qualified(new Namespace("urn:p"), "b"))', "urn:p::b"],
    ['__lang.xml.qualified(new Namespace("urn:p"), "b", X(N))', '<p:b xmlns:p="urn:p">1</p:b>'],
    ['__lang.xml.setDefaultNamespace("urn:d"); var x = X("<a><b/></a>"); __lang.xml.setDefaultNamespace(""); x.toXMLString() + x.b.length()',
     '<a xmlns="urn:d"><b/></a>0'],
    ['__lang.xml.setDefaultNamespace("urn:d"); var x = X("<a><b/></a>"); var n = x.b.length(); __lang.xml.setDefaultNamespace(""); n', 1],
    ['var d = __lang.xml.getDefaultNamespace(); d.uri + "|" + d.prefix', "|"],
], text);

test("XML values across script threads", function () {
    var g = (function () { return this; })();
    g.xmlShared = X("<a><b/></a>");
    g.xmlThreadDone = false;
    System.createThread("xmlShared.b['@t'] = 'thread';" +
                        "xmlShared.appendChild(XML('<c>from thread</c>'));" +
                        "xmlMade = XMLList('<d/><e/>');" +
                        "for (var i = 0; i < 2000; i++) XML('<x>' + i + '</x>').toXMLString();" +
                        "xmlThreadDone = true;");
    assertTrue(waitUntil(function () { return g.xmlThreadDone; }), "the thread ended");
    assertEq(g.xmlShared.toXMLString(), '<a><b t="thread"/><c>from thread</c></a>');
    assertEq(g.xmlMade.length(), 2);
    assertEq(typeof g.xmlMade, "xml");
});

done();
