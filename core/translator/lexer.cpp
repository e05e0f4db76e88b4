// The translator's lexer (lexer.h): white space and comments, names and keywords, numbers,
// strings, punctuators, and regular expressions on the parser's request.
#include "core/translator/lexer.h"

#include <string.h>

namespace translator {

size_t lineBreakAt(const char* p, const char* end) {
    if (p >= end) return 0;
    if (*p == '\n') return 1;
    if (*p == '\r') return (p + 1 < end && p[1] == '\n') ? 2 : 1;
    if (static_cast<unsigned char>(*p) == 0xE2 && end - p >= 3 &&
        static_cast<unsigned char>(p[1]) == 0x80 &&
        (static_cast<unsigned char>(p[2]) == 0xA8 || static_cast<unsigned char>(p[2]) == 0xA9))
        return 3;
    return 0;
}

uint32_t countLines(const char* p, const char* end) {
    uint32_t n = 0;
    // Line feeds alone, unless a CR or the lead byte of U+2028/U+2029 is there too.
    if (!memchr(p, '\r', end - p) && !memchr(p, 0xE2, end - p)) {
        for (const char* q; (q = static_cast<const char*>(memchr(p, '\n', end - p))); p = q + 1)
            n++;
        return n;
    }
    while (p < end) {
        const char* q = static_cast<const char*>(memchr(p, '\n', end - p));
        const char* stop = q ? q : end;
        // CR and the two Unicode terminators are rare: look for them only where they may be.
        for (const char* s = p; s < stop; s++) {
            unsigned char c = *s;
            if (c == '\r') {
                if (s + 1 == stop && q) continue; // CRLF: the LF counts
                n++;
            } else if (c == 0xE2 && lineBreakAt(s, end) == 3) {
                n++;
                s += 2;
            }
        }
        if (!q) break;
        n++;
        p = q + 1;
    }
    return n;
}

size_t unicodeSpaceAt(const char* p, const char* end) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    size_t left = end - p;
    if (left >= 2 && u[0] == 0xC2 && u[1] == 0xA0) return 2;
    if (left < 3) return 0;
    if (u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) return 3;
    if (u[0] == 0xE1 && u[1] == 0x9A && u[2] == 0x80) return 3;
    if (u[0] == 0xE2 && u[1] == 0x80 && (u[2] <= 0x8A || u[2] == 0xAF)) return 3;
    if (u[0] == 0xE2 && u[1] == 0x81 && u[2] == 0x9F) return 3;
    if (u[0] == 0xE3 && u[1] == 0x80 && u[2] == 0x80) return 3;
    return 0;
}

namespace {

struct Keyword {
    const char* text;
    Tok tok;
    size_t length;
    constexpr Keyword(const char* t, Tok k) : text(t), tok(k), length(0) {
        while (t[length])
            length++;
    }
};
constexpr Keyword kKeywords[] = {
    {"break", K_BREAK},
    {"case", K_CASE},
    {"catch", K_CATCH},
    {"const", K_CONST},
    {"continue", K_CONTINUE},
    {"debugger", K_DEBUGGER},
    {"default", K_DEFAULT},
    {"delete", K_DELETE},
    {"do", K_DO},
    {"else", K_ELSE},
    {"false", K_FALSE},
    {"finally", K_FINALLY},
    {"for", K_FOR},
    {"function", K_FUNCTION},
    {"if", K_IF},
    {"in", K_IN},
    {"instanceof", K_INSTANCEOF},
    {"let", K_LET},
    {"new", K_NEW},
    {"null", K_NULL},
    {"return", K_RETURN},
    {"switch", K_SWITCH},
    {"this", K_THIS},
    {"throw", K_THROW},
    {"true", K_TRUE},
    {"try", K_TRY},
    {"typeof", K_TYPEOF},
    {"var", K_VAR},
    {"void", K_VOID},
    {"while", K_WHILE},
    {"with", K_WITH},
    {"yield", K_YIELD},
};

// The keywords by a hash of their first two letters and length, which no two of them share
// (the constants were found by search; the table's constructor checks it).
constexpr unsigned keywordHash(unsigned c0, unsigned c1, size_t n) {
    return (c0 * 3 + c1 * 39 + static_cast<unsigned>(n) * 2) & 63;
}
struct KeywordTable {
    uint8_t slot[64] = {}; // 1 + the keyword's index, 0 for none
    bool perfect = true;
    constexpr KeywordTable() {
        for (size_t k = 0; k < sizeof kKeywords / sizeof kKeywords[0]; k++) {
            const Keyword& w = kKeywords[k];
            unsigned h = keywordHash(static_cast<unsigned char>(w.text[0]),
                                     static_cast<unsigned char>(w.text[1]), w.length);
            if (slot[h]) perfect = false;
            slot[h] = static_cast<uint8_t>(k + 1);
        }
    }
};
constexpr KeywordTable kKeywordTable;
static_assert(kKeywordTable.perfect, "two keywords share a hash");

// The keyword a name spells (T_NAME if none).
// Always inline, as punctuator(): Lexer::next calls nothing on its common path.
inline __attribute__((always_inline)) Tok keyword(const unsigned char* p, size_t n) {
    if (n < 2 || n > 10) return T_NAME;
    int k = kKeywordTable.slot[keywordHash(p[0], p[1], n)];
    if (!k) return T_NAME;
    const Keyword& w = kKeywords[k - 1];
    if (w.length != n) return T_NAME;
    for (size_t i = 0; i < n; i++)
        if (static_cast<unsigned char>(w.text[i]) != p[i]) return T_NAME;
    return w.tok;
}

// What each byte can start, so that the head of a token is one table lookup, and the bytes
// that continue a name (ASCII only: the rest takes the slow path of scanName).
enum ByteClass : uint8_t {
    BC_OTHER, // a punctuator that may be longer than one byte, or an invalid character
    BC_SPACE, // tab, vertical tab, form feed, CR, `/` and non-ASCII bytes: skipSpace decides
    BC_NAME,  // a letter, `$`, `_` or `\`
    BC_DIGIT,
    BC_DOT, // a punctuator or the start of a number
    BC_QUOTE,
    BC_SINGLE, // a punctuator of one byte that nothing may follow: { } ( ) [ ] ; , ? ~ @
};
struct ByteClasses {
    uint8_t of[256] = {};
    bool name[256] = {};
    uint8_t single[128] = {};
    constexpr ByteClasses() {
        for (int c = 0; c < 256; c++) {
            bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '$' || c == '_';
            name[c] = letter || (c >= '0' && c <= '9');
            if (letter || c == '\\')
                of[c] = BC_NAME;
            else if (c >= '0' && c <= '9')
                of[c] = BC_DIGIT;
            else if (c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '/' || c >= 0x80)
                of[c] = BC_SPACE;
        }
        of['.'] = BC_DOT;
        of['"'] = of['\''] = BC_QUOTE;
        const char* ones = "{}()[];,?~@";
        const Tok toks[] = {P_LBRACE, P_RBRACE, P_LPAREN,   P_RPAREN, P_LBRACKET, P_RBRACKET,
                            P_SEMI,   P_COMMA,  P_QUESTION, P_BNOT,   P_AT};
        for (int i = 0; ones[i]; i++) {
            of[static_cast<unsigned char>(ones[i])] = BC_SINGLE;
            single[static_cast<unsigned char>(ones[i])] = toks[i];
        }
    }
};
constexpr ByteClasses kBytes;
bool isHex(int c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

Lexer::Lexer(const char* src, size_t len) : src_(src), len_(len) {
    // A first line `#!...` (a script run as a program) is a comment.
    if (len >= 2 && src[0] == '#' && src[1] == '!')
        while (pos_ < len_ && !lineBreakAt(src_ + pos_, src_ + len_))
            pos_++;
}

void Lexer::fail(const char* msg) {
    if (!error_) {
        error_ = msg;
        errorLine_ = line_;
    }
    pos_ = len_;
}

// Skips white space and comments; sets *nl when a line terminator was among them.
bool Lexer::skipSpace(bool* nl) {
    const char* end = src_ + len_;
    for (;;) {
        // Runs of spaces (indentation), the common case, in a tight loop.
        while (pos_ < len_ && src_[pos_] == ' ')
            pos_++;
        int c = peekChar(pos_);
        if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
            pos_++;
        } else if (c == '\n') {
            pos_++;
            line_++;
            *nl = true;
        } else if (c == '\r') {
            pos_ += lineBreakAt(src_ + pos_, end);
            line_++;
            *nl = true;
        } else if (c == '/' && peekChar(pos_ + 1) == '/') {
            pos_ += 2;
            while (pos_ < len_ && !lineBreakAt(src_ + pos_, end))
                pos_++;
        } else if (c == '/' && peekChar(pos_ + 1) == '*') {
            uint32_t startLine = line_;
            size_t close = pos_ + 2;
            for (;;) {
                if (close + 1 >= len_) {
                    line_ = startLine;
                    fail("unterminated comment");
                    return false;
                }
                if (src_[close] == '*' && src_[close + 1] == '/') break;
                close++;
            }
            uint32_t n = countLines(src_ + pos_, src_ + close);
            if (n) *nl = true;
            line_ += n;
            pos_ = close + 2;
        } else if (c >= 0x80) {
            size_t n = lineBreakAt(src_ + pos_, end);
            if (n) {
                pos_ += n;
                line_++;
                *nl = true;
            } else if ((n = unicodeSpaceAt(src_ + pos_, end))) {
                pos_ += n;
            } else {
                return true;
            }
        } else {
            return true;
        }
    }
}

void Lexer::scanName(bool* escaped) {
    const char* end = src_ + len_;
    for (;;) {
        while (pos_ < len_ && kBytes.name[static_cast<unsigned char>(src_[pos_])])
            pos_++;
        int c = peekChar(pos_);
        if (c == '\\') {
            if (peekChar(pos_ + 1) != 'u') return fail("invalid escape in a name");
            for (int i = 2; i < 6; i++)
                if (!isHex(peekChar(pos_ + i))) return fail("invalid escape in a name");
            *escaped = true;
            pos_ += 6;
        } else if (c >= 0x80) {
            if (lineBreakAt(src_ + pos_, end) || unicodeSpaceAt(src_ + pos_, end)) return;
            pos_++;
        } else if (c >= 0 && isIdentByte(c)) {
            pos_++;
        } else {
            return;
        }
    }
}

void Lexer::scanNumber(Token* t) {
    (void)t;
    if (peekChar(pos_) == '0' && (peekChar(pos_ + 1) == 'x' || peekChar(pos_ + 1) == 'X')) {
        pos_ += 2;
        if (!isHex(peekChar(pos_))) return fail("invalid number");
        while (isHex(peekChar(pos_)))
            pos_++;
    } else if (peekChar(pos_) == '0' && isDigit(peekChar(pos_ + 1))) {
        // A legacy octal (or decimal with a leading zero): digits only, as the engine reads it.
        while (isDigit(peekChar(pos_)))
            pos_++;
    } else {
        while (isDigit(peekChar(pos_)))
            pos_++;
        if (peekChar(pos_) == '.') {
            pos_++;
            while (isDigit(peekChar(pos_)))
                pos_++;
        }
        int c = peekChar(pos_);
        if (c == 'e' || c == 'E') {
            size_t at = pos_ + 1;
            if (peekChar(at) == '+' || peekChar(at) == '-') at++;
            if (!isDigit(peekChar(at))) return fail("invalid number");
            pos_ = at;
            while (isDigit(peekChar(pos_)))
                pos_++;
        }
    }
    int c = peekChar(pos_);
    if (c >= 0 && isIdentByte(c)) fail("invalid number");
}

void Lexer::scanString(Token* t, int quote) {
    (void)t;
    const char* end = src_ + len_;
    pos_++;
    for (;;) {
        int c = peekChar(pos_);
        if (c < 0) return fail("unterminated string literal");
        if (c == quote) {
            pos_++;
            return;
        }
        if (c == '\\') {
            pos_++;
            size_t n = lineBreakAt(src_ + pos_, end);
            if (n) {
                pos_ += n;
                line_++;
            } else if (pos_ < len_) {
                pos_++;
            }
            continue;
        }
        if (c == '\n' || c == '\r' || (c == 0xE2 && lineBreakAt(src_ + pos_, end)))
            return fail("unterminated string literal");
        pos_++;
    }
}

namespace {

// The punctuator at p (of more than one byte, or a single `.`, `<`...): its token and its
// length, -1 if the byte starts none.
inline __attribute__((always_inline)) int punctuator(const unsigned char* p,
                                                     const unsigned char* end, int* length) {
    int c = p[0], c1 = p + 1 < end ? p[1] : -1, c2 = p + 2 < end ? p[2] : -1;
    auto take = [&](int n, int tok) {
        *length = n;
        return tok;
    };
    switch (c) {
    case '.':
        return c1 == '.' ? take(2, P_DOTDOT) : take(1, P_DOT);
    case ':':
        return c1 == ':' ? take(2, P_COLONCOLON) : take(1, P_COLON);
    case '<':
        if (c1 == '<') return c2 == '=' ? take(3, P_SHL_EQ) : take(2, P_SHL);
        return c1 == '=' ? take(2, P_LE) : take(1, P_LT);
    case '>':
        if (c1 == '>') {
            if (c2 == '>') return p + 3 < end && p[3] == '=' ? take(4, P_USHR_EQ) : take(3, P_USHR);
            return c2 == '=' ? take(3, P_SHR_EQ) : take(2, P_SHR);
        }
        return c1 == '=' ? take(2, P_GE) : take(1, P_GT);
    case '=':
        if (c1 == '=') return c2 == '=' ? take(3, P_SEQ) : take(2, P_EQ);
        return take(1, P_ASSIGN);
    case '!':
        if (c1 == '=') return c2 == '=' ? take(3, P_SNE) : take(2, P_NE);
        return take(1, P_NOT);
    case '+':
        if (c1 == '+') return take(2, P_INC);
        return c1 == '=' ? take(2, P_ADD_EQ) : take(1, P_ADD);
    case '-':
        if (c1 == '-') return take(2, P_DEC);
        return c1 == '=' ? take(2, P_SUB_EQ) : take(1, P_SUB);
    case '*':
        return c1 == '=' ? take(2, P_MUL_EQ) : take(1, P_MUL);
    case '/':
        return c1 == '=' ? take(2, P_DIV_EQ) : take(1, P_DIV);
    case '%':
        return c1 == '=' ? take(2, P_MOD_EQ) : take(1, P_MOD);
    case '&':
        if (c1 == '&') return take(2, P_LAND);
        return c1 == '=' ? take(2, P_BAND_EQ) : take(1, P_BAND);
    case '|':
        if (c1 == '|') return take(2, P_LOR);
        return c1 == '=' ? take(2, P_BOR_EQ) : take(1, P_BOR);
    case '^':
        return c1 == '=' ? take(2, P_BXOR_EQ) : take(1, P_BXOR);
    }
    return -1;
}

// `#n=` or `#n#` (a sharp variable's definition or use), -1 for any other `#`.
int sharp(const unsigned char* p, const unsigned char* end, int* length) {
    const unsigned char* q = p + 1;
    while (q < end && *q >= '0' && *q <= '9')
        q++;
    if (q == p + 1 || q == end || (*q != '=' && *q != '#')) return -1;
    *length = static_cast<int>(q + 1 - p);
    return *q == '=' ? T_SHARPDEF : T_SHARPUSE;
}

// Writes a token field by field (see lexer.h).
inline void setToken(Token* t, int type, bool nl, bool escaped, uint32_t start, uint32_t end,
                     uint32_t line) {
    t->type = static_cast<uint8_t>(type);
    t->nl = nl;
    t->escaped = escaped;
    t->asi = false;
    t->start = start;
    t->end = end;
    t->line = line;
}

} // namespace

// The common tokens (names, keywords and punctuators after spaces and line feeds) on local
// pointers, with the lexer's position and the token written once at the end. All else goes
// to nextSlow, kept out of line (as the scanners it calls), so that this path calls nothing.
void Lexer::next(Token* t) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src_);
    const unsigned char *p = s + pos_, *end = s + len_;
    uint32_t line = line_;
    bool nl = false;
    while (p < end) {
        if (*p == ' ') {
            p++;
        } else if (*p == '\n') {
            p++;
            line++;
            nl = true;
            // The next line's indentation, four spaces at a time.
            uint32_t w;
            while (end - p >= 4 && (memcpy(&w, p, 4), w == 0x20202020u))
                p += 4;
        } else {
            break;
        }
    }
    auto slow = [&] {
        pos_ = p - s;
        line_ = line;
        nextSlow(t, nl);
    };
    if (p >= end) return slow();
    const unsigned char* q = p + 1; // the token's end
    int c = *p, cls = kBytes.of[c], type;
    if (cls == BC_NAME) {
        while (q < end && kBytes.name[*q])
            q++;
        if (c == '\\' || (q < end && (*q == '\\' || *q >= 0x80))) return slow();
        type = keyword(p, q - p);
    } else if (cls == BC_SINGLE) {
        type = kBytes.single[c];
    } else if (cls == BC_OTHER) {
        int length = 0;
        type = punctuator(p, end, &length);
        if (type < 0 || (type == P_DEC && p + 2 < end && p[2] == '>')) return slow(); // -->
        q = p + length;
    } else {
        return slow();
    }
    if (error_) type = T_EOF;
    pos_ = q - s;
    line_ = line;
    setToken(t, type, nl, false, static_cast<uint32_t>(p - s), static_cast<uint32_t>(pos_), line);
}

// Every token, the rare forms (numbers, strings, escapes, comments, non-ASCII) through the
// member scanners, with the position written back before and read again after. nl: a line
// terminator was met before the lexer's position.
__attribute__((noinline)) void Lexer::nextSlow(Token* t, bool nl) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src_);
    const unsigned char *p = s + pos_, *end = s + len_;
    uint32_t line = line_;
    bool skip = p < end && kBytes.of[*p] == BC_SPACE;
    for (;;) {
        if (skip) {
            pos_ = p - s;
            line_ = line;
            skipSpace(&nl); // on an unterminated comment it stops at the end
            p = s + pos_;
            line = line_;
        }
        // `-->` first on its line is a comment to the line's end, as `//` (pages hid their
        // scripts from older browsers behind `<!--` and `-->`).
        if (end - p < 3 || memcmp(p, "-->", 3) || !atLineStart(p - s, nl)) break;
        if (!nl) leadingComment_ = static_cast<uint32_t>(p - s);
        while (p < end && !lineBreakAt(reinterpret_cast<const char*>(p), src_ + len_))
            p++;
        skip = true;
    }
    if (p >= end) {
        pos_ = len_;
        line_ = line;
        setToken(t, T_EOF, nl, false, static_cast<uint32_t>(len_), static_cast<uint32_t>(len_),
                 line);
        return;
    }
    const unsigned char* q = p; // the token's end
    int type = T_EOF;
    bool escaped = false;
    int c = *p;
    int cls = kBytes.of[c];
    if (cls == BC_SPACE) cls = c == '/' ? BC_OTHER : BC_NAME; // all that skipSpace leaves
    if (cls == BC_DOT) cls = p + 1 < end && kBytes.of[p[1]] == BC_DIGIT ? BC_DIGIT : BC_OTHER;
    switch (cls) {
    case BC_NAME:
        while (q < end && kBytes.name[*q])
            q++;
        if (q < end && (*q == '\\' || *q >= 0x80)) {
            pos_ = q - s;
            line_ = line;
            scanName(&escaped);
            q = s + pos_;
        }
        type = escaped ? T_NAME : keyword(p, q - p);
        break;
    case BC_SINGLE:
        type = kBytes.single[c];
        q = p + 1;
        break;
    case BC_DIGIT:
    case BC_QUOTE:
        pos_ = p - s;
        line_ = line;
        if (cls == BC_DIGIT) {
            type = T_NUMBER;
            scanNumber(t);
        } else {
            type = T_STRING;
            scanString(t, c);
        }
        q = s + pos_;
        break;
    default: {
        int length = 0;
        type = c == '#' ? sharp(p, end, &length) : punctuator(p, end, &length);
        if (type < 0) {
            line_ = line;
            fail("illegal character");
            q = s + pos_;
        } else {
            q = p + length;
        }
    }
    }
    uint32_t tokenLine = line;
    if (cls == BC_QUOTE) line = line_; // a string may continue over line breaks
    if (error_) type = T_EOF;
    pos_ = q - s;
    line_ = line;
    setToken(t, type, nl, escaped, static_cast<uint32_t>(p - s), static_cast<uint32_t>(pos_),
             tokenLine);
}

Token Lexer::rescanRegExp(const Token& tok) {
    const char* end = src_ + len_;
    pos_ = tok.start + 1;
    line_ = tok.line;
    Token t = tok;
    t.type = T_REGEXP;
    bool inClass = false;
    for (;;) {
        int c = peekChar(pos_);
        if (c < 0 || lineBreakAt(src_ + pos_, end)) {
            fail("unterminated regular expression literal");
            t.type = T_EOF;
            return t;
        }
        pos_++;
        if (c == '\\') {
            if (pos_ >= len_ || lineBreakAt(src_ + pos_, end)) continue; // reported above
            pos_++;
        } else if (c == '[') {
            inClass = true;
        } else if (c == ']') {
            inClass = false;
        } else if (c == '/' && !inClass) {
            break;
        }
    }
    bool escaped = false;
    scanName(&escaped); // flags
    t.escaped = false;
    t.end = static_cast<uint32_t>(pos_);
    return t;
}

// Whether a token at offset `at` is the first of its line: a line break came before it
// (nl), or only spaces since the start of the source.
bool Lexer::atLineStart(size_t at, bool nl) const {
    if (nl) return true;
    while (at > 0 && (src_[at - 1] == ' ' || src_[at - 1] == '\t'))
        at--;
    return at == 0;
}

void Lexer::reset(const Token& tok) {
    pos_ = tok.start;
    line_ = tok.line;
}

} // namespace translator
