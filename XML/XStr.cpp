#include "XML/XStr.h"

#include "XML/internal/Transcode.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <utility>

using xercesc::XMLPlatformUtils;
using xercesc::XMLString;

namespace XML {

XStr::XStr(const XMLCh* const toTranscode) : m_pLocal(internal::NewLocal(toTranscode)) {}

XStr::XStr(const char* const toTranscode) : m_pUnicode(internal::NewUtf16(toTranscode)) {}

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
    std::string local;
    internal::ToLocal(text, local);
    return local;
}

}  // namespace XML
