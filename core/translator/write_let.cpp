// The writer's block scoping: let declarations (renamed to unique variables of the function,
// or kept in a fresh scope per entry: a catch block whose parameter is the binding), let
// statements and expressions, and const (a variable whose later assignments are dropped).
#include "core/translator/writer.h"

namespace translator {

namespace {

bool isPattern(Node* n) {
    return n->kind == N_ARRAYPAT || n->kind == N_OBJECTPAT;
}

} // namespace

// `try{throw v}catch(name){` for each binding of the scope: the catch parameter is a new
// binding each time the block is entered, which closures made inside keep.
std::string Writer::freshOpen(Scope* s, const std::vector<std::string>* values) {
    std::string open;
    size_t i = 0;
    for (Binding* b = s->first; b; b = b->next, i++) {
        open += "try{throw ";
        if (values && i < values->size()) {
            open += (*values)[i];
        } else {
            open += "void 0";
        }
        open += "}catch(";
        open.append(b->name.p, b->name.n);
        open += "){";
    }
    return open;
}

namespace {

std::string closers(Scope* s) {
    std::string close;
    for (Binding* b = s->first; b; b = b->next)
        close += "}";
    return close;
}

} // namespace

// var, let and const declarations. `let` at the top of a function or script and `const` are
// written as var; a block's let as var of its new name, initialised to undefined when the
// source gives no value (each entry starts afresh); in a fresh scope as assignments. In a
// generator every variable lives in the enclosing function: only the assignments remain.
void Writer::writeVar(Node* n, bool head) {
    bool fresh = n->op == K_LET && n->scope->kind != S_FUNCTION && n->scope->fresh;
    bool asVar = !fn_->gen && !fresh;
    bool resetUndefined = n->op == K_LET && n->scope->kind != S_FUNCTION && !head;
    if (asVar) {
        token(n->start, "var");
    } else {
        uint32_t i = tokenAt(n->start);
        toLine(tok(i).line);
    }
    bool first = true;
    for (uint32_t i = 0; i < n->count; i++) {
        Node* d = n->list[i];
        Node* t = d->a;
        if (isPattern(t)) {
            std::string tmp = temp();
            if (!first) text(",");
            text(" " + tmp + " =");
            write(d->b);
            destructure(t, tmp, false);
            first = false;
            continue;
        }
        if (!d->b && !asVar && !head) continue; // nothing to assign
        if (!first) text(",");
        if (asVar || head) text(" ");
        first = false;
        if (d->b) {
            writeHoles(d);
        } else {
            write(t);
            if (resetUndefined) text(" = void 0");
        }
    }
    if (n->count) copy(n->list[n->count - 1]->end, n->end);
}

// A block, for or switch whose let bindings need a fresh scope per entry.
void Writer::writeScoped(Node* n) {
    Scope* s = n->scope;
    if (n->kind == N_BLOCK) {
        copy(n->start, n->start + 1); // {
        text(freshOpen(s, nullptr));
        uint32_t pos = n->start + 1;
        for (uint32_t i = 0; i < n->count; i++) {
            copy(pos, n->list[i]->start);
            write(n->list[i]);
            pos = n->list[i]->end;
        }
        text(closers(s));
        copy(pos, n->end);
        return;
    }
    at(n);
    text(freshOpen(s, nullptr));
    s->fresh = false; // written once: the statement itself as usual
    if (n->kind == N_FORIN) {
        writeForIn(n);
    } else {
        writeHoles(n);
    }
    s->fresh = true;
    text(closers(s));
}

// let (x = 1, y) { body }: the values are computed in the scope around, then the block runs
// with the new names.
void Writer::writeLetStatement(Node* n) {
    Scope* s = n->scope;
    if (!s->fresh) {
        token(n->start, "{");
        bool first = true;
        for (uint32_t i = 0; i < n->count; i++) {
            Node* d = n->list[i];
            text(first ? "var " : ", ");
            first = false;
            if (isPattern(d->a)) {
                std::string tmp = temp();
                text(tmp + " = ");
                write(d->b);
                destructure(d->a, tmp, false);
            } else {
                text(name(d->a) + " = ");
                if (d->b) {
                    write(d->b);
                } else {
                    text("void 0");
                }
            }
        }
        if (!first) text(";");
        write(n->a);
        text("}");
        return;
    }
    token(n->start, "{");
    std::vector<std::string> values;
    for (uint32_t i = 0; i < n->count; i++) {
        Node* d = n->list[i];
        std::string tmp = temp();
        values.push_back(tmp);
        text(tmp + " = ");
        if (d->b) {
            write(d->b);
        } else {
            text("void 0");
        }
        text(";");
    }
    text(freshOpen(s, nullptr));
    for (uint32_t i = 0; i < n->count; i++) {
        Node* d = n->list[i];
        if (isPattern(d->a)) {
            destructure(d->a, values[i], true);
        } else {
            text(name(d->a) + " = " + values[i]);
        }
        text(";");
    }
    write(n->a);
    text(closers(s));
    text("}");
}

// let (x = 1) expr: renamed, the assignments and the expression in one comma expression; in
// a fresh scope, a function called on the spot with the values as its arguments.
void Writer::writeLetExpression(Node* n) {
    Scope* s = n->scope;
    if (!s->fresh) {
        token(n->start, "(");
        for (uint32_t i = 0; i < n->count; i++) {
            Node* d = n->list[i];
            if (isPattern(d->a)) {
                std::string tmp = temp();
                text(tmp + " = ");
                write(d->b);
                destructure(d->a, tmp, false);
            } else {
                fn_->vars.push_back(name(d->a));
                text(name(d->a) + " = ");
                if (d->b) {
                    write(d->b);
                } else {
                    text("void 0");
                }
            }
            text(", ");
        }
        write(n->a);
        text(")");
        return;
    }
    token(n->start, "(function (");
    for (Binding* b = s->first; b; b = b->next)
        text(b->name.str() + (b->next ? ", " : ""));
    text(") { return (");
    // The values are written after the body in the output, on its last line.
    write(n->a);
    text("); }).call(this");
    for (uint32_t i = 0; i < n->count; i++) {
        text(", ");
        if (n->list[i]->b) {
            write(n->list[i]->b);
        } else {
            text("void 0");
        }
    }
    text(")");
}

// A function declared in a block kept in a fresh scope: a variable of the function, assigned
// where the declaration stands.
void Writer::writeFunctionInPlace(Node* n) {
    Node* f = n->a;
    std::string v = name(f->a);
    fn_->vars.push_back(v);
    at(n);
    text(v + " = ");
    write(f);
    text(";");
}

// An assignment to a const: the value the expression would have, without the assignment
// (strict code throws, as for any read-only variable).
void Writer::writeConstAssign(Node* n) {
    at(n);
    text("(");
    if (n->kind == N_ASSIGN && n->op == P_ASSIGN) {
        write(n->b);
    } else if (n->kind == N_ASSIGN) {
        static const char* const ops[] = {"+",  "-",   "*", "/", "%", "<<",
                                          ">>", ">>>", "&", "|", "^"};
        write(n->a);
        text(std::string(" ") + ops[n->op - P_ADD_EQ] + " (");
        write(n->b);
        text(")");
    } else {
        text("+");
        write(n->a);
        if (n->kind == N_UNARY) text(n->op == P_INC ? " + 1" : " - 1");
    }
    if (strict())
        text(", (function () { throw new TypeError(\"" + name(n->a) + " is read-only\"); })()");
    text(")");
}

} // namespace translator
