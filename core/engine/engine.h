// The engine host: Duktape's instance, the request lock, the value word, the table's slots,
// classes, evaluation, the script cache and the error reporter (core/engine/duktape/ holds
// the engine's compilation unit, its hooks and patches). The only room that includes
// duktape.h; it may include core/translator/, core/text/, core/guard/, the table's headers
// and the platform layer, and nothing above it (the language library, E4X, the modules
// and start-up reach it through the table or as bindings). This header is the instance as
// start-up sees it: no engine header needed.
#ifndef CAPSULE_ENGINE_ENGINE_H
#define CAPSULE_ENGINE_ENGINE_H

#include "core/heap_limit.h"
#include "core/module_api.h"

#include <stddef.h>

namespace engine {

constexpr size_t kHeapLimit = limits::kHeapBytes;

// A part of the runtime that start-up installs into a new instance: the language library,
// a built-in module. It is called like a module library's initModule, in list order,
// inside the main context's request, and reaches the instance through the table.
struct HostInstaller {
    const char* name;
    HostModuleInit install;
};

// Creates the heap, the main context and the table, then runs the installers (a list
// ended by an entry with a null install; none when it is null). A second call does
// nothing. Returns false if the heap could not be made.
bool createInstance(const HostInstaller* installers = nullptr);
// Defines argv (argv[0] should already be the executable's full path) and envp on the
// global object, with the request held on the main context.
void defineArguments(int argc, char** argv, char** envp);
// Destroys the heap (finalizers run); the calling thread must hold no request.
void destroyInstance();

const ModuleApi* api();
HostContext* mainContext();
// The context that the calling thread runs script on (the main context for the main
// thread), or null for a thread that has none.
HostContext* currentContext();
// A context for another OS thread, sharing the global object; the calling thread must hold
// the request lock (it need not have a context yet). The new context belongs to the thread
// that calls adoptContext.
HostContext* newContext();
void adoptContext(HostContext* cx);
// Drops a context made by newContext (with the request lock held); the thread that had
// adopted it has no context afterwards.
void freeContext(HostContext* cx);

// Runs source text on the calling OS thread, which has no context yet: a context of its
// own, a request, the evaluation under fileName (errors go to the reporter), then the
// context is dropped under the fault guard.
void runOnNewContext(const char* fileName, const char* source);
// The same for wide source text of count UTF-16 units, every character kept.
void runCharsOnNewContext(const char* fileName, const HostChar* source, size_t count);

void collectGarbage(HostContext* cx);

// Whether the running native has an error pending (reported, or thrown by a conversion or
// an evaluation it called), which returning 0 would raise in the calling script.
bool errorPending(HostContext* cx);

// Builds the value of a literal text of the forms that uneval writes (objects, arrays,
// strings, numbers, booleans, null), as evaluating it would; false when the text holds
// anything else, which the caller then evaluates.
bool readLiteral(HostContext* cx, const char* text, size_t size, HostValue* out);
// The package directory, read as readLiteral reads it, each entry object getting `pos`
// (enumerable, read-only) on the way: firstPos for the first entry in the text, then the
// previous pos plus the previous entry's csize (as a 32-bit integer). Every name is the
// object's own, "__proto__" too (a file may be called so). False for a text that needs
// the general reading (see readLiteral) or a name that would enumerate out of the text's
// order; the caller then reads it that way and places the entries itself.
bool readDirectory(HostContext* cx, const char* text, size_t size, double firstPos, HostValue* out);
size_t heapBytes();

// Resets the calling context's value stack to what it held before a native-free section
// (start-up code that calls table slots outside any native).
int stackMark(HostContext* cx);
void stackReset(HostContext* cx, int mark);

} // namespace engine

#endif
