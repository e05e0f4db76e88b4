// System.readLine([prompt]): one whole line of standard input, for a prompt in a terminal.
#include "modules/system/system_module.h"

#include "core/heap_limit.h"

#include <stdio.h>
#include <string>

// Writes the prompt (when given) without a line feed and reads up to the next line feed:
// the line without it (and without a carriage return before it), or null at the end of
// input before any byte. A last line without a line feed is returned as it is. A line
// longer than the longest string a native makes is an error, its rest dropped. The
// request is suspended while the thread waits, so other script threads go on.
SYSTEM_NATIVE(sysReadLine) {
    (void)self;
    if (hostPresent(argc, argv, 0)) {
        std::string prompt = hostApi->toBytes(cx, argv[0]);
        fwrite(prompt.data(), 1, prompt.size(), stdout);
    }
    fflush(stdout);
    std::string line;
    bool any = false, tooLong = false;
    int depth = hostApi->suspendRequest(cx);
    for (int c; (c = getchar()) != EOF;) {
        any = true;
        if (c == '\n') break;
        if (line.size() < limits::kStringBytes)
            line += static_cast<char>(c);
        else
            tooLong = true;
    }
    hostApi->resumeRequest(cx, depth);
    if (tooLong) {
        hostApi->reportError(cx, "System.readLine: the line is longer than %lu bytes",
                             static_cast<unsigned long>(limits::kStringBytes));
        return 0;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *rval = any ? hostApi->newStringN(cx, line.data(), line.size()) : HOST_NULL;
    return 1;
}
