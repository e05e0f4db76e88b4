// Regular expressions in the engine: its compiler's limits (70-regexp-limits.patch) and
// the executor (70-regexp-executor.patch), which runs the engine's bytecode with its
// backtracking on a stack of its own in the C heap, not on the C stack, so that a long
// input that backtracks deeply ends in a result rather than a recursion limit. Only the
// atomic parts recurse (a lookahead, the atom of a simple quantifier), as deep as the
// pattern nests them, under the engine's stack check.
// The stack holds choice points (where to go on when what follows fails) and undo
// records (a capture's or a loop mark's old value), popped in turn on a failure.
// A loop's iteration that matches nothing ends the loop (the iteration fails), as the
// language's RepeatMatcher has it: each loop keeps where its current iteration began.
// A pattern past the compiler's limits, a stack past its budget or a run past the
// engine's step limit ends in InternalError "regular expression too complex".
// Part of the engine's compilation unit (included by core/engine/duktape/unit.cpp).
#include "core/engine/internal.h"

#include <new>
#include <stdlib.h>

#include <unordered_map>
#include <vector>

namespace {

// What the stack may take: about eight million entries, a million loop iterations over
// an input of as many characters.
constexpr size_t kStackBytes = 128u * 1024u * 1024u;
constexpr size_t kKeptBytes = 256u * 1024u; // what a thread keeps between matches
constexpr duk_uint32_t kNone = 0xFFFFFFFFu; // no position (a capture not set)
// What a compiled pattern may take (a pattern of a hundred thousand groups takes one).
constexpr duk_size_t kProgramBytes = 8u * 1024u * 1024u;

enum EntryKind : duk_uint32_t {
    kResume,    // a choice: go on at pc with sp
    kGreedy,    // a greedy simple quantifier at pc (its operands) with n atoms at sp
    kMinimal,   // a lazy one: n atoms at sp, one more to take
    kLoopExit,  // a greedy loop (mark n): leave it, on at pc with sp
    kLoopAgain, // a lazy loop (mark n): go round again, from pc with sp
    kSave,      // undo: capture slot n was sp
    kMark,      // undo: loop mark n was sp
};

// Positions as offsets into the bytecode and the input: an entry is 16 bytes.
struct Entry {
    duk_uint32_t kind, n, pc, sp;
};

// Where the current iteration of each loop of the pattern began (kNone outside the loop),
// valid for the attempt that wrote it.
struct Mark {
    duk_uint32_t attempt, sp;
};

struct Backtrack {
    Entry* entries = nullptr;
    size_t size = 0, capacity = 0;
    std::vector<Mark> marks;
    std::unordered_map<duk_uint32_t, duk_uint32_t> loops; // a loop's pc -> its mark
    const duk_uint8_t* bytecode = nullptr;                // whose loops these are
    duk_uint32_t lastLoop = kNone, lastMark = 0;          // the last loop looked up
    duk_uint32_t attempt = 0;
    ~Backtrack() { free(entries); }
};
// One per thread, kept between matches (the engine runs no script while one matches) and
// freed by duk_host_regexp_release.
thread_local Backtrack* tBacktrack = nullptr;

[[noreturn]] void tooComplex(duk_hthread* thr) {
    duk_host_throw_internal_error(thr, "regular expression too complex");
}

class Matcher {
  public:
    Matcher(duk_re_matcher_ctx* re, Backtrack& b) : re_(re), b_(b) {}
    const duk_uint8_t* run(const duk_uint8_t* pc, const duk_uint8_t* sp);

  private:
    duk_uint32_t pcAt(const duk_uint8_t* pc) const {
        return static_cast<duk_uint32_t>(pc - re_->bytecode);
    }
    duk_uint32_t spAt(const duk_uint8_t* sp) const {
        return sp ? static_cast<duk_uint32_t>(sp - re_->input) : kNone;
    }
    const duk_uint8_t* pcOf(duk_uint32_t at) const { return re_->bytecode + at; }
    const duk_uint8_t* spOf(duk_uint32_t at) const {
        return at == kNone ? nullptr : re_->input + at;
    }
    duk_uint32_t u32(const duk_uint8_t** pc) { return duk__bc_get_u32(re_, pc); }
    duk_int32_t i32(const duk_uint8_t** pc) { return duk__bc_get_i32(re_, pc); }

    void push(duk_uint32_t kind, duk_uint32_t n, duk_uint32_t pc, duk_uint32_t sp) {
        if (b_.size == b_.capacity) grow();
        b_.entries[b_.size++] = Entry{kind, n, pc, sp};
    }
    void grow();
    void save(duk_uint32_t idx, const duk_uint8_t* sp) {
        push(kSave, idx, 0, spAt(re_->saved[idx]));
        re_->saved[idx] = sp;
    }
    duk_uint32_t loopMark(const duk_uint8_t* split);
    duk_uint32_t markOf(duk_uint32_t mark) const {
        const Mark& m = b_.marks[mark];
        return m.attempt == b_.attempt ? m.sp : kNone;
    }
    void setMark(duk_uint32_t mark, duk_uint32_t sp) {
        push(kMark, mark, 0, markOf(mark));
        b_.marks[mark] = Mark{b_.attempt, sp};
    }
    bool step(int op, const duk_uint8_t** pc, const duk_uint8_t** sp);
    bool resume(size_t base, const duk_uint8_t** pc, const duk_uint8_t** sp);
    void keepUndo(size_t base);
    void undo(size_t base);
    const duk_uint8_t* atom(const duk_uint8_t* pc, const duk_uint8_t* sp);

    duk_re_matcher_ctx* re_;
    Backtrack& b_;
};

void Matcher::grow() {
    size_t capacity = b_.capacity ? b_.capacity * 2 : 1024;
    if (capacity * sizeof(Entry) > kStackBytes) tooComplex(re_->thr);
    Entry* e = static_cast<Entry*>(realloc(b_.entries, capacity * sizeof(Entry)));
    if (!e) tooComplex(re_->thr);
    b_.entries = e;
    b_.capacity = capacity;
}

// The mark of the loop that closes with the split at `split` (mostly the last one asked).
duk_uint32_t Matcher::loopMark(const duk_uint8_t* split) {
    duk_uint32_t at = pcAt(split);
    if (at == b_.lastLoop) return b_.lastMark;
    auto it = b_.loops.find(at);
    if (it == b_.loops.end()) {
        it = b_.loops.emplace(at, static_cast<duk_uint32_t>(b_.marks.size())).first;
        b_.marks.push_back(Mark{0, kNone});
    }
    b_.lastLoop = at;
    b_.lastMark = it->second;
    return it->second;
}

// The entries above base that a part matched atomically leaves: its choices go, its undo
// records stay for a later failure before it.
void Matcher::keepUndo(size_t base) {
    size_t to = base;
    for (size_t i = base; i < b_.size; i++)
        if (b_.entries[i].kind == kSave || b_.entries[i].kind == kMark)
            b_.entries[to++] = b_.entries[i];
    b_.size = to;
}

// Drops the entries above base, undoing what they record.
void Matcher::undo(size_t base) {
    while (b_.size > base) {
        const Entry& e = b_.entries[--b_.size];
        if (e.kind == kSave) {
            re_->saved[e.n] = spOf(e.sp);
        } else if (e.kind == kMark) {
            b_.marks[e.n] = Mark{b_.attempt, e.sp};
        }
    }
}

// The atom of a simple quantifier at pc, matched once from sp: where it ends, or null.
const duk_uint8_t* Matcher::atom(const duk_uint8_t* pc, const duk_uint8_t* sp) {
    size_t base = b_.size;
    const duk_uint8_t* end = run(pc, sp);
    if (end) keepUndo(base);
    return end;
}

// After a failure: pops entries down to base until a choice goes on (at *pc with *sp);
// false when none is left above base.
bool Matcher::resume(size_t base, const duk_uint8_t** pc, const duk_uint8_t** sp) {
    while (b_.size > base) {
        Entry e = b_.entries[--b_.size];
        const duk_uint8_t* at = spOf(e.sp);
        switch (e.kind) {
        case kSave:
            re_->saved[e.n] = at;
            break;
        case kMark:
            b_.marks[e.n] = Mark{b_.attempt, e.sp};
            break;
        case kResume:
            *pc = pcOf(e.pc);
            *sp = at;
            return true;
        case kLoopExit:
            setMark(e.n, kNone);
            *pc = pcOf(e.pc);
            *sp = at;
            return true;
        case kLoopAgain:
            setMark(e.n, e.sp);
            *pc = pcOf(e.pc);
            *sp = at;
            return true;
        case kGreedy:
        case kMinimal: {
            const duk_uint8_t* q = pcOf(e.pc);
            duk_uint32_t qmin = u32(&q), qmax = u32(&q);
            duk_uint32_t atomLength = e.kind == kGreedy ? u32(&q) : 0;
            duk_int32_t skip = i32(&q);
            duk_uint32_t n = e.n;
            if (e.kind == kGreedy) { // give one atom back
                duk__inp_backtrack(re_, &at, atomLength);
                n--;
            } else { // take one more
                if (n >= qmax) break;
                at = atom(q, at);
                if (!at) break;
                n++;
            }
            if (e.kind == kGreedy ? n > qmin : n < qmax) push(e.kind, n, e.pc, spAt(at));
            *pc = q + skip;
            *sp = at;
            return true;
        }
        }
    }
    return false;
}

// Runs the program from pc at sp to its MATCH: where the match ends, or null. The entries
// it pushes stay above the stack's size at its start when it matches.
const duk_uint8_t* Matcher::run(const duk_uint8_t* pc, const duk_uint8_t* sp) {
    duk_hthread* thr = re_->thr;
    duk_native_stack_check(thr);
    if (re_->recursion_depth >= re_->recursion_limit) tooComplex(thr);
    re_->recursion_depth++;
    size_t base = b_.size;
    for (;;) {
        if (re_->steps_count >= re_->steps_limit) tooComplex(thr);
        re_->steps_count++;
        int op = *pc++;
        if (op == DUK_REOP_MATCH) break;
        if (!step(op, &pc, &sp) && !resume(base, &pc, &sp)) {
            sp = nullptr;
            break;
        }
    }
    re_->recursion_depth--;
    return sp;
}

// One instruction (op, its operands at *pc): false when it fails.
bool Matcher::step(int op, const duk_uint8_t** pcp, const duk_uint8_t** spp) {
    const duk_uint8_t*& pc = *pcp;
    const duk_uint8_t*& sp = *spp;
    switch (op) {
    case DUK_REOP_CHAR: {
        duk_codepoint_t c = static_cast<duk_codepoint_t>(u32(&pc));
        return duk__inp_get_cp(re_, &sp) == c;
    }
    case DUK_REOP_PERIOD: {
        duk_codepoint_t c = duk__inp_get_cp(re_, &sp);
        return c >= 0 && !duk_unicode_is_line_terminator(c);
    }
    case DUK_REOP_RANGES:
    case DUK_REOP_INVRANGES: {
        duk_uint32_t n = u32(&pc);
        duk_codepoint_t c = duk__inp_get_cp(re_, &sp);
        bool in = false;
        for (; n; n--) { // every range is read, to move past them
            duk_codepoint_t lo = static_cast<duk_codepoint_t>(u32(&pc));
            duk_codepoint_t hi = static_cast<duk_codepoint_t>(u32(&pc));
            in = in || (c >= lo && c <= hi);
        }
        return c >= 0 && in == (op == DUK_REOP_RANGES);
    }
    case DUK_REOP_ASSERT_START:
        return sp <= re_->input || ((re_->re_flags & DUK_RE_FLAG_MULTILINE) &&
                                    duk_unicode_is_line_terminator(duk__inp_get_prev_cp(re_, sp)));
    case DUK_REOP_ASSERT_END: {
        const duk_uint8_t* at = sp;
        duk_codepoint_t c = duk__inp_get_cp(re_, &at);
        return c < 0 ||
               ((re_->re_flags & DUK_RE_FLAG_MULTILINE) && duk_unicode_is_line_terminator(c));
    }
    case DUK_REOP_ASSERT_WORD_BOUNDARY:
    case DUK_REOP_ASSERT_NOT_WORD_BOUNDARY: {
        bool before = sp > re_->input && duk_unicode_re_is_wordchar(duk__inp_get_prev_cp(re_, sp));
        const duk_uint8_t* at = sp;
        bool after = sp < re_->input_end && duk_unicode_re_is_wordchar(duk__inp_get_cp(re_, &at));
        return (before != after) == (op == DUK_REOP_ASSERT_WORD_BOUNDARY);
    }
    case DUK_REOP_JUMP: {
        duk_int32_t skip = i32(&pc);
        pc += skip;
        return true;
    }
    case DUK_REOP_SPLIT1:   // prefers what follows; a jump back closes a lazy loop
    case DUK_REOP_SPLIT2: { // prefers the jump; a jump back closes a greedy loop
        const duk_uint8_t* split = pc - 1;
        duk_int32_t skip = i32(&pc);
        const duk_uint8_t* target = pc + skip;
        if (skip >= 0) {
            push(kResume, 0, pcAt(op == DUK_REOP_SPLIT1 ? target : pc), spAt(sp));
            if (op == DUK_REOP_SPLIT2) pc = target;
            return true;
        }
        duk_uint32_t mark = loopMark(split);
        if (markOf(mark) == spAt(sp)) return false; // an iteration that matched nothing
        if (op == DUK_REOP_SPLIT1) {
            push(kLoopAgain, mark, pcAt(target), spAt(sp));
            setMark(mark, kNone);
        } else {
            setMark(mark, spAt(sp));
            push(kLoopExit, mark, pcAt(pc), spAt(sp));
            pc = target;
        }
        return true;
    }
    case DUK_REOP_SQMINIMAL:
    case DUK_REOP_SQGREEDY: {
        const duk_uint8_t* operands = pc;
        duk_uint32_t qmin = u32(&pc), qmax = u32(&pc);
        if (op == DUK_REOP_SQGREEDY) u32(&pc); // the atom's length
        duk_int32_t skip = i32(&pc);
        duk_uint32_t limit = op == DUK_REOP_SQGREEDY ? qmax : qmin, n = 0;
        for (const duk_uint8_t* end; n < limit && (end = atom(pc, sp)); n++)
            sp = end;
        if (n < qmin) return false;
        if (op == DUK_REOP_SQGREEDY ? n > qmin : n < qmax)
            push(op == DUK_REOP_SQGREEDY ? kGreedy : kMinimal, n, pcAt(operands), spAt(sp));
        pc += skip;
        return true;
    }
    case DUK_REOP_SAVE: {
        duk_uint32_t idx = u32(&pc);
        if (idx >= re_->nsaved) DUK_ERROR_INTERNAL(re_->thr);
        save(idx, sp);
        return true;
    }
    case DUK_REOP_WIPERANGE: {
        duk_uint32_t first = u32(&pc), count = u32(&pc);
        if (first + count > re_->nsaved || count == 0) DUK_ERROR_INTERNAL(re_->thr);
        for (duk_uint32_t i = first; i < first + count; i++)
            save(i, nullptr);
        return true;
    }
    case DUK_REOP_LOOKPOS:
    case DUK_REOP_LOOKNEG: {
        duk_int32_t skip = i32(&pc);
        size_t base = b_.size;
        bool matched = run(pc, sp) != nullptr;
        if (matched && op == DUK_REOP_LOOKNEG) undo(base);
        if (matched != (op == DUK_REOP_LOOKPOS)) return false;
        keepUndo(base);
        pc += skip;
        return true;
    }
    case DUK_REOP_BACKREFERENCE: {
        duk_uint32_t idx = u32(&pc) << 1; // group n: saved[2n], saved[2n + 1]
        if (idx < 2 || idx + 1 >= re_->nsaved) DUK_ERROR_INTERNAL(re_->thr);
        const duk_uint8_t* from = re_->saved[idx];
        const duk_uint8_t* to = re_->saved[idx + 1];
        if (!from || !to) return true; // a group that took part in no match matches empty
        while (from < to)
            if (duk__inp_get_cp(re_, &from) != duk__inp_get_cp(re_, &sp)) return false;
        return true;
    }
    default:
        DUK_ERROR_INTERNAL(re_->thr);
    }
    return false;
}

} // namespace

// One attempt of a match from sp (the engine tries each start in turn): where the match
// ends, or null.
const duk_uint8_t* duk_host_regexp_match(duk_re_matcher_ctx* re_ctx, const duk_uint8_t* pc,
                                         const duk_uint8_t* sp) {
    if (!tBacktrack && !(tBacktrack = new (std::nothrow) Backtrack)) tooComplex(re_ctx->thr);
    Backtrack& b = *tBacktrack;
    if (b.bytecode != re_ctx->bytecode) {
        b.loops.clear();
        b.marks.clear();
        b.lastLoop = kNone;
        b.bytecode = re_ctx->bytecode;
    }
    b.attempt++;
    b.size = 0;
    Matcher m(re_ctx, b);
    const duk_uint8_t* end = m.run(pc, sp);
    b.size = 0;
    if (b.capacity * sizeof(Entry) > kKeptBytes) { // a deep one does not hold on to its stack
        free(b.entries);
        b.entries = nullptr;
        b.capacity = 0;
    }
    return end;
}

void duk_host_regexp_release(void) {
    delete tBacktrack;
    tBacktrack = nullptr;
}

// The regexp compiler's limits: nesting deeper than its recursion allows, more atom copies
// than a quantifier may make, or a program past kProgramBytes (counted quantifiers inside
// counted quantifiers multiply their atoms).
void duk_host_regexp_too_complex(duk_hthread* thr) {
    tooComplex(thr);
}

void duk_host_regexp_program_size(duk_hthread* thr, duk_size_t size) {
    if (size > kProgramBytes) tooComplex(thr);
}
