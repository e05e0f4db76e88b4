// E4X built-in objects (ECMA-357 13): the methods of XML and XMLList, Namespace, QName,
// isXMLName, the XML settings and constructors. Rows are source -> expected value, an XML
// value standing for its unindented toXMLString().

XML.prettyPrinting = false;

function X(s) {
    return XML(s);
}
function L(s) {
    return XMLList(s);
}
// Each row starts from the default settings, without pretty printing.
function run(source) {
    XML.setSettings();
    XML.prettyPrinting = false;
    return (0, eval)(source);
}
function form(v) {
    if (v === null || v === undefined) return String(v);
    if (typeof v === "xml") return v.toXMLString();
    if (v instanceof Array) return "[" + v.map(form).join(", ") + "]";
    if (v instanceof Namespace) return "ns(" + v.prefix + "," + v.uri + ")";
    if (v instanceof QName) return "qn(" + v.uri + "," + v.localName + ")";
    return v;
}
var D = "<a xmlns:p='urn:p' k='1' p:m='2'><b>1</b><p:c>2</p:c><b x='y'>3</b>t<d><b>4</b></d></a>";
var PC = new QName("urn:p", "c");

table("XML.prototype (13.4.4)", [
    ['X(D).attribute("k")', "1"],
    ['X(D).attribute(new QName("urn:p", "m"))', "2"],
    ['X(D).attributes().length()', 2],
    ['X(D).child("b").length()', 2],
    ['X(D).child(1)', '<p:c xmlns:p="urn:p">2</p:c>'],
    ['X(D).child(9).length()', 0],
    ['[X(D).b[1].childIndex(), X(D).childIndex(), X(D).attribute("k").childIndex()]', "[2, -1, -1]"],
    ['X(D).children().length()', 5],
    ['XML.ignoreComments = false; X("<a><!--1--><b><!--2--></b></a>").comments()', "<!--1-->"],
    ['[X(D).contains(X(D)), X(D).b[0].contains(X("<b>1</b>"))]', "[true, true]"],
    ['var x = X(D); var c = x.d.copy(); c.b = "z"; [x.d.b, c.b, c.parent()]', '[<b xmlns:p="urn:p">4</b>, <b xmlns:p="urn:p">z</b>, undefined]'],
    ['[X(D).descendants("b").length(), X(D).descendants().length(), X(D).descendants("@x")]', "[3, 10, y]"],
    ['[X(D).elements().length(), X(D).elements("b").length()]', "[4, 2]"],
    ['[X(D).hasOwnProperty("b"), X(D).hasOwnProperty("zz"), X(D).hasOwnProperty("@k"), X(D).hasOwnProperty(0)]',
     "[true, false, true, true]"],
    ['[X(D).hasComplexContent(), X(D).hasSimpleContent(), X(D).b[0].hasSimpleContent(), X("<a/>").hasSimpleContent()]',
     "[true, false, true, true]"],
    ['XML.ignoreComments = false; var c = X("<a><!--c--></a>").comments()[0]; [c.hasSimpleContent(), c.hasComplexContent()]',
     "[false, false]"],
    ['X(D).inScopeNamespaces()', "[ns(p,urn:p)]"],
    ['X(D).d.b.inScopeNamespaces()', "[ns(p,urn:p)]"],
    ['var x = X("<a><b/><c/></a>"); x.insertChildAfter(x.b[0], X("<z/>")); x.insertChildAfter(null, X("<y/>"))',
     "<a><y/><b/><z/><c/></a>"],
    ['var x = X("<a><b/><c/></a>"); x.insertChildBefore(x.c[0], X("<z/>")); x.insertChildBefore(null, X("<y/>"))',
     "<a><b/><z/><c/><y/></a>"],
    ['typeof X("<a><b/></a>").insertChildAfter(X("<q/>"), X("<z/>"))', "undefined"],
    ['var x = X("<a><b/></a>"); x.appendChild(X("<c/>")); x.appendChild("text"); x.appendChild(L("<d/><e/>"))',
     "<a><b/><c/>text<d/><e/></a>"],
    ['var x = X("<a><b/></a>"); x.b.appendChild(x)', "throws TypeError"],
    ['var x = X("<a/>"); var c = X("<c/>"); x.appendChild(c); c["@k"] = 1; x', '<a><c k="1"/></a>'],
    ['var x = X("<a/>"), y = X("<y><c/></y>"); x.appendChild(y.c); y.c["@k"] = 1; x', "<a><c/></a>"],
    ['X("<a><b/></a>").prependChild(X("<c/>"))', "<a><c/><b/></a>"],
    ['[X(D).length(), X(D).b.length()]', "[1, 2]"],
    ['[X(D).localName(), X(D).child(PC).localName(), X(D).text()[0].localName()]', "[a, c, null]"],
    ['[X(D).name(), X(D).child(PC).name(), X(D).text()[0].name()]', "[qn(,a), qn(urn:p,c), null]"],
    ['[X(D).namespace(), X(D).namespace("p"), X(D).namespace("zz"), X(D).child(PC).namespace()]',
     "[ns(,), ns(p,urn:p), undefined, ns(p,urn:p)]"],
    ['[X(D).namespaceDeclarations(), X(D).d.namespaceDeclarations()]', "[[ns(p,urn:p)], []]"],
    ['XML.ignoreComments = false; XML.ignoreProcessingInstructions = false; var x = X("<a k=\'1\'>t<!--c--><?p x?><b/></a>"); [x.nodeKind(), x.attribute("k").nodeKind(), x.children()[0].nodeKind(), x.children()[1].nodeKind(), x.children()[2].nodeKind()]',
     "[element, attribute, text, comment, processing-instruction]"],
    ['var x = X("<a><b/></a>"); x.b.appendChild("x"); x.b.appendChild("y"); x.b.appendChild(""); var n = x.b.children().length(); x.normalize(); [n, x.b.children().length(), x]',
     "[3, 1, <a><b>xy</b></a>]"],
    ['var x = X(D); [x.b[0].parent() === x, x.parent(), x.attribute("k").parent() === x, x.b.parent() === x, L("<a/><b/>").parent()]',
     "[true, null, true, true, undefined]"],
    ['XML.ignoreProcessingInstructions = false; var x = X("<a><?p 1?><?q 2?></a>"); [x.processingInstructions().length(), x.processingInstructions("q")]',
     "[2, <?q 2?>]"],
    ['[X(D).propertyIsEnumerable("0"), X(D).propertyIsEnumerable("1"), X(D).b.propertyIsEnumerable(1), X(D).b.propertyIsEnumerable(2)]',
     "[true, false, true, false]"],
    ['X("<a xmlns:p=\'urn:p\' xmlns:q=\'urn:q\'><b/></a>").removeNamespace(new Namespace("urn:q"))',
     '<a xmlns:p="urn:p"><b/></a>'],
    ['X("<a xmlns:p=\'urn:p\' p:k=\'1\'/>").removeNamespace(new Namespace("urn:p"))', '<a p:k="1" xmlns:p="urn:p"/>'],
    ['X("<a><b/><c/><b/></a>").replace("b", X("<z/>"))', "<a><z/><c/></a>"],
    ['X("<a><b/><c/></a>").replace(1, "text")', "<a><b/>text</a>"],
    ['X("<a><b/><c/></a>").replace("*", X("<z/>"))', "<a><z/></a>"],
    ['X("<a><b/><c/></a>").setChildren(X("<z/>") + X("<y/>"))', "<a><z/><y/></a>"],
    ['var x = X(D); x.setLocalName("q"); x.child(PC).setLocalName("r"); x.localName() + x.child(new QName("urn:p", "r")).length()',
     "q1"],
    ['var x = X("<a/>"); x.setLocalName("1x")', "throws TypeError"],
    ['var x = X("<a/>"); x.setName("b"); var y = X("<a/>"); y.setName(new QName("urn:n", "c")); [x, y]',
     '[<b/>, <c xmlns="urn:n"/>]'],
    ['var x = X("<a><b/></a>"); x.setNamespace(new Namespace("x", "urn:x")); x.b.setNamespace(new Namespace("urn:y")); x',
     '<x:a xmlns:x="urn:x"><b xmlns="urn:y"/></x:a>'],
    ['var x = X("<a k=\'1\'/>"); x.attribute("k")[0].setNamespace(new Namespace("urn:att")); x', '<a att:k="1" xmlns:att="urn:att"/>'],
    ['var x = X("<a/>"); x.addNamespace(new Namespace("z", "urn:z")); x', '<a xmlns:z="urn:z"/>'],
    ['[X("<a>t<b>u</b>v</a>").text(), X("<a>t<b>u</b>v</a>").b.text()]', "[tv, u]"],
    ['var x = X(D); [x.b[0].toString(), x.attribute("k").toString(), x.b.toString()]',
     '[1, 1, <b xmlns:p="urn:p">1</b><b x="y" xmlns:p="urn:p">3</b>]'],
    ['var x = X(D); x.valueOf() === x', true],
], form, run);

table("XMLList.prototype (13.5.4)", [
    ['L("<a k=\'1\'/><b k=\'2\'/>").attribute("k")', "12"],
    ['L("<a><c/></a><b><c/></b>").child("c").length()', 2],
    ['L("<a><c/></a><b><d/></b>").child(0)', "<c/><d/>"],
    ['L("<a>1</a><b>2</b>").children()', "12"],
    ['L("<a>1</a><b>2</b>").contains(X("<b>2</b>"))', true],
    ['var l = L("<a/><b/>"); var c = l.copy(); c[0]["@k"] = 1; [l, c]', '[<a/><b/>, <a k="1"/><b/>]'],
    ['L("<a><b/></a><c><b/></c>").descendants("b").length()', 2],
    ['L("<a><b/>t</a><c><b/></c>").elements().length()', 2],
    ['[L("<a/>").hasSimpleContent(), L("<a><b/></a>").hasSimpleContent(), L("").hasSimpleContent(), L("<a/><b/>").hasComplexContent()]',
     "[true, false, true, true]"],
    ['[L("").length(), L("<a/><b/>").length()]', "[0, 2]"],
    ['var l = L("<a/><b/>"); l[0].appendChild("x"); l[0].appendChild("y"); l.normalize(); l[0].children().length()', 1],
    ['L("<a>1</a><b>2</b>").text()', "12"],
    ['L("<a>1</a><b>2</b>").toString()', "<a>1</a><b>2</b>"],
    ['L("<a>1</a>").toString()', "1"],
    ['L("<a/>").name()', "qn(,a)"],
    ['L("<a/><b/>").name()', "throws TypeError"],
], form, run);

table("Namespace, QName, isXMLName (13.1.2.1, 13.2, 13.3)", [
    ['[new Namespace(), new Namespace("u"), new Namespace("p", "u"), Namespace("p", "u"), new Namespace("", "")]',
     "[ns(,), ns(undefined,u), ns(p,u), ns(p,u), ns(,)]"],
    ['var n = new Namespace("p", "u"); [Namespace(n) === n, new Namespace(n) === n, String(n), n == new Namespace("q", "u")]',
     "[true, false, u, true]"],
    ['new Namespace(new QName("u2", "a"))', "ns(undefined,u2)"],
    ['[new Namespace("u"), new QName("a")].map(function (v) { return Object.prototype.toString.call(v); }).join()',
     "[object Namespace],[object QName]"],
    ['new Namespace("1x", "u")', "ns(undefined,u)"],
    ['new Namespace("p", "")', "throws TypeError"],
    ['[new QName("a"), new QName("u", "a"), new QName(null, "a"), new QName("*"), new QName(new Namespace("p", "u"), "a")]',
     "[qn(,a), qn(u,a), qn(null,a), qn(null,*), qn(u,a)]"],
    ['var q = new QName("u", "a"); [QName(q) === q, new QName(q) === q, new QName(q) == q]', "[true, false, true]"],
    ['[String(new QName("a")), String(new QName("u", "a")), String(new QName(null, "a"))]', "[a, u::a, *::a]"],
    ['[new QName("u", "a") == new QName("u", "a"), new QName("u", "a") == new QName("v", "a"), new QName("u", "a") === new QName("u", "a")]',
     "[true, false, false]"],
    ['[isXMLName("a"), isXMLName("1a"), isXMLName("a:b"), isXMLName("a-b.c"), isXMLName(""), isXMLName("\\u00e9t\\u00e9")]',
     "[true, false, false, true, false, true]"],
    ['[typeof new Namespace("u"), new Namespace("u") instanceof Namespace, new QName("a") instanceof QName]',
     "[object, true, true]"],
], form, run);

table("XML and XMLList constructors, settings (13.4.1-13.4.3, 13.5.1-13.5.2)", [
    ['var x = X("<a/>"); [XML(x) === x, new XML(x) === x, new XML(x) == x]', "[true, false, true]"],
    ['XML(L("<q/>"))', "<q/>"],
    ['XML(L("<a/><b/>"))', "throws TypeError"],
    ['[XML().nodeKind(), XML(null).nodeKind(), new XML().toXMLString(), XML(5).toXMLString()]', "[text, text, , 5]"],
    ['var l = L("<a/><b/>"); [XMLList(l) === l, new XMLList(l) === l, new XMLList(l).length(), XMLList(X("<a/>")).length(), XMLList().length()]',
     "[true, false, 2, 1, 0]"],
    ['var s = XML.settings(); var r = []; for (var k in s) r.push(k + "=" + s[k]); r',
     "[ignoreComments=true, ignoreProcessingInstructions=true, ignoreWhitespace=true, prettyPrinting=false, prettyIndent=2]"],
    ['XML.prettyIndent = 7; XML.settings().prettyIndent', 7],
    ['XML.setSettings({prettyIndent: 3, ignoreComments: "x"}); [XML.prettyIndent, XML.ignoreComments]', "[3, true]"],
    ['XML.ignoreComments = false; XML.setSettings(); XML.ignoreComments', true],
    ['XML.defaultSettings().prettyIndent', 2],
    ['[XML.prototype.constructor === XML, XMLList.prototype.constructor === XMLList, XML.length]', "[true, true, 1]"],
    ['[XML.prototype.hasOwnProperty("toString"), XML.prototype.hasOwnProperty("b"), X("<a/>").hasOwnProperty("toString")]',
     "[true, false, false]"],
    ['[XML.prototype.toString(), XML.prototype.nodeKind(), XMLList.prototype.length()]', "[, text, 0]"],
], form, run);

// uneval and toSource give the initialiser form.
table("source forms", [
    ['uneval(X("<a k=\'1\'><b>t</b></a>"))', '<a k="1"><b>t</b></a>'],
    ['XML.prettyPrinting = true; X("<a><b/></a>").toSource()', "<a>\n  <b/>\n</a>"],
    ['uneval(L("<a/><b/>"))', "<><a/><b/></>"],
    ['uneval({x: X("<a>\\u00e9{}</a>")})', "({x:<a>&#xE9;&#x7B;&#x7D;</a>})"],
    ['uneval(X("<a>t</a>").text())', "<>t</>"],
], form, run);

done();
