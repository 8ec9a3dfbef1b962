#include "XML/internal/NameText.h"

#include "XML/internal/NumberText.h"

#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdlib>

using namespace xercesc;

namespace XML::internal {

// Up to the first non-ASCII character of the DOM name the local form is that same ASCII text,
// so the names are compared in place and only a non-ASCII name goes through the transcoder.
bool NameIs(const DOMNode* node, const char* name) {
    const XMLCh* const nodeName = node->getNodeName();
    if (!nodeName) return false;
    const unsigned char* expected = reinterpret_cast<const unsigned char*>(name);
    for (const XMLCh* actual = nodeName;; ++actual, ++expected) {
        if (*actual >= 0x80) return XStr::ToLocal(nodeName) == name;
        if (*actual != *expected) return false;
        if (*actual == 0) return true;
    }
}

const XMLCh* Attribute16(const DOMNode* node, const char* name) {
    if (!node || !name) return nullptr;
    const DOMNamedNodeMap* attributes = node->getAttributes();
    if (!attributes) return nullptr;
    const Name16 name16(name);
    const DOMNode* attribute = attributes->getNamedItem(name16.get());
    if (!attribute) return nullptr;
    const XMLCh* value = attribute->getNodeValue();
    static const XMLCh kEmpty[] = {0};
    return value ? value : kEmpty;
}

XStr To16(const char* text) {
    XStr converted(text);
    if (!converted.unicodeForm()) throw ConversionError();
    return converted;
}

bool AttributeText(const DOMNode* node, const char* name, std::string& text) {
    const XMLCh* value = Attribute16(node, name);
    return value && ToLocal(value, text);
}

bool ElementTextIsTrue(const std::string& text) {
    if (text == "true") return true;
    if (text == "false") return false;
    return LeadingInt(text) > 0;
}
bool AttributeTextIsTrue(const std::string& text) {
    if (text == "true") return true;
    if (text == "false") return false;
    return LeadingInt(text) != 0;
}

std::wstring Widen(const XMLCh* text) {
    std::wstring wide;
    for (const XMLCh* p = text; *p; ++p) {
        const char32_t unit = *p;
        if (sizeof(wchar_t) >= 4 && unit >= 0xD800 && unit <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            wide.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (p[1] - 0xDC00)));
            ++p;
        } else {
            wide.push_back(static_cast<wchar_t>(unit));
        }
    }
    return wide;
}

}  // namespace XML::internal
