// hostMain: the instance with the built-ins, argv and envp, the bootstrap evaluation and
// teardown.
#include "core/runtime/startup.h"

#include "core/engine/engine.h"
#include "core/module_helpers.h"
#include "core/runtime/builtins.h"

namespace {

// The bootstrap's completion value as the exit status: a number is the status (truncated
// as System.exit truncates it), anything else 0.
int exitStatus(HostValue v) {
    return hostIsNumber(v) ? hostToInt32(hostToDouble(v)) : 0;
}

} // namespace

int hostMain(int argc, char** argv, char** envp, const HostOptions& options) {
    using namespace engine;
    if (!createInstance(kBuiltins)) return 1;
    HostContext* cx = mainContext();
    const ModuleApi* table = api();
    table->beginRequest(cx);
    int mark = stackMark(cx);
    if (options.extraInit) options.extraInit(cx, table);
    defineArguments(argc, argv, envp);
    HostValue result = HOST_UNDEFINED;
    int status = table->evaluateScript(cx, options.bootName, options.bootSource, &result)
                     ? exitStatus(result)
                     : 1;
    stackReset(cx, mark);
    table->endRequest(cx);
    destroyInstance();
    return status;
}
