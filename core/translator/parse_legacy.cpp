// The parser's older forms that scripts of the time carry: JavaScript 1.5's getters and
// setters (`o.x getter = fn`, `{x getter: fn}`, `getter function x() {}`), and the export
// and import statements of signed scripts.
#include "core/translator/parser.h"

namespace translator {

int Parser::accessorWord() const {
    if (isName("getter")) return 1;
    if (isName("setter")) return 2;
    return 0;
}

// A statement of the kind from its first word (getter, setter, export, import), which is
// taken: written anew.
Node* Parser::wordStatement(NodeKind k) {
    Node* n = make(k, cur_);
    flag(cur_.start);
    advance();
    return n;
}

// `target getter = fn` (or setter) once the target is parsed; anything else leaves it as it
// was.
Node* Parser::accessorAssignment(Node* target, const Token& first, bool noIn) {
    int kind = accessorWord();
    if (!kind || peek().type != P_ASSIGN) return target;
    if (target->kind != N_MEMBER && target->kind != N_INDEX)
        fail("invalid assignment left-hand side");
    flag(first.start);
    advance(); // getter
    advance(); // =
    Node* n = make(N_ACCESSOR, first);
    n->op = static_cast<uint8_t>(kind);
    n->a = target;
    n->b = assignment(noIn);
    return finish(n);
}

// `key getter: function ...` in an object literal, the key parsed: the value must be a
// function expression, which becomes the accessor.
bool Parser::accessorProperty(Node* prop) {
    int kind = accessorWord();
    if (!kind || peek().type != P_COLON) return false;
    advance(); // getter
    advance(); // :
    if (!is(K_FUNCTION)) fail("missing function after getter or setter");
    prop->op = static_cast<uint8_t>(kind + 3);
    prop->b = functionNode(false, true);
    return true;
}

// `getter function x() {}` defines an accessor of the script's variables, the global
// object: only there (a function's variables cannot hold one).
Node* Parser::accessorFunction() {
    int kind = accessorWord();
    if (!atScriptTop()) fail("getter or setter function outside the top level of a script");
    Node* n = wordStatement(N_GETTERFN);
    n->op = static_cast<uint8_t>(kind);
    n->a = functionNode(false, true);
    if (!n->a->a) failAt(n->line, "missing name after function keyword");
    if (n->a->b->kind != N_BODY) semicolon(); // expression closure
    return finish(n);
}

// `export name, name;` or `export *;`: without signed scripts it has nothing to do.
Node* Parser::exportStatement() {
    Node* n = wordStatement(N_EXPORT);
    if (!accept(P_MUL)) {
        do {
            if (!is(T_NAME)) fail("missing name in export statement");
            advance();
        } while (accept(P_COMMA));
    }
    semicolon();
    return finish(n);
}

// `import obj.name, obj.*;`: obj.name makes a variable `name` holding the property's value;
// obj.* copies every enumerable property into the script's variables (so only at the top
// level of a script).
Node* Parser::importStatement() {
    Node* n = wordStatement(N_IMPORT);
    size_t list = listStart();
    do {
        Node* e = leftHandSide(false);
        bool all = e->kind == N_XMLMEMBER && e->op == 0 && e->b->op == XS_STAR && !e->b->a;
        if (all) {
            if (!atScriptTop()) failAt(e->line, "import of * outside the top level of a script");
        } else if (e->kind == N_MEMBER) {
            declare(varScope(), e->name, B_VAR, e);
        } else {
            failAt(e->line, "invalid import expression");
        }
        listAdd(e);
    } while (accept(P_COMMA));
    n->list = takeList(list, &n->count);
    semicolon();
    return finish(n);
}

} // namespace translator
