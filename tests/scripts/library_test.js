// The JavaScript 1.7 library: StopIteration and Iterator, __iterator__ in for-in, the
// values of `for each` (written here as the translator writes it, a for-in over
// __lang.each(v)), the Array and String generics, quote, the getter and setter methods,
// Date's string forms and the source text of functions. Each table row is a source text
// and the uneval form of its value ("throws Name" when it throws).

function keys(v) {
    var out = [];
    for (var k in v) out.push(k);
    return out;
}
function values(v) {
    var out = [];
    for (var x in __lang.each(v)) out.push(x);
    return out;
}
// Everything an iterator gives until StopIteration.
function drain(it) {
    var out = [];
    try {
        for (;;) out.push(it.next());
    } catch (e) {
        if (e !== StopIteration) throw e;
    }
    return out;
}
// An object whose __iterator__ counts to n and records the keysOnly it was given.
function counter(n) {
    return {
        __iterator__: function (keysOnly) {
            this.asked = keysOnly;
            var i = 0;
            return {next: function () { if (i < n) return i++; throw StopIteration; }};
        }
    };
}

table("StopIteration is one object that instanceof recognises", [
    ["StopIteration instanceof StopIteration", "true"],
    ["({}) instanceof StopIteration", "false"],
    ["new Error() instanceof StopIteration", "false"],
    ["typeof StopIteration", '"object"'],
    ["String(StopIteration)", '"[object StopIteration]"'],
    ["uneval(StopIteration)", '"({})"'],
    ["StopIteration()", "throws TypeError"],
], uneval);

table("Iterator gives keys or [key, value] pairs in for-in order, then StopIteration", [
    ["drain(Iterator({a: 1, b: 2}))", '[["a", 1], ["b", 2]]'],
    ["drain(Iterator({a: 1, b: 2}, true))", '["a", "b"]'],
    ["drain(new Iterator({a: 1}))", '[["a", 1]]'],
    ["drain(Iterator([7, 8]))", "[[0, 7], [1, 8]]"],
    ["drain(Iterator(Object.create({i: 1}, {o: {value: 2, enumerable: true}})))", '[["o", 2], ["i", 1]]'],
    ["var o = {a: 1, b: 2}, it = Iterator(o); delete o.b; o.c = 3; drain(it)", '[["a", 1]]'],
    ["drain(Iterator(5))", "[]"],
    ["Iterator(null)", "throws TypeError"],
    ["Iterator()", "throws TypeError"],
    ["var it = Iterator({}); it.__iterator__() === it", "true"],
    ["Iterator({}) instanceof Iterator", "true"],
    ["String(Iterator({}))", '"[object Iterator]"'],
    ["uneval(Iterator({a: 1}))", '"({})"'],
    ["Iterator.length", "2"],
    ["Iterator.prototype.next.call({})", "throws TypeError"],
    // A call asks the object's own __iterator__; new does not.
    ["var c = counter(2); drain(Iterator(c, true)).concat(c.asked)", "[0, 1, true]"],
    ["drain(new Iterator(counter(2))).length", "1"],
], uneval);

table("for-in iterates what __iterator__(true) returns, for each what __iterator__(false) does", [
    ["var c = counter(3); keys(c).concat(c.asked)", "[0, 1, 2, true]"],
    ["var c = counter(3); values(c).concat(c.asked)", "[0, 1, 2, false]"],
    ["keys(Object.create(counter(2)))", "[0, 1]"],
    ["keys(Iterator({a: 1}))", '[["a", 1]]'],
    ["keys(Iterator({a: 1}, true))", '["a"]'],
    ["values(Iterator({a: 1}))", '[["a", 1]]'],
    ["keys({__iterator__: 5})", "throws TypeError"],
    ["keys({__iterator__: function () { return 5; }})", "throws TypeError"],
    ["keys({__iterator__: function () { return {next: function () { throw new RangeError(); }}; }})",
     "throws RangeError"],
    ["keys({__iterator__: undefined, a: 1})", '["__iterator__", "a"]'],
], uneval);

table("for each gives the values of the enumerable properties in for-in order", [
    ["values([1, 2, 3])", "[1, 2, 3]"],
    ["values({a: 1, b: 'x'})", '[1, "x"]'],
    ["var a = [1, , 3]; a.x = 4; values(a)", "[1, 3, 4]"],
    ["values(Object.create({i: 1}, {o: {value: 2, enumerable: true}}))", "[2, 1]"],
    ["values(null).concat(values(undefined))", "[]"],
    ["var o = {a: 1, b: 2, c: 3}, out = []; for (var v in __lang.each(o)) { out.push(v); delete o.b; } out",
     "[1, 3]"],
    ["var a = [1, 2, 3, 4], out = []; for (var v in __lang.each(a)) { out.push(v); a.length = 2; } out",
     "[1, 2]"],
    ["var a = [1, 2], out = []; for (var v in __lang.each(a)) { out.push(v); a.push(0); } out", "[1, 2]"],
    ["values({get g() { return 'got'; }})", '["got"]'],
], uneval);

// The engine's for-in runs the enumeration one value-stack slot above the function's
// registers: a slot taken or left behind shifts the frame's top, and the next call's
// arguments overwrite the highest register. Each loop body here is `out += ...` (no call
// that would reset the frame), followed by an object literal whose last value sits in the
// highest register; a row is the loop and what it appends to `out`.
test("every kind of enumeration leaves the function's frame as it found it", function () {
    var rows = [
        ["for (var x in counter(2)) out += x", "01"],
        ["for (var x in __lang.each(counter(2))) out += x", "01"],
        ["for (var x in counter(2)) { out += x; break; }", "0"],
        ["try { for (var x in counter(2)) throw x; } catch (e) { out += e; }", "0"],
        ["try { for (var x in {__iterator__: function () { return {next: function () { throw 7; }}; }}) ; }" +
         " catch (e) { out += e; }", "7"],
        ["var c = counter(2); for (var x in c) for (var y in __lang.each(c)) out += x + y", "0112"],
        ["var o = {a: 1, b: 2}; for (var x in o) for (var y in o) { out += x + y; if (y == 'a') break; }", "aaba"],
        ["var i = Iterator({a: 1, b: 2}, true), j = Iterator([5, 6]);" +
         " for (var x in i) for (var y in j) { out += x + y; break; }", "a0,5b1,6"],
        ["for (var x in Iterator([5])) out += x", "0,5"],
        ["for (var x in __lang.each(null)) out += x", ""],
        ["for (var x in __lang.each([4, 5])) out += x", "45"],
        ["for (var x in __lang.each({p: 1, q: 2})) out += x", "12"],
    ];
    for (var i = 0; i < rows.length; i++) {
        var f = Function("var out = ''; " + rows[i][0] + "; return [out, {a: 1, b: 2, c: 3}];");
        assertEq(uneval(f()), uneval([rows[i][1], {a: 1, b: 2, c: 3}]), rows[i][0]);
    }
});

table("for-in over arrays walks the indexes one at a time, in the same order", [
    ["keys([5, 6])", '["0", "1"]'],
    ["var a = [5]; a.x = 1; keys(a)", '["0", "x"]'],
    ["Array.prototype[3] = 0; var k = keys([1, 2]); delete Array.prototype[3]; k", '["0", "1", "3"]'],
    ["Array.prototype[0] = 0; var k = keys([1]); delete Array.prototype[0]; k", '["0"]'],
    // The array gives up its array part after the first key: the walk goes on by key.
    ["var a = [1, 2, 3], out = []; for (var k in a) { out.push(k); a[1e9] = 0; delete a[2]; } out",
     '["0", "1"]'],
], uneval);

// The keys are listed when the loop begins: a key deleted before it is reached is skipped
// (unless a prototype still has it), a key added is not visited, a prototype's key that an
// earlier object has comes once; array index keys come first on each level.
table("for-in over an object visits the keys it had when the loop began, in order", [
    ["var o = {a: 1, b: 2, c: 3}, out = []; for (var k in o) { out.push(k); delete o.b; o.d = 4; } out",
     '["a", "c"]'],
    ["var o = {a: 1, b: 2, c: 3}, out = []; for (var k in o) { out.push(k); if (k == 'a') { delete o.b; o.b = 5; } } out",
     '["a", "b", "c"]'],
    ["var o = {a: 1, b: 2, c: 3}, out = []; for (var k in o) { out.push(k); for (var i = 0; i < 100; i++) o['n' + i] = i; } out",
     '["a", "b", "c"]'],
    ["var p = {a: 1, b: 2}, o = Object.create(p); o.b = 3; o.c = 4; keys(o)", '["b", "c", "a"]'],
    ["var o = Object.create({a: 0}), out = []; o.b = 1; o.a = 2; for (var k in o) { out.push(k); delete o.a; } out",
     '["b", "a"]'],
    ["var p = {a: 1}, o = Object.create(p), out = []; o.b = 1; for (var k in o) { out.push(k); p.c = 1; } out",
     '["b", "a"]'],
    ["var p = {}; for (var i = 0; i < 100; i++) p['k' + i] = i; var o = Object.create(p);" +
     " for (var i = 0; i < 100; i += 2) o['k' + i] = 0; var k = keys(o); [k.length, k[0], k[49], k[50], k[99]]",
     '[100, "k0", "k98", "k1", "k99"]'],
    ["keys({b: 1, 2: 1, a: 1, 1: 1})", '["1", "2", "b", "a"]'],
    ["var o = Object.create({1: 1, x: 1}); o[0] = 1; o.y = 1; keys(o)", '["0", "y", "1", "x"]'],
    ["var o = {a: 1}; Object.defineProperty(o, 'h', {value: 1}); o.z = 2; keys(o)", '["a", "z"]'],
    ["var a = [1]; a.x = 1; Array.prototype.y = 2; var k = keys(a); delete Array.prototype.y; k",
     '["0", "x", "y"]'],
    ["var f = function () {}; f.p = 1; keys(f)", '["p"]'],
    ["(function () { return keys(arguments); })(5, 6)", '["0", "1"]'],
    ["keys('ab').concat(values('ab'))", '["0", "1", "a", "b"]'],
    ["var s = new String('ab'); s.x = 1; keys(s)", '["0", "1", "x"]'],
], uneval);

test("for-in and for each over a million-element array need no list of keys", function () {
    var a = [];
    for (var i = 0; i < 1000000; i++) a.push(i);
    var n = 0, sum = 0;
    for (var k in a) n++;
    for (var v in __lang.each(a)) sum += v;
    assertEq(n, 1000000);
    assertEq(sum, 499999500000);
});

table("Array and String generics take `this` as their first argument", [
    ["Array.map('abc', function (c) { return c + c; })", '["aa", "bb", "cc"]'],
    ["Array.join({length: 2, 0: 'a', 1: 'b'}, '-')", '"a-b"'],
    ["(function () { return Array.slice(arguments, 1); })(1, 2, 3)", "[2, 3]"],
    ["var s = 0; Array.forEach([1, 2], function (v) { s += v; }); s", "3"],
    ["var a = [3]; Array.push(a, 1, 2); Array.sort(a)", "[1, 2, 3]"],
    ["Array.reduce([1, 2, 3], function (x, y) { return x + y; })", "6"],
    ["Array.forEach(null, function () {})", "throws TypeError"],
    ["[Array.forEach.length, Array.slice.length, Array.forEach.name]", '[2, 3, "forEach"]'],
    ["[String.replace('aXb', 'X', '-'), String.charAt('abc', 1), String.toUpperCase(5)]", '["a-b", "b", "5"]'],
    ["String.split('a,b', ',')", '["a", "b"]'],
    ["String.concat(1, 2, 3)", '"123"'],
    ["String.substring.length", "3"],
], uneval);

table("quote writes the string as a double-quoted literal", [
    ["'a\"b\\n\\u1234\\x01\\t\\''.quote()", '"\\"a\\\\\\"b\\\\n\\\\u1234\\\\x01\\\\t\'\\""'],
    ["String.quote(12)", '"\\"12\\""'],
    ["eval('a\"\\\\\\n\\u00e9'.quote()) === 'a\"\\\\\\n\\u00e9'", "true"],
    ["String.prototype.quote.call(null)", "throws TypeError"],
], uneval);

table("__defineGetter__ and its kin", [
    ["var o = {}; o.__defineGetter__('x', function () { return 42; }); [o.x, o.propertyIsEnumerable('x')]",
     "[42, true]"],
    ["var o = {}; o.__defineSetter__('x', function (v) { this.y = v; }); o.x = 5; o.y", "5"],
    ["var g = function () {}, o = {}; o.__defineGetter__('x', g); Object.create(o).__lookupGetter__('x') === g",
     "true"],
    ["({}).__lookupSetter__('x')", "(void 0)"],
    ["({}).__defineGetter__('x', 5)", "throws TypeError"],
    ["Object.prototype.propertyIsEnumerable('__defineGetter__')", "false"],
], uneval);

table("__proto__ in an object literal sets the prototype; Math and JSON write their names", [
    ["var p = {x: 1}, o = {__proto__: p, y: 2}; [o.x, Object.getPrototypeOf(o) === p, uneval(o)]",
     '[1, true, "({y:2})"]'],
    ["var o = {'__proto__': null}; [Object.getPrototypeOf(o), o.toString]", "[null, (void 0)]"],
    ["({__proto__: {get x() { return 1; }}}).__lookupGetter__('x')()", "1"],
    ["Object.getPrototypeOf({__proto__: 5}) === Object.prototype", "true"],
    ["[uneval(Math), Math.toSource(), uneval({j: JSON}), uneval(Object.create(Math))]",
     '["Math", "Math", "({j:JSON})", "({})"]'],
], uneval);

table("Date's string forms, and Date.parse reads them back", [
    ["new Date(Date.UTC(2026, 11, 9, 3, 47, 15)).toUTCString()", '"Wed, 09 Dec 2026 03:47:15 GMT"'],
    ["new Date(0).toGMTString()", '"Thu, 01 Jan 1970 00:00:00 GMT"'],
    ["new Date(Date.UTC(-50, 0, 1)).toUTCString()", '"Sun, 01 Jan -0050 00:00:00 GMT"'],
    ["new Date(Date.UTC(12345, 0, 1)).toUTCString()", '"Mon, 01 Jan 12345 00:00:00 GMT"'],
    ["/^Wed Dec 09 2026 \\d\\d:\\d\\d:\\d\\d GMT[-+]\\d{4}( \\(\\w[\\w ]*\\))?$/.test(new Date(2026, 11, 9, 12).toString())",
     "true"],
    ["/^Wed Dec 09 2026$/.test(new Date(2026, 11, 9, 12).toDateString())", "true"],
    ["/^12:00:00 GMT[-+]\\d{4}/.test(new Date(2026, 11, 9, 12).toTimeString())", "true"],
    ["/2026/.test(new Date(2026, 11, 9, 12).toLocaleDateString())", "true"],
    ["var d = new Date(NaN); [d.toString(), d.toUTCString(), d.toDateString(), d.toLocaleString()]",
     '["Invalid Date", "Invalid Date", "Invalid Date", "Invalid Date"]'],
    ["new Date(5).toISOString()", '"1970-01-01T00:00:00.005Z"'],
    ["new Date(2026, 11, 9, 3, 4, 5).toLocaleFormat('%Y-%m-%d %H:%M:%S')", '"2026-12-09 03:04:05"'],
    ["Date.prototype.toLocaleFormat.call({}, '%Y')", "throws TypeError"],
    ["var d = new Date(2026, 11, 9, 3, 47, 15); [d.toString(), d.toUTCString(), d.toLocaleString()]" +
     ".map(Date.parse).every(function (t) { return t === d.getTime(); })", "true"],
    ["var d = new Date(2026, 11, 9); [d.toDateString(), d.toLocaleDateString()].map(Date.parse)" +
     ".every(function (t) { return t === d.getTime(); })", "true"],
    ["Date.parse(new Date(Date.UTC(-50, 0, 1)).toString()) === Date.UTC(-50, 0, 1)", "true"],
    ["Date.parse('Wed, 09 Dec 2026 03:47:15 GMT')", "1796788035000"],
    ["Date.parse('Wed Dec 09 2026 03:47:15 GMT+0100 (CET)')", "1796784435000"],
    ["Date.parse('Mon, 1 Jan 2001 10:00 PST')", "978372000000"],
    ["Date.parse('January 1, 2001 10:00:00 PM UTC-0130')", "978391800000"],
    ["Date.parse('2001-01-01T00:00:00Z')", "978307200000"],
    ["[Date.parse('nonsense'), Date.parse('12:00'), Date.parse('Dec 32 2001'), Date.parse('Jan 1 2001 13:00 PM')]",
     "[NaN, NaN, NaN, NaN]"],
], uneval);

test("Date.parse reads back every string form, across the years and zone changes", function () {
    for (var t = -2e14; t < 4e14; t += 7777777777777) {
        var d = new Date(t - t % 1000);
        var day = new Date(d.getTime());
        day.setHours(0, 0, 0, 0);
        assertEq(Date.parse(d.toString()), d.getTime(), d.toString());
        assertEq(Date.parse(d.toUTCString()), d.getTime(), d.toUTCString());
        assertEq(Date.parse(d.toDateString()), day.getTime(), d.toDateString());
    }
});

// The functions whose text the rows below show.
function declared(a) {
    return a; // a comment stays
}
var expression = function (x) { return x * 2; };

table("functions give their source text; natives the native form", [
    ["String(declared)", '"function declared(a) {\\n    return a; // a comment stays\\n}"'],
    ["uneval(declared) === String(declared)", "true"],
    ["[String(expression), expression.toSource()]",
     '["function (x) { return x * 2; }", "(function (x) { return x * 2; })"]'],
    ["uneval({f: function () {}})", '"({f:function () {}})"'],
    ["eval(uneval(expression))(21)", "42"],
    ["String(function (s) { return '\\u00e9' + s; }) === \"function (s) { return '\\\\u00e9' + s; }\"", "true"],
    ["eval('(' + String(new Function('a', 'b', 'return a + b')) + ')')(1, 2)", "3"],
    ["String(({get x() { return 1; }}).__lookupGetter__('x'))", '"function () { return 1; }"'],
    ["String(Math.max)", '"function max() {\\n    [native code]\\n}"'],
    ["uneval(Iterator)", '"function Iterator() {\\n    [native code]\\n}"'],
    ["String(Iterator.prototype.__iterator__)", '"function __iterator__() {\\n    [native code]\\n}"'],
    ["String(declared.bind(null))", '"function () {\\n    [native code]\\n}"'],
    ["Function.prototype.toString.call({})", "throws TypeError"],
], uneval);

// A decimal number (a literal, Number, parseFloat) is the double nearest to it; one half way
// between two doubles is the even one, unless a digit past the twentieth says it is above.
table("a decimal number is the nearest double, a tie the even one", [
    ["9007199254740993", "9007199254740992"],
    ["-9007199254740993", "-9007199254740992"],
    ["Number('9007199254740995')", "9007199254740996"],
    ["Number('4503599627370497.5')", "4503599627370498"],
    ["parseFloat('18014398509481986')", "18014398509481984"],
    ["1e23", "1e+23"],
    ["Number('9007199254740993.00000000000000000001')", "9007199254740994"],
    ["Number('2.4703282292062328e-324')", "5e-324"],
    ["Number('2.4703282292062327e-324')", "0"],
], uneval);

done();
