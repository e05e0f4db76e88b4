// The engine's runtime errors in the script language's words (core/engine/duktape/
// 50-error-texts.patch): "x is not defined", "o.f is not a function", "u is undefined",
// "x is not a constructor", InternalError "too much recursion", ... An error about an
// expression names it as written when the line it happened on tells which expression that
// was (error_subject.h), or a variable the call read by name; otherwise it names the
// value ("undefined has no properties"), never a wrong expression.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/error_subject.h"
#include "core/engine/internal.h"

#include <string.h>

#include <string>
#include <string_view>

namespace {

// InternalError.prototype, which the language library makes (duk_host_set_internal_error).
duk_hobject* gInternalErrorPrototype = nullptr;

thread_local duk_host_evaluation* tEvaluations = nullptr;

// The text of the innermost running evaluation of the script named fileName.
bool evaluatedSource(void* fileName, const char** text, size_t* size) {
    for (duk_host_evaluation* e = tEvaluations; e; e = e->outer) {
        if (e->fileName && e->fileName == fileName) {
            *text = e->text;
            *size = e->size;
            return true;
        }
    }
    return false;
}

// The engine's fixed messages that the language words otherwise, with the class it gives
// them (DUK_ERR_HOST_INTERNAL_ERROR for InternalError).
struct FixedText {
    const char* engine;
    duk_errcode_t code; // the engine's class, matched with the text
    duk_errcode_t languageCode;
    const char* language;
};
const FixedText kFixedTexts[] = {
    {DUK_STR_CALLSTACK_LIMIT, DUK_ERR_RANGE_ERROR, DUK_ERR_HOST_INTERNAL_ERROR,
     "too much recursion"},
    {DUK_STR_NATIVE_STACK_LIMIT, DUK_ERR_RANGE_ERROR, DUK_ERR_HOST_INTERNAL_ERROR,
     "too much recursion"},
    {DUK_STR_COMPILER_RECURSION_LIMIT, DUK_ERR_RANGE_ERROR, DUK_ERR_HOST_INTERNAL_ERROR,
     "too much recursion"},
    {DUK_STR_ALLOC_FAILED, DUK_ERR_ERROR, DUK_ERR_HOST_INTERNAL_ERROR, "out of memory"},
    {"out of memory", DUK_ERR_ERROR, DUK_ERR_HOST_INTERNAL_ERROR, "out of memory"},
    {DUK_STR_INVALID_LVALUE, DUK_ERR_REFERENCE_ERROR, DUK_ERR_SYNTAX_ERROR,
     "invalid assignment left-hand side"},
};

// The line of the script that runs in the innermost activation, clipped to the text of
// its function; false when that activation is no script function or its text is not kept.
bool currentLine(duk_hthread* thr, const char** line, size_t* length) {
    duk_activation* act = thr->callstack_curr;
    duk_hobject* fn = act ? DUK_ACT_GET_FUNC(act) : nullptr;
    if (!fn || !DUK_HOBJECT_IS_COMPFUNC(fn)) return false;
    FunctionText t;
    if (!functionText(thr->heap, reinterpret_cast<duk_hcompfunc*>(fn), &t)) return false;
    duk_hthread_sync_currpc(thr);
    duk_require_stack(thr, 2);
    duk_push_hobject(thr, fn);
    duk_int_t lineNumber = static_cast<duk_int_t>(
        duk_hobject_pc2line_query(thr, -1, duk_hthread_get_act_prev_pc(thr, act)));
    const char* text = reinterpret_cast<const char*>(DUK_HSTRING_GET_DATA(t.text));
    size_t size = DUK_HSTRING_GET_BYTELEN(t.text);
    size_t start = t.start, end = t.start + t.length;
    if (isProgramText(t) && size == 0) { // a program: the evaluation running it has the text
        duk_get_prop_stridx(thr, -1, DUK_STRIDX_FILE_NAME);
        bool found = evaluatedSource(duk_get_heapptr(thr, -1), &text, &size);
        duk_pop(thr);
        if (!found) {
            duk_pop(thr);
            return false;
        }
        start = 0;
        end = size;
    }
    duk_pop(thr);
    const char* p;
    size_t l;
    if (!lineOf(text, size, lineNumber - t.firstLine + 1, &p, &l)) return false;
    const char* from = text + start > p ? text + start : p;
    const char* to = text + end < p + l ? text + end : p + l;
    if (to <= from) return false;
    *line = from;
    *length = static_cast<size_t>(to - from);
    return true;
}

// The text of the subject on the current line, or "" when the line names none.
std::string subjectOf(duk_hthread* thr, engine::Subject kind, const duk_tval* key) {
    const char* line;
    size_t length;
    if (!currentLine(thr, &line, &length)) return std::string();
    if (key && DUK_TVAL_IS_STRING(key)) {
        duk_hstring* h = DUK_TVAL_GET_STRING(key);
        if (DUK_HSTRING_HAS_SYMBOL(h))
            return engine::subjectText(line, length, kind, nullptr, 0, false);
        return engine::subjectText(line, length, kind,
                                   reinterpret_cast<const char*>(DUK_HSTRING_GET_DATA(h)),
                                   DUK_HSTRING_GET_BYTELEN(h), true);
    }
    if (!key || !DUK_TVAL_IS_NUMBER(key))
        return engine::subjectText(line, length, kind, nullptr, 0, false);
    duk_require_stack(thr, 1);
    duk_push_tval(thr, const_cast<duk_tval*>(key)); // a copy: the stack may move
    duk_size_t kl;
    const char* k = duk_to_lstring(thr, -1, &kl);
    std::string text = engine::subjectText(line, length, kind, k, kl, true);
    duk_pop(thr);
    return text;
}

// Pushes subject + rest, and returns it.
const char* pushMessage(duk_hthread* thr, std::string_view subject, std::string_view rest) {
    char small[256];
    std::string large;
    size_t size = subject.size() + rest.size();
    char* p = small;
    if (size > sizeof small) {
        large.resize(size);
        p = large.data();
    }
    memcpy(p, subject.data(), subject.size());
    memcpy(p + subject.size(), rest.data(), rest.size());
    return duk_push_lstring(thr, p, size);
}

// The variable that register `reg` of the function holds, by the function's _Varmap.
duk_hstring* registerName(duk_hthread* thr, duk_hobject* fn, duk_uint_fast_t reg) {
    duk_tval* tv = duk_hobject_find_entry_tval_ptr_stridx(thr->heap, fn, DUK_STRIDX_INT_VARMAP);
    if (!tv || !DUK_TVAL_IS_OBJECT(tv)) return nullptr;
    duk_hobject* map = DUK_TVAL_GET_OBJECT(tv);
    for (duk_uint_fast32_t i = 0; i < DUK_HOBJECT_GET_ENEXT(map); i++) {
        duk_hstring* key = DUK_HOBJECT_E_GET_KEY(thr->heap, map, i);
        if (!key || DUK_HOBJECT_E_SLOT_IS_ACCESSOR(thr->heap, map, i)) continue;
        duk_tval* v = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(thr->heap, map, i);
        if (DUK_TVAL_IS_NUMBER(v) && DUK_TVAL_GET_NUMBER(v) == static_cast<duk_double_t>(reg))
            return key;
    }
    return nullptr;
}

// The instruction that the current activation runs, when it is a script function's.
bool currentInstruction(duk_hthread* thr, duk_hcompfunc** f, duk_uint_fast32_t* pc) {
    duk_activation* act = thr->callstack_curr;
    duk_hobject* fn = act ? DUK_ACT_GET_FUNC(act) : nullptr;
    if (!fn || !DUK_HOBJECT_IS_COMPFUNC(fn)) return false;
    *f = reinterpret_cast<duk_hcompfunc*>(fn);
    if (!DUK_HCOMPFUNC_GET_DATA(thr->heap, *f)) return false;
    duk_hthread_sync_currpc(thr);
    *pc = duk_hthread_get_act_prev_pc(thr, act);
    duk_instr_t* code = DUK_HCOMPFUNC_GET_CODE_BASE(thr->heap, *f);
    return *pc < static_cast<duk_uint_fast32_t>(DUK_HCOMPFUNC_GET_CODE_END(thr->heap, *f) - code);
}

bool isCall(duk_small_uint_t op) {
    return op >= DUK_OP_CALL0 && op <= DUK_OP_CALL15;
}

// How the failing call of the current activation got its function: by a variable's name
// (*name set), from a register-bound variable whose name is not kept, as a property with
// a constant key (*name set: an E4X method, say, which raises no error when it is read),
// as a computed value, in a way not found, or not at all (the current instruction is no
// call: the engine calls values of its own accord, too, and then the line names nothing).
enum class CallSetup { kNotACall, kNamed, kVariable, kProperty, kValue, kUnknown };

CallSetup callSetup(duk_hthread* thr, duk_hstring** name) {
    duk_hcompfunc* f;
    duk_uint_fast32_t pc;
    if (!currentInstruction(thr, &f, &pc)) return CallSetup::kNotACall;
    duk_instr_t* code = DUK_HCOMPFUNC_GET_CODE_BASE(thr->heap, f);
    duk_small_uint_t op = DUK_DEC_OP(code[pc]);
    if (!isCall(op)) return CallSetup::kNotACall;
    duk_uint_fast_t base = DUK_DEC_BC(code[pc]);
    duk_tval* consts = DUK_HCOMPFUNC_GET_CONSTS_BASE(thr->heap, f);
    // The instruction that set the call up comes before its arguments' code, which writes
    // no register below base + 2.
    for (duk_uint_fast32_t i = pc, seen = 0; i-- > 0 && seen < 4096; seen++) {
        duk_instr_t ins = code[i];
        op = DUK_DEC_OP(ins);
        if (op >= DUK_OP_CSVAR_RR && op <= DUK_OP_CSVAR_CC && DUK_DEC_A(ins) == base) {
            duk_tval* constant = consts + DUK_DEC_B(ins);
            if (!(ins & DUK_BC_REGCONST_B) || !DUK_TVAL_IS_STRING(constant))
                return CallSetup::kVariable;
            *name = DUK_TVAL_GET_STRING(constant);
            return CallSetup::kNamed;
        }
        if (op == DUK_OP_CSREG && DUK_DEC_BC(ins) == base) {
            *name = registerName(thr, reinterpret_cast<duk_hobject*>(f), DUK_DEC_A(ins));
            return *name ? CallSetup::kNamed : CallSetup::kVariable;
        }
        if (op >= DUK_OP_GETPROPC_RR && op <= DUK_OP_GETPROPC_CC && DUK_DEC_A(ins) == base) {
            duk_tval* constant = consts + DUK_DEC_C(ins);
            if (!(ins & DUK_BC_REGCONST_C) || !DUK_TVAL_IS_STRING(constant))
                return CallSetup::kUnknown;
            *name = DUK_TVAL_GET_STRING(constant);
            return CallSetup::kProperty;
        }
        if (op == DUK_OP_LDUNDEF && DUK_DEC_BC(ins) == base + 1) return CallSetup::kValue;
        if (isCall(op) && DUK_DEC_BC(ins) == base) break; // an earlier call: not found
    }
    return CallSetup::kUnknown;
}

} // namespace

void duk_host_begin_evaluation(duk_host_evaluation* e) {
    e->outer = tEvaluations;
    tEvaluations = e;
}

void duk_host_end_evaluation(duk_host_evaluation* e) {
    tEvaluations = e->outer;
}

void duk_host_set_internal_error(duk_context* ctx, duk_idx_t protoIdx) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    protoIdx = duk_require_normalize_index(ctx, protoIdx);
    duk_push_global_stash(ctx); // keeps it for the heap's life
    duk_dup(ctx, protoIdx);
    duk_put_prop_literal(ctx, -2, DUK_HIDDEN_SYMBOL("InternalError"));
    duk_pop(ctx);
    gInternalErrorPrototype = duk_require_hobject(thr, protoIdx);
}

duk_hobject* duk_host_internal_error_prototype(void) {
    return gInternalErrorPrototype;
}

// Every error that the engine raises itself passes here with its class and message.
void duk_host_error_text(duk_errcode_t* code, const char** msg) {
    if (!*msg) return;
    for (const FixedText& f : kFixedTexts) {
        if (*code == f.code && (*msg == f.engine || strcmp(*msg, f.engine) == 0)) {
            *code = f.languageCode;
            *msg = f.language;
            return;
        }
    }
}

// Reading, writing or deleting a property of undefined or null (tvObj) with tvKey:
// "u is undefined", "o.a is null", or for the literal or an unknown expression
// "undefined has no properties". The message is pushed and returned.
const char* duk_host_push_base_message(duk_hthread* thr, duk_tval* tvObj, duk_tval* tvKey) {
    std::string_view value = DUK_TVAL_IS_NULL(tvObj) ? " is null" : " is undefined";
    duk_tval key;
    DUK_TVAL_SET_TVAL(&key, tvKey);
    duk_require_stack(thr, 4);
    std::string text = subjectOf(thr, engine::Subject::kBase, &key);
    if (!text.empty() && text != "undefined" && text != "null")
        return pushMessage(thr, text, value);
    return pushMessage(thr, value.substr(4), " has no properties");
}

// Calling (or with construct, constructing) tvFunc, which cannot be: "o.f is not a
// function", "f is not a function", "C is not a constructor" (new C); tvKey is the property
// key of a property call (found when its function is read), or null. The message is
// pushed and returned.
const char* duk_host_push_call_message(duk_hthread* thr, duk_tval* tvFunc, duk_tval* tvKey,
                                       duk_bool_t construct) {
    duk_tval func, key;
    DUK_TVAL_SET_TVAL(&func, tvFunc); // the stack may move
    if (tvKey) DUK_TVAL_SET_TVAL(&key, tvKey);
    duk_require_stack(thr, 4);
    duk_hstring* name = nullptr;
    CallSetup setup = tvKey ? CallSetup::kUnknown : callSetup(thr, &name);
    std::string text;
    if (setup == CallSetup::kProperty) {
        DUK_TVAL_SET_STRING(&key, name);
        tvKey = &key;
    }
    if (tvKey) {
        text = subjectOf(thr, engine::Subject::kPropertyCallee, &key);
    } else if (setup == CallSetup::kNotACall) {
        // nothing on the line to name
    } else if (construct) {
        text = subjectOf(thr, engine::Subject::kConstructor, nullptr);
    } else if (setup == CallSetup::kNamed) {
        text.assign(reinterpret_cast<const char*>(DUK_HSTRING_GET_DATA(name)),
                    DUK_HSTRING_GET_BYTELEN(name));
    } else {
        text = subjectOf(thr,
                         setup == CallSetup::kVariable ? engine::Subject::kVariableCallee
                         : setup == CallSetup::kValue  ? engine::Subject::kValueCallee
                                                       : engine::Subject::kCallee,
                         nullptr);
    }
    std::string_view rest = construct ? " is not a constructor" : " is not a function";
    if (!text.empty()) return pushMessage(thr, text, rest);
    duk_push_tval(thr, &func);
    duk_host_value_text(thr, false);
    duk_size_t n;
    const char* value = duk_get_lstring(thr, -1, &n);
    pushMessage(thr, std::string_view(value, n), rest);
    duk_remove(thr, -2);
    return duk_get_string(thr, -1);
}

// A message about a value (format has one %s), which it names as a stack line would; a
// missing value (tv null) is undefined.
const char* duk_host_push_value_message(duk_hthread* thr, duk_tval* tv, const char* format) {
    duk_tval value;
    if (tv)
        DUK_TVAL_SET_TVAL(&value, tv);
    else
        DUK_TVAL_SET_UNDEFINED(&value);
    duk_require_stack(thr, 4);
    duk_push_tval(thr, &value);
    duk_host_value_text(thr, false);
    duk_push_sprintf(thr, format, duk_get_string(thr, -1));
    duk_remove(thr, -2);
    return duk_get_string(thr, -1);
}

// A message about a property key (format has one %s): a string key as it is, another in
// its readable form.
const char* duk_host_push_key_message(duk_hthread* thr, duk_tval* tvKey, const char* format) {
    duk_tval key;
    DUK_TVAL_SET_TVAL(&key, tvKey);
    duk_require_stack(thr, 4);
    if (DUK_TVAL_IS_STRING(&key) && !DUK_HSTRING_HAS_SYMBOL(DUK_TVAL_GET_STRING(&key)))
        duk_push_tval(thr, &key);
    else
        duk_push_string_tval_readable(thr, &key);
    duk_push_sprintf(thr, format, duk_get_string(thr, -1));
    duk_remove(thr, -2);
    return duk_get_string(thr, -1);
}
