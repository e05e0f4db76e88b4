// The writer's generators: the registers (the body's variables kept in $g.l between
// steps), which of them are stored at a yield, and their load and store text.
#include "core/translator/writer.h"

namespace translator {

// The registers: their loading inserted at `load`, their storing at the step's end. Returns
// their initial values.
std::string Writer::placeRegisters(Gen& g, size_t loadAt, const std::vector<std::string>& regs,
                                   const std::vector<std::string>& initial) {
    std::string load, init;
    cat(load, " var ", prefix(), "l = ", g.g, ".l");
    text(" }");
    bool saved = false;
    for (size_t i = 0; i < regs.size(); i++) {
        int at = static_cast<int>(i);
        cat(load, ", ", regs[i], " = ", prefix(), "l[", at, "]");
        // Only what the body may change needs storing.
        if (assigned_.count(regs[i]) || initial[i] == "void 0") {
            put(saved ? ", " : " ", prefix(), "l[", at, "] = ", regs[i]);
            saved = true;
        }
        cat(init, i ? ", " : "", initial[i]);
    }
    put(saved ? "; " : " ", "return ", g.r, "; }");
    if (!regs.empty()) {
        load += ";";
        insertText(loadAt, load);
    }
    return init;
}

// The parameters (as written) that the body assigns to: declarations with a value, assignments,
// increments, for-in heads, destructuring and catch parameters.
void Writer::collectAssigned(Node* n) {
    if (!n) return;
    auto target = [&](Node* t, auto&& self) -> void {
        if (!t) return;
        if (t->kind == N_NAME) {
            Binding* b = t->binding;
            std::string_view s = b && !b->rename.empty()
                                     ? std::string_view(b->rename)
                                     : std::string_view(src_ + t->start, t->end - t->start);
            for (const std::string& p : params_)
                if (p == s) assigned_.insert(p);
        } else if (t->kind == N_ARRAYPAT || t->kind == N_OBJECTPAT) {
            for (uint32_t i = 0; i < t->count; i++)
                if (t->list[i]) self(t->kind == N_ARRAYPAT ? t->list[i] : t->list[i]->b, self);
        } else if (t->kind == N_VAR) {
            for (uint32_t i = 0; i < t->count; i++)
                self(t->list[i]->a, self);
        } else if (t->kind == N_PAREN) {
            self(t->a, self);
        }
    };
    switch (n->kind) {
    case N_ASSIGN:
        target(n->a, target);
        break;
    case N_UNARY:
    case N_POSTFIX:
        if (n->op == P_INC || n->op == P_DEC) target(n->a, target);
        break;
    case N_DECL:
        target(n->a, target);
        break;
    case N_FORIN:
    case N_FORCLAUSE:
        target(n->a, target);
        break;
    case N_CATCH:
        target(n->a, target);
        break;
    default:
        break;
    }
    bool cd = hasCD(n->kind);
    for (Node* k : {n->a, n->b, cd ? n->c : nullptr, cd ? n->d : nullptr})
        collectAssigned(k);
    for (uint32_t i = 0; i < n->count; i++)
        collectAssigned(n->list[i]);
}

} // namespace translator
