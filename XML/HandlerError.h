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

    // External DTDs, entities and schemas (includes, imports, redefines too). A reference that
    // resolves, against the referring document, to a local file (a path, or a file: URL on
    // this host) is left to the parser's own resolution, unchanged. Anything else would reach
    // the network: it throws a SAXException naming the URL, which ends the parse.
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    // While set, schema documents are read through reader first: it returns the source the
    // parser reads (or null to let the parser read it), or throws to refuse it.
    using GrammarReader = std::function<xercesc::InputSource*(const xercesc::XMLResourceIdentifier&)>;
    void SetGrammarReader(GrammarReader reader) { m_grammarReader = std::move(reader); }
    // Only the resolver above is installed; the SAX one keeps HandlerBase's behaviour.
    using xercesc::HandlerBase::resolveEntity;

    // Throws a SAXException naming the URL when systemId, taken relative to base (may be null)
    // as the parser takes it, is not a local file. Load applies it to the file name too, which
    // the parser would otherwise fetch from any URL it is given.
    static void RefuseNetwork(const XMLCh* base, const XMLCh* systemId);

private:
    GrammarReader m_grammarReader;
    void ReportParseError(const xercesc::SAXParseException& exc, E_TYPE_ERROR eType);
};

}  // namespace XML

#endif
