// The translator's lexer: turns source bytes (UTF-8 / CESU-8, as the engine reads them)
// into tokens on demand. It does not decide on its own whether `/` starts a regular
// expression: it scans `/` as division, and the parser, which knows that an operand is
// expected, asks for a rescan as a regular expression. Every token keeps its byte range and
// line, so the writer can copy source text and keep lines where they were.
#ifndef CAPSULE_TRANSLATOR_LEXER_H
#define CAPSULE_TRANSLATOR_LEXER_H

#include <stddef.h>
#include <stdint.h>

namespace translator {

enum Tok : uint8_t {
    T_EOF,
    T_NAME,
    T_NUMBER,
    T_STRING,
    T_REGEXP,
    T_XML,      // markup of an XML initialiser, up to a braced expression or the initialiser's end
    T_SHARPDEF, // #n= before an object or array literal (a sharp variable's definition)
    T_SHARPUSE, // #n#, a sharp variable's use
    // keywords
    K_BREAK,
    K_CASE,
    K_CATCH,
    K_CONST,
    K_CONTINUE,
    K_DEBUGGER,
    K_DEFAULT,
    K_DELETE,
    K_DO,
    K_ELSE,
    K_FALSE,
    K_FINALLY,
    K_FOR,
    K_FUNCTION,
    K_IF,
    K_IN,
    K_INSTANCEOF,
    K_LET,
    K_NEW,
    K_NULL,
    K_RETURN,
    K_SWITCH,
    K_THIS,
    K_THROW,
    K_TRUE,
    K_TRY,
    K_TYPEOF,
    K_VAR,
    K_VOID,
    K_WHILE,
    K_WITH,
    K_YIELD,
    // punctuators
    P_LBRACE,
    P_RBRACE,
    P_LPAREN,
    P_RPAREN,
    P_LBRACKET,
    P_RBRACKET,
    P_DOT,
    P_DOTDOT,
    P_SEMI,
    P_COMMA,
    P_QUESTION,
    P_COLON,
    P_COLONCOLON,
    P_AT,
    P_NOT,
    P_BNOT,
    P_INC,
    P_DEC,
    // binary operators, in groups of equal precedence (see parse_expr.cpp)
    P_LOR,
    P_LAND,
    P_BOR,
    P_BXOR,
    P_BAND,
    P_EQ,
    P_NE,
    P_SEQ,
    P_SNE,
    P_LT,
    P_GT,
    P_LE,
    P_GE,
    P_SHL,
    P_SHR,
    P_USHR,
    P_ADD,
    P_SUB,
    P_MUL,
    P_DIV,
    P_MOD,
    // assignment operators
    P_ASSIGN,
    P_ADD_EQ,
    P_SUB_EQ,
    P_MUL_EQ,
    P_DIV_EQ,
    P_MOD_EQ,
    P_SHL_EQ,
    P_SHR_EQ,
    P_USHR_EQ,
    P_BAND_EQ,
    P_BOR_EQ,
    P_BXOR_EQ,
    T_COUNT
};

inline bool isAssignOp(int t) {
    return t >= P_ASSIGN && t <= P_BXOR_EQ;
}
inline bool isKeyword(int t) {
    return t >= K_BREAK && t <= K_YIELD;
}

struct Token {
    uint8_t type = T_EOF;
    bool nl = false;      // a line terminator lies between the previous token and this one
    bool escaped = false; // a name written with \u escapes
    bool asi = false;     // the parser inserted a semicolon after this token
    uint32_t start = 0, end = 0;
    uint32_t line = 1;
};

class Lexer {
  public:
    Lexer(const char* src, size_t len);
    // The next token, with `/` scanned as division: into *t, where the parser keeps it (a
    // token built byte by byte and returned whole makes the processor wait for it).
    void next(Token* t);
    Token next() {
        Token t;
        next(&t);
        return t;
    }
    // Scans again from tok.start (a `/` or `/=` token) as a regular expression literal.
    Token rescanRegExp(const Token& tok);
    // Moves back so that the next token scanned starts at tok.start.
    void reset(const Token& tok);

    bool failed() const { return error_ != nullptr; }
    const char* error() const { return error_; }
    uint32_t errorLine() const { return errorLine_; }

    const char* src() const { return src_; }
    size_t size() const { return len_; }
    // Where a `-->` comment stands before the first token with no line break before it
    // (which the engine would not take as a comment), or -1.
    uint32_t leadingComment() const { return leadingComment_; }

  private:
    int peekChar(size_t at) const { return at < len_ ? static_cast<unsigned char>(src_[at]) : -1; }
    void nextSlow(Token* t, bool nl);
    bool skipSpace(bool* nl);
    void fail(const char* msg);
    void scanName(bool* escaped);
    void scanNumber(Token* t);
    void scanString(Token* t, int quote);
    bool atLineStart(size_t at, bool nl) const;

    const char* src_;
    size_t len_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    const char* error_ = nullptr;
    uint32_t errorLine_ = 0;
    uint32_t leadingComment_ = UINT32_MAX;
};

// Length of a line terminator at p (LF, CR, CRLF, U+2028, U+2029), 0 if none.
size_t lineBreakAt(const char* p, const char* end);
// Number of line terminators in [p, end).
uint32_t countLines(const char* p, const char* end);
inline bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
// Identifier characters: ASCII letters, digits, $, _ and every byte of a non-ASCII character
// (other than the Unicode spaces and line terminators, which the lexer checks first).
inline bool isIdentByte(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' ||
           c == '_' || c >= 0x80;
}
// Length of a non-ASCII white-space character at p (U+00A0, U+FEFF, U+1680, U+2000..U+200A,
// U+202F, U+205F, U+3000), 0 if none.
size_t unicodeSpaceAt(const char* p, const char* end);

} // namespace translator

#endif
