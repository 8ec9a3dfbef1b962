// Reads a configuration: typed values with defaults, and an attribute.
// Try: read_config examples/sample.xml
#include <XML/CKelXML.h>

#include <iostream>

#include <xercesc/dom/DOM.hpp>

using XML::CKelXML;

int main(int argc, char** argv) {
    XML::CXmlLibrary library;  // the parser library runs while it lives: declare it first
    CKelXML doc;
    // False also for warnings alone; a fatal error means there is no document to read.
    if (!doc.Load(argc > 1 ? argv[1] : "examples/sample.xml", false) && doc.GetErrors()->HasFatalError())
        return std::cerr << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    xercesc::DOMNode* catalog = doc.GetRootNode("catalog");
    xercesc::DOMNode* settings = CKelXML::GetNode(catalog, "settings");
    // Each value, or its default when it is missing or not wholly a value of its type.
    const std::string name = CKelXML::GetChildValueOr(settings, "name", "(unnamed)");
    const int port = CKelXML::GetChildValueOr(settings, "port", 80);
    const double ratio = CKelXML::GetChildValueOr(settings, "ratio", 1.0);
    const bool verbose = CKelXML::GetChildValueOr(settings, "verbose", false);
    const std::string version = CKelXML::GetAttributeValueOr(catalog, "version", "1.0");
    std::cout << "catalogue version " << version << ": " << name << "\n  port " << port << ", ratio " << ratio
              << ", verbose " << std::boolalpha << verbose << '\n';
}
