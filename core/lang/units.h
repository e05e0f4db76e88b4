// The language library: units of script text (core/lang/*.js, embedded at build time) that
// give the language level beyond the engine's own (iterators, generators, the Array and
// String generics, XML ...). Nothing of a unit runs at start-up: each path it provides
// (a global such as `Iterator`, or a property such as `Array.forEach`) starts as an
// accessor, and the first read or write of any of them evaluates the unit, which defines
// the real values. Plain scripts that use none of it pay for the accessors only.
#ifndef CAPSULE_LANG_UNITS_H
#define CAPSULE_LANG_UNITS_H

#include "core/engine/internal.h"

namespace engine {

struct LangUnit {
    const char* file;                       // its name in core/lang/, for errors inside it
    const char* provides;                   // paths, separated by spaces
    const duk_function_list_entry* natives; // handed to the unit as `native`, or null
    const char* source;                     // the unit's body: function (native) { ... }
};
// The units in the order of their file names, ended by an entry with a null file.
extern const LangUnit kLangUnits[];

// Makes the hidden `__lang` object (where the translator's output finds its helpers) and
// the accessors of every unit's paths.
void installLanguageLibrary(duk_context* ctx);

} // namespace engine

#endif
