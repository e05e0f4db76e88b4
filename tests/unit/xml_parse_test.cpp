// The parser against hostile documents: entity references that nest deeply are refused
// before expat expands them (it recurses once per level), whatever order their
// declarations come in, and the documents that stay within the bounds read as before.
#include "core/xml/entity_depth.h"
#include "core/xml/ops.h"
#include "core/xml/parse.h"
#include "core/xml/write.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace xml;

// A DTD of n entities, e<i> referring to e<i+1> when forward, else e<i> to e<i-1>; e0 or
// e<n-1> holds the text "x". The deepest is named by deepest().
std::string chain(int n, bool forward) {
    std::string dtd;
    for (int i = 0; i < n; i++) {
        std::string refers = forward ? (i + 1 < n ? "&e" + std::to_string(i + 1) + ";" : "x")
                                     : (i ? "&e" + std::to_string(i - 1) + ";" : "x");
        dtd += "<!ENTITY e" + std::to_string(i) + " \"" + refers + "\">";
    }
    return dtd;
}
std::string deepest(int n, bool forward) {
    return "&e" + std::to_string(forward ? 0 : n - 1) + ";";
}

std::string doc(const std::string& dtd, const std::string& body) {
    return "<!DOCTYPE a [" + dtd + "]><a>" + body + "</a>";
}

struct Case {
    const char* what;
    std::function<std::string()> text;
    const char* result; // the element written, or the error's message
};

const std::string kTooDeep = "entity references nested deeper than 64";

TEST(XmlParse, EntityNesting) {
    const int deep = 30000;
    const Case cases[] = {
        {"a chain at the bound", [] { return doc(chain(64, false), deepest(64, false)); },
         "<a>x</a>"},
        {"wide but shallow",
         [] { return doc("<!ENTITY b \"xy\"><!ENTITY c \"&b;&b;&lt;\">", "&c;&c;"); },
         "<a>xyxy&lt;xyxy&lt;</a>"},
        {"one past the bound", [] { return doc(chain(65, false), deepest(65, false)); },
         kTooDeep.c_str()},
        {"declared in order", [&] { return doc(chain(deep, false), deepest(deep, false)); },
         kTooDeep.c_str()},
        {"declared before what they refer to",
         [&] { return doc(chain(deep, true), deepest(deep, true)); }, kTooDeep.c_str()},
        {"in an attribute's value",
         [&] { return doc(chain(deep, false), "<b c=\"" + deepest(deep, false) + "\"/>"); },
         kTooDeep.c_str()},
        {"in an attribute's default",
         [&] {
             return doc(chain(deep, false) + "<!ATTLIST b c CDATA \"" + deepest(deep, false) +
                            "\">",
                        "<b/>");
         },
         kTooDeep.c_str()},
        {"a loop", [] { return doc("<!ENTITY p \"&q;\"><!ENTITY q \"&p;\">", ""); },
         kTooDeep.c_str()},
    };
    for (const Case& c : cases) {
        std::string text = c.text();
        Vec<Node*> nodes;
        ParseError e;
        bool ok = parse(text.data(), text.size(), ParseOptions(), nodes, &e);
        std::string got = e.message;
        if (ok) {
            ASSERT_EQ(nodes.n, 1u) << c.what;
            Ref r(nodes[0]);
            got.clear();
            writeNode(got, r.node, Format{false, 0, false});
        }
        nodes.clear();
        EXPECT_EQ(got, c.result) << c.what;
    }
}

// The namespaces that elements inherit are bounded on average: one more declared at each of
// many nested levels is refused, many declared once above many elements is not.
TEST(XmlParse, InheritedNamespaces) {
    auto nested = [](int n) {
        std::string open, close;
        for (int i = 0; i < n; i++) {
            open += "<e xmlns:p" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\">";
            close += "</e>";
        }
        return open + close;
    };
    auto wide = [](int declared, int kids) {
        std::string s = "<r";
        for (int i = 0; i < declared; i++)
            s += " xmlns:p" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\"";
        s += ">";
        for (int i = 0; i < kids; i++)
            s += "<k/>";
        return s + "</r>";
    };
    const std::pair<std::string, const char*> cases[] = {
        {nested(300), ""},
        {nested(20000), "too many namespaces in scope"},
        {wide(200, 20000), ""},
    };
    for (const auto& c : cases) {
        Vec<Node*> nodes;
        ParseError e;
        bool ok = parse(c.first.data(), c.first.size(), ParseOptions(), nodes, &e);
        EXPECT_EQ(ok, !*c.second) << c.first.size();
        EXPECT_EQ(e.message, c.second) << c.first.size();
        for (Node* n : nodes) {
            Hold drop(n);
        }
        nodes.clear();
    }
}

// A DTD's attribute declarations are bounded: expat compares each with those before it.
TEST(XmlParse, AttributeDeclarations) {
    const std::pair<int, const char*> cases[] = {
        {10000, ""},
        {10001, "more than 10000 attribute declarations"},
        {200000, "more than 10000 attribute declarations"}};
    for (const auto& c : cases) {
        std::string dtd = "<!ATTLIST a";
        for (int i = 0; i < c.first; i++)
            dtd += " a" + std::to_string(i) + " CDATA \"v\"";
        std::string text = doc(dtd + ">", "");
        Vec<Node*> nodes;
        ParseError e;
        bool ok = parse(text.data(), text.size(), ParseOptions(), nodes, &e);
        EXPECT_EQ(ok, !*c.second) << c.first;
        EXPECT_EQ(e.message, c.second) << c.first;
        for (Node* n : nodes) {
            Hold drop(n);
        }
        nodes.clear();
    }
}

// The graph alone: a later declaration of a name changes nothing, as in expat.
TEST(XmlParse, FirstDeclarationHolds) {
    EntityGraph g;
    EXPECT_TRUE(declareEntity(g, "a", "x", 1));
    EXPECT_TRUE(declareEntity(g, "a", "&a;", 3));
    EXPECT_EQ(g.entities[g.index["a"]].depth, 1u);
}

} // namespace
