// Builds a document, saves it, and reads it back.
// Try: build_document inventory.xml
#include <XML/CKelXML.h>

#include <iostream>

#include <xercesc/dom/DOM.hpp>

using XML::CKelXML;

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "inventory.xml";
    XML::CXmlLibrary library;
    CKelXML doc;  // owns the document CreateDoc makes, and releases it
    doc.CreateDoc("inventory");
    xercesc::DOMNode* root = doc.GetRootNode("inventory");
    for (const char* sku : {"A-100", "B-200"}) {
        xercesc::DOMElement* item = doc.AddNewElementNode("item", root);
        doc.AddNewAttribute("sku", sku, item);
        doc.AddNewElementNode("label", sku[0] == 'A' ? "Desk lamp" : "Reading chair", item);
        doc.AddChildNodeValue(item, "quantity", sku[0] == 'A' ? 12 : 3);
    }
    // A new first item, before the two others.
    doc.AddNewAttribute("sku", "0-001", doc.InsertNewElementNodeAt(root, 0, "item"));
    // A failed edit returns null or false and leaves a record, so one look at the list before
    // saving covers them all. Save replaces the file atomically: on failure the old one stays.
    if (doc.GetErrors()->HasError() || !doc.Save(path, false))
        return std::cerr << path << ": " << doc.GetErrors()->GetFirstErrorString() << '\n', 1;
    CKelXML reread;
    unsigned int items = 0;
    xercesc::DOMNode* first = nullptr;
    if (!reread.Load(path, false) || !CKelXML::GetNbChildInNode(reread.GetRootNode("inventory"), "item", items) ||
        !reread.XPathNode(nullptr, "/inventory/item", first))
        return std::cerr << path << ": reading back failed\n", 1;
    std::cout << "saved " << path << " with " << items << " items, the first "
              << CKelXML::GetAttributeValueOr(first, "sku", "?") << '\n';
}
