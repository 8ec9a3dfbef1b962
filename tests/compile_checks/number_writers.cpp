// Compiled by CTest with every warning an error: the natural calls of the number writers pick a
// number form (a literal 0 included, which is also a null pointer constant) without ambiguity or
// conversion warning in the caller's code, and text stays text.
#include <XML/CKelXML.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <xercesc/dom/DOM.hpp>

bool Use(XML::CKelXML& doc, xercesc::DOMElement* e, const std::vector<int>& v, std::int64_t id, float ratio,
         unsigned char byte, long double wide) {
    bool ok = doc.AddChildNodeValue(e, "count", 0) && doc.AddChildNodeValue(e, "delta", -3) &&
              doc.AddChildNodeValue(e, "size", v.size()) && doc.AddChildNodeValue(e, "id", id) &&
              doc.AddChildNodeValue(e, "ratio", ratio) && doc.AddChildNodeValue(e, "flag", v.empty()) &&
              doc.AddChildNodeValue(e, "byte", byte) && doc.AddChildNodeValue(e, "wide", wide) &&
              doc.AddChildNodeValue(e, "u", 5u) && doc.AddChildNodeValue(e, "text", "zero") &&
              doc.AddChildNodeValue(e, "null", nullptr);
    ok = ok && doc.AddNewAttribute("n", 0, e) && doc.AddNewAttribute("t", "text", e) &&
         doc.AddNewAttribute("s", std::string("text"), e) && doc.ModifyAttribute("n", 1.5, e) &&
         doc.ModifyAttribute("n", std::size_t{2}, e) && doc.LoadFromMemory(std::string("<a/>")) &&
         doc.LoadFromMemory("<a/>", true);
    int i = 0;
    std::uint64_t u = 0;
    double d = 0;
    return ok && XML::CKelXML::GetChildValueChecked(e, "count", i) &&
           XML::CKelXML::GetAttributeValueChecked(e, "id", u) && XML::CKelXML::GetChildValueChecked(e, "ratio", d);
}
