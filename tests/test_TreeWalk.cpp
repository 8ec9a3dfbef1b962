// The iterative walks: document order, tag search, child lookup and the depth check.
#include "TestSupport.h"

#include "XML/internal/TreeWalk.h"

#include <string>
#include <vector>

using namespace XML::internal;
using kelxml_test::Loaded;

namespace {

// Node names of root's subtree in the order NextBelow visits them.
std::string Order(const xercesc::DOMNode* root, bool skipComments) {
    std::string names;
    for (const xercesc::DOMNode* n = root->getFirstChild(); n;) {
        names += XML::XStr::ToLocal(n->getNodeName()) + " ";
        const bool descend = !(skipComments && n->getNodeType() == xercesc::DOMNode::COMMENT_NODE);
        n = NextBelow(n, root, descend);
    }
    return names;
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

}  // namespace

TEST(TreeWalk, NextBelowIsDocumentOrderAndStaysInsideRoot) {
    Loaded in("<r><a><b/><c>t</c></a><d/></r>");
    EXPECT_EQ(Order(in.root, false), "a b c #text d ");
    const auto* a = in.root->getFirstChild();
    EXPECT_EQ(Order(a, false), "b c #text ");  // never walks on to a's sibling d
}

TEST(TreeWalk, ForEachTagBelowMatchesQualifiedNamesAndStar) {
    Loaded in("<r xmlns:p='urn:p'><p:i/><i><i/></i><!--i--><j/></r>");
    const struct {
        const char* name;
        int count;
    } cases[] = {{"i", 2}, {"p:i", 1}, {"*", 4}, {"#comment", 0}, {"r", 0}};
    for (const auto& c : cases) {
        int count = 0;
        ForEachTagBelow(in.root, c.name, [&count](const xercesc::DOMNode*) { return ++count, true; });
        EXPECT_EQ(count, c.count) << c.name;
    }
    int visited = 0;
    ForEachTagBelow(in.root, "*", [&visited](const xercesc::DOMNode*) { return ++visited, false; });
    EXPECT_EQ(visited, 1);  // false stops the walk
}

TEST(TreeWalk, FindChildTakesAnyKindAndRefusesNull) {
    Loaded in("<r><!--c--><x/>text<x id='2'/></r>");
    EXPECT_EQ(FindChild(in.root, "x"), in.root->getFirstChild()->getNextSibling());
    EXPECT_NE(FindChild(in.root, "#comment"), nullptr);
    EXPECT_NE(FindChild(in.root, "#text"), nullptr);
    EXPECT_EQ(FindChild(in.root, "y"), nullptr);
    EXPECT_EQ(FindChild(nullptr, "x"), nullptr);
    EXPECT_EQ(FindChild(in.root, nullptr), nullptr);
}

TEST(TreeWalk, DeeperThanCountsElementsFromTop) {
    Loaded in(Nested(50));
    EXPECT_FALSE(DeeperThan(in.root, 50));
    EXPECT_TRUE(DeeperThan(in.root, 49));
    EXPECT_FALSE(DeeperThan(in.root->getFirstChild(), 49));
    EXPECT_FALSE(DeeperThan(nullptr, 0));
}

// The stack-keeping walk visits exactly what NextBelow visits, also past its inline depth, from
// any subtree root, and with comments' children skipped or not.
TEST(TreeWalk, PreOrderWalkVisitsWhatNextBelowVisits) {
    const std::string documents[] = {
        "<r><a><b/><c>t</c></a><d/></r>",
        "<r>x<!--c--><?p d?><a>y<![CDATA[z]]><b><c/></b></a>w</r>",
        "<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT b EMPTY><!ELEMENT i ANY>"
        "<!ENTITY e '<i>in</i>text'>]><r><a>&e;</a>&e;<b/></r>",
        "<r>" + Nested(70) + "<after/>" + Nested(40) + "</r>",
    };
    for (const auto& text : documents) {
        Loaded in(text);
        for (const xercesc::DOMNode* root = in.root; root; root = root->getFirstChild()) {
            for (const bool skipComments : {false, true}) {
                std::string walked;
                for (PreOrderWalk walk(root); walk.Current();) {
                    walked += XML::XStr::ToLocal(walk.Current()->getNodeName()) + " ";
                    walk.Next(!(skipComments && walk.Current()->getNodeType() == xercesc::DOMNode::COMMENT_NODE));
                }
                EXPECT_EQ(walked, Order(root, skipComments)) << text;
            }
        }
    }
}

TEST(TreeWalk, DeeperThanPastTheInlineStackAndAcrossSiblings) {
    Loaded in("<r>" + Nested(40) + "<s>" + Nested(90) + "</s><t/></r>");
    EXPECT_FALSE(DeeperThan(in.root, 92));
    EXPECT_TRUE(DeeperThan(in.root, 91));
    EXPECT_FALSE(DeeperThan(in.root->getFirstChild(), 40));  // the first branch alone
}
