#include "XML/HandlerError.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"

#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

using namespace xercesc;

namespace XML {

HandlerError::~HandlerError() = default;

// The parser opens a relative result, or one it cannot read as a URL, as a local path, and a
// file: URL on this host from disk; every other absolute URL goes to its network accessor.
void HandlerError::RefuseNetwork(const XMLCh* base, const XMLCh* systemId) {
    if (!systemId) return;
    XMLURL url(XMLPlatformUtils::fgMemoryManager);
    if (!url.setURL(base, systemId, url) || url.isRelative()) return;
    const XMLCh* const host = url.getHost();
    if (url.getProtocol() == XMLURL::File &&
        (!host || !*host || XMLString::compareIStringASCII(host, XMLUni::fgLocalHostString) == 0))
        return;
    const std::string target = XStr::ToLocal(url.getURLText());
    throw SAXException(("network access refused: '" + target + "' (this library opens local files only)" +
                        internal::msg::kNetworkWayOut)
                           .c_str());
}

void HandlerError::warning(const SAXParseException& exc) { ReportParseError(exc, E_WARNING); }

void HandlerError::error(const SAXParseException& exc) { ReportParseError(exc, E_ERROR); }

void HandlerError::fatalError(const SAXParseException& exc) { ReportParseError(exc, E_FATAL_ERROR); }

void HandlerError::resetErrors() { ResetError(); }

InputSource* HandlerError::resolveEntity(XMLResourceIdentifier* resource) {
    // An import that names a namespace but no location asks for nothing to be read: null lets the
    // parser go on without it, where a source it cannot open would be a warning.
    if (!resource || !resource->getSystemId() || !*resource->getSystemId()) return nullptr;
    RefuseNetwork(resource->getBaseURI(), resource->getSystemId());
    if (m_resourceReader) return m_resourceReader(*resource);
    // Null: the parser resolves the local file exactly as it would without a resolver.
    return nullptr;
}

void HandlerError::ReportParseError(const SAXParseException& exc, E_TYPE_ERROR eType) {
    // The parser may hand over a diagnostic without identifier or message: both read as empty.
    sError record;
    record.eType = eType;
    record.strSystemId = XStr::ToLocal(exc.getSystemId());
    record.nLine = exc.getLineNumber();
    record.nColumn = exc.getColumnNumber();
    std::stringstream text;
    record.strText = XStr::ToLocal(exc.getMessage());
    text << record.strSystemId << ", lig=" << static_cast<std::int32_t>(record.nLine)
         << " col=" << static_cast<std::int32_t>(record.nColumn) << ", " << record.strText;
    record.strMessage = text.str();
    AddError(std::move(record));
}

}  // namespace XML
