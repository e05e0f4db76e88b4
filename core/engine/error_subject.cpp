// The subject of an error on its line (error_subject.h): the line is cut into tokens (names,
// literals, brackets, the rest one character each; comments dropped), the expressions of
// the kind asked for are found by their last token, and each is walked back over member
// accesses and calls to where it starts.
#include "core/engine/error_subject.h"

#include <new>
#include <string.h>

#include <string_view>
#include <vector>

namespace engine {

namespace {

enum Kind { kName, kNumber, kString, kRegexp, kOpen, kClose, kPunct };

struct Token {
    Kind kind;
    size_t start, end;
};

bool nameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '\\' || c >= 0x80;
}

// Words that cannot end an expression (nor, before "(", be a call's function).
const char* const kStatementWords[] = {
    "break",  "case",       "catch",  "const",   "continue", "debugger", "default", "delete",
    "do",     "else",       "export", "finally", "for",      "function", "if",      "import",
    "in",     "instanceof", "let",    "new",     "return",   "switch",   "throw",   "try",
    "typeof", "var",        "void",   "while",   "with",     "yield"};

class Line {
  public:
    Line(const char* text, size_t length) : s_(text, length) {
        scan();
        match_.assign(toks_.size(), -1);
        std::vector<int> open;
        for (int i = 0; i < count(); i++) {
            if (toks_[i].kind == kOpen) {
                open.push_back(i);
            } else if (toks_[i].kind == kClose && !open.empty()) {
                int o = open.back();
                open.pop_back();
                if (closes(s_[toks_[o].start], s_[toks_[i].start])) match_[o] = i, match_[i] = o;
            }
        }
    }

    int count() const { return static_cast<int>(toks_.size()); }
    std::string_view text(int i) const {
        return s_.substr(toks_[i].start, toks_[i].end - toks_[i].start);
    }
    std::string_view span(int first, int last) const {
        return s_.substr(toks_[first].start, toks_[last].end - toks_[first].start);
    }
    bool is(int i, Kind k) const { return i >= 0 && i < count() && toks_[i].kind == k; }
    bool isChar(int i, char c) const {
        return i >= 0 && i < count() && toks_[i].kind != kString && toks_[i].kind != kRegexp &&
               text(i) == std::string_view(&c, 1);
    }
    bool isWord(int i, std::string_view w) const { return is(i, kName) && text(i) == w; }
    bool isStatementWord(int i) const {
        for (const char* w : kStatementWords)
            if (isWord(i, w)) return true;
        return false;
    }
    int match(int i) const { return i >= 0 && i < count() ? match_[i] : -1; }

    // True when token j can be the last token of a member or call expression.
    bool endsExpression(int j) const {
        if (j < 0 || j >= count()) return false;
        switch (toks_[j].kind) {
        case kName:
            return !isStatementWord(j);
        case kNumber:
        case kString:
        case kRegexp:
            return true;
        case kClose: {
            int o = match_[j];
            if (o < 0) return false;
            if (isChar(j, ']')) return true;
            if (!isChar(j, ')')) return false;
            // Not the head of an if, while, ... nor a function's parameter list.
            if (isStatementWord(o - 1) && !isWord(o - 1, "typeof") && !isWord(o - 1, "void"))
                return false;
            return !(is(o - 1, kName) && isWord(o - 2, "function"));
        }
        default:
            return false;
        }
    }

    // The first token of the member or call expression that ends at token j, or -1.
    int expressionStart(int j) const {
        while (endsExpression(j)) {
            int k = j;
            if (is(j, kClose)) {
                int o = match_[j];
                // A call's arguments or a subscript continue the expression before them;
                // otherwise the brackets are a parenthesised expression or an array.
                if (!endsExpression(o - 1)) return o;
                j = o - 1;
                continue;
            }
            if (is(k, kName) && isChar(k - 1, '.')) {
                j = k - 2;
                continue;
            }
            return k;
        }
        return -1;
    }

  private:
    static bool closes(char open, char close) {
        return (open == '(' && close == ')') || (open == '[' && close == ']') ||
               (open == '{' && close == '}');
    }

    bool regexpMayStart() const {
        if (toks_.empty()) return true;
        int last = count() - 1;
        if (isChar(last, '<')) return false; // an XML end tag, </a>
        if (is(last, kName)) return isStatementWord(last);
        if (is(last, kClose) || is(last, kNumber) || is(last, kString) || is(last, kRegexp))
            return false;
        return true;
    }

    void scan() {
        size_t n = s_.size();
        for (size_t i = 0; i < n;) {
            unsigned char c = static_cast<unsigned char>(s_[i]);
            size_t start = i;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                i++;
                continue;
            }
            if (c == '/' && i + 1 < n && s_[i + 1] == '/') return;
            if (c == '/' && i + 1 < n && s_[i + 1] == '*') {
                size_t e = s_.find("*/", i + 2);
                if (e == std::string_view::npos) return;
                i = e + 2;
                continue;
            }
            Kind kind = kPunct;
            if ((c >= '0' && c <= '9') ||
                (c == '.' && i + 1 < n && s_[i + 1] >= '0' && s_[i + 1] <= '9')) {
                kind = kNumber;
                for (i++; i < n && (nameByte(static_cast<unsigned char>(s_[i])) || s_[i] == '.' ||
                                    ((s_[i] == '+' || s_[i] == '-') &&
                                     (s_[i - 1] == 'e' || s_[i - 1] == 'E')));
                     i++) {}
            } else if (nameByte(c)) {
                kind = kName;
                for (i++; i < n && nameByte(static_cast<unsigned char>(s_[i])); i++) {}
            } else if (c == '"' || c == '\'') {
                kind = kString;
                for (i++; i < n && static_cast<unsigned char>(s_[i]) != c; i++)
                    if (s_[i] == '\\') i++;
                i = i < n ? i + 1 : n;
            } else if (c == '/' && regexpMayStart()) {
                kind = kRegexp;
                bool inClass = false;
                for (i++; i < n && (inClass || s_[i] != '/'); i++) {
                    if (s_[i] == '\\')
                        i++;
                    else if (s_[i] == '[')
                        inClass = true;
                    else if (s_[i] == ']')
                        inClass = false;
                }
                for (i = i < n ? i + 1 : n; i < n && nameByte(static_cast<unsigned char>(s_[i]));)
                    i++;
            } else if (c == '(' || c == '[' || c == '{') {
                kind = kOpen;
                i++;
            } else if (c == ')' || c == ']' || c == '}') {
                kind = kClose;
                i++;
            } else {
                i += (c == '.' && i + 1 < n && s_[i + 1] == '.') ? 2 : 1;
            }
            toks_.push_back({kind, start, i < n ? i : n});
        }
    }

    std::string_view s_;
    std::vector<Token> toks_;
    std::vector<int> match_;
};

// Candidates found on a line: certain ones (the key as written) and possible ones (a
// subscript whose key the text does not tell), which count only when no certain one is.
class Candidates {
  public:
    void add(std::string_view text, bool certain) {
        if (!text.empty()) (certain ? certain_ : possible_).add(text);
    }
    std::string result() const { return certain_.any() ? certain_.result() : possible_.result(); }

  private:
    class Set {
      public:
        void add(std::string_view text) {
            if (found_.empty())
                found_ = text;
            else if (found_ != text)
                several_ = true;
        }
        bool any() const { return !found_.empty(); }
        std::string result() const { return several_ ? std::string() : std::string(found_); }

      private:
        std::string_view found_;
        bool several_ = false;
    };
    Set certain_, possible_;
};

// Whether the subscript opening at `open` has the key: written as it (true, certain),
// written as another literal (false), or computed (true, not certain).
bool subscriptHas(const Line& l, int open, std::string_view key, bool* certain) {
    *certain = false;
    int close = l.match(open);
    if (close != open + 2) return true;
    std::string_view t = l.text(open + 1);
    if (l.is(open + 1, kString))
        *certain = t.size() >= 2 && t.substr(1, t.size() - 2) == key;
    else if (l.is(open + 1, kNumber))
        *certain = t == key;
    else
        return true;
    return *certain;
}

// The object of each access with the key whose expression is more than a literal.
void baseCandidates(const Line& l, std::string_view key, Candidates* out) {
    for (int i = 1; i < l.count(); i++) {
        bool certain = l.isChar(i, '.') && l.is(i + 1, kName) && l.text(i + 1) == key;
        bool subscript = !certain && l.isChar(i, '[') && l.endsExpression(i - 1) &&
                         subscriptHas(l, i, key, &certain);
        if (!certain && !subscript) continue;
        int start = l.expressionStart(i - 1);
        if (start < 0) continue;
        if (start == i - 1 &&
            (l.is(start, kNumber) || l.is(start, kString) || l.is(start, kRegexp)))
            continue;
        out->add(l.span(start, i - 1), certain);
    }
}

// The function of each property call with the key.
void propertyCalleeCandidates(const Line& l, std::string_view key, Candidates* out) {
    for (int j = 0; j + 1 < l.count(); j++) {
        if (!l.isChar(j + 1, '(') || !l.endsExpression(j)) continue;
        bool certain = l.is(j, kName) && l.isChar(j - 1, '.') && l.text(j) == key;
        bool subscript = l.isChar(j, ']') && l.endsExpression(l.match(j) - 1) &&
                         subscriptHas(l, l.match(j), key, &certain);
        if (!certain && !subscript) continue;
        int start = l.expressionStart(j);
        if (start >= 0) out->add(l.span(start, j), certain);
    }
}

// The function of each call that is no property call: a variable, or a computed value.
void calleeCandidates(const Line& l, bool variables, bool values, Candidates* out) {
    for (int j = 0; j + 1 < l.count(); j++) {
        if (!l.isChar(j + 1, '(') || !l.endsExpression(j)) continue;
        if (l.is(j, kName)) {
            if (!variables || l.isChar(j - 1, '.') || l.isWord(j - 1, "function") ||
                l.isWord(j - 1, "new"))
                continue;
            out->add(l.text(j), true);
        } else if (values && l.isChar(j, ')')) {
            int start = l.expressionStart(j);
            if (start >= 0) out->add(l.span(start, j), true);
        }
    }
}

// The member expression after each new, up to its arguments.
void constructorCandidates(const Line& l, Candidates* out) {
    for (int i = 0; i + 1 < l.count(); i++) {
        if (!l.isWord(i, "new")) continue;
        int k = i + 1;
        if (l.isChar(k, '(')) {
            if (l.match(k) < 0) continue;
            k = l.match(k) + 1;
        } else if ((l.is(k, kName) && !l.isStatementWord(k)) || l.is(k, kNumber) ||
                   l.is(k, kString)) {
            k++;
        } else {
            continue;
        }
        for (;;) {
            if (l.isChar(k, '.') && l.is(k + 1, kName)) {
                k += 2;
            } else if (l.isChar(k, '[') && l.match(k) > k) {
                k = l.match(k) + 1;
            } else {
                break;
            }
        }
        out->add(l.span(i + 1, k - 1), true);
    }
}

std::string findSubject(std::string_view line, Subject kind, std::string_view k, bool haveKey) {
    Line l(line.data(), line.size());
    Candidates found;
    switch (kind) {
    case Subject::kBase:
        if (haveKey) baseCandidates(l, k, &found);
        break;
    case Subject::kPropertyCallee:
        if (haveKey) propertyCalleeCandidates(l, k, &found);
        break;
    case Subject::kVariableCallee:
    case Subject::kValueCallee:
    case Subject::kCallee:
        calleeCandidates(l, kind != Subject::kValueCallee, kind != Subject::kVariableCallee,
                         &found);
        break;
    case Subject::kConstructor:
        constructorCandidates(l, &found);
        break;
    }
    return found.result();
}

// The last answers, by the line's text (not its place, which a new text may take): an
// error raised again and again at one place, in a loop, asks the same question each time.
struct Answer {
    std::string line, key, subject;
    Subject kind = Subject::kBase;
    bool haveKey = false;
};
constexpr size_t kAnswers = 8;
constexpr size_t kLongestKeptLine = 4096;

struct Answers {
    Answer answer[kAnswers];
    size_t next = 0;
};

// This thread's answers, made when first needed and freed by releaseSubjectAnswers.
thread_local Answers* tAnswers = nullptr;

Answers* answers() {
    if (!tAnswers) tAnswers = new (std::nothrow) Answers;
    return tAnswers;
}

} // namespace

void releaseSubjectAnswers() {
    delete tAnswers;
    tAnswers = nullptr;
}

std::string subjectText(const char* line, size_t length, Subject kind, const char* key,
                        size_t keyLength, bool haveKey) {
    std::string_view l(line, length);
    std::string_view k(key ? key : "", key ? keyLength : 0);
    Answers* kept = length <= kLongestKeptLine ? answers() : nullptr;
    if (!kept) return findSubject(l, kind, k, haveKey);
    Answers& a = *kept;
    for (const Answer& e : a.answer) {
        if (e.kind == kind && e.haveKey == haveKey && e.key == k && e.line == l) return e.subject;
    }
    Answer& e = a.answer[a.next];
    a.next = (a.next + 1) % kAnswers;
    e.subject = findSubject(l, kind, k, haveKey);
    e.line.assign(l);
    e.key.assign(k);
    e.kind = kind;
    e.haveKey = haveKey;
    return e.subject;
}

} // namespace engine
