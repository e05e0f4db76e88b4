// Compile errors as the script language words them, and where eval code comes from
// (core/engine/duktape/50-compile-errors.patch). A compile error's message is the text
// alone; its line is the error's lineNumber (and the reporter's file:line), and the line's
// text goes with it for the reporter. Eval code and the Function constructor's functions
// take the calling script's file, and their lines count from the calling line.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"
#include "core/engine/translate_hook.h"

#include <string.h>

namespace {

thread_local duk_small_uint_t tCompileFlags = 0;
thread_local bool tTranslatorFailed = false; // the translator threw the error itself

// The engine compiler's messages for errors that the translator's parser does not find
// (it had nothing to translate and accepts the source) in the language's words. Others
// (the engine's limits, strict mode, regular expressions) keep the engine's text.
struct MessageForm {
    const char* engine;
    const char* language;
};
const MessageForm kMessageForms[] = {
    {DUK_STR_PARSE_ERROR, "syntax error"},
    {DUK_STR_EMPTY_EXPR_NOT_ALLOWED, "syntax error"},
    {DUK_STR_INVALID_EXPRESSION, "syntax error"},
    {DUK_STR_EXPECTED_IDENTIFIER, "missing variable name"},
    {DUK_STR_UNTERMINATED_STMT, "missing ; before statement"},
    {DUK_STR_UNTERMINATED_STRING, "unterminated string literal"},
    {DUK_STR_UNTERMINATED_COMMENT, "unterminated comment"},
    {DUK_STR_UNTERMINATED_REGEXP, "unterminated regular expression literal"},
    {DUK_STR_INVALID_TOKEN, "illegal character"},
    {DUK_STR_INVALID_LABEL, "label not found"},
    {DUK_STR_INVALID_BREAK_CONT_LABEL, "label not found"},
    {DUK_STR_INVALID_RETURN, "return not in function"},
};

const char* languageForm(const char* message) {
    for (const MessageForm& f : kMessageForms)
        if (strcmp(message, f.engine) == 0) return f.language;
    return nullptr;
}

// The compiled function whose activation is the nearest script below the current native.
duk_activation* scriptCaller(duk_activation* act) {
    for (act = act ? act->parent : nullptr; act; act = act->parent) {
        duk_hobject* f = DUK_ACT_GET_FUNC(act);
        if (f && DUK_HOBJECT_IS_COMPFUNC(f)) return act;
    }
    return nullptr;
}

bool calledFrom(duk_activation* act, duk_c_function fn) {
    duk_hobject* f = act ? DUK_ACT_GET_FUNC(act) : nullptr;
    return f && DUK_HOBJECT_IS_NATFUNC(f) && reinterpret_cast<duk_hnatfunc*>(f)->func == fn;
}

// Line `line` (from 1) of text, without its line end: its start and length, or false.
// Where the last line found on this thread was in the same text, the count goes on from
// there: errors repeated in a loop far down a long script do not count its lines again.
bool lineOf(const char* text, size_t size, duk_int_t line, const char** start, size_t* len) {
    thread_local struct {
        const char* text = nullptr;
        size_t size = 0;
        uint64_t head = 0; // a hash of the text's first bytes: a new text at the old place
        duk_int_t line = 0;
        const char* start = nullptr;
    } last;
    if (line < 1) return false;
    const char* p = text;
    const char* end = text + size;
    uint64_t head = 14695981039346656037u; // by eight bytes at a time
    size_t hashed = size < 64 ? size : 64, i = 0;
    for (; i + 8 <= hashed; i += 8) {
        uint64_t word;
        memcpy(&word, text + i, 8);
        head = (head ^ word) * 1099511628211u;
    }
    for (; i < hashed; i++)
        head = (head ^ static_cast<unsigned char>(text[i])) * 1099511628211u;
    duk_int_t n = 1;
    if (last.text == text && last.size == size && last.head == head && last.line <= line) {
        p = last.start;
        n = last.line;
    }
    for (; n < line; n++) {
        const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!nl) return false;
        p = nl + 1;
    }
    last = {text, size, head, line, p};
    const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    size_t l = nl ? static_cast<size_t>(nl - p) : static_cast<size_t>(end - p);
    if (l && p[l - 1] == '\r') l--;
    *start = p;
    *len = l;
    return true;
}

// The source of the compilation in progress (the text it was translated from, if it was).
void compiledSource(duk_compiler_ctx* comp_ctx, const duk_uint8_t** text, duk_size_t* size) {
    *text = comp_ctx->lex.input;
    *size = comp_ctx->lex.input_length;
    duk_idx_t slot;
    capsuleTranslatedSource(*text, text, size, &slot);
}

} // namespace

// The start of a compilation, before its translation: the line its text starts on. Eval
// code, and the function that the Function constructor compiles, are named after the
// calling script's file (not "input" or "compile") and start on its current line.
duk_int_t duk_host_compile_origin(duk_compiler_ctx* comp_ctx, duk_small_uint_t flags,
                                  duk_idx_t filenameIdx) {
    duk_hthread* thr = comp_ctx->thr;
    tCompileFlags = flags;
    tTranslatorFailed = false;
    tFirstLine = 1;
    tFromCaller = false;
    duk_activation* act = thr->callstack_curr;
    bool fromEval = (flags & DUK_COMPILE_EVAL) &&
                    comp_ctx->h_filename == DUK_HTHREAD_STRING_INPUT(thr) &&
                    calledFrom(act, duk_bi_global_object_eval);
    bool fromFunction = (flags & DUK_COMPILE_FUNCEXPR) &&
                        comp_ctx->h_filename == DUK_HTHREAD_STRING_COMPILE(thr) &&
                        calledFrom(act, duk_bi_function_constructor);
    duk_activation* caller = (fromEval || fromFunction) ? scriptCaller(act) : nullptr;
    if (!caller) return 1;
    duk_require_stack(thr, 2);
    duk_push_tval(thr, &caller->tv_func);
    duk_get_prop_stridx(thr, -1, DUK_STRIDX_FILE_NAME);
    if (duk_is_string(thr, -1)) {
        duk_uint_fast32_t pc = duk_hthread_get_act_prev_pc(thr, caller);
        duk_int_t line = static_cast<duk_int_t>(duk_hobject_pc2line_query(thr, -2, pc));
        comp_ctx->h_filename = duk_known_hstring(thr, -1);
        duk_replace(thr, filenameIdx); // keeps the name reachable for the compilation
        if (line > 0) tFirstLine = line;
        tFromCaller = true;
    } else {
        duk_pop(thr);
    }
    duk_pop(thr);
    return tFirstLine;
}

// An error of the translator, thrown from duk_host_translate (unit.cpp): its message is
// the language's already.
void duk_host_translator_failed() {
    tTranslatorFailed = true;
}

// Every error made while a compilation is in progress, at the top of the stack before
// its traceback is taken. A syntax error of the engine's compiler takes the translator's
// message and line for the same source when it finds the error (the language's words),
// or else the language's form of the engine's message; its line's text is kept for the
// reporter. Other errors (no memory, too much recursion) pass as they are.
void duk_host_compile_error(duk_hthread* thr) {
    duk_compiler_ctx* comp_ctx = thr->compile_ctx;
    if (!comp_ctx || !comp_ctx->h_filename) return;
    duk_hobject* error = duk_get_hobject(thr, -1);
    duk_hobject* proto = error ? DUK_HOBJECT_GET_PROTOTYPE(thr->heap, error) : nullptr;
    if (!proto || (proto != thr->builtins[DUK_BIDX_SYNTAX_ERROR_PROTOTYPE] &&
                   proto != thr->builtins[DUK_BIDX_TYPE_ERROR_PROTOTYPE]))
        return;
    duk_require_stack(thr, 4);
    const duk_uint8_t* source;
    duk_size_t size;
    compiledSource(comp_ctx, &source, &size);
    bool translated = source != comp_ctx->lex.input;
    TranslateError found;
    if (tTranslatorFailed) {
        // as it is
    } else if (!translated && proto == thr->builtins[DUK_BIDX_SYNTAX_ERROR_PROTOTYPE] &&
               capsuleCheckSyntax(thr, source, size, tCompileFlags, &found)) {
        duk_put_prop_stridx(thr, -2, DUK_STRIDX_MESSAGE);
        if (found.code == DUK_ERR_TYPE_ERROR)
            duk_hobject_set_prototype_updref(thr, error,
                                             thr->builtins[DUK_BIDX_TYPE_ERROR_PROTOTYPE]);
        comp_ctx->curr_token.start_line = found.line + tFirstLine - 1;
    } else {
        duk_get_prop_stridx(thr, -1, DUK_STRIDX_MESSAGE);
        const char* form = duk_is_string(thr, -1) ? languageForm(duk_get_string(thr, -1)) : nullptr;
        duk_pop(thr);
        if (form) {
            duk_push_string(thr, form);
            duk_put_prop_stridx(thr, -2, DUK_STRIDX_MESSAGE);
        }
    }
    const char* start;
    size_t len;
    if (lineOf(reinterpret_cast<const char*>(source), size,
               comp_ctx->curr_token.start_line - tFirstLine + 1, &start, &len)) {
        duk_push_lstring(thr, start, len);
        duk_put_prop_literal(thr, -2, ENGINE_KEY_SOURCE_LINE);
    }
}
