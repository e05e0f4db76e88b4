// The translator in front of the engine's compiler: every compilation (programs, eval code,
// the Function constructor's function expressions, each with its strictness) starts with
// duk_host_translate (core/duktape/10-translate.patch, core/engine_duktape.cpp), so that
// every route of source text into the engine gets JavaScript 1.7.
#include "core/engine_translate.h"

#include "core/translator/translate.h"

#include <string.h>

int capsuleTranslate(duk_context* ctx, const duk_uint8_t** input, duk_size_t* length,
                     duk_small_uint_t flags, TranslateError* error) {
    int tflags = 0;
    if (flags & DUK_COMPILE_FUNCEXPR) {
        tflags |= translator::TRANSLATE_FUNCTION;
    } else if (flags & DUK_COMPILE_EVAL) {
        tflags |= translator::TRANSLATE_EVAL;
    }
    if (flags & DUK_COMPILE_STRICT) tflags |= translator::TRANSLATE_STRICT;
    translator::Translation t =
        translator::translate(reinterpret_cast<const char*>(*input), *length, tflags);
    if (t.failed) {
        duk_push_lstring(ctx, t.message.data(), t.message.size());
        error->line = static_cast<duk_int_t>(t.line);
        error->code = t.typeError ? DUK_ERR_TYPE_ERROR : DUK_ERR_SYNTAX_ERROR;
        return -1;
    }
    if (!t.changed) return 0;
    // A fixed buffer: the compiler reads the text where it lies, and no string is interned.
    void* buf = duk_push_fixed_buffer(ctx, t.text.size());
    memcpy(buf, t.text.data(), t.text.size());
    *input = static_cast<const duk_uint8_t*>(buf);
    *length = t.text.size();
    return 1;
}
