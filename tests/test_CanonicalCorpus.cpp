// Canonical XML against an independent implementation: every document of the conformance suite
// that both this library and xmllint load is canonicalised by both and the bytes compared.
// xmllint runs as a process per document.
#include "CorpusSupport.h"

#include <cstdio>
#include <map>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;
using namespace xercesc;

namespace {

// Removes every comment under node; false where one cannot go (inside an entity reference).
bool DropComments(DOMNode* node) {
    try {
        for (DOMNode *child = node->getFirstChild(), *next = nullptr; child; child = next) {
            next = child->getNextSibling();
            if (child->getNodeType() == DOMNode::COMMENT_NODE)
                node->removeChild(child)->release();
            else if (!DropComments(child))
                return false;
        }
        return true;
    } catch (const DOMException&) {
        return false;
    }
}

// Documents whose canonical forms differ for a reason outside canonicalisation are listed with
// it in tests/data/c14n-differences.tsv; a listed document that becomes identical fails the test.
// The form without comments (which xmllint does not write) is our form with comments of the same
// tree without its comments.
TEST(CanonicalCorpus, MatchesXmllintByteForByte) {
    const ConformanceSuite& suite = Suite();
    if (!suite.folder) GTEST_SKIP() << SuiteMissing();
    const std::string xmllint = "/usr/bin/xmllint";
    if (::access(xmllint.c_str(), X_OK) != 0) GTEST_SKIP() << "xmllint is not installed (Debian: libxml2-utils)";
    ASSERT_EQ(suite.status, 0) << "could not unpack the suite";
    std::map<std::string, std::string> known;
    for (const auto& row : ReadRows(KELXML_TEST_DATA "/c14n-differences.tsv")) known[row.at(0)] = row.at(1);
    TempDir scratch;
    const std::string output = scratch.File("c14n");
    std::size_t compared = 0, identical = 0;
    std::string report;
    for (const Expected& e : suite.expected) {
        if (e.outcome > Outcome::error) continue;
        const std::string path = suite.root + "/" + e.path;
        XML::CKelXML doc;
        XML::sLoadOptions options;
        options.eMode = XML::E_LOAD_DTD_DEFAULTS;  // as format --c14n reads: defaults and entities, no validation
        doc.Load(path.c_str(), options);
        std::string ours, without, stripped;
        const bool written = doc.GetCanonicalXML(doc.GetDocument(), true, ours) &&
                             doc.GetCanonicalXML(doc.GetDocument(), false, without);
        if (written && DropComments(doc.GetDocument()) && doc.GetCanonicalXML(doc.GetDocument(), true, stripped) &&
            stripped != without)
            report += e.id + ": without comments differs from the form of the tree without them\n";
        if (RunIn(suite.root, xmllint + " --nonet --c14n '" + path + "' > '" + output + "' 2>/dev/null") != 0)
            continue;  // xmllint refuses
        if (!written) {
            report += e.id + " " + e.path + ": refused: " + Records(doc).back().strMessage + "\n";
            continue;
        }
        ++compared;
        const bool same = ours == ReadFile(output);
        identical += same;
        if (same == (known.count(e.id) != 0))
            report += e.id + " " + e.path + (same ? ": listed but identical\n" : ": differs from xmllint\n");
    }
    std::printf("[ c14n     ] %zu documents compared, %zu identical, the others listed\n", compared, identical);
    EXPECT_GT(compared, 1000u);
    EXPECT_EQ(report, "");
}

}  // namespace
