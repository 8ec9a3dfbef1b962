// Sums an attribute over every record of a file: once on the loaded document, once while the
// file streams (for files larger than memory). Try: sum_records examples/sample.xml
// The streamed walk is StreamRecords: the callback needs the attributes only, so no node is built
// (3.5-5.4 times faster than StreamElements, which gives each record as a node, for a callback that
// needs its children). Both walks take the same path below the root element.
#include <XML/CKelXML.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <xercesc/dom/DOM.hpp>

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
    // Streamed: the attributes come from the parser's events; memory stays flat.
    long streamed = 0;
    doc.StreamRecords(file, {}, {"records/record", {"year"}},
                      [&](const std::vector<std::string>& a) { streamed += std::strtol(a[0].c_str(), nullptr, 10); });
    std::cout << "sum of years: " << loaded << " loaded, " << streamed << " streamed\n";
    return loaded == streamed ? 0 : 1;
}
