// Builds a small document, saves it, loads it back and prints it with its error list.
#include <XML/CKelXML.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

static void PrintErrors(const XML::CError* errors) {
    if (!errors) return;
    for (const XML::sError& e : errors->GetAllErrors()) std::cout << "  [" << e.eType << "] " << e.strMessage << '\n';
}

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "kelxml-example.xml";
    if (!XML::CKelXML::initXmlAPI()) return 1;
    int status = 0;
    {
        XML::CKelXML doc;
        if (!doc.CreateDoc("config") || !doc.Save(path, false)) {
            std::cerr << "create/save failed: " << doc.GetErrors()->GetFirstErrorString() << '\n';
            status = 1;
        } else if (!doc.Load(path, false)) {
            std::cerr << "reload reported problems:\n";
            PrintErrors(doc.GetErrors());
            status = 1;
        } else {
            std::ifstream in(path);
            std::stringstream text;
            text << in.rdbuf();
            std::cout << "saved and reloaded " << path << ":\n" << text.str();
            std::cout << "error list: " << doc.GetErrors()->GetErrorCount() << " record(s)\n";
        }
        // A document that is not well-formed, from memory: every diagnostic lands in the list.
        const char broken[] = "<config>\n  <port>80</port>\n</confg>\n";
        doc.Load(static_cast<const void*>(broken), sizeof broken - 1);
        std::cout << "loading a broken buffer:\n";
        PrintErrors(doc.GetErrors());
    }
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
