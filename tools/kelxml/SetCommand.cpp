// kelxml set: edits the first node at PATH and saves the file atomically.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <iostream>
#include <utility>
#include <vector>

#include <xercesc/dom/DOM.hpp>

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

// Where --add puts new elements: as the node's last children, before or after it, or at an
// element position among its children (each further --add after the one before it).
struct Placement {
    enum { kLast, kBefore, kAfter, kPosition } where = kLast;
    std::size_t position = 0;  // from 0
};

Placement PlacementOf(const Arguments& args) {
    Placement placement;
    int given = 0;
    for (const auto& [option, value] : args.Options()) {
        if (option == "--before") {
            placement.where = Placement::kBefore;
        } else if (option == "--after") {
            placement.where = Placement::kAfter;
        } else if (option == "--position") {
            placement.where = Placement::kPosition;
            const bool digits = !value.empty() && value.size() < 10 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoul(value) == 0)
                throw UsageError{"--position takes a number from 1, not '" + value + "'"};
            placement.position = std::stoul(value) - 1;
        } else {
            continue;
        }
        if (++given > 1) throw UsageError{"--before, --after and --position cannot be combined"};
    }
    if (given > 0 && !args.Has("--add")) throw UsageError{"--before, --after and --position place what --add adds"};
    return placement;
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
        if (option.first == "--attr" || option.first == "--add" || option.first == "--add-attr" ||
            option.first == "--remove")
            actions.push_back(option);
    if (actions.empty()) throw UsageError{"expected an action: --attr NAME=VALUE, --add NAME=TEXT or --remove"};
    const bool remove = args.Has("--remove");
    if (remove && actions.size() > 1) throw UsageError{"--remove cannot be combined with other actions"};
    const Placement placement = PlacementOf(args);
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> edits;
    bool adds = false;
    for (const auto& [option, value] : actions) {
        adds = adds || option == "--add";
        if (option == "--add-attr" && !adds)
            throw UsageError{"--add-attr sets an attribute of the element the --add before it adds"};
        if (option != "--remove") edits.push_back({option, SplitAssignment(option, value)});
    }

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
        xercesc::DOMElement* added = nullptr;  // by the last --add on this node
        for (const auto& [option, assignment] : edits) {
            const auto& [name, value] = assignment;
            if (option == "--attr" || option == "--add-attr") {
                DOMNode* target = option == "--attr" ? node : added;
                if (target->getNodeType() != xercesc::DOMNode::ELEMENT_NODE)
                    return fail("the node at '" + path + "' is not an element: it has no attributes");
                if (!xml.AddNewAttribute(name, value, static_cast<xercesc::DOMElement*>(target)))
                    return fail("unable to set attribute '" + name + "'");
                continue;
            }
            const char* text = value.empty() ? nullptr : value.c_str();
            const bool first = added == nullptr;
            switch (placement.where) {
            case Placement::kBefore: added = xml.InsertNewElementNodeBefore(node, name.c_str(), text); break;
            case Placement::kAfter:
                added = xml.InsertNewElementNodeAfter(first ? node : added, name.c_str(), text);
                break;
            case Placement::kPosition:
                added = first ? xml.InsertNewElementNodeAt(node, placement.position, name.c_str(), text)
                              : xml.InsertNewElementNodeAfter(added, name.c_str(), text);
                break;
            default: added = text ? xml.AddNewElementNode(name, value, node) : xml.AddNewElementNode(name, node);
            }
            if (!added) return fail("unable to add element '" + name + "'");
        }
    }
    if (!xml.Save(file.c_str(), XML::E_SAVE_AS_LOADED)) return fail("unable to save");
    return kSuccess;
}

}  // namespace kelxml
