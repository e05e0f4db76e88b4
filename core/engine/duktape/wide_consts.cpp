// Constants and inner functions beyond the instructions' BC field
// (core/engine/duktape/70-wide-consts.patch): the engine numbers a function's constants and
// inner functions up to 65535 in its instructions, and a generated script (a literal table
// of a million entries, a function of a hundred thousand strings) has more. One past that
// limit is taken by a pair of instructions: WIDE (an opcode the engine leaves unused) whose
// ABC field holds the index, then the instruction that takes it (LDCONST, GETVAR, PUTVAR,
// DELVAR, TYPEOFID with a constant, CLOSURE with a function) with 0 in its BC field; the
// executor runs the pair as that instruction would run with that index. The pair is
// emitted together, so that no jump lands between its two words.
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

namespace {

constexpr duk_small_uint_t kOpWide = DUK_OP_UNUSED207;
// The emitter's flags (kNoShuffleA and _A_IS_SOURCE, undefined after the
// compiler's section).
constexpr duk_small_uint_t kNoShuffleA = 1 << 8, kAIsSource = 1 << 11;

bool takesIndex(duk_small_uint_t op) {
    return op == DUK_OP_LDCONST || op == DUK_OP_GETVAR || op == DUK_OP_PUTVAR ||
           op == DUK_OP_DELVAR || op == DUK_OP_TYPEOFID || op == DUK_OP_CLOSURE;
}

} // namespace

// Emits `op a, index` (flags as the engine's emitter takes them) for an index past the BC
// field: WIDE and the instruction, with a's shuffling around the pair. False when the
// instruction takes no such index or a does not fit, for the engine's own error.
duk_bool_t duk_host_emit_wide(duk_compiler_ctx* comp_ctx, duk_small_uint_t op_flags,
                              duk_regconst_t a, duk_regconst_t index) {
    duk_small_uint_t op = op_flags & 0xffU;
    if (!takesIndex(op) || index > DUK_BC_ABC_MAX || a > DUK_BC_BC_MAX) return 0;
    duk_regconst_t reg = a;
    if (a > DUK_BC_A_MAX) {
        if (op_flags & kNoShuffleA) return 0;
        comp_ctx->curr_func.needs_shuffle = 1;
        reg = comp_ctx->curr_func.shuffle1;
        if (op_flags & kAIsSource) duk__emit(comp_ctx, DUK_ENC_OP_A_BC(DUK_OP_LDREG, reg, a));
    }
    duk__emit(comp_ctx, DUK_ENC_OP_ABC(kOpWide, index));
    duk__emit(comp_ctx, DUK_ENC_OP_A_BC(op, reg, 0));
    if (reg != a && !(op_flags & kAIsSource))
        duk__emit(comp_ctx, DUK_ENC_OP_A_BC(DUK_OP_STREG, reg, a));
    return 1;
}

// A try statement's catch name past the BC field: the NOP the compiler left before the
// LDCONST that loads it becomes its WIDE. False when no such NOP stands there.
duk_bool_t duk_host_patch_wide(duk_compiler_ctx* comp_ctx, duk_int_t nop_pc,
                               duk_regconst_t constant) {
    if (nop_pc < 0 || constant > DUK_BC_ABC_MAX) return 0;
    duk_compiler_instr* nop = duk__get_instr_ptr(comp_ctx, nop_pc);
    if (DUK_DEC_OP(nop->ins) != DUK_OP_NOP) return 0;
    nop->ins = DUK_ENC_OP_ABC(kOpWide, constant);
    return 1;
}

// Runs the instruction `ins` that follows `wide`, with the index that WIDE holds (into the
// function's constants at `consts`, or its inner functions).
void duk_host_exec_wide(duk_hthread* thr, duk_tval* consts, duk_instr_t wide, duk_instr_t ins) {
    duk_uint_fast32_t index = DUK_DEC_ABC(wide);
    duk_tval* tv = consts + index;
    duk_idx_t a = static_cast<duk_idx_t>(DUK_DEC_A(ins));
    duk_activation* act = thr->callstack_curr;
    switch (DUK_DEC_OP(ins)) {
    case DUK_OP_LDCONST:
        duk_push_tval(thr, tv);
        break;
    case DUK_OP_GETVAR:
        (void)duk_js_getvar_activation(thr, act, DUK_TVAL_GET_STRING(tv), 1); // [... val this]
        duk_pop(thr);
        break;
    case DUK_OP_PUTVAR:
        duk_js_putvar_activation(thr, act, DUK_TVAL_GET_STRING(tv), thr->valstack_bottom + a,
                                 DUK_HOBJECT_HAS_STRICT(DUK_ACT_GET_FUNC(act)));
        return;
    case DUK_OP_DELVAR:
        duk_push_boolean(thr, duk_js_delvar_activation(thr, act, DUK_TVAL_GET_STRING(tv)));
        break;
    case DUK_OP_TYPEOFID:
        if (duk_js_getvar_activation(thr, act, DUK_TVAL_GET_STRING(tv), 0)) {
            duk_hstring* type = duk_host_typeof(thr, DUK_GET_TVAL_NEGIDX(thr, -2));
            duk_pop_2(thr);
            duk_push_hstring(thr, type);
        } else {
            duk_push_hstring_stridx(thr, DUK_STRIDX_LC_UNDEFINED);
        }
        break;
    case DUK_OP_CLOSURE: {
        duk_hcompfunc* fun = reinterpret_cast<duk_hcompfunc*>(DUK_ACT_GET_FUNC(act));
        duk_hobject* inner = DUK_HCOMPFUNC_GET_FUNCS_BASE(thr->heap, fun)[index];
        if (!act->lex_env) {
            duk_js_init_activation_environment_records_delayed(thr, act);
            act = thr->callstack_curr;
        }
        duk_js_push_closure(thr, reinterpret_cast<duk_hcompfunc*>(inner), act->var_env,
                            act->lex_env, 1);
        break;
    }
    default:
        DUK_ERROR_INTERNAL(thr);
    }
    duk_replace(thr, a);
}
