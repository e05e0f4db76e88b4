// The writer's generators: a generator function becomes a function that returns
// __lang.gen(step, tryTable, registers). step is the generator's own next(): called as a
// method of the generator object ($g), it takes the state from $g.s (marking the generator
// running with -2) and runs the body from there, written as
//   $L: for (;;) [try {] switch ($s) { case 0: ... } [} catch (e) { $s = $g.fail(e); }]
// where each statement that holds a yield is split into states (a yield stores the next
// state in $g.s and returns its value; the value sent in on resumption is $v, taken from
// $g.v), and the rest is written as it stands. The body's variables are locals of the step
// function, stored in the array $g.l at each yield and read back at each step, unless a
// closure made in the body may keep them: then they are variables of the function around
// (the body's function declarations too, copied there from the step's at the start, so
// they are made once). try statements that hold a yield become zones of the try table,
// through which core/lang/generator.js finds the catch or finally block of an exception, a
// jump or a return; a with statement that holds one keeps its object in a temporary and
// opens again after each state's label. Every statement stays on its own line; the glue
// goes on the current one.
#include "core/translator/writer.h"

#include <algorithm>

namespace translator {

void Writer::jump(int state, int zone) {
    Gen& g = *fn_->gen;
    bool fin = false;
    for (int z = g.zone; z != zone && z >= 0; z = g.table[z * 4])
        if (g.table[z * 4 + 3] >= 0) fin = true;
    if (fin) {
        put(g.s, " = ", g.g, ".jump(", state, ", ", zone, "); continue ", g.loop, ";");
        return;
    }
    if (zone != g.zone) put(g.g, ".t = ", zone, "; ");
    put(g.s, " = ", state, "; continue ", g.loop, ";");
}

// The yield of `value` (parts): the value first, then the state to resume at; out through
// the step's end, which stores the registers, or straight out when there are none.
void Writer::yieldText(const Parts& value, int state) {
    Gen& g = *fn_->gen;
    put(" ", g.r, " = ");
    writeParts(value);
    put("; ", g.g, ".s = ", state, ";");
    if (g.registers) {
        put(" break ", g.exit, ";");
    } else {
        put(" return ", g.r, ";");
    }
}

int Writer::newState() {
    return fn_->gen->states++;
}

void Writer::mark(int state) {
    const std::vector<std::string>& w = fn_->gen->withs;
    out_ += ' ';
    if (!w.empty()) {
        out_.append(w.size(), '}');
        out_ += ' ';
    }
    put("case ", state, ":");
    for (const std::string& o : w)
        put(" with (", o, ") {");
}

// A statement of a generator's body that holds no yield but reaches beyond itself: return,
// and break or continue to a statement that was split into states.
void Writer::writeGeneratorStatement(Node* n) {
    Gen& g = *fn_->gen;
    if (hasYield(n)) {
        explodeStatement(n);
        return;
    }
    switch (n->kind) {
    case N_RETURN: {
        bool fin = false;
        for (int z = g.zone; z >= 0; z = g.table[z * 4])
            if (g.table[z * 4 + 3] >= 0) fin = true;
        token(n->start, "{");
        if (fin) {
            put(g.s, " = ", g.g, ".jump(-1, -1); continue ", g.loop, ";}");
        } else {
            put("break ", g.loop, ";}");
        }
        return;
    }
    case N_BREAK:
    case N_CONTINUE: {
        auto it = g.targets.find(n->target);
        if (it == g.targets.end()) break; // a statement around it that was not split
        const Target& t = it->second;
        token(n->start, "{");
        jump(n->kind == N_BREAK ? t.brk : t.cont, t.zone);
        text("}");
        return;
    }
    default:
        break;
    }
    writeHoles(n);
}

// The step function's head, up to the dispatch loop (the registers' loading goes in at
// `load` once they are known). The value sent in is $g.v, which send() sets and the step
// takes back (next() sends nothing); a generator expression has no use for it.
void Writer::stepHead(Gen& g, size_t* load) {
    // The same text for every generator (and every generator expression): made once.
    std::string& head = stepHeads_[g.v.empty()];
    if (head.empty()) {
        cat(head, "function () {var ", g.g, " = this, ", g.s, " = ", g.g, ".s, ");
        if (!g.v.empty()) cat(head, g.v, " = ", g.g, ".v, ");
        cat(head, g.r, ";");
        if (!g.v.empty()) cat(head, " ", g.g, ".v = void 0;");
        cat(head, " if (", g.s, " < 0) throw ", g.g, ".stop(); ", g.g, ".s = -2;");
    }
    text(head);
    *load = out_.size();
    if (g.registers) put(" ", g.exit, ": {");
    put(" ", g.loop, ": for (;;) ");
}

// The step function from the dispatch's end: the end of the body ends the generator; a
// yield leaves through the end, which stores the registers. (An exception out of the body
// leaves the generator marked running: core/lang/generator.js finds it is not, and done.)
void Writer::stepTail(Gen& g) {
    if (!g.table.empty())
        put(" } catch (", prefix(), "e) { ", g.s, " = ", g.g, ".fail(", prefix(), "e); }");
    put(" ", g.g, ".s = -1; throw StopIteration;");
}

// The function's body, from statement `first` (the prologue is written): `at` is where the
// variables go, once known.
void Writer::writeGenerator(Node* fn, FnCtx& ctx, size_t at, uint32_t first) {
    Gen g;
    nameGen(g, true);
    ctx.gen = &g;
    ctx.thisName = prefix() + "this";
    ctx.argsName = ctx.scope->usesArguments ? prefix() + "args" : "arguments";
    Node* body = fn->b;
    if (body->kind != N_BODY)
        throw SyntaxFailure{fn->line, "a generator needs a function body in braces", false};
    bool registers = !ctx.scope->hasEval && !ctx.scope->keepsVars;
    ctx.rewriteAll = true;
    const auto& ys = p_.yields;
    g.yields = ys.data() +
               (std::lower_bound(ys.begin(), ys.end(), std::make_pair(ctx.scope, 0u)) - ys.begin());
    g.yieldsEnd =
        ys.data() +
        (std::upper_bound(ys.begin(), ys.end(), std::make_pair(ctx.scope, ~0u)) - ys.begin());
    g.registers = registers;
    // Only the parameters' registers depend on what the body assigns: the others are
    // stored anyway, and `this` and `arguments` cannot be assigned.
    params_.clear();
    for (Binding* b = ctx.scope->first; b; b = b->next)
        if (b->kind == B_PARAM) params_.push_back(name_(b));
    assigned_.assign(params_.size(), false);
    if (registers && !params_.empty()) collectAssigned(body);
    size_t load;
    text("return __lang.gen(");
    stepHead(g, &load);
    size_t tryAt = out_.size();
    put("switch (", g.s, ") { case 0:");
    for (uint32_t i = first; i < body->count; i++) {
        Node* f = body->list[i]->kind == N_FUNCDECL ? body->list[i]->a->a : nullptr;
        if (f) {
            put(" ", f->binding->rename, " = ");
            out_.append(src_ + f->start, f->end - f->start);
            text(";");
        }
    }
    for (uint32_t i = first; i < body->count; i++)
        genStatement(body->list[i]);
    put(" break ", g.loop, "; default: break ", g.loop, "; }");
    if (!g.table.empty()) insertText(tryAt, "try { ");
    stepTail(g);
    std::string table = ", null";
    if (!g.table.empty()) {
        table = ", [";
        for (size_t i = 0; i < g.table.size(); i++)
            cat(table, i ? "," : "", g.table[i]);
        table += "]";
    }
    // The variables of the body, and what they start with.
    std::vector<std::string> regs, initial;
    size_t count = 2 + ctx.tempsMax;
    for (Binding* b = ctx.scope->first; b; b = b->next)
        count++;
    for (Scope* s = ctx.scope->firstInFn; s; s = s->nextInFn)
        for (Binding* b = s->first; b; b = b->next)
            count++;
    regs.reserve(count);
    initial.reserve(count);
    auto add = [&](std::string name, std::string value) {
        regs.push_back(std::move(name));
        initial.push_back(std::move(value));
    };
    if (ctx.scope->usesThis) add(ctx.thisName, "this");
    if (ctx.scope->usesArguments) add(ctx.argsName, "arguments");
    for (Binding* b = ctx.scope->first; b; b = b->next) {
        if (b->kind == B_PARAM && registers) add(name_(b), name_(b));
        if (b->kind == B_VAR || b->kind == B_LET || b->kind == B_CONST) add(name_(b), "void 0");
        if (b->kind == B_FUNC && !b->rename.empty()) add(b->rename, "void 0");
    }
    for (Scope* s = ctx.scope->firstInFn; s; s = s->nextInFn) {
        if (s->holder) {
            add(names_.holder(s->holder), "void 0");
            continue;
        }
        for (Binding* b = s->first; b; b = b->next)
            if (!b->rename.empty()) add(b->rename, "void 0");
    }
    for (int i = 1; i <= ctx.tempsMax; i++)
        add(tempName(i), "void 0");
    if (registers) {
        placeRegisters(g, load, regs, initial, table);
        ctx.tempsMax = 0; // registers of the step function
    } else {
        put(" }", table, ");");
        for (size_t i = 0; i < regs.size(); i++) {
            if (regs[i].compare(0, prefix().size(), prefix()) == 0 &&
                regs[i].find_first_not_of("0123456789", prefix().size()) == std::string::npos)
                continue; // a temporary: declared with the others
            ctx.vars.push_back(initial[i] == "void 0" ? regs[i] : regs[i] + " = " + initial[i]);
        }
    }
    copy(body->end - 1, body->end); // }
    insertVars(at, ctx);
    ctx.gen = nullptr;
}

// The names of the state machine's variables, made once: a generator expression takes no
// value sent in, and leaves by return (no `v`, no `exit`).
void Writer::nameGen(Gen& g, bool function) {
    if (genNames_.empty())
        for (const char* n : {"g", "L", "s", "r", "v", "Y", "l"})
            genNames_.push_back(prefix() + n);
    g.g = genNames_[0];
    g.loop = genNames_[1];
    g.s = genNames_[2];
    g.r = genNames_[3];
    if (function) {
        g.v = genNames_[4];
        g.exit = genNames_[5];
    }
}

std::string Writer::name_(Binding* b) {
    return b->rename.empty() ? b->name.str() : b->rename;
}

// One statement of a state machine: split when it holds a yield, else written as it stands
// (with the generator's forms for var, return, break and continue).
void Writer::genStatement(Node* s) {
    write(s);
}

void Writer::exitTry(int parent, int fin, int end) {
    Gen& g = *fn_->gen;
    put(g.g, ".t = ", parent, "; ");
    if (fin >= 0) put(g.g, ".p[", fin, "] = null; ");
    put(g.s, " = ", fin >= 0 ? fin : end, "; continue ", g.loop, ";");
}

// The array of a block's bindings made anew on entering the block (see resolve.cpp).
void Writer::enterHolder(Node* n) {
    Scope* s = n->scope;
    if (!s || s->node != n || !s->holder) return;
    std::string init;
    for (Binding* b = s->first; b; b = b->next)
        init += init.empty() ? "void 0" : ", void 0";
    put(" ", names_.holder(s->holder), " = [", init, "];");
}

// A statement that holds a yield, split into states.
void Writer::explodeStatement(Node* n) {
    at(n);
    enterHolder(n);
    // The semicolon inserted after the statement's last token is written here, at its end.
    uint32_t last = tokenAfter(n);
    if (last) p_.tokens[last - 1].asi = false;
    switch (n->kind) {
    case N_BLOCK:
    case N_BODY:
        for (uint32_t i = 0; i < n->count; i++)
            genStatement(n->list[i]);
        break;
    case N_EXPR:
        explodeExpressionStatement(n->a);
        break;
    case N_VAR:
        explodeVar(n);
        break;
    case N_THROW:
        explodeThrow(n);
        break;
    case N_IF:
        explodeIf(n);
        break;
    case N_WHILE:
        explodeWhile(n);
        break;
    case N_DOWHILE:
        explodeDoWhile(n);
        break;
    case N_FOR:
        explodeFor(n);
        break;
    case N_FORIN:
        explodeForIn(n);
        break;
    case N_LABEL:
        explodeLabel(n);
        break;
    case N_SWITCH:
        explodeSwitch(n);
        break;
    case N_TRY:
        explodeTry(n);
        break;
    case N_LETSTMT:
        explodeLetStatement(n);
        break;
    case N_WITH:
        explodeWith(n);
        break;
    default:
        throw SyntaxFailure{n->line, "yield is not supported here", false};
    }
}

// The jump to `state` (of `zone`) when the value of e is `whenTrue`.
void Writer::jumpWhen(Node* e, bool whenTrue, int state, int zone) {
    Parts c = explode(e);
    text(whenTrue ? " if (" : " if (!(");
    writeParts(c);
    text(whenTrue ? ") {" : ")) {");
    jump(state, zone);
    text("}");
}

// An expression as a statement: nothing is left to write when it ends in a yield whose
// value is not used.
void Writer::explodeExpressionStatement(Node* e) {
    Parts p = explode(e);
    if (p.size() == 1 && !p[0].node && (p[0].text == fn_->gen->v || p[0].text.empty())) return;
    text(" ");
    writeParts(p);
    text(";");
}

void Writer::explodeThrow(Node* n) {
    Parts p = explode(n->a);
    text(" throw ");
    writeParts(p);
    text(";");
}

void Writer::explodeIf(Node* n) {
    Gen& g = *fn_->gen;
    int elseState = newState(), end = n->c ? newState() : elseState;
    jumpWhen(n->a, false, elseState, g.zone);
    genStatement(n->b);
    if (n->c) {
        text(" ");
        jump(end, g.zone);
        mark(elseState);
        genStatement(n->c);
    }
    mark(end);
}

void Writer::explodeWhile(Node* n) {
    Gen& g = *fn_->gen;
    int top = newState(), end = newState();
    mark(top);
    jumpWhen(n->a, false, end, g.zone);
    loopBody(n, n->b, top, end);
}

// The body of a loop whose continue goes to its top, the jump back there, and its end.
void Writer::loopBody(Node* loop, Node* body, int top, int end) {
    Gen& g = *fn_->gen;
    g.targets[loop] = Target{end, top, g.zone};
    genStatement(body);
    text(" ");
    jump(top, g.zone);
    mark(end);
}

void Writer::explodeDoWhile(Node* n) {
    Gen& g = *fn_->gen;
    int top = newState(), test = newState(), end = newState();
    mark(top);
    g.targets[n] = Target{end, test, g.zone};
    genStatement(n->b);
    mark(test);
    jumpWhen(n->a, true, top, g.zone);
    mark(end);
}

// for (init; test; update): the initialisation before the loop's first state, the update in
// a state of its own (where continue goes).
void Writer::explodeFor(Node* n) {
    Gen& g = *fn_->gen;
    if (n->a) {
        if (n->a->kind == N_VAR) {
            explodeVar(n->a);
        } else {
            explodeExpressionStatement(n->a);
        }
    }
    int top = newState(), update = newState(), end = newState();
    mark(top);
    if (n->b) jumpWhen(n->b, false, end, g.zone);
    g.targets[n] = Target{end, update, g.zone};
    genStatement(n->d);
    mark(update);
    if (n->c) explodeExpressionStatement(n->c);
    text(" ");
    jump(top, g.zone);
    mark(end);
}

// for (x in o), for each (x in o): the language library's iterator in a temporary (its mode:
// 1 the values, 2 a pattern's key and value pairs, 0 the keys), stepped at the loop's top.
void Writer::explodeForIn(Node* n) {
    Gen& g = *fn_->gen;
    Node* target = headTarget(n->a);
    int mode = n->op == 1 ? 1 : (target->kind == N_ARRAYPAT || target->kind == N_OBJECTPAT) ? 2 : 0;
    std::string it = temp();
    Parts obj = explode(n->b);
    put(" ", it, " = __lang.iter(");
    writeParts(obj);
    put(", ", mode, ");");
    int top = newState(), end = newState();
    mark(top);
    put(" if (!", it, ".step()) {");
    jump(end, g.zone);
    text("} ");
    assignHead(n->a, it + ".v", true);
    text(";");
    loopBody(n, n->d, top, end);
}

void Writer::explodeLabel(Node* n) {
    Gen& g = *fn_->gen;
    int end = newState();
    g.targets[n] = Target{end, -1, g.zone};
    genStatement(n->a);
    mark(end);
}

// switch: the discriminant in a temporary, compared with each case in turn (a jump to the
// first that matches, else to default or the end); each case's statements in a state.
void Writer::explodeSwitch(Node* n) {
    Gen& g = *fn_->gen;
    std::string d = temp();
    Parts disc = explode(n->a);
    store(d, disc);
    std::vector<int> states;
    int end = newState(), deflt = end;
    for (uint32_t i = 0; i < n->count; i++) {
        states.push_back(newState());
        if (!n->list[i]->a) deflt = states.back();
    }
    for (uint32_t i = 0; i < n->count; i++) {
        Node* c = n->list[i];
        if (!c->a) continue;
        Parts t = explode(c->a);
        text(" if (" + d + " === (");
        writeParts(t);
        text(")) {");
        jump(states[i], g.zone);
        text("}");
    }
    text(" ");
    jump(deflt, g.zone);
    g.targets[n] = Target{end, -1, g.zone};
    for (uint32_t i = 0; i < n->count; i++) {
        mark(states[i]);
        for (uint32_t j = 0; j < n->list[i]->count; j++)
            genStatement(n->list[i]->list[j]);
    }
    mark(end);
}

// let (declarations) statement: the declarations as assignments, then the statement.
void Writer::explodeLetStatement(Node* n) {
    for (uint32_t i = 0; i < n->count; i++) {
        Node* d = n->list[i];
        explodeDeclaration(d);
    }
    genStatement(n->a);
}

// with: the object is kept in a temporary; each stretch of the body between two states runs
// inside a with statement of its own.
void Writer::explodeWith(Node* n) {
    Gen& g = *fn_->gen;
    std::string o = n->op ? xmlWithVar(n) : temp(); // bare E4X selectors inside ask it
    Parts obj = explode(n->a);
    store(o, obj);
    text(" with (" + o + ") {");
    g.withs.push_back(o);
    genStatement(n->b);
    g.withs.pop_back();
    text(" }");
}

// One declaration of a var, let or let expression whose value holds a yield, as an
// assignment (a pattern destructures a temporary); a let without a value is reset.
void Writer::explodeDeclaration(Node* d) {
    Parts v = d->b ? explode(d->b) : Parts{Part{nullptr, "void 0"}};
    if (d->a->kind == N_NAME) {
        put(" ", name(d->a), " = ");
        writeParts(v);
    } else {
        Parts t = spill(v);
        text(" ");
        destructure(d->a, t[0].text, true);
    }
    text(";");
}

// var/let/const whose values hold a yield: one assignment per declaration, in order.
void Writer::explodeVar(Node* n) {
    for (uint32_t i = 0; i < n->count; i++) {
        Node* d = n->list[i];
        bool reset = n->op == K_LET && n->scope->kind != S_FUNCTION;
        if (!d->b && !reset) continue;
        at(d);
        explodeDeclaration(d);
    }
}

// try/catch/finally holding a yield: a zone for the try block (and one for the catch blocks
// when a finally follows), the catch clauses in turn (guards tested in order, the exception
// thrown again when none holds), the finally block ending in $g.done, which goes on with
// what was pending: the next state, a jump, a return, or the exception.
void Writer::explodeTry(Node* n) {
    Gen& g = *fn_->gen;
    int parent = g.zone;
    bool hasCatch = n->count > 0, hasFin = n->b != nullptr;
    int catchState = hasCatch ? newState() : -1, fin = hasFin ? newState() : -1, end = newState();
    int zt = static_cast<int>(g.table.size() / 4);
    g.table.insert(g.table.end(), {parent, catchState, parent, fin});
    int zc = parent;
    if (hasCatch && hasFin) {
        zc = static_cast<int>(g.table.size() / 4);
        g.table.insert(g.table.end(), {parent, -1, parent, fin});
        g.table[zt * 4 + 2] = zc;
    }
    at(n);
    put(" ", g.g, ".t = ", zt, ";");
    g.zone = zt;
    genStatement(n->a);
    g.zone = parent;
    text(" ");
    exitTry(parent, fin, end);
    if (hasCatch) {
        mark(catchState);
        g.zone = zc;
        bool unconditional = false;
        for (uint32_t i = 0; i < n->count; i++) {
            Node* c = n->list[i];
            if (c->a->kind == N_NAME) {
                put(" ", name(c->a), " = ", g.g, ".e;");
            } else {
                text(" ");
                destructure(c->a, g.g + ".e", true);
                text(";");
            }
            int next = -1;
            if (c->b) {
                next = newState();
                Parts guard = explode(c->b);
                text(" if (!(");
                writeParts(guard);
                text(")) {");
                jump(next, zc);
                text("}");
            } else {
                unconditional = true;
            }
            genStatement(c->c);
            g.zone = parent;
            text(" ");
            exitTry(parent, fin, end);
            g.zone = zc;
            if (next >= 0) mark(next);
        }
        if (!unconditional) put(" throw ", g.g, ".e;");
        g.zone = parent;
    }
    if (hasFin) {
        mark(fin);
        genStatement(n->b);
        put(" ", g.s, " = ", g.g, ".done(", fin, ", ", end, "); continue ", g.loop, ";");
    }
    mark(end);
}

} // namespace translator
