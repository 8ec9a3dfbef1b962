// LoopElements used against itself: a functor that edits or replaces the tree it walks, and
// attribute counts that would allocate gigabytes.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

class Calls : public XML::TFunctor {
public:
    explicit Calls(std::function<bool(xercesc::DOMNode*)> action) : m_action(std::move(action)) {}
    bool operator()(xercesc::DOMNode* node, std::string, std::string text, std::string*, void*) override {
        texts.push_back(text);
        return m_action(node);
    }
    std::vector<std::string> texts;

private:
    std::function<bool(xercesc::DOMNode*)> m_action;
};

const char* const kFive = "<r><e>1</e><e>2</e><e>3</e><e>4</e><e>5</e></r>";

TEST(Walks, AFunctorMayRemoveTheNodeItIsGiven) {
    kelxml_test::Loaded loaded(kFive);
    Calls remove([&](xercesc::DOMNode* node) { return loaded.doc.RemoveChildNode(loaded.root, node) != nullptr; });
    EXPECT_TRUE(XML::CKelXML::LoopElements(&remove, loaded.doc.GetDocument(), "r\\e", nullptr, 0, nullptr, false, false,
                                           false));
    EXPECT_EQ(remove.texts, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(loaded.root->getFirstChild(), nullptr);

    // Removing the next one too loses the place: the walk ends with false, not silently.
    kelxml_test::Loaded again(kFive);
    Calls both([&](xercesc::DOMNode* node) {
        xercesc::DOMNode* next = node->getNextSibling();
        again.doc.RemoveChildNode(again.root, node);
        if (next) again.doc.RemoveChildNode(again.root, next);
        return true;
    });
    EXPECT_FALSE(
        XML::CKelXML::LoopElements(&both, again.doc.GetDocument(), "r\\e", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(both.texts, (std::vector<std::string>{"1"}));
}

TEST(Walks, ReplacingTheWalkedDocumentIsRefused) {
    kelxml_test::Loaded loaded(kFive);
    Calls reload([&](xercesc::DOMNode*) {
        const bool created = loaded.doc.CreateDoc("other");
        return !kelxml_test::LoadText(loaded.doc, "<other/>") && !created && !loaded.doc.Load(nullptr, 4u);
    });
    EXPECT_TRUE(
        XML::CKelXML::LoopElements(&reload, loaded.doc.GetDocument(), "r\\e", nullptr, 0, nullptr, false, true, false));
    EXPECT_EQ(reload.texts.size(), 5u);
    const auto records = kelxml_test::Records(loaded.doc);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().strMessage,
              "the document is being walked by LoopElements: it cannot be replaced during the walk");
    // Another object may load while the walk goes on, and the walked one after it.
    XML::CKelXML other;
    Calls elsewhere([&](xercesc::DOMNode*) { return kelxml_test::LoadText(other, "<x/>"); });
    EXPECT_TRUE(XML::CKelXML::LoopElements(&elsewhere, loaded.doc.GetDocument(), "r\\e", nullptr, 0, nullptr, false,
                                           true, false));
    EXPECT_TRUE(kelxml_test::LoadText(loaded.doc, "<r/>"));
    // Walking the document node's own children counts as well.
    Calls top([&](xercesc::DOMNode*) { return !kelxml_test::LoadText(loaded.doc, "<other/>"); });
    EXPECT_TRUE(
        XML::CKelXML::LoopElements(&top, loaded.doc.GetDocument(), "r", nullptr, 0, nullptr, false, true, false));
    EXPECT_EQ(top.texts.size(), 1u);
}

TEST(Walks, HugeAttributeCountsAreRefusedWithoutAllocating) {
    kelxml_test::Loaded loaded(kFive);
    Calls none([](xercesc::DOMNode*) { return true; });
    std::string name = "v";
    EXPECT_FALSE(XML::CKelXML::LoopElements(&none, loaded.doc.GetDocument(), "r\\e", &name, INT_MAX, nullptr, false,
                                            false, false));
    EXPECT_TRUE(none.texts.empty());
}

}  // namespace
