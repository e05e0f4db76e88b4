// The translator's parser: recursive descent over the tokens of lexer.h, building the tree
// of ast.h for ECMAScript 5.1 with the JavaScript 1.6-1.8 additions and E4X. Tokens, nodes
// and scopes are in parse_base.cpp, statements in parse_stmt.cpp, expressions in
// parse_expr.cpp, patterns in parse_pattern.cpp, the E4X forms in parse_xml.cpp, the 1.5
// accessors and export/import in parse_legacy.cpp. It also builds the scopes (declarations
// as they are met), records each name reference with the scope it was met in, for
// resolve.cpp, and flags the offsets of what the writer must write differently.
#ifndef CAPSULE_TRANSLATOR_PARSER_H
#define CAPSULE_TRANSLATOR_PARSER_H

#include "core/translator/ast.h"
#include "core/translator/lexer.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace translator {

// A located error: the parser throws it, translate() turns it into its result.
struct SyntaxFailure {
    uint32_t line;
    std::string message;
    bool typeError;
};

// Maximum nesting of statements and expressions (about 1500 parentheses, 500 functions:
// the engine's compiler stops near there too); deeper source, or source that would take
// the calling thread's stack below what the embedder keeps free (stackLow()), is a
// SyntaxError rather than a stack overflow. A level takes at most about 300 bytes.
constexpr int kMaxDepth = 3000;
constexpr const char* kTooDeep = "nesting too deep";
// True when the calling thread's stack is nearly used up (setStackCheck; never without one).
bool stackLow();

enum ParseMode { PARSE_PROGRAM, PARSE_EVAL, PARSE_FUNCTION };

class Parser {
  public:
    Parser(const char* src, size_t len, Arena* arena);
    // The whole source as a program (or eval code, or a function expression, as the
    // engine's compiler takes it). Throws SyntaxFailure.
    Node* parse(ParseMode mode, bool strict);

    std::vector<Token, BlockAllocator<Token>> tokens; // every token consumed, in order
    // A name reference, with the scope it was met in (kept apart from the node, which the
    // resolution reads only for the few references that meet a let or const).
    struct Ref {
        Name name;
        Scope* scope;
        Node* node;
    };
    std::vector<Ref> refs;
    std::vector<Scope*> functions; // function scopes, outermost first
    std::vector<Scope*> scopes;    // every scope, in order of creation
    // Source offsets inside every node that must be written differently (the writer asks
    // whether a node's range holds one), sorted once the parse is done; and each yield's
    // offset with its function, sorted by function.
    std::vector<uint32_t> dirty;
    std::vector<std::pair<Scope*, uint32_t>> yields;
    std::vector<uint32_t> htmlComments; // where a <!-- (or a leading -->) comment starts
                                        // (few, in order)
    void flag(uint32_t at) { dirty.push_back(at); }
    // Names declared with let or const (or as a catch parameter): only references to these
    // need resolving. Block and catch scopes that declare anything.
    std::unordered_set<std::string_view> wanted;
    std::vector<Scope*> blocks;
    // Function declarations that stand in a block rather than directly in a function body.
    std::vector<Node*> blockFunctions;
    // Each with statement whose object a bare E4X selector asks (N_WITH op 1), with the
    // with statement or filter around it (or null).
    std::unordered_map<Node*, Node*> xmlOuter;
    const char* src() const { return lex_.src(); }

  private:
    friend struct ExprParser;
    friend struct XmlReader;
    // tokens
    void advance();
    const Token& peek();
    bool is(int t) const { return cur_.type == t; }
    bool isName(const char* s) const;
    bool accept(int t);
    void expect(int t, const char* what);
    void semicolon();
    Name nameOf(const Token& t) {
        return t.escaped ? unescapedName(t) : Name{src() + t.start, t.end - t.start};
    }
    Name unescapedName(const Token& t);
    [[noreturn]] void fail(const char* msg);
    [[noreturn]] void failAt(uint32_t line, const char* msg, bool typeError = false);
    void enter() {
        if (++depth_ > kMaxDepth || ((depth_ & 15) == 0 && stackLow())) fail(kTooDeep);
    }
    void leave() { depth_--; }

    // A node (inline: one for every few tokens).
    Node* make(NodeKind k, const Token& first) {
        Node* n = arena_->make<Node>();
        n->kind = k;
        n->start = first.start;
        n->line = first.line;
        n->scope = scope_;
        return n;
    }
    Node* finish(Node* n) {
        n->end = prevEnd_;
        n->after = static_cast<uint32_t>(tokens.size());
        return n;
    }
    Node** toList(const std::vector<Node*>& v, uint32_t* count);
    // The lists being parsed (statements, arguments, elements...) gather on one stack, as
    // they nest, and move into the arena when complete: no allocation per list.
    size_t listStart() const { return listStack_.size(); }
    void listAdd(Node* n) { listStack_.push_back(n); }
    size_t listSize(size_t start) const { return listStack_.size() - start; }
    Node** takeList(size_t start, uint32_t* count);

    // scopes
    Scope* pushScope(ScopeKind k, Node* owner);
    void popScope() { scope_ = scope_->parent; }
    Binding* declare(Scope* s, const Name& n, BindKind k, Node* decl);
    [[noreturn]] void redeclared(const Binding* old, const Node* decl);
    void declarePattern(Node* target, BindKind k, Scope* s);
    Scope* varScope() const { return scope_->fn; }
    Node* nameRef(const Token& t);

    // statements (parse_stmt.cpp)
    Node* statement();
    Node* subStatement(); // the statement that an if, a loop, a with or a label governs
    Node* statementAt(const Token& first); // statement()'s dispatch by the first token
    Node* statementList(NodeKind kind, const Token& first, int endTok);
    Node* block();
    Node* variableStatement();
    Node* emptyStatement(const Token& first);
    Node* debuggerStatement(const Token& first);
    Node* expressionStatement(const Token& first);
    Node* condition();
    Node* loopBody();
    Node* variables(int kind, bool noIn);
    Node* ifStatement();
    Node* whileStatement();
    Node* doWhileStatement();
    Node* returnStatement();
    Node* withStatement();
    Node* throwStatement();
    Node* functionDeclaration();
    Node* forStatement();
    Node* forIn(Node* n, Node* left, bool each);
    Node* switchStatement();
    Node* tryStatement();
    Node* letStatement();
    Node* jump(NodeKind k);
    Node* labelled(const Token& name);
    Node* catchParameter(Scope* s);
    Node* functionNode(bool declaration, bool keyword);
    Node* functionBody(Node* fn);

    // expressions (parse_expr.cpp)
    Node* expression(bool noIn = false);
    Node* assignment(bool noIn = false);
    Node* conditional(Node* c, const Token& first, bool noIn);
    Node* binary(int minPrec, bool noIn);
    Node* unary();
    Node* postfix(Node* e, const Token& first);
    Node* leftHandSide(bool allowCall);
    Node* primary();
    Node* arrayLiteral();
    Node* objectLiteral();
    Node* parenthesized();
    Node* sharpVariable();
    // Where the references and scopes of an expression begin (for a comprehension, whose
    // expression is parsed before its `for` shows what it is).
    struct Mark {
        size_t refs, scopes;
    };
    Mark here() const { return Mark{refs.size(), scopes.size()}; }
    Node* comprehension(NodeKind kind, Node* expr, const Token& first, int endTok, Mark mark);
    Node* letExpression(bool statement = false, bool noIn = false);
    Node* yieldExpression(bool noIn);
    void arguments(Node* call);
    Node* propertyKey();
    Node* toPattern(Node* n, bool binding);
    Node* bindingTarget();
    bool isTarget(Node* n) const;

    // JavaScript 1.5 accessors, export and import (parse_legacy.cpp)
    int accessorWord() const; // 1 at `getter`, 2 at `setter`, else 0
    Node* accessorAssignment(Node* target, const Token& first, bool noIn);
    bool accessorProperty(Node* prop);
    Node* accessorFunction();
    Node* exportStatement();
    Node* importStatement();
    Node* wordStatement(NodeKind k);
    bool atScriptTop() const { return !inFunction_ && mode_ == PARSE_PROGRAM; }

    // E4X (parse_xml.cpp)
    bool atXmlStart() const;
    bool htmlComment();
    void skipHtmlComments() {
        while (is(P_LT) && htmlComment()) {}
    }
    Node* xmlLiteral();
    Node* xmlSelector(Node* qualifier);
    Node* xmlMember(Node* object, const Token& first, bool descendants, Node* qualifier);
    Node* xmlFilter(Node* object, const Token& first);
    Node* xmlBare(Node* qualifier);
    Node* xmlQualifier(const Token& t);
    Node* xmlWith(Node* with);
    Node* defaultNamespace();
    bool atDefaultNamespace();

    struct Label {
        Name name;
        Node* stmt;
        bool loop, sw;
        bool direct; // right after a label
    };

    Lexer lex_;
    Arena* arena_;
    Token cur_, ahead_;
    bool haveAhead_ = false;
    uint32_t prevEnd_ = 0;
    int depth_ = 0;
    Scope* scope_ = nullptr;
    std::vector<Label> labels_;
    std::vector<Name> pendingLabels_;
    std::vector<Node*> listStack_;
    bool direct_ = false, directNext_ = false;
    int loopDepth_ = 0; // loops of the current function around the current point
    bool inFunction_ = false;
    ParseMode mode_ = PARSE_PROGRAM;
    Node* filter_ = nullptr;   // the innermost E4X filter around the current point
    Node* xmlScope_ = nullptr; // the innermost filter or with statement around it
    uint32_t xmlWiths_ = 0;    // with statements whose objects bare selectors ask
    // The sharp variables defined so far (#n=), with the function each belongs to.
    std::vector<std::pair<Scope*, Name>> sharps_;
};

// Whether a name is one of the words ECMAScript 5.1 keeps for later (class, enum ...).
bool reserved(const Name& n);

} // namespace translator

#endif
