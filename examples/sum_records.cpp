// Sums an attribute over every record of a file: once on the loaded document, once while the
// file streams (for files larger than memory). Try: sum_records examples/sample.xml
#include <XML/CKelXML.h>

#include <iostream>

using XML::CKelXML;

int main(int argc, char** argv) {
    const char* file = argc > 1 ? argv[1] : "examples/sample.xml";
    XML::CXmlLibrary library;
    CKelXML doc;
    if (!doc.Load(file, false) && doc.GetErrors()->HasFatalError())
        return std::cerr << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    long loaded = 0;
    for (xercesc::DOMElement* record : CKelXML::GetElements(doc.GetRootNode("catalog"), "records/record"))
        loaded += CKelXML::GetAttributeValueOr(record, "year", 0L);
    // Streamed: each record is a DOM node during its call only; memory stays flat.
    long streamed = 0;
    doc.StreamElements(file, {}, {"catalog/records/record"},
                       [&](xercesc::DOMNode* record) { streamed += CKelXML::GetAttributeValueOr(record, "year", 0L); });
    std::cout << "sum of years: " << loaded << " loaded, " << streamed << " streamed\n";
    return loaded == streamed ? 0 : 1;
}
