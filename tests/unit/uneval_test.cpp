// uneval() and toSource() on a bare heap: the exact text forms, values that evaluate back
// equal, cycles, deep nesting and errors raised while writing.
#include "core/lang/lang.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// same(a, b): deep equality that tells -0 from 0, holes from undefined and key order apart.
// rt(v): true when eval(uneval(v)) is the same as v, else the text for the failure message.
const char* kHelpers = R"(
function same(a, b) {
    if (typeof a !== typeof b) return false;
    if (typeof a === 'number') return Object.is(a, b);
    if (a === null || b === null || typeof a !== 'object') return a === b;
    if (Object.prototype.toString.call(a) !== Object.prototype.toString.call(b) ||
        Object.getPrototypeOf(a) !== Object.getPrototypeOf(b)) return false;
    if (a instanceof Date || a instanceof Number || a instanceof String || a instanceof Boolean)
        return same(a.valueOf(), b.valueOf());
    var ka = Object.keys(a), kb = Object.keys(b);
    if (JSON.stringify(ka) !== JSON.stringify(kb) || a.length !== b.length) return false;
    for (var i = 0; i < ka.length; i++)
        if (!same(a[ka[i]], b[ka[i]])) return false;
    return true;
}
function rt(v) {
    var s = uneval(v);
    return same(eval(s), v) || s;
}
)";

class Uneval : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx = duk_create_heap_default();
        ASSERT_NE(ctx, nullptr);
        engine::installUneval(ctx);
        engine::installErrorArguments(ctx);
        ASSERT_EQ(run(kHelpers), "undefined");
    }
    void TearDown() override { duk_destroy_heap(ctx); }

    // The script's result as a string, or "threw <error>".
    std::string run(const std::string& js) {
        bool ok = duk_peval_lstring(ctx, js.data(), js.size()) == 0;
        std::string r = (ok ? "" : "threw ") + std::string(duk_safe_to_string(ctx, -1));
        duk_pop(ctx);
        EXPECT_EQ(duk_get_top(ctx), 0);
        return r;
    }
    std::string uneval(const std::string& expr) { return run("uneval(" + expr + ")"); }

    duk_context* ctx = nullptr;
};

TEST_F(Uneval, PrimitiveForms) {
    EXPECT_EQ(uneval(""), "(void 0)");
    EXPECT_EQ(uneval("undefined"), "(void 0)");
    EXPECT_EQ(uneval("null"), "null");
    EXPECT_EQ(uneval("true"), "true");
    EXPECT_EQ(uneval("false"), "false");
    EXPECT_EQ(uneval("42"), "42");
    EXPECT_EQ(uneval("-1.5"), "-1.5");
    EXPECT_EQ(uneval("1e21"), "1e+21");
    EXPECT_EQ(uneval("0"), "0");
    EXPECT_EQ(uneval("-0"), "-0");
    EXPECT_EQ(uneval("NaN"), "NaN");
    EXPECT_EQ(uneval("Infinity"), "Infinity");
    EXPECT_EQ(uneval("-Infinity"), "-Infinity");
    EXPECT_EQ(uneval("Symbol('a b')"), R"(Symbol("a b"))");
    // A double whose shortest engine form reads back as its neighbour.
    EXPECT_EQ(run("rt(new Float64Array(new Uint32Array([0x0, 0x1000000]).buffer)[0])"), "true");
}

TEST_F(Uneval, StringEscapes) {
    EXPECT_EQ(uneval(R"('say "hi" it\'s a\\b')"), R"("say \"hi\" it's a\\b")");
    EXPECT_EQ(uneval(R"('\n\r\t\b\f\v')"), R"("\n\r\t\b\f\v")");
    EXPECT_EQ(uneval(R"('\0\x01\x1f\x7f')"), R"("\x00\x01\x1F\x7F")");
    EXPECT_EQ(uneval(R"('\u00e9\u20ac\ud800\udc00\u2028')"), R"("\xE9\u20AC\uD800\uDC00\u2028")");
}

TEST_F(Uneval, StringsRoundTrip) {
    for (const char* s : {R"('"quoted" and \'single\' \\')", R"('\0\x01\n\r\t\b\f\v\x1b\x7f')",
                          R"('caf\u00e9 \u20ac')", R"('lone \ud800 and \udfff')",
                          R"('\udc00\ud800 reversed pair, \ud83d\ude00 pair')"})
        EXPECT_EQ(run(std::string("rt(") + s + ")"), "true") << s;
    // Every code unit, line and paragraph separators included.
    EXPECT_EQ(run("var c = []; for (var i = 0; i < 0x10000; i++) c.push(String.fromCharCode(i));"
                  "var s = c.join(''), u = uneval(s); eval(u) === s && /^[\\x20-\\x7e]*$/.test(u)"),
              "true");
}

TEST_F(Uneval, Arrays) {
    EXPECT_EQ(uneval("[]"), "[]");
    EXPECT_EQ(uneval("[1, 2, 'x']"), R"([1, 2, "x"])");
    EXPECT_EQ(uneval("[[], [null, [undefined]]]"), "[[], [null, [(void 0)]]]");
    EXPECT_EQ(uneval("[, 2]"), "[, 2]");
    EXPECT_EQ(uneval("[1, , , ]"), "[1, , ,]");
    EXPECT_EQ(uneval("new Array(2)"), "[, ,]");
    for (const char* a : {"[, 2]", "[1, , ]", "[1, , , ]", "new Array(1)", "new Array(5)",
                          "(function () { var a = []; a[4] = 'x'; return a; })()",
                          "(function () { var a = [1, 2]; a.length = 4; return a; })()",
                          "[undefined, , null, -0]"}) {
        EXPECT_EQ(run(std::string("rt(") + a + ")"), "true") << a;
        EXPECT_EQ(run(std::string("var a = ") + a + "; eval(uneval(a)).length === a.length"),
                  "true")
            << a;
    }
}

TEST_F(Uneval, PlainObjects) {
    EXPECT_EQ(uneval("{}"), "({})");
    EXPECT_EQ(uneval("{'a/b.js': {size: 1, csize: 9, time: 0, module: 'app'}}"),
              R"(({'a/b.js':{size:1, csize:9, time:0, module:"app"}}))");
    EXPECT_EQ(uneval("{a: 1, 'b c': 2, $_x9: {}, u: undefined}"),
              "({a:1, 'b c':2, $_x9:{}, u:(void 0)})");
    // Integer keys in canonical form go bare (the engine enumerates them first); anything
    // else that is not an ASCII identifier is quoted and escaped.
    EXPECT_EQ(uneval("{x: 1, 0: 2, 17: 3, '01': 4, '9a': 5, '': 6, '-1': 7}"),
              "({0:2, 17:3, x:1, '01':4, '9a':5, '':6, '-1':7})");
    EXPECT_EQ(uneval(R"({"it's": 1, 'caf\u00e9': 2, 'a\nb': 3, 'q"': 4})"),
              R"(({'it\'s':1, 'caf\xE9':2, 'a\nb':3, 'q"':4}))");
    // Only own enumerable string keys; a getter's value is read.
    EXPECT_EQ(run("var p = Object.create({inherited: 1}); p.own = 2;"
                  "Object.defineProperty(p, 'hidden', {value: 3, enumerable: false});"
                  "Object.defineProperty(p, 'got', {get: function () { return this.own * 10; },"
                  "    enumerable: true});"
                  "p[Symbol('s')] = 4; uneval(p)"),
              "({own:2, got:20})");
}

TEST_F(Uneval, ObjectsRoundTrip) {
    for (const char* v :
         {"{'a/b.js': {size: 1, csize: 9, time: 0, module: 'app'}, 'c d': [1, {e: -0}]}",
          R"({"": "", "'\"\\": "\u20ac", 'if': 1, 'class': {'new': []}, 12345678901234567890: 1})",
          "{a: {b: {c: {d: [[], {}, [{}]]}}}, n: null, u: undefined, t: true, x: NaN}",
          "[{a: [1, , 3]}, {b: 'x\\ny'}]"})
        EXPECT_EQ(run(std::string("rt(") + v + ")"), "true") << v;
}

TEST_F(Uneval, OtherKinds) {
    EXPECT_EQ(uneval("new Date(1234)"), "(new Date(1234))");
    EXPECT_EQ(uneval("[new Date(0), {d: new Date(-5)}]"), "[(new Date(0)), {d:(new Date(-5))}]");
    EXPECT_EQ(uneval("new Date(NaN)"), "(new Date(NaN))");
    EXPECT_EQ(uneval("new Number(5)"), "(new Number(5))");
    EXPECT_EQ(uneval("new Number(-0)"), "(new Number(-0))");
    EXPECT_EQ(uneval("new String('a\"')"), R"((new String("a\"")))");
    EXPECT_EQ(uneval("new Boolean(false)"), "(new Boolean(false))");
    EXPECT_EQ(uneval("{n: new Number(1)}"), "({n:(new Number(1))})");
    for (const char* v : {"new Date(1234)", "new Number(-0)", "new String('\\u20ac')",
                          "[new Boolean(true), {d: new Date(0)}]"})
        EXPECT_EQ(run(std::string("rt(") + v + ")"), "true") << v;

    EXPECT_EQ(uneval("/a+/gi"), "/a+/gi");
    EXPECT_EQ(uneval("{r: /x\\/y/m}"), R"(({r:/x\/y/m}))");
    // Line terminators and non-ASCII characters in a pattern are escaped, keeping the match.
    EXPECT_EQ(uneval("new RegExp('a\\n\\u00e9\\\\\\u20ac', 'g')"), R"(/a\u000A\u00E9\u20AC/g)");
    EXPECT_EQ(
        run("var r = eval(uneval(new RegExp('^a\\n\\u00e9\\\\\\u20ac\\u2028$')));"
            "r.test('a\\n\\u00e9\\u20ac\\u2028') && !r.test('a\\n\\u00e9\\\\\\u20ac\\u2028')"),
        "true");

    // Functions: their text, a function expression in parentheses; natives in the native form.
    EXPECT_EQ(run("function f(a) {\n  return a; } uneval(f) === String(f)"), "true");
    EXPECT_EQ(uneval("function (a) { return '\u00e9'; }"), "(function (a) { return '\\u00E9'; })");
    EXPECT_EQ(uneval("[Math.max]"), "[function max() {\n    [native code]\n}]");
}

TEST_F(Uneval, Errors) {
    EXPECT_EQ(run("var e = new RangeError('bad \"x\"'); e.fileName = 'file.js'; e.lineNumber = 12;"
                  "uneval(e)"),
              R"((new RangeError("bad \"x\"", "file.js", 12)))");
    // Missing trailing parts are left out; a missing middle one stays as an empty string.
    EXPECT_EQ(run("var e = new TypeError('m'); e.fileName = undefined; e.lineNumber = 3;"
                  "uneval(e)"),
              R"((new TypeError("m", "", 3)))");
    EXPECT_EQ(run("var e = new Error('m'); e.fileName = undefined; e.lineNumber = undefined;"
                  "uneval([e])"),
              R"([(new Error("m"))])");
    EXPECT_EQ(run("var e = new Error('m'); e.name = 'not an identifier'; e.fileName = 'f';"
                  "e.lineNumber = 0; uneval(e)"),
              R"((new Error("m", "f")))");
    // An engine error carries its own place and evaluates back to an error of its kind.
    EXPECT_EQ(run("var e; try { null.x; } catch (x) { e = x; } var u = uneval(e);"
                  "var b = eval(u); b instanceof TypeError && b.message === e.message &&"
                  "u.indexOf(', ' + e.lineNumber + '))') > 0"),
              "true");
}

TEST_F(Uneval, ErrorsRoundTripTheirPlace) {
    // The error form carries file and line, and evaluating it gives them back.
    EXPECT_EQ(run("var b = eval(uneval(new SyntaxError('m', 'f.js', 3)));"
                  "[b instanceof SyntaxError, b.message, b.fileName, b.lineNumber, uneval(b)]"
                  ".join('|')"),
              R"(true|m|f.js|3|(new SyntaxError("m", "f.js", 3)))");
    EXPECT_EQ(run("var e = Error('m', 7, '12.9'); [e.fileName, e.lineNumber].join()"), "7,12");
    // Without them, the calling line is blamed as before; the constructors keep their face.
    EXPECT_EQ(run("\n\nnew TypeError('x').lineNumber"), "3");
    EXPECT_EQ(run("var t; try { null.x } catch (e) { t = e; }"
                  "[t instanceof TypeError, t.constructor === TypeError, TypeError.name,"
                  " TypeError.length, Error.prototype.constructor === Error,"
                  " Object.keys(new Error('a', 'b', 1)).length].join()"),
              "true,true,TypeError,1,true,0");
}

TEST_F(Uneval, OwnToSourceIsCalled) {
    EXPECT_EQ(run("function P(v) { this.v = v; }"
                  "P.prototype.toSource = function () { return 'new P(' + uneval(this.v) + ')'; };"
                  "uneval([new P(1), {p: new P('\u00e9')}])"),
              R"([new P(1), {p:new P("\xE9")}])");
    // Its own toSource may call the host's on itself; calling it directly uses its own.
    EXPECT_EQ(run("var o = {n: 1, toSource: function () {"
                  "    return 'O' + Object.prototype.toSource.call({n: this.n}); }};"
                  "uneval(o) + ' ' + o.toSource()"),
              "O({n:1}) O({n:1})");
    // A toSource that is no function is just a property.
    EXPECT_EQ(uneval("{toSource: 3}"), "({toSource:3})");
}

TEST_F(Uneval, Cycles) {
    EXPECT_EQ(run("var a = {x: 1}; a.self = a; uneval(a)"), "#1={x:1, self:#1#}");
    EXPECT_EQ(run("var b = [1]; b.push(b); uneval(b)"), "#1=[1, #1#]");
    EXPECT_EQ(run("var p = {}, q = {p: p}; p.q = q; uneval({top: p})"), "({top:#1={q:{p:#1#}}})");
    // An object met twice on different paths is no cycle: it is written both times.
    EXPECT_EQ(run("var s = {x: [1]}; uneval({p: s, q: [s, s]})"),
              "({p:{x:[1]}, q:[{x:[1]}, {x:[1]}]})");
}

TEST_F(Uneval, DeepNesting) {
    const char* tooDeep = "try { uneval(x); 'returned' } catch (e) {"
                          "    (e instanceof RangeError) + ' ' + e.message }";
    EXPECT_EQ(run(std::string("var x = []; for (var i = 0; i < 100000; i++) x = [x];") + tooDeep),
              "true uneval: nesting too deep");
    EXPECT_EQ(
        run(std::string("var x = {}; for (var i = 0; i < 100000; i++) x = {a: x};") + tooDeep),
        "true uneval: nesting too deep");
    EXPECT_EQ(run("var x = []; for (var i = 0; i < 400; i++) x = [{a: x}]; rt(x)"), "true");
}

TEST_F(Uneval, ThrowsPropagate) {
    EXPECT_EQ(run("try { uneval({a: 1, get b() { throw new Error('from getter'); }}) }"
                  "catch (e) { e.message }"),
              "from getter");
    EXPECT_EQ(
        run("var e = new Error(); e.message = {toString: function () { throw 'from toString'; }};"
            "try { uneval([e]) } catch (x) { x }"),
        "from toString");
}

TEST_F(Uneval, ToSource) {
    EXPECT_EQ(run("({a: 1, b: [2]}).toSource()"), "({a:1, b:[2]})");
    EXPECT_EQ(run("[1, 'x'].toSource()"), R"([1, "x"])");
    EXPECT_EQ(run("(5).toSource()"), "(new Number(5))");
    EXPECT_EQ(run("'a'.toSource()"), R"((new String("a")))");
    EXPECT_EQ(run("true.toSource()"), "(new Boolean(true))");
    EXPECT_EQ(run("new Date(7).toSource()"), "(new Date(7))");
    EXPECT_EQ(run("try { Object.prototype.toSource.call(null) } catch (e) { e.name }"),
              "TypeError");
}

TEST_F(Uneval, Installation) {
    // Neither shows up in enumeration; uneval can be replaced or deleted.
    EXPECT_EQ(run("var d = Object.getOwnPropertyDescriptor(this, 'uneval');"
                  "[d.writable, d.enumerable, d.configurable, typeof d.value].join()"),
              "true,false,true,function");
    EXPECT_EQ(run("var d = Object.getOwnPropertyDescriptor(Object.prototype, 'toSource');"
                  "[d.enumerable, typeof d.value].join()"),
              "false,function");
    EXPECT_EQ(run("var k = []; for (var i in {a: 1}) k.push(i); k.join()"), "a");
    // Reached through a bound function, a call or a renamed reference, it still works.
    EXPECT_EQ(run("var u = uneval; [uneval.bind(null)([1]), u.call(null, 'x'),"
                  "    Object.prototype.toSource.apply(2)].join(' ')"),
              R"([1] "x" (new Number(2)))");
    // Replacing the built-ins that classify values does not change the output.
    EXPECT_EQ(run("Object.prototype.toString = function () { return '[object Date]'; };"
                  "Date.prototype.getTime = function () { return 99; };"
                  "uneval([{a: 1}, new Date(3)])"),
              "[{a:1}, (new Date(3))]");
    // An object that only claims a class through Symbol.toStringTag stays a plain object.
    EXPECT_EQ(run("var o = {a: 1}; o[Symbol.toStringTag] = 'Date'; uneval(o)"), "({a:1})");
}

} // namespace
