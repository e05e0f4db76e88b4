// The writer's expressions holding a yield, inside a generator's state machine: the
// expression is evaluated in source order up to each yield, operands evaluated before a
// yield are kept in temporaries, `&&`, `||` and `?:` branch through states, and what
// remains after the last yield comes back as parts of an expression.
#include "core/translator/writer.h"

namespace translator {

namespace {

const char* opText(int t) {
    switch (t) {
    case P_LOR:
        return " || ";
    case P_LAND:
        return " && ";
    case P_BOR:
        return " | ";
    case P_BXOR:
        return " ^ ";
    case P_BAND:
        return " & ";
    case P_EQ:
        return " == ";
    case P_NE:
        return " != ";
    case P_SEQ:
        return " === ";
    case P_SNE:
        return " !== ";
    case P_LT:
        return " < ";
    case P_GT:
        return " > ";
    case P_LE:
        return " <= ";
    case P_GE:
        return " >= ";
    case K_INSTANCEOF:
        return " instanceof ";
    case K_IN:
        return " in ";
    case P_SHL:
        return " << ";
    case P_SHR:
        return " >> ";
    case P_USHR:
        return " >>> ";
    case P_ADD:
        return " + ";
    case P_SUB:
        return " - ";
    case P_MUL:
        return " * ";
    case P_DIV:
        return " / ";
    case P_MOD:
        return " % ";
    case P_ASSIGN:
        return " = ";
    case P_ADD_EQ:
        return " += ";
    case P_SUB_EQ:
        return " -= ";
    case P_MUL_EQ:
        return " *= ";
    case P_DIV_EQ:
        return " /= ";
    case P_MOD_EQ:
        return " %= ";
    case P_SHL_EQ:
        return " <<= ";
    case P_SHR_EQ:
        return " >>= ";
    case P_USHR_EQ:
        return " >>>= ";
    case P_BAND_EQ:
        return " &= ";
    case P_BOR_EQ:
        return " |= ";
    case P_BXOR_EQ:
        return " ^= ";
    case K_DELETE:
        return "delete ";
    case K_VOID:
        return "void ";
    case K_TYPEOF:
        return "typeof ";
    case P_NOT:
        return "!";
    case P_BNOT:
        return "~";
    case P_INC:
        return "++";
    case P_DEC:
        return "--";
    }
    return "?";
}

void append(Parts& to, const Parts& p) {
    to.insert(to.end(), p.begin(), p.end());
}

Parts wrap(const char* open, const Parts& p, const char* close) {
    Parts r;
    addText(r, open);
    append(r, p);
    addText(r, close);
    return r;
}

// A child of each item of e's list (the values of an object literal's properties, the
// braced expressions of an XML initialiser).
std::vector<Node*> itemChildren(const Node* e, Node* Node::*child) {
    std::vector<Node*> r;
    for (uint32_t i = 0; i < e->count; i++)
        r.push_back(e->list[i]->*child);
    return r;
}

} // namespace

// Writes ` temp = value;`: a value taken now, before what follows can change it.
void Writer::store(const std::string& temp, const Parts& value) {
    text(" " + temp + " = ");
    writeParts(value);
    text(";");
}

// The parts written now into a temporary, unless they are a constant or already one.
Parts Writer::spill(const Parts& p) {
    if (p.size() == 1 && p[0].node && p[0].node->kind == N_ATOM && p[0].node->op != K_THIS &&
        !isDirty(p[0].node))
        return p;
    if (p.size() == 1 && !p[0].node && p[0].text.compare(0, prefix().size(), prefix()) == 0 &&
        p[0].text != fn_->gen->v)
        return p;
    std::string t = temp();
    store(t, p);
    return Parts{Part{nullptr, t}};
}

// Operands in order: each one that a later operand's yield would overtake is spilled.
std::vector<Parts> Writer::explodeList(const std::vector<Node*>& ops) {
    size_t lastYield = 0;
    bool any = false;
    for (size_t i = 0; i < ops.size(); i++)
        if (hasYield(ops[i])) {
            lastYield = i;
            any = true;
        }
    std::vector<Parts> r;
    for (size_t i = 0; i < ops.size(); i++) {
        Parts p = ops[i] ? explode(ops[i]) : Parts{};
        if (any && i < lastYield && ops[i]) p = spill(p);
        r.push_back(p);
    }
    return r;
}

// Takes the value of e now into a temporary, which writing e later gives instead: for the
// forms whose writing is not made of parts (E4X initialisers and selectors).
void Writer::substitute(Node* e, const Parts& value) {
    std::string t = temp();
    store(t, value);
    substitutes_.emplace_back(e, t);
}

Parts Writer::explode(Node* e) {
    if (!hasYield(e)) return Parts{Part{e, ""}};
    switch (e->kind) {
    case N_YIELD:
        return explodeYield(e);
    case N_PAREN:
        return wrap("(", explode(e->a), ")");
    case N_BINARY:
        if ((e->op == P_LAND || e->op == P_LOR) && hasYield(e->b)) return explodeLogical(e);
        return explodeBinary(e);
    case N_COND:
        return explodeConditional(e);
    case N_ASSIGN:
        return explodeAssign(e);
    case N_CALL:
    case N_NEW:
        return explodeCall(e);
    case N_MEMBER: {
        Parts r = explode(e->a);
        addText(r, "." + e->name.str());
        return r;
    }
    case N_INDEX: {
        std::vector<Parts> ops = explodeList({e->a, e->b});
        Parts r = ops[0];
        append(r, wrap("[", ops[1], "]"));
        return r;
    }
    case N_UNARY:
        return wrap((std::string("(") + opText(e->op)).c_str(), explode(e->a), ")");
    case N_POSTFIX:
        return wrap("(", explode(e->a), (std::string(opText(e->op)) + ")").c_str());
    case N_COMMA:
        return explodeComma(e);
    case N_ARRAY:
        return explodeArray(e);
    case N_OBJECT:
        return explodeObject(e);
    case N_XML:
        return explodeXml(e);
    case N_XMLMEMBER: // (yield x).a, (yield x)..a: the selector itself holds none
        if (hasYield(e->b)) throw SyntaxFailure{e->line, "yield is not supported here", false};
        substitute(e->a, explode(e->a));
        return Parts{Part{e, ""}};
    case N_LETEXPR:
        return explodeLetExpression(e);
    case N_XMLFILTER:
        return explodeXmlFilter(e);
    default:
        throw SyntaxFailure{e->line, "yield is not supported here", false};
    }
}

// yield v: the value yielded, a state to resume at; the value sent in is the result.
Parts Writer::explodeYield(Node* e) {
    Parts v = e->a ? explode(e->a) : Parts{Part{nullptr, "void 0"}};
    int s = newState();
    at(e);
    yieldText(v, s);
    mark(s);
    return Parts{Part{nullptr, fn_->gen->v}};
}

// a && b, a || b with a yield in b: b is evaluated in a state of its own, reached only when
// a does not decide the result.
Parts Writer::explodeLogical(Node* e) {
    Gen& g = *fn_->gen;
    std::string t = temp();
    Parts a = explode(e->a);
    store(t, a);
    int end = newState();
    put(e->op == P_LAND ? " if (!" : " if (", t, ") {");
    jump(end, g.zone);
    text("}");
    Parts b = explode(e->b);
    store(t, b);
    mark(end);
    return Parts{Part{nullptr, t}};
}

Parts Writer::explodeBinary(Node* e) {
    std::vector<Parts> ops = explodeList({e->a, e->b});
    Parts r = wrap("(", ops[0], opText(e->op));
    append(r, ops[1]);
    addText(r, ")");
    return r;
}

// c ? a : b: each branch in a state of its own, its value into one temporary.
Parts Writer::explodeConditional(Node* e) {
    Gen& g = *fn_->gen;
    std::string t = temp();
    int other = newState(), end = newState();
    Parts c = explode(e->a);
    text(" if (!(");
    writeParts(c);
    text(")) {");
    jump(other, g.zone);
    text("}");
    Parts b = explode(e->b);
    store(t, b);
    text(" ");
    jump(end, g.zone);
    mark(other);
    Parts x = explode(e->c);
    store(t, x);
    mark(end);
    return Parts{Part{nullptr, t}};
}

// An assignment: the target's object and index are taken before the value's yield; a
// pattern destructures a temporary; a const keeps its value (the assignment is dropped).
Parts Writer::explodeAssign(Node* e) {
    Node* t = e->a;
    if (t->kind == N_ARRAYPAT || t->kind == N_OBJECTPAT) {
        Parts v = explode(e->b);
        std::string tmp = temp();
        store(tmp, v);
        text(" ");
        destructure(t, tmp, true);
        text(";");
        return Parts{Part{nullptr, tmp}};
    }
    if (t->kind == N_NAME && t->binding && t->binding->kind == B_CONST) return explode(e->b);
    Parts target;
    if (t->kind == N_MEMBER) {
        target = spill(explode(t->a));
        addText(target, "." + t->name.str());
    } else if (t->kind == N_INDEX) {
        std::vector<Parts> ops = explodeList({t->a, t->b});
        target = spill(ops[0]);
        append(target, wrap("[", spill(ops[1]), "]"));
    } else {
        target = Parts{Part{t, ""}};
        if (e->op != P_ASSIGN) return explodeCompoundAssign(e, target);
    }
    Parts v = explode(e->b);
    Parts r = wrap("(", target, opText(e->op));
    append(r, v);
    addText(r, ")");
    return r;
}

// x += yield v: x is read before the yield, and assigned the result of the operator.
Parts Writer::explodeCompoundAssign(Node* e, const Parts& target) {
    Parts old = spill(target);
    Parts v = explode(e->b);
    Parts r = wrap("(", target, " = ");
    append(r, old);
    std::string op = opText(e->op);
    addText(r, op.substr(0, op.size() - 2) + " ");
    append(r, v);
    addText(r, ")");
    return r;
}

// f(args), new F(args): the callee (and its object, for a method) is taken before a yield
// of the arguments.
Parts Writer::explodeCall(Node* e) {
    Node* c = e->a;
    bool argsYield = false;
    std::vector<Node*> args(e->list, e->list + e->count);
    for (Node* a : args)
        if (hasYield(a)) argsYield = true;
    Parts callee;
    if (c->kind == N_XMLMEMBER && (c->b->op & XS_FUNCTION) && e->kind == N_CALL) {
        // x.function::f(...): its operands in order, the call written as without a yield
        std::vector<Node*> ops{c->a};
        if (c->b->op & XS_EXPR) ops.push_back(c->b->b);
        ops.insert(ops.end(), args.begin(), args.end());
        std::vector<Parts> v = explodeList(ops);
        for (size_t i = 0; i < ops.size(); i++)
            substitute(ops[i], v[i]);
        return Parts{Part{e, ""}};
    }
    if (c->kind == N_MEMBER) {
        callee = explode(c->a);
        if (argsYield) callee = spill(callee);
        addText(callee, "." + c->name.str());
    } else if (c->kind == N_INDEX) {
        std::vector<Parts> ops = explodeList({c->a, c->b});
        callee = argsYield ? spill(ops[0]) : ops[0];
        append(callee, wrap("[", argsYield ? spill(ops[1]) : ops[1], "]"));
    } else {
        if (c->kind == N_NAME && e->kind == N_CALL) c->flags |= F_CALLEE;
        callee = explode(c);
        if (argsYield && !(c->kind == N_NAME)) callee = spill(callee);
    }
    std::vector<Parts> a = explodeList(args);
    Parts r;
    if (e->kind == N_NEW) addText(r, "new ");
    append(r, callee);
    addText(r, "(");
    for (size_t i = 0; i < a.size(); i++) {
        if (i) addText(r, ", ");
        append(r, a[i]);
    }
    addText(r, ")");
    return r;
}

// a, b, c: the operands before the last are statements of their own.
Parts Writer::explodeComma(Node* e) {
    for (uint32_t i = 0; i + 1 < e->count; i++) {
        Parts p = explode(e->list[i]);
        if (p.size() == 1 && !p[0].node) continue;
        text(" ");
        writeParts(p);
        text(";");
    }
    return explode(e->list[e->count - 1]);
}

Parts Writer::explodeArray(Node* e) {
    std::vector<Node*> ops(e->list, e->list + e->count);
    std::vector<Parts> v = explodeList(ops);
    Parts r;
    addText(r, "[");
    for (size_t i = 0; i < v.size(); i++) {
        if (i) addText(r, ", ");
        append(r, v[i]);
    }
    addText(r, ops.size() && !ops.back() ? ",]" : "]");
    return r;
}

// An object literal: the values in order; accessors are written as they stand.
Parts Writer::explodeObject(Node* e) {
    std::vector<Parts> v = explodeList(itemChildren(e, &Node::b));
    Parts r;
    addText(r, "{");
    for (size_t i = 0; i < v.size(); i++) {
        Node* p = e->list[i];
        if (i) addText(r, ", ");
        if (p->op == 1 || p->op == 2 || p->op >= 4) {
            r.push_back(Part{p, ""});
            continue;
        }
        addText(r, std::string(src_ + p->a->start, p->a->end - p->a->start) + ": ");
        append(r, v[i]);
    }
    addText(r, "}");
    return r;
}

// x.(pred) with a yield in pred: the items walked in states, each the scope of pred's names
// (and the item its bare @a and * name), the answers kept; the filter then takes the items
// of those answers, in order.
Parts Writer::explodeXmlFilter(Node* e) {
    if (!hasYield(e->b)) {
        substitute(e->a, explode(e->a));
        return Parts{Part{e, ""}};
    }
    Gen& g = *fn_->gen;
    Parts object = explode(e->a);
    std::string items = temp(), answers = temp(), i = temp(), item = temp();
    std::string named =
        "{" + prefix() + "x" + std::to_string(static_cast<int>(e->op)) + ": " + item + "}";
    put(" ", items, " = __lang.xml.filter(");
    writeParts(object);
    put(", function () { return true; }, null), ", answers, " = [], ", i, " = 0;");
    int top = newState(), end = newState();
    mark(top);
    put(" if (!(", i, " < ", items, ".length())) {");
    jump(end, g.zone);
    put("} ", item, " = ", items, "[", i, "]; with (", named, ") { with (", item, ") {");
    g.withs.push_back(named);
    g.withs.push_back(item);
    Parts answer = explode(e->b);
    put(" ", answers, "[", i, "] = !!(");
    writeParts(answer);
    text(");");
    g.withs.pop_back();
    g.withs.pop_back();
    put(" }} ", i, "++; ");
    jump(top, g.zone);
    mark(end);
    return Parts{Part{nullptr, "__lang.xml.filter(" + items + ", function () { return " + answers +
                                   ".shift(); }, null)"}};
}

// An XML initialiser: the braced expressions in order, each into a temporary the
// initialiser is written with.
Parts Writer::explodeXml(Node* e) {
    std::vector<Node*> ops = itemChildren(e, &Node::a);
    std::vector<Parts> v = explodeList(ops);
    for (size_t i = 0; i < ops.size(); i++)
        substitute(ops[i], v[i]);
    return Parts{Part{e, ""}};
}

// let (declarations) expr: the declarations as assignments, then the expression.
Parts Writer::explodeLetExpression(Node* e) {
    enterHolder(e);
    for (uint32_t i = 0; i < e->count; i++) {
        Node* d = e->list[i];
        explodeDeclaration(d);
    }
    return explode(e->a);
}

} // namespace translator
