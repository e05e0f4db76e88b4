// The writer's E4X forms, lowered to property keys and the helpers of __lang.xml (see the
// E4X objects in core/xml/binding/):
//   <a b={v}>{c}</a>  ->  __lang.xml.literal("<a b=\"" + __lang.xml.escapeAttribute(v) +
//                         "\">" + __lang.xml.content(c) + "</a>")   (<>...</>: listLiteral)
//   x.@a, x.@*, x.*   ->  x["@a"], x["@*"], x["*"]
//   x.@[e]            ->  x[__lang.xml.attributeKey(e)]
//   x.ns::a, x.@ns::a ->  x[__lang.xml.key(ns, "a")], x[__lang.xml.key(ns, "a", true)]
//   x.function::a     ->  (__lang.xml.method(x, "a")), x.function::a(b) ->
//                         __lang.xml.callMethod(x, "a", b)
//   x..a              ->  __lang.xml.descendants(x, "a")
//   x.(p)             ->  __lang.xml.filter(x, function ($x1) { with ($x1) return (p); }, this)
//   @a, ns::a alone   ->  $x1["@a"], __lang.xml.qualified(ns, "a", $x1) inside a filter;
//                         __lang.xml.bareAttribute("a"), __lang.xml.qualified(ns, "a") outside;
//                         inside with (o) {...} (o kept as $w1): __lang.xml.scoped("@a", $x1
//                         or null, "@a", $w1) (the with objects innermost first)
//   default xml namespace = e;  ->  __lang.xml.setDefaultNamespace(e);
// An initialiser's text is written as string literals broken where its lines break, so what
// follows it keeps its lines.
#include "core/translator/writer.h"

namespace translator {

namespace {

// Text as the inside of a double-quoted string literal (line breaks are the caller's).
template <class Out> void quoteInto(Out& out, const char* p, const char* end) {
    static const char kHex[] = "0123456789abcdef";
    for (; p < end; p++) {
        unsigned char c = *p;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 && c != '\t') {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c == 0xE2 && lineBreakAt(reinterpret_cast<const char*>(p), end) == 3) {
            out += p[2] == '\xA8' ? "\\u2028" : "\\u2029";
            p += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
}

std::string quoted(const char* p, size_t n) {
    std::string s = "\"";
    quoteInto(s, p, p + n);
    return s + "\"";
}

bool qualified(const Node* sel) {
    return sel->a || (sel->op & XS_ANYNS);
}

} // namespace

// The initialiser's text as it is being written: a string literal may be open; a `+` is due
// before the next piece.
struct Writer::XmlOut {
    bool open = false, plus = false;
    uint32_t line; // the source line of the text being written
};

// An operand of a call: a comma expression keeps its own parentheses.
void Writer::writeOperand(Node* e) {
    bool comma = e->kind == N_COMMA;
    if (comma) text("(");
    write(e);
    if (comma) text(")");
}

// Opens a string literal for the initialiser's text, unless one is open.
void Writer::xmlString(XmlOut& o) {
    if (o.open) return;
    toLine(o.line);
    text(o.plus ? " + \"" : "\"");
    o.open = true;
}

void Writer::writeXmlText(XmlOut& o, uint32_t from, uint32_t to) {
    const char* end = src_ + to;
    for (const char* p = src_ + from; p < end;) {
        const char* q = p;
        while (q < end && *q != '\n' && *q != '\r' && !(*q == '\xE2' && lineBreakAt(q, end)))
            q++;
        xmlString(o);
        quoteInto(out_, p, q);
        if (q == end) break;
        // A line break: the string ends with it, the next one starts on the next line.
        size_t n = lineBreakAt(q, end);
        if (n == 3) {
            quoteInto(out_, q, q + 3);
        } else {
            text(*q == '\n' ? "\\n" : n == 2 ? "\\r\\n" : "\\r");
        }
        text("\" +");
        o.open = o.plus = false;
        o.line++;
        p = q + n;
    }
}

// A braced expression: text of a name, a quoted attribute value, or content.
void Writer::writeXmlPart(XmlOut& o, Node* part) {
    if (part->op == XP_VALUE) {
        xmlString(o);
        text("\\\"");
    }
    if (o.open) {
        text("\"");
        o.open = false;
        o.plus = true;
    }
    toLine(o.line);
    if (o.plus) text(" + ");
    text(part->op == XP_NAME    ? "String("
         : part->op == XP_VALUE ? "__lang.xml.escapeAttribute("
                                : "__lang.xml.content(");
    writeOperand(part->a);
    text(")");
    o.plus = true;
    o.line = part->line + countLines(src_ + part->start, src_ + part->end);
    if (part->op == XP_VALUE) {
        xmlString(o);
        text("\\\"");
    }
}

// The E4X forms, by kind.
void Writer::writeXmlForm(Node* n) {
    switch (n->kind) {
    case N_XML:
        writeXml(n);
        break;
    case N_XMLNAME:
        writeXmlName(n);
        break;
    case N_XMLMEMBER:
        writeXmlMember(n);
        break;
    case N_XMLFILTER:
        writeXmlFilter(n);
        break;
    case N_WITH:
        if (n->op)
            writeXmlWith(n);
        else
            writeHoles(n);
        break;
    default: // N_XMLNS
        writeXmlNamespace(n);
    }
}

void Writer::writeXml(Node* n) {
    token(n->start, n->op ? "__lang.xml.listLiteral(" : "__lang.xml.literal(");
    XmlOut o;
    o.line = n->line;
    // A list's text is what stands between <> and </>.
    uint32_t pos = n->op ? n->start + 2 : n->start, end = n->op ? n->end - 3 : n->end;
    for (uint32_t i = 0; i < n->count; i++) {
        Node* part = n->list[i];
        writeXmlText(o, pos, part->start);
        writeXmlPart(o, part);
        pos = part->end;
    }
    writeXmlText(o, pos, end);
    if (!o.plus) xmlString(o); // no text, or text ending in a line break: an empty string
    text(o.open ? "\")" : ")");
}

// The namespace and local name of a qualified selector, as two arguments.
void Writer::writeXmlQualified(Node* sel) {
    if (sel->a) {
        write(sel->a);
    } else {
        text("\"*\"");
    }
    writeXmlLocal(sel);
}

// The property key a selector names.
void Writer::writeXmlKey(Node* sel) {
    bool attr = sel->op & XS_ATTR;
    if (qualified(sel)) {
        text("__lang.xml.key(");
        writeXmlQualified(sel);
        text(attr ? ", true)" : ")");
    } else if (sel->op & XS_EXPR) {
        text("__lang.xml.attributeKey(");
        write(sel->b);
        text(")");
    } else {
        std::string key =
            std::string(attr ? "@" : "") + (sel->op & XS_STAR ? std::string("*") : sel->name.str());
        text(quoted(key.data(), key.size()));
    }
}

// A selector as an operand: of the objects of the with statements around it that have the
// name, of the innermost filter's item, or of nothing.
void Writer::writeXmlName(Node* n) {
    Node* t = n->target;
    std::string withs;
    for (; t && t->kind == N_WITH; t = p_.xmlOuter[t])
        withs += ", " + prefix() + "w" + std::to_string(t->name.n);
    std::string item = t ? prefix() + "x" + std::to_string(static_cast<int>(t->op)) : "";
    if (n->op & XS_FUNCTION) {
        writeXmlScopedMethod(n, nullptr, withs, item);
        return;
    }
    if (!withs.empty()) {
        token(n->start, "__lang.xml.scoped(");
        writeXmlKey(n);
        text(", " + (item.empty() ? std::string("null") : item) + ", " +
             quoted(src_ + n->start, n->end - n->start) + withs + ")");
    } else if (qualified(n) && !(n->op & XS_ATTR)) {
        token(n->start, "__lang.xml.qualified(");
        writeXmlQualified(n);
        text(item.empty() ? ")" : ", " + item + ")");
    } else if (!item.empty()) {
        token(n->start, (item + "[").c_str());
        writeXmlKey(n);
        text("]");
    } else {
        // Outside a filter an attribute names nothing: an error when it is reached.
        token(n->start, "__lang.xml.bareAttribute(");
        text(quoted(src_ + n->start + 1, n->end - n->start - 1) + ")");
    }
}

// A bare function::name, or its call (call not null): the method of that name of the first
// object in scope that has one: the with objects and the filter's item, innermost first,
// then the name as a plain reference (a function that reads it; none for * or [e]).
//   function::f      ->  __lang.xml.scopedMethod("f", [$w1, $x1], function () { return f; })
//   function::f(a)   ->  __lang.xml.scopedCall("f", [...], function () { return f; }, a)
// Without a with or filter around it, function::f is f itself.
void Writer::writeXmlScopedMethod(Node* sel, Node* call, const std::string& withs,
                                  const std::string& item) {
    bool plain = !(sel->op & (XS_EXPR | XS_STAR | XS_WORD));
    std::string name = plain ? std::string(sel->name.p, sel->name.n) : std::string();
    if (withs.empty() && item.empty() && plain) {
        token(sel->start, name.c_str());
        if (call) {
            text("(");
            for (uint32_t i = 0; i < call->count; i++) {
                if (i) text(", ");
                writeOperand(call->list[i]);
            }
            text(")");
        }
        return;
    }
    token(sel->start, call ? "__lang.xml.scopedCall(" : "__lang.xml.scopedMethod(");
    if (sel->op & XS_EXPR)
        writeOperand(sel->b);
    else
        text(sel->op & XS_STAR ? std::string("\"*\"") : quoted(sel->name.p, sel->name.n));
    std::string scope = withs.empty() ? std::string() : withs.substr(2);
    if (!item.empty()) scope += (scope.empty() ? "" : ", ") + item;
    text(", [" + scope + "], " + (plain ? "function () { return " + name + "; }" : "null"));
    for (uint32_t i = 0; call && i < call->count; i++) {
        text(", ");
        writeOperand(call->list[i]);
    }
    text(")");
}

// The local name of a qualified selector (or its [expression]), as a further argument.
void Writer::writeXmlLocal(Node* sel) {
    text(", ");
    if (sel->op & XS_EXPR) {
        writeOperand(sel->b);
    } else {
        text(sel->op & XS_STAR ? "\"*\"" : quoted(sel->name.p, sel->name.n));
    }
}

// x.function::a(args): the method called on x, its arguments evaluated after the lookup's
// operands.
void Writer::writeXmlMethodCall(Node* call) {
    Node* m = call->a;
    if (m->kind == N_XMLNAME) { // a bare function::f(args)
        Node* t = m->target;
        std::string withs;
        for (; t && t->kind == N_WITH; t = p_.xmlOuter[t])
            withs += ", " + prefix() + "w" + std::to_string(t->name.n);
        std::string item = t ? prefix() + "x" + std::to_string(static_cast<int>(t->op)) : "";
        writeXmlScopedMethod(m, call, withs, item);
        return;
    }
    token(call->start, "__lang.xml.callMethod(");
    write(m->a);
    writeXmlLocal(m->b);
    for (uint32_t i = 0; i < call->count; i++) {
        text(", ");
        writeOperand(call->list[i]);
    }
    text(")");
}

void Writer::writeXmlMember(Node* n) {
    if (n->b->op & XS_FUNCTION) {
        // In parentheses: `new x.function::F()` constructs the method, not the helper.
        token(n->start, "(__lang.xml.method(");
        write(n->a);
        writeXmlLocal(n->b);
        text("))");
        return;
    }
    if (n->op) token(n->start, "__lang.xml.descendants(");
    write(n->a);
    text(n->op ? ", " : "[");
    writeXmlKey(n->b);
    text(n->op ? ")" : "]");
}

void Writer::writeXmlFilter(Node* n) {
    std::string item = prefix() + "x" + std::to_string(static_cast<int>(n->op));
    token(n->start, "__lang.xml.filter(");
    write(n->a);
    text(", function (" + item + ") { with (" + item + ") return (");
    write(n->b);
    text("); }, " + fn_->thisName + ")");
}

// The variable that keeps the object of a with statement that bare selectors inside ask
// ($w1, $w2 ...: one per statement, never reused, as closures inside may read it later),
// declared in the function (not a comprehension's) around the statement.
std::string Writer::xmlWithVar(Node* with) {
    std::string var = prefix() + "w" + std::to_string(with->name.n);
    FnCtx* f = fn_;
    while (f->parent && f->parent->scope == f->scope)
        f = f->parent;
    if (std::find(f->vars.begin(), f->vars.end(), var) == f->vars.end()) f->vars.push_back(var);
    return var;
}

// with (o) body, whose object bare selectors inside ask: with ($w1 = o) body.
void Writer::writeXmlWith(Node* n) {
    std::string var = xmlWithVar(n);
    copy(n->start, n->a->start);
    text(var + " = ");
    writeOperand(n->a);
    copy(n->a->end, n->b->start);
    write(n->b);
    copy(n->b->end, n->end);
}

void Writer::writeXmlNamespace(Node* n) {
    token(n->start, "__lang.xml.setDefaultNamespace(");
    writeOperand(n->a);
    text(")");
    copy(n->a->end, n->end); // the semicolon
}

} // namespace translator
