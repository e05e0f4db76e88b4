// The translator in front of the engine's compiler: core/duktape/10-translate.patch calls
// duk_host_translate at the start of every compilation (programs, eval code, the Function
// constructor's function expressions, with their strictness), so that every route of source
// text into the engine gets JavaScript 1.7. A translated text replaces the compiler's input
// and stays alive on the value stack for the compilation; an error of the extended language
// is thrown from inside the compilation, so that it reads like the engine's own syntax
// errors (message "... (line N)", fileName and lineNumber of the script).
#include "core/translator/translate.h"

#include "duktape.h"

#include <string.h>

// flags are the engine's compile flags (duktape.h); true when the input was replaced.
duk_bool_t duk_host_translate(duk_context* ctx, const duk_uint8_t** input, duk_size_t* length,
                              duk_small_uint_t flags, duk_int_t* errorLine) {
    const char* src = reinterpret_cast<const char*>(*input);
    int tflags = 0;
    if (flags & DUK_COMPILE_FUNCEXPR) {
        tflags |= translator::TRANSLATE_FUNCTION;
    } else if (flags & DUK_COMPILE_EVAL) {
        tflags |= translator::TRANSLATE_EVAL;
    }
    if (flags & DUK_COMPILE_STRICT) tflags |= translator::TRANSLATE_STRICT;
    translator::Translation t = translator::translate(src, *length, tflags);
    if (t.failed) {
        *errorLine = static_cast<duk_int_t>(t.line);
        duk_error(ctx, t.typeError ? DUK_ERR_TYPE_ERROR : DUK_ERR_SYNTAX_ERROR, "%s",
                  t.message.c_str());
    }
    if (!t.changed) return 0;
    void* buf = duk_push_fixed_buffer(ctx, t.text.size());
    memcpy(buf, t.text.data(), t.text.size());
    *input = static_cast<const duk_uint8_t*>(buf);
    *length = t.text.size();
    return 1;
}
