// The writer's core (writer.h): copying source text with its lines, the generic writing of
// a node with some of its children changed, functions (parameter patterns, expression
// closures, the declarations of the writer's temporaries) and the dispatch by construct.
#include "core/translator/writer.h"

#include <algorithm>

namespace translator {

void Output::grow(size_t n) {
    s_.resize(std::max(s_.size() * 2, n_ + n + 64));
}

Writer::Writer(Parser& p, Names& names) : p_(p), names_(names), src_(p.src()) {}

// ---- output --------------------------------------------------------------------------

void Writer::newLines(uint32_t line) {
    for (; outLine_ < line; outLine_++)
        out_ += '\n';
}

namespace {

// The line terminators in [p, end): most ranges copied are a token or the spacing before
// one, short and on one line.
inline uint32_t lines(const char* p, const char* end) {
    if (end - p > 32) return countLines(p, end);
    for (const char* q = p; q < end; q++) {
        unsigned char c = static_cast<unsigned char>(*q);
        if (c == '\n' || c == '\r' || c == 0xE2) return countLines(p, end);
    }
    return 0;
}

// The bytes of names, by table: joins() below asks for each piece written.
struct IdentBytes {
    bool is[256];
    IdentBytes() {
        for (int c = 0; c < 256; c++)
            is[c] = isIdentByte(c);
    }
};
const IdentBytes kIdentBytes;

// Whether text starting with `next` would run into the output's last character (two names,
// `+ +`, `- -`, or `/` and a comment).
inline bool joins(const Output& out, char next) {
    if (out.empty()) return false;
    char last = out.back();
    if (kIdentBytes.is[static_cast<unsigned char>(last)])
        return kIdentBytes.is[static_cast<unsigned char>(next)] || next == '\\';
    if (last == '+' || last == '-') return next == last;
    return last == '/' && (next == '/' || next == '*');
}

// The line terminators inside a token: only strings (continued lines) and XML markup can
// hold any, and most tokens copied are names and punctuators.
inline uint32_t tokenLines(const char* src, const Token& t) {
    if (t.type != T_STRING && t.type != T_XML && t.type != T_EOF) return 0;
    return lines(src + t.start, src + t.end);
}

} // namespace

// Copies the tokens of [from, to): as the source has them (comments, spacing and line breaks
// included) while the output is not past their line, else token by token on the current
// line, with the semicolons the parser inserted written out.
void Writer::copy(uint32_t from, uint32_t to) {
    if (from >= to) return;
    const Token* toks = p_.tokens.data();
    uint32_t i = tokenAt(from), end = static_cast<uint32_t>(p_.tokens.size());
    while (i < end && toks[i].end <= to) {
        const Token& t = toks[i];
        if (outLine_ <= t.line) {
            // In step with the source from here on: copy the rest whole, with the spacing
            // before the first token when that is on the output's line. The range ends where
            // a token ends; most ranges (the text between two children) hold a token or two,
            // so the next few are looked at before a search.
            uint32_t next = i + 1;
            while (next < end && toks[next].start < to) {
                if (next - i == 4) {
                    next = tokenNear(to);
                    break;
                }
                next++;
            }
            hint_ = next;
            const Token& last = toks[next - 1];
            uint32_t begin = t.start, line = t.line;
            if (from < t.start) {
                uint32_t gap = lines(src_ + from, src_ + t.start);
                if (t.line - gap >= outLine_) begin = from, line = t.line - gap;
            }
            toLine(line);
            if (joins(out_, src_[begin])) out_ += ' ';
            uint32_t stop = last.end;
            while (stop < to && (src_[stop] == ' ' || src_[stop] == '\t'))
                stop++; // the spacing before what follows, when it is plain
            if (stop < to) stop = last.end;
            size_t base = out_.size();
            out_.append(src_ + begin, stop - begin);
            // A comment begun with <!-- becomes a // comment: the text around it may now
            // expect an operand, where <!-- would start an XML comment (and a leading -->
            // one too, which the engine takes after a line break only).
            for (uint32_t at : p_.htmlComments)
                if (at >= begin && at < stop) out_.overwrite(base + (at - begin), "//", 2);
            outLine_ = last.line + tokenLines(src_, last);
            if (last.asi) out_ += ';';
            return;
        }
        if (!out_.empty() && out_.back() != ' ') out_ += ' ';
        out_.append(src_ + t.start, t.end - t.start);
        outLine_ += tokenLines(src_, t);
        if (t.asi) out_ += ';';
        i++;
    }
}

void Writer::insertText(size_t at, const char* p, size_t n) {
    out_.insert(at, p, n);
    for (size_t i = spans.size(); i-- > 0 && spans[i].outStart >= at;) {
        spans[i].outStart += static_cast<uint32_t>(n);
        spans[i].outEnd += static_cast<uint32_t>(n);
    }
}

void Writer::token(uint32_t offset, const char* replacement) {
    token(offset, replacement, strlen(replacement));
}

void Writer::token(uint32_t offset, const char* p, size_t n) {
    uint32_t i = tokenAt(offset);
    if (i < p_.tokens.size()) {
        toLine(tok(i).line);
        if (joins(out_, n ? p[0] : '\0')) out_ += ' ';
    }
    out_.append(p, n);
    if (i < p_.tokens.size() && tok(i).asi) out_ += ';';
}

void Writer::writeParts(const Parts& parts) {
    for (const Part& p : parts) {
        if (p.node) {
            write(p.node);
        } else {
            if (!p.text.empty() && joins(out_, p.text[0])) out_ += ' ';
            out_ += p.text;
        }
    }
}

std::string Writer::temp() {
    FnCtx* f = fn_;
    f->tempsUsed++;
    if (f->tempsUsed > f->tempsMax) f->tempsMax = f->tempsUsed;
    return tempName(f->tempsUsed);
}

// The names of the temporaries, made once: every function numbers its own from 1.
const std::string& Writer::tempName(int i) {
    while (tempNames_.size() <= static_cast<size_t>(i))
        tempNames_.push_back(prefix() + std::to_string(tempNames_.size()));
    return tempNames_[i];
}

std::string Writer::name(Node* n) {
    if (n->binding && !n->binding->rename.empty()) return n->binding->rename;
    return std::string(src_ + n->start, n->end - n->start);
}

bool Writer::strict() const {
    return fn_ && fn_->scope->strict;
}

// ---- nodes ---------------------------------------------------------------------------

namespace {

bool isStatement(NodeKind k) {
    return k >= N_BODY;
}

} // namespace

// The node's source with each child written in its place: the fixed children (sorted, at
// most four) merged with the list (in source order already).
void Writer::writeHoles(Node* n) {
    Node* fixed[4];
    int nf = 0;
    bool cd = hasCD(n->kind);
    for (Node* k : {n->a, n->b, cd ? n->c : nullptr, cd ? n->d : nullptr}) {
        if (!k) continue;
        int i = nf++;
        for (; i > 0 && fixed[i - 1]->start > k->start; i--)
            fixed[i] = fixed[i - 1];
        fixed[i] = k;
    }
    uint32_t pos = n->start, li = 0;
    int fi = 0;
    for (;;) {
        while (li < n->count && !n->list[li])
            li++; // holes
        Node* k;
        if (fi < nf && (li >= n->count || fixed[fi]->start <= n->list[li]->start)) {
            k = fixed[fi++];
        } else if (li < n->count) {
            k = n->list[li++];
        } else {
            break;
        }
        if (k->start < pos) continue; // a shorthand property's value shares its key's text
        copy(pos, k->start);
        write(k);
        pos = k->end;
    }
    copy(pos, n->end);
}

// The token after a node, searched from the parser's note of it (exact unless an end set
// after finish() left it stale).
uint32_t Writer::tokenAfter(const Node* n) const {
    return tokenFrom(n->after, n->end);
}

// A statement written differently keeps the semicolon the parser inserted after it, at its
// end: its last token may come out in the middle of what is written (`c = 5` of a const,
// `let y` before `= void 0`), where the semicolon is taken off while the statement is
// written.
bool Writer::takeStatementEnd(Node* n) {
    uint32_t i = tokenAfter(n);
    if (i == 0 || !tok(i - 1).asi) return false;
    p_.tokens[i - 1].asi = false;
    return true;
}

void Writer::writeStatementEnd(bool asi) {
    if (asi && !out_.empty() && out_.back() != ';') out_ += ';';
}

// The first dirty offset at or after the node's start, mostly the last answer again (the
// nodes asked about lie between the same two offsets), else searched from it.
bool Writer::isDirty(const Node* n) const {
    const uint32_t* d = p_.dirty.data();
    uint32_t size = static_cast<uint32_t>(p_.dirty.size());
    uint32_t h = dirtyHint_ =
        gallop(d, size, dirtyHint_, n->start, [](uint32_t a, uint32_t o) { return a < o; });
    return h < size && d[h] < n->end;
}

bool Writer::hasYield(const Node* n) const {
    if (!n || !fn_ || !fn_->gen) return false;
    const Gen& g = *fn_->gen;
    const std::pair<Scope*, uint32_t>* it = g.yields;
    if (g.yieldsEnd - g.yields <= 8) { // most generators hold a few: looked at in order
        while (it != g.yieldsEnd && it->second < n->start)
            it++;
    } else {
        it = std::lower_bound(
            g.yields, g.yieldsEnd, n->start,
            [](const std::pair<Scope*, uint32_t>& y, uint32_t at) { return y.second < at; });
    }
    return it != g.yieldsEnd && it->second < n->end;
}

void Writer::write(Node* n) {
    for (const auto& s : substitutes_)
        if (s.first == n) {
            token(n->start, s.second.data(), s.second.size());
            return;
        }
    if (!fn_->rewriteAll && !isDirty(n)) {
        copy(n->start, n->end);
        return;
    }
    int temps = fn_ ? fn_->tempsUsed : 0;
    bool statement = isStatement(n->kind) && n->kind != N_BODY;
    bool asi = statement && takeStatementEnd(n);
    if (fn_ && fn_->gen && statement &&
        (hasYield(n) || n->kind == N_RETURN || n->kind == N_BREAK || n->kind == N_CONTINUE)) {
        writeGeneratorStatement(n);
    } else {
        writeConstruct(n);
    }
    writeStatementEnd(asi);
    if (fn_) fn_->tempsUsed = temps;
}

// A node that holds something written differently, by its kind: most are written as their
// source with their children written in place (writeHoles).
void Writer::writeConstruct(Node* n) {
    switch (n->kind) {
    case N_NAME:
        writeName(n);
        break;
    case N_ATOM:
        writeAtom(n);
        break;
    case N_FUNCTION:
        writeFunction(n);
        break;
    case N_VAR:
        writeVar(n, false);
        break;
    case N_ASSIGN:
        if (n->a->kind == N_ARRAYPAT || n->a->kind == N_OBJECTPAT) {
            writePatternAssign(n);
            break;
        }
        [[fallthrough]];
    case N_UNARY:
    case N_POSTFIX:
        writeAssignment(n);
        break;
    case N_CALL:
        if ((n->a->kind == N_XMLMEMBER && (n->a->b->op & XS_FUNCTION)) ||
            (n->a->kind == N_XMLNAME && (n->a->op & XS_FUNCTION))) {
            writeXmlMethodCall(n);
            break;
        }
        if (n->a->kind == N_NAME) n->a->flags |= F_CALLEE;
        writeHoles(n);
        break;
    case N_FORIN:
        writeForIn(n);
        break;
    case N_BLOCK:
    case N_FOR:
    case N_SWITCH:
        writeScopeOwner(n);
        break;
    case N_FUNCDECL:
        if (n->flags & F_INSITU) {
            writeFunctionInPlace(n);
        } else {
            writeHoles(n);
        }
        break;
    case N_LETSTMT:
        writeLetStatement(n);
        break;
    case N_LETEXPR:
        writeLetExpression(n);
        break;
    case N_COMPREHENSION:
        writeComprehension(n);
        break;
    case N_GENEXPR:
        writeGenExpr(n);
        break;
    case N_TRY:
        writeTry(n);
        break;
    case N_PROP:
        writeProperty(n);
        break;
    case N_SHARP:
        writeSharp(n);
        break;
    case N_ACCESSOR:
    case N_GETTERFN:
    case N_EXPORT:
    case N_IMPORT:
        writeLegacy(n);
        break;
    case N_XML:
    case N_XMLNAME:
    case N_XMLMEMBER:
    case N_XMLFILTER:
    case N_XMLNS:
    case N_WITH:
        writeXmlForm(n);
        break;
    case N_YIELD:
        throw SyntaxFailure{n->line, "yield is not allowed here", false};
    default:
        writeHoles(n);
    }
}

// A name: `arguments` as the generator's copy of them, a binding kept in a block's array
// called without that array as `this`, a renamed binding by its new name.
void Writer::writeName(Node* n) {
    if (n->name.n == 9 && !n->binding && fn_ && !memcmp(n->name.p, "arguments", 9) &&
        fn_->argsName != "arguments") {
        token(n->start, fn_->argsName.c_str());
    } else if ((n->flags & F_CALLEE) && n->binding && n->binding->scope->holder) {
        token(n->start, ("(0, " + name(n) + ")").c_str()); // called without its array
    } else if (n->binding && !n->binding->rename.empty()) {
        token(n->start, n->binding->rename.data(), n->binding->rename.size());
    } else {
        token(n->start, src_ + n->start, n->end - n->start);
    }
}

// `this`, written as the generator's copy of it; the other atoms as they stand.
void Writer::writeAtom(Node* n) {
    if (n->op == K_THIS) {
        token(n->start, fn_->thisName.c_str()); // `this` in a generator
    } else {
        copy(n->start, n->end);
    }
}

// A block, for or switch: written with its scope when its bindings need fresh copies on
// each entry.
void Writer::writeScopeOwner(Node* n) {
    if (n->scope && n->scope->fresh) {
        writeScoped(n);
    } else {
        writeHoles(n);
    }
}

// A property of an object literal: a shorthand `{a}` is written out as `{a: a}`.
void Writer::writeProperty(Node* n) {
    if (n->op == 3) {
        writeShorthand(n);
    } else if (n->op >= 4) {
        writeAccessorProperty(n);
    } else {
        writeHoles(n);
    }
}

// #n=[...] and #n={...}: the object is made and named first, the literal is built with #n#
// written as that name, and __lang.sharp moves the literal's members onto the object:
//   #1={self: #1#}  ->  __lang.sharp($sharp1 = {}, {self: $sharp1})
// The name is a variable of the function that defines it (not of a comprehension's).
void Writer::writeSharp(Node* n) {
    std::string var = prefix() + "sharp" + n->name.str();
    if (!n->a) {
        token(n->start, var.data(), var.size());
        return;
    }
    FnCtx* f = fn_;
    while (f->parent && f->parent->scope == f->scope)
        f = f->parent;
    if (std::find(f->vars.begin(), f->vars.end(), var) == f->vars.end()) f->vars.push_back(var);
    std::string head = "__lang.sharp(" + var + (n->a->kind == N_ARRAY ? " = [], " : " = {}, ");
    token(n->start, head.data(), head.size());
    write(n->a);
    text(")");
}

// =, op=, ++ and -- (and the other unary operators): an assignment to a const keeps its
// value.
void Writer::writeAssignment(Node* n) {
    if (n->a->kind == N_NAME && n->a->binding && n->a->binding->kind == B_CONST &&
        (n->kind == N_ASSIGN || n->op == P_INC || n->op == P_DEC)) {
        writeConstAssign(n);
    } else {
        writeHoles(n);
    }
}

// ---- functions -----------------------------------------------------------------------

// `var` and the temporaries at offset `at` of the output (after the directive prologue).
void Writer::insertVars(size_t at, FnCtx& ctx) {
    if (!ctx.tempsMax && ctx.vars.empty()) return;
    Output& s = scratch_;
    s.clear();
    s += "var ";
    for (int i = 1; i <= ctx.tempsMax; i++) {
        if (i > 1) s += ", ";
        s += tempName(i);
    }
    for (size_t i = 0; i < ctx.vars.size(); i++) {
        if (i || ctx.tempsMax) s += ", ";
        s += ctx.vars[i];
    }
    s += ";";
    insertText(at, s.data(), s.size());
}

// Writes a function body's statements after `head` (text that goes right after the `{` and
// the directive prologue), and declares the temporaries it used there.
void Writer::writeBody(Node* body, Node* fn, const std::string& head) {
    FnCtx& ctx = *fn_;
    uint32_t i = 0;
    uint32_t pos = body->start;
    if (fn) {
        copy(pos, body->start + 1); // {
        pos = body->start + 1;
    }
    for (; i < body->count; i++) {
        Node* s = body->list[i];
        bool directive = s->kind == N_EXPR && s->a->kind == N_ATOM && s->a->op == T_STRING;
        if (!directive) break;
        copy(pos, s->start);
        write(s);
        pos = s->end;
    }
    size_t at = out_.size();
    text(head);
    if (ctx.scope->generator) {
        writeGenerator(fn, ctx, at, i);
        return;
    }
    // A function that sets the default xml namespace gives the caller's back on its way out.
    std::string xmlns = fn && ctx.scope->xmlns ? prefix() + "dxns" : "";
    if (!xmlns.empty()) {
        ctx.vars.push_back(xmlns);
        text(xmlns + " = __lang.xml.getDefaultNamespace(); try {");
    }
    pos = fn ? writeStatements(body, i, body->count, pos) : writeProgram(body, i, pos);
    if (!xmlns.empty()) {
        copy(pos, body->end - 1);
        text("} finally { __lang.xml.setDefaultNamespace(" + xmlns + "); }");
        pos = body->end - 1;
    }
    copy(pos, body->end);
    insertVars(at, ctx);
}

// The arrays of a generator's block bindings that a closure keeps (resolve.cpp), as the
// parameters of a function around it called on the spot: "" when it keeps none.
std::string Writer::keptHolders(const Scope* s) {
    if (names_.keeps.empty()) return std::string();
    auto it = names_.keeps.find(s);
    if (it == names_.keeps.end()) return std::string();
    std::string list;
    for (const std::string& h : it->second)
        list += (list.empty() ? "" : ", ") + h;
    return list;
}

void Writer::writeFunction(Node* n) {
    std::string kept = keptHolders(n->scope);
    if (!kept.empty()) text("(function (" + kept + ") { return ");
    size_t start = out_.size();
    FnCtx ctx;
    ctx.scope = n->scope;
    ctx.parent = fn_;
    ctx.thisName = "this";
    ctx.argsName = "arguments";
    FnCtx* saved = fn_;
    uint32_t pos = n->start;
    if (n->a) {
        copy(pos, n->a->end); // the name as written (a generator's functions are renamed
        pos = n->a->end;      // in their references only)
    }
    fn_ = &ctx;
    // Parameters that are patterns take a temporary's name and are taken apart first thing.
    std::string head;
    for (uint32_t i = 0; i < n->count; i++) {
        Node* p = n->list[i];
        copy(pos, p->start);
        if (p->kind == N_NAME) {
            write(p);
        } else {
            std::string t = prefix() + "p" + std::to_string(i);
            token(p->start, t.c_str());
            Output saveOut;
            saveOut.swap(out_);
            uint32_t line = outLine_;
            destructure(p, t, true);
            outLine_ = line;
            saveOut.swap(out_);
            if (!saveOut.empty()) { // an empty pattern takes nothing apart
                head += head.empty() ? "var " : ", ";
                head += saveOut.str();
            }
        }
        pos = p->end;
    }
    if (!head.empty()) head += ";";
    if (n->b->kind == N_BODY) {
        copy(pos, n->b->start);
        writeBody(n->b, n, head);
    } else {
        // An expression closure: function (x) x * x.
        copy(pos, n->b->start);
        text("{");
        size_t at = out_.size();
        text(head);
        if (ctx.scope->generator) {
            writeGenerator(n, ctx, at, 0);
        } else {
            text("return (");
            write(n->b);
            text(");}");
            insertVars(at, ctx);
        }
    }
    fn_ = saved;
    // The function's output: from its first token to its closing brace.
    start = out_.findFirstNotOf(" \t\r\n", start);
    size_t end = out_.findLast('}');
    if (start < end && end != std::string::npos)
        spans.push_back(FunctionSpan{static_cast<uint32_t>(start), static_cast<uint32_t>(end + 1),
                                     n->start, n->end});
    if (!kept.empty()) text("; })(" + kept + ")");
}

std::string Writer::run(Node* root) {
    FnCtx ctx;
    ctx.scope = root->scope;
    ctx.thisName = "this";
    ctx.argsName = "arguments";
    fn_ = &ctx;
    // Generators come out about three times as long as written; pages never reached cost
    // nothing.
    out_.reserve(p_.tokens.empty() ? 16 : size_t(p_.tokens.back().end) * 3 + 64);
    writeBody(root, nullptr, "");
    // The source's line count stays the same: a last line break, if any.
    if (!p_.tokens.empty()) {
        const Token& last = p_.tokens.back();
        toLine(last.line + countLines(src_ + last.start, src_ + root->end));
    }
    fn_ = nullptr;
    return out_.take();
}

} // namespace translator
