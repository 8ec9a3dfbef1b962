// Validates documents against one's own schema, parsed once for all of them.
// Try: validate examples/catalog.xsd examples/sample.xml
#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc < 3) return std::cerr << "usage: validate SCHEMA FILE...\n", 2;
    XML::CXmlLibrary library;
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_NAMED_GRAMMARS;  // the schema named here, whatever a file names
    options.vSchemas = {{"", argv[1]}};          // {target namespace ("": any), file}
    XML::CKelXML doc;
    int invalid = 0;
    for (int i = 2; i < argc; ++i) {
        if (doc.Load(argv[i], options)) continue;
        ++invalid;
        for (const XML::sError& e : doc.GetErrors()->GetAllErrors()) std::cerr << e.strMessage << '\n';
    }
    std::cout << argc - 2 - invalid << " valid, " << invalid << " invalid\n";
    return invalid == 0 ? 0 : 1;
}
