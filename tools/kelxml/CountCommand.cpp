// kelxml count: counts the elements NAME below the root element.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <iostream>

namespace kelxml {

int Count(const Arguments& args) {
    args.ExpectPositional(2, "FILE NAME");
    const std::string& file = args.Positional()[0];
    const std::string& name = args.Positional()[1];
    if (name.empty()) throw UsageError{"NAME is empty"};
    XML::CKelXML xml;
    if (!Open(xml, file, ReadingOptions(args))) return kProblem;
    unsigned int count = 0;
    if (!XML::CKelXML::GetNbChildInNode(xml.GetDocument()->getDocumentElement(), name.c_str(), count)) {
        std::cerr << file << ": the document has no root element\n";
        return kProblem;
    }
    std::cout << count << '\n';
    return kSuccess;
}

} // namespace kelxml
