// The translator's middle stage: resolves the name references that may meet a let, a const,
// a renamed catch parameter or a generator's function, decides how each block-scoped binding
// is written (renamed to a unique function-level variable; or, when a closure made inside a
// loop captures it, kept in a fresh scope per entry: a catch block, or in a generator's
// block split into states an array made on each entry, which the closures are handed), and
// flags what the writer cannot copy as it stands.
#include "core/translator/resolve.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace translator {

namespace {

std::string_view view(const Name& n) {
    return std::string_view(n.p, n.n);
}

bool isArguments(const Name& n) {
    return n.n == 9 && !memcmp(n.p, "arguments", 9);
}

// Sorts source offsets by digits of 11 bits, low digit first: a large source flags tens of
// thousands of them, which this orders in a few linear passes.
void sortOffsets(std::vector<uint32_t>& v) {
    uint32_t top = 0;
    for (uint32_t x : v)
        top |= x;
    if (v.size() < 512) {
        std::sort(v.begin(), v.end());
        return;
    }
    std::vector<uint32_t> other(v.size());
    for (int shift = 0; shift < 32 && (top >> shift); shift += 11) {
        uint32_t at[2049] = {};
        for (uint32_t x : v)
            at[((x >> shift) & 2047) + 1]++;
        for (int d = 1; d < 2049; d++)
            at[d] += at[d - 1];
        for (uint32_t x : v)
            other[at[(x >> shift) & 2047]++] = x;
        v.swap(other);
    }
}

bool crosses(const Scope* s) {
    return s->kind == S_FUNCTION || (s->kind == S_COMPREHENSION && s->node->kind == N_GENEXPR);
}

// Whether the scope's statement holds a yield of its function (yields sorted).
bool holdsYield(const Parser& p, Scope* s) {
    auto it =
        std::lower_bound(p.yields.begin(), p.yields.end(), std::make_pair(s->fn, s->node->start));
    return it != p.yields.end() && it->first == s->fn && it->second < s->node->end;
}

// The closures made inside a block of a generator whose bindings live in an array (one per
// entry) are handed the array when they are made: each function expression or generator
// expression that names such a binding from inside, outermost first.
void keepHolders(Parser& p, Names& names) {
    for (const Parser::Ref& ref : p.refs) {
        Binding* b = ref.node->binding;
        if (!b || !b->scope->holder) continue;
        Scope* outer = nullptr;
        for (Scope* s = ref.scope; s != b->scope; s = s->parent)
            if (crosses(s)) outer = s;
        // Declarations (unless made where they stand) and accessors cannot be wrapped: they
        // keep the variable.
        Node* n = outer ? outer->node : nullptr;
        if (!n || (n->kind == N_FUNCTION && ((n->a && n->a->binding && !(n->flags & F_INSITU)) ||
                                             p.src()[n->start] == '(')))
            continue;
        std::vector<std::string>& v = names.keeps[outer];
        std::string h = names.holder(b->scope->holder);
        if (std::find(v.begin(), v.end(), h) == v.end()) v.push_back(h);
    }
}

} // namespace

Names::Names(const std::vector<Token, BlockAllocator<Token>>& tokens, const char* src) {
    size_t len = tokens.empty() ? 0 : tokens.back().end;
    bool some = memchr(src, '$', len) != nullptr; // most sources hold none at all
    for (size_t k = 0; some && k < tokens.size(); k++) {
        const Token& t = tokens[k];
        if (t.type != T_NAME) continue;
        const char* p = src + t.start;
        size_t n = t.end - t.start;
        for (size_t i = 0; i < n; i++) {
            if (p[i] != '$') continue;
            dollar_.insert(std::string(p, n));
            break;
        }
    }
    // The prefix of generated names: runs of `$` that no name of the source starts with.
    prefix_ = "$";
    for (;;) {
        bool clash = false;
        for (const std::string& d : dollar_)
            if (d.compare(0, prefix_.size(), prefix_) == 0) clash = true;
        if (!clash) break;
        prefix_ += "$";
    }
}

std::string Names::fresh(const Name& base) {
    for (;;) {
        char digits[16];
        size_t n = std::to_chars(digits, digits + sizeof digits, ++counter_).ptr - digits;
        std::string s;
        s.reserve(base.n + 1 + n);
        s.append(base.p, base.n).append(1, '$').append(digits, n);
        if (dollar_.empty() || !dollar_.count(s)) return s;
    }
}

// Resolves the references that may meet a let, a const, a catch parameter or a function of a
// generator (crossing a function marks the binding captured), decides each block binding's
// form, and flags in the parser's list the offsets to write differently: renamed names and
// assignments to a const.
void resolve(Parser& p, Names& names) {
    // The references found, with what the flagging at the end needs of their nodes.
    struct Resolved {
        Binding* binding;
        uint32_t start;
        bool target;
    };
    std::vector<Resolved> resolved;
    // A function declared in a generator's body is made once: the step's own declaration
    // (made again on each step) is copied into a variable of a new name at the start, and
    // the body names that variable.
    for (Scope* f : p.functions) {
        if (!f->generator || !f->node || f->node->kind != N_FUNCTION) continue;
        Node* body = f->node->b;
        for (uint32_t i = 0; body->kind == N_BODY && i < body->count; i++) {
            Node* s = body->list[i];
            if (s->kind != N_FUNCDECL) continue;
            Binding* b = s->a->a->binding;
            if (!b->rename.empty()) continue;
            b->rename = names.fresh(b->name);
            p.wanted.insert(view(b->name));
        }
    }
    const size_t nrefs = p.refs.size();
    for (size_t i = 0; i < nrefs; i++) {
        const Parser::Ref& ref = p.refs[i];
        // The references' nodes and scopes lie far apart in the arena: ask for those of a
        // few references ahead while this one is resolved.
        if (i + 8 < nrefs) {
            __builtin_prefetch(p.refs[i + 8].node);
            __builtin_prefetch(p.refs[i + 8].scope);
        }
        if (isArguments(ref.name)) {
            // Generators read their `arguments` through a saved copy; comprehensions and
            // generator expressions, written as functions, are handed the function's.
            Scope* f = ref.scope->fn;
            if (!f->find(ref.name)) f->usesArguments = true;
            for (Scope* s = ref.scope; s != f; s = s->parent) {
                if (s->kind != S_COMPREHENSION) continue;
                s->usesArguments = true;
                p.flag(ref.node->start);
            }
        }
        if (p.wanted.empty() || !p.wanted.count(view(ref.name))) continue;
        bool crossed = false;
        for (Scope* s = ref.scope; s; s = s->parent) {
            if (Binding* b = s->find(ref.name)) {
                ref.node->binding = b;
                if (crossed) b->captured = true;
                resolved.push_back(Resolved{b, ref.node->start, (ref.node->flags & F_TARGET) != 0});
                break;
            }
            if (crosses(s)) crossed = true;
        }
    }
    // How each block-scoped binding is written.
    std::sort(p.yields.begin(), p.yields.end());
    uint32_t holders = 0;
    for (Scope* s : p.blocks) {
        bool gen = s->fn->generator;
        if (s->kind == S_CATCH) {
            if (gen) {
                for (Binding* b = s->first; b; b = b->next) {
                    b->rename = names.fresh(b->name);
                    if (b->decl) p.flag(b->declAt);
                }
            }
            continue;
        }
        bool captured = false;
        for (Binding* b = s->first; b; b = b->next)
            if (b->captured && s->inLoop) captured = true;
        // A direct eval looks names up at run time: they keep their own names then.
        bool fresh = captured || s->fn->hasEval;
        // A generator's block split into states cannot sit inside a catch block: its
        // bindings go into an array made on each entry when closures keep them.
        if (gen && holdsYield(p, s)) {
            fresh = false;
            if (captured) {
                s->holder = ++holders;
                uint32_t i = 0;
                for (Binding* b = s->first; b; b = b->next, i++) {
                    b->rename = names.holder(s->holder) + "[" + std::to_string(i) + "]";
                    if (b->decl) p.flag(b->declAt);
                }
                continue;
            }
        }
        s->fresh = fresh;
        if (fresh) continue;
        for (Binding* b = s->first; b; b = b->next) {
            b->rename = names.fresh(b->name);
            if (b->decl) p.flag(b->declAt);
        }
    }
    // A function declared inside a block kept in a fresh scope (or array) per entry is made
    // where it stands (as that language made a function declared in a block), so that each
    // entry's function keeps that entry's bindings.
    for (Node* d : p.blockFunctions) {
        for (Scope* s = d->scope; s != s->fn; s = s->parent) {
            if (!s->fresh && !s->holder) continue;
            d->flags |= F_INSITU;
            d->a->flags |= F_INSITU;
            p.flag(d->start);
            break;
        }
    }
    for (const Resolved& r : resolved) {
        Binding* b = r.binding;
        if (!b->rename.empty() || (b->kind == B_CONST && r.target)) p.flag(r.start);
    }
    if (holders) keepHolders(p, names);
    sortOffsets(p.dirty);
    p.dirty.erase(std::unique(p.dirty.begin(), p.dirty.end()), p.dirty.end());
}

} // namespace translator
