// The parser's ground work: the token stream (with the semicolons it inserts), errors and
// the depth limit, node allocation, and scopes with their declarations (redeclarations of
// let and const are errors of the language) and the name references to resolve.
#include "core/translator/parser.h"
#include "core/translator/translate.h"

#include <stdlib.h>
#include <new>

namespace translator {

namespace {

BlockAllocate gAllocate = malloc;
BlockFree gRelease = free;
StackCheck gStackLow = nullptr;

} // namespace

void setStackCheck(StackCheck low) {
    gStackLow = low;
}

bool stackLow() {
    return gStackLow && gStackLow();
}

void setBlockFunctions(BlockAllocate allocate, BlockFree release) {
    gAllocate = allocate;
    gRelease = release;
}

void* Arena::block(size_t n) {
    void* p = gAllocate(n);
    if (!p) throw std::bad_alloc();
    return p;
}

void Arena::release(void* p) {
    gRelease(p);
}

Parser::Parser(const char* src, size_t len, Arena* arena) : lex_(src, len), arena_(arena) {
    tokens.reserve(len / 3 + 16);
    refs.reserve(len / 16 + 16); // about one reference in 20 bytes of dense source
    listStack_.reserve(256);
}

// ---- tokens --------------------------------------------------------------------------

void Parser::advance() {
    if (cur_.type != T_EOF || cur_.end) tokens.push_back(cur_);
    prevEnd_ = cur_.end;
    if (haveAhead_) {
        cur_ = ahead_;
        haveAhead_ = false;
    } else {
        lex_.next(&cur_);
    }
    if (lex_.failed()) failAt(lex_.errorLine(), lex_.error());
}

const Token& Parser::peek() {
    if (!haveAhead_) {
        lex_.next(&ahead_);
        haveAhead_ = true;
        if (lex_.failed()) failAt(lex_.errorLine(), lex_.error());
    }
    return ahead_;
}

bool Parser::isName(const char* s) const {
    size_t n = strlen(s);
    return cur_.type == T_NAME && !cur_.escaped && cur_.end - cur_.start == n &&
           !memcmp(src() + cur_.start, s, n);
}

bool Parser::accept(int t) {
    if (cur_.type != t) return false;
    advance();
    return true;
}

void Parser::expect(int t, const char* what) {
    if (cur_.type != t) fail(what);
    advance();
}

// A statement's end: `;`, or a semicolon inserted before `}`, the end, or a line break.
void Parser::semicolon() {
    if (accept(P_SEMI)) return;
    if (cur_.type == P_RBRACE || cur_.type == T_EOF || cur_.nl) {
        if (!tokens.empty()) tokens.back().asi = true;
        return;
    }
    fail("missing ; before statement");
}

// \uXXXX escapes: decode into the arena (as UTF-8) so that equal names compare equal.
Name Parser::unescapedName(const Token& t) {
    std::string s;
    for (uint32_t i = t.start; i < t.end;) {
        if (src()[i] != '\\') {
            s += src()[i++];
            continue;
        }
        unsigned v =
            static_cast<unsigned>(strtoul(std::string(src() + i + 2, 4).c_str(), nullptr, 16));
        i += 6;
        if (v < 0x80) {
            s += static_cast<char>(v);
        } else if (v < 0x800) {
            s += static_cast<char>(0xC0 | (v >> 6));
            s += static_cast<char>(0x80 | (v & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | (v >> 12));
            s += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (v & 0x3F));
        }
    }
    char* p = static_cast<char*>(arena_->alloc(s.size() + 1));
    memcpy(p, s.data(), s.size());
    return Name{p, static_cast<uint32_t>(s.size())};
}

void Parser::fail(const char* msg) {
    failAt(cur_.line, msg);
}

void Parser::failAt(uint32_t line, const char* msg, bool typeError) {
    throw SyntaxFailure{line, msg, typeError};
}

Node** Parser::toList(const std::vector<Node*>& v, uint32_t* count) {
    *count = static_cast<uint32_t>(v.size());
    if (v.empty()) return nullptr;
    Node** l = static_cast<Node**>(arena_->alloc(sizeof(Node*) * v.size()));
    memcpy(l, v.data(), sizeof(Node*) * v.size());
    return l;
}

Node** Parser::takeList(size_t start, uint32_t* count) {
    size_t n = listStack_.size() - start;
    *count = static_cast<uint32_t>(n);
    if (!n) return nullptr;
    Node** l = static_cast<Node**>(arena_->alloc(sizeof(Node*) * n));
    memcpy(l, listStack_.data() + start, sizeof(Node*) * n);
    listStack_.resize(start);
    return l;
}

// ---- scopes --------------------------------------------------------------------------

Scope* Parser::pushScope(ScopeKind k, Node* owner) {
    Scope* s = arena_->make<Scope>();
    s->kind = k;
    s->parent = scope_;
    s->node = owner;
    scopes.push_back(s);
    if (k == S_FUNCTION) {
        s->fn = s;
        s->depth = scope_ ? scope_->fn->depth + 1 : 0;
        functions.push_back(s);
    } else {
        s->fn = scope_->fn;
        s->inLoop = loopDepth_ > 0;
        s->nextInFn = s->fn->firstInFn;
        s->fn->firstInFn = s;
    }
    scope_ = s;
    return s;
}

// A TypeError naming the earlier declaration's kind: `redeclaration of var x`.
void Parser::redeclared(const Binding* old, const Node* decl) {
    static const char* const kinds[] = {"var ",   "formal parameter ", "function ", "variable ",
                                        "const ", "variable ",         "variable "};
    std::string m = std::string("redeclaration of ") + kinds[old->kind] + old->name.str();
    // The message must outlive this frame: keep it in the arena.
    char* p = static_cast<char*>(arena_->alloc(m.size() + 1));
    memcpy(p, m.c_str(), m.size() + 1);
    failAt(decl ? decl->line : cur_.line, p, true);
}

Binding* Parser::declare(Scope* s, const Name& n, BindKind k, Node* decl) {
    // A var, const or function declared in a block that has a let of the name already.
    if (s != scope_ && scope_->kind == S_BLOCK && (k == B_VAR || k == B_CONST || k == B_FUNC)) {
        Binding* let = scope_->find(n);
        if (let && let->kind == B_LET) redeclared(let, decl);
    }
    Binding* old = s->find(n);
    if (old) {
        bool lexical = k == B_LET || k == B_CONST || old->kind == B_LET || old->kind == B_CONST;
        // A name may be declared again with var, as a function or a parameter; a let or
        // const may not share its scope with another declaration of the name.
        if (lexical && !(k == B_VAR && old->kind == B_VAR)) redeclared(old, decl);
        if (k == B_FUNC) old->kind = B_FUNC;
        return old;
    }
    if (k == B_LET || k == B_CONST || k == B_CATCH) wanted.insert(std::string_view(n.p, n.n));
    if (!s->first && (s->kind == S_BLOCK || s->kind == S_CATCH)) blocks.push_back(s);
    Binding* b = arena_->binding();
    b->name = n;
    b->kind = k;
    b->scope = s;
    b->decl = decl;
    if (decl) b->declAt = decl->start;
    arena_->add(s, b);
    return b;
}

void Parser::declarePattern(Node* t, BindKind k, Scope* s) {
    if (!t) return;
    if (t->kind == N_NAME) {
        t->binding = declare(s, t->name, k, t);
    } else if (t->kind == N_ARRAYPAT) {
        for (uint32_t i = 0; i < t->count; i++)
            declarePattern(t->list[i], k, s);
    } else if (t->kind == N_OBJECTPAT) {
        for (uint32_t i = 0; i < t->count; i++)
            declarePattern(t->list[i]->b, k, s);
    }
}

// The words ECMAScript 5.1 keeps for later: no name may be one (the engine agrees).
bool reserved(const Name& n) {
    // By length first: it is met for every name, and most names have none of these lengths
    // and first letters.
    auto is = [&](const char* w) { return !memcmp(n.p, w, n.n); };
    switch (n.n) {
    case 4:
        return n.p[0] == 'e' && is("enum");
    case 5:
        return (n.p[0] == 'c' && is("class")) || (n.p[0] == 's' && is("super"));
    case 6:
        return (n.p[0] == 'e' && is("export")) || (n.p[0] == 'i' && is("import"));
    case 7:
        return n.p[0] == 'e' && is("extends");
    }
    return false;
}

Node* Parser::nameRef(const Token& t) {
    Node* n = make(N_NAME, t);
    n->name = nameOf(t);
    if (reserved(n->name)) failAt(t.line, "reserved word used as a name");
    n->end = t.end;
    refs.push_back(Ref{n->name, scope_, n});
    return n;
}

} // namespace translator
