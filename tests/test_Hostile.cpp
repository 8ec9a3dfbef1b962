// Hostile trees and sizes beyond what the load budget bounds (data/load_limits.tsv holds those):
// a tree too deep to save, and a text node the process has no memory for.
#include "TestSupport.h"

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;

namespace {

// Save refuses what Load would refuse, counting from the node it is given, so that what it
// writes loads again.
TEST(Nesting, SaveRefusesATreeDeeperThanTheBound) {
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("root"));
    xercesc::DOMDocument* dom = doc.GetDocument();
    const XML::XStr name("d");
    // Built bottom up, as a detached chain: appending costs nothing per level.
    xercesc::DOMElement* top = dom->createElement(name.unicodeForm());
    xercesc::DOMElement* shallow = nullptr;  // 999 levels of elements from here down
    for (int level = 1; level < 300000; ++level) {
        xercesc::DOMElement* parent = dom->createElement(name.unicodeForm());
        parent->appendChild(top);
        top = parent;
        if (level == 998) shallow = top;
    }
    dom->getDocumentElement()->appendChild(dom->createElement(name.unicodeForm()));  // a shallow sibling first
    dom->getDocumentElement()->appendChild(top);
    TempDir dir;
    const std::string file = dir.File("deep.xml");
    for (const bool canonical : {false, true}) {
        EXPECT_FALSE(doc.Save(file.c_str(), canonical));
        EXPECT_EQ(Records(doc).back().strMessage, "elements nested deeper than 1000 levels cannot be saved");
    }
    EXPECT_TRUE(dir.List().empty());
    XML::CKelXML part;
    ASSERT_TRUE(doc.Save(file.c_str(), shallow, false)) << Dump(doc);
    EXPECT_TRUE(part.Load(file.c_str(), false)) << Dump(part);
    ASSERT_TRUE(doc.Save(file.c_str(), shallow->getParentNode(), true)) << Dump(doc);  // 1000 levels
    EXPECT_TRUE(part.Load(file.c_str(), false)) << Dump(part);
    EXPECT_FALSE(doc.Save(file.c_str(), shallow->getParentNode()->getParentNode(), true));
}

// A 1 GiB text node in a process allowed 512 MiB beyond the document itself: the allocation
// fails inside the parser, and Load reports it instead of crashing.
TEST(Sizes, GibibyteTextNodeOutOfMemoryIsAFailedLoad) {
    if (UnderAddressSanitizer()) GTEST_SKIP() << "the address sanitizer reserves terabytes: no RLIMIT_AS under it";
    constexpr std::size_t kText = std::size_t{1} << 30;
    const std::string outcome = RunInChild(
        [] {
            std::string text = "<r>";
            text.reserve(kText + 8);
            text.append(kText, 'x').append("</r>");
            XML::CKelXML doc;
            const bool loaded = LoadText(doc, text);
            const std::string verdict = Verdict(doc, loaded, "3:out of memory", "");
            return verdict + (LoadText(doc, "<r/>") ? "" : " and broken");
        },
        120, kText + (std::size_t{512} << 20));
    EXPECT_EQ(outcome, "ok");
}

}  // namespace
