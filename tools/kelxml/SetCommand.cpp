// kelxml set: edits the first node at PATH and saves the file atomically.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <utility>
#include <vector>

#include <iostream>

namespace kelxml {

int Set(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    if (file == "-")
        throw UsageError{"set edits a file in place and cannot save to standard input: use a file name"};
    const std::string path = NormalisePath(args.Positional()[1]);
    std::vector<std::pair<std::string, std::string>> actions;
    for (const auto& option : args.Options())
        if (option.first != "--validate") actions.push_back(option);
    if (actions.empty()) throw UsageError{"expected an action: --attr NAME=VALUE, --add NAME=TEXT or --remove"};
    const bool remove = args.Has("--remove");
    if (remove && actions.size() > 1) throw UsageError{"--remove cannot be combined with other actions"};
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> edits;
    for (const auto& [option, value] : actions)
        if (option != "--remove") edits.push_back({option, SplitAssignment(option, value)});

    XML::CKelXML xml;
    if (!Open(xml, file, ReadingOptions(args))) return kProblem;
    xercesc::DOMNode* node = FindFirst(xml, path);
    if (!node) {
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
    if (remove) {
        if (node == xml.GetDocument()->getDocumentElement()) return fail("the root element cannot be removed");
        xercesc::DOMNode* removed = xml.RemoveChildNode(node->getParentNode(), node);
        if (!removed) return fail("unable to remove the node at '" + path + "'");
        removed->release();
    }
    for (const auto& [option, assignment] : edits) {
        const auto& [name, value] = assignment;
        if (option == "--attr") {
            if (node->getNodeType() != xercesc::DOMNode::ELEMENT_NODE)
                return fail("the node at '" + path + "' is not an element: it has no attributes");
            if (!xml.AddNewAttribute(name, value, static_cast<xercesc::DOMElement*>(node)))
                return fail("unable to set attribute '" + name + "'");
        } else {
            const xercesc::DOMElement* added =
                value.empty() ? xml.AddNewElementNode(name, node) : xml.AddNewElementNode(name, value, node);
            if (!added) return fail("unable to add element '" + name + "'");
        }
    }
    if (!xml.Save(file.c_str(), false)) return fail("unable to save");
    return kSuccess;
}

} // namespace kelxml
