// The translator in front of the engine's compiler: every compilation (programs, eval code,
// the Function constructor's function expressions, each with its strictness) starts with
// duk_host_translate (core/engine/duktape/10-translate.patch, core/engine/duktape/unit.cpp), so
// that every route of source text into the engine gets JavaScript 1.7.
#include "core/engine/translate_hook.h"

#include "core/heap_limit.h"
#include "core/translator/translate.h"
#include "platforms/platform.h"

#include <string.h>

#include <new>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int capsuleStackLow(void); // core/engine/duktape/stack_check.cpp

namespace {

// The translation being compiled on this thread (every compilation starts with
// capsuleTranslate, which sets or clears it; a compilation is known by its input).
struct Compilation {
    const duk_uint8_t* input = nullptr; // the translation the compiler reads
    const duk_uint8_t* source = nullptr;
    duk_size_t sourceLength = 0;
    duk_idx_t slot = 0;
    std::vector<translator::FunctionSpan> functions;
};
thread_local Compilation* tCompilation = nullptr; // freed by releaseCompilation

// The translator's blocks come from the platform (a large source's in huge pages), and its
// nesting stops where the engine's native stack check would: set before main, ahead of any
// translation.
struct PlatformBlocks {
    PlatformBlocks() {
        translator::setBlockFunctions(platform::allocateBlock, platform::freeBlock);
        translator::setStackCheck(capsuleStackLow);
    }
} gPlatformBlocks;

// A UTF-8 byte-order mark, as a script file's bytes come to the compiler (one character
// per byte: U+00EF U+00BB U+00BF), opens many files saved on Windows. At the start of a
// source it is white space, as the mark itself (U+FEFF) is anywhere.
constexpr char kByteOrderMark[] = "\xC3\xAF\xC2\xBB\xC2\xBF";
constexpr size_t kByteOrderMarkLength = sizeof kByteOrderMark - 1;

} // namespace

namespace {

int translatorFlags(duk_small_uint_t flags) {
    int tflags = 0;
    if (flags & DUK_COMPILE_FUNCEXPR) {
        tflags |= translator::TRANSLATE_FUNCTION;
    } else if (flags & DUK_COMPILE_EVAL) {
        tflags |= translator::TRANSLATE_EVAL;
    }
    if (flags & DUK_COMPILE_STRICT) tflags |= translator::TRANSLATE_STRICT;
    return tflags;
}

bool failed(duk_context* ctx, const translator::Translation& t, TranslateError* error) {
    if (!t.failed) return false;
    duk_push_lstring(ctx, t.message.data(), t.message.size());
    error->line = static_cast<duk_int_t>(t.line);
    error->code = t.typeError    ? DUK_ERR_TYPE_ERROR
                  : t.rangeError ? DUK_ERR_RANGE_ERROR
                                 : DUK_ERR_SYNTAX_ERROR;
    return true;
}

// A translation that fails for want of memory, or that the engine could not hold, as a
// RangeError of the compilation.
int tooLarge(duk_context* ctx, TranslateError* error) {
    duk_push_string(ctx, "source too large to translate");
    error->line = 1;
    error->code = DUK_ERR_RANGE_ERROR;
    return -1;
}

} // namespace

int capsuleTranslate(duk_context* ctx, const duk_uint8_t** input, duk_size_t* length,
                     duk_small_uint_t flags, TranslateError* error) {
    if (tCompilation) tCompilation->input = nullptr;
    if (*length >= kByteOrderMarkLength && !memcmp(*input, kByteOrderMark, kByteOrderMarkLength)) {
        *input += kByteOrderMarkLength;
        *length -= kByteOrderMarkLength;
    }
    translator::Translation t;
    try {
        t = translator::translate(reinterpret_cast<const char*>(*input), *length,
                                  translatorFlags(flags));
    } catch (const std::bad_alloc&) {
        duk_require_stack(ctx, 1);
        return tooLarge(ctx, error);
    }
    duk_require_stack(ctx, 2);
    if (failed(ctx, t, error)) return -1;
    if (!t.changed) return 0;
    if (t.text.size() > limits::kStringBytes) return tooLarge(ctx, error);
    if (!tCompilation && !(tCompilation = new (std::nothrow) Compilation))
        return tooLarge(ctx, error);
    // A fixed buffer: the compiler reads the text where it lies, and no string is interned.
    void* buf = duk_push_fixed_buffer(ctx, t.text.size());
    memcpy(buf, t.text.data(), t.text.size());
    // The source stays where the compiler's caller keeps it until the compilation ends.
    duk_push_undefined(ctx);
    Compilation& c = *tCompilation;
    c.source = *input;
    c.sourceLength = *length;
    c.slot = duk_get_top_index(ctx);
    c.functions = std::move(t.functions);
    *input = static_cast<const duk_uint8_t*>(buf);
    *length = t.text.size();
    c.input = *input;
    return 1;
}

bool capsuleFunctionSource(const duk_uint8_t* input, duk_size_t* start, duk_size_t* end,
                           const duk_uint8_t** source, duk_size_t* sourceLength, duk_idx_t* slot) {
    if (!tCompilation || !input || input != tCompilation->input) return false;
    const Compilation& c = *tCompilation;
    auto it = std::lower_bound(
        c.functions.begin(), c.functions.end(), *start,
        [](const translator::FunctionSpan& f, duk_size_t at) { return f.outStart < at; });
    if (it == c.functions.end() || it->outStart != *start || it->outEnd != *end) return false;
    *start = it->srcStart;
    *end = it->srcEnd;
    *source = c.source;
    *sourceLength = c.sourceLength;
    *slot = c.slot;
    return true;
}

bool capsuleTranslatedSource(const duk_uint8_t* input, const duk_uint8_t** source,
                             duk_size_t* sourceLength, duk_idx_t* slot) {
    if (!tCompilation || !input || input != tCompilation->input) return false;
    const Compilation& c = *tCompilation;
    *source = c.source;
    *sourceLength = c.sourceLength;
    *slot = c.slot;
    return true;
}

bool capsuleCheckSyntax(duk_context* ctx, const duk_uint8_t* input, duk_size_t length,
                        duk_small_uint_t flags, TranslateError* error) {
    try {
        translator::Translation t =
            translator::translate(reinterpret_cast<const char*>(input), length,
                                  translatorFlags(flags) | translator::TRANSLATE_CHECK);
        return failed(ctx, t, error);
    } catch (...) { // no memory for the parse: the engine's own message stands
        return false;
    }
}

void duk_host_regexp_pattern(duk_context* ctx) {
    duk_size_t length;
    const char* pattern = duk_get_lstring(ctx, -3, &length);
    std::string text;
    if (!pattern || !translator::translateRegExp(pattern, length, &text)) return;
    duk_push_lstring(ctx, text.data(), text.size());
    duk_replace(ctx, -4);
}

void releaseCompilation() {
    delete tCompilation;
    tCompilation = nullptr;
}
