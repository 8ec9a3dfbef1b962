// Iterates records with a TFunctor: LoopElements calls it once per <record> under <records>.
// Try: list_records examples/sample.xml
#include <XML/CKelXML.h>

#include <iostream>
#include <string>

namespace {

class RecordPrinter : public XML::TFunctor {
public:
    // attributes holds the values of the names given to LoopElements, in that order
    // (empty when absent); userData is whatever the caller passed.
    bool operator()(xercesc::DOMNode* record, std::string /*tagName*/, std::string /*text*/, std::string* attributes,
                    void* userData) override {
        std::string title;
        XML::CKelXML::GetChildValue(record, "title", title);
        std::cout << attributes[0] << " (" << (attributes[1].empty() ? "n.d." : attributes[1]) << ") " << title << '\n';
        if (attributes[2] == "true") ++*static_cast<int*>(userData);
        return true;  // the verdict; with stopOnTrue set, the walk would end here
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: list_records FILE\n";
        return 2;
    }
    if (!XML::CKelXML::initXmlAPI()) return 1;
    int status = 0;
    {
        XML::CKelXML doc;
        doc.Load(argv[1], false);
        std::string names[] = {"id", "year", "available"};
        int available = 0;
        RecordPrinter printer;
        // From <catalog>: to its first <records> child, then every <record> child of that.
        if (!XML::CKelXML::LoopElements(&printer, doc.GetRootNode("catalog"), "records\\record", names, 3, &available,
                                        false, false, false)) {
            std::cerr << argv[1] << ": no records (" << doc.GetErrors()->GetFirstErrorString() << ")\n";
            status = 1;
        } else {
            std::cout << available << " available\n";
        }
    }
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
