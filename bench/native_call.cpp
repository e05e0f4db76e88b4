// The cost of one native call from script: System.getPID() through the module table's
// trampoline against a plain engine function that does the same work. This file talks to
// the engine directly on purpose: the plain function is the baseline.
#include "core/engine/engine.h"
#include "core/runtime/builtins.h"
#include "core/module_api.h"
#include "duktape.h"

#include <chrono>
#include <stdio.h>
#include <unistd.h>

// The same work as System.getPID(): the identifier is asked for once.
static duk_ret_t plainPid(duk_context* ctx) {
    static const int pid = getpid();
    duk_push_int(ctx, pid);
    return 1;
}

static duk_ret_t plainNop(duk_context* ctx) {
    duk_push_int(ctx, 1);
    return 1;
}

static int tableNop(HostContext* cx, HostObject*, unsigned, HostValue*, HostValue* rval) {
    *rval = engine::api()->newNumber(cx, 1);
    return 1;
}

static const HostFunctionSpec kNop[] = {{"tableNop", tableNop, 0, 0, 0},
                                        {nullptr, nullptr, 0, 0, 0}};

static double timeLoop(HostContext* cx, const char* body, int n) {
    char src[256];
    snprintf(src, sizeof src, "(function(){ for (var i = 0; i < %d; i++) { %s } })()", n, body);
    auto start = std::chrono::steady_clock::now();
    HostValue r;
    engine::api()->evaluateScript(cx, "bench", src, &r);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           n;
}

int main() {
    const int n = 5000000;
    engine::createInstance(kBuiltins);
    HostContext* cx = engine::mainContext();
    engine::api()->beginRequest(cx);
    duk_context* ctx = reinterpret_cast<duk_context*>(cx);
    duk_push_c_function(ctx, plainPid, 0);
    duk_put_global_string(ctx, "plainPid");
    duk_push_c_function(ctx, plainNop, 0);
    duk_put_global_string(ctx, "plainNop");
    engine::api()->defineFunctions(cx, engine::api()->getGlobal(cx), kNop);
    double empty = timeLoop(cx, "", n);
    double plain = timeLoop(cx, "plainPid();", n);
    double native = timeLoop(cx, "System.getPID();", n);
    printf("%d calls each\n", n);
    printf("empty loop iteration          %7.1f ns\n", empty);
    printf("plain engine function call    %7.1f ns (%.1f ns over the loop)\n", plain,
           plain - empty);
    printf("System.getPID() via the table %7.1f ns (%.1f ns over the loop)\n", native,
           native - empty);
    double nopPlain = timeLoop(cx, "plainNop();", n);
    double nopTable = timeLoop(cx, "tableNop();", n);
    printf("table overhead per call       %7.1f ns\n", native - plain);
    printf("no-op: plain engine function  %7.1f ns, through the table %7.1f ns\n", nopPlain - empty,
           nopTable - empty);
    engine::api()->endRequest(cx);
    engine::destroyInstance();
    return 0;
}
