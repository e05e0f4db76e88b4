// The library of that language level beyond the standards: watch and unwatch, the Array
// generics on strings and array-likes, indirect eval, String's HTML methods,
// RegExp.prototype.compile and regular expressions called as functions. Each table row is
// a source text and the uneval form of its value ("throws Name" when it throws).

// Every call of a watch handler: [this is the object, name, old value, new value].
function logging(o, log, result) {
    return function (name, old, v) {
        log.push([this === o, name, old, v]);
        return result ? result(v) : v;
    };
}

table("watch calls the handler on each assignment and stores what it returns", [
    ["var o = {a: 1}, log = []; o.watch('a', logging(o, log, function (v) { return v * 10; }));" +
     " o.a = 2; o.a += 1; [o.a, log]", "[210, [[true, \"a\", 1, 2], [true, \"a\", 20, 21]]]"],
    ["var o = {}, log = []; o.watch('b', logging(o, log)); var had = 'b' in o; o.b = 3;" +
     " [had, o.b, log]", "[true, 3, [[true, \"b\", (void 0), 3]]]"],
    ["var o = {a: 1}, n = 0; o.watch('a', function () { n++; return 2; });" +
     " o.watch('a', function () { n += 10; return 3; }); o.a = 0; [n, o.a]", "[10, 3]"],
    ["var o = {a: 1}; o.watch('a', function () { throw new RangeError(); });" +
     " try { o.a = 2; } catch (e) {} o.a", "1"],
    ["undeclaredWatched = 1; watch('undeclaredWatched', function (k, old, v) { return old + v; });" +
     " undeclaredWatched = 2; undeclaredWatched", "3"],
    ["var a = [1, 2], log = []; a.watch(0, logging(a, log)); a[0] = 5; [a, log]",
     "[[5, 2], [[true, \"0\", 1, 5]]]"],
], uneval);

table("assignments inside the handler store directly; unwatch there ends the watch", [
    ["var o = {a: 1}, n = 0; o.watch('a', function (k, old, v) { n++; this.a = 'inner';" +
     " return this.a + v; }); o.a = 2; [o.a, n]", "[\"inner2\", 1]"],
    ["var o = {a: 1}; o.watch('a', function (k, old, v) { this.unwatch('a'); return v + 1; });" +
     " o.a = 2; o.a = 5; [o.a, Object.getOwnPropertyDescriptor(o, 'a').value]", "[5, 5]"],
], uneval);

table("a watched property looks like the plain one to for-in, uneval, JSON and keys", [
    ["var o = {a: 1, b: 2, c: 3}; o.watch('b', function (k, old, v) { return v; }); o.b = 4;" +
     " var k = []; for (var i in o) k.push(i); [k, uneval(o), JSON.stringify(o), Object.keys(o)]",
     "[[\"a\", \"b\", \"c\"], \"({a:1, b:4, c:3})\", \"{\\\"a\\\":1,\\\"b\\\":4,\\\"c\\\":3}\"," +
     " [\"a\", \"b\", \"c\"]]"],
    ["var o = Object.defineProperty({}, 'h', {value: 1, writable: true, configurable: true});" +
     " o.watch('h', function (k, old, v) { return v; }); [Object.keys(o), o.h]", "[[], 1]"],
    ["var k = []; for (var i in {}) k.push(i); k.concat(Object.prototype.propertyIsEnumerable('watch')," +
     " Object.prototype.propertyIsEnumerable('unwatch'))", "[false, false]"],
], uneval);

table("unwatch leaves the current value as a plain data property", [
    ["var o = {a: 1}; o.watch('a', function (k, old, v) { return v + 1; }); o.a = 1; o.unwatch('a');" +
     " o.a = 7; [o.a, Object.getOwnPropertyDescriptor(o, 'a')]",
     "[7, {value:7, writable:true, enumerable:true, configurable:true}]"],
    ["var o = {a: 1}; o.unwatch('a'); o.unwatch('none'); uneval(o)", "\"({a:1})\""],
], uneval);

table("accessors, read-only and inherited properties keep their meaning", [
    ["var o = {get g() { return this._g; }, set g(v) { this._g = v; }}; o.watch('g'," +
     " function (k, old, v) { return [old, v]; }); o.g = 1; o.g = 2; o.g", "[[(void 0), 1], 2]"],
    ["var o = {get g() { return 7; }}, n = 0; o.watch('g', function (k, old, v) { n++; return v; });" +
     " o.g = 1; [o.g, n]", "[7, 1]"],
    ["var o = Object.defineProperty({}, 'r', {value: 1, configurable: true}), n = 0;" +
     " o.watch('r', function () { n++; return 9; }); o.r = 2; o.unwatch('r');" +
     " [o.r, n, Object.getOwnPropertyDescriptor(o, 'r').writable]", "[1, 0, false]"],
    ["var p = {a: 1}, c = Object.create(p); p.watch('a', function (k, old, v) { return v * 2; });" +
     " c.a = 5; p.a = 5; [c.a, p.a, c.hasOwnProperty('a')]", "[5, 10, true]"],
    ["var p = {a: 1}, c = Object.create(p); p.watch('a', function (k, old, v) { return v + 'p'; });" +
     " c.watch('a', function (k, old, v) { return old + v + 'c'; }); c.a = 2; p.a = 3; [c.a, p.a]",
     "[\"3c\", \"3p\"]"],
], uneval);

table("what cannot be watched is a TypeError", [
    ["[1, 2].watch('length', function () {})", "throws TypeError"],
    ["Object.seal({a: 1}).watch('a', function () {})", "throws TypeError"],
    ["Object.preventExtensions({}).watch('a', function () {})", "throws TypeError"],
], uneval);

test("an error of watch names the calling script's line", function () {
    var e = assertThrows(function () { ({}).watch("a", 5); }), here = new Error("here");
    assertEq(e.fileName, here.fileName);
    assertEq(e.lineNumber, here.lineNumber);
});

table("the Array generics take strings and array-likes as that engine did", [
    ["Array.prototype.map.call('abc', function (c) { return c + c; })", "[\"aa\", \"bb\", \"cc\"]"],
    ["[Array.join('abc', '-'), Array.indexOf('abc', 'c'), Array.lastIndexOf('abcb', 'b')]",
     "[\"a-b-c\", 2, 3]"],
    ["[Array.slice('abcd', 1, 3), Array.filter('abcb', function (c) { return c == 'b'; })]",
     "[[\"b\", \"c\"], [\"b\", \"b\"]]"],
    ["[Array.reduce('abc', function (a, c) { return c + a; }), Array.every('aa', function (c)" +
     " { return c == 'a'; }), Array.some('ab', function (c) { return c == 'c'; })]",
     "[\"cba\", true, false]"],
    ["var r = []; Array.forEach('ab', function (c, i, s) { r.push(c + i + typeof s); }); r",
     "[\"a0object\", \"b1object\"]"],
    ["Array.concat('ab', 'cd')", "[(new String(\"ab\")), \"cd\"]"],
    // A string cannot change: the methods that would change it are a TypeError.
    ["Array.push('abc', 'd')", "throws TypeError"],
    ["Array.reverse('abc')", "throws TypeError"],
], uneval);

var scopeProbe = "global";
table("indirect eval runs in the global scope, with the language", [
    ["(function () { var scopeProbe = 'local'; var e = eval; return [e('scopeProbe')," +
     " eval('scopeProbe')]; })()", "[\"global\", \"local\"]"],
    ["(function () { var scopeProbe = 'local'; return ({eval: eval}).eval('scopeProbe'); })()",
     "\"global\""],
    ["(function () { var e = eval; e('var declaredByEval = 5'); return typeof declaredByEval; })()",
     "\"number\""],
    ["(function () { var e = eval; return e('let (a = 2) [x * a for each (x in [1, 2])]'); })()",
     "[2, 4]"],
    ["(function () { var e = eval; return e('(function () { yield 1; })')().next(); })()", "1"],
], uneval);

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
    ["var o = {r: /b/g}; [o.r('abcb')[0], o.r.lastIndex]", "[\"b\", 2]"],
    ["var re = /a/; re.exec = function () { return 'replaced'; }; re('a')", "[\"a\"]"],
    ["Function.prototype.call.call(/a+/, null, 'baa')", "[\"aa\"]"],
    ["typeof /a/", "\"object\""],
    ["new /a/('a')", "throws TypeError"],
    ["[1].map(/a/)", "throws TypeError"],
], uneval);

done();
