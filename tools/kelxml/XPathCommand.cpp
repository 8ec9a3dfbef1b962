// kelxml xpath: evaluates an XPath 1.0 expression on a document and prints the result.
#include "Commands.h"
#include "Diagnostics.h"
#include "Documents.h"
#include "Jobs.h"
#include "Limits.h"

#include <XML/CKelXML.h>
#include <XML/CXPath.h>

#include <atomic>
#include <iostream>
#include <map>

#include <xercesc/dom/DOM.hpp>

namespace kelxml {

namespace {

// Minimal escaping for markup printed by hand: text and attribute values.
std::string EscapeMarkup(const std::string& text, bool attribute) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        default: out += c;
        }
    }
    return out;
}

// --xml: the node's markup; elements, comments and processing instructions as Save writes them,
// attributes as name="value", text (a whole run of text and CDATA) escaped.
bool PrintMarkup(XML::CKelXML& xml, const XML::CXPath& stringValue, const xercesc::DOMNode* node) {
    std::string text;
    switch (node->getNodeType()) {
    case xercesc::DOMNode::ATTRIBUTE_NODE:
        Out() << XML::XStr::ToLocal(node->getNodeName()) << "=\""
              << EscapeMarkup(XML::XStr::ToLocal(node->getNodeValue()), true) << "\"\n";
        return true;
    case xercesc::DOMNode::TEXT_NODE:
    case xercesc::DOMNode::CDATA_SECTION_NODE:
        stringValue.EvaluateString(node, text);
        Out() << EscapeMarkup(text, false) << '\n';
        return true;
    default:
        if (!xml.GetXML(node, XML::E_SAVE_AS_LOADED, text)) return false;
        Out() << text << '\n';
        return true;
    }
}

// Prints the value of xpath on file, each line after prefix.
int EvaluateIn(const Arguments& args, const XML::CXPath& xpath, const std::string& file, const std::string& prefix) {
    XML::CKelXML xml;
    if (!Open(xml, file, ReadingOptions(args))) return kProblem;
    XML::sXPathValue result;
    std::string reason;
    if (!xpath.Evaluate(xml.GetDocument(), result, {}, &reason)) {
        Err() << DisplayName(file) << ": " << reason << '\n';
        return kProblem;
    }
    switch (result.eType) {
    case XML::E_XPATH_NODESET: {
        const XML::CXPath stringValue("string(.)");
        for (const xercesc::DOMNode* node : result.vNodes) {
            Out() << prefix;
            if (args.Has("--xml")) {
                const std::size_t before = RecordCount(xml);
                if (PrintMarkup(xml, stringValue, node)) continue;
                PrintRecords(file, xml.GetErrors(), before);
                return kProblem;
            }
            std::string text;
            stringValue.EvaluateString(node, text);
            Out() << Escape(text) << '\n';
        }
        if (!result.vNodes.empty()) return kSuccess;
        Err() << DisplayName(file) << ": the expression selects no node\n";
        return kProblem;
    }
    case XML::E_XPATH_NUMBER: Out() << prefix << XML::CXPath::NumberText(result.dValue) << '\n'; break;
    case XML::E_XPATH_STRING: Out() << prefix << Escape(result.strValue) << '\n'; break;
    default: Out() << prefix << (result.bValue ? "true" : "false") << '\n';
    }
    return kSuccess;
}

}  // namespace

int XPath(const Arguments& args) {
    const std::vector<std::string> files = FilesBeforeLast(args, "FILE... EXPR");
    const std::string& expr = args.Positional().back();
    std::map<std::string, std::string> namespaces;
    for (const auto& [option, value] : args.Options())
        if (option == "--ns") namespaces.insert(SplitAssignment("--ns", value));
    // A bad expression is a usage error, found before any document is read.
    XML::CXPath xpath;
    xpath.SetLimits(XPathLimits());
    xpath.Compile(expr, namespaces);
    if (!xpath.IsCompiled()) {
        std::cerr << kProgram << " xpath: " << xpath.GetErrors()->GetFirstErrorString() << '\n';
        return kUsage;
    }
    std::atomic<int> status{kSuccess};
    ForEachFile(files, JobsOf(args), [&](std::size_t index, XML::CKelXML&) {
        if (EvaluateIn(args, xpath, files[index], LinePrefix(files, files[index])) != kSuccess) status = kProblem;
    });
    return status;
}

}  // namespace kelxml
