// The parser's E4X forms (ECMA-357 section 11): XML and XMLList initialisers, read here
// byte by byte (JavaScript lexing is off inside them except in braces, whose expressions the
// parser reads as usual), attribute, wildcard and qualified selectors after `.` and `..` and
// as operands, filtering predicates and `default xml namespace`. The markup of an
// initialiser becomes T_XML tokens between the tokens of its braced expressions, so the
// token list stays in source order for the writer.
#include "core/translator/parser.h"

namespace translator {

namespace {

bool xmlNameStart(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool xmlNameChar(int c) {
    return xmlNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

} // namespace

// Reads one initialiser: elements nest on a stack of open tags (no recursion by depth), each
// closing tag is checked against its opening one when both names are written out.
struct XmlReader {
    struct Open {
        uint32_t name, n; // the tag name in the source (n = 0: braces are part of it)
        uint32_t line;
        bool list; // the <> of an XMLList initialiser
    };

    Parser& p;
    const char* s;
    uint32_t len;
    uint32_t pos, line;
    uint32_t piece, pieceLine; // where the markup since the last braced expression starts
    std::vector<Node*> parts;
    std::vector<Open> open;

    XmlReader(Parser& parser, const Token& first)
        : p(parser), s(parser.src()), len(static_cast<uint32_t>(parser.lex_.size())),
          pos(first.start), line(first.line), piece(first.start), pieceLine(first.line) {}

    int at(uint32_t i) const { return i < len ? static_cast<unsigned char>(s[i]) : -1; }
    bool starts(const char* w) const {
        size_t n = strlen(w);
        return pos + n <= len && !memcmp(s + pos, w, n);
    }
    [[noreturn]] void fail(uint32_t where, const char* msg) { p.failAt(where, msg); }
    void step() {
        size_t n = lineBreakAt(s + pos, s + len);
        if (n) {
            pos += static_cast<uint32_t>(n);
            line++;
        } else {
            pos++;
        }
    }
    bool space() {
        bool any = false;
        for (int c = at(pos); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = at(pos)) {
            step();
            any = true;
        }
        return any;
    }
    // A tag or attribute name of text and braced expressions together (`p:b{n}`, `{a}{b}`,
    // `x{i}y`): true when a brace was part of it. Nothing read: an empty name.
    bool nameParts() {
        uint32_t from = pos;
        bool braced = false;
        for (;;) {
            if (at(pos) == '{') {
                brace(XP_NAME);
                braced = true;
            } else if (pos == from ? xmlNameStart(at(pos)) : xmlNameChar(at(pos))) {
                pos++;
            } else {
                return braced;
            }
        }
    }
    // Skips to the end of `close` (comments, CDATA, processing instructions, quoted values).
    void until(const char* close, const char* msg) {
        uint32_t from = line;
        while (!starts(close)) {
            if (pos >= len) fail(from, msg);
            step();
        }
        pos += static_cast<uint32_t>(strlen(close));
    }

    // The markup read since the last braced expression, as a token.
    Token pieceToken() const {
        Token t;
        t.type = T_XML;
        t.start = piece;
        t.end = pos;
        t.line = pieceLine;
        return t;
    }

    // { expression }: the parser reads it with the lexer, from the brace on.
    void brace(XmlRole role) {
        if (pos > piece) p.tokens.push_back(pieceToken());
        Token at;
        at.start = pos;
        at.line = line;
        p.lex_.reset(at);
        p.haveAhead_ = false;
        p.cur_ = p.lex_.next(); // {
        Node* part = p.make(N_XMLPART, p.cur_);
        part->op = role;
        p.advance();
        part->a = p.expression();
        if (!p.is(P_RBRACE)) p.fail("missing } in XML expression");
        // The closing brace ends the expression: the markup goes on right after it.
        p.tokens.push_back(p.cur_);
        p.prevEnd_ = p.cur_.end;
        p.haveAhead_ = false;
        pos = piece = p.cur_.end;
        line = pieceLine = p.cur_.line;
        parts.push_back(p.finish(part));
    }

    // <!-- -->, <![CDATA[ ]]>, <? ?>
    bool markup() {
        if (starts("<!--")) {
            until("-->", "unterminated XML comment");
        } else if (starts("<![CDATA[")) {
            until("]]>", "unterminated XML CDATA section");
        } else if (starts("<?")) {
            until("?>", "unterminated XML processing instruction");
        } else {
            return false;
        }
        return true;
    }

    // <name attributes> or <name attributes/>, from the `<`; an element left open is pushed.
    void startTag() {
        Open o{0, 0, line, false};
        pos++;
        uint32_t from = pos;
        if (!nameParts()) {
            o.name = from;
            if (!(o.n = pos - from))
                fail(line, at(pos) == '!' ? "invalid XML markup" : "invalid XML tag name");
        }
        for (;;) {
            bool spaced = space();
            int c = at(pos);
            if (c == '/' && at(pos + 1) == '>') {
                pos += 2;
                return;
            }
            if (c == '>') {
                pos++;
                open.push_back(o);
                return;
            }
            if (c < 0) fail(o.line, "unterminated XML tag");
            if (!spaced) fail(line, "invalid XML tag");
            // An attribute name, or (a name that starts with a brace and has no value)
            // attributes given as text.
            uint32_t from = pos;
            nameParts();
            if (pos == from) fail(line, "invalid XML attribute name");
            space();
            if (at(pos) != '=') {
                if (c == '{') continue;
                fail(line, "missing = after XML attribute name");
            }
            pos++;
            space();
            c = at(pos);
            if (c == '"' || c == '\'') {
                uint32_t from = line;
                for (pos++; at(pos) != c; step())
                    if (pos >= len) fail(from, "unterminated XML attribute value");
                pos++;
            } else if (c == '{') {
                brace(XP_VALUE);
            } else {
                fail(line, "XML attribute value must be quoted or in braces");
            }
        }
    }

    // </name> or </> of the innermost open element or list.
    void endTag() {
        uint32_t where = line;
        pos += 2;
        Open o = open.back();
        open.pop_back();
        if (at(pos) == '>' || o.list) {
            if (at(pos) != '>' || !o.list) fail(where, "mismatched XML tags");
            pos++;
            return;
        }
        uint32_t name = pos, n = 0;
        if (!nameParts() && !(n = pos - name)) fail(where, "invalid XML tag name");
        space();
        if (at(pos) != '>') fail(line, "missing > in XML end tag");
        pos++;
        if (n && o.n && (n != o.n || memcmp(s + name, s + o.name, n)))
            fail(where, "XML end tag does not match its start tag");
    }

    // Element content up to the end of the outermost open element.
    void content() {
        while (!open.empty()) {
            int c = at(pos);
            if (c < 0) {
                fail(open.back().line, open.back().list ? "unterminated XMLList initialiser"
                                                        : "unterminated XML element");
            } else if (c == '{') {
                brace(XP_CONTENT);
            } else if (c != '<') {
                while ((c = at(pos)) >= 0 && c != '<' && c != '{')
                    step();
            } else if (at(pos + 1) == '/') {
                endTag();
            } else if (!markup()) {
                startTag();
            }
        }
    }
};

// `<!--` where an operator is expected or a statement starts begins a comment to the end
// of the line, as the engine's lexer reads it (inside an expression, where an operand is
// expected, it is an XML comment). True when one was skipped.
bool Parser::htmlComment() {
    const char* p = src() + cur_.start;
    const char* end = src() + lex_.size();
    if (end - p < 4 || memcmp(p, "<!--", 4)) return false;
    htmlComments.push_back(cur_.start);
    while (p < end && !lineBreakAt(p, end))
        p++;
    Token eol;
    eol.start = static_cast<uint32_t>(p - src());
    eol.line = cur_.line;
    lex_.reset(eol);
    haveAhead_ = false;
    cur_ = lex_.next();
    if (lex_.failed()) failAt(lex_.errorLine(), lex_.error());
    return true;
}

// `<` where an operand is expected starts an initialiser when a name, `{`, `!`, `?` or `>`
// follows.
bool Parser::atXmlStart() const {
    uint32_t at = cur_.start + 1;
    if (!is(P_LT) || at >= lex_.size()) return false;
    int c = static_cast<unsigned char>(src()[at]);
    return xmlNameStart(c) || c == '{' || c == '!' || c == '?' || c == '>';
}

Node* Parser::xmlLiteral() {
    Token first = cur_;
    flag(first.start);
    Node* n = make(N_XML, first);
    XmlReader r(*this, first);
    if (r.at(r.pos + 1) == '>') {
        n->op = 1; // <> ... </>
        r.pos += 2;
        r.open.push_back(XmlReader::Open{0, 0, first.line, true});
    } else if (!r.markup()) {
        r.startTag();
    }
    r.content();
    // The markup since the last braced expression is the initialiser's last token; the
    // lexer goes on after it.
    Token after;
    after.start = r.pos;
    after.line = r.line;
    lex_.reset(after);
    haveAhead_ = false;
    cur_ = r.pieceToken();
    advance();
    n->list = toList(r.parts, &n->count);
    return finish(n);
}

// A property selector after `.` or `..`, or as an operand: @name, @*, @[e], *, name, and
// the qualified forms q::name, q::*, q::[e], *::name (each also after @). `qualifier` is the
// name before `::` when the caller has read it already.
Node* Parser::xmlSelector(Node* qualifier) {
    Node* n = make(N_XMLNAME, cur_);
    if (qualifier) {
        n->start = qualifier->start;
        n->line = qualifier->line;
        if (qualifier->kind == N_ATOM)
            n->op |= XS_FUNCTION;
        else
            n->a = qualifier;
    } else {
        if (accept(P_AT)) {
            n->op |= XS_ATTR;
            if (accept(P_LBRACKET)) {
                n->op |= XS_EXPR;
                n->b = expression();
                expect(P_RBRACKET, "missing ] in index expression");
                flag(n->start);
                return finish(n);
            }
        }
        if (accept(P_MUL)) {
            if (!is(P_COLONCOLON)) {
                n->op |= XS_STAR;
                flag(n->start);
                return finish(n);
            }
            n->op |= XS_ANYNS;
        } else if (is(T_NAME) || isKeyword(cur_.type)) {
            Token t = cur_;
            advance();
            if (!is(P_COLONCOLON)) {
                n->name = nameOf(t);
                flag(n->start);
                return finish(n);
            }
            if (t.type != T_NAME) failAt(t.line, "invalid XML name qualifier");
            n->a = nameRef(t);
        } else {
            fail("missing name after @");
        }
    }
    flag(n->start);
    advance(); // ::
    if (accept(P_LBRACKET)) {
        n->op |= XS_EXPR;
        n->b = expression();
        expect(P_RBRACKET, "missing ] in index expression");
    } else if (accept(P_MUL)) {
        n->op |= XS_STAR;
    } else if (is(T_NAME) || isKeyword(cur_.type)) {
        if (!is(T_NAME) || cur_.escaped) n->op |= XS_WORD;
        n->name = nameOf(cur_);
        advance();
    } else {
        fail("missing name after ::");
    }
    return finish(n);
}

// The name before `::` after a `.`: a namespace, or `function` (an atom of its own).
Node* Parser::xmlQualifier(const Token& t) {
    if (t.type == T_NAME) return nameRef(t);
    Node* n = make(N_ATOM, t);
    n->op = K_FUNCTION;
    return finish(n);
}

// x.@a, x.*, x.ns::a, x.function::a (after the `.`), x..a (after the `..`).
Node* Parser::xmlMember(Node* object, const Token& first, bool descendants, Node* qualifier) {
    Node* n = make(N_XMLMEMBER, first);
    n->op = descendants ? 1 : 0;
    n->a = object;
    n->b = xmlSelector(qualifier);
    return finish(n);
}

// x.(predicate): the predicate runs in a function of its own, inside `with` the item.
Node* Parser::xmlFilter(Node* object, const Token& first) {
    if (scope_->fn->strict) fail("XML filtering predicate in strict mode code");
    Node* n = make(N_XMLFILTER, first);
    flag(cur_.start);
    n->a = object;
    int depth = filter_ ? filter_->op + 1 : 1;
    if (depth > 255) fail(kTooDeep);
    n->op = static_cast<uint8_t>(depth);
    scope_->fn->usesThis = true; // the predicate is called with the `this` around it
    Node* outer = filter_;
    Node* outerScope = xmlScope_;
    filter_ = xmlScope_ = n;
    advance(); // (
    n->b = expression();
    expect(P_RPAREN, "missing ) in XML filtering predicate");
    filter_ = outer;
    xmlScope_ = outerScope;
    return finish(n);
}

// Enters the body of a with statement, whose object bare selectors inside may ask: returns
// the filter or with statement around it, for the caller to restore.
Node* Parser::xmlWith(Node* with) {
    Node* outer = xmlScope_;
    xmlOuter.emplace(with, outer);
    xmlScope_ = with;
    return outer;
}

// A selector as an operand: it selects from the objects of the with statements around it
// (innermost first, those that have the name) and then from the innermost filter's item.
// Every with statement on the way is marked to keep its object.
Node* Parser::xmlBare(Node* qualifier) {
    Token first = cur_;
    Node* n = xmlSelector(qualifier);
    if (n->op == XS_STAR && !xmlScope_) failAt(first.line, "syntax error");
    bool asksWith = !(n->a || (n->op & XS_ANYNS)) || (n->op & XS_ATTR);
    n->target = asksWith ? xmlScope_ : filter_;
    for (Node* w = n->target; w && w->kind == N_WITH; w = xmlOuter[w]) {
        if (w->op) continue;
        w->op = 1;
        w->name.n = ++xmlWiths_;
        flag(w->start);
    }
    return n;
}

bool Parser::atDefaultNamespace() {
    if (!is(K_DEFAULT)) return false;
    const Token& t = peek();
    return t.type == T_NAME && !t.escaped && t.end - t.start == 3 &&
           !memcmp(src() + t.start, "xml", 3);
}

// default xml namespace = expression;
Node* Parser::defaultNamespace() {
    Token first = cur_;
    flag(first.start);
    advance(); // default
    advance(); // xml
    if (!isName("namespace")) fail("missing namespace after default xml");
    advance();
    expect(P_ASSIGN, "missing = after default xml namespace");
    Node* n = make(N_XMLNS, first);
    n->a = expression();
    semicolon();
    if (inFunction_) scope_->fn->xmlns = true;
    return finish(n);
}

} // namespace translator
