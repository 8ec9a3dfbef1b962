// Writes the W3C canonical form (Canonical XML 1.0, without comments) of a document.
// Try: canonical examples/sample.xml
#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) return std::cerr << "usage: canonical FILE\n", 2;
    XML::CXmlLibrary library;
    XML::CKelXML doc;
    std::string text;
    if ((!doc.Load(argv[1], false) && doc.GetErrors()->HasFatalError()) ||
        !doc.GetCanonicalXML(doc.GetDocument(), false, text))
        return std::cerr << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    std::cout << text;
}
