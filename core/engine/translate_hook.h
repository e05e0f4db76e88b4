// The engine's side of the translator (core/engine/translate_hook.cpp).
#ifndef CAPSULE_ENGINE_TRANSLATE_HOOK_H
#define CAPSULE_ENGINE_TRANSLATE_HOOK_H

#include "duktape.h"

struct TranslateError {
    duk_int_t line;
    duk_errcode_t code;
};

// Translates the compiler's input (flags: the engine's compile flags), after a leading
// byte-order mark, which it moves *input/*length past. 1: translated, the
// text pushed on the stack and *input/*length pointing into it for the compilation (and an
// undefined slot above it for the source text as a string, see below); 0: no change; -1: an
// error of the source, its message pushed and its line and kind in *error.
int capsuleTranslate(duk_context* ctx, const duk_uint8_t** input, duk_size_t* length,
                     duk_small_uint_t flags, TranslateError* error);

// The pattern of a regular expression being compiled, at -3 of the stack (under the flags
// and the escaped source), replaced by its translation when that engine's forms need one.
void duk_host_regexp_pattern(duk_context* ctx);

// The source a function came from, for the function at [*start, *end) of `input`, the text
// of the compilation in progress on this thread: when that text is a translation and the
// translator wrote the function, sets *start and *end to its place in the source, *source
// and *sourceLength to the source, *slot to the stack slot kept for it as a string, and
// returns true.
bool capsuleFunctionSource(const duk_uint8_t* input, duk_size_t* start, duk_size_t* end,
                           const duk_uint8_t** source, duk_size_t* sourceLength, duk_idx_t* slot);

// The source of the compilation in progress on this thread when its text `input` is a
// translation: sets *source, *sourceLength and *slot as capsuleFunctionSource does, and
// returns true.
bool capsuleTranslatedSource(const duk_uint8_t* input, const duk_uint8_t** source,
                             duk_size_t* sourceLength, duk_idx_t* slot);

// The translator's syntax error in the source, when it finds one (the same result as
// capsuleTranslate's -1, or false), whatever the quick scan would say: the engine's
// compiler has rejected the text and the language's own words are wanted for it.
bool capsuleCheckSyntax(duk_context* ctx, const duk_uint8_t* input, duk_size_t length,
                        duk_small_uint_t flags, TranslateError* error);

// Frees what the calling thread keeps of its last compilation.
void releaseCompilation();

#endif
