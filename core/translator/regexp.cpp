// Regular expressions in the forms the engine of that era accepted, rewritten in the forms
// the engine's regexp compiler takes with the same meaning (translate.h). Where both
// accept a form, its meaning is the engine's. What the rewrite does:
//   \c not before a letter      a backslash, then c:       \c1 -> \\c1, [\c_] -> [\\c_]
//   \N beyond the groups        an octal escape (up to \377), or for 8 and 9 a backslash
//                               and the digits:            (a)\2 -> (a)\x02, \8 -> \\8
//   \0N                         an octal escape:            \012 -> \x0A
//   \x, \u short of digits      the letter itself, or the digits read up to the end (of
//                               the pattern or a class):  \xg -> xg, \u{41} -> u{41},
//                               \x1 at the end -> \x01, [\x4] -> [\x04]
//   { not opening a quantifier  a brace:                   {1} at the start -> \{1},
//   of an atom                                             a{2}{3} -> a{2}\{3}, a{,2} -> a\{,2}
//   a quantified lookahead      in a group of its own:     (?=a)* -> (?:(?=a))*
//   [a-\d], [\d-a]              the dash itself:           [a\-\d]
#include "core/translator/lexer.h"
#include "core/translator/translate.h"

#include <string.h>
#include <string>
#include <vector>

namespace translator {

namespace {

bool isOctal(int c) {
    return c >= '0' && c <= '7';
}
bool isLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
int hexValue(int c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// \d \D \s \S \w \W: a set of characters, which cannot end a range.
bool isClassEscape(int c) {
    return c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W';
}

// The capturing groups of a pattern: `(` outside a class, unescaped, not `(?`.
uint32_t countGroups(const char* p, const char* end) {
    uint32_t n = 0;
    bool inClass = false;
    for (; p < end; p++) {
        if (*p == '\\') {
            p++;
        } else if (inClass) {
            inClass = *p != ']';
        } else if (*p == '[') {
            inClass = true;
        } else if (*p == '(' && !(p + 1 < end && p[1] == '?')) {
            n++;
        }
    }
    return n;
}

class Rewriter {
  public:
    Rewriter(const char* p, size_t n) : p_(p), end_(p + n), groups_(countGroups(p, end_)) {
        out_.reserve(n + 16);
    }
    bool run(std::string* out);

  private:
    int at(size_t i) const { return p_ + i < end_ ? static_cast<unsigned char>(p_[i]) : -1; }
    void keep(size_t n) {
        out_.append(p_, n);
        p_ += n;
    }
    void write(const char* text, size_t skip) {
        out_ += text;
        p_ += skip;
        changed_ = true;
    }
    void writeCode(unsigned code, size_t skip);
    bool hexEscape(bool inClass);
    bool octalOrDigits(bool inClass);
    void escape();
    void characterClass();
    size_t quantifier() const;
    void quantify(size_t n);

    const char* p_;
    const char* end_;
    uint32_t groups_;
    std::string out_;
    bool changed_ = false;
    bool atom_ = false;                    // what came last may take a quantifier
    bool quantified_ = false;              // a quantifier came last (a `?` after it makes it lazy)
    size_t lookahead_ = std::string::npos; // where a lookahead that came last starts
    struct Group {
        size_t at;
        bool lookahead;
    };
    std::vector<Group> open_;
};

// The character `code` as \xHH or \uHHHH, for the `skip` bytes of the pattern it stands for.
void Rewriter::writeCode(unsigned code, size_t skip) {
    char buf[8];
    const char* hex = "0123456789ABCDEF";
    size_t n = 0;
    buf[n++] = '\\';
    buf[n++] = code < 0x100 ? 'x' : 'u';
    for (int shift = code < 0x100 ? 4 : 12; shift >= 0; shift -= 4)
        buf[n++] = hex[(code >> shift) & 15];
    buf[n] = 0;
    write(buf, skip);
}

// \xHH and \uHHHH as they stand; short of digits, the letter itself (before any other
// character) or the value of the digits up to the end of the pattern (or of a class).
bool Rewriter::hexEscape(bool inClass) {
    int kind = at(1);
    size_t digits = kind == 'x' ? 2 : 4;
    unsigned value = 0;
    for (size_t i = 0; i < digits; i++) {
        int c = at(2 + i);
        if (c < 0 || (inClass && c == ']')) {
            writeCode(value, 2 + i);
            return true;
        }
        int v = hexValue(c);
        if (v < 0) {
            write(kind == 'x' ? "x" : "u", 2);
            return true;
        }
        value = value * 16 + static_cast<unsigned>(v);
    }
    keep(2 + digits);
    return false;
}

// A backslash and digits that are no back reference (`\0N`, or a number beyond the groups):
// an octal escape of up to three digits (at most \377); 8 and 9 stand for themselves, after
// a backslash outside a class. False for a back reference or a plain \0.
bool Rewriter::octalOrDigits(bool inClass) {
    int first = at(1);
    if (!inClass && first != '0') {
        uint32_t n = 0;
        for (size_t i = 1; isDigit(at(i)) && n <= groups_; i++)
            n = n * 10 + static_cast<uint32_t>(at(i) - '0');
        if (n <= groups_) return false;
    }
    if (first == '8' || first == '9') {
        write(inClass ? "" : "\\\\", 1);
        return true;
    }
    if (first == '0' && !isDigit(at(2))) return false;
    unsigned value = 0;
    size_t i = 1;
    while (i < 4 && isOctal(at(i)) && value * 8 + static_cast<unsigned>(at(i) - '0') <= 0377)
        value = value * 8 + static_cast<unsigned>(at(i++) - '0');
    writeCode(value, i);
    return true;
}

// An escape outside a class.
void Rewriter::escape() {
    int c = at(1);
    atom_ = true;
    if (c == 'c' && !isLetter(at(2))) {
        write("\\\\", 1); // the c follows as itself
    } else if (c == 'x' || c == 'u') {
        hexEscape(false);
    } else if (isDigit(c)) {
        if (!octalOrDigits(false)) {
            keep(2);
            while (isDigit(at(0)))
                keep(1);
        }
    } else {
        atom_ = c != 'b' && c != 'B';
        keep(c < 0 ? 1 : 2);
    }
}

// [...], from its `[`.
void Rewriter::characterClass() {
    keep(at(1) == '^' ? 2 : 1);
    if (at(0) == ']') { // [] and [^]
        keep(1);
        return;
    }
    bool set = false; // the last item was \d, \s, \w or their complements
    while (p_ < end_ && at(0) != ']') {
        int c = at(0);
        if (c == '-' && at(1) != ']' && (set || (at(1) == '\\' && isClassEscape(at(2))))) {
            write("\\-", 1);
            set = false;
            continue;
        }
        set = false;
        if (c != '\\' || at(1) < 0) {
            keep(1);
        } else if (at(1) == 'c' && !isLetter(at(2))) {
            write("\\\\", 1);
        } else if (at(1) == 'x' || at(1) == 'u') {
            hexEscape(true);
        } else if (!isDigit(at(1)) || !octalOrDigits(true)) {
            set = isClassEscape(at(1));
            keep(2);
        }
    }
    if (p_ < end_) keep(1); // ]
    atom_ = true;
}

// The length of the quantifier {n}, {n,} or {n,m} at the pattern's position, 0 if none.
size_t Rewriter::quantifier() const {
    size_t i = 1;
    if (!isDigit(at(i))) return 0;
    while (isDigit(at(i)))
        i++;
    if (at(i) == ',') {
        i++;
        while (isDigit(at(i)))
            i++;
    }
    return at(i) == '}' ? i + 1 : 0;
}

// A quantifier of n bytes, where it quantifies what came last: a lookahead in a group of its
// own; after a quantifier, a `?` is its lazy mark and a brace stands for itself.
void Rewriter::quantify(size_t n) {
    if (lookahead_ != std::string::npos) {
        out_.insert(lookahead_, "(?:");
        out_ += ')';
        changed_ = true;
        atom_ = true;
    }
    if (atom_) {
        keep(n);
        atom_ = false;
        quantified_ = true;
    } else if (quantified_ && at(0) == '?') {
        keep(1);
        quantified_ = false;
    } else if (at(0) == '{') {
        write("\\{", 1); // the digits and the `}` follow as themselves
        atom_ = true;
    } else {
        keep(n); // the engine's error
    }
}

bool Rewriter::run(std::string* out) {
    while (p_ < end_) {
        int c = at(0);
        size_t lookahead = lookahead_;
        lookahead_ = std::string::npos;
        bool quantified = quantified_;
        quantified_ = false;
        if (c == '*' || c == '+' || c == '?' || (c == '{' && quantifier())) {
            lookahead_ = lookahead;
            quantified_ = quantified;
            quantify(c == '{' ? quantifier() : 1);
            continue;
        }
        switch (c) {
        case '\\':
            escape();
            break;
        case '[':
            characterClass();
            break;
        case '{':
            write("\\{", 1); // no quantifier: a brace (the engine would read {,2} as one)
            atom_ = true;
            break;
        case '(':
            open_.push_back(Group{out_.size(), at(1) == '?' && (at(2) == '=' || at(2) == '!')});
            keep(at(1) != '?' ? 1 : at(2) == ':' || at(2) == '=' || at(2) == '!' ? 3 : 2);
            atom_ = false;
            break;
        case ')':
            keep(1);
            atom_ = true;
            if (!open_.empty()) {
                if (open_.back().lookahead) {
                    lookahead_ = open_.back().at;
                    atom_ = false;
                }
                open_.pop_back();
            }
            break;
        case '|':
        case '^':
        case '$':
            keep(1);
            atom_ = false;
            break;
        default:
            keep(1);
            atom_ = true;
        }
    }
    if (!changed_) return false;
    out->swap(out_);
    return true;
}

} // namespace

bool translateRegExp(const char* pattern, size_t length, std::string* out) {
    // Most patterns hold nothing to rewrite: no backslash, brace or lookahead at all.
    if (!memchr(pattern, '\\', length) && !memchr(pattern, '{', length) &&
        !memchr(pattern, '(', length))
        return false;
    Rewriter r(pattern, length);
    return r.run(out);
}

} // namespace translator
