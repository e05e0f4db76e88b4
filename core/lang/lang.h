// The JavaScript 1.7 library: what the language has beyond the engine's own (uneval and
// toSource, Error's file and line arguments, iterators, generators, the generics, the
// library units of core/lang/*.js). An engine binding: it may include the engine host's
// headers (core/engine/) and core/text/, and nothing of the XML binding, the built-in
// modules or start-up.
#ifndef CAPSULE_LANG_LANG_H
#define CAPSULE_LANG_LANG_H

#include "core/engine/internal.h"

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace engine {

// The installer that start-up lists first: uneval and toSource, the error constructors'
// arguments, and the lazy paths of every library unit.
void installLanguage(HostContext* cx, const ModuleApi* api);

// uneval(value) and Object.prototype.toSource().
void installUneval(duk_context* ctx);
// Appends text quoted with q ('"' or '\''), escaped as uneval writes it: printable ASCII
// kept, the rest as \b \t \n \v \f \r, \xHH or \uHHHH.
void appendQuoted(std::string& out, const uint16_t* c, size_t n, char q);
// Error constructors that take a file name and a line number after the message.
void installErrorArguments(duk_context* ctx);

} // namespace engine

#endif
