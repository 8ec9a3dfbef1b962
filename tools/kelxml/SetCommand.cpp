// kelxml set: edits the first node at PATH and saves the file atomically.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <iostream>
#include <utility>
#include <vector>

namespace kelxml {

namespace {

using xercesc::DOMNode;

bool IsBlankText(const DOMNode* node) {
    if (!node || node->getNodeType() != DOMNode::TEXT_NODE) return false;
    for (const XMLCh* p = node->getNodeValue(); p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
    return true;
}

// The file is saved as loaded, so an edit keeps the layout around it: a removed node takes the
// indentation before it along, and a new child goes on a line of its own, indented as the
// last child before it, where the parent's children are laid out that way.
void RemoveWithIndentation(DOMNode* removed, DOMNode* before) {
    if (IsBlankText(before) && before->getParentNode()) before->getParentNode()->removeChild(before)->release();
    removed->release();
}

void IndentAsSiblings(xercesc::DOMDocument* doc, DOMNode* added) {
    DOMNode* parent = added->getParentNode();
    DOMNode* closing = added->getPreviousSibling();  // the text before the end tag
    DOMNode* last = closing ? closing->getPreviousSibling() : nullptr;
    DOMNode* indentation = last ? last->getPreviousSibling() : nullptr;
    if (!IsBlankText(closing) || !last || IsBlankText(last) || !IsBlankText(indentation)) return;
    parent->insertBefore(added, closing);
    parent->insertBefore(doc->createTextNode(indentation->getNodeValue()), added);
}

}  // namespace

int Set(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    if (file == "-") throw UsageError{"set edits a file in place and cannot save to standard input: use a file name"};
    const bool xpath = IsXPath(args, args.Positional()[1]);
    const std::string path = xpath ? args.Positional()[1] : NormalisePath(args.Positional()[1]);
    std::vector<std::pair<std::string, std::string>> actions;
    for (const auto& option : args.Options())
        if (option.first == "--attr" || option.first == "--add" || option.first == "--remove")
            actions.push_back(option);
    if (actions.empty()) throw UsageError{"expected an action: --attr NAME=VALUE, --add NAME=TEXT or --remove"};
    const bool remove = args.Has("--remove");
    if (remove && actions.size() > 1) throw UsageError{"--remove cannot be combined with other actions"};
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> edits;
    for (const auto& [option, value] : actions)
        if (option != "--remove") edits.push_back({option, SplitAssignment(option, value)});

    XML::CKelXML xml;
    if (!Open(xml, file, ReadingOptions(args))) return kProblem;
    // An XPath edits every node it selects (--first: the first only); a path its first node.
    std::vector<xercesc::DOMNode*> nodes;
    if (xpath)
        nodes = SelectXPath(xml, args, path);
    else if (xercesc::DOMNode* first = FindFirst(xml, path))
        nodes.push_back(first);
    if (!nodes.empty() && args.Has("--first")) nodes.resize(1);
    if (nodes.empty()) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    const std::size_t before = RecordCount(xml);
    // Reports the library's records for an edit that failed, or a reason of our own.
    const auto fail = [&](const std::string& reason) {
        if (PrintRecords(file, xml.GetErrors(), before) == 0) std::cerr << file << ": " << reason << '\n';
        std::cerr << file << ": not saved\n";
        return kProblem;
    };
    for (xercesc::DOMNode* node : nodes) {
        if (remove) {
            if (node == xml.GetDocument()->getDocumentElement()) return fail("the root element cannot be removed");
            DOMNode* before = node->getPreviousSibling();
            DOMNode* removed = xml.RemoveChildNode(node->getParentNode(), node);
            if (!removed) return fail("unable to remove the node at '" + path + "'");
            RemoveWithIndentation(removed, before);
        }
        for (const auto& [option, assignment] : edits) {
            const auto& [name, value] = assignment;
            if (option == "--attr") {
                if (node->getNodeType() != xercesc::DOMNode::ELEMENT_NODE)
                    return fail("the node at '" + path + "' is not an element: it has no attributes");
                if (!xml.AddNewAttribute(name, value, static_cast<xercesc::DOMElement*>(node)))
                    return fail("unable to set attribute '" + name + "'");
            } else {
                xercesc::DOMElement* added = value.empty() ? xml.AddNewElementNode(name, node)
                                                           : xml.AddNewElementNode(name, value, node);
                if (!added) return fail("unable to add element '" + name + "'");
                IndentAsSiblings(xml.GetDocument(), added);
            }
        }
    }
    if (!xml.Save(file.c_str(), XML::E_SAVE_AS_LOADED)) return fail("unable to save");
    return kSuccess;
}

}  // namespace kelxml
