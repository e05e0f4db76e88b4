// The writer's comprehensions and related forms: array comprehensions (a function called on
// the spot, whose variables are the loop's own), generator expressions (a generator of the
// same loops), conditional catch clauses (one catch that tests the guards in order and
// throws again when none holds) and shorthand properties.
#include "core/translator/writer.h"

namespace translator {

namespace {

bool isPattern(Node* n) {
    return n && (n->kind == N_ARRAYPAT || n->kind == N_OBJECTPAT);
}

} // namespace

// [expr for (x in o) for each (y in p) if (c)] ->
// (function () { var $1 = [], $2 = 0, x, y; for (x in o) for (y in __lang.each(p)) if (c)
//  $1[$2++] = expr; return $1; }).call(this)
void Writer::writeComprehension(Node* n) {
    FnCtx ctx;
    ctx.scope = fn_->scope;
    ctx.parent = fn_;
    ctx.thisName = fn_->thisName;
    ctx.argsName = fn_->argsName;
    ctx.rewriteAll = fn_->rewriteAll;
    FnCtx* saved = fn_;
    at(n);
    bool passArgs = n->scope->usesArguments && saved->argsName == "arguments";
    if (passArgs) ctx.argsName = prefix() + "args";
    text("(function (");
    if (passArgs) text(ctx.argsName);
    text(") {");
    size_t at = out_.size();
    fn_ = &ctx;
    std::string result = temp(), count = temp();
    put(result, " = [], ", count, " = 0; ");
    for (Binding* b = n->scope->first; b; b = b->next)
        ctx.vars.push_back(b->name.str());
    int braces = 0;
    for (uint32_t i = 0; i < n->count; i++) {
        Node* c = n->list[i];
        bool each = c->op == 1;
        bool pairs = isPattern(c->a) && !each;
        std::string loopVar = isPattern(c->a) ? temp() : name(c->a);
        std::string object;
        put("for (", loopVar, " in ");
        if (pairs) {
            object = temp();
            put("(", object, " = ");
        }
        if (each) text("__lang.each(");
        write(c->b);
        text(each || pairs ? ")) " : ") ");
        if (isPattern(c->a)) {
            text("{");
            braces++;
            std::string value = loopVar;
            if (pairs) {
                value = temp();
                put(value, " = typeof ", object, ".__iterator__ == \"function\" ? ", loopVar,
                    " : [", loopVar, ", ", object, "[", loopVar, "]]; ");
            }
            destructure(c->a, value, true);
            text("; ");
        }
    }
    if (n->b) {
        text("if (");
        write(n->b);
        text(") ");
    }
    put(result, "[", count, "++] = ");
    write(n->a);
    text(";");
    out_.append(braces, '}');
    put(" return ", result, "; })");
    text(saved->gen ? "(" : ".call(this");
    text(passArgs ? (saved->gen ? "arguments)" : ", arguments)") : ")");
    insertVars(at, ctx);
    fn_ = saved;
}

// (expr for (x in o) if (c)): a generator over the same loops, each loop walking an
// iterator of __lang.iter (keys, values, or [key, value] pairs for a pattern of a for-in).
void Writer::writeGenExpr(Node* n) {
    FnCtx ctx;
    ctx.scope = fn_->scope;
    ctx.parent = fn_;
    FnCtx* saved = fn_;
    Gen g;
    nameGen(g, false);
    bool ownThis = saved->thisName == "this";
    ctx.thisName = ownThis ? prefix() + "this" : saved->thisName;
    bool passArgs = n->scope->usesArguments && saved->argsName == "arguments";
    ctx.argsName = passArgs ? prefix() + "args" : saved->argsName;
    ctx.rewriteAll = true; // `this` and `arguments` of the function around
    // What the expression is handed: the function's arguments, the arrays of the block
    // bindings of a generator around that it keeps.
    std::string params = passArgs ? ctx.argsName : "", kept = keptHolders(n->scope);
    if (!kept.empty()) params += (params.empty() ? "" : ", ") + kept;
    at(n);
    put("(function (", params, ") {");
    size_t at = out_.size();
    fn_ = &ctx;
    if (ownThis) ctx.vars.push_back(ctx.thisName + " = this");
    for (Binding* b = n->scope->first; b; b = b->next)
        ctx.vars.push_back(b->name.str());
    std::vector<std::string> iters;
    for (uint32_t i = 0; i < n->count; i++)
        iters.push_back(temp());
    size_t load;
    text(" return __lang.gen(");
    stepHead(g, &load);
    put("switch (", g.s, ") { case 0: ");
    for (uint32_t i = 0; i < n->count; i++) {
        Node* c = n->list[i];
        int mode = c->op == 1 ? 1 : isPattern(c->a) ? 2 : 0;
        put(iters[i], " = __lang.iter(");
        write(c->b);
        put(", ", mode, "); case ", int(i + 1), ": if (!", iters[i], ".step()) { ");
        if (i) {
            put(g.s, " = ", int(i), "; continue ", g.loop, "; } ");
        } else {
            put("break ", g.loop, "; } ");
        }
        if (isPattern(c->a)) {
            destructure(c->a, iters[i] + ".v", true);
        } else {
            put(name(c->a), " = ", iters[i], ".v");
        }
        text("; ");
    }
    int inner = static_cast<int>(n->count);
    if (n->b) {
        text("if (!(");
        write(n->b);
        put(")) { ", g.s, " = ", inner, "; continue ", g.loop, "; } ");
    }
    put(g.r, " = ");
    write(n->a);
    put("; ", g.g, ".s = ", inner, "; return ", g.r, "; default: break ", g.loop, "; }");
    stepTail(g);
    text(" }, null); })");
    std::string args = passArgs ? "arguments" : "";
    if (!kept.empty()) args += (args.empty() ? "" : ", ") + kept;
    text(ownThis ? ".call(this" : "(");
    put(ownThis && !args.empty() ? ", " : "", args, ")");
    insertVars(at, ctx);
    fn_ = saved;
}

// try {...} catch (e if g1) {A} catch (f if g2) {B} catch (h) {C} ->
// try {...} catch (e) { if (g1) {A} else try{throw e}catch(f){ if (g2) {B} else
// try{throw e}catch(h){ {C} }}}: each clause with its own name gets that name as the
// parameter of a catch of its own; without an unconditional clause, `throw e` ends it. A
// pattern's names each get such a catch (bindCatch): catch ([a, b]) -> catch ($exc) {
// try{throw $exc[0]}catch(a){ try{throw $exc[1]}catch(b){ ... }}}; a guarded pattern
// before other clauses keeps its guard's answer, so that its names end with it.
void Writer::writeTry(Node* n) {
    bool plain = true; // no guard, no pattern
    for (uint32_t i = 0; i < n->count; i++)
        if (n->list[i]->b || n->list[i]->a->kind != N_NAME) plain = false;
    if (plain) {
        writeHoles(n);
        return;
    }
    copy(n->start, n->a->start);
    write(n->a);
    Node* c0 = n->list[0];
    std::string param = c0->a->kind == N_NAME ? name(c0->a) : prefix() + "exc";
    token(c0->start, "catch");
    text(" (" + param + ") { ");
    std::string close = "}";
    bool unconditional = false;
    std::string held; // the answer of a guard whose pattern's names end with its clause
    for (uint32_t i = 0; i < n->count; i++) {
        Node* c = n->list[i];
        if (c->b && c->a->kind != N_NAME && i + 1 < n->count) {
            // The clauses after it must not see its names: closed before them.
            if (held.empty()) held = temp();
            std::string own = bindCatch(c->a, param, 0);
            text(held + " = !!(");
            write(c->b);
            text("); if (" + held + ") ");
            write(c->c);
            text(" " + own + " if (!" + held + ") { ");
            close += "}";
            continue;
        }
        close += bindCatch(c->a, param, 0);
        if (c->b) {
            text("if (");
            write(c->b);
            text(") ");
            write(c->c);
            text(" else ");
        } else {
            write(c->c);
            unconditional = true;
        }
    }
    if (!unconditional) text("throw " + param + ";");
    text(" " + close);
    Node* last = n->list[n->count - 1];
    if (n->b) {
        copy(last->end, n->b->start);
        write(n->b);
    }
}

// {a} in an object literal: {a: a}.
void Writer::writeShorthand(Node* n) {
    std::string key(src_ + n->a->start, n->a->end - n->a->start);
    token(n->start, (key + ": " + name(n->b)).c_str());
}

} // namespace translator
