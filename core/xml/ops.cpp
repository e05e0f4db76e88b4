// ECMA-357 [[Get]], [[Put]], [[Delete]], [[HasProperty]], [[Descendants]], [[Insert]],
// [[Replace]] and [[ResolveValue]] of XML and XMLList objects (core/xml/ops.h).
//
// Where the standard hands a node that already sits in a tree to [[Replace]] or [[Insert]],
// it would make that node the child of two parents; a copy goes in instead (the engine of
// that era copies too), so every node keeps one parent.
#include "core/xml/ops.h"

#include "core/xml/write.h"

#include <vector>

namespace xml {

Ref& Ref::operator=(Ref&& o) noexcept {
    if (this != &o) {
        Node* n = node;
        List* l = list;
        node = o.node;
        list = o.list;
        o.node = nullptr;
        o.list = nullptr;
        if (n) unref(n);
        if (l) unref(l);
    }
    return *this;
}

Ref::~Ref() {
    if (node) unref(node);
    if (list) unref(list);
}

bool matchKid(const Node* k, const Query& q) {
    bool star = q.name.local == starName();
    return (star || (k->kind == kElement && k->name.local == q.name.local)) &&
           (!q.name.uri || (k->kind == kElement && k->name.uri == q.name.uri));
}

bool matchAttr(const Node* a, const Query& q) {
    return (q.name.local == starName() || a->name.local == q.name.local) &&
           (!q.name.uri || a->name.uri == q.name.uri);
}

namespace {

struct StrRef {
    Str* s;
    ~StrRef() { release(s); }
};

Ref freshList(Node* targetNode, List* targetList, const Query* q) {
    Ref r(newList());
    setTarget(r.list, targetNode, targetList);
    if (q) setProp(r.list, &q->name, q->attr);
    return r;
}

void collect(List* out, Node* x, const Query& q) {
    if (q.attr) {
        for (Node* a : x->attrs)
            if (matchAttr(a, q)) append(out, a);
    } else {
        for (Node* k : x->kids)
            if (matchKid(k, q)) append(out, k);
    }
}

bool isKidKind(Kind k) {
    return k == kElement || k == kComment || k == kInstruction || k == kText;
}

// The node to put into a tree for v: v itself when it is a root, else a copy; a text node
// for anything that is not a child kind.
Ref childFor(const Val& v) {
    if (v.node && isKidKind(v.node->kind))
        return v.node->parent ? Ref(deepCopy(v.node)) : Ref(v.node);
    Ref t(newNode(kText));
    t.node->value = toText(v);
    return t;
}

void checkNotAncestor(const Node* v, const Node* x) {
    if (v && v->kind == kElement && isAncestorOrSelf(v, x))
        throw Fault{"an element cannot become a child of itself or of its descendants"};
}

Ref resolve(List* l, Str* defaultUri, int depth);

// ECMA-357 [[ResolveValue]] of a list's target.
Ref resolveTarget(List* l, Str* defaultUri, int depth) {
    if (l->targetNode) return Ref(l->targetNode);
    if (l->targetList) return resolve(l->targetList, defaultUri, depth + 1);
    return Ref();
}

Ref resolve(List* l, Str* defaultUri, int depth) {
    if (l->items.n) return Ref(l);
    if (depth > 10000 || !l->hasProp || l->propAttr || l->prop.local == starName()) return Ref();
    Ref base = resolveTarget(l, defaultUri, depth);
    if (!base) return Ref();
    Query q{l->prop, false};
    Ref t = base.node ? get(base.node, q) : get(base.list, q);
    if (!t.list->items.n) {
        if (base.list && base.list->items.n > 1) return Ref();
        Val empty;
        StrRef e{empty.text = retain(emptyName())};
        if (base.node)
            put(base.node, q, empty, defaultUri);
        else
            put(base.list, q, empty, defaultUri);
        t = base.node ? get(base.node, q) : get(base.list, q);
    }
    return t;
}

void setItem(List* l, uint32_t i, Node* n) {
    ref(n);
    Node* old = l->items[i];
    l->items[i] = n;
    unref(old);
}

} // namespace

Ref get(Node* x, const Query& q) {
    Ref r = freshList(x, nullptr, &q);
    collect(r.list, x, q);
    return r;
}

Ref get(List* x, const Query& q) {
    Ref r = freshList(nullptr, x, &q);
    for (Node* n : x->items)
        if (n->kind == kElement) collect(r.list, n, q);
    return r;
}

bool has(const Node* x, const Query& q) {
    if (q.attr) {
        for (const Node* a : x->attrs)
            if (matchAttr(a, q)) return true;
        return false;
    }
    for (const Node* k : x->kids)
        if (matchKid(k, q)) return true;
    return false;
}

bool has(const List* x, const Query& q) {
    for (const Node* n : x->items)
        if (n->kind == kElement && has(n, q)) return true;
    return false;
}

void remove(Node* x, const Query& q) {
    Hold h(x);
    if (q.attr) {
        for (uint32_t i = x->attrs.n; i-- > 0;)
            if (matchAttr(x->attrs[i], q)) removeAttr(x, i);
        return;
    }
    for (uint32_t i = x->kids.n; i-- > 0;)
        if (matchKid(x->kids[i], q)) removeKid(x, i);
}

void remove(List* x, const Query& q) {
    for (Node* n : x->items)
        if (n->kind == kElement) remove(n, q);
}

void removeIndex(List* x, uint32_t i) {
    if (i >= x->items.n) return;
    Node* n = x->items[i];
    Hold h(n);
    if (Node* parent = n->parent) {
        Vec<Node*>& from = n->kind == kAttribute ? parent->attrs : parent->kids;
        for (uint32_t k = 0; k < from.n; k++) {
            if (from[k] != n) continue;
            if (n->kind == kAttribute)
                removeAttr(parent, k);
            else
                removeKid(parent, k);
            break;
        }
    }
    removeItem(x, i);
}

Ref descendants(Node* x, const Query& q) {
    Ref r = freshList(nullptr, nullptr, nullptr);
    eachNode(x, [&](Node* m) {
        bool found = q.attr ? m->kind == kAttribute && matchAttr(m, q)
                            : m != x && m->kind != kAttribute && matchKid(m, q);
        if (found) append(r.list, m);
    });
    return r;
}

Ref descendants(List* x, const Query& q) {
    Ref r = freshList(nullptr, nullptr, nullptr);
    for (Node* n : x->items) {
        if (n->kind != kElement) continue;
        Ref d = descendants(n, q);
        appendAll(r.list, d.list);
    }
    setTarget(r.list, nullptr, nullptr);
    setProp(r.list, nullptr, false);
    return r;
}

Ref copyList(const List* l) {
    Ref r(newList());
    for (const Node* n : l->items)
        append(r.list, deepCopy(n));
    return r;
}

Str* toText(const Val& v) {
    if (v.text) return retain(v.text);
    std::string s;
    if (v.node)
        writeString(s, v.node, settingsFormat());
    else if (v.list)
        writeListString(s, v.list, settingsFormat());
    return newStr(s.data(), s.size());
}

void replace(Node* x, uint32_t i, const Val& v) {
    if (x->kind != kElement) return;
    Hold h(x);
    if (i > x->kids.n) i = x->kids.n;
    if (v.list) {
        if (i < x->kids.n) removeKid(x, i);
        return insert(x, i, v);
    }
    checkNotAncestor(v.node, x);
    Ref n = childFor(v);
    if (i < x->kids.n) removeKid(x, i);
    insertKids(x, i, &n.node, 1);
}

void insert(Node* x, uint32_t i, const Val& v) {
    if (x->kind != kElement) return;
    Hold h(x);
    if (i > x->kids.n) i = x->kids.n;
    if (!v.list) {
        checkNotAncestor(v.node, x);
        Ref n = childFor(v);
        return insertKids(x, i, &n.node, 1);
    }
    std::vector<Ref> nodes;
    for (Node* item : v.list->items) {
        checkNotAncestor(item, x);
        Val one;
        one.node = item;
        nodes.push_back(childFor(one));
    }
    for (size_t k = 0; k < nodes.size(); k++)
        insertKids(x, i + static_cast<uint32_t>(k), &nodes[k].node, 1);
}

void put(Node* x, const Query& q, const Val& v, Str* defaultUri) {
    if (x->kind != kElement) return;
    Hold h(x);
    bool isText = v.text || (v.node && (v.node->kind == kText || v.node->kind == kAttribute));
    Ref copy;
    StrRef text{nullptr};
    if (isText)
        text.s = toText(v);
    else if (v.node)
        copy = Ref(deepCopy(v.node));
    else if (v.list)
        copy = copyList(v.list);
    Val c;
    c.node = copy.node;
    c.list = copy.list;
    c.text = text.s;

    if (q.attr) {
        if (!isXmlName(q.name.local->data, q.name.local->size)) return;
        std::string s;
        if (c.list) {
            for (uint32_t k = 0; k < c.list->items.n; k++) {
                if (k) s += ' ';
                writeString(s, c.list->items[k], settingsFormat());
            }
        } else if (c.node) {
            writeString(s, c.node, settingsFormat());
        } else {
            s.assign(c.text->data, c.text->size);
        }
        Node* a = nullptr;
        for (uint32_t k = 0; k < x->attrs.n;) {
            if (!matchAttr(x->attrs[k], q)) {
                k++;
            } else if (!a) {
                a = x->attrs[k++];
            } else {
                removeAttr(x, k);
            }
        }
        Str* value = newStr(s.data(), s.size());
        if (!a) {
            Ref na(newNode(kAttribute));
            na.node->value = value;
            Name n = q.name;
            if (!n.uri) n.uri = emptyName();
            setName(na.node->name, n);
            addAttr(x, na.node);
            if (n.prefix && !isEmpty(n.prefix)) addNamespace(x, n.prefix, n.uri);
            return;
        }
        release(a->value);
        a->value = value;
        return;
    }

    bool star = q.name.local == starName();
    if (!star && !isXmlName(q.name.local->data, q.name.local->size)) return;
    int64_t i = -1;
    for (uint32_t k = x->kids.n; k-- > 0;) {
        if (!matchKid(x->kids[k], q)) continue;
        if (i >= 0) removeKid(x, static_cast<uint32_t>(i));
        i = k;
    }
    bool primitive = isText && !star;
    if (i < 0) {
        i = x->kids.n;
        if (primitive) {
            Ref y(newNode(kElement));
            Name n = q.name;
            if (!n.uri) {
                n.uri = defaultUri ? defaultUri : emptyName();
                n.prefix = nullptr;
            }
            setName(y.node->name, n);
            insertKids(x, static_cast<uint32_t>(i), &y.node, 1);
            addNamespace(y.node, n.prefix, n.uri);
        }
    }
    if (!primitive) return replace(x, static_cast<uint32_t>(i), c);
    Node* t = x->kids[i];
    Hold ht(t);
    while (t->kids.n)
        removeKid(t, t->kids.n - 1);
    if (c.text->size) {
        Ref tn(newNode(kText));
        tn.node->value = retain(c.text);
        insertKids(t, 0, &tn.node, 1);
    }
}

// ECMA-357 9.2.1.2 [[Put]] of an XMLList, step 2 (an index; steps 3 and 4, a name, are the
// put() below). An index at or past the end adds an item first, in the list's target when
// it has one; the value then takes the place of the item.
void putIndex(List* list, uint32_t index, const Val& value, Str* defaultUri) {
    Ref keep(list);
    // 2.a-b: the object the list was selected from, when it has one.
    Ref target;
    if (list->targetNode || list->targetList) {
        target = resolveTarget(list, defaultUri, 0);
        if (!target) return;
    }
    if (index >= list->items.n) {
        // 2.c.i-ii: the target must be one element.
        Node* parent = target.node;
        if (target.list) {
            if (target.list->items.n != 1) return;
            parent = target.list->items[0];
        }
        if (parent && parent->kind != kElement) return;
        if (list->hasProp && list->propAttr) {
            // 2.c.iv: a new attribute of the target (nothing when the target has one of
            // that name), made by the target's own [[Put]] with the value; the list takes it.
            if (!parent) return;
            Query attrQuery{list->prop, true};
            if (has(parent, attrQuery)) return;
            Val attrValue;
            StrRef ownText{attrValue.text = toText(value)};
            put(parent, attrQuery, attrValue, defaultUri);
            Ref made = get(parent, attrQuery);
            if (made.list->items.n) append(list, made.list->items[0]);
            return;
        }
        // 2.c.iii, v-vi: a text node when the list selected no name or *, else an element of
        // the selected name.
        bool isText = !list->hasProp || list->prop.local == starName();
        Ref added(newNode(isText ? kText : kElement));
        if (isText) {
            added.node->value = retain(emptyName());
        } else {
            Name name = list->prop;
            if (!name.uri) name.uri = defaultUri ? defaultUri : emptyName();
            setName(added.node->name, name);
        }
        if (parent) {
            // 2.c.viii.1: into the target after the list's last item, else at its end.
            int64_t after = static_cast<int64_t>(parent->kids.n) - 1;
            if (list->items.n) {
                int64_t lastAt = indexOf(parent, list->items[list->items.n - 1]);
                if (lastAt >= 0) after = lastAt;
            }
            Hold holdParent(parent);
            insertKids(parent, static_cast<uint32_t>(after + 1), &added.node, 1);
            // 2.c.viii.2-3: an element takes the name of the value (or of what a list
            // value selected).
            if (value.node && added.node->kind == kElement && value.node->name.local) {
                setName(added.node->name, value.node->name);
            } else if (value.list && value.list->hasProp && added.node->kind == kElement) {
                Name name = value.list->prop;
                if (!name.uri) name.uri = emptyName();
                setName(added.node->name, name);
            }
        }
        // 2.c.vii, ix: the new item is the last of the list, and the one put.
        append(list, added.node);
        index = list->items.n - 1;
    }
    // 2.d: a value that is neither XML nor XMLList, or a text or attribute node, is put as
    // its string.
    Val assigned = value;
    StrRef assignedText{nullptr};
    if (!(value.node || value.list) ||
        (value.node && (value.node->kind == kText || value.node->kind == kAttribute))) {
        assignedText.s = toText(value);
        assigned = Val();
        assigned.text = assignedText.s;
    }
    Node* item = list->items[index];
    Hold holdItem(item);
    Node* parent = item->parent;
    Hold holdParent(parent);
    if (item->kind == kAttribute) {
        // 2.e: an attribute is put through its parent, and the list takes the result.
        if (!parent) return;
        Query attrQuery{item->name, true};
        put(parent, attrQuery, assigned, defaultUri);
        Ref made = get(parent, attrQuery);
        if (made.list->items.n) setItem(list, index, made.list->items[0]);
    } else if (assigned.list) {
        // 2.f: a list value replaces the item in its parent, and its items (as they now
        // stand there) replace the item in the list.
        std::vector<Ref> copies;
        if (parent) {
            int64_t position = indexOf(parent, item);
            replace(parent, static_cast<uint32_t>(position), assigned);
            for (uint32_t at = 0; at < assigned.list->items.n; at++)
                copies.emplace_back(parent->kids[position + at]);
        } else {
            for (Node* node : assigned.list->items)
                copies.emplace_back(node);
        }
        removeItem(list, index);
        std::vector<Node*> nodes;
        for (Ref& copy : copies) {
            ref(copy.node);
            nodes.push_back(copy.node);
        }
        list->items.insert(index, nodes.data(), static_cast<uint32_t>(nodes.size()));
    } else if (assigned.node || item->kind != kElement) {
        // 2.g: an XML value, or any value put on a text, comment or processing instruction,
        // replaces the item in its parent and in the list (a string as a text node).
        if (parent) {
            int64_t position = indexOf(parent, item);
            replace(parent, static_cast<uint32_t>(position), assigned);
            setItem(list, index, parent->kids[position]);
        } else if (assigned.text) {
            Ref textNode(newNode(kText));
            textNode.node->value = retain(assigned.text);
            setItem(list, index, textNode.node);
        } else {
            setItem(list, index, assigned.node);
        }
    } else {
        // 2.h: a string put on an element replaces its content.
        Query all;
        all.name.local = starName();
        put(item, all, assigned, defaultUri);
    }
}

void put(List* x, const Query& q, const Val& v, Str* defaultUri) {
    if (x->items.n > 1) throw Fault{"assignment to a list of more than one item"};
    Ref keep(x);
    if (!x->items.n) {
        Ref r = resolve(x, defaultUri, 0);
        if (!r || r.list->items.n != 1) return;
        if (r.list != x) append(x, r.list->items[0]);
    }
    put(x->items[0], q, v, defaultUri);
}

namespace {
// The code point at s[i] and its length in bytes (CESU-8, surrogate pairs joined).
uint32_t codePoint(const unsigned char* s, size_t n, size_t i, size_t* len) {
    unsigned c = s[i];
    auto cont = [&](size_t k) -> uint32_t { return i + k < n ? s[i + k] & 0x3F : 0; };
    if (c < 0x80) {
        *len = 1;
        return c;
    }
    if (c < 0xE0) {
        *len = 2;
        return ((c & 0x1F) << 6) | cont(1);
    }
    if (c < 0xF0) {
        *len = 3;
        uint32_t cp = ((c & 0x0F) << 12) | (cont(1) << 6) | cont(2);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 5 < n && s[i + 3] == 0xED) {
            *len = 6;
            return 0x10000 + ((cp - 0xD800) << 10) + ((((s[i + 4] & 0x0F) << 6) | cont(5)) & 0x3FF);
        }
        return cp;
    }
    *len = 4;
    return ((c & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
}

// XML 1.0 (fifth edition) NameStartChar and NameChar, without the colon.
bool nameStart(uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool nameChar(uint32_t c) {
    return nameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}
} // namespace

bool isXmlName(const char* s, size_t n) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    if (!n) return false;
    for (size_t i = 0; i < n;) {
        size_t len;
        uint32_t c = codePoint(u, n, i, &len);
        if (!(i == 0 ? nameStart(c) : nameChar(c))) return false;
        i += len;
    }
    return true;
}

} // namespace xml
