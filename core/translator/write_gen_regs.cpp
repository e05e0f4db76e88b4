// The writer's generators: the registers (the body's variables kept in $g.l between
// steps), which of them are stored at a yield, and their load and store text.
#include "core/translator/writer.h"

namespace translator {

// The registers: their loading inserted at `load`, their storing at the step's end; then
// `table` and the array of their initial values, the end of the call that makes the generator.
void Writer::placeRegisters(Gen& g, size_t loadAt, const std::vector<std::string>& regs,
                            const std::vector<std::string>& initial, const std::string& table) {
    static const std::string undefined = "void 0";
    const std::string& l = genNames_[6]; // the registers' array
    Output& load = scratch_;
    load.clear();
    cat(load, " var ", l, " = ", g.g, ".l");
    text(" }");
    bool saved = false;
    for (size_t i = 0; i < regs.size(); i++) {
        int at = static_cast<int>(i);
        cat(load, ", ", regs[i], " = ", l, "[", at, "]");
        // Only what the body may change needs storing.
        if (initial[i] == undefined || isAssigned(regs[i])) {
            put(saved ? ", " : " ", l, "[", at, "] = ", regs[i]);
            saved = true;
        }
    }
    put(saved ? "; " : " ", "return ", g.r, "; }", table, ", [");
    for (size_t i = 0; i < regs.size(); i++)
        put(i ? ", " : "", initial[i]);
    text("]);");
    if (!regs.empty()) {
        load += ";";
        insertText(loadAt, load.data(), load.size());
    }
}

// Whether the generator's body assigns to the parameter of this name.
bool Writer::isAssigned(const std::string& name) const {
    for (size_t i = 0; i < params_.size(); i++)
        if (assigned_[i] && params_[i] == name) return true;
    return false;
}

// The parameters (as written) that the body assigns to: declarations, assignments,
// increments, for-in heads, destructuring and catch parameters. The body is walked with a
// stack of its own: most of its nodes are looked at only for their kind.
void Writer::collectAssigned(Node* body) {
    auto target = [&](Node* t, auto&& self) -> void {
        if (!t) return;
        if (t->kind == N_NAME) {
            Binding* b = t->binding;
            std::string_view s = b && !b->rename.empty()
                                     ? std::string_view(b->rename)
                                     : std::string_view(src_ + t->start, t->end - t->start);
            for (size_t i = 0; i < params_.size(); i++)
                if (params_[i] == s) assigned_[i] = true;
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
    std::vector<Node*>& stack = walk_;
    stack.clear();
    if (body) stack.push_back(body);
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        switch (n->kind) {
        case N_UNARY:
        case N_POSTFIX:
            if (n->op == P_INC || n->op == P_DEC) target(n->a, target);
            break;
        case N_ASSIGN:
        case N_DECL:
        case N_FORIN:
        case N_FORCLAUSE:
        case N_CATCH:
            target(n->a, target);
            break;
        default:
            break;
        }
        if (n->a) stack.push_back(n->a);
        if (n->b) stack.push_back(n->b);
        if (hasCD(n->kind)) {
            if (n->c) stack.push_back(n->c);
            if (n->d) stack.push_back(n->d);
        }
        for (uint32_t i = 0; i < n->count; i++)
            if (n->list[i]) stack.push_back(n->list[i]);
    }
}

} // namespace translator
