// The translator's middle stage: resolves the name references that may meet a let, a const
// or a renamed catch parameter, decides how each block-scoped binding is written (renamed
// to a unique function-level variable, or kept in a fresh scope per entry when a closure
// made inside a loop captures it), and marks the nodes the writer cannot copy as they stand.
#include "core/translator/resolve.h"

#include <string_view>
#include <unordered_set>

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

// Marks the function scopes between a reference's scope and the binding's as crossed.
void resolve(Parser& p, Names& names) {
    std::unordered_set<std::string_view> wanted;
    for (Scope* s : p.scopes) {
        bool gen = s->fn->generator;
        for (Binding* b = s->first; b; b = b->next) {
            if (b->kind == B_LET || b->kind == B_CONST || (gen && b->kind == B_CATCH))
                wanted.insert(view(b->name));
        }
    }
    for (Node* r : p.refs) {
        if (isArguments(r->name)) {
            // Generators read their `arguments` through a saved copy.
            Scope* f = r->scope->fn;
            if (!f->find(r->name)) f->usesArguments = true;
        }
        if (wanted.empty() || !wanted.count(view(r->name))) continue;
        bool crossed = false;
        for (Scope* s = r->scope; s; s = s->parent) {
            if (Binding* b = s->find(r->name)) {
                r->binding = b;
                if (crossed) b->captured = true;
                break;
            }
            if (s->kind == S_FUNCTION || (s->kind == S_COMPREHENSION && s->node->kind == N_GENEXPR))
                crossed = true;
        }
    }
    // How each block-scoped binding is written.
    for (Scope* s : p.scopes) {
        if (s->kind == S_FUNCTION || s->kind == S_COMPREHENSION) continue;
        bool gen = s->fn->generator;
        if (s->kind == S_CATCH) {
            if (gen)
                for (Binding* b = s->first; b; b = b->next)
                    b->rename = names.fresh(b->name);
            continue;
        }
        bool fresh = false;
        for (Binding* b = s->first; b; b = b->next)
            if (b->captured && s->inLoop) fresh = true;
        // A direct eval looks names up at run time: they keep their own names then.
        if (s->fn->hasEval && s->first) fresh = true;
        if (gen) fresh = false; // a generator's states cannot sit inside a catch block
        s->fresh = fresh && s->first;
        if (s->fresh) continue;
        for (Binding* b = s->first; b; b = b->next)
            b->rename = names.fresh(b->name);
    }
}

// ---- marking -------------------------------------------------------------------------

namespace {

struct Marker {
    bool inGenerator = false;

    bool mark(Node* n) {
        if (!n) return false;
        bool dirty = false;
        uint16_t yield = 0;
        auto kid = [&](Node* k) {
            if (!k) return;
            if (mark(k)) dirty = true;
            if (k->kind != N_FUNCTION) yield |= k->flags & F_YIELD;
        };
        switch (n->kind) {
        case N_FUNCTION: {
            bool saved = inGenerator;
            inGenerator = n->scope->generator;
            kid(n->a);
            for (uint32_t i = 0; i < n->count; i++) {
                kid(n->list[i]);
                if (n->list[i]->kind != N_NAME) dirty = true;
            }
            kid(n->b);
            if (n->b && n->b->kind != N_BODY) dirty = true; // expression closure
            if (inGenerator) dirty = true;
            inGenerator = saved;
            yield = 0;
            break;
        }
        case N_NAME:
            if (n->binding && !n->binding->rename.empty()) dirty = true;
            if (inGenerator && isArguments(n->name) && !n->binding) dirty = true;
            break;
        case N_ATOM:
            if (inGenerator && n->op == K_THIS) dirty = true;
            break;
        case N_YIELD:
            kid(n->a);
            yield = F_YIELD;
            dirty = true;
            break;
        case N_PROP:
            kid(n->a);
            kid(n->b);
            if (n->op == 3) dirty = true;
            break;
        case N_ASSIGN:
        case N_UNARY:
        case N_POSTFIX:
            kid(n->a);
            kid(n->b);
            if (n->a && n->a->kind == N_NAME && n->a->binding && n->a->binding->kind == B_CONST &&
                (n->kind == N_ASSIGN || n->op == P_INC || n->op == P_DEC))
                dirty = true;
            if (n->a && (n->a->kind == N_ARRAYPAT || n->a->kind == N_OBJECTPAT)) dirty = true;
            break;
        case N_VAR:
            for (uint32_t i = 0; i < n->count; i++)
                kid(n->list[i]);
            if (n->op != K_VAR || inGenerator) dirty = true;
            for (uint32_t i = 0; i < n->count; i++)
                if (n->list[i]->a->kind != N_NAME) dirty = true;
            break;
        case N_FORIN:
            kid(n->a);
            kid(n->b);
            kid(n->d);
            if (n->op || (n->a->kind != N_VAR && n->a->kind != N_NAME && n->a->kind != N_MEMBER &&
                          n->a->kind != N_INDEX && n->a->kind != N_PAREN && n->a->kind != N_CALL))
                dirty = true;
            if (n->scope->fresh) dirty = true;
            break;
        case N_BLOCK:
        case N_FOR:
        case N_SWITCH:
            kid(n->a);
            kid(n->b);
            kid(n->c);
            kid(n->d);
            for (uint32_t i = 0; i < n->count; i++)
                kid(n->list[i]);
            if (n->scope && n->scope->fresh) dirty = true;
            break;
        case N_TRY:
            kid(n->a);
            kid(n->b);
            for (uint32_t i = 0; i < n->count; i++) {
                kid(n->list[i]);
                if (n->list[i]->b) dirty = true; // catch (e if guard)
            }
            break;
        case N_RETURN:
        case N_BREAK:
        case N_CONTINUE:
            kid(n->a);
            if (inGenerator) dirty = true;
            break;
        case N_LETEXPR:
        case N_LETSTMT:
        case N_COMPREHENSION:
        case N_GENEXPR:
        case N_ARRAYPAT:
        case N_OBJECTPAT:
            dirty = true;
            [[fallthrough]];
        default:
            kid(n->a);
            kid(n->b);
            kid(n->c);
            kid(n->d);
            for (uint32_t i = 0; i < n->count; i++)
                kid(n->list[i]);
        }
        if (n->kind == N_WITH && inGenerator && yield) dirty = true;
        if (dirty) n->flags |= F_DIRTY;
        n->flags |= yield;
        return dirty;
    }
};

} // namespace

bool markDirty(Node* root) {
    Marker m;
    return m.mark(root);
}

} // namespace translator
