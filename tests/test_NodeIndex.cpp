// The index of a document's walk: only for a registered document, built within the budget it is
// given, kept while Xerces counts no change, gone once the document is forgotten. Results after
// edits and reloads through the library are rows of data/xpath_cases.txt.
#include "TestSupport.h"

#include "XML/internal/NodeIndex.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

using namespace XML::internal;
using xercesc::DOMNode;

namespace {

// Every node below root in document order, going down into each that has children.
bool WalkAll(const DOMNode* root, NodeIndex::Recorder& recorder) {
    for (const DOMNode* n = root->getFirstChild(); n; n = n->getNextSibling()) {
        if (!recorder.Give(n, n->getNodeType())) return false;
        if (!n->hasChildNodes()) continue;
        recorder.Down(n, n->getNodeType());
        if (!WalkAll(n, recorder)) return false;
        recorder.Up();
    }
    return true;
}

TEST(NodeIndex, KeptWhileUnchangedOnlyForRegisteredDocuments) {
    xercesc::XercesDOMParser parser;
    const std::string text = "<r><e>a</e><!--c--><e>b<e/></e>t</r>";
    parser.parse(xercesc::MemBufInputSource(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "doc"));
    xercesc::DOMDocument* const doc = parser.getDocument();
    std::size_t built = 0;
    EXPECT_EQ(AcquireIndex(doc, 100, WalkAll, built), nullptr);
    EXPECT_EQ(built, 0u);
    RegisterDocument(doc);
    EXPECT_EQ(AcquireIndex(doc, 5, WalkAll, built), nullptr);  // past its budget: none, its cost told
    EXPECT_EQ(built, 5u);
    const std::shared_ptr<const NodeIndex> index = AcquireIndex(doc, 100, WalkAll, built);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(built, 8u);  // r, e, "a", #comment, e, "b", e, "t"
    const NodeIndex::Entry& second = index->Entries()[4];
    EXPECT_TRUE(second.flags & NodeIndex::kOpens && second.end == 7 && index->Entries()[0].end == 8);
    EXPECT_EQ(AcquireIndex(doc, 100, WalkAll, built), index);
    EXPECT_EQ(built, 0u);
    // A new value is not counted as a change: the index holds none.
    doc->getDocumentElement()->getFirstChild()->getFirstChild()->setNodeValue(u"z");
    EXPECT_EQ(CurrentIndex(doc), index);
    doc->getDocumentElement()->appendChild(doc->createElement(u"e"));
    EXPECT_EQ(CurrentIndex(doc), nullptr);
    const std::shared_ptr<const NodeIndex> again = AcquireIndex(doc, 100, WalkAll, built);
    EXPECT_TRUE(again && again != index && built == 9u);
    ForgetDocument(doc);
    EXPECT_EQ(CurrentIndex(doc), nullptr);
    EXPECT_EQ(AcquireIndex(doc, 100, WalkAll, built), nullptr);
}

}  // namespace
