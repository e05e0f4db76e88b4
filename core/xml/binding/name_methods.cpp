// The name and namespace methods of XML.prototype (ECMA-357 13.4.4): name, localName,
// namespace, inScopeNamespaces, namespaceDeclarations, addNamespace, removeNamespace,
// setName, setLocalName, setNamespace.
#include "core/xml/binding/e4x.h"

#include "core/engine/internal.h"

#include <vector>

namespace engine {
namespace e4x {

using namespace xml;

namespace {

duk_ret_t inScopeNamespaces(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        duk_push_array(ctx);
        duk_uarridx_t i = 0;
        eachNamespaceInScope(x, [&](const Ns& ns) {
            pushNamespace(ctx, ns.prefix, ns.uri);
            duk_put_prop_index(ctx, -2, i++);
        });
        return 1;
    });
}

bool unnamed(const Node* x) {
    return x->kind == kText || x->kind == kComment;
}

duk_ret_t localName(duk_context* ctx) {
    Node* x = thisNode(ctx);
    pushStr(ctx, unnamed(x) ? nullptr : x->name.local);
    return 1;
}

duk_ret_t name(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        if (unnamed(x))
            duk_push_null(ctx);
        else
            pushQName(ctx, x->name);
        return 1;
    });
}

// ECMA-357 [[GetNamespace]] of x's name among the namespaces in scope at x.
void pushNameNamespace(duk_context* ctx, const Node* x) {
    const Ns* found = nullptr;
    std::vector<Ns> scope;
    eachNamespaceInScope(x->kind == kAttribute && x->parent ? x->parent : x,
                         [&](const Ns& ns) { scope.push_back(ns); });
    for (const Ns& ns : scope) {
        if (ns.uri != x->name.uri) continue;
        if (x->kind == kAttribute && isEmpty(ns.prefix) && !isEmpty(ns.uri)) continue;
        if (!found || ns.prefix == x->name.prefix) found = &ns;
    }
    if (found) return pushNamespace(ctx, found->prefix, found->uri);
    const Str* prefix = isEmpty(x->name.uri) ? emptyName() : x->name.prefix;
    pushNamespace(ctx, prefix, x->name.uri);
}

duk_ret_t namespaceMethod(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        if (duk_get_top(ctx) == 0) {
            if (unnamed(x) || x->kind == kInstruction)
                duk_push_null(ctx);
            else
                pushNameNamespace(ctx, x);
            return 1;
        }
        Str* prefix = internAt(ctx, 0);
        const Ns* found = nullptr;
        std::vector<Ns> scope;
        eachNamespaceInScope(x, [&](const Ns& ns) { scope.push_back(ns); });
        for (const Ns& ns : scope)
            if (ns.prefix == prefix && !found) found = &ns;
        release(prefix);
        if (found)
            pushNamespace(ctx, found->prefix, found->uri);
        else
            duk_push_undefined(ctx);
        return 1;
    });
}

duk_ret_t namespaceDeclarations(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        duk_push_array(ctx);
        if (x->kind != kElement) return 1;
        std::vector<Ns> ancestors;
        if (x->parent)
            eachNamespaceInScope(x->parent, [&](const Ns& ns) { ancestors.push_back(ns); });
        duk_uarridx_t i = 0;
        for (const Ns& ns : x->ns) {
            bool inherited = false;
            for (const Ns& a : ancestors)
                if (a.prefix == ns.prefix && a.uri == ns.uri) inherited = true;
            if (inherited) continue;
            pushNamespace(ctx, ns.prefix, ns.uri);
            duk_put_prop_index(ctx, -2, i++);
        }
        return 1;
    });
}

duk_ret_t removeNamespace(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* top = thisNode(ctx);
        Str *prefix, *uri;
        namespaceOf(ctx, 0, &prefix, &uri);
        std::vector<Node*> stack{top};
        while (!stack.empty()) {
            Node* x = stack.back();
            stack.pop_back();
            if (x->kind != kElement || x->name.uri == uri) continue;
            bool used = false;
            for (Node* a : x->attrs)
                if (a->name.uri == uri) used = true;
            if (used) continue;
            for (uint32_t i = x->ns.n; i-- > 0;) {
                Ns& ns = x->ns[i];
                if (ns.uri != uri || (prefix && ns.prefix != prefix)) continue;
                release(ns.prefix);
                release(ns.uri);
                x->ns.erase(i);
            }
            for (Node* k : x->kids)
                stack.push_back(k);
        }
        release(prefix);
        release(uri);
        duk_push_this(ctx);
        return 1;
    });
}

void requireName(duk_context* ctx, const Str* local) {
    if (!isXmlName(local->data, local->size))
        fail(ctx, DUK_ERR_TYPE_ERROR, "'%s' is not an XML name", local->data);
}

duk_ret_t setLocalName(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        if (unnamed(x)) return 0;
        Name n;
        if (isQName(ctx, 0))
            qnameOf(ctx, 0, n.q.name);
        else
            n.q.name.local = internAt(ctx, 0);
        requireName(ctx, n.q.name.local);
        release(x->name.local);
        x->name.local = retain(n.q.name.local);
        return 0;
    });
}

duk_ret_t setName(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        if (unnamed(x)) return 0;
        Name n;
        if (isQName(ctx, 0)) {
            qnameOf(ctx, 0, n.q.name);
            if (!n.q.name.uri) {
                n.q.name.uri = retain(state().defaultUri);
                release(n.q.name.prefix);
                n.q.name.prefix = retain(state().defaultPrefix);
            }
        } else {
            n.q.name.local = internAt(ctx, 0);
            n.q.name.uri = retain(state().defaultUri);
            n.q.name.prefix = retain(state().defaultPrefix);
        }
        requireName(ctx, n.q.name.local);
        if (x->kind == kInstruction) {
            release(n.q.name.uri);
            n.q.name.uri = retain(emptyName());
        }
        xml::setName(x->name, n.q.name);
        Node* holder = x->kind == kAttribute ? x->parent : x;
        if (holder) addNamespace(holder, n.q.name.prefix, n.q.name.uri);
        return 0;
    });
}

duk_ret_t setNamespace(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        if (unnamed(x) || x->kind == kInstruction) return 0;
        Str *prefix, *uri;
        namespaceOf(ctx, 0, &prefix, &uri);
        xml::Name n;
        n.uri = uri;
        n.local = x->name.local;
        n.prefix = prefix;
        xml::setName(x->name, n);
        Node* holder = x->kind == kAttribute ? x->parent : x;
        if (holder) addNamespace(holder, prefix, uri);
        release(prefix);
        release(uri);
        return 0;
    });
}

duk_ret_t addNamespaceMethod(duk_context* ctx) {
    return guard(ctx, [&] {
        Node* x = thisNode(ctx);
        Str *prefix, *uri;
        namespaceOf(ctx, 0, &prefix, &uri);
        addNamespace(x, prefix, uri);
        release(prefix);
        release(uri);
        duk_push_this(ctx);
        return 1;
    });
}

const duk_function_list_entry kNameMethods[] = {{"addNamespace", addNamespaceMethod, 1},
                                                {"inScopeNamespaces", inScopeNamespaces, 0},
                                                {"localName", localName, 0},
                                                {"name", name, 0},
                                                {"namespace", namespaceMethod, DUK_VARARGS},
                                                {"namespaceDeclarations", namespaceDeclarations, 0},
                                                {"removeNamespace", removeNamespace, 1},
                                                {"setLocalName", setLocalName, 1},
                                                {"setName", setName, 1},
                                                {"setNamespace", setNamespace, 1},
                                                {nullptr, nullptr, 0}};

} // namespace

void installNameMethods(duk_context* ctx, duk_idx_t xmlProto) {
    for (const duk_function_list_entry* m = kNameMethods; m->key; m++)
        defineMethod(ctx, xmlProto, m->key, m->value, m->nargs);
}

} // namespace e4x
} // namespace engine
