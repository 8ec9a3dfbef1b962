// libFuzzer target for XPath: the input is an expression, then (after the first line break) the
// document it runs on, or a small fixed document when there is none. The expression is compiled
// and evaluated from the document node and from its root element under a small budget, as every
// result type and through the document object's forms. Any crash, leak, sanitizer report or
// exception escaping is a finding; refused expressions and bounds reached are not.
#include <XML/CKelXML.h>
#include <XML/CXPath.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <xercesc/dom/DOM.hpp>

namespace {

constexpr const char* kDocument =
    "<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED><!ENTITY t 'x<e id=\"i2\">y</e>'>]>"
    "<r xmlns:p='urn:p' xml:lang='en'><e id='i1' a='1'>12<![CDATA[3]]>&t;</e><!--c--><?pi d?>"
    "<p:e p:a='2.5'><e>-4</e>text</p:e></r>";

// Small enough that each input runs in milliseconds, large enough for every algorithm to run.
XML::sXPathLimits FuzzLimits() {
    XML::sXPathLimits limits;
    limits.maxSteps = 200000;
    limits.maxNodes = 20000;
    limits.maxCharacters = 200000;
    limits.maxExpressionLength = 4096;
    return limits;
}

void EvaluateEveryWay(const XML::CXPath& xpath, const xercesc::DOMNode* context) {
    XML::sXPathValue value;
    std::string text;
    double number = 0;
    bool boolean = false;
    std::string reason;
    xpath.Evaluate(context, value, {}, &reason);
    xpath.EvaluateString(context, text);
    xpath.EvaluateNumber(context, number);
    xpath.EvaluateBoolean(context, boolean);
    const XML::XPathVariables variables = {{"v", XML::sXPathValue::NodeSet(xpath.SelectNodes(context))},
                                           {"n", XML::sXPathValue::Number(number)}};
    xpath.Evaluate(context, value, variables, &reason);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!XML::CKelXML::initXmlAPI()) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t line = input.find('\n');
    const std::string expr = input.substr(0, line);
    XML::CKelXML doc;
    XML::sLimits limits;
    const XML::sXPathLimits fuzz = FuzzLimits();
    limits.maxXPathSteps = fuzz.maxSteps;
    limits.maxXPathNodes = fuzz.maxNodes;
    limits.maxXPathCharacters = fuzz.maxCharacters;
    limits.maxXPathExpressionLength = fuzz.maxExpressionLength;
    doc.SetLimits(limits);
    const std::string document = line == std::string::npos ? std::string(kDocument) : input.substr(line + 1);
    doc.LoadFromMemory(document, false);  // validity errors leave a document to query
    if (!doc.GetDocument()) return 0;
    XML::CXPath xpath;
    xpath.SetLimits(fuzz);
    if (!xpath.Compile(expr, {{"p", "urn:p"}})) return 0;
    EvaluateEveryWay(xpath, doc.GetDocument());
    if (const xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement()) EvaluateEveryWay(xpath, root);
    std::vector<xercesc::DOMNode*> nodes;
    doc.XPathNodes(nullptr, expr, {{"p", "urn:p"}}, nodes);
    return 0;
}
