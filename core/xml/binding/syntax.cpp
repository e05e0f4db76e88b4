// __lang.xml: the helpers that the translator's output of the E4X syntax calls (see the
// contracts of the language library): initialisers, the parts of qualified and attribute
// names, descendants, filters and the default namespace.
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"
#include "core/xml/write.h"

namespace engine {
namespace e4x {

using namespace xml;

namespace {

Value requireValue(duk_context* ctx, duk_idx_t idx) {
    Value v = valueAt(ctx, idx);
    if (!v) fail(ctx, DUK_ERR_TYPE_ERROR, "not an XML or XMLList value");
    return v;
}

// <a>...</a>: the initialiser's text, its braced parts already replaced.
duk_ret_t literal(duk_context* ctx) {
    return guard(ctx, [&] {
        pushToXML(ctx, 0);
        return 1;
    });
}

// <>...</>
duk_ret_t listLiteral(duk_context* ctx) {
    return guard(ctx, [&] {
        pushToXMLList(ctx, 0);
        return 1;
    });
}

duk_ret_t escapeAttributeValue(duk_context* ctx) {
    std::string s = toText(ctx, 0), out;
    escapeAttribute(out, s.data(), s.size());
    pushText(ctx, out);
    return 1;
}

// {expr} as content: an XML value as its markup (unindented, so that reading it back
// gives the same nodes), anything else as escaped text.
duk_ret_t content(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = valueAt(ctx, 0);
        std::string out;
        if (v) {
            Format f = settingsFormat();
            f.pretty = false;
            if (v.node)
                writeNode(out, v.node, f);
            else
                writeList(out, v.list, f);
        } else {
            // A carriage return as a reference: the parse would make it a line feed.
            std::string s = toText(ctx, 0);
            for (size_t from = 0, cr; from <= s.size(); from = cr + 1) {
                cr = s.find('\r', from);
                if (cr == std::string::npos) cr = s.size();
                escapeText(out, s.data() + from, cr - from);
                if (cr < s.size()) out += "&#xD;";
            }
        }
        pushText(ctx, out);
        return 1;
    });
}

// x.@[e]
duk_ret_t attributeKey(duk_context* ctx) {
    return guard(ctx, [&] {
        Name n;
        toName(ctx, 0, n, true);
        if (!n.q.attr) n.q.attr = true;
        pushKey(ctx, n.q.name, true);
        return 1;
    });
}

// x.ns::name, x.@ns::name, x.ns::[e], *::name: ns is a Namespace, a QName (its uri), "*"
// for any namespace, or text taken as a uri.
void qualifiedName(duk_context* ctx, xml::Name& out) {
    clearName(out);
    if (duk_is_string(ctx, 0) && toText(ctx, 0) == "*") {
        out.uri = nullptr;
    } else if (isQName(ctx, 0)) {
        Name q;
        qnameOf(ctx, 0, q.q.name);
        out.uri = retain(q.q.name.uri);
        out.prefix = retain(q.q.name.prefix);
    } else {
        namespaceOf(ctx, 0, &out.prefix, &out.uri);
    }
    if (isQName(ctx, 1)) {
        Name q;
        qnameOf(ctx, 1, q.q.name);
        out.local = retain(q.q.name.local);
    } else {
        out.local = internAt(ctx, 1);
    }
}

duk_ret_t key(duk_context* ctx) {
    return guard(ctx, [&] {
        Name n;
        qualifiedName(ctx, n.q.name);
        pushKey(ctx, n.q.name, duk_to_boolean(ctx, 2));
        return 1;
    });
}

duk_ret_t descendantsOf(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = requireValue(ctx, 0);
        Name n;
        toName(ctx, 1, n);
        pushRef(ctx, v.node ? descendants(v.node, n.q) : descendants(v.list, n.q));
        return 1;
    });
}

// x.(pred): the items for which pred(item) is true, pred called with `this` as given.
duk_ret_t filter(duk_context* ctx) {
    return guard(ctx, [&] {
        Value v = requireValue(ctx, 0);
        Ref source = v.node ? Ref(v.node) : Ref(v.list);
        Ref out(newList());
        uint32_t n = v.node ? 1 : v.list->items.n;
        for (uint32_t i = 0; i < n; i++) {
            if (v.list && i >= v.list->items.n) break; // the predicate shortened the list
            Node* item = v.node ? v.node : v.list->items[i];
            Hold held(item); // the predicate may take it out of the list and its tree
            duk_dup(ctx, 1);
            duk_dup(ctx, 2);
            pushNode(ctx, item);
            duk_call_method(ctx, 1);
            if (duk_to_boolean(ctx, -1)) append(out.list, item);
            duk_pop(ctx);
        }
        pushList(ctx, out.list);
        return 1;
    });
}

// x.function::name with x at 0 and the name at 1 (text, or a QName for its local name):
// pushes the value to call it on and the method, the one a call x.name() takes (of
// XML.prototype or XMLList.prototype, a list of one's item's, String.prototype's for simple
// content), never a child. Of any other value, its property of that name.
void pushMethod(duk_context* ctx, duk_idx_t value = 0, duk_idx_t name = 1) {
    duk_dup(ctx, value);
    if (isQName(ctx, name)) {
        Name q;
        qnameOf(ctx, name, q.q.name);
        pushStr(ctx, q.q.name.local);
    } else {
        duk_dup(ctx, name);
        duk_to_string(ctx, -1);
    }
    if (valueAt(ctx, value))
        callMethod(ctx, duk_get_top(ctx) - 2);
    else
        duk_get_prop(ctx, -2);
}

duk_ret_t method(duk_context* ctx) {
    return guard(ctx, [&] {
        pushMethod(ctx);
        return 1;
    });
}

// [args... object method] -> the method called on the object with the arguments, which
// begin at argsAt; a TypeError naming the name at nameIdx when it is no function.
duk_ret_t callPushed(duk_context* ctx, duk_idx_t nameIdx, duk_idx_t argsAt, duk_idx_t args) {
    if (!duk_is_callable(ctx, -1)) {
        duk_dup(ctx, nameIdx);
        fail(ctx, DUK_ERR_TYPE_ERROR, "function::%s is not a function", duk_to_string(ctx, -1));
    }
    duk_insert(ctx, argsAt); // the method, then the object it is called on, then the arguments
    duk_insert(ctx, argsAt + 1);
    duk_call_method(ctx, args);
    return 1;
}

// x.function::name(args...): the method called on x (or on what answers for it).
duk_ret_t callMethodOf(duk_context* ctx) {
    duk_idx_t args = duk_get_top(ctx) - 2;
    if (args < 0) return DUK_RET_TYPE_ERROR;
    guard(ctx, [&] {
        pushMethod(ctx);
        return 0;
    });
    return callPushed(ctx, 1, 2, args);
}

// A bare function::name with the name at 0, the objects in scope at 1 (an array, innermost
// first) and a function that reads the name as a plain reference at 2 (or null): pushes
// the object that answers (undefined for the plain reference) and the method. The first
// object that has it answers: an XML value with a method of that name, any other object
// with a property of it; then the plain reference; with none, a ReferenceError.
void pushScopedMethod(duk_context* ctx) {
    duk_uarridx_t n = duk_is_array(ctx, 1) ? static_cast<duk_uarridx_t>(duk_get_length(ctx, 1)) : 0;
    for (duk_uarridx_t i = 0; i < n; i++) {
        duk_get_prop_index(ctx, 1, i);
        duk_idx_t at = duk_get_top_index(ctx);
        if (valueAt(ctx, at)) {
            pushMethod(ctx, at, 0);
            if (!duk_is_undefined(ctx, -1)) {
                duk_remove(ctx, -2); // the copy of the value
                return;
            }
            duk_pop_2(ctx);
        } else if (duk_is_object(ctx, at)) {
            duk_dup(ctx, 0);
            if (duk_has_prop(ctx, at)) {
                duk_dup(ctx, 0);
                duk_get_prop(ctx, at);
                return;
            }
        }
        duk_pop(ctx);
    }
    if (duk_is_callable(ctx, 2)) {
        duk_push_undefined(ctx);
        duk_dup(ctx, 2);
        duk_call(ctx, 0);
        return;
    }
    duk_dup(ctx, 0);
    fail(ctx, DUK_ERR_REFERENCE_ERROR, "reference to undefined XML name function::%s",
         duk_to_string(ctx, -1));
}

duk_ret_t scopedMethod(duk_context* ctx) {
    guard(ctx, [&] {
        pushScopedMethod(ctx);
        return 0;
    });
    return 1;
}

// function::name(args...) bare: the method called on the object that answers.
duk_ret_t scopedCall(duk_context* ctx) {
    duk_idx_t args = duk_get_top(ctx) - 3;
    if (args < 0) return DUK_RET_TYPE_ERROR;
    guard(ctx, [&] {
        pushScopedMethod(ctx);
        return 0;
    });
    return callPushed(ctx, 0, 3, args);
}

// A bare selector inside with statements: the key at 0, the innermost filter's item (or
// null) at 1, the selector's text at 2, the with objects from 3 on (innermost first). The
// first XML object among them that has the name answers, else the item; with neither, the
// name is undefined.
duk_ret_t scoped(duk_context* ctx) {
    bool found = guard(ctx, [&] {
        Name n;
        toName(ctx, 0, n);
        for (duk_idx_t i = 3, top = duk_get_top(ctx); i < top; i++) {
            Value w = valueAt(ctx, i);
            if (w && (w.node ? has(w.node, n.q) : has(w.list, n.q))) {
                pushRef(ctx, w.node ? get(w.node, n.q) : get(w.list, n.q));
                return 1;
            }
        }
        Value item = valueAt(ctx, 1);
        if (!item) return 0;
        pushRef(ctx, item.node ? get(item.node, n.q) : get(item.list, n.q));
        return 1;
    });
    if (!found)
        fail(ctx, DUK_ERR_REFERENCE_ERROR, "reference to undefined XML name %s",
             duk_to_string(ctx, 2));
    return 1;
}

// A bare @a outside any filter names nothing.
duk_ret_t bareAttribute(duk_context* ctx) {
    std::string s = toText(ctx, 0);
    fail(ctx, DUK_ERR_REFERENCE_ERROR, "reference to undefined XML name @%s", s.c_str());
}

// A bare ns::name: the QName (or, given the innermost filter's item as a third argument,
// that item's property of that name).
duk_ret_t qualified(duk_context* ctx) {
    return guard(ctx, [&] {
        Name n;
        qualifiedName(ctx, n.q.name);
        Value scope = valueAt(ctx, 2);
        if (scope) {
            pushRef(ctx, scope.node ? get(scope.node, n.q) : get(scope.list, n.q));
        } else {
            pushQName(ctx, n.q.name);
        }
        return 1;
    });
}

duk_ret_t setDefaultNamespace(duk_context* ctx) {
    return guard(ctx, [&] {
        Str *prefix, *uri;
        namespaceOf(ctx, 0, &prefix, &uri);
        State& s = state();
        release(s.defaultPrefix);
        release(s.defaultUri);
        s.defaultPrefix = prefix;
        s.defaultUri = uri;
        return 0;
    });
}

duk_ret_t getDefaultNamespace(duk_context* ctx) {
    return guard(ctx, [&] {
        pushNamespace(ctx, state().defaultPrefix, state().defaultUri);
        return 1;
    });
}

const duk_function_list_entry kLang[] = {{"literal", literal, 1},
                                         {"listLiteral", listLiteral, 1},
                                         {"escapeAttribute", escapeAttributeValue, 1},
                                         {"content", content, 1},
                                         {"attributeKey", attributeKey, 1},
                                         {"key", key, 3},
                                         {"descendants", descendantsOf, 2},
                                         {"filter", filter, 3},
                                         {"bareAttribute", bareAttribute, 1},
                                         {"method", method, 2},
                                         {"callMethod", callMethodOf, DUK_VARARGS},
                                         {"scoped", scoped, DUK_VARARGS},
                                         {"scopedMethod", scopedMethod, 3},
                                         {"scopedCall", scopedCall, DUK_VARARGS},
                                         {"qualified", qualified, 3},
                                         {"setDefaultNamespace", setDefaultNamespace, 1},
                                         {"getDefaultNamespace", getDefaultNamespace, 0},
                                         {nullptr, nullptr, 0}};

} // namespace

void installLang(duk_context* ctx) {
    duk_put_function_list(ctx, -1, kLang);
}

} // namespace e4x
} // namespace engine
