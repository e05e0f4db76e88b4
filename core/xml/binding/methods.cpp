// The methods of XML.prototype and XMLList.prototype (ECMA-357 13.4.4 and 13.5.4). One
// native serves both prototypes where a method exists on both; an XMLList of one item
// reaches the XML-only methods through the engine's method call (callMethod).
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"
#include "core/xml/write.h"

#include <vector>

namespace engine {
namespace e4x {

using namespace xml;

namespace {

// The items of a value: a node is a list of one.
struct Items {
    Node* const* p;
    uint32_t n;
    Node* const* begin() const { return p; }
    Node* const* end() const { return p + n; }
};
Items itemsOf(const Value& v) {
    return v.node ? Items{&v.node, 1} : Items{v.list->items.p, v.list->items.n};
}

void nameArg(duk_context* ctx, duk_idx_t i, Name& n, bool attribute = false) {
    if (i >= 0 && duk_get_top(ctx) > i && !duk_is_undefined(ctx, i)) {
        toName(ctx, i, n, attribute);
    } else {
        n.q.name.local = retain(starName());
        n.q.attr = attribute;
    }
}

Ref newTargeted(const Value& v, const Query* q) {
    Ref r(newList());
    setTarget(r.list, v.node, v.list);
    if (q) setProp(r.list, &q->name, q->attr);
    return r;
}

// The children of v's elements that pass keep(kid), in a list aimed at v.
template <class F> duk_ret_t pushKids(duk_context* ctx, const Value& v, const Query* q, F&& keep) {
    Ref r = newTargeted(v, q);
    for (Node* n : itemsOf(v)) {
        if (n->kind != kElement) continue;
        for (Node* k : n->kids)
            if (keep(k)) append(r.list, k);
    }
    pushList(ctx, r.list);
    return 1;
}

duk_ret_t attribute(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, 0, n, true);
        pushRef(ctx, v.node ? get(v.node, n.q) : get(v.list, n.q));
        return 1;
    });
}

duk_ret_t attributes(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, DUK_INVALID_INDEX, n, true);
        pushRef(ctx, v.node ? get(v.node, n.q) : get(v.list, n.q));
        return 1;
    });
}

duk_ret_t child(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        uint32_t i;
        if (indexKey(ctx, 0, &i)) {
            if (v.node && i < v.node->kids.n) {
                pushNode(ctx, v.node->kids[i]);
                return 1;
            }
            Ref r(newList());
            if (v.list)
                for (Node* n : v.list->items)
                    if (i < n->kids.n) append(r.list, n->kids[i]);
            pushList(ctx, r.list);
            return 1;
        }
        Name n;
        toName(ctx, 0, n);
        pushRef(ctx, v.node ? get(v.node, n.q) : get(v.list, n.q));
        return 1;
    });
}

duk_ret_t childIndex(duk_context* ctx) {
    Node* x = thisNode(ctx);
    if (!x->parent || x->kind == kAttribute)
        duk_push_int(ctx, -1);
    else
        duk_push_number(ctx, static_cast<double>(indexOf(x->parent, x)));
    return 1;
}

duk_ret_t children(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, DUK_INVALID_INDEX, n);
        pushRef(ctx, v.node ? get(v.node, n.q) : get(v.list, n.q));
        return 1;
    });
}

duk_ret_t comments(duk_context* ctx) {
    return guard(ctx, [&] {
        return pushKids(ctx, thisValue(ctx), nullptr, [](Node* k) { return k->kind == kComment; });
    });
}

duk_ret_t text(duk_context* ctx) {
    return guard(ctx, [&] {
        return pushKids(ctx, thisValue(ctx), nullptr, [](Node* k) { return k->kind == kText; });
    });
}

duk_ret_t elements(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, 0, n);
        n.q.attr = false;
        return pushKids(ctx, v, &n.q,
                        [&](Node* k) { return k->kind == kElement && matchKid(k, n.q); });
    });
}

duk_ret_t processingInstructions(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, 0, n);
        Str* local = n.q.name.local;
        return pushKids(ctx, v, nullptr, [&](Node* k) {
            return k->kind == kInstruction && (local == starName() || k->name.local == local);
        });
    });
}

duk_ret_t contains(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        bool found = false;
        for (Node* n : itemsOf(v)) {
            pushNode(ctx, n);
            duk_dup(ctx, 0);
            found = equalValues(ctx);
            duk_pop_2(ctx);
            if (found) break;
        }
        duk_push_boolean(ctx, found);
        return 1;
    });
}

duk_ret_t copy(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        if (v.node) {
            Ref c(deepCopy(v.node));
            pushNode(ctx, c.node);
        } else {
            Ref c = copyList(v.list);
            setTarget(c.list, v.list->targetNode, v.list->targetList);
            setProp(c.list, v.list->hasProp ? &v.list->prop : nullptr, v.list->propAttr);
            pushList(ctx, c.list);
        }
        return 1;
    });
}

duk_ret_t descendantsMethod(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        Name n;
        nameArg(ctx, 0, n);
        pushRef(ctx, v.node ? descendants(v.node, n.q) : descendants(v.list, n.q));
        return 1;
    });
}

// An XML property by that name, else an own property of the object itself (the methods
// of the prototypes).
duk_ret_t hasOwnProperty(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        uint32_t i;
        bool found;
        if (indexKey(ctx, 0, &i)) {
            found = v.node ? i == 0 : i < v.list->items.n;
        } else {
            Name n;
            toName(ctx, 0, n);
            found = v.node ? has(v.node, n.q) : has(v.list, n.q);
        }
        duk_push_this(ctx);
        if (!found && !valueAt(ctx, -1)) {
            duk_get_global_string(ctx, "Object");
            duk_get_prop_string(ctx, -1, "prototype");
            duk_get_prop_string(ctx, -1, "hasOwnProperty");
            duk_dup(ctx, -4);
            duk_dup(ctx, 0);
            duk_call_method(ctx, 1);
            found = duk_to_boolean(ctx, -1);
        }
        duk_push_boolean(ctx, found);
        return 1;
    });
}

duk_ret_t hasComplexContent(duk_context* ctx) {
    Value v = thisValue(ctx);
    bool complex;
    if (v.node) {
        complex = xml::hasComplexContent(v.node);
    } else if (v.list->items.n == 1) {
        complex = xml::hasComplexContent(v.list->items[0]);
    } else {
        complex = false;
        for (Node* n : v.list->items)
            if (n->kind == kElement) complex = true;
    }
    duk_push_boolean(ctx, complex);
    return 1;
}

duk_ret_t hasSimpleContent(duk_context* ctx) {
    Value v = thisValue(ctx);
    duk_push_boolean(ctx, v.node ? xml::hasSimpleContent(v.node) : listHasSimpleContent(v.list));
    return 1;
}

// The child that child1 names: an XML value, or a list of one.
Node* childArg(duk_context* ctx, duk_idx_t i) {
    Value c = valueAt(ctx, i);
    if (c.list && c.list->items.n == 1) return c.list->items[0];
    return c.node;
}

duk_ret_t insertChild(duk_context* ctx, bool after) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        duk_push_this(ctx);
        if (x->kind != kElement) return 0;
        Assigned a(ctx, 1);
        if (duk_is_null(ctx, 0)) {
            insert(x, after ? 0 : x->kids.n, a.val);
            return 1;
        }
        Node* c = childArg(ctx, 0);
        int64_t at = c ? indexOf(x, c) : -1;
        if (at < 0) return 0;
        insert(x, static_cast<uint32_t>(at + (after ? 1 : 0)), a.val);
        return 1;
    });
}

duk_ret_t insertChildAfter(duk_context* ctx) {
    return insertChild(ctx, true);
}

duk_ret_t insertChildBefore(duk_context* ctx) {
    return insertChild(ctx, false);
}

duk_ret_t appendChild(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        Assigned a(ctx, 0);
        insert(x, x->kids.n, a.val);
        duk_push_this(ctx);
        return 1;
    });
}

duk_ret_t prependChild(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        Assigned a(ctx, 0);
        insert(x, 0, a.val);
        duk_push_this(ctx);
        return 1;
    });
}

duk_ret_t length(duk_context* ctx) {
    Value v = thisValue(ctx);
    duk_push_uint(ctx, v.node ? 1 : v.list->items.n);
    return 1;
}

duk_ret_t nodeKind(duk_context* ctx) {
    static const char* const kNames[] = {"element", "attribute", "text", "comment",
                                         "processing-instruction"};
    duk_push_string(ctx, kNames[thisNode(ctx)->kind]);
    return 1;
}

// Joins adjacent text children and drops empty ones, through the whole subtree.
void normalizeTree(Node* top) {
    std::vector<Node*> stack{top};
    while (!stack.empty()) {
        Node* x = stack.back();
        stack.pop_back();
        for (uint32_t i = 0; i < x->kids.n;) {
            Node* k = x->kids[i];
            if (k->kind == kElement) {
                stack.push_back(k);
                i++;
                continue;
            }
            if (k->kind != kText) {
                i++;
                continue;
            }
            if (i + 1 < x->kids.n && x->kids[i + 1]->kind == kText) {
                std::string joined(k->value->data, k->value->size);
                while (i + 1 < x->kids.n && x->kids[i + 1]->kind == kText) {
                    joined.append(x->kids[i + 1]->value->data, x->kids[i + 1]->value->size);
                    removeKid(x, i + 1);
                }
                Str* s = newStr(joined.data(), joined.size());
                release(k->value);
                k->value = s;
            }
            if (!k->value->size)
                removeKid(x, i);
            else
                i++;
        }
    }
}

duk_ret_t normalize(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        for (Node* n : itemsOf(v)) {
            Hold h(n);
            if (n->kind == kElement) normalizeTree(n);
        }
        duk_push_this(ctx);
        return 1;
    });
}

duk_ret_t parent(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        if (v.node) {
            if (v.node->parent)
                pushNode(ctx, v.node->parent);
            else
                duk_push_null(ctx);
            return 1;
        }
        if (!v.list->items.n) return 0;
        Node* p = v.list->items[0]->parent;
        for (Node* n : v.list->items)
            if (n->parent != p) return 0;
        if (!p)
            return 0; // items without a parent share none: undefined, as for the engines of the era
        pushNode(ctx, p);
        return 1;
    });
}

duk_ret_t propertyIsEnumerable(duk_context* ctx) {
    Value v = thisValue(ctx);
    uint32_t i;
    bool is = indexKey(ctx, 0, &i) && (v.node ? i == 0 : i < v.list->items.n);
    duk_push_boolean(ctx, is);
    return 1;
}

duk_ret_t replaceMethod(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        duk_push_this(ctx);
        if (x->kind != kElement) return 1;
        Assigned a(ctx, 1);
        Ref copied;
        Val c = a.val;
        if (c.node && c.node->kind != kText && c.node->kind != kAttribute) {
            copied = Ref(deepCopy(c.node));
            c.node = copied.node;
        } else if (c.list) {
            copied = copyList(c.list);
            c.list = copied.list;
        }
        uint32_t i;
        if (indexKey(ctx, 0, &i)) {
            replace(x, i, c);
            return 1;
        }
        Name n;
        toName(ctx, 0, n);
        int64_t at = -1;
        for (uint32_t k = x->kids.n; k-- > 0;) {
            if (!matchKid(x->kids[k], n.q)) continue;
            if (at >= 0) removeKid(x, static_cast<uint32_t>(at));
            at = k;
        }
        if (at >= 0) replace(x, static_cast<uint32_t>(at), c);
        return 1;
    });
}

duk_ret_t setChildren(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        Assigned a(ctx, 0);
        Query all;
        all.name.local = starName();
        put(x, all, a.val, state().defaultUri);
        duk_push_this(ctx);
        return 1;
    });
}

duk_ret_t toStringMethod(duk_context* ctx) {
    return guard(ctx, [&] {
        pushText(ctx, valueString(thisValue(ctx)));
        return 1;
    });
}

duk_ret_t toXMLString(duk_context* ctx) {
    return guard(ctx, [&] {
        pushText(ctx, valueMarkup(thisValue(ctx)));
        return 1;
    });
}

duk_ret_t valueOf(duk_context* ctx) {
    thisValue(ctx);
    duk_push_this(ctx);
    return 1;
}

// Methods on both prototypes, then those of XML.prototype alone.
const duk_function_list_entry kShared[] = {
    {"attribute", attribute, 1},
    {"attributes", attributes, 0},
    {"child", child, 1},
    {"children", children, 0},
    {"comments", comments, 0},
    {"contains", contains, 1},
    {"copy", copy, 0},
    {"descendants", descendantsMethod, DUK_VARARGS},
    {"elements", elements, DUK_VARARGS},
    {"hasOwnProperty", hasOwnProperty, 1},
    {"hasComplexContent", hasComplexContent, 0},
    {"hasSimpleContent", hasSimpleContent, 0},
    {"length", length, 0},
    {"normalize", normalize, 0},
    {"parent", parent, 0},
    {"processingInstructions", processingInstructions, DUK_VARARGS},
    {"propertyIsEnumerable", propertyIsEnumerable, 1},
    {"text", text, 0},
    {"toString", toStringMethod, 0},
    {"toXMLString", toXMLString, 0},
    {"valueOf", valueOf, 0},
    {nullptr, nullptr, 0}};

const duk_function_list_entry kXmlOnly[] = {{"appendChild", appendChild, 1},
                                            {"childIndex", childIndex, 0},
                                            {"insertChildAfter", insertChildAfter, 2},
                                            {"insertChildBefore", insertChildBefore, 2},
                                            {"nodeKind", nodeKind, 0},
                                            {"prependChild", prependChild, 1},
                                            {"replace", replaceMethod, 2},
                                            {"setChildren", setChildren, 1},
                                            {nullptr, nullptr, 0}};

void defineAll(duk_context* ctx, duk_idx_t obj, const duk_function_list_entry* list) {
    for (; list->key; list++) {
        duk_push_string(ctx, list->key);
        duk_push_c_function(ctx, list->value, list->nargs);
        duk_def_prop(ctx, obj, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
    }
}

} // namespace

void installMethods(duk_context* ctx) {
    duk_idx_t xmlProto = duk_normalize_index(ctx, -2), listProto = duk_normalize_index(ctx, -1);
    defineAll(ctx, xmlProto, kShared);
    defineAll(ctx, listProto, kShared);
    defineAll(ctx, xmlProto, kXmlOnly);
    installNameMethods(ctx, xmlProto);
}

} // namespace e4x
} // namespace engine
