// Console and evaluation natives: evaluate, compile, openConsole, print, getchar, getInput,
// gc and exit, and the delivery of console events to System.control.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

#include <stdio.h>
#include <string.h>
#include <string>

// The source reaches the compiler with its characters whole, as eval's does.
SYSTEM_NATIVE(sysEvaluate) {
    (void)self;
    if (argc < 2)
        return hostFormatError(cx, "System.evaluate(<script file name>, <script source>)");
    const char* file = hostApi->toBytes(cx, argv[0]);
    size_t count;
    const HostChar* source = sourceArg(cx, argv[1], &count);
    if (hostApi->errorPending(cx)) return 0; // a conversion threw
    return hostApi->evaluateChars(cx, file, source, count, rval);
}

// Compiles as evaluate does and runs nothing: true, or the compile error thrown.
SYSTEM_NATIVE(sysCompile) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "System.compile(<script file name>, <script source>)");
    const char* file = hostApi->toBytes(cx, argv[0]);
    size_t count;
    const HostChar* source = sourceArg(cx, argv[1], &count);
    if (hostApi->errorPending(cx)) return 0;
    if (!hostApi->compileChars(cx, file, source, count)) return 0;
    *rval = hostBoolean(1);
    return 1;
}

// Runs on the console event thread, on a context of its own for each event.
static void deliverConsoleEvent(const char* name) {
    char line[64];
    snprintf(line, sizeof line, "if(System.control) System.control('%s')", name);
    hostApi->runOnNewContext("System", line);
}

// A console for a process that has none (Windows; elsewhere the inherited streams stay);
// the streams become unbuffered, so that every write shows at once, and console events
// start reaching System.control.
SYSTEM_NATIVE(sysOpenConsole) {
    (void)cx, (void)self, (void)argc, (void)argv, (void)rval;
    platform::attachConsole();
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stdin, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    platform::installConsoleEvents(deliverConsoleEvent);
    return 1;
}

SYSTEM_NATIVE(sysPrint) {
    (void)self, (void)rval;
    if (argc < 1) return hostFormatError(cx, "System.print(<msg>)");
    std::string line = hostApi->toBytes(cx, argv[0]);
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout); // one locked write: lines never interleave
    fflush(stdout); // a pipe or a log file sees each line at once, not at exit
    return 1;
}

// At the end of input the one character is U+00FF (the low byte of EOF). The request is
// suspended while the thread waits for input, so that other script threads go on.
SYSTEM_NATIVE(sysGetchar) {
    (void)self, (void)argc, (void)argv;
    int depth = hostApi->suspendRequest(cx); // other threads run while this one waits for input
    char c = static_cast<char>(getchar() & 0xFF);
    hostApi->resumeRequest(cx, depth);
    *rval = hostApi->newStringN(cx, &c, 1);
    return 1;
}

// One line of at most 255 bytes, its line feed kept; the rest of a longer line is
// dropped. At the end of input: the empty text.
SYSTEM_NATIVE(sysGetInput) {
    (void)self, (void)argc, (void)argv;
    char buf[256];
    int depth = hostApi->suspendRequest(cx);
    if (!fgets(buf, sizeof buf, stdin)) buf[0] = 0;
    if (buf[0] && !strchr(buf, '\n')) {
        int c;
        while ((c = getchar()) != EOF && c != '\n') {}
    }
    hostApi->resumeRequest(cx, depth);
    *rval = hostApi->newStringN(cx, buf, strlen(buf));
    return 1;
}

SYSTEM_NATIVE(sysGc) {
    (void)self, (void)argc, (void)argv, (void)rval;
    hostApi->collectGarbage(cx);
    return 1;
}

// Ends the process at once: no teardown, other threads end with it.
SYSTEM_NATIVE(sysExit) {
    (void)self, (void)rval;
    int code = hostPresent(argc, argv, 0) ? hostIntArg(cx, argv[0]) : 0;
    platform::endProcess(code);
}
