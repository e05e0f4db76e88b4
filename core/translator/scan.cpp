// The quick scan: one pass of a small lexer over the source that tells whether it may hold
// anything beyond ECMAScript 5.1 (let, const, yield, for each, destructuring, expression
// closures, comprehensions, generator expressions, conditional catch, shorthand
// properties, getter/setter, export, import, a pattern in a catch or in parentheses; E4X:
// `@`, `::`, `..`, `.*`, `.(`, a `<` that starts an initialiser or a lone `*` where an
// operand is expected, `default` without `:`). A source it passes reaches the engine
// untouched; a false alarm only costs a full translation, which then finds nothing to
// change. Every source the engine compiles goes through it, so it works from a table of
// character classes, byte by byte.
#include "core/translator/translate.h"
#include "core/translator/lexer.h"

#include <string.h>
#include <vector>

namespace translator {

namespace {

enum CharClass : uint8_t { C_OTHER, C_SPACE, C_IDENT, C_QUOTE, C_SLASH, C_HIGH, C_DOT };

struct Classes {
    uint8_t c[256];
    constexpr Classes() : c() {
        for (int i = 0; i < 256; i++) {
            c[i] = C_OTHER;
            if ((i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z') || (i >= '0' && i <= '9') ||
                i == '$' || i == '_' || i == '\\')
                c[i] = C_IDENT;
            if (i >= 0x80) c[i] = C_HIGH;
        }
        for (char s : {' ', '\t', '\n', '\r', '\v', '\f'})
            c[static_cast<unsigned char>(s)] = C_SPACE;
        c['"'] = c['\''] = C_QUOTE;
        c['/'] = C_SLASH;
        c['.'] = C_DOT;
    }
};
constexpr Classes kClasses;

inline uint8_t cls(char c) {
    return kClasses.c[static_cast<unsigned char>(c)];
}

// The words that matter to the scan.
enum Word : uint8_t {
    W_NAME, // any other name: an operand
    W_FLAG, // let, yield, const: translate
    W_EACH,
    W_FOR,
    W_CATCH,
    W_IF,
    W_HEAD, // while, with, switch: a parenthesized head follows
    W_FUNCTION,
    W_GETSET,
    W_DEFAULT,
    W_KEYWORD,     // in, new, var, case, void, throw, return, typeof, delete, instanceof: an
                   // operand follows
    W_BODY,        // do, else: a statement follows
    W_OLDACCESSOR, // getter, setter: after an operand, or before `function`, the 1.5 forms
    W_MODULE,      // export, import: words ES5 keeps, here statements
};

inline bool eq(const char* p, const char* w, size_t n) {
    return !memcmp(p, w, n);
}

Word word(const char* p, size_t n) {
    switch (n) {
    case 2:
        if (eq(p, "if", 2)) return W_IF;
        if (eq(p, "in", 2)) return W_KEYWORD;
        if (eq(p, "do", 2)) return W_BODY;
        break;
    case 3:
        if (eq(p, "let", 3)) return W_FLAG;
        if (eq(p, "for", 3)) return W_FOR;
        if (eq(p, "var", 3) || eq(p, "new", 3)) return W_KEYWORD;
        if (eq(p, "get", 3) || eq(p, "set", 3)) return W_GETSET;
        break;
    case 4:
        if (eq(p, "each", 4)) return W_EACH;
        if (eq(p, "with", 4)) return W_HEAD;
        if (eq(p, "case", 4) || eq(p, "void", 4)) return W_KEYWORD;
        if (eq(p, "else", 4)) return W_BODY;
        break;
    case 5:
        if (eq(p, "yield", 5) || eq(p, "const", 5)) return W_FLAG;
        if (eq(p, "catch", 5)) return W_CATCH;
        if (eq(p, "while", 5)) return W_HEAD;
        if (eq(p, "throw", 5)) return W_KEYWORD;
        break;
    case 6:
        if (eq(p, "switch", 6)) return W_HEAD;
        if (eq(p, "return", 6) || eq(p, "typeof", 6) || eq(p, "delete", 6)) return W_KEYWORD;
        if (eq(p, "getter", 6) || eq(p, "setter", 6)) return W_OLDACCESSOR;
        if (eq(p, "export", 6) || eq(p, "import", 6)) return W_MODULE;
        break;
    case 7:
        if (eq(p, "default", 7)) return W_DEFAULT;
        break;
    case 8:
        if (eq(p, "function", 8)) return W_FUNCTION;
        break;
    case 10:
        if (eq(p, "instanceof", 10)) return W_KEYWORD;
        break;
    }
    return W_NAME;
}

enum BracketFlags : uint8_t {
    B_OPERAND = 1, // [ or { where an operand was expected: an array or object literal
    B_PARAMS = 2,  // ( of a function's parameters
    B_HEAD = 4,    // ( of if/while/for/with/switch/catch: an operand does not end there
};

// How far into the head of a catch clause the scan is: `if` after its name is a guard.
enum CatchHead : uint8_t {
    CATCH_NONE,
    CATCH_KEYWORD, // after `catch`
    CATCH_PAREN,   // after `catch (`
    CATCH_NAME,    // after `catch (name`
};

// How far into an accessor of an object literal the scan is: its parameter list is a
// function's.
enum AccessorHead : uint8_t {
    ACCESSOR_NONE,
    ACCESSOR_WORD, // after `get` or `set` where a property's key stands
    ACCESSOR_NAME, // after the accessor's name
};

class Scanner {
  public:
    Scanner(const char* src, size_t len) : start_(src), end_(src + len), p_(src) {
        kinds_.resize(64);
        flags_.resize(64);
        if (len >= 2 && src[0] == '#' && src[1] == '!') skipLine(); // a script run as a program
    }
    bool run();

  private:
    // Each of these takes one token (the current byte, or the name from `start` that p_ is
    // past); true when it holds something beyond ECMAScript 5.1.
    void number();
    bool word(const char* start);
    bool punctuator(char c);
    void string(char quote);
    bool dot();
    void slash();
    bool openBracket(char c, bool* objectKey);
    bool closeBracket(char c);
    bool lessThan();

    bool skipSpace();
    void skipLine() {
        while (p_ < end_ && *p_ != '\n' && *p_ != '\r')
            p_++;
    }
    const char* lineStart(const char* at) const;
    char nextChar();
    bool startsFunction();
    void name() {
        while (p_ < end_) {
            uint8_t c = cls(*p_);
            if (c == C_IDENT) {
                p_++;
            } else if (c == C_HIGH && !lineBreakAt(p_, end_) && !unicodeSpaceAt(p_, end_)) {
                p_++;
            } else {
                return;
            }
        }
    }

    const char* start_;
    const char* end_;
    const char* p_;
    // The open brackets: their kind and flags (as deep as the source nests them).
    std::vector<uint8_t> kinds_, flags_;
    int depth_ = 0;
    // What the tokens before tell of the next.
    bool operand_ = false;             // the last token ended an operand
    Word prev_ = W_KEYWORD;            // the last token, when it was a name
    bool function_ = false;            // `function` [name] awaits its parameter list
    CatchHead catchHead_ = CATCH_NONE; // in the head of a catch clause
    bool objectKey_ = false;           // after { or , of an object literal
    AccessorHead accessor_ = ACCESSOR_NONE;
    bool body_ = false; // a statement follows (after do, else, the head of if, for...): a {
                        // there opens a block, not an object literal
};

// Skips white space and comments; false at an unterminated comment.
bool Scanner::skipSpace() {
    while (p_ < end_) {
        uint8_t c = cls(*p_);
        if (c == C_SPACE) {
            p_++;
        } else if (c == C_SLASH && p_ + 1 < end_ && p_[1] == '/') {
            while (p_ < end_ && *p_ != '\n' && *p_ != '\r')
                p_++;
        } else if (c == C_SLASH && p_ + 1 < end_ && p_[1] == '*') {
            const char* close = p_ + 2;
            while (close + 1 < end_ && !(close[0] == '*' && close[1] == '/'))
                close++;
            if (close + 1 >= end_) return false;
            p_ = close + 2;
        } else if (c == C_HIGH) {
            size_t n = lineBreakAt(p_, end_) + unicodeSpaceAt(p_, end_);
            if (!n) return true;
            p_ += n;
        } else {
            return true;
        }
    }
    return true;
}

// Where the line of `at` starts when only spaces lie before it on the line (the start of
// the source, or after a line break); null otherwise.
const char* Scanner::lineStart(const char* at) const {
    while (at > start_ && (at[-1] == ' ' || at[-1] == '\t'))
        at--;
    return at == start_ || at[-1] == '\n' || at[-1] == '\r' ? at : nullptr;
}

// The next significant character, without moving (0 at the end; '!' for `==`, 'I' for the
// keyword `in`).
char Scanner::nextChar() {
    const char* save = p_;
    skipSpace();
    char c = p_ < end_ ? *p_ : 0;
    if (c == '=' && p_ + 1 < end_ && p_[1] == '=') c = '!';
    if (c == 'i' && p_ + 1 < end_ && p_[1] == 'n' && (p_ + 2 == end_ || cls(p_[2]) != C_IDENT))
        c = 'I';
    p_ = save;
    return c;
}

bool Scanner::run() {
    for (;;) {
        if (!skipSpace()) return true; // unterminated comment: the full parse reports it
        if (p_ >= end_) return false;
        const char* start = p_;
        char c = *p_;
        uint8_t k = cls(c);
        if (k == C_IDENT || k == C_HIGH) {
            p_++;
            name();
            if (c >= '0' && c <= '9') {
                number();
            } else if (word(start)) {
                return true;
            }
        } else if (punctuator(c)) {
            return true;
        }
    }
}

// A number, its first digits taken: letters, a fraction, an exponent with a sign.
void Scanner::number() {
    if (p_ < end_ && *p_ == '.') {
        p_++;
        name();
    }
    if ((p_[-1] == 'e' || p_[-1] == 'E') && p_ < end_ && (*p_ == '+' || *p_ == '-')) {
        p_++;
        name();
    }
    operand_ = true;
    prev_ = W_NAME;
    catchHead_ = CATCH_NONE;
    objectKey_ = false;
    accessor_ = ACCESSOR_NONE;
    body_ = false;
}

// A name or keyword: let, yield and const, `for each`, `for` after an operand (a
// comprehension), a catch guard, `default xml namespace`, a shorthand property.
bool Scanner::word(const char* start) {
    Word w = translator::word(start, p_ - start);
    switch (w) {
    case W_FLAG:
        return true;
    case W_EACH:
        if (prev_ == W_FOR) return true;
        break;
    case W_FOR:
        if (operand_) return true; // [x for ...], (x for ...)
        break;
    case W_IF:
        if (catchHead_ == CATCH_NAME) return true;
        break;
    case W_FUNCTION:
        function_ = true;
        break;
    case W_DEFAULT:
        if (nextChar() != ':') return true; // default xml namespace
        break;
    case W_OLDACCESSOR:
        if (operand_ || startsFunction()) return true; // o.x getter =, getter function
        break;
    case W_MODULE:
        if (!objectKey_ && accessor_ != ACCESSOR_WORD) return true; // not a property's key
        break;
    default:
        break;
    }
    catchHead_ = catchHead_ == CATCH_PAREN ? CATCH_NAME : w == W_CATCH ? CATCH_KEYWORD : CATCH_NONE;
    accessor_ = accessor_ == ACCESSOR_WORD ? ACCESSOR_NAME : ACCESSOR_NONE;
    if (objectKey_) {
        char next = nextChar();
        if (next == ',' || next == '}') return true; // {a, b}
        if (w == W_GETSET) accessor_ = ACCESSOR_WORD;
    }
    objectKey_ = false;
    operand_ = w != W_KEYWORD && w != W_BODY;
    body_ = w == W_BODY;
    prev_ = w;
    return false;
}

// Whether the next word is `function`.
bool Scanner::startsFunction() {
    const char* save = p_;
    skipSpace();
    bool yes = end_ - p_ > 8 && eq(p_, "function", 8) && cls(p_[8]) != C_IDENT;
    p_ = save;
    return yes;
}

// Any other token, from its first byte c (which p_ is past once taken).
bool Scanner::punctuator(char c) {
    p_++;
    if (catchHead_ == CATCH_PAREN && (c == '[' || c == '{')) return true; // catch ([a, b])
    catchHead_ = catchHead_ == CATCH_KEYWORD && c == '(' ? CATCH_PAREN : CATCH_NONE;
    bool key = false;
    switch (c) {
    case '"':
    case '\'':
        string(c);
        break;
    case '.':
        if (dot()) return true;
        break;
    case '/':
        slash();
        break;
    case '(':
    case '[':
    case '{':
        if (openBracket(c, &key)) return true;
        break;
    case ')':
    case ']':
    case '}':
        return closeBracket(c);
    case ',':
        key = depth_ && kinds_[depth_ - 1] == '{' && (flags_[depth_ - 1] & B_OPERAND);
        operand_ = false;
        break;
    case '@':
        return true;
    case ':':
        if (p_ < end_ && *p_ == ':') return true;
        operand_ = false;
        break;
    case '*':
        if (!operand_) return true; // *::name, or * alone in a filter
        operand_ = false;
        break;
    case '<':
        if (operand_ && end_ - p_ >= 3 && !memcmp(p_, "!--", 3)) {
            skipLine(); // a comment to the end of the line, as the engine reads it
            return false;
        }
        if (lessThan()) return true;
        break;
    case '#':
        return true; // a sharp variable, #1=[...] or #1#
    case '+':
    case '-':
        if (c == '-' && end_ - p_ >= 2 && p_[0] == '-' && p_[1] == '>') {
            // `-->` first on its line: a comment; the engine takes it after a line break
            // only, the translator at the start too.
            const char* line = lineStart(p_ - 1);
            if (line == start_) return true;
            if (line) {
                skipLine();
                return false;
            }
        }
        if (p_ < end_ && *p_ == c) {
            p_++; // ++ and -- keep what came before
        } else {
            operand_ = false;
        }
        break;
    default:
        operand_ = false;
    }
    objectKey_ = key;
    accessor_ = ACCESSOR_NONE;
    prev_ = W_KEYWORD;
    function_ = false;
    body_ = false;
    return false;
}

// A string literal, its opening quote taken.
void Scanner::string(char quote) {
    while (p_ < end_ && *p_ != quote) {
        if (*p_ == '\\') p_++;
        p_++;
    }
    p_++;
    operand_ = true;
}

// A dot: a number's fraction, or a property name after it, whatever it spells; E4X puts
// `.`, `@`, `*` or `(` there.
bool Scanner::dot() {
    if (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
        name();
    } else {
        skipSpace();
        if (p_ < end_ && (*p_ == '.' || *p_ == '@' || *p_ == '*' || *p_ == '(')) return true;
        name();
    }
    operand_ = true;
    return false;
}

// A slash: where an operand is expected, a regular expression (to its flags); else division.
void Scanner::slash() {
    if (operand_) {
        operand_ = false;
        return;
    }
    bool inClass = false;
    for (; p_ < end_; p_++) {
        char r = *p_;
        if (r == '\\') {
            p_++;
        } else if (r == '[') {
            inClass = true;
        } else if (r == ']') {
            inClass = false;
        } else if ((r == '/' && !inClass) || r == '\n' || r == '\r') {
            break;
        }
    }
    p_++;
    name(); // flags
    operand_ = true;
}

// ( [ { pushed with what they open; a bracket other than ( straight inside a function's
// parameter list is a destructuring parameter.
bool Scanner::openBracket(char c, bool* objectKey) {
    uint8_t flags = 0;
    if (c != '(' && !operand_ && !(c == '{' && body_)) flags |= B_OPERAND;
    if (depth_ && (flags_[depth_ - 1] & B_PARAMS) && c != '(') return true;
    if (c == '(' && (function_ || accessor_ == ACCESSOR_NAME)) flags |= B_PARAMS;
    if (c == '(' && (prev_ == W_IF || prev_ == W_FOR || prev_ == W_HEAD || prev_ == W_CATCH))
        flags |= B_HEAD;
    if (depth_ == static_cast<int>(kinds_.size())) {
        kinds_.push_back(0);
        flags_.push_back(0);
    }
    kinds_[depth_] = static_cast<uint8_t>(c);
    flags_[depth_++] = flags;
    operand_ = false;
    *objectKey = c == '{' && (flags & B_OPERAND);
    return false;
}

// ) ] } popped: a literal assigned to or before `in` is a destructuring pattern, a parameter
// list without a { after it an expression closure.
bool Scanner::closeBracket(char c) {
    uint8_t flags = depth_ ? flags_[--depth_] : 0;
    char next = nextChar();
    if ((flags & B_OPERAND) && (next == '=' || next == 'I')) return true;
    if (c == ')' && next == '=') return true;           // ([a, b]) = v
    if ((flags & B_PARAMS) && next != '{') return true; // expression closure
    operand_ = c == ']' || (c == ')' && !(flags & B_HEAD)) || (c == '}' && (flags & B_OPERAND));
    objectKey_ = false;
    accessor_ = ACCESSOR_NONE;
    prev_ = W_KEYWORD;
    function_ = false;
    body_ = c == ')' && (flags & B_HEAD);
    return false;
}

// A `<` where an operand is expected: an XML initialiser when a name, `{`, `!`, `?` or `>`
// follows.
bool Scanner::lessThan() {
    if (!operand_ && p_ < end_) {
        char n = *p_;
        if ((n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z') || n == '_' || n == ':' || n == '{' ||
            n == '!' || n == '?' || n == '>' || cls(n) == C_HIGH)
            return true;
    }
    operand_ = false;
    return false;
}

} // namespace

bool mayNeedTranslation(const char* src, size_t len) {
    Scanner s(src, len);
    return s.run();
}

} // namespace translator
