// The translator on any text: it returns (no crash, no hang, deep nesting an error rather
// than an overflow), and whatever it writes compiles in the engine.
#include "core/translator/translate.h"

#include "duktape.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

duk_context* heap() {
    static duk_context* ctx = duk_create_heap_default();
    if (!ctx) abort();
    return ctx;
}

// The body of a regular expression literal is copied as it stands and checked by the
// engine's own regular expression compiler only.
bool regExpError(const char* message) {
    for (const char* word : {"regexp", "pattern", "quantifier", "character class", "range",
                             "backreference", "escape", "parenthesis", "atom"})
        if (strstr(message, word)) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Source reaches the compiler as UTF-8: each byte of the input a character, as narrow
    // script text is. The translator takes any non-ASCII character for a letter of a name
    // (the engine checks them): bytes that are none in Latin-1 stand for one that is.
    std::string source;
    for (size_t i = 0; i < size; i++) {
        unsigned c = data[i];
        if (c < 0x80) {
            source += static_cast<char>(c);
            continue;
        }
        bool letter = c == 0xA0 || c == 0xAA || c == 0xB5 || c == 0xBA ||
                      (c >= 0xC0 && c != 0xD7 && c != 0xF7);
        if (!letter) c = 0xE9;
        source += static_cast<char>(0xC0 | (c >> 6));
        source += static_cast<char>(0x80 | (c & 0x3F));
    }
    const char* text = source.data();
    size = source.size();
    for (int flags : {0, static_cast<int>(translator::TRANSLATE_EVAL)}) {
        translator::Translation t = translator::translate(text, size, flags);
        if (!t.changed) continue;
        // Each function written lies within the output, from its keyword (or an accessor's
        // parameter list) to a closing brace, and within the source.
        for (const translator::FunctionSpan& f : t.functions) {
            if (f.outStart < f.outEnd && f.outEnd <= t.text.size() &&
                (t.text[f.outStart] == 'f' || t.text[f.outStart] == '(') &&
                t.text[f.outEnd - 1] == '}' && f.srcStart < f.srcEnd && f.srcEnd <= size)
                continue;
            fprintf(stderr, "a function's span is out of place: %u-%u of the output, %u-%u\n",
                    f.outStart, f.outEnd, f.srcStart, f.srcEnd);
            abort();
        }
        // Rules of strict code that the translator leaves to the engine.
        if (memmem(text, size, "use strict", 10)) continue;
        duk_context* ctx = heap();
        duk_push_string(ctx, "fuzz");
        if (duk_pcompile_lstring_filename(ctx, flags ? DUK_COMPILE_EVAL : 0, t.text.data(),
                                          t.text.size()) != 0 &&
            duk_get_error_code(ctx, -1) == DUK_ERR_SYNTAX_ERROR &&
            !regExpError(duk_safe_to_string(ctx, -1))) {
            fprintf(stderr,
                    "the translation does not compile: %s\n--- source\n%.*s\n--- written\n%s\n",
                    duk_safe_to_string(ctx, -1), static_cast<int>(size), text, t.text.c_str());
            abort();
        }
        duk_set_top(ctx, 0);
    }
    return 0;
}
