// The writer's older forms: JavaScript 1.5's getters and setters through __lang.accessor
// (core/lang/accessor.js) or as ES5 accessors in an object literal, export as nothing,
// import as variables; and a catch clause's pattern, each name bound by a catch of its own.
#include "core/translator/writer.h"

namespace translator {

void Writer::writeLegacy(Node* n) {
    switch (n->kind) {
    case N_ACCESSOR:
        writeAccessor(n);
        break;
    case N_GETTERFN:
        writeAccessorFunction(n);
        break;
    case N_EXPORT:
        token(n->start, ";"); // nothing to export to without signed scripts
        break;
    default:
        writeImport(n);
    }
}

// o.x getter = fn -> __lang.accessor(o, "x", 1, fn); o[k] setter = fn -> ...(o, k, 2, fn)
void Writer::writeAccessor(Node* n) {
    Node* t = n->a;
    token(n->start, "__lang.accessor(");
    write(t->a);
    if (t->kind == N_MEMBER) {
        put(", \"", t->name.str(), "\"");
    } else {
        text(", ");
        write(t->b);
    }
    put(", ", static_cast<int>(n->op), ", ");
    write(n->b);
    text(")");
}

// {x getter: function (a) {...}} -> {get x(a) {...}}: the function written from its
// parameters on.
void Writer::writeAccessorProperty(Node* n) {
    token(n->start, n->op == 4 ? "get " : "set ");
    copy(n->a->start, n->a->end);
    Node* fn = n->b;
    uint32_t i = tokenNear(fn->start) + 1;
    if (fn->a) i++;
    uint32_t start = fn->start;
    Node* name = fn->a;
    fn->start = tok(i).start;
    fn->a = nullptr;
    writeFunction(fn); // written anew: an expression closure's flag lies before its start
    fn->start = start;
    fn->a = name;
}

// getter function x() {...} -> __lang.accessor(this, "x", 1, function x() {...});
void Writer::writeAccessorFunction(Node* n) {
    Node* fn = n->a;
    std::string head =
        "__lang.accessor(this, \"" + fn->a->name.str() + "\", " + std::to_string(n->op) + ", ";
    token(n->start, head.data(), head.size());
    write(fn);
    text(")");
    copy(fn->end, n->end);
    if (out_.back() != ';') text(";");
}

// import o.a, p.*; -> var a = o.a; __lang.importAll(this, p);
void Writer::writeImport(Node* n) {
    if (fn_->gen) throw SyntaxFailure{n->line, "import in a generator is not supported", false};
    for (uint32_t i = 0; i < n->count; i++) {
        Node* e = n->list[i];
        if (e->kind == N_MEMBER) {
            std::string head = "var " + e->name.str() + " = ";
            token(e->start, head.data(), head.size());
            write(e);
        } else {
            token(e->start, "__lang.importAll(this, ");
            write(e->a);
            text(")");
        }
        text(";");
    }
}

std::string Writer::bindCatch(Node* t, const std::string& source, int depth) {
    if (t->kind == N_NAME) {
        std::string own = name(t);
        if (own == source) return "";
        put("try{throw ", source, "}catch(", own, "){ ");
        return "}";
    }
    std::string close, access;
    for (uint32_t i = 0; i < t->count; i++) {
        Node* target = elementAccess(t, i, source, &access);
        if (!target) continue;
        if (target->kind == N_NAME) {
            close += bindCatch(target, access, depth);
            continue;
        }
        // A nested pattern: its value first into a catch parameter of this depth.
        std::string inner = prefix() + "exc" + std::to_string(depth + 1);
        put("try{throw ", access, "}catch(", inner, "){ ");
        close += "}" + bindCatch(target, inner, depth + 1);
    }
    return close;
}

} // namespace translator
