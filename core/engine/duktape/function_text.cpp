// The source text of compiled functions, for Function.prototype.toString, toSource and
// uneval (core/engine/duktape/22-function-source.patch), and the lines that error messages
// and the error reporter quote. A compilation makes one string of its whole text (and one
// of the source it was translated from, for the functions the translator wrote), and each
// function it compiles gets four extra constants that no instruction uses: the line its
// text starts on, that string, where the function lies in it, and a marker. Program and eval
// code get them too (50-compile-errors.patch); a program keeps an empty text, since the
// evaluation that runs it holds its source. The constants are shared by every closure of
// the function, so keeping the text costs a closure nothing and a function four values.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

// Where a function's text lies in the string it keeps; kind is a SourceKind below.
struct FunctionText {
    duk_hstring* text;
    duk_size_t start, length;
    int kind;
    duk_int_t firstLine; // the line of the string's first character
    bool fromCaller;     // eval code, or a Function constructor's: the text is its own
};
bool functionText(duk_heap* heap, duk_hcompfunc* f, FunctionText* out);
bool isProgramText(const FunctionText& t);

// The line that the compilation in progress on this thread starts on: 1, or for eval code
// (and the Function constructor's function) the calling script's line, and whether it is
// such code (set by duk_host_compile_origin, compile_errors.cpp).
thread_local duk_int_t tFirstLine = 1;
thread_local bool tFromCaller = false;

namespace {

const char kMarker[] = DUK_HIDDEN_SYMBOL("functionSource");

// The compiler's flags of the function being parsed (duk__parse_func_like_raw).
constexpr duk_small_uint_t kFlagDeclaration = 1 << 0, kFlagAccessor = 1 << 1, kFlagMethod = 1 << 2;

// How the text is written back: as it stands, in parentheses for toSource, or (getters,
// setters and methods, whose text starts at the parameter list) after "function ". Program
// and eval code is no function: it has the native form.
enum SourceKind { kDeclaration, kExpression, kMethod, kProgram };

// Offsets and lengths below 2^25 (no text in a 32 MiB heap is longer) pack exactly into a
// double: start * 2^27 + length * 4 + kind.
constexpr duk_size_t kMaxText = duk_size_t(1) << 25;

bool isMarker(duk_tval* tv) {
    if (!DUK_TVAL_IS_STRING(tv)) return false;
    duk_hstring* h = DUK_TVAL_GET_STRING(tv);
    return DUK_HSTRING_GET_BYTELEN(h) == sizeof kMarker - 1 &&
           memcmp(DUK_HSTRING_GET_DATA(h), kMarker, sizeof kMarker - 1) == 0;
}

void pushNativeText(duk_hthread* thr, duk_idx_t idx) {
    duk_get_prop_literal(thr, idx, "name");
    const char* name = duk_is_string(thr, -1) ? duk_get_string(thr, -1) : "";
    bool identifier = *name && !(*name >= '0' && *name <= '9');
    for (const char* p = name; *p && identifier; p++)
        identifier = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                     (*p >= '0' && *p <= '9') || *p == '_' || *p == '$';
    duk_push_sprintf(thr, "function %s() {\n    [native code]\n}", identifier ? name : "");
    duk_remove(thr, -2);
}

// Appends the four constants: first line (times 2, plus 1 for code from a calling script),
// text (the string at stack slot `text`), span, marker.
void keepSpan(duk_compiler_ctx* comp_ctx, duk_idx_t text, duk_size_t start, duk_size_t end,
              SourceKind kind) {
    duk_hthread* thr = comp_ctx->thr;
    duk_idx_t consts = comp_ctx->curr_func.consts_idx;
    duk_uarridx_t n = static_cast<duk_uarridx_t>(duk_get_length(thr, consts));
    duk_push_int(thr, tFirstLine * 2 + (tFromCaller ? 1 : 0));
    duk_put_prop_index(thr, consts, n);
    duk_dup(thr, text);
    duk_put_prop_index(thr, consts, n + 1);
    duk_push_number(thr, static_cast<double>(start) * (1 << 27) +
                             static_cast<double>(end - start) * 4 + kind);
    duk_put_prop_index(thr, consts, n + 2);
    duk_push_lstring(thr, kMarker, sizeof kMarker - 1);
    duk_put_prop_index(thr, consts, n + 3);
}

} // namespace

bool isProgramText(const FunctionText& t) {
    return t.kind == kProgram;
}

// Where the text of the compiled function f lies, or false when it kept none.
bool functionText(duk_heap* heap, duk_hcompfunc* f, FunctionText* out) {
    if (!DUK_HCOMPFUNC_GET_DATA(heap, f)) return false;
    duk_tval* base = DUK_HCOMPFUNC_GET_CONSTS_BASE(heap, f);
    duk_tval* end = DUK_HCOMPFUNC_GET_CONSTS_END(heap, f);
    if (end - base < 4 || !isMarker(end - 1) || !DUK_TVAL_IS_STRING(end - 3) ||
        !DUK_TVAL_IS_NUMBER(end - 2) || !DUK_TVAL_IS_NUMBER(end - 4))
        return false;
    duk_hstring* text = DUK_TVAL_GET_STRING(end - 3);
    double packed = DUK_TVAL_GET_NUMBER(end - 2);
    duk_size_t start = static_cast<duk_size_t>(packed / (1 << 27));
    duk_size_t rest = static_cast<duk_size_t>(packed - static_cast<double>(start) * (1 << 27));
    out->text = text;
    out->start = start;
    out->length = rest / 4;
    out->kind = static_cast<int>(rest % 4);
    duk_int_t origin = static_cast<duk_int_t>(DUK_TVAL_GET_NUMBER(end - 4));
    out->firstLine = origin / 2;
    out->fromCaller = origin % 2 != 0;
    return start + out->length <= DUK_HSTRING_GET_BYTELEN(text);
}

// Called when the body of a function has been parsed: prev_token is its closing brace,
// start the offset of its 'function' keyword, paren that of its parameter list.
void duk_host_keep_function_source(duk_compiler_ctx* comp_ctx, duk_size_t start, duk_size_t paren,
                                   duk_small_uint_t flags) {
    duk_hthread* thr = comp_ctx->thr;
    SourceKind kind = (flags & (kFlagAccessor | kFlagMethod)) ? kMethod
                      : (flags & kFlagDeclaration)            ? kDeclaration
                                                              : kExpression;
    if (kind == kMethod) start = paren;
    duk_size_t end = comp_ctx->prev_token.start_offset + 1;
    // The text compiled, or the source it was translated from when the translator wrote
    // the function (core/engine/translate_hook.h).
    const duk_uint8_t* input = comp_ctx->lex.input;
    duk_size_t length = comp_ctx->lex.input_length;
    duk_idx_t text = comp_ctx->host_source_idx;
    capsuleFunctionSource(input, &start, &end, &input, &length, &text);
    if (length >= kMaxText || end <= start || end > length) return;
    duk_require_stack(thr, 4);
    if (duk_is_undefined(thr, text)) {
        duk_push_lstring(thr, reinterpret_cast<const char*>(input), length);
        duk_replace(thr, text);
    }
    keepSpan(comp_ctx, text, start, end, kind);
}

// Called when program or eval code has been parsed. Eval code keeps its text (the source
// it was translated from, if it was), which the eval's argument holds anyway; a program
// keeps an empty one.
void duk_host_keep_program_source(duk_compiler_ctx* comp_ctx) {
    duk_hthread* thr = comp_ctx->thr;
    duk_require_stack(thr, 4);
    const duk_uint8_t* input = comp_ctx->lex.input;
    duk_size_t length = comp_ctx->lex.input_length;
    duk_idx_t text = comp_ctx->host_source_idx;
    bool translated = capsuleTranslatedSource(input, &input, &length, &text);
    if (!comp_ctx->curr_func.is_eval || length >= kMaxText) {
        length = 0;
        duk_push_hstring_empty(thr);
    } else if (translated) {
        if (duk_is_undefined(thr, text)) {
            duk_push_lstring(thr, reinterpret_cast<const char*>(input), length);
            duk_replace(thr, text);
        }
        duk_dup(thr, text);
    } else {
        duk_push_lstring(thr, reinterpret_cast<const char*>(input), length);
    }
    keepSpan(comp_ctx, duk_get_top_index(thr), 0, length, kProgram);
    duk_pop(thr);
}

// Pushes the text of the function at idx and returns true, or pushes nothing and returns
// false when the value is not a function. A compiled function gives its source as
// compiled; for toSource (forSource) a function expression comes in parentheses. Other
// functions, and compiled ones whose text was not kept, give the native form:
// "function name() {\n    [native code]\n}".
duk_bool_t duk_host_push_function_text(duk_hthread* thr, duk_idx_t idx, duk_bool_t forSource) {
    idx = duk_require_normalize_index(thr, idx);
    if (!duk_is_function(thr, idx)) return 0;
    duk_require_stack(thr, 4);
    duk_hobject* obj = duk_get_hobject(thr, idx);
    FunctionText t;
    if (obj && DUK_HOBJECT_IS_COMPFUNC(obj) &&
        functionText(thr->heap, reinterpret_cast<duk_hcompfunc*>(obj), &t) && t.kind != kProgram) {
        SourceKind kind = static_cast<SourceKind>(t.kind);
        const char* p = reinterpret_cast<const char*>(DUK_HSTRING_GET_DATA(t.text)) + t.start;
        bool parens = forSource && kind != kDeclaration;
        int parts = 1;
        if (parens) duk_push_literal(thr, "("), parts++;
        if (kind == kMethod) duk_push_literal(thr, "function "), parts++;
        duk_push_lstring(thr, p, t.length);
        if (parens) duk_push_literal(thr, ")"), parts++;
        if (parts > 1) duk_concat(thr, parts);
        return 1;
    }
    pushNativeText(thr, idx);
    return 1;
}

// The texts that the compiled function at fnIdx and the functions inside it keep, swapped
// for their index in the array at textsIdx (toIndex: a text not yet there is appended) or
// back from it: a compiled script is stored with each text once (core/engine/script_cache.cpp),
// not once per function. A slot whose index the array does not hold is left as it is,
// and the function then gives its native form.
namespace {
void swapTexts(duk_hthread* thr, duk_hcompfunc* f, duk_idx_t texts, bool toIndex, int depth) {
    if (!DUK_HCOMPFUNC_GET_DATA(thr->heap, f) || depth > 1000) return;
    duk_tval* base = DUK_HCOMPFUNC_GET_CONSTS_BASE(thr->heap, f);
    duk_tval* end = DUK_HCOMPFUNC_GET_CONSTS_END(thr->heap, f);
    if (end - base >= 3 && isMarker(end - 1) && DUK_TVAL_IS_NUMBER(end - 2)) {
        duk_tval* slot = end - 3;
        duk_uarridx_t count = static_cast<duk_uarridx_t>(duk_get_length(thr, texts));
        if (toIndex && DUK_TVAL_IS_STRING(slot)) {
            duk_hstring* text = DUK_TVAL_GET_STRING(slot);
            duk_uarridx_t i = 0;
            for (; i < count; i++) {
                duk_get_prop_index(thr, texts, i);
                bool same = duk_get_hstring(thr, -1) == text;
                duk_pop(thr);
                if (same) break;
            }
            if (i == count) {
                duk_push_hstring(thr, text);
                duk_put_prop_index(thr, texts, count);
            }
            DUK_TVAL_SET_NUMBER_UPDREF(thr, slot,
                                       static_cast<duk_double_t>(i)); // the array keeps it
        } else if (!toIndex && DUK_TVAL_IS_NUMBER(slot)) {
            duk_double_t i = DUK_TVAL_GET_NUMBER(slot);
            if (i >= 0 && i < count && i == static_cast<duk_uarridx_t>(i)) {
                duk_get_prop_index(thr, texts, static_cast<duk_uarridx_t>(i));
                if (duk_is_string(thr, -1))
                    DUK_TVAL_SET_STRING_UPDREF(thr, slot, duk_get_hstring(thr, -1));
                duk_pop(thr);
            }
        }
    }
    duk_hobject** inner = DUK_HCOMPFUNC_GET_FUNCS_BASE(thr->heap, f);
    duk_hobject** innerEnd = DUK_HCOMPFUNC_GET_FUNCS_END(thr->heap, f);
    for (; inner < innerEnd; inner++)
        if (DUK_HOBJECT_IS_COMPFUNC(*inner))
            swapTexts(thr, reinterpret_cast<duk_hcompfunc*>(*inner), texts, toIndex, depth + 1);
}
} // namespace

void duk_host_swap_function_texts(duk_hthread* thr, duk_idx_t fnIdx, duk_idx_t textsIdx,
                                  duk_bool_t toIndex) {
    duk_require_stack(thr, 4);
    textsIdx = duk_require_normalize_index(thr, textsIdx);
    duk_hobject* obj = duk_get_hobject(thr, fnIdx);
    if (obj && DUK_HOBJECT_IS_COMPFUNC(obj))
        swapTexts(thr, reinterpret_cast<duk_hcompfunc*>(obj), textsIdx, toIndex != 0, 0);
}
