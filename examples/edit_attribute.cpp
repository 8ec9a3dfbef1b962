// Changes one attribute of a hand-written file and saves it keeping its layout: only the
// edited value changes in the file. Try: edit_attribute copy-of-sample.xml
#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) return std::cerr << "usage: edit_attribute FILE\n", 2;
    XML::CXmlLibrary library;
    XML::CKelXML doc;
    if (!doc.Load(argv[1], false) && doc.GetErrors()->HasFatalError())
        return std::cerr << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    // An attribute that exists, on the first node the XPath selects; false when there is none.
    xercesc::DOMNode* record = nullptr;
    if (!doc.XPathNode(nullptr, "//record[@id='b2']", record) ||
        !XML::CKelXML::SetAttributeValue(record, "available", "true") ||
        !doc.Save(argv[1], XML::E_SAVE_AS_LOADED))  // atomic: on failure the old file stays
        return std::cerr << argv[1] << ": not edited\n", 1;
    std::cout << "edited " << argv[1] << '\n';
}
