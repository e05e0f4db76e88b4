// The parser's destructuring patterns: a name or pattern being declared, and an array or
// object literal turned into a pattern when `=` (or `in` of a for-in head) follows it.
#include "core/translator/parser.h"

namespace translator {

// A name or a pattern being declared (var, let, const, parameters, comprehension heads).
Node* Parser::bindingTarget() {
    enter();
    Token first = cur_;
    Node* n;
    if (is(T_NAME)) {
        n = make(N_NAME, first);
        n->name = nameOf(cur_);
        if (reserved(n->name)) fail("reserved word used as a name");
        advance();
        finish(n);
    } else if (is(P_LBRACKET)) {
        flag(first.start);
        advance();
        n = make(N_ARRAYPAT, first);
        size_t list = listStart();
        while (!is(P_RBRACKET)) {
            if (accept(P_COMMA)) {
                listAdd(nullptr);
                continue;
            }
            listAdd(bindingTarget());
            if (!is(P_RBRACKET)) expect(P_COMMA, "missing ] after element list");
        }
        advance();
        n->list = takeList(list, &n->count);
        finish(n);
    } else if (is(P_LBRACE)) {
        flag(first.start);
        advance();
        n = make(N_OBJECTPAT, first);
        size_t list = listStart();
        while (!is(P_RBRACE)) {
            Node* p = make(N_PROP, cur_);
            Token keyTok = cur_;
            p->a = propertyKey();
            if (accept(P_COLON)) {
                p->b = bindingTarget();
            } else if (keyTok.type == T_NAME) {
                p->op = 3;
                Node* t = make(N_NAME, keyTok);
                t->name = p->a->name;
                t->end = keyTok.end;
                p->b = t;
            } else {
                fail("missing : after property id");
            }
            listAdd(finish(p));
            if (!is(P_RBRACE)) expect(P_COMMA, "missing } after property list");
        }
        advance();
        n->list = takeList(list, &n->count);
        finish(n);
    } else {
        fail("missing variable name");
    }
    leave();
    return n;
}

// An array or object literal on the left of `=` (or of `in` in a for-in head) becomes a
// pattern; its names stay references.
Node* Parser::toPattern(Node* n, bool binding) {
    if (n->kind == N_ARRAY) {
        flag(n->start);
        n->kind = N_ARRAYPAT;
        for (uint32_t i = 0; i < n->count; i++)
            if (n->list[i]) n->list[i] = toPattern(n->list[i], binding);
        return n;
    }
    if (n->kind == N_OBJECT) {
        flag(n->start);
        n->kind = N_OBJECTPAT;
        for (uint32_t i = 0; i < n->count; i++) {
            Node* p = n->list[i];
            if (p->op == 1 || p->op == 2) failAt(p->line, "invalid assignment left-hand side");
            p->b = toPattern(p->b, binding);
        }
        return n;
    }
    if (n->kind == N_ARRAYPAT || n->kind == N_OBJECTPAT) return n;
    if (!isTarget(n) || n->kind == N_CALL) failAt(n->line, "invalid assignment left-hand side");
    return n;
}

} // namespace translator
