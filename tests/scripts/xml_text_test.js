// E4X text: parsing with the settings (ECMA-357 10.3, 13.4.3), serialising with pretty
// printing, escapes and namespace declarations (10.2), and text from outside that must
// not harm: malformed text, an entity bomb, deep nesting, a large document.

function X(s) {
    return XML(s);
}
// Each [settings, source, expected] row: the settings (an object for XML.setSettings), an
// expression, and its value (an XML value as its toXMLString()) or "throws <name>".
function table(name, rows) {
    rows.forEach(function (row) {
        test(name + ": " + row[1], function () {
            var v;
            try {
                XML.setSettings(row[0]);
                v = (0, eval)(row[1]);
                if (typeof v === "xml") v = v.toXMLString();
            } catch (e) {
                v = "throws " + e.name;
            } finally {
                XML.setSettings();
            }
            assertEq(v, row[2]);
        });
    });
}

var flat = {prettyPrinting: false};

table("ToXMLString (10.2)", [
    [{}, 'X("<a><b>1</b><c><d/></c></a>")', "<a>\n  <b>1</b>\n  <c>\n    <d/>\n  </c>\n</a>"],
    [{prettyIndent: 4}, 'X("<a><b/></a>")', "<a>\n    <b/>\n</a>"],
    [{prettyIndent: 0}, 'X("<a><b/></a>")', "<a>\n<b/>\n</a>"],
    [{}, 'X("<a>x<b/>y</a>")', "<a>\n  x\n  <b/>\n  y\n</a>"],
    [{}, 'X("<a>  hi  </a>")', "<a>hi</a>"],
    [flat, 'X("<a>  hi  </a>")', "<a>hi</a>"],
    [{}, 'X("<a>  hi  </a>").toString()', "hi"],
    [{ignoreWhitespace: false}, 'X("<a>  hi  </a>").toString()', "  hi  "],
    [{ignoreComments: false, ignoreProcessingInstructions: false}, 'X("<a><!-- c --><?p d?></a>")',
     "<a>\n  <!-- c -->\n  <?p d?>\n</a>"],
    [{}, 'XMLList("<a/><b>1</b>")', "<a/>\n<b>1</b>"],
    [flat, 'XMLList("<a/><b>1</b>")', "<a/><b>1</b>"],
    [{}, 'X("<a>&lt;&amp;&gt;&quot;&apos;</a>")', "<a>&lt;&amp;&gt;\"'</a>"],
    [{}, 'X("<a b=\'&lt;&amp;&gt;&quot;&#9;&#10;&#13;\'/>")', '<a b="&lt;&amp;>&quot;&#x9;&#xA;&#xD;"/>'],
    [{}, 'X("<a><![CDATA[x<y&]]></a>")', "<a>x&lt;y&amp;</a>"],
    [{}, 'X("<a b=\'1\'/>").attribute("b")[0].toXMLString()', "1"],
    [{}, 'X("<a>t</a>").text()[0].toXMLString()', "t"],
    [{}, 'X("<a>\\u00e9\\ud83d\\ude00</a>").toString() === "\\u00e9\\ud83d\\ude00"', true],
    [flat, 'X("<a xmlns=\'urn:d\'><b xmlns=\'\'><c/></b></a>")', '<a xmlns="urn:d"><b xmlns=""><c/></b></a>'],
    [flat, 'X("<p:a xmlns:p=\'urn:p\'><p:b/></p:a>").children()[0]', '<p:b xmlns:p="urn:p"/>'],
    [flat, 'var x = X("<a/>"); x.setNamespace(new Namespace("http://example.org/2005/xhtml")); x.toXMLString()',
     '<a xmlns="http://example.org/2005/xhtml"/>'],
    [flat, 'var x = X("<p:a xmlns:p=\'urn:1\'/>"); x.appendChild(X("<p:b xmlns:p=\'urn:2\'/>")); x',
     '<p:a xmlns:p="urn:1"><p:b xmlns:p="urn:2"/></p:a>'],
    [flat, 'var x = X("<a xmlns=\'urn:1\'/>"); x.appendChild(X("<b/>")); x', '<a xmlns="urn:1"><b xmlns=""/></a>'],
]);

table("ToXML and ToXMLList (10.3)", [
    [{}, 'X("hello").nodeKind()', "text"],
    [{}, 'X("").nodeKind() + X("").toString().length', "text0"],
    [{}, 'X(5)', "5"],
    [{}, 'X("  <a/>  ")', "<a/>"],
    [{ignoreWhitespace: false}, 'X("  <a/>  ")', "throws SyntaxError"],
    [{ignoreWhitespace: false}, 'X("<a> <b/> </a>").children().length()', 3],
    [{}, 'X("<a> <b/> </a>").children().length()', 1],
    [{}, 'X("<a><!-- c --><b/></a>").children().length()', 1],
    [{ignoreComments: false}, 'X("<a><!-- c --><b/></a>").children().length()', 2],
    [{}, 'X("<a><?p d?></a>").children().length()', 0],
    [{ignoreProcessingInstructions: false}, 'X("<a><?p d?></a>").children()[0].localName()', "p"],
    [{}, 'X("<a/><b/>")', "throws SyntaxError"],
    [{}, 'XMLList("<a/>text<b/>").length()', 3],
    [{}, 'X("<?xml version=\'1.0\' encoding=\'ISO-8859-1\'?>\\n<!-- c -->\\n<a>\\u00e9</a>").toString()', "\u00e9"],
    [{}, 'X("<!DOCTYPE a [<!ENTITY e \'hi\'>]><a>&e;</a>")', "<a>hi</a>"],
    [flat, 'X("<a xmlns:p=\'urn:p\'><p:b/></a>").children()[0].name().uri', "urn:p"],
    [{}, 'X("<a><p:b/></a>")', "throws SyntaxError"],
    [{}, 'X(null).nodeKind()', "text"],
    [{}, '__lang.xml.literal("<a>" + __lang.xml.content("<\\r&>") + "</a>").toString()', "<\r&>"],
    [{}, '__lang.xml.literal("<a k=\\"" + __lang.xml.escapeAttribute("\\"<&\\n") + "\\"/>").attribute("k").toString()',
     "\"<&\n"],
    [{prettyPrinting: false, ignoreWhitespace: false},
     '__lang.xml.literal("<a>" + __lang.xml.content(X("<b> x </b>")) + "</a>")', "<a><b> x </b></a>"],
    [{}, '__lang.xml.listLiteral("<b/><c/>").length()', 2],
]);

// Malformed text names expat's complaint and where it is.
test("malformed text: SyntaxError with the parser's message and position", function () {
    var e = assertThrows(function () { X("<a>\n  <b></c>\n</a>"); });
    assertEq(e.name, "SyntaxError");
    assertTrue(/mismatched tag \(line 2, column 8\)/.test(e.message), e.message);
    ["<a", "<a></b>", "<a b='1' b='2'/>", "<a>&nope;</a>", "<1a/>", "<a>\u0001</a>", "<a>\ud800</a>",
     "<a xmlns:p=''/>", "</a>"].forEach(function (s) {
        assertEq(assertThrows(function () { X(s); }, s).name, "SyntaxError", s);
    });
});

test("an entity bomb stops at the expansion limit", function () {
    var d = '<!DOCTYPE a [<!ENTITY a "' + new Array(51).join("a") + '">';
    var prev = "a";
    "bcdefgh".split("").forEach(function (n) {
        d += '<!ENTITY ' + n + ' "' + new Array(11).join("&" + prev + ";") + '">';
        prev = n;
    });
    var e = assertThrows(function () { X(d + ']><a>&h;</a>'); });
    assertEq(e.name, "SyntaxError");
    assertTrue(/amplification/.test(e.message), e.message);
});

test("30 000 nested entity references are a SyntaxError, not a crash", function () {
    var d = '<!DOCTYPE a [<!ENTITY e0 "x">';
    for (var i = 1; i < 30000; i++)
        d += '<!ENTITY e' + i + ' "&e' + (i - 1) + ';">';
    var e = assertThrows(function () { X(d + ']><a>&e29999;</a>'); });
    assertEq(e.name, "SyntaxError");
    assertTrue(/entity references nested deeper than 64/.test(e.message), e.message);
});

test("external entities and DTDs are never fetched", function () {
    var path = (System.getSysName("Windows") ? "" : "/tmp/") + "xml_text_test_secret.txt";
    var f = new File(path, "w");
    f.write("SECRET");
    f.close();
    try {
        var x = X('<!DOCTYPE a [<!ENTITY s SYSTEM "file://' + path + '">]><a>&s;</a>');
        assertEq(x.toString().indexOf("SECRET"), -1);
        X('<!DOCTYPE a SYSTEM "file://' + path + '"><a/>');
    } finally {
        File.remove(path);
    }
});

test("10 000 nested elements work; beyond the nesting limit is a SyntaxError", function () {
    var open = new Array(10001).join("<e>"), close = new Array(10001).join("</e>");
    var x = X(open + "x" + close);
    var all = __lang.xml.descendants(x, "e");
    assertEq(all.length(), 9999);
    assertEq(all[9998].toString(), "x");
    XML.prettyPrinting = false;
    var text = x.toXMLString();
    XML.prettyPrinting = true;
    assertEq(text.length, 70001);
    assertTrue(x.copy() == x, "a copy equals");
    x.normalize();
    assertEq(x.removeNamespace(new Namespace("urn:none")).localName(), "e");
    var deep = new Array(100002).join("<e>");
    var e = assertThrows(function () { X(deep); });
    assertTrue(/nested too deep/.test(e.message), e.message);
});

test("a 10 MB document reads, queries and writes", function () {
    // A hundred records, 1100 times over: the script heap holds the text once.
    var chunk = [];
    for (var i = 0; i < 100; i++)
        chunk.push('<item id="' + i + '" kind="' + (i % 7) + '"><name>item ' + i + '</name><p>' + (i % 50) +
                   '</p><note>some text of the note</note></item>');
    var text = "<items>" + new Array(1101).join(chunk.join("")) + "</items>";
    var length = text.length;
    assertTrue(length > 10000000, "10 MB");
    var x = X(text);
    text = null;
    assertEq(x.item.length(), 110000);
    assertEq(x.item[109999].name.toString(), "item 99");
    assertEq(__lang.xml.filter(x.item, function (i) { return i["@kind"] == 3; }, this).length(), 15400);
    XML.prettyPrinting = false;
    assertEq(x.toXMLString().length, length);
    XML.prettyPrinting = true;
});

test("a document past the memory limit is a RangeError, and the memory comes back", function () {
    var text = "<a>" + new Array(2600001).join("<b/>") + "</a>";
    var e = assertThrows(function () { X(text); });
    assertEq(e.name, "RangeError");
    assertTrue(/memory limit/.test(e.message), e.message);
    text = null;
    assertEq(X("<a><b/></a>").b.length(), 1);
});

done();
