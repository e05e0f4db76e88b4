// The E4X data model: counted memory, interned names, trees kept alive by the references
// into them, and the tree walks, each with a stack of its own (core/xml/tree.h).
#include "core/xml/tree.h"

#include "core/xml/blocks.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

namespace xml {

namespace {
size_t gUsed = 0, gNodes = 0, gLists = 0;
void (*gReclaim)() = nullptr;
bool gReclaiming = false;

// The intern table: buckets of chained names, doubled when as full as it is long.
Str** gBuckets = nullptr;
uint32_t gMask = 0, gInterned = 0;
Str* gEmpty = nullptr;
Str* gStar = nullptr;

uint32_t hashOf(const char* s, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++)
        h = (h ^ static_cast<unsigned char>(s[i])) * 16777619u;
    return h;
}

size_t strBytes(size_t n) {
    return offsetof(Str, data) + n + 1;
}

void growTable() {
    uint32_t size = gMask ? (gMask + 1) * 2 : 256;
    Str** b = static_cast<Str**>(allocate(size * sizeof(Str*)));
    memset(b, 0, size * sizeof(Str*));
    for (uint32_t i = 0; gBuckets && i <= gMask; i++) {
        for (Str* s = gBuckets[i]; s;) {
            Str* next = s->next;
            s->next = b[s->hash & (size - 1)];
            b[s->hash & (size - 1)] = s;
            s = next;
        }
    }
    if (gBuckets) deallocate(gBuckets, (gMask + 1) * sizeof(Str*));
    gBuckets = b;
    gMask = size - 1;
}

void freeNodeStorage(Node* n) {
    clearName(n->name);
    release(n->value);
    for (Ns& ns : n->ns) {
        release(ns.prefix);
        release(ns.uri);
    }
    n->kids.clear();
    n->attrs.clear();
    n->ns.clear();
    deallocate(n, sizeof(Node));
    gNodes--;
}

// Frees the tree under top (a root) without a stack: children are taken off their
// parent's array one by one and the parent links lead back up.
void freeTree(Node* top) {
    Node* cur = top;
    while (cur) {
        if (cur->attrs.n) {
            freeNodeStorage(cur->attrs.p[--cur->attrs.n]);
        } else if (cur->kids.n) {
            cur = cur->kids.p[--cur->kids.n];
        } else {
            Node* up = cur == top ? nullptr : cur->parent;
            freeNodeStorage(cur);
            cur = up;
        }
    }
}

// Takes the subtree under n (just unlinked from its parent) out of its tree.
void detach(Node* n) {
    Node* old = n->root;
    uint32_t refs = 0;
    eachNode(n, [&](Node* m) {
        m->root = n;
        refs += m->refs;
    });
    n->treeRefs = refs;
    old->treeRefs -= refs;
    if (!refs) freeTree(n);
    // What is left of the tree goes too when only the part taken out was referenced.
    if (!old->treeRefs) freeTree(old);
}

// A copy of n without its children, in the tree of root (its own when null).
Node* copyShell(const Node* s, Node* root) {
    Node* d = newNode(s->kind);
    if (root) d->root = root;
    try {
        setName(d->name, s->name);
        d->value = retain(s->value);
        d->ns.reserve(s->ns.n);
        for (const Ns& ns : s->ns)
            d->ns.push({retain(ns.prefix), retain(ns.uri)});
        d->attrs.reserve(s->attrs.n);
        for (const Node* a : s->attrs) {
            Node* c = newNode(kAttribute);
            c->parent = d;
            c->root = d->root;
            d->attrs.push(c);
            setName(c->name, a->name);
            c->value = retain(a->value);
        }
        d->kids.reserve(s->kids.n);
    } catch (...) {
        freeTree(d);
        throw;
    }
    return d;
}
} // namespace

void* allocate(size_t size) {
    if (gUsed + size > kMemoryLimit && gReclaim && !gReclaiming) {
        gReclaiming = true;
        gReclaim();
        gReclaiming = false;
    }
    if (gUsed + size > kMemoryLimit) throw Exhausted();
    void* p = takeBlock(size);
    if (!p) throw Exhausted();
    gUsed += size;
    return p;
}

void deallocate(void* p, size_t size) {
    if (!p) return;
    gUsed -= size;
    giveBlock(p, size);
}

size_t memoryInUse() {
    return gUsed;
}

void setReclaimer(void (*reclaim)()) {
    gReclaim = reclaim;
}

Counts counts() {
    return {gUsed, gNodes, gLists};
}

Str* newStr(const char* s, size_t n) {
    Str* r = static_cast<Str*>(allocate(strBytes(n)));
    r->refs = 1;
    r->size = static_cast<uint32_t>(n);
    r->hash = 0;
    r->interned = 0;
    r->next = nullptr;
    memcpy(r->data, s, n);
    r->data[n] = 0;
    return r;
}

Str* intern(const char* s, size_t n) {
    uint32_t h = hashOf(s, n);
    if (gBuckets) {
        for (Str* e = gBuckets[h & gMask]; e; e = e->next)
            if (e->hash == h && e->size == n && memcmp(e->data, s, n) == 0) return retain(e);
    }
    if (gInterned >= gMask) growTable();
    Str* r = newStr(s, n);
    r->hash = h;
    r->interned = 1;
    r->next = gBuckets[h & gMask];
    gBuckets[h & gMask] = r;
    gInterned++;
    return r;
}

void release(Str* s) {
    if (!s || --s->refs) return;
    if (s->interned) {
        Str** at = &gBuckets[s->hash & gMask];
        while (*at != s)
            at = &(*at)->next;
        *at = s->next;
        gInterned--;
    }
    deallocate(s, strBytes(s->size));
}

bool sameText(const Str* a, const Str* b) {
    if (a == b) return true;
    if (!a || !b || a->size != b->size) return false;
    return memcmp(a->data, b->data, a->size) == 0;
}

Str* emptyName() {
    if (!gEmpty) gEmpty = intern("", 0);
    return gEmpty;
}

Str* starName() {
    if (!gStar) gStar = intern("*", 1);
    return gStar;
}

void setName(Name& to, const Name& from) {
    retain(from.uri);
    retain(from.local);
    retain(from.prefix);
    clearName(to);
    to = from;
}

void clearName(Name& n) {
    release(n.uri);
    release(n.local);
    release(n.prefix);
    n = Name();
}

template <class T> void Vec<T>::reserve(uint32_t want) {
    if (want <= cap) return;
    uint32_t c = cap ? cap : 2;
    while (c < want)
        c *= 2;
    T* q = static_cast<T*>(allocate(sizeof(T) * c));
    if (n) memcpy(q, p, sizeof(T) * n);
    if (p) deallocate(p, sizeof(T) * cap);
    p = q;
    cap = c;
}

template <class T> void Vec<T>::insert(uint32_t at, const T* v, uint32_t count) {
    reserve(n + count);
    memmove(p + at + count, p + at, sizeof(T) * (n - at));
    memcpy(p + at, v, sizeof(T) * count);
    n += count;
}

template <class T> void Vec<T>::erase(uint32_t at, uint32_t count) {
    memmove(p + at, p + at + count, sizeof(T) * (n - at - count));
    n -= count;
}

template <class T> void Vec<T>::clear() {
    if (p) deallocate(p, sizeof(T) * cap);
    p = nullptr;
    n = cap = 0;
}

template struct Vec<Node*>;
template struct Vec<Ns>;

Node* newNode(Kind kind) {
    Node* n = static_cast<Node*>(allocate(sizeof(Node)));
    memset(static_cast<void*>(n), 0, sizeof(Node));
    n->kind = kind;
    n->root = n;
    gNodes++;
    return n;
}

void ref(Node* n) {
    n->refs++;
    n->root->treeRefs++;
}

void unref(Node* n) {
    n->refs--;
    Node* r = n->root;
    if (--r->treeRefs == 0) freeTree(r);
}

void insertKids(Node* parent, uint32_t at, Node* const* nodes, uint32_t count) {
    parent->kids.reserve(parent->kids.n + count);
    Node* root = parent->root;
    for (uint32_t i = 0; i < count; i++) {
        Node* k = nodes[i];
        uint32_t refs = k->treeRefs;
        eachNode(k, [&](Node* m) { m->root = root; });
        k->parent = parent;
        k->treeRefs = 0;
        root->treeRefs += refs;
    }
    parent->kids.insert(at, nodes, count);
}

void removeKid(Node* parent, uint32_t at) {
    Node* k = parent->kids[at];
    parent->kids.erase(at);
    k->parent = nullptr;
    detach(k);
}

void addAttr(Node* element, Node* attr) {
    element->attrs.reserve(element->attrs.n + 1);
    attr->parent = element;
    attr->root = element->root;
    element->root->treeRefs += attr->treeRefs;
    attr->treeRefs = 0;
    element->attrs.push(attr);
}

void removeAttr(Node* element, uint32_t at) {
    Node* a = element->attrs[at];
    element->attrs.erase(at);
    a->parent = nullptr;
    detach(a);
}

int64_t indexOf(const Node* parent, const Node* kid) {
    for (uint32_t i = 0; i < parent->kids.n; i++)
        if (parent->kids[i] == kid) return i;
    return -1;
}

bool isAncestorOrSelf(const Node* a, const Node* of) {
    for (const Node* y = of; y; y = y->parent)
        if (y == a) return true;
    return false;
}

Node* deepCopy(const Node* src) {
    Node* top = copyShell(src, nullptr);
    struct Frame {
        const Node* s;
        Node* d;
        uint32_t i;
    };
    try {
        std::vector<Frame> stack{{src, top, 0}};
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.i == f.s->kids.n) {
                stack.pop_back();
                continue;
            }
            const Node* sk = f.s->kids[f.i++];
            Node* dk = copyShell(sk, top);
            dk->parent = f.d;
            f.d->kids.push(dk); // reserved by copyShell
            if (sk->kids.n) stack.push_back({sk, dk, 0});
        }
    } catch (...) {
        freeTree(top);
        throw;
    }
    return top;
}

namespace {
bool sameShell(const Node* x, const Node* y) {
    if (x->kind != y->kind || x->name.local != y->name.local || x->name.uri != y->name.uri ||
        x->attrs.n != y->attrs.n || x->kids.n != y->kids.n || !sameText(x->value, y->value))
        return false;
    for (const Node* a : x->attrs) {
        bool found = false;
        for (const Node* b : y->attrs)
            if (a->name.local == b->name.local && a->name.uri == b->name.uri &&
                sameText(a->value, b->value))
                found = true;
        if (!found) return false;
    }
    return true;
}
} // namespace

bool equalNodes(const Node* a, const Node* b) {
    std::vector<std::pair<const Node*, const Node*>> stack{{a, b}};
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        if (!sameShell(x, y)) return false;
        for (uint32_t i = 0; i < x->kids.n; i++)
            stack.push_back({x->kids[i], y->kids[i]});
    }
    return true;
}

bool hasSimpleContent(const Node* n) {
    if (n->kind == kComment || n->kind == kInstruction) return false;
    for (const Node* k : n->kids)
        if (k->kind == kElement) return false;
    return true;
}

bool hasComplexContent(const Node* n) {
    if (n->kind != kElement) return false;
    for (const Node* k : n->kids)
        if (k->kind == kElement) return true;
    return false;
}

void addNamespace(Node* x, Str* prefix, Str* uri) {
    if (x->kind != kElement || !prefix) return;
    if (isEmpty(prefix) && isEmpty(x->name.uri)) return;
    int match = -1;
    for (uint32_t i = 0; i < x->ns.n; i++)
        if (x->ns[i].prefix == prefix) match = static_cast<int>(i);
    if (match >= 0 && x->ns[match].uri != uri) {
        release(x->ns[match].prefix);
        release(x->ns[match].uri);
        x->ns.erase(static_cast<uint32_t>(match));
        match = -1;
    }
    if (match < 0) x->ns.push({retain(prefix), retain(uri)});
    if (x->name.prefix == prefix) {
        release(x->name.prefix);
        x->name.prefix = nullptr;
    }
    for (Node* a : x->attrs) {
        if (a->name.prefix == prefix) {
            release(a->name.prefix);
            a->name.prefix = nullptr;
        }
    }
}

List* newList() {
    List* l = static_cast<List*>(allocate(sizeof(List)));
    memset(static_cast<void*>(l), 0, sizeof(List));
    gLists++;
    return l;
}

void ref(List* l) {
    l->refs++;
}

// Iterative along the chain of target lists, which may be long.
void unref(List* l) {
    while (l && --l->refs == 0) {
        List* next = l->targetList;
        for (Node* n : l->items)
            unref(n);
        l->items.clear();
        if (l->targetNode) unref(l->targetNode);
        clearName(l->prop);
        deallocate(l, sizeof(List));
        gLists--;
        l = next;
    }
}

void append(List* l, Node* n) {
    l->items.reserve(l->items.n + 1);
    ref(n);
    l->items.push(n);
}

void appendAll(List* l, const List* from) {
    l->items.reserve(l->items.n + from->items.n);
    for (Node* n : from->items) {
        ref(n);
        l->items.push(n);
    }
    setTarget(l, from->targetNode, from->targetList);
    setProp(l, from->hasProp ? &from->prop : nullptr, from->propAttr);
}

void setTarget(List* l, Node* node, List* list) {
    if (node) ref(node);
    if (list) ref(list);
    if (l->targetNode) unref(l->targetNode);
    if (l->targetList) unref(l->targetList);
    l->targetNode = node;
    l->targetList = list;
}

void setProp(List* l, const Name* prop, bool attr) {
    if (prop) {
        setName(l->prop, *prop);
    } else {
        clearName(l->prop);
    }
    l->hasProp = prop != nullptr;
    l->propAttr = attr;
}

void removeItem(List* l, uint32_t at) {
    Node* n = l->items[at];
    l->items.erase(at);
    unref(n);
}

} // namespace xml
