// The native E4X model without the engine: references keep exactly the trees they reach,
// tree edits move those references, walks need no native stack, and the parser and writer
// agree on text and namespaces.
#include "core/xml/ops.h"
#include "core/xml/parse.h"
#include "core/xml/write.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace xml;

// Parses text into one root (held by the returned Ref); fails the test on an error.
Ref parseOne(const std::string& text, ParseOptions o = ParseOptions()) {
    Vec<Node*> nodes;
    ParseError e;
    EXPECT_TRUE(parse(text.data(), text.size(), o, nodes, &e)) << e.message;
    EXPECT_EQ(nodes.n, 1u);
    Ref r(nodes.n ? nodes[0] : nullptr);
    for (uint32_t i = 1; i < nodes.n; i++) {
        Hold drop(nodes[i]);
    }
    nodes.clear();
    return r;
}

std::string markup(const Node* n, bool pretty = false) {
    Format f;
    f.pretty = pretty;
    std::string s;
    writeNode(s, n, f);
    return s;
}

Query name(const char* local, bool attr = false) {
    Query q;
    q.name.local = intern(local, strlen(local));
    q.name.uri = strcmp(local, "*") ? emptyName() : nullptr;
    q.attr = attr;
    return q;
}

// Every test leaves the model as it found it.
class XmlTree : public ::testing::Test {
  protected:
    void SetUp() override { start = counts(); }
    void TearDown() override {
        EXPECT_EQ(counts().nodes, start.nodes);
        EXPECT_EQ(counts().lists, start.lists);
    }
    Counts start;
};

TEST_F(XmlTree, TextRoundTrips) {
    const char* cases[][2] = {
        {"<a><b>1</b><c/></a>", "<a><b>1</b><c/></a>"},
        {"<a x='1' y=\"&quot;\"/>", "<a x=\"1\" y=\"&quot;\"/>"},
        {"<a>&lt;&amp;&gt;<![CDATA[<&>]]></a>", "<a>&lt;&amp;&gt;&lt;&amp;&gt;</a>"},
        {"<p:a xmlns:p='u' p:k='v'><p:b/></p:a>", "<p:a p:k=\"v\" xmlns:p=\"u\"><p:b/></p:a>"},
        {"<a xmlns='u'><b xmlns=''/></a>", "<a xmlns=\"u\"><b xmlns=\"\"/></a>"},
        {"<a>\xF0\x9F\x98\x80</a>",
         "<a>\xED\xA0\xBD\xED\xB8\x80</a>"}, // U+1F600 in the engine's form
    };
    for (auto& c : cases) {
        Ref r = parseOne(c[0]);
        EXPECT_EQ(markup(r.node), c[1]) << c[0];
    }
    Ref pretty = parseOne("<a><b><c/></b>t</a>");
    EXPECT_EQ(markup(pretty.node, true), "<a>\n  <b>\n    <c/>\n  </b>\n  t\n</a>");
}

TEST_F(XmlTree, ErrorsNameThePlace) {
    Vec<Node*> nodes;
    ParseError e;
    std::string text = "<a>\n <b></a>";
    EXPECT_FALSE(parse(text.data(), text.size(), ParseOptions(), nodes, &e));
    EXPECT_EQ(e.message, "mismatched tag");
    EXPECT_EQ(e.line, 2u);
    EXPECT_EQ(e.column, 7u);
    EXPECT_EQ(nodes.n, 0u);
    nodes.clear();
}

// Long text reaches the parser a piece at a time: a character that straddles a piece's end
// (here the first piece's, 256 KiB into the text) reads as it would anywhere else, and an
// error far into the text names its place.
TEST_F(XmlTree, LongTextReadsAcrossPieces) {
    const size_t kPiece = size_t(256) << 10;
    const char* chars[][2] = {
        {"\xED\xA0\xBD\xED\xB8\x80", "\xED\xA0\xBD\xED\xB8\x80"}, // a surrogate pair
        {"\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},         // the same in UTF-8
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},
        {"\xC3\xA9", "\xC3\xA9"},
    };
    for (auto& c : chars) {
        for (size_t before = kPiece - 8; before <= kPiece + 1; before++) {
            std::string fill(before - 3, 'x');
            Ref r = parseOne("<a>" + fill + c[0] + "</a>");
            EXPECT_EQ(markup(r.node), "<a>" + fill + c[1] + "</a>") << before;
        }
    }
    Vec<Node*> nodes;
    ParseError e;
    std::string text = "<a>\n" + std::string(3 * kPiece, 'x') + "</b>";
    EXPECT_FALSE(parse(text.data(), text.size(), ParseOptions(), nodes, &e));
    EXPECT_EQ(e.message, "mismatched tag");
    EXPECT_EQ(e.line, 2u);
    EXPECT_EQ(e.column, 3 * kPiece + 3);
    EXPECT_EQ(nodes.n, 0u);
    nodes.clear();
}

// A node keeps its whole tree alive; the last reference frees all of it.
TEST_F(XmlTree, ReferencesKeepTheTree) {
    Node* kid;
    {
        Ref doc = parseOne("<a><b><c/></b><d/></a>");
        kid = doc.node->kids[0]->kids[0];
        ref(kid);
    }
    EXPECT_EQ(counts().nodes, start.nodes + 4);
    EXPECT_EQ(kid->root->name.local->data, std::string("a"));
    unref(kid);
    EXPECT_EQ(counts().nodes, start.nodes);
}

// Taking a child out makes it a tree of its own: each part lives as long as it is held.
TEST_F(XmlTree, RemovedPartsStandAlone) {
    Ref doc = parseOne("<a><b><c/></b><d/></a>");
    Node* b = doc.node->kids[0];
    {
        Ref held(b);
        removeKid(doc.node, 0);
        EXPECT_EQ(b->root, b);
        EXPECT_EQ(b->parent, nullptr);
        EXPECT_EQ(counts().nodes, start.nodes + 4);
    }
    EXPECT_EQ(counts().nodes, start.nodes + 2);
    removeKid(doc.node, 0);
    EXPECT_EQ(counts().nodes, start.nodes + 1);
}

TEST_F(XmlTree, PutInsertAndDelete) {
    Ref doc = parseOne("<a><b>1</b><c/><b>2</b></a>");
    Val v;
    v.text = newStr("n", 1);
    put(doc.node, name("b"), v, nullptr);
    EXPECT_EQ(markup(doc.node), "<a><b>n</b><c/></a>");
    put(doc.node, name("k", true), v, nullptr);
    EXPECT_EQ(markup(doc.node), "<a k=\"n\"><b>n</b><c/></a>");
    release(v.text);
    Ref z = parseOne("<z/>");
    Val node;
    node.node = z.node;
    insert(doc.node, 1, node);
    EXPECT_EQ(z.node->parent, doc.node); // a root goes in as it is
    insert(doc.node, 0, node);           // one with a parent goes in as a copy
    EXPECT_EQ(markup(doc.node), "<a k=\"n\"><z/><b>n</b><z/><c/></a>");
    Val self;
    self.node = doc.node;
    EXPECT_THROW(insert(z.node, 0, self), Fault);
    remove(doc.node, name("z"));
    remove(doc.node, name("*", true));
    EXPECT_EQ(markup(doc.node), "<a><b>n</b><c/></a>");
    Ref found = get(doc.node, name("*"));
    EXPECT_EQ(found.list->items.n, 2u);
}

// Tree walks keep their own stacks: a deep tree is copied, compared, written and freed.
TEST_F(XmlTree, DeepTreesNeedNoNativeStack) {
    const int depth = 200000;
    std::string text;
    for (int i = 0; i < depth; i++)
        text += "<e>";
    for (int i = 0; i < depth; i++)
        text += "</e>";
    ParseOptions o;
    Vec<Node*> nodes;
    ParseError e;
    EXPECT_FALSE(parse(text.data(), text.size(), o, nodes, &e));
    EXPECT_EQ(e.message, "elements nested too deep");
    nodes.clear();
    // Built by hand past the parser's limit.
    Ref top(newNode(kElement));
    top.node->name.local = intern("e", 1);
    top.node->name.uri = retain(emptyName());
    Node* cur = top.node;
    for (int i = 0; i < depth; i++) {
        Ref k(newNode(kElement));
        setName(k.node->name, cur->name);
        insertKids(cur, 0, &k.node, 1);
        cur = k.node;
    }
    Ref copy(deepCopy(top.node));
    EXPECT_TRUE(equalNodes(top.node, copy.node));
    std::string s;
    writeNode(s, copy.node, Format{false, 0, false});
    EXPECT_EQ(s.size(), size_t(depth) * 7 + 4);
    Ref all = descendants(copy.node, name("e"));
    EXPECT_EQ(all.list->items.n, size_t(depth));
}

TEST_F(XmlTree, MemoryLimitThrowsAndFreesWhatWasBuilt) {
    std::string text = "<a>";
    for (size_t i = 0; i < kMemoryLimit / 100; i++)
        text += "<b/>";
    text += "</a>";
    Vec<Node*> nodes;
    ParseError e;
    EXPECT_THROW(parse(text.data(), text.size(), ParseOptions(), nodes, &e), Exhausted);
    EXPECT_EQ(nodes.n, 0u);
    nodes.clear();
    EXPECT_LT(memoryInUse(), size_t(1) << 20);
}

TEST_F(XmlTree, NamesAndEscapes) {
    EXPECT_TRUE(isXmlName("a-b.c_d", 7));
    EXPECT_TRUE(isXmlName("\xC3\xA9t\xC3\xA9", 5));
    EXPECT_FALSE(isXmlName("1a", 2));
    EXPECT_FALSE(isXmlName("a:b", 3));
    EXPECT_FALSE(isXmlName("", 0));
    std::string s;
    escapeAttribute(s, "<&\"\t\n\r>", 7);
    EXPECT_EQ(s, "&lt;&amp;&quot;&#x9;&#xA;&#xD;>");
    s.clear();
    escapeText(s, "{\xC3\xA9}\n", 5, true);
    EXPECT_EQ(s, "&#x7B;&#xE9;&#x7D;&#xA;");
}

} // namespace

// The writer's bindings end with their element: a prefix rebound inside a child is bound
// again to its outer uri in the child's next sibling, and a shadowed prefix is not used.
TEST_F(XmlTree, BindingsEndWithTheirElement) {
    const std::pair<const char*, const char*> cases[] = {
        {"<p:a xmlns:p=\"u\"><p:b xmlns:p=\"v\"/><p:c/></p:a>",
         "<p:a xmlns:p=\"u\"><p:b xmlns:p=\"v\"/><p:c/></p:a>"},
        {"<a xmlns:p=\"u\" xmlns:q=\"u\"><b xmlns:p=\"v\"><q:c/></b><p:d/></a>",
         "<a xmlns:p=\"u\" xmlns:q=\"u\"><b xmlns:p=\"v\"><q:c/></b><p:d/></a>"},
        {"<a xmlns=\"u\"><b xmlns=\"\"/><c/></a>", "<a xmlns=\"u\"><b xmlns=\"\"/><c/></a>"},
    };
    for (const auto& c : cases) {
        Ref r = parseOne(c.first);
        EXPECT_EQ(markup(r.node), c.second) << c.first;
    }
}
