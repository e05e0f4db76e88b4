// The parser's expressions: ECMAScript 5.1 operators by precedence climbing, literals (a
// regular expression where an operand is expected), and the JavaScript 1.7/1.8 forms:
// yield, let expressions, array comprehensions and generator expressions (destructuring
// patterns are parsed as literals first: parse_pattern.cpp).
#include "core/translator/parser.h"

namespace translator {

namespace {

// Binding power of binary operators; 0 for tokens that are none.
int precedence(int t, bool noIn) {
    switch (t) {
    case P_LOR:
        return 1;
    case P_LAND:
        return 2;
    case P_BOR:
        return 3;
    case P_BXOR:
        return 4;
    case P_BAND:
        return 5;
    case P_EQ:
    case P_NE:
    case P_SEQ:
    case P_SNE:
        return 6;
    case P_LT:
    case P_GT:
    case P_LE:
    case P_GE:
    case K_INSTANCEOF:
        return 7;
    case K_IN:
        return noIn ? 0 : 7;
    case P_SHL:
    case P_SHR:
    case P_USHR:
        return 8;
    case P_ADD:
    case P_SUB:
        return 9;
    case P_MUL:
    case P_DIV:
    case P_MOD:
        return 10;
    }
    return 0;
}

} // namespace

Node* Parser::expression(bool noIn) {
    Token first = cur_;
    Node* e = assignment(noIn);
    if (!is(P_COMMA)) return e;
    Node* n = make(N_COMMA, first);
    size_t list = listStart();
    listAdd(e);
    while (accept(P_COMMA))
        listAdd(assignment(noIn));
    n->list = takeList(list, &n->count);
    return finish(n);
}

bool Parser::isTarget(Node* n) const {
    switch (n->kind) {
    case N_NAME:
    case N_MEMBER:
    case N_INDEX:
    case N_CALL:
        return true;
    case N_PAREN:
        return isTarget(n->a);
    case N_XMLMEMBER:
        return n->op == 0 && !(n->b->op & XS_FUNCTION); // x.@a, not x..a nor x.function::a
    case N_XMLNAME:
        // A bare @a or * of a filter's item; not a bare ns::a, which names a QName.
        return n->target && n->target->kind == N_XMLFILTER && !(n->op & XS_FUNCTION) &&
               ((n->op & XS_ATTR) || (!n->a && !(n->op & XS_ANYNS)));
    default:
        return false;
    }
}

Node* Parser::assignment(bool noIn) {
    enter();
    Token first = cur_;
    Node* n;
    if (is(K_YIELD)) {
        n = yieldExpression(noIn);
    } else if (is(K_LET) && peek().type == P_LPAREN) {
        n = letExpression(false, noIn);
    } else {
        n = binary(1, noIn);
        if (is(P_QUESTION)) n = conditional(n, first, noIn);
        if (is(T_NAME) && !cur_.nl) n = accessorAssignment(n, first, noIn); // o.x getter = f
        if (isAssignOp(cur_.type)) {
            int op = cur_.type;
            Node* left = n;
            // ({a: x}) = o: a pattern in parentheses is a pattern all the same.
            if (op == P_ASSIGN && left->kind == N_PAREN) {
                Node* inner = left->a;
                while (inner->kind == N_PAREN)
                    inner = inner->a;
                if (inner->kind == N_ARRAY || inner->kind == N_OBJECT) left = inner;
            }
            if (op == P_ASSIGN && (left->kind == N_ARRAY || left->kind == N_OBJECT)) {
                left = toPattern(left, false);
            } else if (!isTarget(left)) {
                fail("invalid assignment left-hand side");
            }
            if (left->kind == N_NAME) left->flags |= F_TARGET;
            advance();
            n = make(N_ASSIGN, first);
            n->op = static_cast<uint8_t>(op);
            n->a = left;
            n->b = assignment(noIn);
            finish(n);
        }
    }
    leave();
    return n;
}

Node* Parser::yieldExpression(bool noIn) {
    Token first = cur_;
    if (!inFunction_) fail("yield not in function");
    for (Scope* s = scope_; s != s->fn; s = s->parent)
        if (s->kind == S_COMPREHENSION) fail("yield in a comprehension is not supported");
    scope_->fn->generator = true;
    flag(first.start);
    yields.push_back({scope_->fn, first.start});
    advance();
    Node* n = make(N_YIELD, first);
    switch (cur_.type) {
    case P_RPAREN:
    case P_RBRACKET:
    case P_RBRACE:
    case P_COMMA:
    case P_SEMI:
    case P_COLON:
    case T_EOF:
        break;
    default:
        if (!cur_.nl && !(noIn && is(K_IN))) n->a = assignment(noIn);
    }
    return finish(n);
}

// The rest of `c ? a : b` from the `?` (the condition, which started at first, is parsed).
Node* Parser::conditional(Node* c, const Token& first, bool noIn) {
    advance();
    Node* n = make(N_COND, first);
    n->a = c;
    n->b = assignment(false);
    expect(P_COLON, "missing : in conditional expression");
    n->c = assignment(noIn);
    return finish(n);
}

// Each operator of a left-associative chain nests the tree one level deeper: the chain
// counts towards the depth limit as long as it lasts.
Node* Parser::binary(int minPrec, bool noIn) {
    Token first = cur_;
    int saved = depth_;
    Node* left = unary();
    for (;;) {
        if (is(P_LT) && htmlComment()) continue;
        int prec = precedence(cur_.type, noIn);
        if (!prec || prec < minPrec) break;
        int op = cur_.type;
        advance();
        enter();
        Node* n = make(N_BINARY, first);
        n->op = static_cast<uint8_t>(op);
        n->a = left;
        n->b = binary(prec + 1, noIn);
        left = finish(n);
    }
    depth_ = saved;
    return left;
}

Node* Parser::unary() {
    Token first = cur_;
    switch (cur_.type) {
    case K_DELETE:
    case K_VOID:
    case K_TYPEOF:
    case P_ADD:
    case P_SUB:
    case P_BNOT:
    case P_NOT:
    case P_INC:
    case P_DEC: {
        int op = cur_.type;
        advance();
        enter();
        Node* n = make(N_UNARY, first);
        n->op = static_cast<uint8_t>(op);
        n->a = unary();
        leave();
        if ((op == P_INC || op == P_DEC) && !isTarget(n->a)) fail("invalid increment operand");
        if ((op == P_INC || op == P_DEC) && n->a->kind == N_NAME) n->a->flags |= F_TARGET;
        return finish(n);
    }
    }
    Node* e = leftHandSide(true);
    if ((is(P_INC) || is(P_DEC)) && !cur_.nl) return postfix(e, first);
    return e;
}

// `e++` or `e--` from the operator (e, which started at first, is parsed).
Node* Parser::postfix(Node* e, const Token& first) {
    if (!isTarget(e)) fail("invalid increment operand");
    if (e->kind == N_NAME) e->flags |= F_TARGET;
    Node* n = make(N_POSTFIX, first);
    n->op = cur_.type;
    n->a = e;
    advance();
    return finish(n);
}

void Parser::arguments(Node* call) {
    Token open = cur_;
    advance(); // (
    size_t args = listStart();
    if (!is(P_RPAREN)) {
        do {
            Mark mark = here();
            Node* a = assignment();
            if (is(K_FOR) && !listSize(args)) {
                // f(x for (x in o)): a generator expression as the only argument, without
                // parentheses of its own (the call's close it).
                Token from = open;
                from.start = a->start;
                from.line = a->line;
                a = comprehension(N_GENEXPR, a, from, 0, mark);
                listAdd(a);
                break;
            }
            listAdd(a);
        } while (accept(P_COMMA));
    }
    // f(yield x, y): a yield beside other arguments needs parentheses of its own.
    if (listSize(args) > 1)
        for (size_t i = args; i < listStack_.size(); i++)
            if (listStack_[i]->kind == N_YIELD)
                failAt(listStack_[i]->line, "yield expression must be parenthesized");
    expect(P_RPAREN, "missing ) after argument list");
    call->list = takeList(args, &call->count);
}

Node* Parser::leftHandSide(bool allowCall) {
    int saved = depth_;
    enter();
    Token first = cur_;
    Node* e;
    if (is(K_NEW)) {
        advance();
        Node* n = make(N_NEW, first);
        n->a = leftHandSide(false);
        if (is(P_LPAREN)) {
            arguments(n);
        } else {
            n->flags |= F_NOARGS;
        }
        e = finish(n);
    } else {
        e = primary();
    }
    for (;;) {
        if (is(P_DOT) || is(P_DOTDOT) || is(P_LBRACKET) || (is(P_LPAREN) && allowCall)) enter();
        if (is(P_DOT)) {
            advance();
            if (is(P_AT) || is(P_MUL)) {
                e = xmlMember(e, first, false, nullptr);
                continue;
            }
            if (is(P_LPAREN)) {
                e = xmlFilter(e, first);
                continue;
            }
            if (cur_.type != T_NAME && !isKeyword(cur_.type)) fail("missing name after . operator");
            Token name = cur_;
            advance();
            if (is(P_COLONCOLON) && (name.type == T_NAME || name.type == K_FUNCTION)) {
                e = xmlMember(e, first, false, xmlQualifier(name));
                continue;
            }
            Node* n = make(N_MEMBER, first);
            n->a = e;
            n->name = nameOf(name);
            e = finish(n);
        } else if (is(P_DOTDOT)) {
            advance();
            e = xmlMember(e, first, true, nullptr);
        } else if (is(P_LBRACKET)) {
            advance();
            Node* n = make(N_INDEX, first);
            n->a = e;
            n->b = expression();
            expect(P_RBRACKET, "missing ] in index expression");
            e = finish(n);
        } else if (is(P_LPAREN) && allowCall) {
            Node* n = make(N_CALL, first);
            n->a = e;
            if (e->kind == N_NAME && e->name.n == 4 && !memcmp(e->name.p, "eval", 4)) {
                // A direct eval sees the names of every scope around it.
                for (Scope* s = scope_; s; s = s->parent)
                    s->fn->hasEval = true;
            }
            arguments(n);
            e = finish(n);
        } else {
            break;
        }
    }
    depth_ = saved;
    return e;
}

Node* Parser::primary() {
    Token first = cur_;
    Node* n;
    switch (cur_.type) {
    case T_NAME:
        n = nameRef(cur_);
        advance();
        if (is(P_COLONCOLON)) return xmlBare(n); // ns::name
        return n;
    case P_AT:
    case P_MUL:
        return xmlBare(nullptr); // @name, *::name, * (E4X)
    case P_LT:
        if (atXmlStart()) return xmlLiteral();
        break;
    case K_THIS:
        scope_->fn->usesThis = true;
        [[fallthrough]];
    case K_NULL:
    case K_TRUE:
    case K_FALSE:
    case T_NUMBER:
    case T_STRING:
        n = make(N_ATOM, first);
        n->op = cur_.type;
        advance();
        return finish(n);
    case P_DIV:
    case P_DIV_EQ:
        haveAhead_ = false;
        cur_ = lex_.rescanRegExp(cur_);
        if (lex_.failed()) failAt(lex_.errorLine(), lex_.error());
        n = make(N_ATOM, cur_);
        n->op = T_REGEXP;
        advance();
        return finish(n);
    case P_LBRACKET:
        return arrayLiteral();
    case P_LBRACE:
        return objectLiteral();
    case P_LPAREN:
        return parenthesized();
    case T_SHARPDEF:
    case T_SHARPUSE:
        return sharpVariable();
    case K_FUNCTION:
        if (peek().type == P_COLONCOLON) { // function::name (E4X): a method in scope
            n = xmlQualifier(cur_);
            advance();
            return xmlBare(n);
        }
        return functionNode(false, true);
    case K_LET:
        if (peek().type == P_LPAREN) return letExpression();
        break;
    }
    fail("syntax error");
}

Node* Parser::arrayLiteral() {
    Token first = cur_;
    advance(); // [
    Node* n = make(N_ARRAY, first);
    size_t list = listStart();
    while (!is(P_RBRACKET)) {
        if (is(P_COMMA)) {
            advance();
            listAdd(nullptr);
            continue;
        }
        Mark mark = here();
        Node* e = assignment();
        if (is(K_FOR) && !listSize(list))
            return comprehension(N_COMPREHENSION, e, first, P_RBRACKET, mark);
        listAdd(e);
        if (!is(P_RBRACKET)) expect(P_COMMA, "missing ] after element list");
    }
    advance();
    n->list = takeList(list, &n->count);
    return finish(n);
}

// A property's name in an object literal or pattern: a name, a keyword, a string or a number.
Node* Parser::propertyKey() {
    if (cur_.type != T_NAME && cur_.type != T_STRING && cur_.type != T_NUMBER &&
        !isKeyword(cur_.type))
        fail("invalid property id");
    Node* key = make(N_ATOM, cur_);
    key->op = cur_.type;
    key->name = nameOf(cur_);
    advance();
    key->end = prevEnd_;
    return key;
}

Node* Parser::objectLiteral() {
    Token first = cur_;
    advance(); // {
    Node* n = make(N_OBJECT, first);
    size_t list = listStart();
    while (!is(P_RBRACE)) {
        Token pfirst = cur_;
        Node* p = make(N_PROP, pfirst);
        bool accessor = false;
        if ((isName("get") || isName("set")) && peek().type != P_COLON && peek().type != P_COMMA &&
            peek().type != P_RBRACE && peek().type != P_LPAREN) {
            p->op = src()[cur_.start] == 'g' ? 1 : 2;
            accessor = true;
            advance();
        }
        Token keyTok = cur_;
        p->a = propertyKey();
        if (accessor) {
            // get name() {...}: the rest is a function without the keyword and name.
            p->b = functionNode(false, false);
        } else if (accept(P_COLON)) {
            p->b = assignment();
        } else if (is(T_NAME) && accessorProperty(p)) {
            flag(pfirst.start); // x getter: function () {...}
        } else if (keyTok.type == T_NAME && (is(P_COMMA) || is(P_RBRACE))) {
            p->op = 3; // {a, b}: shorthand for {a: a, b: b}
            flag(pfirst.start);
            p->b = nameRef(keyTok);
        } else {
            fail("missing : after property id");
        }
        listAdd(finish(p));
        if (!is(P_RBRACE)) expect(P_COMMA, "missing } after property list");
    }
    advance();
    n->list = takeList(list, &n->count);
    return finish(n);
}

Node* Parser::parenthesized() {
    Token first = cur_;
    advance(); // (
    Node* n = make(N_PAREN, first);
    Mark mark = here();
    Node* e = assignment();
    if (is(K_FOR)) return comprehension(N_GENEXPR, e, first, P_RPAREN, mark);
    if (is(P_COMMA)) {
        Node* c = make(N_COMMA, cur_);
        c->start = e->start;
        c->line = e->line;
        size_t list = listStart();
        listAdd(e);
        while (accept(P_COMMA))
            listAdd(assignment());
        c->list = takeList(list, &c->count);
        e = finish(c);
    }
    expect(P_RPAREN, "missing ) in parenthetical");
    n->a = e;
    return finish(n);
}

// #n=[...] or #n={...} names the literal's object while it is built, so that #n# inside
// it (or after it, in its function or one inside) means that object: how cyclic values
// are written. A use needs a definition before it.
Node* Parser::sharpVariable() {
    Token first = cur_;
    Node* n = make(N_SHARP, first);
    const char* digits = src() + first.start + 1;
    n->name = Name{digits, first.end - first.start - 2};
    flag(first.start);
    advance();
    if (first.type == T_SHARPDEF) {
        if (!is(P_LBRACKET) && !is(P_LBRACE))
            failAt(first.line, "invalid sharp variable definition");
        sharps_.push_back({scope_->fn, n->name});
        n->a = is(P_LBRACKET) ? arrayLiteral() : objectLiteral();
        if (n->a->kind != N_ARRAY && n->a->kind != N_OBJECT)
            failAt(first.line, "invalid sharp variable definition");
        return finish(n);
    }
    for (Scope* s = scope_->fn; s; s = s->parent ? s->parent->fn : nullptr)
        for (const auto& d : sharps_)
            if (d.first == s && d.second == n->name) return finish(n);
    failAt(first.line, "invalid sharp variable use");
}

// [expr for (x in o) ... if (c)] and (expr for ...): expr was parsed before the `for` was
// seen, in the scope around; its names move into the comprehension's own scope.
Node* Parser::comprehension(NodeKind kind, Node* expr, const Token& first, int endTok, Mark mark) {
    Node* n = make(kind, first);
    flag(first.start);
    Scope* outer = scope_;
    if (kind == N_GENEXPR) outer->fn->keepsVars = true;
    Scope* s = arena_->make<Scope>();
    s->kind = S_COMPREHENSION;
    s->parent = outer;
    s->fn = outer->fn;
    s->node = n;
    s->inLoop = loopDepth_ > 0;
    n->scope = s;
    for (size_t i = mark.refs; i < refs.size(); i++)
        if (refs[i].scope == outer) refs[i].scope = s;
    for (size_t i = mark.scopes; i < scopes.size(); i++)
        if (scopes[i]->parent == outer) scopes[i]->parent = s;
    scopes.push_back(s);
    s->nextInFn = s->fn->firstInFn;
    s->fn->firstInFn = s;
    scope_ = s;
    n->a = expr;
    size_t clauses = listStart();
    while (is(K_FOR)) {
        Token cfirst = cur_;
        advance();
        Node* c = make(N_FORCLAUSE, cfirst);
        if (isName("each")) {
            c->op = 1;
            advance();
        }
        expect(P_LPAREN, "missing ( after for");
        c->a = bindingTarget();
        if (!c->op && (c->a->kind == N_OBJECTPAT || (c->a->kind == N_ARRAYPAT && c->a->count != 2)))
            fail("left-hand side of for..in loop must be an array of length 2 to accept "
                 "key/value pair");
        expect(K_IN, "missing in after for");
        c->b = expression();
        expect(P_RPAREN, "missing ) after for-loop control");
        declarePattern(c->a, B_LET, s);
        listAdd(finish(c));
    }
    if (accept(K_IF)) {
        expect(P_LPAREN, "missing ( before condition");
        n->b = expression();
        expect(P_RPAREN, "missing ) after condition");
    }
    scope_ = outer;
    n->list = takeList(clauses, &n->count);
    if (endTok)
        expect(endTok, endTok == P_RBRACKET ? "missing ] after element list"
                                            : "missing ) after generator expression");
    return finish(n);
}

// let (x = 1, [a, b] = f()) body: the initialisers see the scope around, the body (a block
// for a let statement, an expression, commas included, otherwise) sees the new names.
Node* Parser::letExpression(bool statement, bool noIn) {
    Token first = cur_;
    flag(first.start);
    advance(); // let
    expect(P_LPAREN, "missing ( after let");
    size_t decls = listStart();
    if (!is(P_RPAREN)) {
        do {
            Node* d = make(N_DECL, cur_);
            d->a = bindingTarget();
            if (accept(P_ASSIGN)) {
                d->b = assignment();
            } else if (d->a->kind != N_NAME) {
                fail("missing = in destructuring declaration");
            }
            listAdd(finish(d));
        } while (accept(P_COMMA));
    }
    expect(P_RPAREN, "missing ) after let head");
    // A block after the head makes a let statement where a statement stands; in an expression
    // the brace opens an object literal.
    Node* n = make(statement && is(P_LBRACE) ? N_LETSTMT : N_LETEXPR, first);
    Scope* s = pushScope(S_BLOCK, n);
    n->scope = s;
    n->list = takeList(decls, &n->count);
    for (uint32_t i = 0; i < n->count; i++)
        declarePattern(n->list[i]->a, B_LET, s);
    n->a = n->kind == N_LETSTMT ? block() : expression(noIn);
    popScope();
    return finish(n);
}

} // namespace translator
