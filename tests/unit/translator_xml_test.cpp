// The translator's E4X forms (core/translator/parse_xml.cpp, write_xml.cpp): the written form
// of each, the located errors of malformed initialisers, the quick scan's answers, lines
// kept after multi-line initialisers, and the output compiling in a bare engine.
#include "core/translator/translate.h"

#include "duktape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

translator::Translation run(const std::string& s) {
    return translator::translate(s.data(), s.size(), 0);
}

struct Case {
    const char* source;
    const char* expected;
};

const Case kForms[] = {
    {"x = <a b={v} c='d'>{c}</a>;",
     "x = __lang.xml.literal(\"<a b=\\\"\" + __lang.xml.escapeAttribute(v) + \"\\\" c='d'>\" + "
     "__lang.xml.content(c) + \"</a>\");"},
    {"x = <{t} {n}={v} {s}/>;",
     "x = __lang.xml.literal(\"<\" + String(t) + \" \" + String(n) + \"=\\\"\" + "
     "__lang.xml.escapeAttribute(v) + \"\\\" \" + String(s) + \"/>\");"},
    {"x = <>{a, b}<!-- {c} --><![CDATA[\\\"]]><?p {d}?></>;",
     "x = __lang.xml.listLiteral(__lang.xml.content((a, b)) + \"<!-- {c} --><![CDATA[\\\\\\\"]]>"
     "<?p {d}?>\");"},
    {"x = <></>;", "x = __lang.xml.listLiteral(\"\");"},
    {"x = <a>\n{b}</a>;",
     "x = __lang.xml.literal(\"<a>\\n\" +\n__lang.xml.content(b) + \"</a>\");"},
    {"x.@a = x.@*; x.*; x.@[k] += 1; delete x.@a;",
     "x[\"@a\"] = x[\"@*\"];x[\"*\"];x[__lang.xml.attributeKey(k)] += 1;delete x[\"@a\"];"},
    {"x.ns::m(); x.@ns::a; x.*::b; x.ns::[e]; x.ns::*;",
     "x[__lang.xml.key(ns, \"m\")]();x[__lang.xml.key(ns, \"a\", true)];x[__lang.xml.key(\"*\", "
     "\"b\")];x[__lang.xml.key(ns, e)];x[__lang.xml.key(ns, \"*\")];"},
    {"x..a; x..@b; x..*; x..ns::c;",
     "__lang.xml.descendants(x, \"a\");__lang.xml.descendants(x, \"@b\");__lang.xml.descendants(x, "
     "\"*\");__lang.xml.descendants(x, __lang.xml.key(ns, \"c\"));"},
    {"y = x.(@k == 1 && ns::n.(@j) && *);",
     "y = __lang.xml.filter(x, function ($x1) { with ($x1) return ($x1[\"@k\"] == 1 && "
     "__lang.xml.filter(__lang.xml.qualified(ns, \"n\", $x1), function ($x2) { with ($x2) return "
     "($x2[\"@j\"]); }, this) && $x1[\"*\"]); }, this);"},
    {"y = @a + ns::b;", "y = __lang.xml.bareAttribute(\"a\") + __lang.xml.qualified(ns, \"b\");"},
    {"default xml namespace = u;", "__lang.xml.setDefaultNamespace(u);"},
    {"function f() { default xml namespace = u; }",
     "function f() {var $dxns;$dxns = __lang.xml.getDefaultNamespace(); "
     "try {__lang.xml.setDefaultNamespace(u);} finally { __lang.xml.setDefaultNamespace($dxns); "
     "}}"},
    {"let a = 1;\nx = a <!-- c\n + 1;", "var a = 1;\nx = a //-- c\n + 1;"},
    {"{ let n = 1; x.n::a = <a/>; }",
     "{ var n$1 = 1;x[__lang.xml.key(n$1, \"a\")] = __lang.xml.literal(\"<a/>\"); }"},
    {"a = x.function::toString(1, 2) + x.function::[k];",
     "a = __lang.xml.callMethod(x, \"toString\", 1, 2) + (__lang.xml.method(x, k));"},
    {"function::f(1); with (o) function::g(2);",
     "var $w1;f(1);with ($w1 = o) __lang.xml.scopedCall(\"g\", [$w1], function () { return g; }, "
     "2);"},
    // the with objects, innermost first, then the filter's item
    {"with (o) with (x) { @a; f(function () { return *; }); }",
     "var $w2, $w1;with ($w2 = o) with ($w1 = x) { __lang.xml.scoped(\"@a\", null, \"@a\", $w1, "
     "$w2);f(function () {return __lang.xml.scoped(\"*\", null, \"*\", $w1, $w2); }); }"},
    {"y.(function () { with (x) return @b; }());",
     "__lang.xml.filter(y, function ($x1) { with ($x1) return (function () {var $w1;with ($w1 = "
     "x) return __lang.xml.scoped(\"@b\", $x1, \"@b\", $w1); }()); }, this);"},
    {"x = <p:b{n} d{e}f=\"1\"></p:b{n}>;",
     "x = __lang.xml.literal(\"<p:b\" + String(n) + \" d\" + String(e) + \"f=\\\"1\\\"></p:b\" + "
     "String(n) + \">\");"},
};

TEST(TranslatorXml, WritesEachForm) {
    for (const Case& c : kForms) {
        translator::Translation t = run(c.source);
        EXPECT_FALSE(t.failed) << c.source << ": " << t.message;
        EXPECT_EQ(t.text, c.expected) << c.source;
    }
}

// Malformed initialisers and misplaced forms: a SyntaxError at the line named.
struct ErrorCase {
    const char* source;
    unsigned line;
};
const ErrorCase kErrors[] = {
    {"x = <a>\n<b>\n</a>;", 3},    // end tag of another element
    {"x = <a>\n\n<b>", 3},         // element left open
    {"x = <></a>;", 1},            // list closed by an element's end tag
    {"x = <a>{1\n</a>;", 2},       // brace left open
    {"x =\n<a b=1/>;", 2},         // unquoted attribute value
    {"x = <a b='1'c='2'/>;", 1},   // attributes without space
    {"x = <a>\n<!-- c\n\n", 2},    // comment left open
    {"x = <!DOCTYPE a>;", 1},      // markup an initialiser cannot hold
    {"x.(a);\nx..a = 1;", 2},      // descendants are no target
    {"x = *;", 1},                 // a lone * outside a filter or with
    {"x;\nx.function::a = 1;", 2}, // a method is no target
    {"x;\nx..function::a;", 2},
    {"with (x) @a;\n*;", 2},
    {"x = <a\n  b{c}>\n</a>;", 2}, // a name of text and braces without a value
    {"function f() { 'use strict';\n return x.(a); }", 2},
};

TEST(TranslatorXml, ReportsMalformedInitialisersAtTheirLine) {
    for (const ErrorCase& c : kErrors) {
        translator::Translation t = run(c.source);
        EXPECT_TRUE(t.failed) << c.source;
        EXPECT_EQ(t.line, c.line) << c.source << ": " << t.message;
        EXPECT_FALSE(t.typeError) << c.source;
    }
}

TEST(TranslatorXml, QuickScanFindsEveryForm) {
    const char* e4x[] = {
        "x = <a/>;",
        "f(<>{1}</>);",
        "return <!-- c -->;",
        "y = x.@a;",
        "x.*;",
        "x..b;",
        "x.(a);",
        "x.ns::a;",
        "q = *::a;",
        "q = @a;",
        "if (a) <?p?>;",
        "default xml namespace = 'u';",
        "x = [<{n}/>];",
        "x = a ? <b/> : 1;",
        "x.function::f();",
        "with (x) *.length();",
    };
    for (const char* s : e4x)
        EXPECT_TRUE(translator::mayNeedTranslation(s, strlen(s))) << s;
    const char* plain[] = {
        "if (a < b) c = d <e; for (i = 0; i<n; i++) x = y< z;",
        "s = 'x.@a <a/>'; r = /<a>/; o = {default: 1}; switch (x) { default: f(); }",
        "x = a * b; y = 1..toString(); z = a.b.c(d) < 2 ? e : f; w = (a) < b;",
    };
    for (const char* s : plain)
        EXPECT_FALSE(translator::mayNeedTranslation(s, strlen(s))) << s;
}

// What follows a multi-line initialiser stays on its line: the same line count, each `mark`
// on the line it had.
TEST(TranslatorXml, KeepsLines) {
    const char* sources[] = {
        "var x = <a>\n  <b c=\"1\n2\">{\n v }</b>\r\n<!--\n\n-->\n</a>; mark1;\nmark2;\n",
        "f(<>\n{<b>\n</b>}\n</>, x..c\n.(@d\n == 1)); mark1\nmark2\n",
        "function f() {\n default xml namespace =\n u;\n return 1;\n}\nmark1; mark2;\n",
    };
    for (const char* s : sources) {
        translator::Translation t = run(s);
        ASSERT_TRUE(t.changed) << s << t.message;
        auto lineOf = [](const std::string& text, const char* word) {
            size_t at = text.find(word);
            size_t n = 1;
            for (size_t i = 0; i < at && at != std::string::npos; i++)
                n += text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n');
            return n;
        };
        for (const char* mark : {"mark1", "mark2"})
            EXPECT_EQ(lineOf(t.text, mark), lineOf(s, mark)) << s << "\n---\n" << t.text;
    }
}

TEST(TranslatorXml, OutputCompiles) {
    duk_context* ctx = duk_create_heap_default();
    ASSERT_NE(ctx, nullptr);
    for (const Case& c : kForms) {
        translator::Translation t = run(c.source);
        duk_push_string(ctx, "test");
        EXPECT_EQ(duk_pcompile_lstring_filename(ctx, 0, t.text.data(), t.text.size()), 0)
            << t.text << ": " << duk_safe_to_string(ctx, -1);
        duk_pop(ctx);
    }
    duk_destroy_heap(ctx);
}

} // namespace
