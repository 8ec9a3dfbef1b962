// XPath: the expression cases of tests/data/xpath_cases.txt (location paths, conversions,
// namespaces, text and entity references, syntax errors, edits and reloads between evaluations),
// each read by CXPath, by the document object's forms and by their deprecated aliases; then what
// the table cannot say: variables, the document object's records, depth, nesting.
#include "TestSupport.h"

#include <XML/CKelXML.h>
#include <XML/CXPath.h>

#include <xercesc/dom/DOM.hpp>

#include <fstream>
#include <sstream>

#include <sys/resource.h>

using namespace kelxml_test;
using xercesc::DOMNode;
using XML::CKelXML;
using XML::CXPath;

namespace {

std::string Label(const DOMNode* n) {
    const std::string name = XML::XStr::ToLocal(n->getNodeName());
    std::string value;
    CXPath("string(.)").EvaluateString(n, value);
    switch (n->getNodeType()) {
    case DOMNode::DOCUMENT_NODE: return "/";
    case DOMNode::ELEMENT_NODE: return CKelXML::GetAttributeValue(n, "n", value) ? name + ":" + value : name;
    case DOMNode::ATTRIBUTE_NODE: return "@" + name + "=" + value;
    case DOMNode::COMMENT_NODE: return name;
    case DOMNode::PROCESSING_INSTRUCTION_NODE: return "?" + name;
    default: return "\"" + value + "\"";
    }
}

// Who reads a case: a compiled CXPath, the document object, or its deprecated aliases.
enum class Way { Compiled, Member, Deprecated };

// What one case gives read that way, written as the table writes it.
std::string Outcome(char kind, const std::string& expr, const DOMNode* context, const XML::XPathNamespaces& ns,
                    CKelXML& doc, Way way) {
    CXPath xpath;
    if (way == Way::Compiled && !xpath.Compile(expr, ns))
        return "E " + std::to_string(xpath.GetErrors()->GetAllErrors().back().nColumn);
    const std::size_t before = Records(doc).size();
    std::string s = "<failed>";
    double d = -42;
    bool b = false, ok = true;
    std::vector<DOMNode*> nodes;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const char* const c = expr.c_str();
    switch (kind) {
    case 'N':
        if (way == Way::Compiled)
            nodes = xpath.SelectNodes(context);
        else if (way == Way::Member)
            doc.XPathNodes(context, expr, ns, nodes);
        else
            nodes = doc.SelectNodes(c, context, ns);
        break;
    case 'S':
        ok = way == Way::Compiled ? xpath.EvaluateString(context, s)
             : way == Way::Member ? doc.XPathString(context, expr, ns, s)
                                  : doc.GetXPathString(c, s, context, ns);
        break;
    case 'D':
        ok = way == Way::Compiled ? xpath.EvaluateNumber(context, d)
             : way == Way::Member ? doc.XPathNumber(context, expr, ns, d)
                                  : doc.GetXPathNumber(c, d, context, ns);
        break;
    default:
        ok = way == Way::Compiled ? xpath.EvaluateBoolean(context, b)
             : way == Way::Member ? doc.XPathBoolean(context, expr, ns, b)
                                  : doc.GetXPathBoolean(c, b, context, ns);
    }
#pragma GCC diagnostic pop
    const std::vector<XML::sError> records = Records(doc);
    if (records.size() > before && records.back().strMessage.rfind("XPath expression error", 0) == 0)
        return "E " + std::to_string(records.back().nColumn);
    if (kind == 'N') {
        s = "N";
        for (const DOMNode* n : nodes) s += " " + Label(n);
        return s;
    }
    if (kind == 'S') return ok && s.empty() ? "S" : "S " + s;
    if (kind == 'D') return ok ? "D " + CXPath::NumberText(d) : "D <failed>";
    return ok ? std::string("B ") + (b ? "true" : "false") : "B <failed>";
}

// One edit of the table ("edit", how, the target's path from the document, arguments), through
// Xerces or the document object; false when the target is missing or the edit failed.
bool Edit(CKelXML& doc, const std::vector<std::string>& f) {
    using namespace xercesc;
    DOMNode* const target = f.size() > 2 ? CXPath(f[2]).SelectNode(doc.GetDocument()) : nullptr;
    if (!target) return false;
    const auto arg = [&f](std::size_t i) { return XML::XStr(f.at(i).c_str()); };
    DOMDocument* const owner = doc.GetDocument();
    auto* const element = dynamic_cast<DOMElement*>(target);
    const std::string& how = f[1];
    if (how == "value")
        target->setNodeValue(arg(3).unicodeForm());
    else if (how == "content")
        target->setTextContent(arg(3).unicodeForm());
    else if (how == "append")
        target->appendChild(owner->createElement(arg(3).unicodeForm()));
    else if (how == "remove")
        target->getParentNode()->removeChild(target)->release();
    else if (how == "rename")
        owner->renameNode(target, nullptr, arg(3).unicodeForm());
    else if (how == "attribute" && element)
        element->setAttribute(arg(3).unicodeForm(), arg(4).unicodeForm());
    else if (how == "normalize")
        target->normalize();
    else if (how == "split")
        static_cast<DOMText*>(target)->splitText(std::stoul(f.at(3)));
    else if (how == "add")
        return doc.AddNewElementNode(f.at(3), f.at(4), target) != nullptr;
    else if (how == "comment")
        return doc.AddNewCommentNode(target, f.at(3)) != nullptr;
    else if (how == "attr" && element)
        return doc.AddNewAttribute(f.at(3), f.at(4), element) != nullptr;
    else
        return false;
    return true;
}

TEST(XPath, CasesOfTheTable) {
    std::ifstream in(std::string(KELXML_TEST_DATA) + "/xpath_cases.txt");
    ASSERT_TRUE(in) << "tests/data/xpath_cases.txt missing";
    std::unique_ptr<CKelXML> doc;
    const DOMNode* context = nullptr;
    std::map<std::string, std::string> ns;
    int number = 0, cases = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line == "doc" || line == "reload") {
            std::string text;
            for (std::string part; std::getline(in, part) && part != "end"; ++number) text += part;
            ++number;
            // A reload replaces the object's document: the new one often takes the old one's place.
            if (line == "doc" || !doc) doc = std::make_unique<CKelXML>();
            XML::sLoadOptions options;
            options.eMode = XML::E_LOAD_WELL_FORMED;
            ASSERT_TRUE(doc->LoadFromMemory(text, options)) << Dump(*doc);
            context = doc->GetDocument();
            ns.clear();
        } else if (line.rfind("context ", 0) == 0) {
            context = CXPath(line.substr(8)).SelectNode(doc->GetDocument());
            ASSERT_TRUE(context) << "line " << number;
        } else if (line.rfind("edit\t", 0) == 0) {
            std::vector<std::string> fields;
            std::istringstream split(line);
            for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
            ASSERT_TRUE(doc && Edit(*doc, fields)) << "line " << number;
        } else if (line.rfind("ns ", 0) == 0) {
            const std::size_t space = line.find(' ', 3);
            ns[line.substr(3, space - 3)] = line.substr(space + 1);
        } else {
            const std::size_t tab = line.rfind('\t');
            ASSERT_TRUE(doc && tab != std::string::npos) << "line " << number;
            const std::string expr = line.substr(0, tab), expected = line.substr(tab + 1);
            for (const Way way : {Way::Compiled, Way::Member, Way::Deprecated})
                EXPECT_EQ(Outcome(expected[0], expr, context, ns, *doc, way), expected)
                    << "line " << number << ": " << expr << " read " << static_cast<int>(way);
            ++cases;
        }
    }
    EXPECT_GT(cases, 250);
}

TEST(XPath, VariablesOfEveryTypeAndUnboundOnes) {
    Loaded l("<r><a>1</a><a>2</a><b>x</b></r>");
    const XML::XPathVariables vars = {
        {"n", XML::sXPathValue::Number(2)},
        {"s", XML::sXPathValue::String("x")},
        {"t", XML::sXPathValue::Boolean(true)},
        {"p:set", XML::sXPathValue::NodeSet(CXPath("b|a[1]").SelectNodes(l.root))},
    };
    std::string text;
    for (const DOMNode* n : CXPath("/r/a[. = $n] | $p:set[$t]").SelectNodes(l.root, vars)) text += Label(n);
    EXPECT_EQ(text, "aab");
    EXPECT_TRUE(CXPath("concat($s, count($p:set))").EvaluateString(l.root, text, vars));
    EXPECT_EQ(text, "x2");
    XML::sXPathValue value;
    std::string reason;
    EXPECT_FALSE(CXPath("$missing + 1").Evaluate(l.root, value, vars, &reason));
    EXPECT_EQ(reason, "unbound variable");
    EXPECT_FALSE(CXPath("$n/a").Evaluate(l.root, value, vars, &reason) || CXPath().Evaluate(l.root, value));
    EXPECT_FALSE(CXPath("1").Evaluate(nullptr, value));
    // Each compile's records replace the last one's.
    CXPath again("a[");
    EXPECT_FALSE(again.Compile("@n => 1"));
    EXPECT_EQ(again.GetErrors()->GetErrorCount(), 1u);
    EXPECT_TRUE(again.Compile("@n >= 1") && again.GetErrors()->GetAllErrors().empty());
}

TEST(XPath, DocumentObjectRecordsWhatFails) {
    Loaded l("<r><a n='1'>x</a><a n='2'>y</a></r>");
    std::string text;
    std::vector<DOMNode*> nodes;
    DOMNode* node = nullptr;
    CKelXML none;
    EXPECT_FALSE(none.XPathNodes(nullptr, "/", nodes));
    EXPECT_EQ(Dump(none), "4: DOMDOCUMENT undefined\n");
    // No node selected is no failure: false, unrecorded; a value of another type is recorded.
    EXPECT_FALSE(l.doc.XPathNode(l.root, "b", node) || !Records(l.doc).empty());
    EXPECT_TRUE(l.doc.XPathNode(nullptr, "//a[@n=2]/text()", node) && node->getNodeValue()[0] == u'y');
    EXPECT_TRUE(l.doc.XPathNodes(l.root, "b", nodes) && nodes.empty());
    EXPECT_FALSE(l.doc.XPathNodes(l.root, "count(a)", nodes) || l.doc.XPathNode(nullptr, "1", node));
    EXPECT_EQ(Dump(l.doc), "3: XPath expression gives no node-set\n3: XPath expression gives no node-set\n");
    // A NUL byte is refused where it stands, never read as the end of the expression.
    EXPECT_FALSE(l.doc.XPathString(l.root, std::string_view("a[2]\0/x", 8), text));
    EXPECT_EQ(Records(l.doc).back().nColumn, 5u);
}

TEST(XPath, DocumentObjectRecordsFailuresAndStaticFormsDoNot) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    CKelXML none;
    EXPECT_TRUE(none.SelectNodes("/").empty());
    EXPECT_EQ(Dump(none), "4: DOMDOCUMENT undefined\n");
    Loaded l("<r><a n='1'>x</a><a n='2'>y</a></r>");
    std::string text;
    double number = 0;
    bool boolean = false;
    EXPECT_FALSE(l.doc.GetXPathString("//a[", text));
    EXPECT_TRUE(l.doc.GetXPathNumber("sum(//@n)", number) && number == 3);
    EXPECT_TRUE(l.doc.GetXPathBoolean("//a = 'y'", boolean) && boolean);
    EXPECT_TRUE(l.doc.GetXPathString("a[2]", text, l.root) && text == "y");
    EXPECT_EQ(l.doc.SelectNode("//a[@n=2]/text()")->getNodeValue()[0], u'y');
    EXPECT_FALSE(CKelXML::GetXPathString(l.root, "a[", text) || CKelXML::GetXPathString(nullptr, "1", text));
    EXPECT_EQ(CKelXML::SelectNode(l.root, nullptr), nullptr);
    ASSERT_EQ(Records(l.doc).size(), 1u);  // the document's own failure only
    EXPECT_EQ(Records(l.doc)[0].nColumn, 5u);
    EXPECT_EQ(Dump(l.doc), "3: XPath expression error at column 5: expected a location step\n");
#pragma GCC diagnostic pop
}

// Nesting past the bound is refused (a chain of operators is as deep as it is long).
// The value one row of xpath_hostile.tsv gives, or "limit F" for one record naming bound F.
std::string HostileOutcome(const std::string& document, const std::string& expr) {
    XML::CKelXML doc;
    if (!LoadText(doc, document)) return "not loaded: " + Dump(doc);
    std::string value;
    if (doc.XPathString(nullptr, expr, value)) return value;
    const std::vector<XML::sError> records = Records(doc);
    const std::string& message = records.empty() ? std::string() : records.front().strMessage;
    const std::size_t open = message.rfind('(');
    if (records.size() != 1 || open == std::string::npos || message.back() != ')') return "records: " + Dump(doc);
    return "limit " + message.substr(open + 1, message.size() - open - 2);
}

TEST(XPath, HostileExpressionsStayWithinTheBudget) {
    for (const std::vector<std::string>& row : Table(std::string(KELXML_TEST_DATA) + "/xpath_hostile.tsv")) {
        ASSERT_EQ(row.size(), 4u) << row.front();
        const std::string outcome = RunInChild(
            [&row] {
                if (!UnderAddressSanitizer()) {
                    const rlimit cpu{10, 10};
                    setrlimit(RLIMIT_CPU, &cpu);
                }
                return HostileOutcome(row[1], row[2]);
            },
            60, std::size_t{256} << 20);
        EXPECT_EQ(outcome.substr(0, 300), row[3]) << row[0];
    }
}

TEST(XPath, NestingPastTheBoundIsRefused) {
    const auto nested = [](int depth) { return std::string(depth, '(') + "1" + std::string(depth, ')'); };
    std::string chain = "/", sum = "1";
    for (int i = 0; i < 100000; ++i) chain += "|/";
    for (int i = 0; i < 500; ++i) sum += "+1";
    for (const std::string& deep : {nested(100000), std::string(100000, '-') + "1", chain})
        EXPECT_NE(CXPath(deep).GetErrors()->GetFirstErrorString().find("nested too deeply"), std::string::npos);
    double number = 0;
    EXPECT_TRUE(CXPath(nested(200)).IsCompiled() && CXPath(sum).EvaluateNumber(Loaded("<r/>").root, number));
    EXPECT_EQ(number, 501);
}

}  // namespace
