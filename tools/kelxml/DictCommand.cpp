// kelxml dict: prints the child dictionary of the first node at PATH.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <map>

#include <iostream>

#include <xercesc/dom/DOM.hpp>

namespace kelxml {

int Dict(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    const bool xpath = IsXPath(args, args.Positional()[1]);
    const std::string path = xpath ? args.Positional()[1] : NormalisePath(args.Positional()[1]);
    XML::CKelXML xml;
    if (!Open(xml, file, ReadingOptions(args))) return kProblem;
    const xercesc::DOMNode* node = nullptr;
    if (xpath) {
        const std::vector<xercesc::DOMNode*> nodes = SelectXPath(xml, args, path);
        node = nodes.empty() ? nullptr : nodes.front();
    } else {
        node = FindFirst(xml, path);
    }
    std::map<std::string, std::string> dictionary;
    if (!node || !XML::CKelXML::o_GetDictionaryFromNode(node, dictionary)) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    const bool all = args.Has("--all");
    for (const auto& [name, text] : dictionary)
        if (all || name.empty() || name[0] != '#') std::cout << name << '\t' << Escape(text) << '\n';
    return kSuccess;
}

}  // namespace kelxml
