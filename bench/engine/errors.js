// 100 000 caught errors of the kinds scripts meet: a property read of undefined, a call of
// a value that is no function, a name not defined, and an Error made and thrown in a
// function with arguments; each message read.
function read(o, n) { return o.missing.x; }
function fail(a, b) { throw new Error("failed " + a); }
var u, length = 0;
for (var i = 0; i < 25000; i++) {
    try { read({}, i); } catch (e) { length += e.message.length; }
    try { u(i); } catch (e) { length += e.message.length; }
    try { undefinedName; } catch (e) { length += e.message.length; }
    try { fail(i, "x"); } catch (e) { length += e.message.length; }
}
