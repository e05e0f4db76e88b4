// System.loadModule: loads a native module library and lets it register its names
// through the module interface table, as the built-in modules do at start-up.
#include "modules/system/system_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <stdio.h>
#include <string>

// One write per line, as System.print does, so that lines of threads never interleave.
static void printLine(const char* format, const char* path) {
    std::string line = format;
    line.replace(line.find("%s"), 2, path);
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
}

// True once the library is loaded and its initModule has run; a library that cannot be
// loaded prints both lines and then the loader's reason, one without the export only the
// second line. The request is kept while the library loads and initModule runs on this
// thread and context.
SYSTEM_NATIVE(sysLoadModule) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.loadModule(<path>)");
    const HostChar* chars = hostApi->toChars(cx, argv[0]);
    size_t n = 0;
    while (chars[n])
        n++;
    const char* shown = hostApi->toBytes(cx, argv[0]);
    // The package names its files with forward slashes.
    std::string key = shown;
    for (char& c : key)
        if (c == '\\') c = '/';
    void* library = nullptr;
    std::string reason = "the name holds a NUL character";
    // A path with a NUL inside would name another file than the one the script wrote.
    if (static_cast<int>(n) == hostApi->toLength(cx, argv[0]))
        library = loadModuleLibrary(cx, text::toUtf8(chars, n), key, &reason);
    if (hostApi->errorPending(cx)) return 0;
    if (!library) printLine("Unable to load module '%s'\n", shown);
    void* init = platform::librarySymbol(library, "initModule");
    if (!init) {
        printLine("Unable to init module '%s'\n", shown);
        if (!library) printLine("%s\n", reason.c_str());
        *rval = HOST_FALSE;
        return 1;
    }
    reinterpret_cast<HostModuleInit>(init)(cx, hostApi);
    // An error the module reported while it initialised reaches the calling script.
    if (hostApi->errorPending(cx)) return 0;
    *rval = HOST_TRUE;
    return 1;
}
