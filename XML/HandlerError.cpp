#include "XML/HandlerError.h"

#include "XML/XStr.h"

#include <xercesc/sax/SAXParseException.hpp>

#include <sstream>

namespace XML {

HandlerError::~HandlerError() = default;

void HandlerError::warning(const xercesc::SAXParseException& exc) { ReportParseError(exc, E_WARNING); }

void HandlerError::error(const xercesc::SAXParseException& exc) { ReportParseError(exc, E_ERROR); }

void HandlerError::fatalError(const xercesc::SAXParseException& exc) { ReportParseError(exc, E_FATAL_ERROR); }

void HandlerError::resetErrors() { ResetError(); }

void HandlerError::ReportParseError(const xercesc::SAXParseException& exc, E_TYPE_ERROR eType) {
    // The parser may hand over a diagnostic without identifier or message: both read as empty.
    std::stringstream text;
    text << XStr::ToLocal(exc.getSystemId()) << ", lig=" << static_cast<std::int32_t>(exc.getLineNumber())
         << " col=" << static_cast<std::int32_t>(exc.getColumnNumber()) << ", " << XStr::ToLocal(exc.getMessage());
    AddError(eType, text.str().c_str());
}

} // namespace XML
