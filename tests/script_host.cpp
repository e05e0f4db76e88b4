// Runs one script file as the bootstrap of a real engine instance, after a small test
// harness. Started as `script_host <file.js> [args...]`; the script sees argv without the
// file name. Adds the object Test with natives that tests need from outside the runtime.
#include "core/guard/crash_guard.h"
#include "core/runtime/startup.h"
#include "platforms/platform.h"

#include <fstream>
#include <sstream>
#include <string>
#include <string.h>
#include <vector>

static const ModuleApi* gApi;
static std::string gHarness;

// Test.crash(): an access violation inside a native. Not instrumented, so that sanitizer
// builds fault for real instead of stopping at the null store.
__attribute__((no_sanitize("address"), no_sanitize("undefined"))) static int
testCrash(HostContext*, HostObject*, unsigned, HostValue*, HostValue*) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 1;
}

// Test.fail(message): fails through reportError, like any native with a message.
static int testFail(HostContext* cx, HostObject*, unsigned argc, HostValue* argv, HostValue*) {
    gApi->reportError(cx, "%s", argc ? gApi->toBytes(cx, argv[0]) : "failed");
    return 0;
}

// Test.coreDumpOff(): a later crash ends the process without writing its log.
static int testCoreDumpOff(HostContext*, HostObject*, unsigned, HostValue*, HostValue*) {
    crashguard::setCoreDumpEnabled(false);
    return 1;
}

static const HostFunctionSpec kTestFunctions[] = {
    {"crash", testCrash, 0, 0, 0},
    {"coreDumpOff", testCoreDumpOff, 0, 0, 0},
    {"fail", testFail, 1, 0, 0},
    {nullptr, nullptr, 0, 0, 0},
};

static void addTestNatives(HostContext* cx, const ModuleApi* api) {
    gApi = api;
    HostObject* test = api->newObject(cx, nullptr);
    api->defineProperty(cx, api->getGlobal(cx), "Test", hostObject(test), nullptr, nullptr, 0);
    api->defineFunctions(cx, test, kTestFunctions);
    HostValue result;
    api->evaluateScript(cx, "harness.js", gHarness.c_str(), &result);
}

static bool readFile(const char* path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

int main(int argc, char** argv, char** envp) {
    static std::string source;
    if (argc < 2 || !readFile(argv[1], &source) || !readFile(CAPSULE_TEST_HARNESS, &gHarness)) {
        fprintf(stderr, "usage: script_host <file.js> [args...]\n");
        return 2;
    }
    static std::string name = strrchr(argv[1], '/') ? strrchr(argv[1], '/') + 1 : argv[1];
    std::vector<char*> args;
    args.push_back(argv[0]);
    for (int i = 2; i < argc; i++)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    return platform::runHost(argc - 1, args.data(), envp,
                             HostOptions{name.c_str(), source.c_str(), addTestNatives});
}
