// Lists records: a range-for over the elements at the end of a path, and a walk with a lambda
// given the attributes it names. Try: list_records examples/sample.xml
#include <XML/CKelXML.h>

#include <iostream>

#include <xercesc/dom/DOM.hpp>

using XML::CKelXML;

int main(int argc, char** argv) {
    if (argc != 2) return std::cerr << "usage: list_records FILE\n", 2;
    XML::CXmlLibrary library;
    CKelXML doc;
    if (!doc.Load(argv[1], false) && doc.GetErrors()->HasFatalError())
        return std::cerr << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    xercesc::DOMNode* catalog = doc.GetRootNode("catalog");
    // From <catalog>: to its first <records> child, then every <record> child of that.
    for (xercesc::DOMElement* record : CKelXML::GetElements(catalog, "records/record"))
        std::cout << CKelXML::GetAttributeValueOr(record, "id", "?") << " ("
                  << CKelXML::GetAttributeValueOr(record, "year", "n.d.") << ") "
                  << CKelXML::GetChildValueOr(record, "title", "") << '\n';
    // The same walk with a callable, given the values of the attributes named (empty when absent).
    int available = 0;
    CKelXML::LoopElements(catalog, {"records/record", {"available"}},
                          [&](xercesc::DOMNode*, const std::string&, const std::vector<std::string>& attributes) {
                              available += attributes[0] == "true";
                              return true;
                          });
    std::cout << available << " available\n";
}
