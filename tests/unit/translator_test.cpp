// The translator alone (core/translator): the written form of each construct, the located
// errors, the quick scan's answers, lines kept in place, and the output compiling in a bare
// engine.
#include "core/translator/lexer.h"
#include "core/translator/translate.h"
#include "core/translator/writer.h"
#include "platforms/platform.h"

#include "duktape.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

translator::Translation run(const std::string& s, int flags = 0) {
    return translator::translate(s.data(), s.size(), flags);
}

struct Case {
    const char* source;
    const char* expected;
};

// Each construct's written form: the engine's compiler reads these.
const Case kForms[] = {
    {"let x = 1;", "var x = 1;"},
    {"{ let x = 1; f(x); }", "{ var x$1 = 1;f(x$1); }"},
    {"for (;;) { let y; g(y); }", "for (;;) { var y$1 = void 0;g(y$1); }"},
    {"for (var i = 0; i < 3; i++) { let x = i; a.push(function () { return x; }); }",
     "for (var i = 0; i < 3; i++) {try{throw void 0}catch(x){x = i;a.push(function () { return x; "
     "});} }"},
    {"for (;;) { let x = i; function g() { return x; } f(g); }",
     "var g;for (;;) {try{throw void 0}catch(x){x = i;g = function g() {return x; };f(g);} }"},
    {"const c = 1; c = 2; c++;", "var c = 1;(2);(+c);"},
    {"for each (var v in o) f(v);", "for (var v in __lang.each(o)) f(v);"},
    {"var [a, , b] = f();", "var $1;var $1 =f(), a = $1[0], b = $1[2];"},
    {"var {p: q, \"r\": s, 1: t} = o;", "var $1;var $1 =o, q = $1.p, s = $1[\"r\"], t = $1[1];"},
    {"x = [a, b] = f();", "var $1;x = ($1 = f(), a = $1[0], b = $1[1], $1);"},
    {"function f() { [a, b] = [b, a]; }",
     "function f() {var $1, $2;$1 = b, $2 = a, a = $1, b = $2; }"},
    {"function f([], {c}) {}", "function f($p0, $p1) {var c = $p1.c;}"},
    {"function f([a, b], {c}) { return a; }",
     "function f($p0, $p1) {var a = $p0[0], b = $p0[1], c = $p1.c;return a; }"},
    {"for (var [k, v] in o) ;",
     "var $1, $2, $3;for ($1 in ($2 = o)) {$3 = typeof $2.__iterator__ == \"function\" ? $1 : "
     "[$1, $2[$1]]; var k = $3[0], v = $3[1];;}"},
    {"var f = function (x) x * x;", "var f = function (x) {return (x * x);};"},
    {"a = [x * 2 for each (x in y) if (x)];",
     "a = (function () {var $1, $2, x;$1 = [], $2 = 0; for (x in __lang.each(y)) if (x) $1[$2++] = "
     "x * 2; return $1; }).call(this);"},
    {"try { f() } catch (e if e > 1) { g(e) }",
     "try { f() }catch (e) { if (e > 1) { g(e) } else throw e; }"},
    {"try { f() } catch (e if e) { g() } catch (x) { h(x) }",
     "try { f() }catch (e) { if (e) { g() } else try{throw e}catch(x){ { h(x) } }}"},
    {"var o = {a, b};", "var o = {a: a, b: b};"},
    {"o.x getter = function () { return 1; };",
     "__lang.accessor(o, \"x\", 1, function () { return 1; });"},
    {"o[k] setter = f;", "__lang.accessor(o, k, 2, f);"},
    {"o = {a getter: function () { return 1; }, b setter: function s(v) {}};",
     "o = {get a() {return 1; }, set b(v) {}};"},
    {"getter function x() { return 1; }",
     "__lang.accessor(this, \"x\", 1, function x() { return 1; });"},
    {"try { f() } catch ([a, b]) { g(a, b) }",
     "try { f() }catch ($exc) { try{throw $exc[0]}catch(a){ try{throw $exc[1]}catch(b){ { g(a, "
     "b) } }}}"},
    {"try { f() } catch ({m: m, c: [d]} if m) { g(m) }",
     "try { f() }catch ($exc) { try{throw $exc.m}catch(m){ try{throw $exc.c}catch($exc1){ "
     "try{throw $exc1[0]}catch(d){ if (m) { g(m) } else throw $exc; }}}}"},
    {"({a: x, b: y}) = f();", "var $1;($1 = f(), x = $1.a, y = $1.b, $1);"},
    {"export a, b; export *;", ";;"},
    {"import o.a, o.*;", "var a = o.a;__lang.importAll(this, o);"},
    {"x = #1=[1, #1#];", "var $sharp1;x = __lang.sharp($sharp1 = [], [1, $sharp1]);"},
    {"o = #2={a: #2#, b: f(#2#)};",
     "var $sharp2;o = __lang.sharp($sharp2 = {}, {a: $sharp2, b: f($sharp2)});"},
    {"function f() { return #1={g: function () { return #1#; }}; }",
     "function f() {var $sharp1;return __lang.sharp($sharp1 = {}, {g: function () {return "
     "$sharp1; }}); }"},
    {"--> opening comment\nx = 1;", "\nx = 1;"},
    {"a = let (x = 1) x + 1;", "var x$1;a = (x$1 = 1, x$1 + 1);"},
    {"let (x = 1, y) { f(x, y); }", "{var x$1 = 1, y$2 = void 0;{ f(x$1, y$2); }}"},
    {"function g() { yield 1; }",
     "function g() {return __lang.gen(function () {var $g = this, $s = $g.s, $v = $g.v, $r; $g.v"
     " = void 0; if ($s < 0) throw $g.stop(); $g.s = -2; $Y: { $L: for (;;) switch ($s) { case 0: "
     "$r = 1; $g.s = 1; "
     "break $Y; case 1: break $L; default: break $L; } $g.s = -1; throw StopIteration; } retur"
     "n $r; }, null, []);}"},
    {"var $x = 1; function g(n) { yield $x + n; }",
     "var $x = 1;function g(n) {return __lang.gen(function () {var $$g = this, $$s = $$g.s, $$v "
     "= $$g.v, $$r; $$g.v = void 0; if ($$s < 0) throw $$g.stop(); $$g.s = -2; var $$l = $$g.l, n "
     "= $$l[0]; $$Y: { $$L"
     ": for (;;) switch ($$s) { case 0: $$r = $x + n; $$g.s = 1; break $$Y; case 1: break $$L;"
     " default: break $$L; } $$g.s = -1; throw StopIteration; } return $$r; }, null, [n]);}"},
};

TEST(Translator, WritesEachConstruct) {
    for (const Case& c : kForms) {
        translator::Translation t = run(c.source);
        EXPECT_FALSE(t.failed) << c.source << ": " << t.message;
        EXPECT_TRUE(t.changed) << c.source;
        EXPECT_EQ(t.text, c.expected) << c.source;
    }
}

// Errors of the language: located, with the kind the language reports.
struct ErrorCase {
    const char* source;
    unsigned line;
    bool typeError;
};
const ErrorCase kErrors[] = {
    {"let x;\n\nyield 1;", 3, false},
    {"function f() {\n yield 1;\n return 2;\n}", 3, true},
    {"{\n let a = 1;\n let a = 2;\n}", 3, true},
    {"const c = 1;\nvar c;", 2, true},
    {"var c = 1;\nconst c = 2;", 2, true},
    {"{ let a;\n  var a; }", 2, true},
    {"{ let a;\n  function a() {} }", 2, true},
    {"let x;\nfor (var [a, b] = c in o) ;", 2, false},
    {"let x;\n[a, f()] = c;", 2, false},
    {"let x = 1;\nfor (var [a, b, c] in o) ;", 2, false},
    {"let x = 1;\nvar [a] ;", 2, false},
    {"let x =\n\n  [1, 2;", 3, false},
    {"let s = 'abc\ndef';", 1, false},
    {"let x = 1;\nx = a.;", 2, false},
    {"var c;\nif (c) let x = 1;", 2, false},
    {"while (0)\n  let y;", 2, false},
    {"x = #1=[];\ny = [#2#];", 2, false},
    {"x = 1;\ny = #1=f();", 2, false},
    {"function f() { x = #1=[]; }\ny = #1#;", 2, false},
    {"function f() {\n getter function x() {}\n}", 2, false},
    {"var o = {\n a getter: 1};", 2, false},
    {"function g() {\n f(1, yield 2);\n}", 2, false},
    {"function f() {\n import o.*;\n}", 2, false},
    {"import\n  a;", 2, false},
};

TEST(Translator, ReportsErrorsAtTheirLine) {
    for (const ErrorCase& c : kErrors) {
        translator::Translation t = run(c.source);
        EXPECT_TRUE(t.failed) << c.source;
        EXPECT_EQ(t.line, c.line) << c.source << ": " << t.message;
        EXPECT_EQ(t.typeError, c.typeError) << c.source << ": " << t.message;
    }
}

// The check: a plain source, which the quick scan passes untouched, is parsed all the same
// for its syntax error, in the language's words; nothing is written.
TEST(Translator, ChecksPlainSourcesForTheirErrors) {
    const Case cases[] = {
        {"var a = 1;\nvar b = ;", "2 syntax error"},
        {"f(1\n 2);", "2 missing ) after argument list"},
        {"x = 'open\n';", "1 unterminated string literal"},
        {"a b", "1 missing ; before statement"},
        {"1 = 2;", "1 invalid assignment left-hand side"},
        {"for (1 in o) ;", "1 invalid for/in left-hand side"},
        {"var ok = [1, 2];\nfunction f() { return ok; }", ""},
    };
    for (const Case& c : cases) {
        translator::Translation t =
            translator::translate(c.source, strlen(c.source), translator::TRANSLATE_CHECK);
        EXPECT_EQ(t.failed ? std::to_string(t.line) + " " + t.message : "", c.expected) << c.source;
        EXPECT_FALSE(t.changed) << c.source;
    }
}

// Nesting deeper than the translator goes (no stack overflow) is a located SyntaxError,
// never the source handed on untranslated; a syntax check leaves such source to the engine.
// A source above the size limit that needs translating is a RangeError.
TEST(Translator, BoundsNesting) {
    auto repeat = [](const char* piece, int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += piece;
        return s;
    };
    const std::string deep = repeat("[", 5000) + repeat("]", 5000);
    const struct {
        std::string source;
        std::string expected;
    } cases[] = {
        {"let x = 1;\nx = " + deep + ";", "2 nesting too deep"},
        {"let x = a" + repeat(" + a", 5000) + ";", "1 nesting too deep"},
        {"const c = 1;\n" + repeat("(", 2000) + "c = 2" + repeat(")", 2000), "2 nesting too deep"},
        {"let x = a" + repeat(" + a", 1000) + ";", ""},
        {"let x = " + repeat("(", 1000) + "1" + repeat(")", 1000) + ";", ""},
        {"let x = " + repeat("[", 700) + repeat("]", 700) + ";", ""},
    };
    for (const auto& c : cases) {
        translator::Translation t = run(c.source);
        EXPECT_EQ(t.failed ? std::to_string(t.line) + " " + t.message : "", c.expected);
        EXPECT_EQ(t.changed, c.expected.empty());
    }
    const std::string plainDeep = deep + ";";
    EXPECT_FALSE(
        translator::translate(plainDeep.data(), plainDeep.size(), translator::TRANSLATE_CHECK)
            .failed);
    std::string huge = "let x = 1;" + std::string(translator::kMaxSource, ' ');
    translator::Translation t = run(huge);
    EXPECT_TRUE(t.failed && t.rangeError) << t.message;
    std::string plain = std::string(3000, '[') + "{a: 1}" + std::string(3000, ']');
    EXPECT_FALSE(translator::mayNeedTranslation(plain.data(), plain.size()));
}

// The quick scan: plain ECMAScript 5.1 passes, each extended construct is caught.
TEST(Translator, QuickScan) {
    const char* plain[] = {
        "var a = [1, 2]; a[0] = 3; var o = {a: 1}; o.b = {}; if (a == b) c = d;",
        "x = a / b / c; y = /[let]/g.test(s); z = 'let yield const';",
        "function f(a, b) { return a + b; } for (var i in o) f(i); $.each(a, f); x.let = 1;",
        "var s = \"\\\"for each\\\"\"; // let x\n/* yield */ if (a) b(); else c();",
        "a = b ? {x: 1} : [2]; f({a: 1, b: 2}, [3]); while (x) { y(); }",
        // a { after the head of if, for, while, with, or after else and do, opens a block
        "if (a) {b} else {c} for (;;) {d} do {e, f} while (g); with (o) {h} /re/.test(s);",
        // comments the engine reads: `-->` first on a line, `<!--` after an operand
        "a = 1;\n  --> don't let this\nb = a-->0; c = b <!-- or yield\n;",
        "#!/usr/bin/env capsule\nvar a = '#1=[]';",
        "var getter = 1, setter = getter; o.import = {export: 1, get import() {}}; (a) == b;",
    };
    for (const char* s : plain)
        EXPECT_FALSE(translator::mayNeedTranslation(s, strlen(s))) << s;
    const char* extended[] = {
        "let x = 1;",
        "const y = 2;",
        "function g() { yield 1; }",
        "for each (x in y);",
        "[a, b] = [b, a];",
        "var [a, b] = f();",
        "var {a: b} = o;",
        "for ([k, v] in o);",
        "function f([a]) {}",
        "function f() x;",
        "a = [x for (x in y)];",
        "f(x for (x in y));",
        "try {} catch (e if e) {}",
        "o = {a, b};",
        "if (a) x = {b, c}; else ({d} = e);",
        "x = #1=[#1#];",
        "o.x getter = f;",
        "o = {x setter: function (v) {}};",
        "getter function x() {}",
        "try {} catch ({message}) {}",
        "([a, b]) = f();",
        "export a;",
        "import o.a;",
        "--> a comment the engine does not take before the first token\nx = 1;",
    };
    for (const char* s : extended)
        EXPECT_TRUE(translator::mayNeedTranslation(s, strlen(s))) << s;
}

// Every number and string of the source stays on its line in the output (names may move
// into the heads the writer makes, an array comprehension's expression moves behind its
// loops).
void expectLinesKept(const std::string& src, const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    translator::Lexer lex(src.data(), src.size());
    for (translator::Token t = lex.next(); t.type != translator::T_EOF; t = lex.next()) {
        if (t.type != translator::T_NUMBER && t.type != translator::T_STRING) continue;
        std::string text = src.substr(t.start, t.end - t.start);
        if (text.find('\n') != std::string::npos) continue; // held by what follows it
        ASSERT_LE(t.line, lines.size()) << text;
        EXPECT_NE(lines[t.line - 1].find(text), std::string::npos)
            << "'" << text << "' left line " << t.line << " of:\n"
            << src << "\n---\n"
            << out;
    }
}

const char* kMultiline[] = {
    "let a = 1,\n    b = 2;\n{\n  let c = a +\n    b;\n  f(c);\n}\n",
    "function gen(n) {\n  var i = 0;\n  while (i < n) {\n    var x = yield i;\n    if (x)\n      "
    "i += x;\n    else\n      i++;\n  }\n  try {\n    yield 'end';\n  } finally {\n    done();\n  "
    "}\n}\n",
    "var [a,\n     b] = f(1,\n        2);\nfor each (let v in\n  list)\n  g(v);\n",
    "var r = [x\n  for each (x in y)\n  if (x > 1)];\nvar h = function (q)\n  q + 1;\n",
    "try {\n  f();\n} catch (e if e instanceof TypeError) {\n  g(e);\n} catch (e) {\n  h(e);\n}\n",
    "function s(o) {\n  switch (o) {\n  case 1:\n    yield 'one';\n  default:\n    yield "
    "'other';\n  }\n  for (var k in o)\n    yield k;\n}\n",
    "function w(o) {\n  with (o) {\n    yield 1;\n    a = (yield 2 +\n      5);\n  }\n  for (;;) "
    "{\n"
    "    let j = 3;\n    f(function () { return j; },\n      (yield 4));\n  }\n  function f() "
    "{}\n}\n",
    "function c(n) {\n  var s = 'a\\\n  b', t = 2;\n  yield s + t + n;\n  f('x',\n    3);\n}\n",
};

TEST(Translator, KeepsLines) {
    for (const char* s : kMultiline) {
        translator::Translation t = run(s);
        ASSERT_TRUE(t.changed) << s << t.message;
        expectLinesKept(s, t.text);
    }
}

// The tokens of a source: each as its text and line, `/` before it for a line break before
// it, `*` after a keyword; `!` and the message where the lexer fails.
std::string lexed(const std::string& src) {
    translator::Lexer lex(src.data(), src.size());
    std::string out;
    for (translator::Token t = lex.next(); t.type != translator::T_EOF; t = lex.next())
        out += (t.nl ? "/" : " ") + src.substr(t.start, t.end - t.start) +
               (translator::isKeyword(t.type) ? "*" : "") + "@" + std::to_string(t.line);
    if (lex.failed()) out += std::string("!") + lex.error();
    return out;
}

const Case kTokens[] = {
    {"a\n    b\n\tc  d", " a@1/b@2/c@3 d@3"},
    {"if(x)\n        return", " if*@1 (@1 x@1 )@1/return*@2"},
    {"x\\u0079 \\u0069f \xc3\xa9t\xc3\xa9 in\xe2\x80\xa8y",
     " x\\u0079@1 \\u0069f@1 \xc3\xa9t\xc3\xa9@1 in*@1/y@2"},
    {"a>>>=b/=c..d::e", " a@1 >>>=@1 b@1 /=@1 c@1 ..@1 d@1 ::@1 e@1"},
    {"1.5e3 .5 'q' /*\n*/ z\r\nw", " 1.5e3@1 .5@1 'q'@1/z@2/w@3"},
    {"a #", " a@1!illegal character"},
    {"#1=[#1#, #12#]", " #1=@1 [@1 #1#@1 ,@1 #12#@1 ]@1"},
    {"x = #1;", " x@1 =@1!illegal character"},
    {"--> c\na\n  --> c\nb-->c", "/a@2/b@4 --@4 >@4 c@4"},
    {"\xef\xbb\xbf"
     "a\xef\xbb\xbf"
     "b",
     " a@1 b@1"}, // byte-order marks: white space
};

TEST(Translator, LexesTokens) {
    for (const Case& c : kTokens)
        EXPECT_EQ(lexed(c.source), c.expected) << c.source;
    // Every keyword, in the order of their tokens; one letter more, less or other makes a name.
    std::istringstream words("break case catch const continue debugger default delete do else "
                             "false finally for function if in instanceof let new null return "
                             "switch this throw true try typeof var void while with yield");
    int tok = translator::K_BREAK;
    for (std::string w; words >> w; tok++) {
        translator::Lexer lex(w.data(), w.size());
        EXPECT_EQ(lex.next().type, tok) << w;
        for (std::string v :
             {w + "s", w.substr(0, w.size() - 1), w.substr(0, w.size() - 1) + "Z", "_" + w}) {
            translator::Lexer other(v.data(), v.size());
            EXPECT_EQ(other.next().type, translator::T_NAME) << v;
        }
    }
    EXPECT_EQ(tok, translator::K_YIELD + 1);
}

// Regular expressions in the forms of that engine, as the engine's compiler gets them
// ("" where the pattern goes as it stands).
const Case kRegExps[] = {
    {"a+(b|c)*?\\d[x-z]", ""},
    {"\\c1[\\c_]\\cJ", "\\\\c1[\\\\c_]\\cJ"},
    {"(a)\\1\\2\\8\\400", "(a)\\1\\x02\\\\8\\x200"},
    {"\\012[\\1\\9]\\0", "\\x0A[\\x019]\\0"},
    {"\\xg\\u{2}\\x1", "xgu{2}\\x01"},
    {"[\\x4]", "[\\x04]"},
    {"{1}a{2}{3}a{,2}b*{", "\\{1}a{2}\\{3}a\\{,2}b*\\{"},
    {"a{2}?(?:x)+?", ""},
    {"(?=a)*(?!b){2}", "(?:(?=a))*(?:(?!b)){2}"},
    {"[a-\\d][\\w-z][a-z-]", "[a\\-\\d][\\w\\-z][a-z-]"},
};

TEST(Translator, RewritesRegExps) {
    for (const Case& c : kRegExps) {
        std::string out;
        bool changed = translator::translateRegExp(c.source, strlen(c.source), &out);
        EXPECT_EQ(changed ? out : std::string(), c.expected) << c.source;
    }
}

// The output compiles in the engine; plain sources of the repository pass untouched.
TEST(Translator, OutputCompiles) {
    duk_context* ctx = duk_create_heap_default();
    ASSERT_NE(ctx, nullptr);
    std::vector<std::string> sources;
    for (const Case& c : kForms)
        sources.push_back(c.source);
    for (const char* s : kMultiline)
        sources.push_back(s);
    for (const std::string& s : sources) {
        translator::Translation t = run(s);
        duk_push_string(ctx, "test");
        EXPECT_EQ(duk_pcompile_lstring_filename(ctx, 0, t.text.data(), t.text.size()), 0)
            << t.text << ": " << duk_safe_to_string(ctx, -1);
        duk_pop(ctx);
    }
    duk_destroy_heap(ctx);
}

// A large program is written on two threads: the same text, functions and errors as on one.
TEST(Translator, LargeProgramsAsOnOneThread) {
    // Blocks repeated past the size that splits: generators and functions (their spans), the
    // program's own temporaries and variables, statements ended by an inserted semicolon,
    // comments and strings over lines between statements.
    const char* kBlocks[] = {
        "function f(a) { let [x, y] = a; for each (let v in x) yield v + y; }\n",
        "let (x = 1) f(x)\n[a, b] = [b, a]\nvar q = <a>{x}</a>\n",
        "for (let i = 0; i < 3; i++) fs.push(function () i)\n/* a\n comment */ x = 'a\\\nb';\n",
    };
    auto large = [](const std::string& block) {
        std::string s;
        while (s.size() < 600 * 1024)
            s += block;
        return s;
    };
    std::vector<std::string> sources;
    for (const char* b : kBlocks)
        sources.push_back(large(b));
    // An error found while writing, in either half: the first is reported.
    const std::string error = "var g = function () (yield 1)\n";
    sources.push_back(large(kBlocks[0]) + error);
    sources.push_back(error + large(kBlocks[0]) + error);
    for (const std::string& s : sources) {
        translator::Translation two = run(s), one = run(s, translator::TRANSLATE_ONE_THREAD);
        ASSERT_EQ(two.failed, one.failed) << s.substr(0, 80);
        EXPECT_EQ(two.line, one.line);
        EXPECT_EQ(two.message, one.message);
        EXPECT_TRUE(two.text == one.text) << s.substr(0, 80);
        ASSERT_EQ(two.functions.size(), one.functions.size());
        for (size_t i = 0; i < one.functions.size(); i++)
            EXPECT_EQ(two.functions[i].outStart, one.functions[i].outStart);
    }
}

// A large source of one statement repeated is written as that statement alone, repeated:
// the paths of large sources (two threads, the offsets' sort by digits) against a small one.
TEST(Translator, LargeSourceAsItsPieces) {
    const char* kPieces[] = {
        "function f(a) { for each (var v in a) yield v * 2; }\n",
        "x = [v for each (v in a) if (v)];\n",
        "var g = (k for (k in o));\n",
        "for each (var q in o) s += q;\n",
        "try { f() } catch (e if e instanceof TypeError) { g() }\n",
        "y = <a b=\"1\">{x}</a>;\n",
    };
    for (const char* piece : kPieces) {
        std::string source, expected, one = run(piece).text;
        while (source.size() < 300 * 1024) {
            source += piece;
            expected += one;
        }
        EXPECT_TRUE(run(source).text == expected) << piece;
    }
}

// Where no thread can be started (the user's process limit reached), a large program is
// written on the calling thread alone, with the same result. The child drops to `nobody` when
// run as root: root's process count is not limited.
TEST(Translator, LargeProgramWithoutThreads) {
    std::string s;
    while (s.size() < 300 * 1024)
        s += "function f(a) { let [x, y] = a; for each (let v in x) yield v + y; }\n";
    translator::Translation one = run(s, translator::TRANSLATE_ONE_THREAD);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit limit{1, 1};
        if ((getuid() == 0 && (setgid(65534) || setuid(65534))) || setrlimit(RLIMIT_NPROC, &limit))
            _exit(2);
        _exit(run(s).text == one.text ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The writer's output buffer: pieces of every length, moved in words or by memcpy.
TEST(Translator, OutputTakesPiecesOfEveryLength) {
    translator::Output out;
    std::string expected;
    for (size_t n = 0; n <= 40; n++) {
        std::string piece;
        for (size_t i = 0; i < n; i++)
            piece += static_cast<char>('a' + (n + i) % 26);
        out.append(piece.data(), piece.size());
        expected += piece;
    }
    EXPECT_EQ(out.str(), expected);
}

TEST(Translator, PlainScriptsPassUntouched) {
    std::string dir = std::string(CAPSULE_SOURCE_DIR) + "/tests/scripts";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int n = 0;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() < 3 || name.compare(name.size() - 3, 3, ".js")) continue;
        if (name.find("language") != std::string::npos) continue; // written in the language
        std::ifstream f(dir + "/" + name);
        std::stringstream ss;
        ss << f.rdbuf();
        translator::Translation t = run(ss.str());
        EXPECT_FALSE(t.failed) << name << ":" << t.line << " " << t.message;
        EXPECT_FALSE(t.changed) << name;
        n++;
    }
    closedir(d);
    EXPECT_GT(n, 10);
}

} // namespace

// ---- the blocks a translation takes --------------------------------------------------------

namespace {
std::atomic<int> gBlocksTaken{0}, gBlocksGiven{0};
void* takeBlock(size_t size) {
    gBlocksTaken++;
    return malloc(size);
}
void giveBlock(void* block) {
    gBlocksGiven++;
    free(block);
}
} // namespace

// The embedder's block functions serve every block, on both writer threads of a large
// program, and get every one back; the translation is the one that malloc's blocks give.
TEST(Translator, BlocksComeFromTheEmbedderAndGoBack) {
    std::string source;
    for (int i = 0; source.size() < 400 * 1024; i++)
        source += "function g" + std::to_string(i) +
                  "() { let [a, b] = [1, 2]; yield a + b; }\nvar x" + std::to_string(i) +
                  " = [v * 2 for each (v in [1, 2])];\n";
    translator::setBlockFunctions(malloc, free);
    translator::Translation plain = run(source);
    translator::setBlockFunctions(takeBlock, giveBlock);
    translator::Translation counted = run(source);
    translator::setBlockFunctions(platform::allocateBlock, platform::freeBlock);
    EXPECT_GT(gBlocksTaken.load(), 1);
    EXPECT_EQ(gBlocksGiven.load(), gBlocksTaken.load());
    ASSERT_TRUE(plain.changed && !plain.failed) << plain.message;
    EXPECT_FALSE(counted.failed) << counted.message;
    EXPECT_EQ(counted.text, plain.text);
}
