// The E4X data model in native memory, outside the script heap: nodes of XML trees, lists
// of nodes, names and text, and the memory they take, counted and bounded. The engine's
// XML glue (core/xml/binding/), the parser and the writer use it, always under the
// request lock. Nothing here recurses over a tree: every walk keeps its own stack, so the
// depth of a document costs memory, never native stack. The room core/xml/ (the data
// model: this tree, parse.h, write.h, ops.h) includes no engine header: only core/text/
// and expat. Its engine binding is core/xml/binding/.
#ifndef CAPSULE_XML_TREE_H
#define CAPSULE_XML_TREE_H

#include <stddef.h>
#include <stdint.h>
#include <utility>
#include <vector>

namespace xml {

// Every block of the model is counted. Past the limit an allocation first asks the
// reclaimer (a garbage collection that drops unreachable wrappers), then throws Exhausted.
constexpr size_t kMemoryLimit = size_t(256) << 20;
struct Exhausted {
    const char* what = nullptr; // a more precise reason, when there is one
};
void* allocate(size_t size);
void deallocate(void* p, size_t size);
size_t memoryInUse();
void setReclaimer(void (*reclaim)());

// Immutable text in the engine's encoding, reference counted. Names are interned, so two
// names are equal exactly when they are the same Str.
struct Str {
    uint32_t refs;
    uint32_t size;
    uint32_t hash;
    uint32_t interned;
    Str* next;    // in the intern table's bucket
    char data[1]; // size bytes and a NUL
};
Str* newStr(const char* s, size_t n);
Str* intern(const char* s, size_t n);
inline Str* retain(Str* s) {
    if (s) s->refs++;
    return s;
}
void release(Str* s);
bool sameText(const Str* a, const Str* b);
inline bool isEmpty(const Str* s) {
    return s && s->size == 0;
}
Str* emptyName(); // the interned "" (never freed)
Str* starName();  // the interned "*": any name

// A growable array of plain values in counted memory.
template <class T> struct Vec {
    T* p = nullptr;
    uint32_t n = 0, cap = 0;
    T& operator[](size_t i) const { return p[i]; }
    T* begin() const { return p; }
    T* end() const { return p + n; }
    void reserve(uint32_t want);
    void push(T v) {
        if (n == cap) reserve(n + 1);
        p[n++] = v;
    }
    void insert(uint32_t at, const T* v, uint32_t count);
    void erase(uint32_t at, uint32_t count = 1);
    void clear();
};

enum Kind : uint8_t { kElement, kAttribute, kText, kComment, kInstruction };

// A qualified name as nodes carry it (uri "" is no namespace; prefix null is unknown),
// and as lookups use it (uri null is any namespace; local "*" any name).
struct Name {
    Str* uri = nullptr;
    Str* local = nullptr;
    Str* prefix = nullptr;
};
void setName(Name& to, const Name& from); // retains from's parts, releases to's
void clearName(Name& n);

// A namespace declaration; prefix null (undefined) only outside nodes.
struct Ns {
    Str* prefix;
    Str* uri;
};

struct Node {
    Kind kind;
    Node* parent;
    Node* root;        // the top of its tree (itself when it has no parent)
    uint32_t refs;     // held by wrappers, lists and natives at work
    uint32_t treeRefs; // on a root: the refs of every node of its tree
    Name name;         // element, attribute; an instruction's target is name.local
    Str* value;        // text, comment, instruction, attribute
    Vec<Node*> kids;
    Vec<Node*> attrs;
    Vec<Ns> ns;    // namespaces declared on the element
    void* wrapper; // the script object standing for it, if any (not a reference)
};

// A new node, the root of a tree of its own, held by nobody yet: the caller refs it.
Node* newNode(Kind kind);
// A tree lives while any of its nodes is referenced; the last unref frees it whole.
void ref(Node* n);
void unref(Node* n);
// Holds a node for the duration of a scope.
struct Hold {
    Node* n;
    explicit Hold(Node* node) : n(node) {
        if (n) ref(n);
    }
    ~Hold() {
        if (n) unref(n);
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// Tree edits. A node put into a tree must be a root; a node taken out becomes one (and is
// freed when nothing refers to it, as is the rest of its tree when nothing refers to that).
void insertKids(Node* parent, uint32_t at, Node* const* nodes, uint32_t count);
void removeKid(Node* parent, uint32_t at);
void addAttr(Node* element, Node* attr);
void removeAttr(Node* element, uint32_t at);
// Index of kid in parent's children, or -1.
int64_t indexOf(const Node* parent, const Node* kid);
bool isAncestorOrSelf(const Node* a, const Node* of);

Node* deepCopy(const Node* n);                 // a new root
bool equalNodes(const Node* a, const Node* b); // ECMA-357 [[Equals]] of two nodes

bool hasSimpleContent(const Node* n);
bool hasComplexContent(const Node* n);

// Calls f on every node under top, top included, each before its children and each
// element's attributes right after it (document order).
template <class F> void eachNode(Node* top, F&& f);

// Namespaces: in-scope declarations of an element (ECMA-357 AddInScopeNamespace).
void addNamespace(Node* element, Str* prefix, Str* uri);
// Visits the namespaces in scope at n, nearest first, each prefix once.
template <class F> void eachNamespaceInScope(const Node* n, F&& f);

// An XMLList: its items (each referenced) and, for assignments through it, the object
// and property it came from (ECMA-357 [[TargetObject]], [[TargetProperty]]).
struct List {
    uint32_t refs;
    Vec<Node*> items;
    Node* targetNode;
    List* targetList;
    bool hasProp;
    bool propAttr;
    Name prop;
    void* wrapper;
};
List* newList();
void ref(List* l);
void unref(List* l);
void append(List* l, Node* n);
void appendAll(List* l, const List* from); // items and target (ECMA-357 [[Append]])
void setTarget(List* l, Node* node, List* list);
void setProp(List* l, const Name* prop, bool attr);
void removeItem(List* l, uint32_t at);

// What the model holds now: bytes in use, live nodes and lists.
struct Counts {
    size_t bytes, nodes, lists;
};
Counts counts();

template <class F> void eachNode(Node* top, F&& f) {
    std::vector<std::pair<Node*, uint32_t>> stack{{top, 0}};
    f(top);
    for (Node* a : top->attrs)
        f(a);
    while (!stack.empty()) {
        auto& [n, i] = stack.back();
        if (i == n->kids.n) {
            stack.pop_back();
            continue;
        }
        Node* k = n->kids[i++];
        f(k);
        for (Node* a : k->attrs)
            f(a);
        if (k->kids.n) stack.push_back({k, 0});
    }
}

template <class F> void eachNamespaceInScope(const Node* n, F&& f) {
    for (const Node* y = n; y; y = y->parent) {
        for (const Ns& ns : y->ns) {
            bool seen = false;
            for (const Node* z = n; z != y && !seen; z = z->parent)
                for (const Ns& m : z->ns)
                    if (m.prefix == ns.prefix) seen = true;
            if (!seen) f(ns);
        }
    }
}

} // namespace xml

#endif
