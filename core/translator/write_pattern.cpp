// The writer's destructuring: patterns in declarations, assignments, parameters and for-in
// heads become assignments from a temporary (`[a, b] = f()` -> `$1 = f(), a = $1[0],
// b = $1[1]`); a swap of an array literal in a statement assigns through temporaries
// without making the array; `for each` becomes a for-in over __lang.each(...).
#include "core/translator/writer.h"

namespace translator {

namespace {

bool isPattern(Node* n) {
    return n && (n->kind == N_ARRAYPAT || n->kind == N_OBJECTPAT);
}

} // namespace

// `, target = source[i]` for each element (nested patterns through a new temporary).
void Writer::destructure(Node* pat, const std::string& source, bool first) {
    std::string access; // source[i] or source.key
    auto leaf = [&](Node* t) {
        if (!first) text(", ");
        first = false;
        if (isPattern(t)) {
            std::string tmp = temp();
            put(tmp, " = ", access);
            destructure(t, tmp, false);
        } else if (t->kind == N_NAME) {
            if (t->binding && !t->binding->rename.empty()) {
                text(t->binding->rename);
            } else {
                out_.append(src_ + t->start, t->end - t->start);
            }
            put(" = ", access);
        } else {
            write(t);
            put(" = ", access);
        }
    };
    for (uint32_t i = 0; i < pat->count; i++)
        if (Node* t = elementAccess(pat, i, source, &access)) leaf(t);
}

Node* Writer::elementAccess(Node* pat, uint32_t i, const std::string& source, std::string* access) {
    Node* p = pat->list[i];
    if (!p) return nullptr; // a hole
    access->assign(source);
    if (pat->kind == N_ARRAYPAT) {
        cat(*access, '[', static_cast<int>(i), ']');
        return p;
    }
    Node* key = p->a;
    bool index = key->op == T_STRING || key->op == T_NUMBER;
    *access += index ? '[' : '.';
    access->append(src_ + key->start, key->end - key->start);
    if (index) *access += ']';
    return p->b;
}

// [a, b] = value: its value is the right-hand side.
void Writer::writePatternAssign(Node* n) {
    Node* pat = n->a;
    Node* rhs = n->b;
    // In a program or eval code the last statement's value is the completion value: the
    // value form there.
    bool statement =
        (n->flags & F_STATEMENT) && fn_->scope->node && fn_->scope->node->kind == N_FUNCTION;
    if (statement && pat->kind == N_ARRAYPAT && rhs->kind == N_ARRAY) {
        // A swap: each element into a temporary first, then the targets, no array made.
        std::vector<std::string> values;
        bool first = true; // nothing written yet (holes write nothing)
        at(n);
        for (uint32_t i = 0; i < rhs->count; i++) {
            Node* e = rhs->list[i];
            if (!e) {
                values.push_back("void 0");
                continue;
            }
            std::string tmp = temp();
            values.push_back(tmp);
            text((first ? "" : ", ") + tmp + " = ");
            first = false;
            write(e);
        }
        for (uint32_t i = 0; i < pat->count; i++) {
            Node* t = pat->list[i];
            if (!t) continue;
            std::string v = i < values.size() ? values[i] : "void 0";
            if (!first) text(", ");
            first = false;
            if (isPattern(t)) {
                destructure(t, v, true);
            } else if (t->kind == N_NAME) {
                text(name(t) + " = " + v);
            } else {
                write(t);
                text(" = " + v);
            }
        }
        if (first) text("void 0");
        return;
    }
    std::string tmp = temp();
    at(n);
    text(statement ? "" : "(");
    text(tmp + " = ");
    write(rhs);
    destructure(pat, tmp, false);
    if (!statement) text(", " + tmp + ")");
}

Node* Writer::headTarget(Node* left) const {
    return left->kind == N_VAR ? left->list[0]->a : left;
}

// The for-in head's assignment from `value`: `var x = value`, `x = value`, or a pattern's.
void Writer::assignHead(Node* left, const std::string& value, bool declare) {
    Node* t = headTarget(left);
    bool asVar = declare && left->kind == N_VAR && !fn_->gen &&
                 !(left->op == K_LET && left->scope->kind != S_FUNCTION && left->scope->fresh);
    if (asVar) text("var ");
    if (isPattern(t)) {
        destructure(t, value, true);
    } else if (t->kind == N_NAME) {
        text(name(t) + " = " + value);
    } else {
        write(t);
        text(" = " + value);
    }
}

// for (left in obj) / for each (left in obj): the object through __lang.each for `for each`;
// a pattern on the left through a temporary, taken apart first thing in the body; `[k, v]`
// of a plain for-in takes each key and its value (an object with an iterator gives its
// own values).
void Writer::writeForIn(Node* n) {
    if (n->scope->fresh) {
        writeScoped(n);
        return;
    }
    Node* left = n->a;
    Node* target = headTarget(left);
    bool each = n->op == 1;
    bool pattern = isPattern(target);
    bool pairs = pattern && !each;
    token(n->start, "for");
    text(" (");
    std::string loopVar, object;
    if (!pattern) {
        if (left->kind == N_VAR) {
            writeVar(left, true);
        } else {
            write(left);
        }
    } else {
        loopVar = temp();
        text(loopVar);
    }
    text(" in ");
    if (pairs) {
        object = temp();
        text("(" + object + " = ");
    }
    if (each) text("__lang.each(");
    write(n->b);
    if (each || pairs) text(")");
    text(") ");
    if (!pattern) {
        write(n->d);
        return;
    }
    text("{");
    std::string value = loopVar;
    if (pairs) {
        value = temp();
        text(value + " = typeof " + object + ".__iterator__ == \"function\" ? " + loopVar + " : [" +
             loopVar + ", " + object + "[" + loopVar + "]]; ");
    }
    assignHead(left, value, true);
    text(";");
    write(n->d);
    text("}");
}

} // namespace translator
