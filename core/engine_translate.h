// The engine's side of the translator (core/engine_translate.cpp).
#ifndef CAPSULE_ENGINE_TRANSLATE_H
#define CAPSULE_ENGINE_TRANSLATE_H

#include "duktape.h"

struct TranslateError {
    duk_int_t line;
    duk_errcode_t code;
};

// Translates the compiler's input (flags: the engine's compile flags). 1: translated, the
// text pushed on the stack and *input/*length pointing into it for the compilation; 0: no
// change; -1: an error of the source, its message pushed and its line and kind in *error.
int capsuleTranslate(duk_context* ctx, const duk_uint8_t** input, duk_size_t* length,
                     duk_small_uint_t flags, TranslateError* error);

#endif
