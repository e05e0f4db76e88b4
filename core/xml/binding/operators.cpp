// The engine's calls into E4X (core/engine/duktape/30-e4x.patch): method calls on XML values
// (ECMA-357 CallMethod), + of two XML values (11.4.1) and == (11.5.1).
#include "core/xml/binding/e4x.h"

#include "core/xml/write.h"

namespace engine {
namespace e4x {

using namespace xml;

void callMethod(duk_context* ctx, duk_idx_t self) {
    duk_idx_t key = duk_get_top_index(ctx);
    Value v = valueAt(ctx, self);
    for (;;) {
        duk_push_heapptr(ctx, v.list ? state().listProto : state().xmlProto);
        duk_dup(ctx, key);
        duk_get_prop(ctx, -2);
        if (!duk_is_undefined(ctx, -1)) break;
        duk_pop_2(ctx);
        if (v.list && v.list->items.n == 1) {
            // A list of one answers its item's methods (ECMA-357 CallMethod).
            pushNode(ctx, v.list->items[0]);
            duk_replace(ctx, self);
            v = valueAt(ctx, self);
            continue;
        }
        if (v.node && hasSimpleContent(v.node)) {
            // Simple content answers the methods of its string value.
            pushText(ctx, valueString(v));
            duk_replace(ctx, self);
            duk_dup(ctx, self);
            duk_dup(ctx, key);
            duk_get_prop(ctx, -2);
        } else {
            duk_push_undefined(ctx);
            duk_push_undefined(ctx);
        }
        break;
    }
    duk_replace(ctx, key);
    duk_pop(ctx);
}

void addValues(duk_context* ctx) {
    Value x = valueAt(ctx, -2), y = valueAt(ctx, -1);
    Ref l(newList());
    for (const Value& v : {x, y}) {
        if (v.node)
            append(l.list, v.node);
        else
            appendAll(l.list, v.list);
    }
    duk_pop_2(ctx);
    pushList(ctx, l.list);
}

namespace {

bool textLike(const Node* n) {
    return n->kind == kText || n->kind == kAttribute;
}

std::string nodeString(const Node* n) {
    std::string s;
    writeString(s, n, settingsFormat());
    return s;
}

// ECMA-357 11.5.1 for two nodes.
bool nodesEqual(const Node* a, const Node* b) {
    if ((textLike(a) && hasSimpleContent(b)) || (textLike(b) && hasSimpleContent(a)))
        return nodeString(a) == nodeString(b);
    return equalNodes(a, b);
}

// A node against any other value (not a list).
bool nodeEquals(duk_context* ctx, const Node* n, duk_idx_t other) {
    Value o = valueAt(ctx, other);
    if (o.node) return nodesEqual(n, o.node);
    if (hasSimpleContent(n)) return nodeString(n) == toText(ctx, other);
    // Complex content compares as the markup it converts to.
    if (duk_is_object(ctx, other)) return false;
    std::string markup;
    writeNode(markup, n, settingsFormat());
    pushText(ctx, markup);
    bool eq = duk_equals(ctx, -1, other);
    duk_pop(ctx);
    return eq;
}

bool listEquals(duk_context* ctx, const List* l, duk_idx_t other) {
    if (duk_is_undefined(ctx, other) && l->items.n == 0) return true;
    Value o = valueAt(ctx, other);
    if (o.list) {
        if (o.list->items.n != l->items.n) return false;
        for (uint32_t i = 0; i < l->items.n; i++)
            if (!nodesEqual(l->items[i], o.list->items[i])) return false;
        return true;
    }
    return l->items.n == 1 && nodeEquals(ctx, l->items[0], other);
}

bool sameProp(duk_context* ctx, duk_idx_t a, duk_idx_t b, const char* name) {
    duk_get_prop_string(ctx, a, name);
    duk_get_prop_string(ctx, b, name);
    bool eq = duk_strict_equals(ctx, -1, -2);
    duk_pop_2(ctx);
    return eq;
}

} // namespace

bool equalValues(duk_context* ctx) {
    duk_idx_t a = duk_normalize_index(ctx, -2), b = duk_normalize_index(ctx, -1);
    Value x = valueAt(ctx, a), y = valueAt(ctx, b);
    if (x.list) return listEquals(ctx, x.list, b);
    if (y.list) return listEquals(ctx, y.list, a);
    if (x.node) return nodeEquals(ctx, x.node, b);
    if (y.node) return nodeEquals(ctx, y.node, a);
    if (isQName(ctx, a) && isQName(ctx, b))
        return sameProp(ctx, a, b, "uri") && sameProp(ctx, a, b, "localName");
    if (isNamespace(ctx, a) && isNamespace(ctx, b)) return sameProp(ctx, a, b, "uri");
    if (duk_is_object(ctx, a) && duk_is_object(ctx, b)) return duk_strict_equals(ctx, a, b);
    // A Namespace or QName against a primitive: as its string.
    duk_push_string(ctx, "");
    duk_dup(ctx, duk_is_object(ctx, a) ? a : b);
    duk_concat(ctx, 2);
    bool eq = duk_equals(ctx, -1, duk_is_object(ctx, a) ? b : a);
    duk_pop(ctx);
    return eq;
}

} // namespace e4x
} // namespace engine
