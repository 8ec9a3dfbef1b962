// Builds a document, saves it, and reads it back.
// Try: build_document inventory.xml
#include <XML/CKelXML.h>

#include <iostream>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "inventory.xml";
    if (!XML::CKelXML::initXmlAPI()) return 1;
    int status = 0;
    {
        XML::CKelXML doc;  // owns the document CreateDoc makes, and releases it
        doc.CreateDoc("inventory");
        xercesc::DOMNode* root = doc.GetRootNode("inventory");
        for (const char* sku : {"A-100", "B-200"}) {
            xercesc::DOMElement* item = doc.AddNewElementNode("item", root);
            doc.AddNewAttribute("sku", sku, item);
            doc.AddNewElementNode("label", sku[0] == 'A' ? "Desk lamp" : "Reading chair", item);
            doc.AddChildNodeValue(item, "quantity", sku[0] == 'A' ? 12u : 3u);
        }
        // A failed edit returns null or false and leaves a record, so one look at the list
        // before saving covers them all. Save replaces the file atomically: on failure the old
        // one stays intact.
        if (doc.GetErrors()->HasError() || !doc.Save(path, false)) {
            std::cerr << path << ": " << doc.GetErrors()->GetFirstErrorString() << '\n';
            status = 1;
        } else {
            XML::CKelXML reread;
            unsigned int items = 0;
            if (reread.Load(path, false) &&
                XML::CKelXML::GetNbChildInNode(reread.GetRootNode("inventory"), "item", items)) {
                std::cout << "saved " << path << " with " << items << " items\n";
            } else {
                std::cerr << path << ": reading back failed\n";
                status = 1;
            }
        }
    }
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
