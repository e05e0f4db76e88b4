// The quick scan: one pass of a small lexer over the source that tells whether it may hold
// anything beyond ECMAScript 5.1 (let, const, yield, for each, destructuring, expression
// closures, comprehensions, generator expressions, conditional catch, shorthand
// properties). A source it passes reaches the engine untouched; a false alarm only costs a
// full translation, which then finds nothing to change.
#include "core/translator/translate.h"
#include "core/translator/lexer.h"

#include <string.h>

namespace translator {

namespace {

enum BracketFlags : uint8_t {
    B_OPERAND = 1, // [ or { where an operand was expected: an array or object literal
    B_PARAMS = 2,  // ( of a function's parameters
    B_HEAD = 4,    // ( of if/while/for/with/switch/catch: an operand does not end there
};

struct Bracket {
    char kind;
    uint8_t flags;
};

bool is(const char* p, size_t n, const char* word) {
    return strlen(word) == n && !memcmp(p, word, n);
}

// Names after which an operand is expected (the ones an operand may follow are all others).
bool precedesOperand(const char* p, size_t n) {
    switch (n) {
    case 2:
        return is(p, n, "in") || is(p, n, "do");
    case 3:
        return is(p, n, "new") || is(p, n, "var"); // var [a, b] = ...
    case 4:
        return is(p, n, "case") || is(p, n, "void") || is(p, n, "else");
    case 5:
        return is(p, n, "throw");
    case 6:
        return is(p, n, "return") || is(p, n, "typeof") || is(p, n, "delete");
    case 10:
        return is(p, n, "instanceof");
    }
    return false;
}

class Scanner {
  public:
    Scanner(const char* src, size_t len) : s_(src), end_(src + len), p_(src) {}
    bool run();

  private:
    // The next significant character after white space and comments (0 at the end).
    char nextChar();
    bool skipSpace();

    const char* s_;
    const char* end_;
    const char* p_;
    static constexpr int kStack = 256;
    Bracket stack_[kStack];
    int depth_ = 0;
};

bool Scanner::skipSpace() {
    while (p_ < end_) {
        unsigned char c = *p_;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            p_++;
        } else if (c == '/' && p_ + 1 < end_ && p_[1] == '/') {
            while (p_ < end_ && *p_ != '\n' && *p_ != '\r')
                p_++;
        } else if (c == '/' && p_ + 1 < end_ && p_[1] == '*') {
            const char* close = p_ + 2;
            while (close + 1 < end_ && !(close[0] == '*' && close[1] == '/'))
                close++;
            if (close + 1 >= end_) return false;
            p_ = close + 2;
        } else if (c >= 0x80 && (lineBreakAt(p_, end_) || unicodeSpaceAt(p_, end_))) {
            p_ += lineBreakAt(p_, end_) + unicodeSpaceAt(p_, end_);
        } else {
            return true;
        }
    }
    return true;
}

char Scanner::nextChar() {
    const char* save = p_;
    skipSpace();
    char c = p_ < end_ ? *p_ : 0;
    // `==` is no assignment: report it as something else.
    if (c == '=' && p_ + 1 < end_ && p_[1] == '=') c = '!';
    if (c == 'i' && p_ + 2 <= end_ && p_[1] == 'n' &&
        (p_ + 2 == end_ || !isIdentByte(static_cast<unsigned char>(p_[2]))))
        c = 'I'; // the keyword in
    p_ = save;
    return c;
}

bool Scanner::run() {
    bool operand = false;           // the last token ended an operand
    const char* prevName = nullptr; // the last token, when it was a name
    size_t prevLen = 0;
    bool functionSeen = false; // `function` [name] awaits its parameter list
    int catchState = 0;        // catch ( name -> 3
    bool forSeen = false;      // the last token was `for`
    bool objectKey = false;    // after { or , of an object literal
    int accessor = 0;          // get/set in an object literal (1), then its name (2)
    while (true) {
        if (!skipSpace()) return true; // unterminated comment: the full parse reports it
        if (p_ >= end_) return false;
        unsigned char c = *p_;
        const char* start = p_;
        if (isIdentByte(c) || c == '\\') {
            while (p_ < end_ && (isIdentByte(static_cast<unsigned char>(*p_)) || *p_ == '\\')) {
                if (static_cast<unsigned char>(*p_) >= 0x80 &&
                    (lineBreakAt(p_, end_) || unicodeSpaceAt(p_, end_)))
                    break;
                p_++;
            }
            size_t n = p_ - start;
            if (c >= '0' && c <= '9') {
                // A number: its digits, a fraction and an exponent with a sign.
                if (p_ < end_ && *p_ == '.') {
                    p_++;
                    while (p_ < end_ && isIdentByte(static_cast<unsigned char>(*p_)))
                        p_++;
                }
                if ((p_[-1] == 'e' || p_[-1] == 'E') && p_ < end_ && (*p_ == '+' || *p_ == '-')) {
                    p_++;
                    while (p_ < end_ && isIdentByte(static_cast<unsigned char>(*p_)))
                        p_++;
                }
                operand = true;
                prevName = nullptr;
                forSeen = false;
                objectKey = false;
                catchState = 0;
                continue;
            }
            if (is(start, n, "let") || is(start, n, "yield") || is(start, n, "const")) return true;
            if (forSeen && is(start, n, "each")) return true;
            if (catchState == 3 && is(start, n, "if")) return true;
            catchState = catchState == 2 ? 3 : is(start, n, "catch") ? 1 : 0;
            if (is(start, n, "for")) {
                if (operand) return true; // [x for ...], (x for ...)
                forSeen = true;
            } else {
                forSeen = false;
            }
            accessor = accessor == 1 ? 2 : 0;
            if (objectKey) {
                char next = nextChar();
                if (next == ',' || next == '}') return true; // {a, b}
                if (is(start, n, "get") || is(start, n, "set")) accessor = 1;
            }
            objectKey = false;
            if (is(start, n, "function")) functionSeen = true;
            operand = !precedesOperand(start, n);
            prevName = start;
            prevLen = n;
            continue;
        }
        forSeen = false;
        if (catchState == 1 && c == '(') {
            catchState = 2;
        } else {
            catchState = 0;
        }
        bool key = false;
        switch (c) {
        case '"':
        case '\'':
            for (p_++; p_ < end_ && *p_ != (char)c; p_++)
                if (*p_ == '\\') p_++;
            p_++;
            operand = true;
            break;
        case '.':
            p_++;
            if (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
                while (p_ < end_ && isIdentByte(static_cast<unsigned char>(*p_)))
                    p_++;
                operand = true;
            } else {
                // After a dot comes a property name, never a keyword's meaning.
                skipSpace();
                while (p_ < end_ && (isIdentByte(static_cast<unsigned char>(*p_)) || *p_ == '\\'))
                    p_++;
                operand = true;
            }
            break;
        case '/':
            p_++;
            if (!operand) {
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
                while (p_ < end_ && isIdentByte(static_cast<unsigned char>(*p_)))
                    p_++;
                operand = true;
            } else {
                operand = false;
            }
            break;
        case '(':
        case '[':
        case '{': {
            p_++;
            uint8_t flags = 0;
            if (c != '(' && operand == false) flags |= B_OPERAND;
            if (depth_ && (stack_[depth_ - 1].flags & B_PARAMS) && c != '(') return true;
            if (c == '(' && (functionSeen || accessor == 2)) flags |= B_PARAMS;
            if (c == '(' && prevName &&
                (is(prevName, prevLen, "if") || is(prevName, prevLen, "while") ||
                 is(prevName, prevLen, "for") || is(prevName, prevLen, "with") ||
                 is(prevName, prevLen, "switch") || is(prevName, prevLen, "catch")))
                flags |= B_HEAD;
            if (depth_ == kStack) return true;
            stack_[depth_++] = Bracket{static_cast<char>(c), flags};
            functionSeen = false;
            operand = false;
            key = c == '{' && (flags & B_OPERAND);
            break;
        }
        case ')':
        case ']':
        case '}': {
            p_++;
            Bracket b = depth_ ? stack_[--depth_] : Bracket{0, 0};
            char next = nextChar();
            if ((b.flags & B_OPERAND) && (next == '=' || next == 'I')) return true;
            if ((b.flags & B_PARAMS) && next != '{') return true; // expression closure
            operand = c == ']' || (c == ')' && !(b.flags & B_HEAD)) ||
                      (c == '}' && (b.flags & B_OPERAND));
            break;
        }
        case ',':
            p_++;
            key =
                depth_ && stack_[depth_ - 1].kind == '{' && (stack_[depth_ - 1].flags & B_OPERAND);
            operand = false;
            break;
        case '+':
        case '-':
            p_++;
            if (p_ < end_ && *p_ == (char)c) {
                p_++; // ++ and -- keep what came before
            } else {
                operand = false;
            }
            break;
        default:
            p_++;
            operand = false;
        }
        objectKey = key;
        accessor = 0;
        prevName = nullptr;
        functionSeen = false;
    }
}

} // namespace

bool mayNeedTranslation(const char* src, size_t len) {
    Scanner s(src, len);
    return s.run();
}

} // namespace translator
