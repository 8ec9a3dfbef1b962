// HandlerError: the parser's error handler, which is also the error list it fills.
// Internal to the library; callers see it as the const CError* of CKelXML::GetErrors.
#ifndef KELXML_HANDLERERROR_H
#define KELXML_HANDLERERROR_H

#include "XML/CError.h"

#include <xercesc/sax/HandlerBase.hpp>

namespace XML {

class HandlerError : public xercesc::HandlerBase, public CError {
public:
    HandlerError() = default;
    ~HandlerError() override;

    // Each diagnostic becomes one record "<systemId>, lig=<line> col=<col>, <message>".
    // None of them throws: a fatal error reaches the caller only through the list.
    void warning(const xercesc::SAXParseException& exc) override;
    void error(const xercesc::SAXParseException& exc) override;
    void fatalError(const xercesc::SAXParseException& exc) override;
    void resetErrors() override;

private:
    void ReportParseError(const xercesc::SAXParseException& exc, E_TYPE_ERROR eType);
};

} // namespace XML

#endif
