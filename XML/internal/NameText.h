// NameText: names and text between the DOM's 16-bit strings and the caller's local code page:
// name comparison, a caller's text checked in UTF-16, attribute values, the boolean reading
// rules, wide text.
// Internal to the library.
#ifndef KELXML_INTERNAL_NAMETEXT_H
#define KELXML_INTERNAL_NAMETEXT_H

#include "XML/internal/Transcode.h"

#include <XML/XStr.h>

#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>
#include <optional>
#include <string>

namespace XML::internal {

// True when node's DOM name, in the local code page, equals name byte for byte.
bool NameIs(const xercesc::DOMNode* node, const char* name);

// A caller's local name in the parser's 16-bit form; ASCII names are widened in place.
class Name16 {
public:
    explicit Name16(const char* local) {
        std::size_t i = 0;
        while (i + 1 < kInline && local[i] != 0 && static_cast<unsigned char>(local[i]) < 0x80) {
            m_inline[i] = static_cast<XMLCh>(local[i]);
            ++i;
        }
        if (local[i] == 0) {
            m_inline[i] = 0;
            m_text = m_inline;
        } else {
            m_converted.emplace(local);
            m_text = m_converted->unicodeForm();
        }
    }
    Name16(const Name16&) = delete;
    Name16& operator=(const Name16&) = delete;
    const XMLCh* get() const { return m_text; }

private:
    static constexpr std::size_t kInline = 64;
    XMLCh m_inline[kInline];
    std::optional<XStr> m_converted;
    const XMLCh* m_text = nullptr;
};

// A caller's non-null text in UTF-16, for a member operation: throws ConversionError when it
// cannot be converted.
XStr To16(const char* text);
// The value of node's attribute name in 16-bit form, or null when node is not an element,
// has no such attribute, or an argument is null.
const XMLCh* Attribute16(const xercesc::DOMNode* node, const char* name);
// The attribute's value in the local code page; false when it is missing or cannot be converted.
bool AttributeText(const xercesc::DOMNode* node, const char* name, std::string& text);
// The boolean rules: "true" and "false" as such, else a number read by atoi (> 0 for element
// text, != 0 for attributes).
bool ElementTextIsTrue(const std::string& text);
bool AttributeTextIsTrue(const std::string& text);
// UTF-16 to wide characters, a surrogate pair giving one character.
std::wstring Widen(const XMLCh* text);

}  // namespace XML::internal

#endif
