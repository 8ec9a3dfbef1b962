// Compiled by CTest twice: the control form must compile, the misuse form must not.
#include <XML/CKelXML.h>

#include <cstddef>
#include <string_view>
#include <vector>

bool Use(XML::CKelXML& doc, const std::vector<char>& bytes) {
#if defined(KELXML_CHECK_misuse)
    return doc.Load(bytes.data(), bytes.size());  // would take the bytes for a file name
#else
    return doc.Load(static_cast<const void*>(bytes.data()), static_cast<unsigned int>(bytes.size())) &&
           doc.Load("file.xml", true) && doc.Load("file.xml", 0) &&
           doc.LoadFromMemory(std::string_view(bytes.data(), bytes.size()));
#endif
}
