#include "XML/XStr.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <utility>

using xercesc::XMLPlatformUtils;
using xercesc::XMLString;

namespace XML {

XStr::XStr(const XMLCh* const toTranscode)
    : m_pLocal(toTranscode ? XMLString::transcode(toTranscode, XMLPlatformUtils::fgMemoryManager) : nullptr) {}

XStr::XStr(const char* const toTranscode)
    : m_pUnicode(toTranscode ? XMLString::transcode(toTranscode, XMLPlatformUtils::fgMemoryManager) : nullptr) {}

XStr::XStr(const XStr& other)
    : m_pLocal(other.m_pLocal ? XMLString::replicate(other.m_pLocal, XMLPlatformUtils::fgMemoryManager) : nullptr),
      m_pUnicode(other.m_pUnicode ? XMLString::replicate(other.m_pUnicode, XMLPlatformUtils::fgMemoryManager)
                                  : nullptr) {}

XStr& XStr::operator=(const XStr& other) {
    if (this != &other) {
        XStr copy(other);  // copy first: a failed allocation leaves this holder as it was
        *this = std::move(copy);
    }
    return *this;
}

XStr::XStr(XStr&& other) noexcept
    : m_pLocal(std::exchange(other.m_pLocal, nullptr)), m_pUnicode(std::exchange(other.m_pUnicode, nullptr)) {}

XStr& XStr::operator=(XStr&& other) noexcept {
    if (this != &other) {
        Release();
        m_pLocal = std::exchange(other.m_pLocal, nullptr);
        m_pUnicode = std::exchange(other.m_pUnicode, nullptr);
    }
    return *this;
}

XStr::~XStr() { Release(); }

void XStr::Release() noexcept {
    if (m_pLocal) XMLString::release(&m_pLocal, XMLPlatformUtils::fgMemoryManager);
    if (m_pUnicode) XMLString::release(&m_pUnicode, XMLPlatformUtils::fgMemoryManager);
}

std::string XStr::ToLocal(const XMLCh* text) {
    if (!text) return std::string();
    // Most names and values are ASCII, which every local code page the parser library uses
    // writes unchanged: copy those directly instead of going through the transcoder.
    const XMLCh* end = text;
    while (*end != 0 && *end < 0x80) ++end;
    if (*end == 0) {
        std::string ascii(static_cast<std::size_t>(end - text), '\0');
        for (std::size_t i = 0; i < ascii.size(); ++i) ascii[i] = static_cast<char>(text[i]);
        return ascii;
    }
    const XStr local(text);
    return local.localForm() ? std::string(local.localForm()) : std::string();
}

} // namespace XML
