// XPath: the expression cases of tests/data/xpath_cases.txt (location paths, conversions,
// namespaces, text and entity references, syntax errors), then what the table cannot say:
// variables, the document object's records, depth, nesting.
#include "TestSupport.h"

#include <XML/CKelXML.h>
#include <XML/CXPath.h>

#include <xercesc/dom/DOM.hpp>

#include <fstream>
#include <thread>

using namespace kelxml_test;
using xercesc::DOMNode;
using XML::CKelXML;
using XML::CXPath;

namespace {

std::string Label(const DOMNode* n) {
    std::string text;
    switch (n->getNodeType()) {
    case DOMNode::DOCUMENT_NODE: return "/";
    case DOMNode::ELEMENT_NODE: {
        std::string number;
        CKelXML::GetAttributeValue(n, "n", number);
        return XML::XStr::ToLocal(n->getNodeName()) + (number.empty() ? "" : ":" + number);
    }
    case DOMNode::ATTRIBUTE_NODE:
        return "@" + XML::XStr::ToLocal(n->getNodeName()) + "=" + XML::XStr::ToLocal(n->getNodeValue());
    case DOMNode::COMMENT_NODE: return "#comment";
    case DOMNode::PROCESSING_INSTRUCTION_NODE: return "?" + XML::XStr::ToLocal(n->getNodeName());
    default: CKelXML::GetXPathString(n, "string(.)", text); return "\"" + text + "\"";
    }
}

// What one case gives, written as the table writes it.
std::string Outcome(const std::string& kind, const std::string& expr, const DOMNode* context,
                    const std::map<std::string, std::string>& ns) {
    CXPath xpath;
    if (!xpath.Compile(expr, ns)) {
        const XML::sError& e = xpath.GetErrors()->GetAllErrors().back();
        return "E " + std::to_string(e.nColumn);
    }
    if (kind == "N") {
        std::string out = "N";
        for (const DOMNode* n : xpath.SelectNodes(context)) out += " " + Label(n);
        return out;
    }
    if (kind == "S") {
        std::string s = "<failed>";
        xpath.EvaluateString(context, s);
        return s.empty() ? "S" : "S " + s;
    }
    if (kind == "D") {
        double d = -42;
        return xpath.EvaluateNumber(context, d) ? "D " + CXPath::NumberText(d) : "D <failed>";
    }
    bool b = false;
    return xpath.EvaluateBoolean(context, b) ? std::string("B ") + (b ? "true" : "false") : "B <failed>";
}

TEST(XPath, CasesOfTheTable) {
    std::ifstream in(std::string(KELXML_TEST_DATA) + "/xpath_cases.txt");
    ASSERT_TRUE(in) << "tests/data/xpath_cases.txt missing";
    std::unique_ptr<CKelXML> doc;
    const DOMNode* context = nullptr;
    std::map<std::string, std::string> ns;
    std::string line;
    int number = 0, cases = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line == "doc") {
            std::string text, part;
            while (std::getline(in, part) && part != "end") text += part, ++number;
            ++number;
            doc = std::make_unique<CKelXML>();
            XML::sLoadOptions options;
            options.eMode = XML::E_LOAD_WELL_FORMED;
            ASSERT_TRUE(doc->Load(text.data(), static_cast<unsigned>(text.size()), options)) << Dump(*doc);
            context = doc->GetDocument();
            ns.clear();
            continue;
        }
        ASSERT_TRUE(doc) << "line " << number << ": no document yet";
        if (line.rfind("context ", 0) == 0) {
            context = CKelXML::SelectNode(doc->GetDocument(), line.substr(8).c_str());
            ASSERT_TRUE(context) << "line " << number;
            continue;
        }
        if (line.rfind("ns ", 0) == 0) {
            const std::size_t space = line.find(' ', 3);
            ns[line.substr(3, space - 3)] = line.substr(space + 1);
            continue;
        }
        const std::size_t tab = line.rfind('\t');
        ASSERT_NE(tab, std::string::npos) << "line " << number << ": no tab";
        const std::string expr = line.substr(0, tab), expected = line.substr(tab + 1);
        EXPECT_EQ(Outcome(expected.substr(0, 1), expr, context, ns), expected) << "line " << number << ": " << expr;
        ++cases;
    }
    EXPECT_GT(cases, 250);
}

TEST(XPath, VariablesOfEveryTypeAndUnboundOnes) {
    Loaded l("<r><a>1</a><a>2</a><b>x</b></r>");
    const XML::XPathVariables vars = {
        {"n", XML::sXPathValue::Number(2)},
        {"s", XML::sXPathValue::String("x")},
        {"t", XML::sXPathValue::Boolean(true)},
        {"p:set", XML::sXPathValue::NodeSet(CKelXML::SelectNodes(l.root, "b|a[1]"))},
    };
    const CXPath select("/r/a[. = $n] | $p:set[$t]");
    const std::vector<DOMNode*> nodes = select.SelectNodes(l.root, vars);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(Label(nodes[0]) + Label(nodes[1]) + Label(nodes[2]), "aab");
    std::string text;
    EXPECT_TRUE(CXPath("concat($s, count($p:set))").EvaluateString(l.root, text, vars));
    EXPECT_EQ(text, "x2");

    XML::sXPathValue value;
    std::string reason;
    EXPECT_FALSE(CXPath("$missing + 1").Evaluate(l.root, value, vars, &reason));
    EXPECT_EQ(reason, "unbound variable");
    EXPECT_FALSE(CXPath("$n/a").Evaluate(l.root, value, vars, &reason));
    EXPECT_TRUE(CXPath("$n/a").SelectNodes(l.root, vars).empty());
    EXPECT_FALSE(CXPath().Evaluate(l.root, value));
    EXPECT_FALSE(CXPath("1").Evaluate(nullptr, value));
}

TEST(XPath, DocumentObjectRecordsFailuresAndStaticFormsDoNot) {
    CKelXML none;
    EXPECT_TRUE(none.SelectNodes("/").empty());
    ASSERT_EQ(Records(none).size(), 1u);
    EXPECT_EQ(Records(none)[0].eType, XML::E_MISSING);
    EXPECT_EQ(Records(none)[0].strMessage, "DOMDOCUMENT undefined");

    Loaded l("<r><a n='1'>x</a><a n='2'>y</a></r>");
    std::string text;
    EXPECT_FALSE(l.doc.GetXPathString("//a[", text));
    ASSERT_EQ(Records(l.doc).size(), 1u);
    EXPECT_EQ(Records(l.doc)[0].eType, XML::E_EXCEPTION);
    EXPECT_EQ(Records(l.doc)[0].nColumn, 5u);
    EXPECT_EQ(Records(l.doc)[0].strMessage, "XPath expression error at column 5: expected a location step");

    double number = 0;
    bool boolean = false;
    EXPECT_TRUE(l.doc.GetXPathNumber("sum(//@n)", number));
    EXPECT_EQ(number, 3);
    EXPECT_TRUE(l.doc.GetXPathBoolean("//a = 'y'", boolean));
    EXPECT_TRUE(boolean);
    EXPECT_TRUE(l.doc.GetXPathString("a[2]", text, l.root));
    EXPECT_EQ(text, "y");
    EXPECT_EQ(l.doc.SelectNode("//a[@n=2]/text()")->getNodeValue()[0], u'y');
    EXPECT_EQ(Records(l.doc).size(), 1u);  // successes record nothing

    EXPECT_FALSE(CKelXML::GetXPathString(l.root, "a[", text));
    EXPECT_FALSE(CKelXML::GetXPathString(nullptr, "1", text));
    EXPECT_EQ(CKelXML::SelectNode(l.root, nullptr), nullptr);
    EXPECT_EQ(Records(l.doc).size(), 1u);
}

// A document deeper than any stack: every axis walks it without recursion.
TEST(XPath, DeepDocumentsAreWalkedWithoutRecursion) {
    CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("d"));
    DOMNode* node = doc.GetDocument()->getDocumentElement();
    for (int i = 0; i < 200000; ++i)
        node = i % 1000 == 0 ? doc.AddNewElementNode("d", "t", node) : doc.AddNewElementNode("d", node);
    double number = 0;
    EXPECT_TRUE(doc.GetXPathNumber("count(//d)", number));
    EXPECT_EQ(number, 200001);
    EXPECT_TRUE(doc.GetXPathNumber("count(//d[not(d)]/ancestor::*)", number));
    EXPECT_EQ(number, 200000);
    EXPECT_TRUE(doc.GetXPathNumber("string-length(/)", number));
    EXPECT_EQ(number, 200);
    EXPECT_TRUE(doc.GetXPathNumber("count((//text())[last()]/preceding::node())", number));
    EXPECT_EQ(number, 199);
}

// One compiled expression, several threads, each on a document of its own.
TEST(XPath, OneExpressionServesSeveralThreads) {
    const CXPath query("count(//v[. > 2]) + sum(//v[last()]) + count(//v/following::v | //v/preceding::v)");
    std::vector<std::unique_ptr<Loaded>> docs;
    std::vector<double> results(4, -1);
    for (int t = 0; t < 4; ++t) {
        std::string text = "<r>";
        for (int i = 0; i < 200 * (t + 1); ++i) text += "<a><v>" + std::to_string(i % 5) + "</v></a>";
        docs.push_back(std::make_unique<Loaded>(text + "</r>"));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                double value = 0;
                if (!query.EvaluateNumber(docs[static_cast<std::size_t>(t)]->root, value) ||
                    (round > 0 && value != results[static_cast<std::size_t>(t)]))
                    value = -2;
                results[static_cast<std::size_t>(t)] = value;
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        const double n = 200.0 * (t + 1);
        EXPECT_EQ(results[static_cast<std::size_t>(t)], n * 2 / 5 + n * 2 + n) << t;
    }
}

TEST(XPath, NestingPastTheBoundIsRefused) {
    const auto nested = [](int depth) { return std::string(depth, '(') + "1" + std::string(depth, ')'); };
    EXPECT_TRUE(CXPath(nested(200)).IsCompiled());
    const CXPath deep(nested(100000));
    ASSERT_FALSE(deep.IsCompiled());
    EXPECT_NE(deep.GetErrors()->GetFirstErrorString().find("nested too deeply"), std::string::npos);
    EXPECT_FALSE(CXPath(std::string(100000, '-') + "1").IsCompiled());
    // A chain of operators is as deep as it is long.
    std::string chain = "/";
    for (int i = 0; i < 100000; ++i) chain += "|/";
    const CXPath long_(chain);
    ASSERT_FALSE(long_.IsCompiled());
    EXPECT_NE(long_.GetErrors()->GetFirstErrorString().find("nested too deeply"), std::string::npos);
    std::string sum = "1";
    for (int i = 0; i < 500; ++i) sum += "+1";
    Loaded l("<r/>");
    double value = 0;
    EXPECT_TRUE(CXPath(sum).EvaluateNumber(l.root, value));
    EXPECT_EQ(value, 501);
}

}  // namespace
