// Guarded evaluation, the path of an evaluation's error (to the calling script, or to the
// error reporter when no script runs beneath it), and the script location for the log.
#include "core/engine/internal.h"

#include "core/guard/crash_guard.h"
#include "core/engine/text.h"
#include "core/engine/error_report.h"
#include "core/text/utf.h"

#include <stdio.h>
#include <string.h>
#include <new>
#include <string>

namespace engine {

namespace {

// An evaluation's text, known to the engine while its program runs.
struct RunningEvaluation {
    duk_host_evaluation e;
    RunningEvaluation(void* fileName, const char* text, size_t size)
        : e{fileName, text, size, nullptr} {
        duk_host_begin_evaluation(&e);
    }
    ~RunningEvaluation() { duk_host_end_evaluation(&e); }
};

// The source of an evaluation: narrow text (one character per byte), or text already in
// the engine's encoding (wide text converted whole, every character kept).
struct Source {
    const char* fileName;
    const char* text;
    size_t size;
    bool engineText;
};

// The source as the compiler reads it (the engine's encoding).
const char* codeOf(duk_context* ctx, const Source* s, size_t* n) {
    if (s->engineText) {
        *n = s->size;
        return s->text;
    }
    return bytesAsUtf8(ctx, s->text, s->size, n);
}

// A script that an earlier start compiled comes from the cache of compiled scripts.
duk_ret_t compileAndRun(duk_context* ctx, void* udata) {
    const Source* s = static_cast<const Source*>(udata);
    size_t n;
    const char* code = codeOf(ctx, s, &n);
    if (!loadCompiledScript(ctx, s->fileName, code, n)) {
        pushBytes(ctx, s->fileName, strlen(s->fileName));
        duk_compile_lstring_filename(ctx, 0, code, n);
        keepCompiledScript(ctx, s->fileName, code, n);
    }
    duk_get_prop_literal(ctx, -1, "fileName");
    RunningEvaluation running(duk_get_heapptr(ctx, -1), code, n); // the function keeps the name
    duk_pop(ctx);
    duk_call(ctx, 0);
    return 1;
}

// The compilation of compileAndRun, without the cache; true when it compiles.
duk_ret_t compileOnly(duk_context* ctx, void* udata) {
    const Source* s = static_cast<const Source*>(udata);
    size_t n;
    const char* code = codeOf(ctx, s, &n);
    pushBytes(ctx, s->fileName, strlen(s->fileName));
    duk_compile_lstring_filename(ctx, 0, code, n);
    duk_push_true(ctx);
    return 1;
}

// Line `line` (from 1) of the source, without its line end.
bool sourceLine(const char* src, size_t size, unsigned line, const char** start, size_t* len) {
    const char* end = src + size;
    for (unsigned n = 1; n < line; n++) {
        src = static_cast<const char*>(memchr(src, '\n', static_cast<size_t>(end - src)));
        if (!src) return false;
        src++;
    }
    const char* eol = static_cast<const char*>(memchr(src, '\n', static_cast<size_t>(end - src)));
    size_t l = static_cast<size_t>((eol ? eol : end) - src);
    if (l && src[l - 1] == '\r') l--;
    *start = src;
    *len = l;
    return true;
}

// Remembers on an error from this source the text of its line, for the reporter (the line
// of eval code from the eval's own text).
duk_ret_t annotate(duk_context* ctx, void* udata) {
    const Source* s = static_cast<const Source*>(udata);
    if (!duk_is_error(ctx, -1) || duk_has_prop_literal(ctx, -1, ENGINE_KEY_SOURCE_LINE)) return 0;
    if (duk_host_push_error_line(ctx, -1)) {
        duk_put_prop_literal(ctx, -2, ENGINE_KEY_SOURCE_LINE);
        return 0;
    }
    duk_get_prop_literal(ctx, -1, "fileName");
    pushBytes(ctx, s->fileName, strlen(s->fileName));
    bool ours = duk_strict_equals(ctx, -1, -2);
    duk_pop_2(ctx);
    duk_get_prop_literal(ctx, -1, "lineNumber");
    unsigned line = duk_to_uint32(ctx, -1);
    duk_pop(ctx);
    const char* start;
    size_t len;
    if (ours && line && sourceLine(s->text, s->size, line, &start, &len)) {
        if (s->engineText)
            duk_push_lstring(ctx, start, len);
        else
            pushBytes(ctx, start, len);
        duk_put_prop_literal(ctx, -2, ENGINE_KEY_SOURCE_LINE);
    }
    return 0;
}

duk_ret_t toText(duk_context* ctx, void*) {
    duk_to_string(ctx, -1);
    return 1;
}

// uneval(value): the source form, for a value that has no text of its own (an object
// without a prototype, or whose toString throws).
duk_ret_t toSourceForm(duk_context* ctx, void*) {
    duk_get_global_literal(ctx, "uneval");
    duk_dup(ctx, -2);
    duk_call(ctx, 1);
    duk_to_string(ctx, -1);
    return 1;
}

// Object.prototype.toString.call(value): "[object Object]" and the like.
duk_ret_t toClassTag(duk_context* ctx, void*) {
    duk_get_global_literal(ctx, "Object");
    duk_get_prop_literal(ctx, -1, "prototype");
    duk_get_prop_literal(ctx, -1, "toString");
    duk_dup(ctx, -4);
    duk_call_method(ctx, 0);
    return 1;
}

// String(value at top), replacing it; a value whose conversion throws gives its source
// form or else its class, so that the report is never lost.
void textOfTop(duk_context* ctx) {
    static duk_safe_call_function const forms[] = {toText, toSourceForm, toClassTag};
    for (duk_safe_call_function form : forms) {
        duk_dup(ctx, -1);
        bool ok =
            duk_safe_call(ctx, form, nullptr, 1, 1) == DUK_EXEC_SUCCESS && duk_is_string(ctx, -1);
        if (ok) {
            duk_remove(ctx, -2);
            return;
        }
        duk_pop(ctx);
    }
    duk_pop(ctx);
    duk_push_literal(ctx, "[value that cannot be printed]");
}

duk_ret_t getKey(duk_context* ctx, void* key) {
    duk_get_prop_string(ctx, -1, static_cast<const char*>(key));
    return 1;
}

// err[key], pushed; undefined when reading it throws (a getter of the script's).
void pushProperty(duk_context* ctx, duk_idx_t err, const char* key) {
    duk_dup(ctx, err);
    if (duk_safe_call(ctx, getKey, const_cast<char*>(key), 1, 1) != DUK_EXEC_SUCCESS) {
        duk_pop(ctx);
        duk_push_undefined(ctx);
    }
}

// Builds the report of an uncaught error (on top of the stack) and prints it.
duk_ret_t reportUncaught(duk_context* ctx, void*) {
    duk_idx_t err = duk_get_top_index(ctx);
    ErrorReport report;
    if (duk_is_error(ctx, err)) {
        duk_dup(ctx, err);
        textOfTop(ctx);
        pushProperty(ctx, err, "fileName");
        if (duk_is_string(ctx, -1)) report.fileName = readBytes(ctx, -1, nullptr);
        pushProperty(ctx, err, "lineNumber");
        report.line = duk_is_number(ctx, -1) ? duk_to_uint32(ctx, -1) : 0;
        pushProperty(ctx, err, ENGINE_KEY_SOURCE_LINE);
        if (duk_is_string(ctx, -1)) report.sourceLine = readBytes(ctx, -1, nullptr);
    } else {
        duk_push_literal(ctx, "uncaught exception: ");
        duk_dup(ctx, err);
        textOfTop(ctx);
        duk_concat(ctx, 2);
    }
    // The message is the first value pushed after the error.
    const char* message = readBytes(ctx, err + 1, nullptr);
    printErrorReport(stdout, message, report.fileName ? &report : nullptr);
    fflush(stdout);
    return 0;
}

// Runs body (compileAndRun or compileOnly) on the source under the fault guard; its error
// goes to the calling script or to the reporter.
int guarded(HostContext* cx, Source source, duk_ret_t (*body)(duk_context*, void*),
            HostValue* result) {
    duk_context* ctx = cx ? duk(cx) : thread().ctx;
    if (!ctx) ctx = duk(mainContext());
    Source* args = &source;
    ThreadState& ts = thread();
    int pending = ts.pending;
    crashguard::Scope guard(source.text, ctx);
    bool slotThrew = ts.slotThrew;
    if (protect(ctx, 1, body, args)) {
        if (result) *result = box(ctx, -1);
        return 1;
    }
    ts.slotThrew = slotThrew; // an evaluation's error is the native's to pass on or not
    if (result) *result = HOST_UNDEFINED;
    ReserveScope reserve; // an error from a full heap is still noted and reported
    if (!duk_check_stack(ctx, 8)) return 0;
    duk_idx_t err = duk_get_top_index(ctx);
    duk_dup(ctx, err);
    if (duk_safe_call(ctx, annotate, args, 1, 1) != DUK_EXEC_SUCCESS)
        duk_pop(ctx);
    else
        duk_pop(ctx);
    // A script beneath this evaluation on the context receives the error; otherwise the
    // evaluation was the outermost one and the error is reported.
    duk_inspect_callstack_entry(ctx, -1);
    bool nested = duk_is_object(ctx, -1);
    duk_pop(ctx);
    if (nested) {
        setPending(ctx, err);
        return 0;
    }
    ts.pending = pending;
    duk_dup(ctx, err);
    duk_safe_call(ctx, reportUncaught, nullptr, 1, 1);
    duk_pop(ctx);
    return 0;
}

// Narrow source text as a Source.
Source narrow(const char* fileName, const char* source) {
    const char* text = source ? source : "";
    return Source{fileName ? fileName : "", text, strlen(text), false};
}

// Wide source text converted whole to the engine's encoding, then run by body. Without
// memory for the copy the evaluation throws a RangeError as the engine's own would.
int guardedChars(HostContext* cx, const char* fileName, const HostChar* chars, size_t count,
                 duk_ret_t (*body)(duk_context*, void*), HostValue* result) {
    std::string code;
    try {
        code = text::toCesu8(chars, count);
    } catch (const std::bad_alloc&) {
        return guarded(cx, narrow(fileName, "throw new RangeError('out of memory')"), body, result);
    }
    return guarded(cx, Source{fileName ? fileName : "", code.c_str(), code.size(), true}, body,
                   result);
}

} // namespace

int evaluateScript(HostContext* cx, const char* fileName, const char* source, HostValue* result) {
    return guarded(cx, narrow(fileName, source), compileAndRun, result);
}

int compileScript(HostContext* cx, const char* fileName, const char* source) {
    HostValue ignored;
    return guarded(cx, narrow(fileName, source), compileOnly, &ignored);
}

int evaluateChars(HostContext* cx, const char* fileName, const HostChar* source, size_t count,
                  HostValue* result) {
    return guardedChars(cx, fileName, source, count, compileAndRun, result);
}

int compileChars(HostContext* cx, const char* fileName, const HostChar* source, size_t count) {
    HostValue ignored;
    return guardedChars(cx, fileName, source, count, compileOnly, &ignored);
}

// Runs inside the fault trap: the innermost script activation of the context.
bool locateScript(void* context, char* file, size_t fileSize, int* line) {
    duk_context* ctx = static_cast<duk_context*>(context);
    if (!ctx || !duk_check_stack(ctx, 8)) return false;
    for (duk_int_t level = -1;; level--) {
        duk_inspect_callstack_entry(ctx, level);
        if (!duk_is_object(ctx, -1)) {
            duk_pop(ctx);
            return false;
        }
        duk_get_prop_literal(ctx, -1, "function");
        if (duk_is_ecmascript_function(ctx, -1)) {
            duk_get_prop_literal(ctx, -1, "fileName");
            const char* name = duk_is_string(ctx, -1) ? readBytes(ctx, -1, nullptr) : "";
            snprintf(file, fileSize, "%s", name);
            duk_get_prop_literal(ctx, -3, "lineNumber");
            *line = duk_to_int(ctx, -1);
            return true; // the stack is abandoned: the process ends
        }
        duk_pop_2(ctx);
    }
}

} // namespace engine
