// The internal methods of XML and XMLList objects (ECMA-357 9.1.1 and 9.2.1): property
// get, put, delete and lookup by name, descendants, insertion and replacement of children,
// and the resolution of an empty list's target. Pure native code: the engine glue turns
// script values into queries and values before it calls them.
#ifndef CAPSULE_XML_OPS_H
#define CAPSULE_XML_OPS_H

#include "core/xml/tree.h"

#include <string>

namespace xml {

// A property name as a lookup: uri null matches any namespace, local "*" any name.
struct Query {
    Name name;
    bool attr = false;
};
bool matchKid(const Node* k, const Query& q);
bool matchAttr(const Node* a, const Query& q);

// A faulty operation that script sees as a TypeError.
struct Fault {
    const char* message;
};

// A value assigned or inserted: a node, a list, or text (exactly one of them).
struct Val {
    Node* node = nullptr;
    List* list = nullptr;
    Str* text = nullptr;
};

// A list or node that the caller holds (a reference taken, dropped with the holder).
struct Ref {
    Node* node = nullptr;
    List* list = nullptr;
    Ref() = default;
    explicit Ref(Node* n) : node(n) {
        if (n) ref(n);
    }
    explicit Ref(List* l) : list(l) {
        if (l) ref(l);
    }
    Ref(Ref&& o) noexcept : node(o.node), list(o.list) { o.node = nullptr, o.list = nullptr; }
    Ref& operator=(Ref&& o) noexcept;
    Ref(const Ref&) = delete;
    ~Ref();
    explicit operator bool() const { return node || list; }
};

Ref get(Node* x, const Query& q); // a new list
Ref get(List* x, const Query& q);
bool has(const Node* x, const Query& q);
bool has(const List* x, const Query& q);
void remove(Node* x, const Query& q);
void remove(List* x, const Query& q);
// XMLList [[Delete]] of an index: the item leaves its parent and the list.
void removeIndex(List* x, uint32_t i);
Ref descendants(Node* x, const Query& q);
Ref descendants(List* x, const Query& q);
// A list of deep copies of the items of l.
Ref copyList(const List* l);

// [[Put]] of a name on a node; defaultUri names new elements of an unqualified query.
void put(Node* x, const Query& q, const Val& v, Str* defaultUri);
// [[Put]] on a list: an index, or a name (through its only item, or its target when it
// is empty; a Fault for a longer list).
void putIndex(List* list, uint32_t index, const Val& value, Str* defaultUri);
void put(List* x, const Query& q, const Val& v, Str* defaultUri);
void insert(Node* x, uint32_t i, const Val& v);
void replace(Node* x, uint32_t i, const Val& v);
// The text a value stands for in an assignment: its ToString (a new reference).
Str* toText(const Val& v);

// Name checks: an XML name without a colon (isXMLName), over engine-encoded text.
bool isXmlName(const char* s, size_t n);

} // namespace xml

#endif
