// Canonical XML 1.0: the rules that are easy to get wrong (namespace propagation, attribute and
// namespace order, escaping per context, the subset apex, comments beside the document element),
// then the library operations that hand the bytes out or write them.
#include "TestSupport.h"

#include "XML/internal/Canonical.h"

using namespace kelxml_test;
using namespace xercesc;

namespace {

// Loads text (validity errors allowed: many cases declare only what they need) and returns the
// canonical form of the node that pick finds, or "FAILED: reason".
template <class Pick>
std::string Canonical(const std::string& text, bool withComments, Pick pick) {
    XML::CKelXML doc;
    LoadText(doc, text);
    for (const XML::sError& r : Records(doc))
        if (r.eType == XML::E_FATAL_ERROR || r.eType == XML::E_EXCEPTION) return "NOT LOADED: " + r.strMessage;
    std::string out, error;
    if (!XML::internal::AppendCanonicalXML(pick(doc.GetDocument()), withComments, out, error))
        return "FAILED: " + error;
    return out;
}

std::string WholeDocument(const std::string& text, bool withComments = true) {
    return Canonical(text, withComments, [](DOMDocument* d) -> const DOMNode* { return d; });
}

// The first element called name, as a subset apex.
std::string Subset(const std::string& text, const char* name) {
    return Canonical(text, true, [name](DOMDocument* d) -> const DOMNode* {
        return d->getElementsByTagName(XML::XStr(name).unicodeForm())->item(0);
    });
}

struct Case {
    const char* what;
    std::string input;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class WholeDocuments : public ::testing::TestWithParam<Case> {};

TEST_P(WholeDocuments, MatchTheRecommendation) { EXPECT_EQ(WholeDocument(GetParam().input), GetParam().expected); }

// The recommendation's own examples where they need no outside file, and the rules one by one.
INSTANTIATE_TEST_SUITE_P(
    Canonical, WholeDocuments,
    ::testing::Values(
        Case{
            "comments and PIs beside the document element stand on their own lines",
            "<?xml version=\"1.0\"?>\n\n<?xml-stylesheet   href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n\n"
            "<doc>Hello, world!<!-- Comment 1 --></doc>\n\n<?pi-without-data     ?>\n\n<!-- Comment 2 -->\n\n"
            "<!-- Comment 3 -->\n",
            "<?xml-stylesheet href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n<doc>Hello, world!<!-- Comment 1 --></doc>\n"
            "<?pi-without-data?>\n<!-- Comment 2 -->\n<!-- Comment 3 -->"},
        Case{"empty elements, attribute order, superfluous and propagated namespace declarations",
             "<!DOCTYPE doc [<!ATTLIST e9 attr CDATA \"default\">]>\n<doc>\n   <e1   />\n   <e2   ></e2>\n"
             "   <e3   name = \"elem3\"   id=\"elem3\"   />\n   <e4   name=\"elem4\"   id=\"elem4\"   ></e4>\n"
             "   <e5 a:attr=\"out\" b:attr=\"sorted\" attr2=\"all\" attr=\"I'm\"\n      "
             "xmlns:b=\"http://www.ietf.org\"\n"
             "      xmlns:a=\"http://www.w3.org\"\n      xmlns=\"http://example.org\"/>\n"
             "   <e6 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n      <e7 xmlns=\"http://www.ietf.org\">\n"
             "         <e8 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n"
             "            <e9 xmlns=\"\" xmlns:a=\"http://www.ietf.org\"/>\n         </e8>\n      </e7>\n   "
             "</e6>\n</doc>",
             "<doc>\n   <e1></e1>\n   <e2></e2>\n   <e3 id=\"elem3\" name=\"elem3\"></e3>\n"
             "   <e4 id=\"elem4\" name=\"elem4\"></e4>\n"
             "   <e5 xmlns=\"http://example.org\" xmlns:a=\"http://www.w3.org\" xmlns:b=\"http://www.ietf.org\" "
             "attr=\"I'm\" attr2=\"all\" b:attr=\"sorted\" a:attr=\"out\"></e5>\n"
             "   <e6 xmlns:a=\"http://www.w3.org\">\n      <e7 xmlns=\"http://www.ietf.org\">\n         <e8 "
             "xmlns=\"\">\n"
             "            <e9 xmlns:a=\"http://www.ietf.org\" attr=\"default\"></e9>\n         </e8>\n      </e7>\n"
             "   </e6>\n</doc>"},
        Case{"character references, CDATA as text, escaping per context, normalised attribute values",
             "<!DOCTYPE doc [\n<!ATTLIST normId id ID #IMPLIED>\n<!ATTLIST normNames attr NMTOKENS #IMPLIED>\n]>\n"
             "<doc>\n   <text>First line&#x0d;&#10;Second line</text>\n   <value>&#x32;</value>\n"
             "   <compute><![CDATA[value>\"0\" && value<\"10\" ?\"valid\":\"error\"]]></compute>\n"
             "   <compute expr='value>\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"'>valid</compute>\n"
             "   <norm attr=' &apos;   &#x20;&#13;&#xa;&#9;   &apos; '/>\n"
             "   <normNames attr='   A   &#x20;&#13;&#xa;&#9;   B   '/>\n"
             "   <normId id=' &apos;   &#x20;&#13;&#xa;&#9;   &apos; '/>\n</doc>",
             "<doc>\n   <text>First line&#xD;\nSecond line</text>\n   <value>2</value>\n"
             "   <compute>value&gt;\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"</compute>\n"
             "   <compute expr=\"value>&quot;0&quot; &amp;&amp; value&lt;&quot;10&quot; ?&quot;valid&quot;:"
             "&quot;error&quot;\">valid</compute>\n"
             "   <norm attr=\" '    &#xD;&#xA;&#x9;   ' \"></norm>\n"
             "   <normNames attr=\"A &#xD;&#xA;&#x9; B\"></normNames>\n"
             "   <normId id=\"' '\"></normId>\n</doc>"},
        Case{"token values: enumerations trimmed, referenced whitespace kept in lists and in the start tag's source",
             "<!DOCTYPE doc [<!ATTLIST doc a NMTOKENS #IMPLIED e (x|y) #IMPLIED n NOTATION (m) #IMPLIED>"
             "<!NOTATION m SYSTEM 'm'>]><doc e=' x ' a=' &#xd;&#xd;A&#xa; b &lt;' n='  m'/>",
             "<doc a=\"&#xD;&#xD;A&#xA; b &lt;\" e=\"x\" n=\"m\"></doc>"},
        Case{"a prefixed attribute the DTD defaults, which the parser gives twice, is written once",
             "<!DOCTYPE doc [<!ATTLIST doc xmlns:t CDATA #FIXED 'http://t' t:a (0|1) '1'>]><doc a='1'/>",
             "<doc xmlns:t=\"http://t\" a=\"1\" t:a=\"1\"></doc>"},
        Case{"entity references expanded, markup in them included, the document type dropped",
             "<!DOCTYPE doc [<!ENTITY ent1 \"Hello\"><!ENTITY ent2 \"<b a='&#38;#60;'>w&#38;amp;</b>\">]>\n"
             "<doc>&ent1;, &ent2;!</doc>",
             "<doc>Hello, <b a=\"&lt;\">w&amp;</b>!</doc>"},
        Case{"other encodings come out as UTF-8",
             std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<doc>&#169;\xE9</doc>"),
             "<doc>\xC2\xA9\xC3\xA9</doc>"},
        Case{"characters beyond the 16-bit plane", "<doc a='&#x1F600;'>&#x10000;</doc>",
             "<doc a=\"\xF0\x9F\x98\x80\">\xF0\x90\x80\x80</doc>"},
        Case{"line breaks normalised by reading, a literal CR only by reference",
             "<doc a='x\r\ny'>1\r\n2\r3&#13;</doc>", "<doc a=\"x y\">1\n2\n3&#xD;</doc>"},
        Case{"no-namespace attributes first, then by namespace URI, then local name",
             "<doc xmlns:z='http://a' xmlns:a='http://b' a:y='1' z:y='2' b='3' z:a='4' xml:lang='en'/>",
             "<doc xmlns:a=\"http://b\" xmlns:z=\"http://a\" b=\"3\" z:a=\"4\" z:y=\"2\" a:y=\"1\" "
             "xml:lang=\"en\"></doc>"},
        Case{"a redeclaration with the same URI is dropped, a different one kept",
             "<a xmlns:p='http://p'><b xmlns:p='http://p'><c xmlns:p='http://q'/></b></a>",
             "<a xmlns:p=\"http://p\"><b><c xmlns:p=\"http://q\"></c></b></a>"},
        Case{"xmlns=\"\" only where it undoes a default namespace",
             "<a xmlns=''><b xmlns='http://d'><c xmlns=''><d xmlns=''/></c></b></a>",
             "<a><b xmlns=\"http://d\"><c xmlns=\"\"><d></d></c></b></a>"},
        Case{"the xml prefix is never declared",
             "<a xmlns:xml='http://www.w3.org/XML/1998/namespace' xml:space='preserve'/>",
             "<a xml:space=\"preserve\"></a>"},
        Case{"characters that need no escape stay", "<a b=\"'&gt;\">'\"</a>", "<a b=\"'>\">'\"</a>"}));

TEST(Canonical, CommentsAreDroppedWithTheirLineFeeds) {
    EXPECT_EQ(WholeDocument("<!--a--><?p?><!--b--><doc><!--c-->x</doc><!--d--><?q?>", false),
              "<?p?>\n<doc>x</doc>\n<?q?>");
    EXPECT_EQ(WholeDocument("<!--a--><doc/><!--d-->", false), "<doc></doc>");
}

struct SubsetCase {
    const char* what;
    const char* apex;
    std::string expected;
};

void PrintTo(const SubsetCase& c, std::ostream* os) { *os << c.what; }

class Subsets : public ::testing::TestWithParam<SubsetCase> {};

const char kNested[] =
    "<!--top--><a xmlns='http://a' xmlns:p='http://p' xml:lang='en' xml:space='default' p:x='0'>"
    "<b xml:space='preserve' xmlns:q='http://q'><!--in--><c p:x='1' xmlns:p='http://p'><d xmlns=''/></c></b>"
    "<e xmlns=''><f xml:lang='fr'/></e></a>";

TEST_P(Subsets, ApexCarriesItsContext) { EXPECT_EQ(Subset(kNested, GetParam().apex), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Canonical, Subsets,
    ::testing::Values(
        SubsetCase{"the document element is the whole document less what stands beside it", "a",
                   "<a xmlns=\"http://a\" xmlns:p=\"http://p\" p:x=\"0\" xml:lang=\"en\" xml:space=\"default\">"
                   "<b xmlns:q=\"http://q\" xml:space=\"preserve\"><!--in--><c p:x=\"1\"><d xmlns=\"\"></d></c></b>"
                   "<e xmlns=\"\"><f xml:lang=\"fr\"></f></e></a>"},
        SubsetCase{"the apex declares every namespace in scope and inherits the nearest xml:* attributes", "c",
                   "<c xmlns=\"http://a\" xmlns:p=\"http://p\" xmlns:q=\"http://q\" p:x=\"1\" xml:lang=\"en\" "
                   "xml:space=\"preserve\"><d xmlns=\"\"></d></c>"},
        SubsetCase{"no xmlns=\"\" on an apex without default namespace; its own xml:* attributes win", "f",
                   "<f xmlns:p=\"http://p\" xml:lang=\"fr\" xml:space=\"default\"></f>"},
        SubsetCase{"an undeclared default namespace at the apex", "d",
                   "<d xmlns:p=\"http://p\" xmlns:q=\"http://q\" xml:lang=\"en\" xml:space=\"preserve\"></d>"}));

TEST(Canonical, OtherNodesAsSubsets) {
    const std::string text = "<!--top--><?pi d?><a>x &amp; <![CDATA[<y>]]><!--c--></a><!--end-->";
    const auto child = [](int index) {
        return [index](DOMDocument* d) -> const DOMNode* { return d->getChildNodes()->item(index); };
    };
    EXPECT_EQ(Canonical(text, true, child(0)), "<!--top-->\n");
    EXPECT_EQ(Canonical(text, true, child(1)), "<?pi d?>\n");
    EXPECT_EQ(Canonical(text, true, child(3)), "\n<!--end-->");
    EXPECT_EQ(Canonical(text, false, child(3)), "");
    EXPECT_EQ(Canonical(text, true,
                        [](DOMDocument* d) -> const DOMNode* {
                            return d->getDocumentElement()->getFirstChild()->getNextSibling();
                        }),
              "&lt;y&gt;");
}

TEST(Canonical, RefusesWhatHasNoCanonicalForm) {
    EXPECT_EQ(WholeDocument("<a xmlns='foo'/>"), "FAILED: the namespace URI 'foo' is relative");
    EXPECT_EQ(WholeDocument("<a><b xmlns:p='../p'/></a>"), "FAILED: the namespace URI '../p' is relative");
    EXPECT_EQ(Canonical("<!DOCTYPE a []><a/>", true, [](DOMDocument* d) -> const DOMNode* { return d->getDoctype(); }),
              "FAILED: a node of this kind has no canonical form");
    EXPECT_EQ(
        Canonical("<a b='1'/>", true,
                  [](DOMDocument* d) -> const DOMNode* { return d->getDocumentElement()->getAttributeNode(u"b"); }),
        "FAILED: a node of this kind has no canonical form");
}

// Depth costs no stack: a tree far deeper than any loaded one, built through the DOM.
TEST(Canonical, DeepTreeIsWrittenIteratively) {
    Loaded loaded("<r/>");
    DOMDocument* document = loaded.doc.GetDocument();
    DOMNode* node = loaded.root;
    const int depth = 200000;
    for (int i = 0; i < depth; ++i) node = node->appendChild(document->createElement(u"e"));
    node->appendChild(document->createTextNode(u"&"));
    std::string out, error;
    ASSERT_TRUE(XML::internal::AppendCanonicalXML(document, false, out, error)) << error;
    std::string expected = "<r>";
    for (int i = 0; i < depth; ++i) expected += "<e>";
    expected += "&amp;";
    for (int i = 0; i < depth; ++i) expected += "</e>";
    EXPECT_EQ(out, expected + "</r>");
}

TEST(Canonical, UnpairedSurrogateIsRefused) {
    Loaded loaded("<r/>");
    const XMLCh broken[] = {u'a', 0xD800, u'b', 0};
    loaded.root->appendChild(loaded.doc.GetDocument()->createTextNode(broken));
    std::string out, error;
    EXPECT_FALSE(XML::internal::AppendCanonicalXML(loaded.doc.GetDocument(), true, out, error));
    EXPECT_EQ(error, "a text holds an unpaired surrogate");
}

// --- The library operations -----------------------------------------------------------

TEST(CanonicalXML, GetAndSaveGiveTheSameBytes) {
    TempDir dir;
    Loaded loaded("<?xml version='1.0' encoding='ISO-8859-1'?><!--c--><r b='2' a='1'>\xE9<x/></r>");
    std::string text = "untouched";
    ASSERT_TRUE(loaded.doc.GetCanonicalXML(loaded.doc.GetDocument(), true, text));
    EXPECT_EQ(text, "<!--c-->\n<r a=\"1\" b=\"2\">\xC3\xA9<x></x></r>");
    ASSERT_TRUE(loaded.doc.SaveCanonicalXML(dir.File("all.xml").c_str(), false));
    EXPECT_EQ(ReadFile(dir.File("all.xml")), "<r a=\"1\" b=\"2\">\xC3\xA9<x></x></r>");
    ASSERT_TRUE(loaded.doc.SaveCanonicalXML(dir.File("x.xml").c_str(), loaded.root->getLastChild(), true));
    EXPECT_EQ(ReadFile(dir.File("x.xml")), "<x></x>");
    EXPECT_TRUE(Records(loaded.doc).empty());
}

TEST(CanonicalXML, FailuresAreRecordedAndLeaveTheOutputsAlone) {
    TempDir dir;
    XML::CKelXML empty;
    EXPECT_FALSE(empty.SaveCanonicalXML(dir.File("none.xml").c_str(), true));
    ASSERT_EQ(Records(empty).size(), 1u);
    EXPECT_EQ(Records(empty)[0].strMessage, "DOMDOCUMENT undefined");

    XML::CKelXML doc;
    LoadText(doc, "<a xmlns='rel'/>");
    std::string text = "untouched";
    EXPECT_FALSE(doc.GetCanonicalXML(doc.GetDocument(), true, text));
    EXPECT_EQ(text, "untouched");
    EXPECT_FALSE(doc.GetCanonicalXML(nullptr, true, text));
    WriteFile(dir.File("old.xml"), "old");
    EXPECT_FALSE(doc.SaveCanonicalXML(dir.File("old.xml").c_str(), true));
    EXPECT_FALSE(doc.SaveCanonicalXML(nullptr, true));
    EXPECT_EQ(ReadFile(dir.File("old.xml")), "old");
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
    EXPECT_EQ(records[0].strMessage, "no canonical XML: the namespace URI 'rel' is relative");
    EXPECT_EQ(records[1].strMessage, "node undefined");
    EXPECT_EQ(records[2].strMessage, records[0].strMessage);
    EXPECT_EQ(records[3].strMessage, "file name undefined");

    Loaded fine("<a/>");
    EXPECT_FALSE(fine.doc.SaveCanonicalXML(dir.File("no/such/dir.xml").c_str(), true));
    ASSERT_EQ(Records(fine.doc).size(), 1u);
    EXPECT_EQ(Records(fine.doc)[0].strMessage.rfind("unable to save '" + dir.File("no/such/dir.xml") + "': ", 0), 0u);
}

}  // namespace
