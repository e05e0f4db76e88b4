// The parser's programs, functions and statements: the whole of ECMAScript 5.1 with
// automatic semicolons, plus `for each`, `let` declarations and statements, `const`,
// destructuring declarations, conditional catch clauses and expression closures.
#include "core/translator/parser.h"

namespace translator {

// ---- programs and functions ----------------------------------------------------------

Node* Parser::parse(ParseMode mode, bool strict) {
    mode_ = mode;
    advance();
    // A `-->` comment that opens the source is written as `//>`, which the engine reads.
    if (lex_.leadingComment() != UINT32_MAX) {
        htmlComments.push_back(lex_.leadingComment());
        flag(lex_.leadingComment());
    }
    if (mode == PARSE_FUNCTION) {
        // The engine compiles `function (args) {body}` as one function expression.
        Scope* top = pushScope(S_FUNCTION, nullptr);
        top->strict = strict;
        Token first = cur_;
        Node* prog = make(N_BODY, first);
        top->node = prog;
        if (!is(K_FUNCTION)) fail("function expected");
        std::vector<Node*> one{functionNode(false, true)};
        if (!is(T_EOF)) fail("unexpected text after the function");
        prog->list = toList(one, &prog->count);
        prog->end = static_cast<uint32_t>(lex_.size());
        return prog;
    }
    Scope* top = pushScope(S_FUNCTION, nullptr);
    top->strict = strict;
    Token first = cur_;
    first.start = 0;
    first.line = 1;
    Node* prog = statementList(N_BODY, first, T_EOF);
    top->node = prog;
    prog->scope = top;
    prog->end = static_cast<uint32_t>(lex_.size());
    return prog;
}

// Statements up to endTok (not consumed), as a node of the kind; a body's directive
// prologue sets its function's strictness.
Node* Parser::statementList(NodeKind kind, const Token& first, int endTok) {
    Node* n = make(kind, first);
    size_t list = listStart();
    bool prologue = kind == N_BODY;
    while (!is(endTok)) {
        if (is(P_LT) && htmlComment()) continue;
        if (is(T_EOF)) fail("missing } in compound statement");
        if (prologue) {
            if (is(T_STRING)) {
                uint32_t len = cur_.end - cur_.start;
                if (len == 12 && !memcmp(src() + cur_.start + 1, "use strict", 10))
                    scope_->fn->strict = true;
            } else {
                prologue = false;
            }
        }
        listAdd(statement());
    }
    n->list = takeList(list, &n->count);
    return finish(n);
}

// function name(params) body, or (keyword false) the params and body of a getter or
// setter. The body is a block, or one assignment expression (an expression closure).
Node* Parser::functionNode(bool declaration, bool keyword) {
    enter();
    Token first = cur_;
    if (keyword) advance(); // function
    Node* fn = make(N_FUNCTION, first);
    Scope* outer = scope_;
    outer->fn->keepsVars = true; // a closure
    if (keyword && is(T_NAME)) {
        Node* name = make(N_NAME, cur_);
        name->name = nameOf(cur_);
        name->end = cur_.end;
        fn->a = name;
        advance();
        if (declaration) name->binding = declare(outer->fn, name->name, B_FUNC, name);
    } else if (declaration) {
        fail("missing name after function keyword");
    }
    Scope* s = pushScope(S_FUNCTION, fn);
    s->strict = outer->fn->strict;
    fn->scope = s;
    int savedLoops = loopDepth_;
    bool savedIn = inFunction_;
    std::vector<Label> savedLabels;
    savedLabels.swap(labels_);
    loopDepth_ = 0;
    inFunction_ = true;
    expect(P_LPAREN, "missing ( before formal parameters");
    size_t params = listStart();
    if (!is(P_RPAREN)) {
        do {
            Node* p = bindingTarget();
            declarePattern(p, B_PARAM, s);
            listAdd(p);
        } while (accept(P_COMMA));
    }
    expect(P_RPAREN, "missing ) after formal parameters");
    fn->list = takeList(params, &fn->count);
    if (is(P_LBRACE)) {
        fn->b = functionBody(fn);
    } else {
        flag(first.start); // an expression closure
        fn->b = assignment();
    }
    finish(fn);
    if (s->generator) flag(first.start);
    if (s->strict) fn->flags |= F_STRICT;
    if (s->generator && s->valueReturn) {
        std::string m = "generator function " + (fn->a ? fn->a->name.str() : std::string()) +
                        " returns a value";
        char* p = static_cast<char*>(arena_->alloc(m.size() + 1));
        memcpy(p, m.c_str(), m.size() + 1);
        failAt(s->valueReturn->line, p, true);
    }
    loopDepth_ = savedLoops;
    inFunction_ = savedIn;
    labels_.swap(savedLabels);
    popScope();
    leave();
    return fn;
}

Node* Parser::functionBody(Node* fn) {
    Token first = cur_;
    advance(); // {
    Node* body = statementList(N_BODY, first, P_RBRACE);
    advance(); // }
    body->scope = fn->scope;
    return finish(body);
}

// ---- statements ----------------------------------------------------------------------

Node* Parser::block() {
    Token first = cur_;
    expect(P_LBRACE, "missing {");
    Node* n = make(N_BLOCK, first);
    Scope* s = pushScope(S_BLOCK, n);
    size_t list = listStart();
    while (!is(P_RBRACE)) {
        if (is(P_LT) && htmlComment()) continue;
        if (is(T_EOF)) fail("missing } in compound statement");
        listAdd(statement());
    }
    advance();
    popScope();
    n->scope = s;
    n->list = takeList(list, &n->count);
    return finish(n);
}

// A let declaration stands only directly within a block, a switch body, or at the top of a
// function or program: not alone as the statement of an if, a loop, a with or a label.
Node* Parser::subStatement() {
    if (is(K_LET) && peek().type != P_LPAREN) fail("let declaration not directly within block");
    return statement();
}

Node* Parser::statement() {
    enter();
    // Whether a label stands right before this statement (a loop then answers `continue`
    // with that label).
    direct_ = directNext_;
    directNext_ = false;
    skipHtmlComments(); // `<!--` where a statement starts: a comment, not XML
    Token first = cur_;
    Node* n = statementAt(first);
    leave();
    return n;
}

// The statement that starts with the current token (`first`, as it was), by that token.
Node* Parser::statementAt(const Token& first) {
    switch (cur_.type) {
    case P_LBRACE:
        return block();
    case K_VAR:
    case K_CONST:
    case K_LET:
        return variableStatement();
    case P_SEMI:
        return emptyStatement(first);
    case K_IF:
        return ifStatement();
    case K_FOR:
        return forStatement();
    case K_WHILE:
        return whileStatement();
    case K_DO:
        return doWhileStatement();
    case K_CONTINUE:
        return jump(N_CONTINUE);
    case K_BREAK:
        return jump(N_BREAK);
    case K_RETURN:
        return returnStatement();
    case K_WITH:
        return withStatement();
    case K_SWITCH:
        return switchStatement();
    case K_THROW:
        return throwStatement();
    case K_TRY:
        return tryStatement();
    case K_DEBUGGER:
        return debuggerStatement(first);
    case K_FUNCTION:
        if (peek().type != P_COLONCOLON) return functionDeclaration();
        return expressionStatement(first); // function::name (E4X) begins an expression
    case T_NAME:
        if (peek().type == P_COLON) return labelled(first);
        if (cur_.end - cur_.start == 6) { // getter, setter, export, import
            if (peek().type == K_FUNCTION && accessorWord()) return accessorFunction();
            if (isName("export")) return exportStatement();
            if (isName("import")) return importStatement();
        }
        [[fallthrough]];
    case K_DEFAULT:
        if (atDefaultNamespace()) return defaultNamespace();
        [[fallthrough]];
    default:
        return expressionStatement(first);
    }
}

Node* Parser::emptyStatement(const Token& first) {
    Node* n = make(N_EMPTY, first);
    advance();
    return finish(n);
}

Node* Parser::debuggerStatement(const Token& first) {
    advance();
    Node* n = make(N_DEBUGGER, first);
    semicolon();
    return finish(n);
}

// var, const or let declarations as a statement; `let (` starts a let statement.
Node* Parser::variableStatement() {
    if (is(K_LET) && peek().type == P_LPAREN) return letStatement();
    Node* n = variables(cur_.type, false);
    semicolon();
    return finish(n);
}

Node* Parser::expressionStatement(const Token& first) {
    Node* n = make(N_EXPR, first);
    n->a = expression();
    n->a->flags |= F_STATEMENT;
    semicolon();
    return finish(n);
}

Node* Parser::whileStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_WHILE, first);
    labels_.push_back({Name(), n, true, false, direct_});
    n->a = condition();
    n->b = loopBody();
    labels_.pop_back();
    return finish(n);
}

Node* Parser::doWhileStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_DOWHILE, first);
    labels_.push_back({Name(), n, true, false, direct_});
    n->b = loopBody();
    labels_.pop_back();
    expect(K_WHILE, "missing while after do-loop body");
    n->a = condition();
    accept(P_SEMI); // always optional after do-while
    return finish(n);
}

// return [value]: the first return of a value is kept (a generator may not have one).
Node* Parser::returnStatement() {
    if (!inFunction_) fail("return not in function");
    Token first = cur_;
    advance();
    Node* n = make(N_RETURN, first);
    if (!is(P_SEMI) && !is(P_RBRACE) && !is(T_EOF) && !cur_.nl) {
        n->a = expression();
        if (!scope_->fn->valueReturn) scope_->fn->valueReturn = n;
    }
    semicolon();
    return finish(n);
}

Node* Parser::withStatement() {
    scope_->fn->keepsVars = true;
    Token first = cur_;
    advance();
    Node* n = make(N_WITH, first);
    expect(P_LPAREN, "missing ( before with-statement object");
    n->a = expression();
    expect(P_RPAREN, "missing ) after with-statement object");
    Node* outer = xmlWith(n);
    n->b = subStatement();
    xmlScope_ = outer;
    return finish(n);
}

Node* Parser::throwStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_THROW, first);
    if (cur_.nl) fail("line break after throw");
    n->a = expression();
    semicolon();
    return finish(n);
}

Node* Parser::functionDeclaration() {
    Node* n = make(N_FUNCDECL, cur_);
    if (scope_->kind != S_FUNCTION) blockFunctions.push_back(n);
    n->a = functionNode(true, true);
    if (n->a->b && n->a->b->kind != N_BODY) semicolon(); // expression closure
    return finish(n);
}

Node* Parser::variables(int kind, bool noIn) {
    Token first = cur_;
    advance();
    Node* n = make(N_VAR, first);
    n->op = static_cast<uint8_t>(kind);
    if (kind != K_VAR) flag(first.start);
    BindKind bk = kind == K_VAR ? B_VAR : kind == K_LET ? B_LET : B_CONST;
    Scope* target = kind == K_LET ? scope_ : varScope();
    size_t list = listStart();
    do {
        Token dfirst = cur_;
        Node* d = make(N_DECL, dfirst);
        d->a = bindingTarget();
        if (accept(P_ASSIGN)) {
            d->b = assignment(noIn);
        } else if (d->a->kind != N_NAME && !(noIn && is(K_IN))) {
            fail("missing = in destructuring declaration");
        }
        declarePattern(d->a, bk, target);
        listAdd(finish(d));
    } while (accept(P_COMMA));
    n->list = takeList(list, &n->count);
    return finish(n);
}

// The parenthesized condition of if, while and do-while.
Node* Parser::condition() {
    expect(P_LPAREN, "missing ( before condition");
    Node* e = expression();
    expect(P_RPAREN, "missing ) after condition");
    return e;
}

// The body of a loop, counted in loopDepth_: a scope inside is entered again on each turn.
Node* Parser::loopBody() {
    loopDepth_++;
    Node* body = subStatement();
    loopDepth_--;
    return body;
}

Node* Parser::ifStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_IF, first);
    n->a = condition();
    n->b = subStatement();
    if (accept(K_ELSE)) n->c = subStatement();
    return finish(n);
}

// for (init; test; update), for (x in o), for each (x in o), each with var, let or a
// pattern on the left.
Node* Parser::forStatement() {
    Token first = cur_;
    bool direct = direct_;
    advance();
    bool each = false;
    if (isName("each")) {
        each = true;
        flag(first.start);
        advance();
    }
    Node* n = make(N_FOR, first);
    Scope* s = pushScope(S_BLOCK, n);
    n->scope = s;
    expect(P_LPAREN, "missing ( after for");
    Node* init = nullptr;
    if (is(K_VAR) || is(K_CONST) || (is(K_LET) && peek().type != P_LPAREN)) {
        init = variables(cur_.type, true);
    } else if (!is(P_SEMI)) {
        init = expression(true);
    }
    labels_.push_back({Name(), n, true, false, direct});
    if (is(K_IN)) {
        forIn(n, init, each);
    } else {
        if (each) fail("missing in after for each");
        if (init && init->kind == N_VAR) {
            for (uint32_t i = 0; i < init->count; i++)
                if (init->list[i]->a->kind != N_NAME && !init->list[i]->b)
                    fail("missing = in destructuring declaration");
        }
        n->a = init;
        expect(P_SEMI, "missing ; after for-loop initializer");
        if (!is(P_SEMI)) n->b = expression();
        expect(P_SEMI, "missing ; after for-loop condition");
        if (!is(P_RPAREN)) n->c = expression();
        expect(P_RPAREN, "missing ) after for-loop control");
        n->d = loopBody();
    }
    labels_.pop_back();
    popScope();
    return finish(n);
}

Node* Parser::forIn(Node* n, Node* left, bool each) {
    n->kind = N_FORIN;
    n->op = each ? 1 : 0;
    if (!left) fail("invalid for/in left-hand side");
    if (left->kind == N_VAR) {
        // One name or pattern; a pattern takes its values from the loop, not an initialiser.
        if (left->count != 1 || (left->list[0]->b && left->list[0]->a->kind != N_NAME))
            fail("invalid for/in left-hand side");
    } else {
        if (left->kind == N_ARRAY || left->kind == N_OBJECT) left = toPattern(left, false);
        if (!isTarget(left) && left->kind != N_ARRAYPAT && left->kind != N_OBJECTPAT)
            fail("invalid for/in left-hand side");
    }
    Node* target = left->kind == N_VAR ? left->list[0]->a : left;
    // `for ([k, v] in o)` walks key and value pairs: only that pattern is allowed there.
    if (!each &&
        (target->kind == N_OBJECTPAT || (target->kind == N_ARRAYPAT && target->count != 2)))
        fail(
            "left-hand side of for..in loop must be an array of length 2 to accept key/value pair");
    n->a = left;
    advance(); // in
    n->b = expression();
    expect(P_RPAREN, "missing ) after for-loop control");
    n->d = loopBody();
    return n;
}

Node* Parser::jump(NodeKind k) {
    Token first = cur_;
    advance();
    Node* n = make(k, first);
    if (is(T_NAME) && !cur_.nl) {
        n->name = nameOf(cur_);
        advance();
        for (size_t i = labels_.size(); i-- > 0;) {
            if (labels_[i].name.n && labels_[i].name == n->name) {
                n->target = labels_[i].stmt;
                if (k == N_CONTINUE) {
                    // The loop the label (or a chain of labels) stands right before.
                    size_t j = i + 1;
                    while (j < labels_.size() && labels_[j].name.n && labels_[j].direct)
                        j++;
                    bool ok = j < labels_.size() && labels_[j].loop && labels_[j].direct;
                    if (!ok) fail("invalid continue");
                    n->target = labels_[j].stmt;
                }
                break;
            }
        }
        if (!n->target) fail("label not found");
    } else {
        for (size_t i = labels_.size(); i-- > 0;) {
            if (labels_[i].loop || (k == N_BREAK && labels_[i].sw)) {
                n->target = labels_[i].stmt;
                break;
            }
        }
        if (!n->target) fail(k == N_BREAK ? "invalid break" : "invalid continue");
    }
    semicolon();
    return finish(n);
}

Node* Parser::labelled(const Token& first) {
    Node* n = make(N_LABEL, first);
    n->name = nameOf(cur_);
    for (const Label& l : labels_)
        if (l.name.n && l.name == n->name) fail("duplicate label");
    advance();
    advance(); // :
    labels_.push_back({n->name, n, false, false, direct_});
    // A loop right after the label registers itself as directly labelled, so that
    // `continue label` finds it (see jump()).
    directNext_ = true;
    n->a = subStatement();
    labels_.pop_back();
    return finish(n);
}

Node* Parser::switchStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_SWITCH, first);
    expect(P_LPAREN, "missing ( before switch expression");
    n->a = expression();
    expect(P_RPAREN, "missing ) after switch expression");
    expect(P_LBRACE, "missing { before switch body");
    Scope* s = pushScope(S_BLOCK, n);
    n->scope = s;
    labels_.push_back({Name(), n, false, true, false});
    size_t cases = listStart();
    bool haveDefault = false;
    while (!is(P_RBRACE)) {
        Token cfirst = cur_;
        Node* c = make(N_CASE, cfirst);
        if (accept(K_DEFAULT)) {
            if (haveDefault) fail("more than one switch default");
            haveDefault = true;
        } else {
            expect(K_CASE, "invalid switch statement");
            c->a = expression();
        }
        expect(P_COLON, "missing : after case label");
        size_t list = listStart();
        while (!is(K_CASE) && (!is(K_DEFAULT) || atDefaultNamespace()) && !is(P_RBRACE)) {
            if (is(P_LT) && htmlComment()) continue;
            if (is(T_EOF)) fail("missing } in switch statement");
            listAdd(statement());
        }
        c->list = takeList(list, &c->count);
        listAdd(finish(c));
    }
    advance();
    labels_.pop_back();
    popScope();
    n->list = takeList(cases, &n->count);
    return finish(n);
}

Node* Parser::tryStatement() {
    Token first = cur_;
    advance();
    Node* n = make(N_TRY, first);
    n->a = block();
    size_t catches = listStart();
    bool unconditional = false;
    while (is(K_CATCH)) {
        if (unconditional) fail("catch after unconditional catch");
        Token cfirst = cur_;
        advance();
        Node* c = make(N_CATCH, cfirst);
        Scope* s = pushScope(S_CATCH, c);
        c->scope = s;
        expect(P_LPAREN, "missing ( before catch");
        c->a = catchParameter(s);
        if (accept(K_IF)) {
            flag(cfirst.start);
            c->b = expression();
        } else {
            unconditional = true;
        }
        expect(P_RPAREN, "missing ) after catch");
        c->c = block();
        popScope();
        listAdd(finish(c));
    }
    n->list = takeList(catches, &n->count);
    if (accept(K_FINALLY)) n->b = block();
    if (!n->count && !n->b) fail("missing catch or finally after try");
    return finish(n);
}

// A catch clause's parameter: a name, or a pattern (whose names the clause declares).
Node* Parser::catchParameter(Scope* s) {
    if (is(P_LBRACKET) || is(P_LBRACE)) {
        flag(cur_.start);
        Node* p = bindingTarget();
        declarePattern(p, B_CATCH, s);
        return p;
    }
    if (!is(T_NAME)) fail("missing identifier in catch");
    Node* p = make(N_NAME, cur_);
    p->name = nameOf(cur_);
    p->end = cur_.end;
    advance();
    p->binding = declare(s, p->name, B_CATCH, p);
    return p;
}

// let (x = 1, y) { ... } as a statement; `let (...) expr;` is an expression statement.
Node* Parser::letStatement() {
    Token first = cur_;
    Node* head = letExpression(true);
    if (head->kind == N_LETSTMT) return head;
    Node* n = make(N_EXPR, first);
    n->a = head;
    head->flags |= F_STATEMENT;
    semicolon();
    return finish(n);
}

} // namespace translator
