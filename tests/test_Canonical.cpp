// Canonical XML 1.0: the rules that are easy to get wrong, as rows of tests/data/c14n-cases.tsv;
// trees no parser makes; the library operations that hand the bytes out or write them.
#include "CorpusSupport.h"

#include "XML/internal/Canonical.h"

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;
using namespace xercesc;

namespace {

// The node a row names (see the data file).
const DOMNode* Pick(DOMDocument* d, const std::string& s) {
    if (s.empty()) return d;
    if (s == "!") return d->getDoctype();
    if (s[0] == '#') return d->getChildNodes()->item(std::stoul(s.substr(1)));
    if (s[0] == '@') return d->getDocumentElement()->getAttributeNode(XML::XStr(s.substr(1).c_str()).unicodeForm());
    const std::size_t slash = s.find('/');
    const DOMNode* e = d->getElementsByTagName(XML::XStr(s.substr(0, slash).c_str()).unicodeForm())->item(0);
    return slash == std::string::npos || !e ? e : e->getChildNodes()->item(std::stoul(s.substr(slash + 1)));
}

std::string Canonical(const DOMNode* node, bool withComments) {
    std::string out, error;
    return XML::internal::AppendCanonicalXML(node, withComments, out, error) ? out : "FAILED: " + error;
}

}  // namespace

TEST(Canonical, Cases) {
    const auto rows = ReadRows(KELXML_TEST_DATA "/c14n-cases.tsv", true);
    ASSERT_GE(rows.size(), 29u);
    for (std::vector<std::string> row : rows) {
        row.resize(5);
        SCOPED_TRACE(row[0]);
        XML::CKelXML doc;
        LoadText(doc, row[3]);  // validity errors allowed: many cases declare only what they need
        for (const XML::sError& r : Records(doc)) ASSERT_LT(r.eType, XML::E_FATAL_ERROR) << r.strMessage;
        const DOMNode* node = Pick(doc.GetDocument(), row[1]);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(Canonical(node, row[2] == "1"), row[4]);
    }
}

// Depth costs no stack: a tree far deeper than any loaded one. An unpaired surrogate is refused.
TEST(Canonical, TreesBuiltThroughTheDOM) {
    Loaded loaded("<r/>");
    DOMDocument* document = loaded.doc.GetDocument();
    DOMNode* node = loaded.root;
    const int depth = 200000;
    for (int i = 0; i < depth; ++i) node = node->appendChild(document->createElement(u"e"));
    node->appendChild(document->createTextNode(u"&"));
    std::string expected = "<r>";
    for (int i = 0; i < depth; ++i) expected += "<e>";
    expected += "&amp;";
    for (int i = 0; i < depth; ++i) expected += "</e>";
    EXPECT_EQ(Canonical(document, false), expected + "</r>");
    const XMLCh broken[] = {u'a', 0xD800, u'b', 0};
    node->appendChild(document->createTextNode(broken));
    EXPECT_EQ(Canonical(document, true), "FAILED: a text holds an unpaired surrogate");
}

// GetCanonicalXML and SaveCanonicalXML give the same bytes; their failures are recorded and leave
// the string and the file alone.
TEST(CanonicalXML, GetAndSave) {
    TempDir dir;
    const std::string file = dir.File("x.xml");
    Loaded loaded("<?xml version='1.0' encoding='ISO-8859-1'?><!--c--><r b='2' a='1'>\xE9<x/></r>");
    std::string text;
    EXPECT_TRUE(loaded.doc.GetCanonicalXML(loaded.doc.GetDocument(), true, text));
    EXPECT_EQ(text, "<!--c-->\n<r a=\"1\" b=\"2\">\xC3\xA9<x></x></r>");
    EXPECT_TRUE(loaded.doc.SaveCanonicalXML(file.c_str(), false));
    EXPECT_EQ(ReadFile(file), "<r a=\"1\" b=\"2\">\xC3\xA9<x></x></r>");
    EXPECT_TRUE(loaded.doc.SaveCanonicalXML(file.c_str(), loaded.root->getLastChild(), true));
    EXPECT_EQ(ReadFile(file), "<x></x>");
    EXPECT_FALSE(loaded.doc.SaveCanonicalXML(dir.File("no/such/dir.xml").c_str(), true));
    EXPECT_EQ(Dump(loaded.doc).rfind("3: unable to save '" + dir.File("no/such/dir.xml") + "': ", 0), 0u);

    XML::CKelXML doc;
    EXPECT_FALSE(doc.SaveCanonicalXML(file.c_str(), true));
    EXPECT_EQ(Dump(doc), "4: DOMDOCUMENT undefined\n");
    LoadText(doc, "<a xmlns='rel'/>");
    EXPECT_FALSE(doc.GetCanonicalXML(doc.GetDocument(), true, text) || doc.GetCanonicalXML(nullptr, true, text) ||
                 doc.SaveCanonicalXML(file.c_str(), true) || doc.SaveCanonicalXML(nullptr, true));
    EXPECT_EQ(text, "<!--c-->\n<r a=\"1\" b=\"2\">\xC3\xA9<x></x></r>");
    EXPECT_EQ(ReadFile(file), "<x></x>");
    const std::string relative = "3: no canonical XML: the namespace URI 'rel' is relative\n";
    EXPECT_EQ(Dump(doc), relative + "4: node undefined\n" + relative + "4: file name undefined\n");

    // Written in blocks of 64 KiB: the bytes of the whole text; a refusal after blocks went out
    // keeps the old file.
    std::string big = "<r xmlns:p='urn:p'>";
    for (int i = 0; i < 20000; ++i) big += "<e p:a='" + std::to_string(i) + "'>t&#xE9;</e>";
    Loaded large(big + "</r>"), refused(big + "<z xmlns='rel'/></r>");
    ASSERT_TRUE(large.doc.GetCanonicalXML(large.doc.GetDocument(), false, text));
    EXPECT_TRUE(large.doc.SaveCanonicalXML(file.c_str(), false));
    EXPECT_EQ(ReadFile(file), text);
    EXPECT_FALSE(refused.doc.SaveCanonicalXML(file.c_str(), false));
    EXPECT_EQ(ReadFile(file), text);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"x.xml"});
}
