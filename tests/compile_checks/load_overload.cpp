// Compiled by CTest once per KELXML_CHECK_ kind: the control form must compile with every warning
// an error; each misuse form must not (the callable misuses with the rule named in the error).
#include <XML/CKelXML.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <xercesc/dom/DOM.hpp>

// Each misuse form uses some of the parameters only.
bool Use([[maybe_unused]] XML::CKelXML& doc, [[maybe_unused]] std::vector<char>& bytes,
         [[maybe_unused]] const std::string& name, [[maybe_unused]] const std::filesystem::path& path,
         [[maybe_unused]] bool validate, [[maybe_unused]] const xercesc::DOMNode* node) {
#if defined(KELXML_CHECK_size_t)
    return doc.Load(bytes.data(), bytes.size());  // the bytes would be a file name, the size bValidate
#elif defined(KELXML_CHECK_int)
    return doc.Load(bytes.data(), static_cast<int>(bytes.size()));
#elif defined(KELXML_CHECK_long)
    return doc.Load(static_cast<const char*>(bytes.data()), 5L);
#elif defined(KELXML_CHECK_literal)
    return doc.Load("file.xml", 0);
#elif defined(KELXML_CHECK_string)
    return doc.Load(name, name.size());
#elif defined(KELXML_CHECK_path)
    return doc.Load(path, 1);
#elif defined(KELXML_CHECK_node_callable)
    return XML::CKelXML::LoopElements(nullptr, {"a/b"}, [](const std::string&) { return true; });
#elif defined(KELXML_CHECK_record_callable)
    return doc.StreamRecords("f.xml", {}, {"a/b"}, [](xercesc::DOMNode*) { return std::string(); });
#else
    const XML::sLoadOptions wellFormed{XML::E_LOAD_WELL_FORMED};
    const XML::sWalkOptions walk{"a/b", {"id"}};
    std::uint16_t port = XML::CKelXML::GetChildValueOr(node, "port", std::uint16_t{80});
    std::string text = XML::CKelXML::GetAttributeValueOr(node, "t", std::string_view("x")) +
                       XML::CKelXML::GetValueOr(node, std::string("y")) +
                       XML::CKelXML::GetDirectChildValueOr(node, "z", static_cast<const char*>(nullptr));
    short delta = XML::CKelXML::GetAttributeValueOr(node, "d", short{-1});
    long double ratio = XML::CKelXML::GetChildValueOr(node, "r", 0.5L);
    std::vector<xercesc::DOMNode*> nodes;
    return doc.Load(static_cast<const void*>(bytes.data()), static_cast<unsigned int>(bytes.size())) &&
           doc.Load("file.xml", true) && doc.Load("file.xml", validate) && doc.Load(name, false) &&
           doc.Load(path, validate) && doc.Load(path, {XML::E_LOAD_VALIDATE}) && doc.Load(name, wellFormed) &&
           doc.Load("file.xml", {XML::E_LOAD_WELL_FORMED}) && doc.Load(name.c_str(), {XML::E_LOAD_AUTO}) &&
           doc.Load("file.xml", {}) && doc.Load(name, XML::E_LOAD_DTD_DEFAULTS) &&
           doc.LoadFromMemory(std::string_view(bytes.data(), bytes.size())) && doc.LoadFromMemory(name, {}) &&
           doc.LoadFromMemory(name, {XML::E_LOAD_WELL_FORMED}) && doc.LoadFromMemory(name, wellFormed) &&
           doc.ValidateFromMemory(name, {}) &&
           doc.StreamRecordsFromMemory(name, {}, walk, [](const std::vector<std::string>&) {}) &&
           doc.XPathString(node, "string(.)", text) && doc.XPathNodes(nullptr, name, {{"p", "urn:p"}}, nodes) &&
           doc.StreamRecords("f.xml", {}, walk, [](const std::vector<std::string>&) {}) &&
           doc.StreamRecords("f.xml", {}, walk, [](const std::string&, const auto&) { return 1; }) &&
           XML::CKelXML::LoopElements(nullptr, walk, [](xercesc::DOMNode*) {}) && port + delta > 0 && ratio > 0 &&
           !text.empty();
#endif
}
