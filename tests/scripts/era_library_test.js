// The older library of that language level: String's HTML methods,
// RegExp.prototype.compile and regular expressions called as functions. Each table row is
// a source text and the uneval form of its value ("throws Name" when it throws).

table("String's HTML methods", [
    ["['x'.bold(), 'x'.big(), 'x'.blink(), 'x'.fixed(), 'x'.italics(), 'x'.small(), 'x'.strike()," +
     " 'x'.sub(), 'x'.sup()].join('')",
     "\"<b>x</b><big>x</big><blink>x</blink><tt>x</tt><i>x</i><small>x</small>" +
     "<strike>x</strike><sub>x</sub><sup>x</sup>\""],
    ["['x'.anchor('n'), 'x'.link('u'), 'x'.fontcolor('red'), 'x'.fontsize(3)].join('')",
     "\"<a name=\\\"n\\\">x</a><a href=\\\"u\\\">x</a><font color=\\\"red\\\">x</font>" +
     "<font size=\\\"3\\\">x</font>\""],
    ["'x'.link('a\"b')", "\"<a href=\\\"a&quot;b\\\">x</a>\""],
    ["String.prototype.bold.call(5)", "\"<b>5</b>\""],
    ["String.prototype.bold.call(null)", "throws TypeError"],
    ["[String.prototype.bold.length, String.prototype.anchor.length, 'x'.sup.name]",
     "[0, 1, \"sup\"]"],
    ["Object.keys(String.prototype).length", "0"],
], uneval);

table("RegExp.prototype.compile gives the regular expression a new pattern in place", [
    ["var re = /x/g; re.lastIndex = 3; [re.compile('b+', 'i') === re, re.source, re.global," +
     " re.ignoreCase, re.lastIndex, re.test('aBB')]", "[true, \"b+\", false, true, 0, true]"],
    ["var re = /x/; re.compile(/c/m); [re.source, re.multiline]", "[\"c\", true]"],
    ["var re = /x/; re.compile(); [re.source, re.test('')]", "[\"(?:)\", true]"],
    ["var re = /x/; try { re.compile('('); } catch (e) {} re.source", "\"x\""],
    ["var re = Object.freeze(/x/); try { re.compile('y'); } catch (e) {} re.source", "\"x\""],
    ["/x/.compile(/c/, 'g')", "throws TypeError"],
    ["RegExp.prototype.compile.call({}, 'a')", "throws TypeError"],
], uneval);

table("a regular expression called as a function is its exec", [
    ["/a+/('caaat')", "[\"aaa\"]"],
    ["/z/('abc')", "null"],
    ["var re = /(\\d)(\\d)/; re('a12').slice()", "[\"12\", \"1\", \"2\"]"],
    ["var o = {r: /b/g}; [o.r('abcb')[0], o.r.lastIndex]", "[\"b\", 2]"],
    ["var re = /a/; re.exec = function () { return 'replaced'; }; re('a')", "[\"a\"]"],
    ["Function.prototype.call.call(/a+/, null, 'baa')", "[\"aa\"]"],
    ["typeof /a/", "\"object\""],
    ["new /a/('a')", "throws TypeError"],
    ["[1].map(/a/)", "throws TypeError"],
], uneval);

done();
