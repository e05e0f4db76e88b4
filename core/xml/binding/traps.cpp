// The handler of XML and XMLList proxies. Its traps are natives over the value in the
// target's slot: get, set, has and deleteProperty are ECMA-357 [[Get]], [[Put]],
// [[HasProperty]] and [[Delete]]; ownKeys gives the indexes. For a few keys that the
// engine or the runtime asks for by itself, get hands out a function instead of children
// (nobody names an element so): Symbol.toPrimitive (ToString of the value),
// Symbol.toStringTag ("XML", "XMLList"), __iterator__ (for ... in and for each) and toSource
// (uneval).
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"
#include "core/xml/write.h"

#include <string.h>

namespace engine {
namespace e4x {

using namespace xml;

namespace {

void* gToPrimitive = nullptr; // the well-known symbols, compared by heap pointer
void* gToStringTag = nullptr;

#define XML_KEY_ITEMS DUK_HIDDEN_SYMBOL("e4xItems")
#define XML_KEY_NEXT DUK_HIDDEN_SYMBOL("e4xNext")
#define XML_KEY_KEYS DUK_HIDDEN_SYMBOL("e4xKeys")

Value targetValue(duk_context* ctx) {
    Value v;
    uintptr_t u = reinterpret_cast<uintptr_t>(duk_host_get_slot(ctx, 0));
    if (u & 1)
        v.list = reinterpret_cast<List*>(u - 1);
    else
        v.node = reinterpret_cast<Node*>(u);
    return v;
}

bool keyIs(duk_context* ctx, const char* word) {
    duk_size_t n;
    const char* s = duk_get_lstring(ctx, 1, &n);
    return s && n == strlen(word) && memcmp(s, word, n) == 0;
}

// Pushes the value a query on v finds.
void pushGet(duk_context* ctx, const Value& v, const Query& q) {
    Ref r = v.node ? get(v.node, q) : get(v.list, q);
    pushList(ctx, r.list);
}

duk_ret_t trapGet(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = targetValue(ctx);
        if (duk_is_symbol(ctx, 1)) {
            void* key = duk_get_heapptr(ctx, 1);
            if (key == gToPrimitive)
                duk_push_heapptr(ctx, state().toPrimitive);
            else if (key == gToStringTag)
                duk_push_string(ctx, v.list ? "XMLList" : "XML");
            else
                duk_push_undefined(ctx);
            return 1;
        }
        if (keyIs(ctx, "__iterator__")) {
            duk_push_heapptr(ctx, state().iterator);
            return 1;
        }
        if (keyIs(ctx, "toSource")) {
            duk_push_heapptr(ctx, state().toSource);
            return 1;
        }
        uint32_t i;
        if (indexKey(ctx, 1, &i)) {
            if (v.node && i == 0)
                pushNode(ctx, v.node);
            else if (v.list && i < v.list->items.n)
                pushNode(ctx, v.list->items[i]);
            else
                duk_push_undefined(ctx);
            return 1;
        }
        Name n;
        toName(ctx, 1, n);
        pushGet(ctx, v, n.q);
        return 1;
    });
}

duk_ret_t trapSet(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = targetValue(ctx);
        Assigned a(ctx, 2);
        uint32_t i;
        if (indexKey(ctx, 1, &i)) {
            if (v.node) fail(ctx, DUK_ERR_TYPE_ERROR, "assignment to indexed XML is not allowed");
            putIndex(v.list, i, a.val, state().defaultUri);
        } else {
            Name n;
            toName(ctx, 1, n);
            if (v.node)
                put(v.node, n.q, a.val, state().defaultUri);
            else
                put(v.list, n.q, a.val, state().defaultUri);
        }
        duk_push_true(ctx);
        return 1;
    });
}

duk_ret_t trapHas(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = targetValue(ctx);
        uint32_t i;
        bool found;
        if (indexKey(ctx, 1, &i)) {
            found = v.node ? i == 0 : i < v.list->items.n;
        } else if (duk_is_symbol(ctx, 1)) {
            found = false;
        } else {
            Name n;
            toName(ctx, 1, n);
            found = v.node ? has(v.node, n.q) : has(v.list, n.q);
        }
        duk_push_boolean(ctx, found);
        return 1;
    });
}

duk_ret_t trapDelete(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = targetValue(ctx);
        uint32_t i;
        if (indexKey(ctx, 1, &i)) {
            if (v.node) fail(ctx, DUK_ERR_TYPE_ERROR, "deletion of indexed XML is not allowed");
            removeIndex(v.list, i);
        } else if (!duk_is_symbol(ctx, 1)) {
            Name n;
            toName(ctx, 1, n);
            if (v.node)
                remove(v.node, n.q);
            else
                remove(v.list, n.q);
        }
        duk_push_true(ctx);
        return 1;
    });
}

// The indexes. The engine keeps only keys that the target has as enumerable properties,
// so the target gets them (and loses those past the end).
duk_ret_t trapOwnKeys(duk_context* ctx) {
    Value v = targetValue(ctx);
    uint32_t n = v.node ? 1 : v.list->items.n;
    duk_push_array(ctx);
    for (uint32_t i = 0; i < n; i++) {
        duk_push_uint(ctx, i);
        duk_to_string(ctx, -1);
        duk_dup_top(ctx);
        duk_put_prop_index(ctx, -3, i);
        duk_push_undefined(ctx);
        duk_def_prop(ctx, 0, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WEC);
    }
    for (uint32_t i = n;; i++) {
        duk_push_uint(ctx, i);
        duk_to_string(ctx, -1);
        if (!duk_has_prop(ctx, 0)) break;
        duk_push_uint(ctx, i);
        duk_del_prop(ctx, 0);
    }
    return 1;
}

duk_ret_t toPrimitive(duk_context* ctx) {
    return guard(ctx, [&] {
        pushText(ctx, valueString(thisValue(ctx)));
        return 1;
    });
}

// uneval(x) and x.toSource(): markup that evaluates back, a list (and text or an attribute,
// which have no markup of their own) inside <>...</>.
duk_ret_t toSource(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        std::string s = valueMarkup(v, true);
        if (v.list || v.node->kind == kText || v.node->kind == kAttribute) {
            std::string escaped;
            if (v.node) escapeText(escaped, v.node->value->data, v.node->value->size, true);
            s = "<>" + (v.node ? escaped : s) + "</>";
        }
        pushText(ctx, s);
        return 1;
    });
}

// x.__iterator__(keysOnly): an object whose next() gives the indexes (as strings) or the
// items, then throws StopIteration. It walks a list as it is at each step.
duk_ret_t iteratorNext(duk_context* ctx) {
    duk_push_this(ctx);
    duk_get_prop_string(ctx, -1, XML_KEY_ITEMS);
    Value v = valueAt(ctx, -1);
    duk_get_prop_string(ctx, -2, XML_KEY_NEXT);
    uint32_t i = duk_get_uint(ctx, -1);
    if (!v.list || i >= v.list->items.n) {
        duk_get_global_string(ctx, "StopIteration");
        return duk_throw(ctx);
    }
    duk_push_uint(ctx, i + 1);
    duk_put_prop_string(ctx, -4, XML_KEY_NEXT);
    duk_get_prop_string(ctx, -3, XML_KEY_KEYS);
    if (duk_get_boolean(ctx, -1)) {
        duk_push_uint(ctx, i);
        duk_to_string(ctx, -1);
    } else {
        pushNode(ctx, v.list->items[i]);
    }
    return 1;
}

duk_ret_t iterator(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = thisValue(ctx);
        bool keys = duk_to_boolean(ctx, 0);
        duk_push_object(ctx);
        if (v.list) {
            duk_push_this(ctx);
        } else {
            Ref l(newList());
            append(l.list, v.node);
            pushList(ctx, l.list);
        }
        duk_put_prop_string(ctx, -2, XML_KEY_ITEMS);
        duk_push_uint(ctx, 0);
        duk_put_prop_string(ctx, -2, XML_KEY_NEXT);
        duk_push_boolean(ctx, keys);
        duk_put_prop_string(ctx, -2, XML_KEY_KEYS);
        duk_push_c_function(ctx, iteratorNext, 0);
        duk_put_prop_string(ctx, -2, "next");
        return 1;
    });
}

const duk_function_list_entry kTraps[] = {
    {"get", trapGet, 3},         {"set", trapSet, 4},
    {"has", trapHas, 2},         {"deleteProperty", trapDelete, 2},
    {"ownKeys", trapOwnKeys, 1}, {nullptr, nullptr, 0}};

void* pushFunction(duk_context* ctx, duk_c_function fn, int nargs, const char* name) {
    duk_push_c_function(ctx, fn, nargs);
    duk_push_string(ctx, "name");
    duk_push_string(ctx, name);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    return duk_get_heapptr(ctx, -1);
}

} // namespace

void installTraps(duk_context* ctx) {
    State& s = state();
    duk_push_bare_object(ctx);
    duk_put_function_list(ctx, -1, kTraps);
    s.handler = duk_get_heapptr(ctx, -1);
    s.toPrimitive = pushFunction(ctx, toPrimitive, 1, "toPrimitive");
    s.iterator = pushFunction(ctx, iterator, 1, "__iterator__");
    s.toSource = pushFunction(ctx, toSource, 0, "toSource");
    for (int i = -4; i < 0; i++)
        keepAlive(ctx, i);
    duk_pop_n(ctx, 4);
    duk_get_global_string(ctx, "Symbol");
    duk_get_prop_string(ctx, -1, "toPrimitive");
    gToPrimitive = duk_get_heapptr(ctx, -1);
    duk_get_prop_string(ctx, -2, "toStringTag");
    gToStringTag = duk_get_heapptr(ctx, -1);
    duk_pop_3(ctx);
    // XML.prototype and XMLList.prototype answer x.toSource() and x.__iterator__().
    for (void* proto : {s.xmlProto, s.listProto}) {
        duk_push_heapptr(ctx, proto);
        duk_push_string(ctx, "toSource");
        duk_push_heapptr(ctx, s.toSource);
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
        duk_push_string(ctx, "__iterator__");
        duk_push_heapptr(ctx, s.iterator);
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WC);
        duk_pop(ctx);
    }
}

} // namespace e4x
} // namespace engine
