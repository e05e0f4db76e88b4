// The translator's writer: walks the tree and writes ECMAScript 5.1. A node that needs no
// change is copied from the source as it stands; the others are written by construct
// (write.cpp: the core and plain statements; write_let.cpp: let, const and scopes;
// write_pattern.cpp: destructuring and for-in heads; write_compr.cpp: comprehensions,
// generator expressions, conditional catch; write_gen*.cpp: generators as state machines;
// write_xml.cpp: the E4X forms; write_legacy.cpp: the 1.5 accessors, export and import,
// catch patterns).
// Every source token keeps its line: the writer pads with line breaks to reach a token's
// line, puts generated text on the current line and never adds a line of its own.
#ifndef CAPSULE_TRANSLATOR_WRITER_H
#define CAPSULE_TRANSLATOR_WRITER_H

#include "core/translator/parser.h"
#include "core/translator/resolve.h"
#include "core/translator/translate.h"

#include <string.h>
#include <algorithm>
#include <charconv>
#include <string>
#include <unordered_map>
#include <vector>

namespace translator {

// A statement of a generator split into states: where break and continue go.
struct Target {
    int brk, cont;
    int zone;
};

// The state machine being written.
struct Gen {
    std::string g, loop;    // the generator object's name, the dispatch loop's label
    std::string s, v, r;    // the state, the value sent in, the value being yielded
    std::string exit;       // the label of the step's end, where registers are stored
    bool registers = false; // the body's variables are locals of the step
    // The yields of the generator's own body (offsets, sorted).
    const std::pair<Scope*, uint32_t>* yields = nullptr;
    const std::pair<Scope*, uint32_t>* yieldsEnd = nullptr;
    int states = 1;         // the next state number (0 is the start)
    int zone = -1;          // the current try zone
    std::vector<int> table; // per zone: parent, catch state, catch zone, finally state
    // The objects of the with statements around the statement being written (innermost
    // last): their blocks close before each state's label and open again after it.
    std::vector<std::string> withs;
    std::unordered_map<Node*, Target> targets;
};

// What the writer knows about the function it is in.
struct FnCtx {
    Scope* scope = nullptr;
    FnCtx* parent = nullptr;
    int tempsUsed = 0, tempsMax = 0;
    std::vector<std::string> vars;  // variables to declare at the top (beyond temporaries)
    Gen* gen = nullptr;             // inside a generator's state function
    std::string thisName, argsName; // what `this` and `arguments` are written as
    bool rewriteAll = false;        // a generator's body: every node written anew (for
                                    // var, return, this... ), none copied whole
};

// The writer's output: bytes appended in place, without a call for each of the many
// appends of a few bytes; and the few edits the writer makes behind its end.
class Output {
  public:
    size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    void clear() { n_ = 0; }
    char back() const { return s_[n_ - 1]; }
    const char* data() const { return s_.data(); }
    void reserve(size_t n) {
        if (n > s_.size()) s_.resize(n);
    }
    void append(const char* p, size_t n) {
        if (n > s_.size() - n_) grow(n);
        char* d = &s_[n_];
        // Most pieces are a few bytes: moved in two overlapping words, without a call.
        if (n >= 8 && n <= 16) {
            memcpy(d, p, 8);
            memcpy(d + n - 8, p + n - 8, 8);
        } else if (n >= 4 && n < 8) {
            memcpy(d, p, 4);
            memcpy(d + n - 4, p + n - 4, 4);
        } else if (n == 2 || n == 3) {
            memcpy(d, p, 2);
            d[n - 1] = p[n - 1];
        } else if (n == 1) {
            d[0] = p[0];
        } else {
            memcpy(d, p, n);
        }
        n_ += n;
    }
    void append(size_t count, char c) {
        if (count > s_.size() - n_) grow(count);
        memset(&s_[n_], c, count);
        n_ += count;
    }
    Output& operator+=(char c) {
        if (n_ == s_.size()) grow(1);
        s_[n_++] = c;
        return *this;
    }
    Output& operator+=(const char* p) {
        append(p, strlen(p));
        return *this;
    }
    Output& operator+=(const std::string& t) {
        append(t.data(), t.size());
        return *this;
    }
    void insert(size_t at, const char* p, size_t n) {
        if (n > s_.size() - n_) grow(n);
        memmove(&s_[at + n], &s_[at], n_ - at);
        memcpy(&s_[at], p, n);
        n_ += n;
    }
    void overwrite(size_t at, const char* p, size_t n) { memcpy(&s_[at], p, n); }
    // The first offset from `from` on whose byte is not in `set` (npos if none), and the
    // last offset of byte c.
    size_t findFirstNotOf(const char* set, size_t from) const {
        for (size_t i = from; i < n_; i++)
            if (!s_[i] || !strchr(set, s_[i])) return i;
        return std::string::npos;
    }
    size_t findLast(char c) const {
        for (size_t i = n_; i-- > 0;)
            if (s_[i] == c) return i;
        return std::string::npos;
    }
    void swap(Output& o) {
        s_.swap(o.s_);
        std::swap(n_, o.n_);
    }
    std::string str() const { return s_.substr(0, n_); }
    std::string take() {
        s_.resize(n_);
        n_ = 0;
        return std::move(s_);
    }

  private:
    void grow(size_t n); // rare: kept out of the appends
    std::string s_;      // the bytes; only the first n_ are written
    size_t n_ = 0;
};

// Appends pieces of text (strings, or numbers written in decimal) to s, without the
// temporaries that joining them with + would make.
template <class S> void append(S& s, const std::string& piece) {
    s += piece;
}
template <class S> void append(S& s, const char* piece) {
    s += piece;
}
template <class S> void append(S& s, char piece) {
    s += piece;
}
template <class S> void append(S& s, int number) {
    if (number >= 0 && number < 10) { // most numbers written are states and indexes
        s += static_cast<char>('0' + number);
        return;
    }
    char buf[32]; // more than an int needs: the compiler sees that append() stays inside it
    s.append(buf, std::to_chars(buf, buf + sizeof buf, number).ptr - buf);
}
template <class S, class... T> void cat(S& s, const T&... pieces) {
    (append(s, pieces), ...);
}

// A piece of an expression: text, or a node written when the piece is.
struct Part {
    Node* node;
    std::string text;
};
using Parts = std::vector<Part>;

class Writer {
  public:
    Writer(Parser& p, Names& names);
    // Writes the program (or the function of a Function constructor).
    std::string run(Node* root);
    std::vector<FunctionSpan> spans; // the functions written, as they finished
    bool oneThread = false;          // no second thread for a large program

    // ---- output (write.cpp) ----
    void write(Node* n);
    // Whether the node's text holds something written differently (or, in a generator, a
    // yield of the generator's own).
    bool isDirty(const Node* n) const;
    bool hasYield(const Node* n) const;
    void copy(uint32_t from, uint32_t to);
    void text(const std::string& s) { out_ += s; }
    void text(const char* s) { out_ += s; }
    template <class... T> void put(const T&... pieces) { cat(out_, pieces...); }
    // Inserts s at output offset `at` (behind which only the functions written since lie).
    void insertText(size_t at, const std::string& s) { insertText(at, s.data(), s.size()); }
    void insertText(size_t at, const char* p, size_t n);
    // Moves to the line of source offset `at`/node `n` (never back).
    void toLine(uint32_t line) {
        if (outLine_ < line) newLines(line);
    }
    void at(Node* n) { toLine(n->line); }
    void token(uint32_t offset, const char* replacement); // a token written differently
    void token(uint32_t offset, const char* p, size_t n);
    void writeParts(const Parts& p);
    std::string temp(); // a temporary of the current function
    const std::string& tempName(int i);
    std::string name(Node* n); // a name node as written (renamed or not)
    const std::string& prefix() const { return names_.prefix(); }
    FnCtx* fn() { return fn_; }
    bool strict() const;
    // The index of the first token that starts at or after offset. Lookups mostly ask for
    // the last answer again, or move a little from it: the search starts there.
    uint32_t tokenAt(uint32_t offset) const { return hint_ = tokenFrom(hint_, offset); }
    // The same, leaving the last answer where it was: for a look at a statement's end
    // before the statement is written from its start.
    uint32_t tokenNear(uint32_t offset) const { return tokenFrom(hint_, offset); }
    uint32_t tokenAfter(const Node* n) const; // tokenNear(n->end)
    const Token& tok(uint32_t i) const { return p_.tokens[i]; }
    const char* src() const { return src_; }

  private:
    uint32_t tokenFrom(uint32_t from, uint32_t offset) const; // searched from index `from`
    void newLines(uint32_t line);
    void writeHoles(Node* n);
    // write() by node kind
    void writeConstruct(Node* n);
    void writeName(Node* n);
    void writeAtom(Node* n);
    void writeAssignment(Node* n);
    void writeScopeOwner(Node* n);
    void writeProperty(Node* n);
    void writeSharp(Node* n);
    bool takeStatementEnd(Node* n);
    void writeStatementEnd(bool asi);
    void writeFunction(Node* n);
    std::string keptHolders(const Scope* s);
    void writeBody(Node* body, Node* fn, const std::string& head);
    // The statements [from, to) of a body, from source offset pos on; returns the offset
    // after the last (write_split.cpp: a large program's on two threads).
    uint32_t writeStatements(Node* body, uint32_t from, uint32_t to, uint32_t pos);
    uint32_t writeProgram(Node* body, uint32_t from, uint32_t pos);
    void insertVars(size_t at, FnCtx& ctx);
    void copyTokens(uint32_t from, uint32_t to);

    // ---- let, const, scopes (write_let.cpp) ----
    void writeVar(Node* n, bool head);
    void writeFunctionInPlace(Node* n);
    void writeDecls(Node* n, bool asVar);
    void writeScoped(Node* n);
    void writeLetStatement(Node* n);
    void writeLetExpression(Node* n);
    void writeConstAssign(Node* n);
    std::string freshOpen(Scope* s, const std::vector<std::string>* values);

  public:
    // ---- destructuring (write_pattern.cpp) ----
    // Writes `target = source` for every leaf of the pattern, separated by commas.
    void destructure(Node* pattern, const std::string& source, bool first);
    void writePatternAssign(Node* n);
    // The access of a pattern's element i (source[i], source.key) and its target.
    Node* elementAccess(Node* pat, uint32_t i, const std::string& source, std::string* access);
    void writeForIn(Node* n);
    // Writes the assignment of the loop's current value (in `value`) to a for-in head.
    void assignHead(Node* left, const std::string& value, bool declare);
    Node* headTarget(Node* left) const;

  private:
    // ---- comprehensions, generator expressions, catch guards (write_compr.cpp) ----
    void writeComprehension(Node* n);
    void writeGenExpr(Node* n);
    void writeTry(Node* n);
    void writeShorthand(Node* n);

    // ---- JavaScript 1.5 accessors, export and import (write_legacy.cpp) ----
    void writeLegacy(Node* n);
    void writeAccessor(Node* n);
    void writeAccessorProperty(Node* n);
    void writeAccessorFunction(Node* n);
    void writeImport(Node* n);
    // A catch clause's pattern: each name bound by a catch of its own, nested; returns the
    // braces that close them.
    std::string bindCatch(Node* target, const std::string& source, int depth);

    // ---- E4X (write_xml.cpp) ----
    struct XmlOut;
    void writeXmlForm(Node* n);
    void writeXml(Node* n);
    void xmlString(XmlOut& o);
    void writeXmlText(XmlOut& o, uint32_t from, uint32_t to);
    void writeXmlPart(XmlOut& o, Node* part);
    void writeXmlQualified(Node* sel);
    void writeXmlKey(Node* sel);
    void writeXmlName(Node* n);
    void writeXmlMember(Node* n);
    void writeXmlFilter(Node* n);
    void writeXmlNamespace(Node* n);
    void writeXmlWith(Node* n);
    void writeXmlMethodCall(Node* call);
    void writeXmlScopedMethod(Node* sel, Node* call, const std::string& withs,
                              const std::string& item);
    void writeXmlLocal(Node* sel);
    std::string xmlWithVar(Node* with);
    void writeOperand(Node* e);

  public:
    // ---- generators (write_gen.cpp, write_gen_expr.cpp, write_gen_regs.cpp) ----
    void writeGenerator(Node* fn, FnCtx& ctx, size_t at, uint32_t first);
    void writeGeneratorStatement(Node* n);
    void genStatement(Node* s);
    void explodeStatement(Node* n);
    // explodeStatement() by statement kind
    void jumpWhen(Node* e, bool whenTrue, int state, int zone);
    void explodeExpressionStatement(Node* e);
    void explodeThrow(Node* n);
    void explodeIf(Node* n);
    void explodeWhile(Node* n);
    void loopBody(Node* loop, Node* body, int top, int end);
    void explodeDoWhile(Node* n);
    void explodeFor(Node* n);
    void explodeForIn(Node* n);
    void explodeLabel(Node* n);
    void explodeSwitch(Node* n);
    void explodeLetStatement(Node* n);
    void explodeWith(Node* n);
    void enterHolder(Node* n);
    void explodeVar(Node* n);
    void explodeDeclaration(Node* d);
    void explodeTry(Node* n);
    void exitTry(int parent, int fin, int end);
    void jump(int state, int zone); // writes the jump to a state of another zone
    void yieldText(const Parts& value, int state);
    void stepHead(Gen& g, size_t* load);
    void stepTail(Gen& g);
    void placeRegisters(Gen& g, size_t load, const std::vector<std::string>& regs,
                        const std::vector<std::string>& initial, const std::string& table);
    bool isAssigned(const std::string& name) const;
    void nameGen(Gen& g, bool function);
    int newState();
    void mark(int state);
    std::string name_(Binding* b);
    void collectAssigned(Node* n);
    std::vector<bool> assigned_;      // for each of params_: the body assigns to it
    std::vector<Node*> walk_;         // collectAssigned's stack
    std::vector<std::string> params_; // the generator's parameters, as written
    // An expression holding a yield: the statements up to its last yield are written, the
    // rest comes back as parts (write_gen_expr.cpp).
    Parts explode(Node* e);
    // explode() by node kind
    Parts explodeYield(Node* e);
    Parts explodeLogical(Node* e);
    Parts explodeBinary(Node* e);
    Parts explodeConditional(Node* e);
    Parts explodeAssign(Node* e);
    Parts explodeCompoundAssign(Node* e, const Parts& target);
    Parts explodeCall(Node* e);
    Parts explodeComma(Node* e);
    Parts explodeArray(Node* e);
    Parts explodeObject(Node* e);
    Parts explodeXml(Node* e);
    Parts explodeXmlFilter(Node* e);
    Parts explodeLetExpression(Node* e);
    void store(const std::string& temp, const Parts& value);
    Parts spill(const Parts& p);
    std::vector<Parts> explodeList(const std::vector<Node*>& ops);
    void substitute(Node* e, const Parts& value);
    // Operands whose value a generator took before a yield, written as their temporary.
    std::vector<std::pair<const Node*, std::string>> substitutes_;
    std::vector<std::string> tempNames_;
    std::vector<std::string> genNames_;
    std::string stepHeads_[2]; // stepHead's text, for generators and generator expressions

    Parser& p_;
    Names& names_;
    const char* src_;
    Output out_;
    Output scratch_; // text built before it is inserted into out_ (insertVars, placeRegisters)
    uint32_t outLine_ = 1;
    FnCtx* fn_ = nullptr;
    mutable uint32_t hint_ = 0;      // the last answer of tokenAt
    mutable uint32_t dirtyHint_ = 0; // and of isDirty
};

// The first index i of the sorted array a[0..n) where !less(a[i], key) (lower_bound),
// searched from index `from` outwards in growing steps, then by halving.
template <class T, class Less>
uint32_t gallop(const T* a, uint32_t n, uint32_t from, uint32_t key, Less less) {
    uint32_t lo, hi;
    if (from < n && less(a[from], key)) {
        lo = from + 1, hi = from + 1; // a[lo - 1] < key
        for (uint32_t step = 1; hi < n && less(a[hi], key); step *= 2) {
            lo = hi + 1;
            hi = hi + step < n ? hi + step : n;
        }
        if (hi > n) hi = n;
    } else {
        hi = from < n ? from : n, lo = hi; // a[hi] >= key, or hi == n
        for (uint32_t step = 1; lo > 0 && !less(a[lo - 1], key); step *= 2) {
            hi = lo - 1;
            lo = lo > step ? lo - step : 0;
        }
    }
    while (lo < hi) { // a[lo - 1] < key (or lo == 0), a[hi] >= key (or hi == n)
        uint32_t mid = lo + (hi - lo) / 2;
        if (less(a[mid], key)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

inline uint32_t Writer::tokenFrom(uint32_t from, uint32_t offset) const {
    return gallop(p_.tokens.data(), static_cast<uint32_t>(p_.tokens.size()), from, offset,
                  [](const Token& a, uint32_t o) { return a.start < o; });
}

// Appends a part of text to p.
inline void addText(Parts& p, const std::string& s) {
    p.push_back(Part{nullptr, s});
}

} // namespace translator

#endif
