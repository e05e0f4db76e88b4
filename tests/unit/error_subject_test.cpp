// The subject of an error found on its line: the one expression of the kind asked for, as
// written, or nothing when the line holds none or several different ones.
#include "core/engine/error_subject.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

using engine::Subject;

struct Case {
    const char* line;
    Subject kind;
    const char* key; // null: none
    const char* expected;
};

const Case kCases[] = {
    // The object of a property access with the key.
    {"var y = u.x + 1;", Subject::kBase, "x", "u"},
    {"total += o.a.b.c;", Subject::kBase, "c", "o.a.b"},
    {"f(list[i].name)", Subject::kBase, "name", "list[i]"},
    {"return get(1).x;", Subject::kBase, "x", "get(1)"},
    {"x = (a || b).y;", Subject::kBase, "y", "(a || b)"},
    {"v = m[k];", Subject::kBase, "3", "m"},
    {"v = m['k'] + n['j'];", Subject::kBase, "k", "m"},
    {"a.x + b.x", Subject::kBase, "x", ""},                 // two objects: which is unknown
    {"u.x = 1; // v.x", Subject::kBase, "x", "u"},          // comments do not count
    {"s = 'w.x' + u.x;", Subject::kBase, "x", "u"},         // nor strings
    {"if (/a.x/.test(s)) t.x;", Subject::kBase, "x", "t"},  // nor regular expressions
    {"\"abc\".x", Subject::kBase, "x", ""},                 // a literal is never undefined
    {"var x = <a><b/></a>; u.x", Subject::kBase, "x", "u"}, // an XML end tag is no regexp
    {"y = z;", Subject::kBase, "x", ""},
    // The function of a property call with the key.
    {"o.f(1, 2);", Subject::kPropertyCallee, "f", "o.f"},
    {"this.list.add(x).done()", Subject::kPropertyCallee, "done", "this.list.add(x).done"},
    {"handlers[name](event)", Subject::kPropertyCallee, "click", "handlers[name]"},
    {"o.g(); o.f();", Subject::kPropertyCallee, "f", "o.f"},
    // The function of any other call: a variable, or a computed value.
    {"result = compute(3);", Subject::kCallee, nullptr, "compute"},
    {"if (ok) run(1);", Subject::kVariableCallee, nullptr, "run"},
    {"print(square(2));", Subject::kVariableCallee, nullptr, ""},
    {"var f = function g(a) { return a; };", Subject::kCallee, nullptr, ""},
    {"go(make()(1))", Subject::kValueCallee, nullptr, "make()"},
    {"(a || b)()", Subject::kValueCallee, nullptr, "(a || b)"},
    {"make()()", Subject::kCallee, nullptr, ""},
    // The operand of new.
    {"var d = new Date(2000, 1);", Subject::kConstructor, nullptr, "Date"},
    {"x = new ns.Widget(opts);", Subject::kConstructor, nullptr, "ns.Widget"},
    {"new 3", Subject::kConstructor, nullptr, "3"},
    {"new A(new B())", Subject::kConstructor, nullptr, ""},
};

TEST(ErrorSubject, FindsTheOneExpression) {
    for (const Case& c : kCases) {
        EXPECT_EQ(engine::subjectText(c.line, strlen(c.line), c.kind, c.key,
                                      c.key ? strlen(c.key) : 0, c.key != nullptr),
                  c.expected)
            << c.line;
    }
}

// A line cut anywhere (an unterminated string, comment or bracket) gives an answer or
// none, never a read beyond it.
TEST(ErrorSubject, TakesAnyCutOfALine) {
    const std::string line = "o.f(\"a\\\"b\", /x[/]/g, [1, {k: (2)}]) /* c */ + u.x // d";
    for (size_t n = 0; n <= line.size(); n++) {
        std::string cut = line.substr(0, n);
        for (Subject kind : {Subject::kBase, Subject::kPropertyCallee, Subject::kVariableCallee,
                             Subject::kValueCallee, Subject::kCallee, Subject::kConstructor})
            engine::subjectText(cut.data(), cut.size(), kind, "x", 1, true);
    }
}

// Questions asked one after another, each line written over the last in one buffer: the
// answers remembered from earlier questions never stand for a new text at the same place,
// another key or another kind of subject.
TEST(ErrorSubject, AnswersARepeatedQuestionAsTheFirstTime) {
    const Case kAsked[] = {
        {"u.x", Subject::kBase, "x", "u"},    {"w.x", Subject::kBase, "x", "w"},
        {"w.x", Subject::kBase, "y", ""},     {"w.x", Subject::kBase, nullptr, ""},
        {"w.x(1)", Subject::kBase, "x", "w"}, {"w.x(1)", Subject::kPropertyCallee, "x", "w.x"},
        {"a1.x", Subject::kBase, "x", "a1"},  {"a2.x", Subject::kBase, "x", "a2"},
        {"a3.x", Subject::kBase, "x", "a3"},  {"a4.x", Subject::kBase, "x", "a4"},
        {"a5.x", Subject::kBase, "x", "a5"},  {"a6.x", Subject::kBase, "x", "a6"},
        {"a7.x", Subject::kBase, "x", "a7"},  {"a8.x", Subject::kBase, "x", "a8"},
        {"u.x", Subject::kBase, "x", "u"},    {"w.x(1)", Subject::kPropertyCallee, "x", "w.x"},
    };
    char buffer[16];
    for (int round = 0; round < 2; round++) {
        for (const Case& c : kAsked) {
            size_t n = strlen(c.line);
            memcpy(buffer, c.line, n);
            EXPECT_EQ(engine::subjectText(buffer, n, c.kind, c.key, c.key ? strlen(c.key) : 0,
                                          c.key != nullptr),
                      c.expected)
                << c.line << " " << (c.key ? c.key : "(no key)");
        }
    }
}

} // namespace
