// HandlerError: the parser's error handler, which is also the error list it fills, and the
// resolver of every external resource a document names.
// Internal to the library; callers see it as the const CError* of CKelXML::GetErrors.
#ifndef KELXML_HANDLERERROR_H
#define KELXML_HANDLERERROR_H

#include "XML/CError.h"

#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include <functional>

namespace XML {

class HandlerError : public xercesc::HandlerBase, public xercesc::XMLEntityResolver, public CError {
public:
    HandlerError() = default;
    ~HandlerError() override;

    // Each diagnostic becomes one record "<systemId>, lig=<line> col=<col>, <message>".
    // None of them throws: a fatal error reaches the caller only through the list.
    void warning(const xercesc::SAXParseException& exc) override;
    void error(const xercesc::SAXParseException& exc) override;
    void fatalError(const xercesc::SAXParseException& exc) override;
    void resetErrors() override;

    // External DTDs, entities and schemas (includes, imports, redefines too). Anything that
    // would reach the network throws a SAXException naming the URL, which ends the parse. Local
    // resources are read through the reader a load installs for its parse (which applies the
    // load's access rule and budget); with none installed, the parser opens the file itself.
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    // While set, every external resource is read through reader: it returns the source the
    // parser reads, or throws to refuse it.
    using ResourceReader = std::function<xercesc::InputSource*(const xercesc::XMLResourceIdentifier&)>;
    void SetResourceReader(ResourceReader reader) { m_resourceReader = std::move(reader); }
    // Only the resolver above is installed; the SAX one keeps HandlerBase's behaviour.
    using xercesc::HandlerBase::resolveEntity;

    // Throws a SAXException naming the URL when systemId, taken relative to base (may be null)
    // as the parser takes it, is not a local file (a path, or a file: URL on this host). Every
    // reader of the library applies it, and Load to the file name too, which the parser would
    // otherwise fetch from any URL it is given.
    static void RefuseNetwork(const XMLCh* base, const XMLCh* systemId);

private:
    ResourceReader m_resourceReader;
    void ReportParseError(const xercesc::SAXParseException& exc, E_TYPE_ERROR eType);
};

}  // namespace XML

#endif
