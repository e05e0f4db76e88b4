// An error's stack in the script language's form (core/engine/duktape/50-error-stack.patch):
// one line per script frame, innermost first, "name(arguments)@file:line", and "@file:line"
// for program and eval code. The engine's traceback (_Tracedata) names each frame's function
// and position; the arguments, which are gone once the frames unwind, are kept after its
// entries when the error is made: the values of the named parameters, written in a form that runs
// no script (as uneval writes strings, numbers, booleans, null and undefined; other values
// in their readable form, [object Object]). Frames of native functions have no file or line
// and are left out.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

namespace {

duk_hcompfunc* scriptFunction(duk_tval* tv) {
    if (!DUK_TVAL_IS_OBJECT(tv)) return nullptr;
    duk_hobject* f = DUK_TVAL_GET_OBJECT(tv);
    return DUK_HOBJECT_IS_COMPFUNC(f) ? reinterpret_cast<duk_hcompfunc*>(f) : nullptr;
}

// The frames that duk__add_traceback walks, in its order.
template <class F>
void forEachTracedFrame(duk_hthread* thr, duk_hthread* thrCallstack, duk_small_uint_t flags,
                        F&& f) {
    duk_activation* act = thr->callstack_curr;
    duk_int_t depth = DUK_USE_TRACEBACK_DEPTH;
    if (depth > static_cast<duk_int_t>(thrCallstack->callstack_top))
        depth = static_cast<duk_int_t>(thrCallstack->callstack_top);
    if (depth > 0 && (flags & DUK_AUGMENT_FLAG_SKIP_ONE)) {
        act = act->parent;
        depth--;
    }
    for (; depth-- > 0 && act; act = act->parent)
        f(act);
}

// A string is cut after this many characters: the stack and the message stay readable.
constexpr duk_size_t kArgumentChars = 64;

} // namespace

// [... value] -> [... its text in a stack line or a message]: strings quoted (and cut),
// undefined as "(void 0)" in a stack (as uneval writes it) and "undefined" in a message.
void duk_host_value_text(duk_hthread* thr, bool inStack) {
    duk_tval* tv = DUK_GET_TVAL_NEGIDX(thr, -1);
    if (DUK_TVAL_IS_UNDEFINED(tv)) {
        duk_push_string(thr, inStack ? "(void 0)" : "undefined");
    } else if (DUK_TVAL_IS_STRING(tv) && !DUK_HSTRING_HAS_SYMBOL(DUK_TVAL_GET_STRING(tv))) {
        bool cut = duk_get_length(thr, -1) > kArgumentChars;
        duk_dup_top(thr);
        if (cut) duk_substring(thr, -1, 0, kArgumentChars);
        duk_json_encode(thr, -1);
        if (cut) {
            duk_size_t n = duk_get_length(thr, -1);
            duk_substring(thr, -1, 0, n - 1); // before the closing quote
            duk_push_literal(thr, "...\"");
            duk_concat(thr, 2);
        }
    } else if (DUK_TVAL_IS_NUMBER(tv) || DUK_TVAL_IS_BOOLEAN(tv) || DUK_TVAL_IS_NULL(tv)) {
        duk_dup_top(thr);
        duk_to_string(thr, -1);
    } else {
        duk_push_string_tval_readable(thr, tv);
    }
    duk_remove(thr, -2);
}

namespace {

// One frame's line: [... ] -> [... line]. The function is at fnIdx, its arguments are
// argc values of the array at argsIdx from argsAt.
void pushFrame(duk_hthread* thr, duk_idx_t fnIdx, duk_uint_fast32_t pc, duk_idx_t argsIdx,
               duk_uarridx_t argsAt, duk_uarridx_t argc) {
    duk_hcompfunc* f = reinterpret_cast<duk_hcompfunc*>(duk_known_hobject(thr, fnIdx));
    FunctionText t;
    bool program = functionText(thr->heap, f, &t) && isProgramText(t);
    duk_idx_t base = duk_get_top(thr);
    if (!program) {
        duk_get_prop_stridx(thr, fnIdx, DUK_STRIDX_NAME);
        if (!duk_is_string(thr, -1)) {
            duk_pop(thr);
            duk_push_hstring_empty(thr);
        }
        duk_push_literal(thr, "(");
        for (duk_uarridx_t i = 0; i < argc; i++) {
            if (i) duk_push_literal(thr, ",");
            duk_get_prop_index(thr, argsIdx, argsAt + i);
            duk_host_value_text(thr, true);
        }
        duk_push_literal(thr, ")");
    }
    duk_get_prop_stridx(thr, fnIdx, DUK_STRIDX_FILE_NAME);
    const char* file = duk_is_string(thr, -1) ? duk_get_string(thr, -1) : "";
    duk_push_sprintf(thr, "@%s:%lu\n", file,
                     static_cast<unsigned long>(duk_hobject_pc2line_query(thr, fnIdx, pc)));
    duk_remove(thr, -2);
    duk_concat(thr, duk_get_top(thr) - base);
}

// The named parameters of a frame: their registers and count (none for a native).
duk_uarridx_t frameArguments(duk_hthread* thr, duk_activation* act, duk_tval** regs) {
    duk_hcompfunc* f = scriptFunction(&act->tv_func);
    *regs = reinterpret_cast<duk_tval*>(reinterpret_cast<duk_uint8_t*>(thr->valstack) +
                                        act->bottom_byteoff);
    duk_uarridx_t argc = f ? f->nargs : 0;
    return *regs + argc > thr->valstack_top ? 0 : argc;
}

} // namespace

// The room that a new traceback keeps after its entries for the arguments of the frames it
// names: [count, value..., count, value...], one group per frame, in the traceback's order.
// Kept in the traceback itself, the arguments cost no object and no property of their own.
duk_uint32_t duk_host_stack_arguments_size(duk_hthread* thr, duk_hthread* thrCallstack,
                                           duk_small_uint_t flags) {
    duk_uint32_t size = 0;
    forEachTracedFrame(thr, thrCallstack, flags, [&](duk_activation* act) {
        duk_tval* regs;
        size += 1 + frameArguments(thr, act, &regs);
    });
    return size;
}

// Fills that room (room slots from tv) and returns its end. It runs while the error is
// made, so it does what the engine's traceback does: values copied in place, nothing
// allocated. A frame never gets more than the room left (the value stack may have grown
// since the room was measured); what is left over stays undefined.
duk_tval* duk_host_keep_stack_arguments(duk_hthread* thr, duk_hthread* thrCallstack,
                                        duk_small_uint_t flags, duk_tval* tv, duk_uint32_t room) {
    duk_tval* end = tv + room;
    forEachTracedFrame(thr, thrCallstack, flags, [&](duk_activation* act) {
        if (tv == end) return;
        duk_tval* regs;
        duk_uarridx_t argc = frameArguments(thr, act, &regs);
        if (argc > static_cast<duk_uarridx_t>(end - tv - 1))
            argc = static_cast<duk_uarridx_t>(end - tv - 1);
        DUK_TVAL_SET_NUMBER(tv, argc);
        tv++;
        for (duk_uarridx_t i = 0; i < argc; i++, tv++) {
            DUK_TVAL_SET_TVAL(tv, regs + i);
            DUK_TVAL_INCREF(thr, tv);
        }
    });
    return end;
}

namespace {

// The first group of arguments in a traceback (at trace): after its entries, each a pair
// that begins with a function or a file name.
duk_uarridx_t argumentsStart(duk_hthread* thr, duk_idx_t trace) {
    for (duk_uarridx_t i = 0;; i += 2) {
        duk_get_prop_index(thr, trace, i);
        duk_int_t t = duk_get_type(thr, -1);
        duk_pop(thr);
        if (t != DUK_TYPE_STRING && t != DUK_TYPE_OBJECT && t != DUK_TYPE_LIGHTFUNC) return i;
    }
}

} // namespace

// Error.prototype.stack's getter: the frames of this error's traceback, each line ending
// in a line break; "" for an object without one.
duk_ret_t duk_host_error_stack(duk_hthread* thr) {
    duk_push_this(thr);
    duk_xget_owndataprop_stridx_short(thr, -1, DUK_STRIDX_INT_TRACEDATA);
    duk_idx_t trace = duk_get_top_index(thr);
    duk_idx_t args = trace;
    duk_idx_t base = duk_get_top(thr);
    if (duk_is_object(thr, trace)) {
        duk_uarridx_t argsAt = argumentsStart(thr, trace);
        duk_get_prop_index(thr, trace, argsAt);
        bool haveArgs = duk_is_number(thr, -1);
        duk_pop(thr);
        for (duk_uarridx_t i = 0;; i += 2) {
            duk_require_stack(thr, 8);
            duk_get_prop_index(thr, trace, i);
            duk_get_prop_index(thr, trace, i + 1);
            duk_double_t d = duk_to_number_m1(thr);
            duk_pop(thr);
            duk_int_t t = duk_get_type(thr, -1);
            if (t == DUK_TYPE_STRING) { // the compilation's or a C file's place: no frame
                duk_pop(thr);
                continue;
            }
            if (t != DUK_TYPE_OBJECT && t != DUK_TYPE_LIGHTFUNC) {
                duk_pop(thr);
                break;
            }
            duk_uarridx_t argc = 0;
            if (haveArgs) {
                duk_get_prop_index(thr, args, argsAt);
                argc = duk_is_number(thr, -1) ? duk_to_uint32(thr, -1) : 0;
                duk_pop(thr);
            }
            duk_uarridx_t at = argsAt + 1;
            argsAt = at + argc;
            if (!scriptFunction(DUK_GET_TVAL_NEGIDX(thr, -1))) {
                duk_pop(thr);
                continue;
            }
            duk_uint_fast32_t pc = static_cast<duk_uint_fast32_t>(DUK_FMOD(d, DUK_DOUBLE_2TO32));
            pushFrame(thr, duk_get_top_index(thr), pc, args, at, haveArgs ? argc : 0);
            duk_remove(thr, -2);
        }
    }
    duk_concat(thr, duk_get_top(thr) - base);
    return 1;
}

// The reporter's source line for an error raised in eval code (or in a function that the
// Function constructor made), whose lines are not those of the calling script's source
// though they bear its name: the line of the error's first script frame, from the text
// that frame's function keeps, when the error's file and line are that frame's. Pushes it
// and returns true, or pushes nothing and returns false.
duk_bool_t duk_host_push_error_line(duk_context* ctx, duk_idx_t err) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    err = duk_require_normalize_index(ctx, err);
    duk_require_stack(thr, 6);
    duk_idx_t base = duk_get_top(thr);
    duk_xget_owndataprop_stridx_short(thr, err, DUK_STRIDX_INT_TRACEDATA);
    bool found = false;
    for (duk_uarridx_t i = 0; duk_is_object(thr, base) && !found; i += 2) {
        duk_get_prop_index(thr, base, i);
        if (duk_is_string(thr, -1)) { // a C file (blamed only when not a native's) or a compilation
            duk_pop(thr);
            continue;
        }
        duk_hcompfunc* f = scriptFunction(DUK_GET_TVAL_NEGIDX(thr, -1));
        FunctionText t;
        if (!f || !functionText(thr->heap, f, &t) || !t.fromCaller) break;
        duk_get_prop_index(thr, base, i + 1);
        duk_uint_fast32_t pc =
            static_cast<duk_uint_fast32_t>(DUK_FMOD(duk_to_number_m1(thr), DUK_DOUBLE_2TO32));
        duk_int_t line = static_cast<duk_int_t>(duk_hobject_pc2line_query(thr, -2, pc));
        duk_get_prop_stridx(thr, -2, DUK_STRIDX_FILE_NAME);
        duk_get_prop_stridx(thr, err, DUK_STRIDX_FILE_NAME);
        duk_get_prop_stridx(thr, err, DUK_STRIDX_LINE_NUMBER);
        const char* p;
        size_t len;
        if (duk_strict_equals(thr, -2, -3) && duk_get_int(thr, -1) == line &&
            lineOf(reinterpret_cast<const char*>(DUK_HSTRING_GET_DATA(t.text)),
                   DUK_HSTRING_GET_BYTELEN(t.text), line - t.firstLine + 1, &p, &len)) {
            duk_push_lstring(thr, p, len);
            duk_replace(thr, base);
            found = true;
        }
        break;
    }
    duk_set_top(thr, found ? base + 1 : base);
    return found;
}
