#include "XML/internal/LocalResource.h"

#include "XML/XStr.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/URLInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <memory>

using namespace xercesc;

namespace XML::internal {

// The parser opens a relative result, or one it cannot read as a URL, as a local path, and a
// file: URL on this host from disk; every other absolute URL goes to its network accessor.
void RefuseNetwork(const XMLCh* base, const XMLCh* systemId) {
    if (!systemId) return;
    XMLURL url(XMLPlatformUtils::fgMemoryManager);
    if (!url.setURL(base, systemId, url) || url.isRelative()) return;
    const XMLCh* const host = url.getHost();
    if (url.getProtocol() == XMLURL::File &&
        (!host || !*host || XMLString::compareIStringASCII(host, XMLUni::fgLocalHostString) == 0))
        return;
    const std::string target = XStr::ToLocal(url.getURLText());
    throw SAXException(("network access refused: '" + target + "' (this library opens local files only)").c_str());
}

bool ReadLocal(const XMLCh* base, const XMLCh* systemId, std::size_t maxBytes, LocalResource& out) {
    if (!systemId) return false;
    try {
        RefuseNetwork(base, systemId);
        // The same choice as the parser's reader manager: a URL when it reads as an absolute
        // one, a path woven onto the base otherwise.
        std::unique_ptr<InputSource> source;
        XMLURL url(XMLPlatformUtils::fgMemoryManager);
        if (!url.setURL(base, systemId, url) || url.isRelative()) {
            std::u16string path(reinterpret_cast<const char16_t*>(systemId));
            XMLPlatformUtils::removeDotSlash(reinterpret_cast<XMLCh*>(path.data()));
            source = std::make_unique<LocalFileInputSource>(base, reinterpret_cast<const XMLCh*>(path.c_str()));
        } else {
            source = std::make_unique<URLInputSource>(url);
        }
        const std::unique_ptr<BinInputStream> stream(source->makeStream());
        if (!stream) return false;
        out.systemId = reinterpret_cast<const char16_t*>(source->getSystemId());
        out.bytes.clear();
        XMLByte chunk[16384];
        while (out.bytes.size() <= maxBytes) {
            const XMLSize_t n = stream->readBytes(chunk, sizeof chunk);
            if (n == 0) break;
            out.bytes.append(reinterpret_cast<const char*>(chunk), n);
        }
        if (out.bytes.size() > maxBytes) out.bytes.resize(maxBytes + 1);
        return true;
    } catch (...) {
        return false;  // missing, unreadable or remote: the parser says so in its own words
    }
}

std::string AsUtf8(std::string_view bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4) return std::string(bytes);
    bool bigEndian;
    std::size_t start = 0;
    if (at(0) == 0xFE && at(1) == 0xFF) {
        bigEndian = true;
        start = 2;
    } else if (at(0) == 0xFF && at(1) == 0xFE) {
        bigEndian = false;
        start = 2;
    } else if (at(0) == 0 && at(1) == '<' && at(2) == 0 && (at(3) == '?' || at(3) == '!')) {
        bigEndian = true;
    } else if (at(0) == '<' && at(1) == 0 && (at(2) == '?' || at(2) == '!') && at(3) == 0) {
        bigEndian = false;
    } else {
        return std::string(bytes);
    }
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        // Surrogates are kept as units of their own: names and counts only need to be stable.
        const unsigned unit = bigEndian ? (at(i) << 8 | at(i + 1)) : (at(i + 1) << 8 | at(i));
        if (unit < 0x80) {
            text += static_cast<char>(unit);
        } else if (unit < 0x800) {
            text += static_cast<char>(0xC0 | unit >> 6);
            text += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | unit >> 12);
            text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return text;
}

}  // namespace XML::internal
