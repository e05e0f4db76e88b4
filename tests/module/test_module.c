/* A native module built the way a separate party builds one: plain C, the interface
 * header alone, nothing of the runtime linked. Loaded by the loader's tests, it registers
 *
 *   class TestThing(name): add(n), name(), fail(message), the accessors count and args,
 *     and the static functions twice(x), finalized(), wait(ms, value), sum(array),
 *     pair(a, b);
 *   object TestTools: inits() (how often initModule ran), values(obj), define(obj, name)
 *     and record(obj), which try slots 12, 22, 24 and 25 from natives of no class.
 *
 * An instance's record (its counter and a copy of its name) lives in engine memory from
 * the table's allocate, so it counts against the heap limit like script data, and is
 * released by the finalizer. */
#include "module_api.h"

#include <time.h>

static const ModuleApi* api;
static int initCount;
static int finalizedCount;

typedef struct Thing {
    double count;
    HostChar* name; /* NUL-terminated UTF-16 */
} Thing;

static Thing* thingOf(HostContext* cx, HostObject* self) {
    return self ? (Thing*)api->getPrivate(cx, self) : NULL;
}

static int notAThing(HostContext* cx, const char* what) {
    api->reportError(cx, "TestThing.%s: not a TestThing", what);
    return 0;
}

/* new TestThing(name): without `new` there is no instance (self is null). */
static int thingConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                          HostValue* rval) {
    (void)rval;
    if (!self) {
        api->reportError(cx, "TestThing must be called with new");
        return 0;
    }
    const HostChar* text = api->toChars(cx, argc ? argv[0] : HOST_UNDEFINED);
    size_t n = 0;
    while (text[n])
        n++;
    Thing* t = (Thing*)api->allocate(cx, sizeof(Thing));
    if (!t) return 0;
    t->count = 0;
    t->name = (HostChar*)api->allocate(cx, (n + 1) * sizeof(HostChar));
    if (!t->name) {
        api->release(cx, t);
        return 0;
    }
    for (size_t i = 0; i <= n; i++)
        t->name[i] = text[i];
    if (!api->setPrivate(cx, self, t)) {
        api->release(cx, t->name);
        api->release(cx, t);
        api->reportError(cx, "TestThing: no record for this object");
        return 0;
    }
    return 1;
}

static void thingFinalize(HostContext* cx, HostObject* obj) {
    Thing* t = thingOf(cx, obj);
    if (!t) return; /* the prototype, or an instance whose constructor failed */
    api->setPrivate(cx, obj, NULL);
    api->release(cx, t->name);
    api->release(cx, t);
    finalizedCount++;
}

/* add(n): adds n to the counter and returns the new count. */
static int thingAdd(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                    HostValue* rval) {
    Thing* t = thingOf(cx, self);
    if (!t) return notAThing(cx, "add");
    t->count += argc ? api->toNumber(cx, argv[0]) : 1;
    *rval = api->newNumber(cx, t->count);
    return 1;
}

/* name(): the text given to the constructor; null without a record. */
static int thingName(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval) {
    (void)argc, (void)argv;
    Thing* t = thingOf(cx, self);
    *rval = t ? api->newString(cx, NULL, t->name) : HOST_NULL;
    return 1;
}

/* fail(message): fails through reportError. */
static int thingFail(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval) {
    (void)self, (void)rval;
    api->reportError(cx, "TestThing failed: %s", argc ? api->toBytes(cx, argv[0]) : "?");
    return 0;
}

/* The accessor count: reads and sets the counter; undefined without a record. */
static int thingGetCount(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                         HostValue* rval) {
    (void)argc, (void)argv;
    Thing* t = thingOf(cx, self);
    if (t) *rval = api->newNumber(cx, t->count);
    return 1;
}

static int thingSetCount(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                         HostValue* rval) {
    (void)rval;
    Thing* t = thingOf(cx, self);
    if (!t) return notAThing(cx, "count");
    t->count = argc ? api->toNumber(cx, argv[0]) : 0;
    return 1;
}

/* The accessor args: the getter gives its argument count, the setter stores its own. */
static int thingGetArgs(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                        HostValue* rval) {
    (void)self, (void)argv;
    *rval = api->newNumber(cx, argc);
    return 1;
}

static int thingSetArgs(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                        HostValue* rval) {
    (void)argv, (void)rval;
    Thing* t = thingOf(cx, self);
    if (!t) return notAThing(cx, "args");
    t->count = argc;
    return 1;
}

static int staticTwice(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)self;
    *rval = api->newNumber(cx, 2 * (argc ? api->toNumber(cx, argv[0]) : 0));
    return 1;
}

static int staticFinalized(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                           HostValue* rval) {
    (void)self, (void)argc, (void)argv;
    *rval = api->newNumber(cx, finalizedCount);
    return 1;
}

/* wait(ms, value): sleeps outside the request and returns value, which stays alive
 * across the suspension because the host roots every argument of a running native. */
static int staticWait(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                      HostValue* rval) {
    (void)self;
    double ms = argc ? api->toNumber(cx, argv[0]) : 0;
    if (!(ms >= 0 && ms <= 10000)) ms = 0;
    struct timespec ts;
    ts.tv_sec = (time_t)(ms / 1000);
    ts.tv_nsec = (long)((ms - (double)ts.tv_sec * 1000) * 1000000);
    int depth = api->suspendRequest(cx);
    while (nanosleep(&ts, &ts) != 0) {}
    api->resumeRequest(cx, depth);
    *rval = argc > 1 ? argv[1] : HOST_UNDEFINED;
    return 1;
}

/* sum(array): the sum of its elements, read through the array slots. */
static int staticSum(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval) {
    (void)self;
    HostObject* array = argc ? hostToObject(argv[0]) : NULL;
    unsigned length = 0;
    if (!array) {
        api->reportError(cx, "TestThing.sum(<array>)");
        return 0;
    }
    if (!api->getArrayLength(cx, array, &length)) return 0;
    double sum = 0;
    for (unsigned i = 0; i < length; i++) {
        HostValue v;
        if (!api->getElement(cx, array, i, &v)) return 0;
        sum += api->toNumber(cx, v);
    }
    *rval = api->newNumber(cx, sum);
    return 1;
}

/* pair(a, b): a new array [a, b]. */
static int staticPair(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                      HostValue* rval) {
    (void)self;
    HostObject* array = api->newArray(cx, 0, NULL);
    if (!array) return 0;
    for (unsigned i = 0; i < 2; i++) {
        HostValue v = i < argc ? argv[i] : HOST_UNDEFINED;
        if (!api->setElement(cx, array, i, &v)) return 0;
    }
    *rval = hostObject(array);
    return 1;
}

/* values(obj): slot 12 as an array. */
static int toolsValues(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)self;
    HostValue* values = api->propertyValues(cx, argc ? hostToObject(argv[0]) : NULL);
    if (!values) return 0;
    unsigned n = 0;
    while (!hostIsUndefined(values[n]))
        n++;
    HostObject* array = api->newArray(cx, n, values);
    api->release(cx, values);
    if (!array) return 0;
    *rval = hostObject(array);
    return 1;
}

/* define(obj, name): slot 22's answer; the native succeeds whatever it is. */
static int toolsDefine(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)self;
    if (argc < 2 || !hostIsObject(argv[0])) return 0;
    *rval = hostBoolean(api->defineProperty(cx, hostToObject(argv[0]), api->toBytes(cx, argv[1]),
                                            api->newNumber(cx, 1), NULL, NULL, 0));
    return 1;
}

/* record(obj): whether this native of no class reads a record of obj and may replace it
 * (it puts back what it read): "none" for every object of a class. */
static int toolsRecord(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)self;
    HostObject* obj = argc ? hostToObject(argv[0]) : NULL;
    void* old = api->getPrivate(cx, obj);
    int replaced = api->setPrivate(cx, obj, old);
    *rval = api->newString(cx, old ? "read" : replaced ? "replaced" : "none", NULL);
    return 1;
}

static int toolsInits(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                      HostValue* rval) {
    (void)self, (void)argc, (void)argv;
    *rval = api->newNumber(cx, initCount);
    return 1;
}

static const HostPropertySpec thingProps[] = {
    {"count", thingGetCount, thingSetCount, 0},
    {"args", thingGetArgs, thingSetArgs, 0},
    {NULL, NULL, NULL, 0},
};
static const HostFunctionSpec thingFns[] = {
    {"add", thingAdd, 1, 0, 0},
    {"name", thingName, 0, 0, 0},
    {"fail", thingFail, 1, 0, 0},
    {NULL, NULL, 0, 0, 0},
};
static const HostFunctionSpec thingStaticFns[] = {
    {"twice", staticTwice, 1, 0, 0}, {"finalized", staticFinalized, 0, 0, 0},
    {"wait", staticWait, 2, 0, 0},   {"sum", staticSum, 1, 0, 0},
    {"pair", staticPair, 2, 0, 0},   {NULL, NULL, 0, 0, 0},
};
static const HostFunctionSpec toolsFns[] = {
    {"inits", toolsInits, 0, 0, 0},
    {"values", toolsValues, 1, 0, 0},
    {"define", toolsDefine, 2, 0, 0},
    {"record", toolsRecord, 1, 0, 0},
    {NULL, NULL, 0, 0, 0},
};

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    api = table;
    initCount++;
    /* On request, an initialisation that fails: loadModule raises the error. */
    if (api->propertyAsNumber(cx, api->getGlobal(cx), "testInitFails", 0) != 0) {
        api->reportError(cx, "TestThing: initialisation failed");
        return;
    }
    if (!api->defineClass(cx, "TestThing", thingConstruct, 1, thingProps, thingFns, NULL,
                          thingStaticFns, thingFinalize))
        return;
    HostObject* tools = api->newObject(cx, NULL);
    if (!tools) return;
    api->defineProperty(cx, api->getGlobal(cx), "TestTools", hostObject(tools), NULL, NULL,
                        HOST_ATTR_ENUMERATE);
    api->defineFunctions(cx, tools, toolsFns);
}
