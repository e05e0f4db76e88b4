// The translator's syntax tree: nodes in an arena, each with its byte range in the source
// (so the writer can copy what needs no change) and the line it starts on. Scopes and
// bindings are filled in by the parser and resolved by scope.cpp.
#ifndef CAPSULE_TRANSLATOR_AST_H
#define CAPSULE_TRANSLATOR_AST_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace translator {

enum NodeKind : uint8_t {
    // expressions
    N_NAME,          // identifier reference: name; binding
    N_ATOM,          // this, null, true, false, number, string, regexp (op = token type)
    N_ARRAY,         // list (null entries are holes)
    N_OBJECT,        // list of N_PROP
    N_PROP,          // a = key (N_ATOM/N_NAME as written), b = value; op: 0 plain, 1 get, 2 set,
                     // 3 shorthand {a}, 4 `x getter: fn`, 5 `x setter: fn`
    N_FUNCTION,      // a = name (N_NAME or null), list = params, b = body (N_BODY or an
                     // expression for an expression closure); scope
    N_PAREN,         // a
    N_MEMBER,        // a . name
    N_INDEX,         // a [ b ]
    N_CALL,          // a ( list )
    N_NEW,           // a ( list ), flags F_NOARGS when written without parentheses
    N_POSTFIX,       // a op
    N_UNARY,         // op a
    N_BINARY,        // a op b (also && and ||)
    N_COND,          // a ? b : c
    N_ASSIGN,        // a op b
    N_COMMA,         // list
    N_YIELD,         // a (or null)
    N_LETEXPR,       // let (list of N_DECL) a; scope
    N_COMPREHENSION, // a = expression, list = N_FORCLAUSE..., b = condition or null; scope
    N_GENEXPR,       // the same as a generator expression
    N_FORCLAUSE,     // for [each] (a in b); op = 1 for each
    N_ARRAYPAT,      // destructuring pattern: list of targets (null = hole)
    N_OBJECTPAT,     // list of N_PROP whose b is the target
    // E4X expressions
    N_XML,       // XML initialiser (op 1: an XMLList initialiser <>...</>); list = N_XMLPART
    N_XMLPART,   // { a } inside an initialiser; op = XmlRole; range from { to }
    N_XMLNAME,   // @name, *, ns::name ... (op = XmlSelector bits): name = local name,
                 // a = qualifier (N_NAME) or null, b = [expression] or null; bare (as an
                 // operand): target = the innermost filter around it, or null
    N_XMLMEMBER, // a . b (op 0) or a .. b (op 1), b = N_XMLNAME
    N_XMLFILTER, // a .( b ); op = depth of filters (1 outermost)
    N_SHARP,     // a sharp variable: #n= a (a = the object or array literal), or #n# (a
                 // null); name = the number's digits
    N_ACCESSOR,  // `o.x getter = fn` (op 1 getter, 2 setter): a = the target (N_MEMBER or
                 // N_INDEX), b = the function
    // statements
    N_BODY,  // function body or program: list; scope (the function's)
    N_BLOCK, // list; scope (or null when nothing is declared in it)
    N_VAR,   // op = K_VAR, K_LET or K_CONST; list of N_DECL
    N_DECL,  // a = target (N_NAME or pattern), b = initialiser or null
    N_EMPTY,
    N_EXPR,     // a
    N_IF,       // a, b, c
    N_DOWHILE,  // b = body, a = test
    N_WHILE,    // a, b = body
    N_FOR,      // a = init (N_VAR or expression or null), b = test, c = update, d = body; scope
    N_FORIN,    // a = left (N_VAR of one N_DECL, or an expression/pattern), b = object,
                // d = body; op = 1 for `for each`; scope
    N_CONTINUE, // name (label), target
    N_BREAK,    // name (label), target
    N_RETURN,   // a
    N_WITH,     // a, b; op 1: bare E4X selectors inside ask its object (Parser::xmlOuter),
                // name.n = its number
    N_SWITCH,   // a, list of N_CASE; scope
    N_CASE,     // a = test (null for default), list
    N_LABEL,    // name, a = statement
    N_THROW,    // a
    N_TRY,      // a = block, list = N_CATCH..., b = finally block
    N_CATCH,    // a = parameter (N_NAME), b = guard or null, c = block; scope
    N_DEBUGGER,
    N_LETSTMT,  // let (list of N_DECL) a = block; scope
    N_FUNCDECL, // a = N_FUNCTION
    N_XMLNS,    // default xml namespace = a;
    N_EXPORT,   // export names; or export *; (nothing to do without signed scripts)
    N_IMPORT,   // import list: each a = N_MEMBER (obj.name) or N_XMLMEMBER (obj.*)
    N_GETTERFN, // getter function x() {} (op 1) or setter ...: a = N_FUNCTION
};

// Where a braced expression of an XML initialiser stands.
enum XmlRole : uint8_t {
    XP_NAME,    // a tag name, an attribute name, or attributes as text: String(e)
    XP_VALUE,   // an attribute value: quoted and escaped
    XP_CONTENT, // element content: markup of an XML value, escaped text of anything else
};

// The parts of an E4X property selector (N_XMLNAME).
enum XmlSelector : uint8_t {
    XS_ATTR = 1,      // @
    XS_ANYNS = 2,     // *::
    XS_STAR = 4,      // the local name is *
    XS_EXPR = 8,      // the local name is [b]
    XS_FUNCTION = 16, // function::name: the method of that name, never a child
    XS_WORD = 32,     // the local name is a reserved word (no plain reference)
};

enum NodeFlags : uint16_t {
    F_DIRTY = 1,     // this node or one below it is written differently from its source
    F_YIELD = 2,     // a yield below, within the same function
    F_NOARGS = 4,    // `new X` without arguments
    F_STATEMENT = 8, // an expression whose value is not used
    F_SYNTH = 16,    // made by the parser, not written in the source (no text of its own)
    F_EXPLODE = 32,  // a statement of a generator split into states
    F_STRICT = 64,   // function: strict code
    F_ASI = 128,     // statement ended by an inserted semicolon
    F_TARGET = 256,  // a name assigned to (=, op=, ++, --)
    F_CALLEE = 512,  // a name called (writer)
    F_INSITU = 1024, // function declaration: made where it stands, not on entry (resolve)
};

struct Name {
    const char* p = nullptr;
    uint32_t n = 0;
    bool operator==(const Name& o) const { return n == o.n && !memcmp(p, o.p, n); }
    std::string str() const { return std::string(p, n); }
};

struct Scope;
struct Binding;

struct Node {
    NodeKind kind;
    uint8_t op = 0;
    uint16_t flags = 0;
    uint32_t start = 0, end = 0; // source bytes [start, end)
    uint32_t line = 0;
    Node* a = nullptr;
    Node* b = nullptr;
    union { // no kind has both (hasCD): 80 bytes a node rather than 96
        struct {
            Node* c;
            Node* d;
        };
        Name name;
    };
    Node** list = nullptr;
    uint32_t count = 0;
    uint32_t after = 0; // the index of the first token at or after `end` (set by the parser)
    Scope* scope = nullptr;
    union {
        Binding* binding; // N_NAME: what it refers to (null: global or unknown)
        Node* target;     // N_BREAK / N_CONTINUE: the statement they leave; a bare
                          // N_XMLNAME: its filter
        int state;        // written generator code: state number
    };
    Node() : c(nullptr), d(nullptr), binding(nullptr) {}
};

// The kinds with a c or d child; every other kind may hold a name in their place.
inline bool hasCD(NodeKind k) {
    return k == N_COND || k == N_IF || k == N_FOR || k == N_FORIN || k == N_CATCH;
}

enum BindKind : uint8_t { B_VAR, B_PARAM, B_FUNC, B_LET, B_CONST, B_CATCH, B_ARGUMENTS };

struct Binding {
    Name name;
    Binding* next = nullptr; // beside the name: a lookup walks the two
    BindKind kind;
    uint32_t declAt = 0; // where the declaring node starts (kept here: the node lies far away)
    Scope* scope;
    Node* decl = nullptr;  // the declaring node (for errors)
    bool captured = false; // referenced from a nested function
    bool assigned = false; // a const assigned to after its declaration
    std::string rename;    // the name it is written as, when not its own
};

enum ScopeKind : uint8_t { S_FUNCTION, S_BLOCK, S_CATCH, S_COMPREHENSION };

struct Scope {
    ScopeKind kind;
    Scope* parent = nullptr;
    Scope* fn = nullptr;      // the enclosing function scope (itself for a function)
    Node* node = nullptr;     // the node that owns the scope
    Binding* first = nullptr; // bindings, in declaration order
    // beyond a few names (a lookup reads this, `first` and `parent`: kept in one cache line)
    std::unordered_map<std::string_view, Binding*>* index = nullptr;
    bool inLoop = false; // block: entered again by a loop of its function
    bool fresh = false;  // block: needs a fresh binding per entry (writer)
    uint32_t holder = 0; // block of a generator: N when its bindings live in an array
                         // made on each entry (resolve.h)
    // function scopes only (usesArguments also of comprehensions: `arguments` met inside)
    bool generator = false;
    bool hasEval = false;   // a direct eval call inside (bindings keep their names)
    bool keepsVars = false; // a closure or with inside may keep the variables by name
    bool usesThis = false, usesArguments = false;
    bool strict = false;
    Node* valueReturn = nullptr; // the first `return value;`
    int depth = 0;               // nesting of functions
    bool xmlns = false; // sets the default xml namespace (saved and restored around the body)
    Binding* last = nullptr;
    uint32_t count = 0;
    Scope* nextInFn = nullptr;  // the next scope (not a function's) of the same function
    Scope* firstInFn = nullptr; // function scopes: the first of those
    Binding* find(const Name& n) const {
        if (index) {
            auto it = index->find(std::string_view(n.p, n.n));
            return it == index->end() ? nullptr : it->second;
        }
        for (Binding* b = first; b; b = b->next)
            if (b->name == n) return b;
        return nullptr;
    }
};

// Nodes, scopes and bindings live as long as the translation: freed in one go. Scopes and
// bindings lie apart from the nodes, close together, for the resolution's walks.
class Arena {
  public:
    void* alloc(size_t n) { return nodes_.alloc(n); }
    template <class T> T* make() {
        Pool& p =
            std::is_same<T, Scope>::value || std::is_same<T, Binding>::value ? scopes_ : nodes_;
        return new (p.alloc(sizeof(T))) T();
    }
    ~Arena() {
        for (Binding* b : bindings_)
            b->~Binding();
    }
    Binding* binding() {
        Binding* b = make<Binding>();
        bindings_.push_back(b);
        return b;
    }
    // Appends b to the scope's bindings (indexed by name once there are more than a few).
    void add(Scope* s, Binding* b) {
        if (s->last) {
            s->last->next = b;
        } else {
            s->first = b;
        }
        s->last = b;
        if (++s->count == 9) {
            maps_.emplace_back(new std::unordered_map<std::string_view, Binding*>());
            s->index = maps_.back().get();
            for (Binding* o = s->first; o; o = o->next)
                s->index->emplace(std::string_view(o->name.p, o->name.n), o);
        } else if (s->index) {
            s->index->emplace(std::string_view(b->name.p, b->name.n), b);
        }
    }

    // A block of n bytes, from the block functions (translate.h), and its return.
    static void* block(size_t n);
    static void release(void* p);

  private:
    // Blocks double from 64 KiB to 2 MiB (the embedder's block functions may give those of
    // 2 MiB in huge pages).
    struct Pool {
        std::vector<std::unique_ptr<char, void (*)(void*)>> blocks;
        size_t used = 0, cap = 0;
        void* alloc(size_t n) {
            n = (n + 7) & ~size_t(7);
            if (used + n > cap) {
                cap = cap ? (cap < kMaxBlock ? cap * 2 : cap) : kBlock;
                if (cap < n) cap = n;
                blocks.emplace_back(static_cast<char*>(block(cap)), release);
                used = 0;
            }
            void* p = blocks.back().get() + used;
            used += n;
            return p;
        }
    };
    static constexpr size_t kBlock = 64 * 1024, kMaxBlock = 2 * 1024 * 1024;
    std::vector<std::unique_ptr<std::unordered_map<std::string_view, Binding*>>> maps_;
    Pool nodes_, scopes_;
    std::vector<Binding*> bindings_;
};

// The allocator of the large arrays of a translation (its tokens): blocks as the arena's.
template <class T> struct BlockAllocator {
    using value_type = T;
    BlockAllocator() = default;
    template <class U> BlockAllocator(const BlockAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(Arena::block(n * sizeof(T))); }
    void deallocate(T* p, size_t) { Arena::release(p); }
    template <class U> bool operator==(const BlockAllocator<U>&) const { return true; }
    template <class U> bool operator!=(const BlockAllocator<U>&) const { return false; }
};

} // namespace translator

#endif
