// The translator's middle stage: resolves the name references that may meet a let, a const
// or a renamed catch parameter, decides how each block-scoped binding is written (renamed
// to a unique function-level variable, or kept in a fresh scope per entry when a closure
// made inside a loop captures it), and flags what the writer cannot copy as it stands.
#include "core/translator/resolve.h"

#include <algorithm>
#include <string_view>

namespace translator {

namespace {

std::string_view view(const Name& n) {
    return std::string_view(n.p, n.n);
}

bool isArguments(const Name& n) {
    return n.n == 9 && !memcmp(n.p, "arguments", 9);
}

} // namespace

Names::Names(const std::vector<Token>& tokens, const char* src) {
    for (const Token& t : tokens) {
        if (t.type != T_NAME) continue;
        const char* p = src + t.start;
        size_t n = t.end - t.start;
        if (memchr(p, '$', n)) dollar_.insert(std::string(p, n));
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
        std::string s = base.str() + "$" + std::to_string(++counter_);
        if (!dollar_.count(s)) return s;
    }
}

// Resolves the references that may meet a let, a const or a catch parameter of a generator
// (crossing a function marks the binding captured), decides each block binding's form, and
// flags in the parser's list the offsets to write differently: renamed names and
// assignments to a const.
void resolve(Parser& p, Names& names) {
    std::vector<Node*> resolved;
    for (const Parser::Ref& ref : p.refs) {
        if (isArguments(ref.name)) {
            // Generators read their `arguments` through a saved copy.
            Scope* f = ref.scope->fn;
            if (!f->find(ref.name)) f->usesArguments = true;
        }
        if (p.wanted.empty() || !p.wanted.count(view(ref.name))) continue;
        bool crossed = false;
        for (Scope* s = ref.scope; s; s = s->parent) {
            if (Binding* b = s->find(ref.name)) {
                ref.node->binding = b;
                if (crossed) b->captured = true;
                resolved.push_back(ref.node);
                break;
            }
            if (s->kind == S_FUNCTION || (s->kind == S_COMPREHENSION && s->node->kind == N_GENEXPR))
                crossed = true;
        }
    }
    // How each block-scoped binding is written.
    for (Scope* s : p.blocks) {
        bool gen = s->fn->generator;
        if (s->kind == S_CATCH) {
            if (gen) {
                for (Binding* b = s->first; b; b = b->next) {
                    b->rename = names.fresh(b->name);
                    if (b->decl) p.flag(b->decl->start);
                }
            }
            continue;
        }
        bool fresh = false;
        for (Binding* b = s->first; b; b = b->next)
            if (b->captured && s->inLoop) fresh = true;
        // A direct eval looks names up at run time: they keep their own names then.
        if (s->fn->hasEval) fresh = true;
        if (gen) fresh = false; // a generator's states cannot sit inside a catch block
        s->fresh = fresh;
        if (fresh) continue;
        for (Binding* b = s->first; b; b = b->next) {
            b->rename = names.fresh(b->name);
            if (b->decl) p.flag(b->decl->start);
        }
    }
    for (Node* r : resolved) {
        Binding* b = r->binding;
        if (!b->rename.empty() || (b->kind == B_CONST && (r->flags & F_TARGET))) p.flag(r->start);
    }
    std::sort(p.dirty.begin(), p.dirty.end());
    p.dirty.erase(std::unique(p.dirty.begin(), p.dirty.end()), p.dirty.end());
    std::sort(p.yields.begin(), p.yields.end());
}

} // namespace translator
