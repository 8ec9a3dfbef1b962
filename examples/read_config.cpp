// Reads a configuration: the root element, typed values of its children, an attribute.
// Try: read_config examples/sample.xml
#include <XML/CKelXML.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: read_config FILE\n";
        return 2;
    }
    if (!XML::CKelXML::initXmlAPI()) return 1;
    int status = 0;
    {  // Documents and their nodes must be gone before TerminateXmlAPI.
        XML::CKelXML doc;
        if (!doc.Load(argv[1], false)) {
            // Warnings alone also make Load false; the document is then loaded all the same.
            for (const XML::sError& e : doc.GetErrors()->GetAllErrors()) std::cerr << e.strMessage << '\n';
        }
        xercesc::DOMNode* root = doc.GetRootNode("catalog");
        xercesc::DOMNode* settings = XML::CKelXML::GetNode(root, "settings");
        if (!settings) {
            std::cerr << argv[1] << ": no <catalog><settings> found\n";
            status = 1;
        } else {
            // Defaults stay in place when a value is absent.
            std::string name = "(unnamed)", version = "?";
            int port = 80;
            float ratio = 1.0f;
            bool verbose = false;
            XML::CKelXML::GetChildValue(settings, "name", name);
            XML::CKelXML::GetChildValue(settings, "port", port);
            XML::CKelXML::GetChildValue(settings, "ratio", ratio);
            XML::CKelXML::GetChildValue(settings, "verbose", verbose);
            XML::CKelXML::GetAttributeValue(root, "version", version);
            std::cout << "catalogue version " << version << ": " << name << "\n  port " << port << ", ratio " << ratio
                      << ", verbose " << std::boolalpha << verbose << '\n';
        }
    }
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
