// The exported entry points the header's inline templates call (XML/detail/Adapters.h).
#include "XML/CKelXML.h"
#include "XML/internal/NameText.h"
#include "XML/internal/NumberText.h"
#include "XML/internal/TreeWalk.h"

#include <xercesc/dom/DOM.hpp>

namespace XML::detail {

using xercesc::DOMNode;

bool ParseText(const std::string& text, int& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, long& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, long long& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, unsigned int& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, unsigned long& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, unsigned long long& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, float& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, double& value) { return internal::ParseValue(text, value); }
bool ParseText(const std::string& text, bool& value) { return internal::ParseValue(text, value); }

const DOMNode* DirectChild(const DOMNode* node, const char* name) {
    if (!node || !name) return nullptr;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling())
        if (internal::IsElement(child) && internal::NameIs(child, name)) return child;
    return nullptr;
}

bool ReadText(const DOMNode* node, const char* name, bool child, std::string& text) {
    if (!name) return node && CKelXML::GetValue(node, text);
    return child ? CKelXML::GetChildValue(node, name, text) : CKelXML::GetAttributeValue(node, name, text);
}

}  // namespace XML::detail
