// The module interface table against the real engine: every slot from a test body, and
// natives defined through the table and called from script.
#include "core/engine/engine.h"

#include <gtest/gtest.h>

#include "tests/unit/test_support.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string.h>
#include <thread>
#include <vector>

namespace {

const ModuleApi* api;

HostContext* mainCx() {
    api = engine::api();
    return testEngine();
}

// A request on the main context for a test body; the value stack is restored on exit.
struct Request {
    HostContext* cx;
    int mark;
    Request() : cx(mainCx()) {
        api->beginRequest(cx);
        mark = engine::stackMark(cx);
    }
    ~Request() {
        engine::stackReset(cx, mark);
        api->endRequest(cx);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Evaluates global code; "<failed>" when it throws.
    std::string eval(const char* source, const char* file = "test.js") {
        HostValue v;
        if (!api->evaluateScript(cx, file, source, &v)) return "<failed>";
        return api->toBytes(cx, v);
    }
    HostValue value(const char* source) {
        HostValue v = HOST_UNDEFINED;
        EXPECT_TRUE(api->evaluateScript(cx, "test.js", source, &v)) << source;
        return v;
    }
    HostObject* object(const char* source) { return hostToObject(value(source)); }
    void setGlobal(const char* name, HostValue v) {
        ASSERT_TRUE(api->defineProperty(cx, api->getGlobal(cx), name, v, nullptr, nullptr, 0));
    }
    void defineGlobals(const HostFunctionSpec* fns) {
        ASSERT_TRUE(api->defineFunctions(cx, api->getGlobal(cx), fns));
    }
};

#define NATIVE(fn)                                                                                 \
    int fn([[maybe_unused]] HostContext* cx, [[maybe_unused]] HostObject* self,                    \
           [[maybe_unused]] unsigned argc, [[maybe_unused]] HostValue* argv,                       \
           [[maybe_unused]] HostValue* rval)

HostValue arg(unsigned argc, HostValue* argv, unsigned i) {
    return i < argc ? argv[i] : HOST_UNDEFINED;
}

std::u16string wide(const HostChar* s) {
    std::u16string out;
    while (s && *s)
        out.push_back(static_cast<char16_t>(*s++));
    return out;
}

} // namespace

// ---- reading and converting --------------------------------------------------------------

TEST(ModuleApi, GetProperty) {
    Request r;
    HostObject* o = r.object("({n: 1.5, s: 'x', nul: null, get bad() { throw 1; }})");
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(hostToDouble(api->getProperty(r.cx, o, "n")), 1.5);
    EXPECT_TRUE(hostIsString(api->getProperty(r.cx, o, "s")));
    EXPECT_TRUE(hostIsNull(api->getProperty(r.cx, o, "nul")));
    EXPECT_TRUE(hostIsUndefined(api->getProperty(r.cx, o, "missing")));
    EXPECT_TRUE(hostIsUndefined(api->getProperty(r.cx, o, "bad")));
    // Inherited properties are read too.
    EXPECT_TRUE(hostIsObject(api->getProperty(r.cx, o, "toString")));
}

TEST(ModuleApi, PropertyAsNumber) {
    Request r;
    HostObject* o = r.object("({nul: null, text: '12', u: undefined, word: 'abc', t: true, "
                             "get bad() { throw 1; }})");
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "missing", 7), 7);
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "u", 7), 7);
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "nul", 7), 0);
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "text", 7), 12);
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "t", 7), 1);
    EXPECT_TRUE(std::isnan(api->propertyAsNumber(r.cx, o, "word", 7)));
    EXPECT_EQ(api->propertyAsNumber(r.cx, o, "bad", 7), 7);
}

TEST(ModuleApi, PropertyAsBytes) {
    Request r;
    HostObject* o = r.object("({five: 5, nul: null, e: '\\u00e9\\u20ac', u: undefined})");
    EXPECT_STREQ(api->propertyAsBytes(r.cx, o, "five", nullptr), "5");
    EXPECT_STREQ(api->propertyAsBytes(r.cx, o, "nul", nullptr), "null");
    EXPECT_STREQ(api->propertyAsBytes(r.cx, o, "e", nullptr), "\xE9\xAC");
    EXPECT_EQ(api->propertyAsBytes(r.cx, o, "missing", nullptr), nullptr);
    const char* def = "default";
    EXPECT_EQ(api->propertyAsBytes(r.cx, o, "missing", def), def);
    EXPECT_EQ(api->propertyAsBytes(r.cx, o, "u", def), def);
}

TEST(ModuleApi, PropertyAsChars) {
    Request r;
    HostObject* o = r.object("({euro: '\\u20ac', num: 1.5, lone: '\\ud800'})");
    EXPECT_EQ(wide(api->propertyAsChars(r.cx, o, "euro", nullptr)), u"\u20AC");
    EXPECT_EQ(wide(api->propertyAsChars(r.cx, o, "num", nullptr)), u"1.5");
    const HostChar* lone = api->propertyAsChars(r.cx, o, "lone", nullptr);
    EXPECT_EQ(lone[0], 0xD800);
    EXPECT_EQ(lone[1], 0);
    EXPECT_EQ(api->propertyAsChars(r.cx, o, "missing", nullptr), nullptr);
    static const HostChar def[] = {'d', 0};
    EXPECT_EQ(api->propertyAsChars(r.cx, o, "missing", def), def);
}

TEST(ModuleApi, ToBytes) {
    Request r;
    // Each UTF-16 unit is cut to its low byte.
    const char* s = api->toBytes(r.cx, r.value("'a\\u00e9\\u20ac'"));
    EXPECT_STREQ(s, "a\xE9\xAC");
    // A NUL inside the string is kept, and the text is still terminated after it.
    s = api->toBytes(r.cx, r.value("'a\\u0000b'"));
    EXPECT_EQ(std::string(s, 4), std::string("a\0b\0", 4));
    EXPECT_STREQ(api->toBytes(r.cx, HOST_UNDEFINED), "undefined");
    EXPECT_STREQ(api->toBytes(r.cx, HOST_NULL), "null");
    EXPECT_STREQ(api->toBytes(r.cx, HOST_TRUE), "true");
    EXPECT_STREQ(api->toBytes(r.cx, hostNumber(-2.5)), "-2.5");
    EXPECT_STREQ(api->toBytes(r.cx, r.value("({toString: function() { return 'me'; }})")), "me");
    // Texts stay valid while the values they came from are rooted.
    const char* a = api->toBytes(r.cx, r.value("'\\u00e0'"));
    const char* b = api->toBytes(r.cx, r.value("'\\u00e1'"));
    EXPECT_STREQ(a, "\xE0");
    EXPECT_STREQ(b, "\xE1");
}

TEST(ModuleApi, ToChars) {
    Request r;
    const HostChar* s = api->toChars(r.cx, r.value("'x\\ud800y\\udc00'"));
    EXPECT_EQ(wide(s), std::u16string({u'x', char16_t(0xD800), u'y', char16_t(0xDC00)}));
    // A non-BMP character crosses as its surrogate pair.
    s = api->toChars(r.cx, r.value("'\\ud83d\\ude00'"));
    EXPECT_EQ(wide(s), std::u16string({char16_t(0xD83D), char16_t(0xDE00)}));
    // So does one that the engine holds as a single code point (decoded from UTF-8).
    HostValue decoded =
        r.value("new TextDecoder().decode(new Uint8Array([0xF0, 0x9F, 0x98, 0x80]))");
    s = api->toChars(r.cx, decoded);
    EXPECT_EQ(wide(s), std::u16string({char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(api->toLength(r.cx, decoded), 2);
    EXPECT_EQ(wide(api->toChars(r.cx, hostNumber(12))), u"12");
    EXPECT_EQ(api->toChars(r.cx, r.value("''"))[0], 0);
}

TEST(ModuleApi, ToLength) {
    Request r;
    EXPECT_EQ(api->toLength(r.cx, r.value("'abc'")), 3);
    EXPECT_EQ(api->toLength(r.cx, r.value("''")), 0);
    EXPECT_EQ(api->toLength(r.cx, r.value("'\\u20ac'")), 1);
    EXPECT_EQ(api->toLength(r.cx, r.value("'a\\u0000b'")), 3);
    EXPECT_EQ(api->toLength(r.cx, r.value("'\\ud83d\\ude00'")), 2);
    EXPECT_EQ(api->toLength(r.cx, hostNumber(12.5)), 4);
    EXPECT_EQ(api->toLength(r.cx, HOST_NULL), 4);
}

TEST(ModuleApi, ToNumber) {
    Request r;
    EXPECT_TRUE(std::isnan(api->toNumber(r.cx, r.value("'abc'"))));
    EXPECT_TRUE(std::isnan(api->toNumber(r.cx, HOST_UNDEFINED)));
    EXPECT_TRUE(std::isnan(api->toNumber(r.cx, r.value("({})"))));
    EXPECT_TRUE(std::isnan(api->toNumber(r.cx, r.value("({valueOf: function() { throw 1; }})"))));
    EXPECT_EQ(api->toNumber(r.cx, r.value("' 12 '")), 12);
    EXPECT_EQ(api->toNumber(r.cx, r.value("'0x10'")), 16);
    EXPECT_EQ(api->toNumber(r.cx, r.value("''")), 0);
    EXPECT_EQ(api->toNumber(r.cx, HOST_NULL), 0);
    EXPECT_EQ(api->toNumber(r.cx, HOST_TRUE), 1);
    EXPECT_EQ(api->toNumber(r.cx, r.value("({valueOf: function() { return 3; }})")), 3);
    EXPECT_EQ(api->toNumber(r.cx, hostNumber(-0.25)), -0.25);
}

// ---- making values -------------------------------------------------------------------------

TEST(ModuleApi, NewString) {
    Request r;
    HostValue empty = api->newString(r.cx, nullptr, nullptr);
    ASSERT_TRUE(hostIsString(empty));
    EXPECT_EQ(api->toLength(r.cx, empty), 0);

    static const HostChar chars[] = {'w', 0xD83D, 0xDE00, 0xD800, 0};
    r.setGlobal("narrow", api->newString(r.cx, "a\xE9\xFF", nullptr));
    r.setGlobal("wide", api->newString(r.cx, nullptr, chars));
    r.setGlobal("both", api->newString(r.cx, "bytes", chars));
    EXPECT_EQ(r.eval("[narrow.length, narrow.charCodeAt(1), narrow.charCodeAt(2)].join()"),
              "3,233,255");
    EXPECT_EQ(r.eval("[wide.length, wide.charCodeAt(1).toString(16), "
                     "wide.charCodeAt(2).toString(16), wide.charCodeAt(3).toString(16)].join()"),
              "4,d83d,de00,d800");
    EXPECT_EQ(r.eval("both"), "bytes");
}

TEST(ModuleApi, NewStringN) {
    Request r;
    r.setGlobal("raw", api->newStringN(r.cx, "a\0b\x80\xFF\0", 6));
    r.setGlobal("none", api->newStringN(r.cx, "ignored", 0));
    EXPECT_EQ(r.eval("var c = []; for (var i = 0; i < raw.length; i++) c.push(raw.charCodeAt(i));"
                     "c.join()"),
              "97,0,98,128,255,0");
    EXPECT_EQ(r.eval("none === ''"), "true");
    // Every byte value crosses as the character of the same code.
    std::string all;
    for (int i = 0; i < 256; i++)
        all.push_back(static_cast<char>(i));
    r.setGlobal("all", api->newStringN(r.cx, all.data(), all.size()));
    EXPECT_EQ(r.eval("var ok = all.length == 256;"
                     "for (var i = 0; i < 256; i++) ok = ok && all.charCodeAt(i) == i; ok"),
              "true");
}

TEST(ModuleApi, NewNumber) {
    Request r;
    r.setGlobal("nan", api->newNumber(r.cx, NAN));
    r.setGlobal("negZero", api->newNumber(r.cx, -0.0));
    r.setGlobal("big", api->newNumber(r.cx, 1e300));
    EXPECT_EQ(r.eval("[typeof nan, isNaN(nan), 1 / negZero, big].join()"),
              "number,true,-Infinity,1e+300");
    EXPECT_TRUE(hostIsNumber(api->newNumber(r.cx, -NAN)));
}

// ---- evaluation ------------------------------------------------------------------------------

static NATIVE(evalNested) {
    const char* src = api->toBytes(cx, arg(argc, argv, 0));
    return api->evaluateScript(nullptr, "nested.js", src, rval);
}

TEST(ModuleApi, EvaluateScript) {
    Request r;
    static const HostFunctionSpec fns[] = {{"evalNested", evalNested, 1, 0, 0},
                                           {nullptr, nullptr, 0, 0, 0}};
    r.defineGlobals(fns);
    EXPECT_EQ(r.eval("var x = 20; x + 22"), "42");
    // Narrow source text is one character per byte.
    EXPECT_EQ(r.eval("'\xE9'.charCodeAt(0)"), "233");
    // Nested: the value comes back, and an error goes to the calling script.
    EXPECT_EQ(r.eval("evalNested('x * 2')"), "40");
    EXPECT_EQ(r.eval("try { evalNested('(('); 'no' } catch (e) { e.name }"), "SyntaxError");
    EXPECT_EQ(r.eval("try { evalNested('throw 7') } catch (e) { e }"), "7");
    // Outermost: the error is reported and the result is undefined.
    testing::internal::CaptureStdout();
    HostValue v = hostNumber(1);
    EXPECT_EQ(api->evaluateScript(r.cx, "top.js", "\nnull.x", &v), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(hostIsUndefined(v));
    EXPECT_NE(out.find("top.js:2"), std::string::npos) << out;
    EXPECT_NE(out.find("TypeError"), std::string::npos) << out;
    // A null context is the calling thread's.
    EXPECT_EQ(api->evaluateScript(nullptr, "t.js", "x", &v), 1);
    EXPECT_EQ(api->toNumber(r.cx, v), 20);
}

// ---- propertyValues ----------------------------------------------------------------------

TEST(ModuleApi, PropertyValues) {
    Request r;
    HostValue* vals = api->propertyValues(r.cx, r.object("Object.create({inherited: 1})"));
    ASSERT_NE(vals, nullptr);
    EXPECT_TRUE(hostIsUndefined(vals[0]));
    api->release(r.cx, vals);

    vals = api->propertyValues(r.cx, r.object("var o = {z: 1, a: 'two', m: true, n: null};"
                                              "Object.defineProperty(o, 'hidden', {value: 5});"
                                              "o"));
    ASSERT_NE(vals, nullptr);
    EXPECT_EQ(hostToDouble(vals[0]), 1);
    EXPECT_STREQ(api->toBytes(r.cx, vals[1]), "two");
    EXPECT_EQ(vals[2], HOST_TRUE);
    EXPECT_TRUE(hostIsNull(vals[3]));
    EXPECT_TRUE(hostIsUndefined(vals[4]));
    api->release(r.cx, vals);

    // The order is the engine's enumeration order, as for-in sees it.
    HostObject* mixed = r.object("var m = {b: 1, 10: 2, a: 3, 2: 4}; m");
    std::string order = r.eval("var k = []; for (var p in m) k.push(m[p]); k.join()");
    vals = api->propertyValues(r.cx, mixed);
    ASSERT_NE(vals, nullptr);
    std::string got;
    for (HostValue* v = vals; !hostIsUndefined(*v); v++)
        got += (got.empty() ? "" : ",") + std::string(api->toBytes(r.cx, *v));
    EXPECT_EQ(got, order);
    api->release(r.cx, vals);

    EXPECT_EQ(api->propertyValues(r.cx, r.object("({get a() { throw 1; }})")), nullptr);
    api->release(r.cx, nullptr);
}

// ---- classes ---------------------------------------------------------------------------------

namespace {

struct Record {
    double value;
    int id;
};

int gNextId = 1;
int gLive = 0;
std::vector<int> gFinalized;     // ids of records seen by the finalizer
int gFinalizedWithoutRecord = 0; // instances (and prototypes) finalized without one
HostObject* gConstructedSelf = nullptr;
HostObject* gCounterProto = nullptr;

Record* newRecord(double value) {
    gLive++;
    return new Record{value, gNextId++};
}

Record* recordOf(HostContext* cx, HostObject* self) {
    Record* rec = self ? static_cast<Record*>(api->getPrivate(cx, self)) : nullptr;
    if (!rec) api->reportError(cx, "not a Counter");
    return rec;
}

NATIVE(counterNew) {
    gConstructedSelf = self;
    Record* rec = newRecord(api->toNumber(cx, arg(argc, argv, 0)));
    if (!api->setPrivate(cx, self, rec)) {
        delete rec;
        gLive--;
        api->reportError(cx, "Counter must be called with new");
        return 0;
    }
    return 1;
}

NATIVE(counterGet) {
    Record* rec = recordOf(cx, self);
    if (!rec) return 0;
    *rval = hostNumber(rec->value);
    return 1;
}

NATIVE(counterAdd) {
    Record* rec = recordOf(cx, self);
    if (!rec) return 0;
    rec->value += api->toNumber(cx, arg(argc, argv, 0));
    *rval = hostNumber(rec->value);
    return 1;
}

NATIVE(counterId) {
    Record* rec = recordOf(cx, self);
    if (!rec) return 0;
    *rval = hostNumber(rec->id);
    return 1;
}

// Tells whether getPrivate finds a record on `this` from a method of its own class.
NATIVE(peek) {
    *rval = api->newString(cx, self && api->getPrivate(cx, self) ? "record" : "null", nullptr);
    return 1;
}

// Tries to replace the record of `this` from a method of its own class.
NATIVE(steal) {
    *rval = hostBoolean(self && api->setPrivate(cx, self, nullptr));
    return 1;
}

NATIVE(counterSetValue) {
    Record* rec = recordOf(cx, self);
    if (!rec) return 0;
    rec->value = api->toNumber(cx, arg(argc, argv, 0));
    return 1;
}

NATIVE(counterTwice) {
    Record* rec = recordOf(cx, self);
    if (!rec) return 0;
    *rval = hostNumber(rec->value * 2);
    return 1;
}

NATIVE(counterMake) {
    HostObject* obj = api->newObject(cx, gCounterProto);
    if (!obj || !api->setPrivate(cx, obj, newRecord(api->toNumber(cx, arg(argc, argv, 0)))))
        return 0;
    *rval = hostObject(obj);
    return 1;
}

NATIVE(counterLive) {
    *rval = hostNumber(gLive);
    return 1;
}

void counterFinalize(HostContext* cx, HostObject* obj) {
    Record* rec = static_cast<Record*>(api->getPrivate(cx, obj));
    if (!rec) {
        gFinalizedWithoutRecord++;
        return;
    }
    gFinalized.push_back(rec->id);
    gLive--;
    delete rec;
}

NATIVE(otherNew) {
    static Record shared{-1, 0};
    return api->setPrivate(cx, self, &shared);
}

const HostFunctionSpec kCounterFns[] = {{"get", counterGet, 0, 0, 0}, {"add", counterAdd, 1, 0, 0},
                                        {"id", counterId, 0, 0, 0},   {"peek", peek, 0, 0, 0},
                                        {"steal", steal, 0, 0, 0},    {nullptr, nullptr, 0, 0, 0}};
const HostPropertySpec kCounterProps[] = {{"value", counterGet, counterSetValue, 0},
                                          {"twice", counterTwice, nullptr, HOST_ATTR_ENUMERATE},
                                          {nullptr, nullptr, nullptr, 0}};
const HostFunctionSpec kCounterStatics[] = {{"make", counterMake, 1, 0, 0},
                                            {nullptr, nullptr, 0, 0, 0}};
const HostPropertySpec kCounterStaticProps[] = {{"live", counterLive, nullptr, 0},
                                                {nullptr, nullptr, nullptr, 0}};
const HostFunctionSpec kOtherFns[] = {{"peek", peek, 0, 0, 0}, {nullptr, nullptr, 0, 0, 0}};

// Counter and Other, defined once per process.
void defineClasses(HostContext* cx) {
    static bool done = false;
    if (done) return;
    done = true;
    gCounterProto = api->defineClass(cx, "Counter", counterNew, 1, kCounterProps, kCounterFns,
                                     kCounterStaticProps, kCounterStatics, counterFinalize);
    ASSERT_NE(gCounterProto, nullptr);
    ASSERT_NE(
        api->defineClass(cx, "Other", otherNew, 0, nullptr, kOtherFns, nullptr, nullptr, nullptr),
        nullptr);
}

} // namespace

TEST(ModuleApiClass, MembersAndStatics) {
    Request r;
    defineClasses(r.cx);
    EXPECT_EQ(r.eval("var c = new Counter(5); c.add(2); c.get()"), "7");
    EXPECT_EQ(r.eval("[c instanceof Counter, Object.getPrototypeOf(c) === Counter.prototype, "
                     "Counter.prototype.constructor === Counter, Counter.length, "
                     "Counter.prototype.add.length, typeof Counter.make].join()"),
              "true,true,true,1,1,function");
    // Accessor specs: read-write and read-only.
    EXPECT_EQ(r.eval("c.value = 10; [c.value, c.get(), c.twice].join()"), "10,10,20");
    EXPECT_EQ(r.eval("c.twice = 1; c.twice"), "20");
    EXPECT_EQ(r.eval("'use strict'; try { c.twice = 1; 'no' } catch (e) { e.name }"), "TypeError");
    // Functions are not enumerable; accessor specs follow their attributes.
    EXPECT_EQ(r.eval("var k = []; for (var p in c) k.push(p); k.join()"), "twice");
    EXPECT_EQ(r.eval("var before = Counter.live; var d = new Counter(1); Counter.live - before"),
              "1");
    EXPECT_EQ(r.eval("var m = Counter.make(3); [m instanceof Counter, m.add(1)].join()"), "true,4");
    // Methods reached on the prototype itself find no record.
    EXPECT_EQ(r.eval("try { Counter.prototype.get() } catch (e) { e.message }"), "not a Counter");
    r.eval("c = d = m = null");
}

TEST(ModuleApiClass, ConstructorSeesNewInstance) {
    Request r;
    defineClasses(r.cx);
    gConstructedSelf = nullptr;
    HostObject* made = r.object("new Counter(1)");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(gConstructedSelf, made);
    EXPECT_NE(api->getPrivate(r.cx, made), nullptr);
    EXPECT_EQ(static_cast<Record*>(api->getPrivate(r.cx, made))->value, 1);
}

TEST(ModuleApiClass, ConstructorWithoutNewAttachesNothing) {
    Request r;
    defineClasses(r.cx);
    EXPECT_EQ(r.eval("try { Counter(1); 'no' } catch (e) { e.message }"),
              "Counter must be called with new");
    EXPECT_EQ(r.eval("try { Counter.call({}, 1); 'no' } catch (e) { e.message }"),
              "Counter must be called with new");
    // Not even onto an existing instance, whose record stays as it was.
    EXPECT_EQ(r.eval("var c = new Counter(4);"
                     "try { Counter.call(c, 9) } catch (e) {}"
                     "c.get()"),
              "4");
    EXPECT_EQ(r.eval("try { Counter.call(Counter.prototype, 9) } catch (e) {}"
                     "Counter.prototype.peek()"),
              "null");
    r.eval("c = null");
}

TEST(ModuleApiClass, RecordsAreGuardedByClass) {
    Request r;
    defineClasses(r.cx);
    HostObject* plain = r.object("({})");
    EXPECT_EQ(api->getPrivate(r.cx, plain), nullptr);
    int x;
    EXPECT_EQ(api->setPrivate(r.cx, plain, &x), 0);
    EXPECT_EQ(api->getPrivate(r.cx, plain), nullptr);
    EXPECT_EQ(api->getPrivate(r.cx, nullptr), nullptr);

    EXPECT_EQ(r.eval("var c = new Counter(1), o = new Other(); [c.peek(), o.peek()].join()"),
              "record,record");
    // A method of one class applied to another class's instance finds no record there,
    // and cannot replace it.
    EXPECT_EQ(r.eval("[Counter.prototype.peek.call(o), Other.prototype.peek.call(c), "
                     "Counter.prototype.peek.call({})].join()"),
              "null,null,null");
    EXPECT_EQ(r.eval("try { Counter.prototype.get.call(o) } catch (e) { e.message }"),
              "not a Counter");
    EXPECT_EQ(r.eval("Counter.prototype.steal.call(o)"), "false");
    EXPECT_EQ(r.eval("o.peek()"), "record");
    r.eval("c = o = null");
}

TEST(ModuleApiClass, InheritingObjectsDoNotShareRecords) {
    Request r;
    defineClasses(r.cx);
    // An object that merely inherits from an instance or from the prototype is not an
    // instance: it neither sees nor takes a record.
    EXPECT_EQ(r.eval("var c = new Counter(3), d = Object.create(c);"
                     "[d.peek(), Object.create(Counter.prototype).peek()].join()"),
              "null,null");
    EXPECT_EQ(r.eval("try { d.get() } catch (e) { e.message }"), "not a Counter");
    // Its finalization (inherited from the prototype) must not free c's record.
    size_t before = gFinalized.size();
    int without = gFinalizedWithoutRecord;
    r.eval("d = null");
    engine::stackReset(r.cx, r.mark);
    engine::collectGarbage(r.cx);
    EXPECT_EQ(gFinalized.size(), before);
    EXPECT_EQ(gFinalizedWithoutRecord, without + 1);
    EXPECT_EQ(r.eval("c.get()"), "3");
    EXPECT_EQ(r.eval("[Object.create(c).steal(), c.get()].join()"), "false,3");
    r.eval("c = null");
}

TEST(ModuleApiClass, FinalizerRunsOncePerInstance) {
    Request r;
    defineClasses(r.cx);
    engine::collectGarbage(r.cx);
    gFinalized.clear();
    int live = gLive;
    std::string ids = r.eval("var list = [];"
                             "for (var i = 0; i < 5; i++) list.push(new Counter(i));"
                             "list.push(Counter.make(9));"
                             "list.map(function(c) { return c.id(); }).join()");
    EXPECT_EQ(gLive, live + 6);
    EXPECT_TRUE(gFinalized.empty());
    r.eval("list = null");
    engine::stackReset(r.cx, r.mark);
    engine::collectGarbage(r.cx);
    engine::collectGarbage(r.cx);
    std::vector<int> seen = gFinalized;
    std::sort(seen.begin(), seen.end());
    std::string got;
    for (int id : seen)
        got += (got.empty() ? "" : ",") + std::to_string(id);
    EXPECT_EQ(got, ids);
    EXPECT_EQ(gLive, live);
}

TEST(ModuleApiClass, NewObject) {
    Request r;
    defineClasses(r.cx);
    // With a class prototype: an instance of that class.
    HostObject* inst = api->newObject(r.cx, gCounterProto);
    ASSERT_NE(inst, nullptr);
    Record* rec = newRecord(6);
    int id = rec->id;
    ASSERT_TRUE(api->setPrivate(r.cx, inst, rec));
    EXPECT_EQ(api->getPrivate(r.cx, inst), rec);
    r.setGlobal("made", hostObject(inst));
    EXPECT_EQ(r.eval("[made instanceof Counter, made.add(1), made.value].join()"), "true,7,7");
    r.eval("made = null");
    engine::stackReset(r.cx, r.mark);
    engine::collectGarbage(r.cx);
    EXPECT_NE(std::find(gFinalized.begin(), gFinalized.end(), id), gFinalized.end());

    // With a plain object: inherits from it, no class.
    HostObject* base = r.object("({greet: 'hi'})");
    HostObject* child = api->newObject(r.cx, base);
    EXPECT_STREQ(api->toBytes(r.cx, api->getProperty(r.cx, child, "greet")), "hi");
    EXPECT_EQ(api->setPrivate(r.cx, child, rec), 0);
    // With null: a plain object.
    HostObject* plain = api->newObject(r.cx, nullptr);
    r.setGlobal("plain", hostObject(plain));
    EXPECT_EQ(r.eval("Object.getPrototypeOf(plain) === Object.prototype"), "true");
}

// ---- arrays ----------------------------------------------------------------------------------

TEST(ModuleApi, Arrays) {
    Request r;
    HostValue vals[] = {hostNumber(1), api->newString(r.cx, "two", nullptr), HOST_NULL};
    HostObject* a = api->newArray(r.cx, 3, vals);
    ASSERT_NE(a, nullptr);
    r.setGlobal("arr", hostObject(a));
    EXPECT_EQ(r.eval("[Array.isArray(arr), arr.length, arr[1], arr[2] === null].join()"),
              "true,3,two,true");

    HostObject* holes = api->newArray(r.cx, 4, nullptr);
    unsigned length = 0;
    ASSERT_TRUE(api->getArrayLength(r.cx, holes, &length));
    EXPECT_EQ(length, 4u);
    HostValue v = hostNumber(1);
    ASSERT_TRUE(api->getElement(r.cx, holes, 2, &v));
    EXPECT_TRUE(hostIsUndefined(v));

    // Writing past the end grows the array.
    HostValue x = hostNumber(42);
    ASSERT_TRUE(api->setElement(r.cx, holes, 9, &x));
    ASSERT_TRUE(api->getArrayLength(r.cx, holes, &length));
    EXPECT_EQ(length, 10u);
    ASSERT_TRUE(api->getElement(r.cx, holes, 9, &v));
    EXPECT_EQ(hostToDouble(v), 42);
    ASSERT_TRUE(api->getArrayLength(r.cx, api->newArray(r.cx, 0, nullptr), &length));
    EXPECT_EQ(length, 0u);

    // Array-like objects, and reads and writes that throw.
    HostObject* like = r.object("({length: '7', get 0() { throw 1; }, set 1(v) { throw 2; }})");
    ASSERT_TRUE(api->getArrayLength(r.cx, like, &length));
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(api->getElement(r.cx, like, 0, &v), 0);
    EXPECT_EQ(api->setElement(r.cx, like, 1, &x), 0);
    HostObject* frozen = r.object("'use strict'; Object.freeze([1])");
    EXPECT_EQ(api->setElement(r.cx, frozen, 0, &x), 0);
    HostObject* badLength = r.object("({get length() { throw 1; }})");
    length = 5;
    EXPECT_EQ(api->getArrayLength(r.cx, badLength, &length), 0);
}

// ---- defineProperty and defineFunctions --------------------------------------------------------

TEST(ModuleApi, DefinePropertyAttributes) {
    Request r;
    HostObject* o = api->newObject(r.cx, nullptr);
    r.setGlobal("obj", hostObject(o));
    HostValue one = hostNumber(1);
    ASSERT_TRUE(api->defineProperty(r.cx, o, "plain", one, nullptr, nullptr, 0));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "shown", one, nullptr, nullptr, HOST_ATTR_ENUMERATE));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "fixed", one, nullptr, nullptr,
                                    HOST_ATTR_ENUMERATE | HOST_ATTR_READONLY));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "kept", one, nullptr, nullptr, HOST_ATTR_PERMANENT));

    EXPECT_EQ(r.eval("var k = []; for (var p in obj) k.push(p); k.join()"), "shown,fixed");
    // Assignment from non-strict script leaves a read-only value unchanged.
    EXPECT_EQ(r.eval("obj.fixed = 2; obj.plain = 2; [obj.fixed, obj.plain].join()"), "1,2");
    EXPECT_EQ(r.eval("'use strict'; try { obj.fixed = 3; 'no' } catch (e) { e.name }"),
              "TypeError");
    // delete of a permanent property fails; others go.
    EXPECT_EQ(r.eval("[delete obj.kept, 'kept' in obj, delete obj.plain, 'plain' in obj].join()"),
              "false,true,true,false");
    // A permanent read-only property cannot be redefined.
    ASSERT_TRUE(api->defineProperty(r.cx, o, "stone", one, nullptr, nullptr,
                                    HOST_ATTR_READONLY | HOST_ATTR_PERMANENT));
    EXPECT_EQ(api->defineProperty(r.cx, o, "stone", hostNumber(2), nullptr, nullptr, 0), 0);
    EXPECT_EQ(r.eval("obj.stone"), "1");
    // A non-extensible object refuses new properties.
    HostObject* sealed = r.object("Object.preventExtensions({})");
    EXPECT_EQ(api->defineProperty(r.cx, sealed, "x", one, nullptr, nullptr, 0), 0);
}

namespace {
double gStored = 0;
NATIVE(storedGet) {
    *rval = hostNumber(gStored);
    return 1;
}
NATIVE(storedSet) {
    gStored = api->toNumber(cx, arg(argc, argv, 0));
    return 1;
}
} // namespace

TEST(ModuleApi, DefinePropertyAccessor) {
    Request r;
    HostObject* o = api->newObject(r.cx, nullptr);
    r.setGlobal("acc", hostObject(o));
    gStored = 5;
    ASSERT_TRUE(api->defineProperty(r.cx, o, "both", HOST_UNDEFINED, storedGet, storedSet,
                                    HOST_ATTR_ENUMERATE));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "getOnly", HOST_UNDEFINED, storedGet, nullptr, 0));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "setOnly", HOST_UNDEFINED, nullptr, storedSet, 0));
    EXPECT_EQ(r.eval("acc.both"), "5");
    EXPECT_EQ(r.eval("acc.both = 8; acc.getOnly"), "8");
    EXPECT_EQ(gStored, 8);
    EXPECT_EQ(r.eval("acc.getOnly = 1; acc.getOnly"), "8");
    EXPECT_EQ(r.eval("acc.setOnly = 3; [typeof acc.setOnly, acc.both].join()"), "undefined,3");
    EXPECT_EQ(r.eval("Object.keys(acc).join()"), "both");
    EXPECT_EQ(r.eval("var d = Object.getOwnPropertyDescriptor(acc, 'both');"
                     "[typeof d.get, typeof d.set, d.configurable].join()"),
              "function,function,true");
}

static NATIVE(countArgs) {
    *rval = hostNumber(argc);
    return 1;
}

TEST(ModuleApi, DefineFunctions) {
    Request r;
    HostObject* o = api->newObject(r.cx, nullptr);
    r.setGlobal("lib", hostObject(o));
    static const HostFunctionSpec fns[] = {
        {"none", countArgs, 0, 0, 0}, {"three", countArgs, 3, 0, 0}, {nullptr, nullptr, 0, 0, 0}};
    ASSERT_TRUE(api->defineFunctions(r.cx, o, fns));
    EXPECT_EQ(r.eval("[lib.none.length, lib.three.length, lib.three.name].join()"), "0,3,three");
    EXPECT_EQ(r.eval("[lib.three(), lib.three(1), lib.none(1, 2, 3, 4, 5, 6, 7, 8, 9, 10)].join()"),
              "0,1,10");
    EXPECT_EQ(r.eval("var k = []; for (var p in lib) k.push(p); k.length"), "0");
    // Writable and deletable.
    EXPECT_EQ(r.eval("lib.none = 1; var was = lib.none; [was, delete lib.three, typeof lib.three]"
                     ".join()"),
              "1,true,undefined");
    ASSERT_TRUE(api->defineFunctions(r.cx, o, nullptr));
}

// ---- failing natives -------------------------------------------------------------------------

namespace {
NATIVE(failWith) {
    api->reportError(cx, "bad %s #%d", api->toBytes(cx, arg(argc, argv, 0)),
                     static_cast<int>(api->toNumber(cx, arg(argc, argv, 1))));
    return 0;
}
NATIVE(failLong) {
    std::string big(1000, 'x');
    api->reportError(cx, "%s|%d", big.c_str(), 5);
    return 0;
}
NATIVE(failSilently) {
    return 0;
}
NATIVE(reportButSucceed) {
    api->reportError(cx, "ignored");
    *rval = hostNumber(7);
    return 1;
}
// Converts its argument and fails: a conversion that threw leaves its exception pending.
NATIVE(convertAndFail) {
    api->toBytes(cx, arg(argc, argv, 0));
    return 0;
}
NATIVE(convertAndSucceed) {
    *rval = api->newString(cx, api->toBytes(cx, arg(argc, argv, 0)), nullptr);
    return 1;
}
NATIVE(propertyAndFail) {
    api->propertyAsNumber(cx, hostToObject(arg(argc, argv, 0)), "p", 0);
    return 0;
}
// Swallows a failed conversion and reports an error of its own instead.
NATIVE(convertThenReport) {
    api->toChars(cx, arg(argc, argv, 0));
    api->reportError(cx, "own");
    return 0;
}
NATIVE(allocateTooMuch) {
    void* p = api->allocate(cx, engine::kHeapLimit + 1);
    api->release(cx, p);
    return p != nullptr;
}
NATIVE(allocateNothing) {
    void* p = api->allocate(cx, 0);
    *rval = hostBoolean(p != nullptr);
    api->release(cx, p);
    return 1;
}

const HostFunctionSpec kFailing[] = {{"failWith", failWith, 2, 0, 0},
                                     {"failLong", failLong, 0, 0, 0},
                                     {"failSilently", failSilently, 0, 0, 0},
                                     {"reportButSucceed", reportButSucceed, 0, 0, 0},
                                     {"convertAndFail", convertAndFail, 1, 0, 0},
                                     {"propertyAndFail", propertyAndFail, 1, 0, 0},
                                     {"convertAndSucceed", convertAndSucceed, 1, 0, 0},
                                     {"convertThenReport", convertThenReport, 1, 0, 0},
                                     {"allocateTooMuch", allocateTooMuch, 0, 0, 0},
                                     {"allocateNothing", allocateNothing, 0, 0, 0},
                                     {nullptr, nullptr, 0, 0, 0}};
} // namespace

TEST(ModuleApiErrors, ReportErrorBlamesTheCallingLine) {
    Request r;
    r.defineGlobals(kFailing);
    EXPECT_EQ(r.eval("var caught;\n"
                     "try {\n"
                     "  failWith('thing', 42);\n"
                     "} catch (e) { caught = e; }\n"
                     "[caught instanceof Error, caught.name, caught.message, caught.fileName,\n"
                     " caught.lineNumber].join('|')",
                     "caller.js"),
              "true|Error|bad thing #42|caller.js|3");
    // From inside a script function, too.
    EXPECT_EQ(r.eval("function f() {\n"
                     "  return failWith('x', 1);\n"
                     "}\n"
                     "try { f() } catch (e) { e.fileName + ':' + e.lineNumber }",
                     "inner.js"),
              "inner.js:2");
    EXPECT_EQ(r.eval("try { failLong() } catch (e) { [e.message.length, e.message.slice(-2)] }"),
              "1002,|5");
    EXPECT_EQ(r.eval("reportButSucceed()"), "7");
}

TEST(ModuleApiErrors, PendingExceptionPassesThrough) {
    Request r;
    r.defineGlobals(kFailing);
    EXPECT_EQ(r.eval("var mine = new RangeError('mine');"
                     "try { convertAndFail({toString: function() { throw mine; }}) }"
                     "catch (e) { e === mine }"),
              "true");
    EXPECT_EQ(r.eval("try { propertyAndFail({get p() { throw 'thrown'; }}) } catch (e) { e }"),
              "thrown");
    EXPECT_EQ(r.eval("try { convertThenReport({toString: function() { throw 1; }}) }"
                     "catch (e) { e.message }"),
              "own");
    // A native that goes on after a conversion threw still passes the exception on.
    EXPECT_EQ(r.eval("try { convertAndSucceed({toString: function() { throw 'late'; }}) }"
                     "catch (e) { e }"),
              "late");
    EXPECT_EQ(r.eval("convertAndSucceed('fine')"), "fine");
    // A conversion that did not throw leaves nothing pending: the failure is generic.
    EXPECT_EQ(r.eval("try { convertAndFail('fine') } catch (e) { e instanceof Error }"), "true");
}

TEST(ModuleApiErrors, FailureWithoutReportIsCatchable) {
    Request r;
    r.defineGlobals(kFailing);
    EXPECT_EQ(r.eval("try { failSilently(); 'no' } catch (e) {"
                     "[e instanceof Error, typeof e.message, e.fileName].join() }",
                     "silent.js"),
              "true,string,silent.js");
    // The script goes on normally afterwards.
    EXPECT_EQ(r.eval("try { failSilently() } catch (e) {} 1 + 1"), "2");
}

// ---- memory ----------------------------------------------------------------------------------

TEST(ModuleApi, AllocateAndRelease) {
    Request r;
    r.defineGlobals(kFailing);
    void* p = api->allocate(r.cx, 0);
    EXPECT_NE(p, nullptr);
    api->release(r.cx, p);
    char* block = static_cast<char*>(api->allocate(r.cx, 4096));
    ASSERT_NE(block, nullptr);
    memset(block, 0x5A, 4096);
    api->release(r.cx, block);
    api->release(r.cx, nullptr);
    EXPECT_EQ(r.eval("allocateNothing()"), "true");
    EXPECT_EQ(r.eval("try { allocateTooMuch(); 'no' } catch (e) { e.message }"), "out of memory");
}

TEST(ModuleApi, HeapLimitIsACatchableError) {
    Request r;
    // Fill the heap with distinct strings until an allocation fails: the engine raises
    // its own out-of-memory Error, which script catches.
    EXPECT_EQ(r.eval("var hog = [], chunk = new Array(65537).join('x'), caught;"
                     "try { for (var i = 0; i < 100000; i++) hog.push(chunk + i); }"
                     "catch (e) { caught = e; }"
                     "[caught instanceof Error, caught.message, hog.length > 100].join()"),
              "true,out of memory,true");
    // With the references dropped, script allocates again.
    EXPECT_EQ(r.eval("hog = null; caught = null; var s = []; "
                     "for (var i = 0; i < 200; i++) s.push(chunk + i); s.length"),
              "200");
    r.eval("s = null; chunk = null");
    engine::stackReset(r.cx, r.mark);
    engine::collectGarbage(r.cx);
    EXPECT_LT(engine::heapBytes(), engine::kHeapLimit / 2);
    void* p = api->allocate(r.cx, 1 << 20);
    EXPECT_NE(p, nullptr);
    api->release(r.cx, p);
}

// A native working in rounds (resume, make values, store them, suspend) keeps only one
// round's values on its stack: more rounds than the engine's value stack has room for
// (a million entries) still work, what the rounds stored stays, and an error reported in
// a round survives.
namespace {
NATIVE(manyRounds) {
    unsigned n = static_cast<unsigned>(api->toNumber(cx, argv[0]));
    HostObject* out = api->newArray(cx, 0, nullptr);
    int depth = api->suspendRequest(cx);
    for (unsigned i = 0; i < n; i++) {
        api->resumeRequest(cx, depth);
        char text[16];
        snprintf(text, sizeof text, "%u", i);
        HostValue s = api->newString(cx, text, nullptr);
        api->setElement(cx, out, i % 4, &s);
        if (i + 1 == n && argc > 1) api->reportError(cx, "failed in round %u", i);
        depth = api->suspendRequest(cx);
    }
    api->resumeRequest(cx, depth);
    *rval = hostObject(out);
    return argc > 1 ? 0 : 1;
}
// Makes values without ever suspending until a slot finds no room (past the value stack's
// limit of 20 000 000 values), then fails.
NATIVE(tooManyValues) {
    for (unsigned i = 0; i < 21000000; i++)
        if (hostIsUndefined(api->newString(cx, "same", nullptr))) return 0;
    return 1;
}
const HostFunctionSpec kRounds[] = {{"manyRounds", manyRounds, 1, 0, 0},
                                    {"tooManyValues", tooManyValues, 0, 0, 0},
                                    {nullptr, nullptr, 0, 0, 0}};
} // namespace

TEST(ModuleApi, ValuesOfEarlierRoundsAreNotKept) {
    Request r;
    r.defineGlobals(kRounds);
    EXPECT_EQ(r.eval("var a = manyRounds(1100000); a.join(' ')"),
              "1099996 1099997 1099998 1099999");
    EXPECT_EQ(r.eval("try { manyRounds(3, true) } catch (e) { e.message }"), "failed in round 2");
    EXPECT_EQ(r.eval("a = null; 'ok'"), "ok");
    // Within one round the values have a cap; past it the native's failure is a RangeError.
    EXPECT_EQ(r.eval("try { tooManyValues() } catch (e) { e.name + ': ' + e.message }"),
              "RangeError: too many values in one native call");
}

// ---- what the header promises at the edges -----------------------------------------------

namespace {
unsigned gSetterArgc = 99;
NATIVE(argcGetter) {
    *rval = hostNumber(argc);
    return 1;
}
NATIVE(argcSetter) {
    gSetterArgc = argc;
    return 1;
}
const HostPropertySpec kArgcProps[] = {{"seen", argcGetter, argcSetter, 0},
                                       {nullptr, nullptr, nullptr, 0}};

// refuse(obj, name): slot 22 on obj[name]; succeeds whatever the slot says.
NATIVE(refuseDefine) {
    *rval = hostBoolean(api->defineProperty(cx, hostToObject(argv[0]), api->toBytes(cx, argv[1]),
                                            hostNumber(2), nullptr, nullptr, 0));
    return 1;
}
// convertThenRefuse(obj, value): converts value, then slot 22 on obj.k; succeeds.
NATIVE(convertThenRefuse) {
    api->toBytes(cx, argv[1]);
    api->defineProperty(cx, hostToObject(argv[0]), "k", hostNumber(2), nullptr, nullptr, 0);
    return 1;
}
// refuseSet(obj, fail): slot 19 on obj[0]; fails only when asked to.
NATIVE(refuseSet) {
    HostValue v = hostNumber(2);
    *rval = hostBoolean(api->setElement(cx, hostToObject(argv[0]), 0, &v));
    return argc > 1 ? 0 : 1;
}
// record(obj): what a native of no class finds with slots 25 and 24 on obj (it puts back
// what it read, so that a permitted replacement changes nothing).
NATIVE(classlessRecord) {
    HostObject* o = hostToObject(argv[0]);
    void* old = api->getPrivate(cx, o);
    bool read = old != nullptr, replaced = api->setPrivate(cx, o, old);
    *rval = api->newString(cx,
                           read       ? (replaced ? "both" : "read")
                           : replaced ? "replaced"
                                      : "none",
                           nullptr);
    return 1;
}
// evalIgnoring(source): slot 11's flag; the native succeeds whatever it is.
NATIVE(evalIgnoring) {
    HostValue result;
    *rval = hostBoolean(api->evaluateScript(cx, "ignored.js", api->toBytes(cx, argv[0]), &result));
    return 1;
}
const HostFunctionSpec kEdgeFns[] = {{"refuse", refuseDefine, 2, 0, 0},
                                     {"evalIgnoring", evalIgnoring, 1, 0, 0},
                                     {"convertThenRefuse", convertThenRefuse, 2, 0, 0},
                                     {"refuseSet", refuseSet, 2, 0, 0},
                                     {"classlessRecord", classlessRecord, 1, 0, 0},
                                     {nullptr, nullptr, 0, 0, 0}};
const HostFunctionSpec kLateFns[] = {{"lateRecord", classlessRecord, 1, 0, 0},
                                     {nullptr, nullptr, 0, 0, 0}};
} // namespace

TEST(ModuleApiEdges, AccessorsGetOnlyTheirValue) {
    Request r;
    HostObject* o = api->newObject(r.cx, nullptr);
    r.setGlobal("acc2", hostObject(o));
    ASSERT_TRUE(api->defineProperty(r.cx, o, "seen", HOST_UNDEFINED, argcGetter, argcSetter, 0));
    ASSERT_NE(api->defineClass(r.cx, "Argc", counterNew, 0, kArgcProps, nullptr, nullptr, nullptr,
                               nullptr),
              nullptr);
    for (const char* target : {"acc2", "Argc.prototype"}) {
        gSetterArgc = 99;
        std::string src = std::string("var t = ") + target + "; t.seen = 5; t.seen";
        EXPECT_EQ(r.eval(src.c_str()), "0") << target;
        EXPECT_EQ(gSetterArgc, 1u) << target;
        // Called directly with more arguments, they still see only what the header says.
        src = std::string("var d = Object.getOwnPropertyDescriptor(") + target +
              ", 'seen'); d.set.call(t, 1, 2, 3); d.get.call(t, 1, 2)";
        EXPECT_EQ(r.eval(src.c_str()), "0") << target;
        EXPECT_EQ(gSetterArgc, 1u) << target;
    }
}

TEST(ModuleApiEdges, RefusalsLeaveNoException) {
    Request r;
    r.defineGlobals(kEdgeFns);
    // Refused: 0 from the slot, and nothing raised when the native goes on.
    EXPECT_EQ(r.eval("var fixed = Object.defineProperty({}, 'k', {value: 1});"
                     "[refuse(fixed, 'k'), fixed.k, refuse(Object.freeze({}), 'n'),"
                     " refuse({}, 'n')].join()"),
              "false,1,false,true");
    EXPECT_EQ(r.eval("var frozen = Object.freeze([1]);"
                     "[refuseSet(frozen), frozen[0], refuseSet(Object.create(frozen)),"
                     " refuseSet({get 0() { return 1; }}), refuseSet([])].join()"),
              "false,1,false,false,true");
    // A native that then fails raises the refusal's TypeError.
    EXPECT_EQ(r.eval("try { refuseSet(frozen, 'fail') } catch (e) { e.name }"), "TypeError");
    // A refusal does not hide an exception that script threw in an earlier slot.
    EXPECT_EQ(r.eval("try { convertThenRefuse(fixed, {toString: function () { throw 'first'; }})"
                     "} catch (e) { e }"),
              "first");
    // A failed evaluation's error is dropped when the native returns 1.
    EXPECT_EQ(r.eval("[evalIgnoring('throw 1'), evalIgnoring('((')].join()"), "false,false");
    // A setter that throws is script failing, which reaches the caller either way.
    EXPECT_EQ(r.eval("try { refuseSet({set 0(v) { throw 'mine'; }}) } catch (e) { e }"), "mine");
}

TEST(ModuleApiEdges, PropertyValuesSkipUndefined) {
    Request r;
    HostValue* vals = api->propertyValues(
        r.cx, r.object("var o = Object.create({inherited: 3}); o.a = undefined; o.b = 1;"
                       "o.c = undefined; o.d = 'x'; o"));
    ASSERT_NE(vals, nullptr);
    EXPECT_EQ(hostToDouble(vals[0]), 1);
    EXPECT_STREQ(api->toBytes(r.cx, vals[1]), "x");
    EXPECT_TRUE(hostIsUndefined(vals[2]));
    api->release(r.cx, vals);
}

TEST(ModuleApiEdges, NativesOfNoClassReachNoRecord) {
    Request r;
    defineClasses(r.cx);
    r.defineGlobals(kEdgeFns);
    EXPECT_EQ(r.eval("var c = new Counter(2), o = new Other();"
                     "[classlessRecord(c), classlessRecord(o), c.get(), o.peek()].join()"),
              "none,none,2,record");
    // Functions added to a class's prototype or constructor later belong to that class.
    ASSERT_TRUE(api->defineFunctions(r.cx, gCounterProto, kLateFns));
    HostObject* ctor = hostToObject(api->getProperty(r.cx, api->getGlobal(r.cx), "Counter"));
    ASSERT_TRUE(api->defineFunctions(r.cx, ctor, kLateFns));
    EXPECT_EQ(r.eval("[c.lateRecord(c), Counter.lateRecord(o)].join()"), "both,none");
    r.eval("c = o = null");
}

TEST(ModuleApiEdges, PrototypeOutlivesItsConstructor) {
    Request r;
    HostObject* proto = api->defineClass(r.cx, "Fleeting", counterNew, 0, nullptr, kCounterFns,
                                         nullptr, nullptr, counterFinalize);
    ASSERT_NE(proto, nullptr);
    int without = gFinalizedWithoutRecord;
    r.eval("delete this.Fleeting");
    engine::stackReset(r.cx, r.mark);
    engine::collectGarbage(r.cx);
    EXPECT_EQ(gFinalizedWithoutRecord, without); // the prototype was not collected
    HostObject* inst = api->newObject(r.cx, proto);
    ASSERT_NE(inst, nullptr);
    ASSERT_TRUE(api->setPrivate(r.cx, inst, newRecord(4)));
    r.setGlobal("fleeting", hostObject(inst));
    EXPECT_EQ(r.eval("fleeting.add(1)"), "5");
    r.eval("fleeting = null");
}

// ---- the slots after the first 31 ------------------------------------------------------------

namespace {

// pendingAfter(v): String(v) through slot 1, then what slot 31 says.
NATIVE(pendingAfter) {
    api->toBytes(cx, arg(argc, argv, 0));
    *rval = hostBoolean(api->errorPending(cx));
    return 1;
}
NATIVE(pendingAfterReport) {
    api->reportError(cx, "reported");
    *rval = hostBoolean(api->errorPending(cx));
    return 1;
}

const HostFunctionSpec kPendingFns[] = {
    {"pendingAfter", pendingAfter, 1, 0, 0},
    {"pendingAfterReport", pendingAfterReport, 0, 0, 0},
    {nullptr, nullptr, 0, 0, 0},
};

} // namespace

TEST(ModuleApiLate, ErrorPending) {
    Request r;
    r.defineGlobals(kPendingFns);
    EXPECT_EQ(r.eval("pendingAfter('plain')"), "false");
    EXPECT_EQ(r.eval("try { pendingAfter({toString: function() { throw 'x'; }}) } catch (e) { e }"),
              "x");
    EXPECT_EQ(r.eval("pendingAfterReport()"), "true");
}

TEST(ModuleApiLate, ReadLiteralAndDirectory) {
    Request r;
    struct Case {
        const char* text;
        const char* value; // JSON of what slot 34 built, or null when it reads nothing
    } cases[] = {
        {"({a:1, 'b c':[true, null, \"x\"]})", "{\"a\":1,\"b c\":[true,null,\"x\"]}"},
        {"[1, -2.5, 'q\\'s']", "[1,-2.5,\"q's\"]"},
        {"1 + 2", nullptr},
        {"({a:f()})", nullptr},
        {"[1,", nullptr},
    };
    for (const Case& c : cases) {
        HostValue v = HOST_UNDEFINED;
        int ok = api->readLiteral(r.cx, c.text, strlen(c.text), &v);
        EXPECT_EQ(ok, c.value != nullptr) << c.text;
        if (ok && c.value) {
            r.setGlobal("read", v);
            EXPECT_EQ(r.eval("JSON.stringify(read)"), c.value) << c.text;
        }
    }
    // Each entry's pos: the one before plus that one's csize (its last own member of the
    // name, else what it inherits), read as a number without changing the member.
    struct Dir {
        const char* text;
        const char* posts; // the entries' pos, then each csize's typeof; nullptr: not read
    } dirs[] = {
        {"({'a.js':{size:3, csize:9}, 'b.js':{size:1, csize:4}, 'c':{csize:2}})",
         "100,109,113|number,number,number"},
        {"({a:{csize:'5', x:{csize:7}}, b:{csize:1, csize:2}, c:{}, d:{csize:1}})",
         "100,105,107,107|string,number,undefined,number"},
        {"({a:{csize:1}, a:{csize:1}})", nullptr},     // a repeated name
        {"({'1':{csize:1}, 'a':{csize:1}})", nullptr}, // would enumerate out of order
    };
    for (const Dir& d : dirs) {
        HostValue fsd = HOST_UNDEFINED;
        int ok = api->readDirectory(r.cx, d.text, strlen(d.text), 100, &fsd);
        EXPECT_EQ(ok, d.posts != nullptr) << d.text;
        if (!ok || !d.posts) continue;
        r.setGlobal("fsd", fsd);
        EXPECT_EQ(r.eval("var k = Object.keys(fsd); k.map(function (n) { return fsd[n].pos; }) + "
                         "'|' + k.map(function (n) { return typeof fsd[n].csize; })"),
                  d.posts)
            << d.text;
    }
    EXPECT_EQ(r.eval("Object.getOwnPropertyDescriptor(fsd.c, 'pos').writable"), "false");
}

static NATIVE(compileNested) {
    int ok = api->compileScript(cx, "compiled.js", api->toBytes(cx, arg(argc, argv, 0)));
    *rval = hostBoolean(ok);
    return ok;
}

// Slot 36 compiles as slot 11 does and runs nothing; its error goes where slot 11's goes.
TEST(ModuleApiLate, CompileScript) {
    Request r;
    static const HostFunctionSpec fns[] = {{"compileNested", compileNested, 1, 0, 0},
                                           {nullptr, nullptr, 0, 0, 0}};
    r.defineGlobals(fns);
    EXPECT_EQ(r.eval("var ran = 0; compileNested('ran = 1; var declared;') + ' ' + ran + ' ' + "
                     "typeof declared"),
              "true 0 undefined");
    EXPECT_EQ(r.eval("try { compileNested('\\nfunction g() { yield 1; return 2; }') } "
                     "catch (e) { [e.name, e.message, e.fileName, e.lineNumber].join() }"),
              "TypeError,generator function g returns a value,compiled.js,2");
    testing::internal::CaptureStdout();
    EXPECT_EQ(api->compileScript(r.cx, "top.js", "var a = 1;\nvar b = ;"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "top.js:2 SyntaxError: syntax error\nvar b = ;\n");
}

TEST(ModuleApiLate, RunOnNewContextFromAnotherThread) {
    mainCx();
    std::thread t([] { api->runOnNewContext("thread.js", "var ranOnThread = 'yes';"); });
    t.join();
    Request r;
    EXPECT_EQ(r.eval("ranOnThread"), "yes");
}
