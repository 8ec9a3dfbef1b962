#include "XML/internal/LoadParser.h"

#include "XML/HandlerError.h"
#include "XML/XStr.h"
#include "XML/internal/Catalog.h"
#include "XML/internal/GrammarCache.h"
#include "XML/internal/Messages.h"
#include "XML/internal/ResourceGate.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDAttDef.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

#include <string>

using namespace xercesc;

namespace XML::internal {

namespace {

// An empty entity standing for one that is not read.
InputSource* Nothing(const XMLCh* systemId) {
    static const XMLByte kNothing[] = {0};
    return new MemBufInputSource(kNothing, 0, systemId, false, XMLPlatformUtils::fgMemoryManager);
}

}  // namespace

ParserSettings SettingsFor(E_LOAD_MODE mode, bool schemasNamed) {
    ParserSettings settings;
    switch (mode) {
    case E_LOAD_VALIDATE: settings.scheme = AbstractDOMParser::Val_Always; break;
    case E_LOAD_WELL_FORMED:
        settings.scheme = AbstractDOMParser::Val_Never;
        settings.doSchema = false;
        settings.fullChecking = false;
        settings.loadExternalDTD = false;
        settings.loadSchema = false;
        settings.reportUnreadEntities = true;
        break;
    case E_LOAD_NAMED_GRAMMARS:
        settings.scheme = AbstractDOMParser::Val_Always;
        settings.doSchema = schemasNamed;
        settings.loadSchema = false;
        settings.useCachedGrammar = true;
        settings.substituteSubset = true;
        break;
    case E_LOAD_DTD_DEFAULTS:
        settings.scheme = AbstractDOMParser::Val_Never;
        settings.doSchema = false;
        settings.fullChecking = false;
        settings.loadSchema = false;
        settings.skipUnreadableDTD = true;
        break;
    case E_LOAD_AUTO:
    default: settings.skipUnreachable = true; break;
    }
    return settings;
}

LoadParser::LoadParser(XMLGrammarPool* pool, SecurityManager* security) : SourceKeepingParser(nullptr, &m_pool, pool) {
    setDoNamespaces(true);
    // Bounds entity expansion ("billion laughs"); the parser only borrows it.
    setSecurityManager(security);
    // Xerces refuses a cached DTD for a document with an internal subset: such a document
    // reads the named DTD from its file instead.
    setIgnoreCachedDTD(true);
    // A schema may import one namespace from several files, as the named grammars may.
    setHandleMultipleImports(true);
}

void LoadParser::Prepare(const ParserSettings& settings, HandlerError& handler, const GrammarSet* grammars) {
    m_settings = settings;
    m_pHandler = &handler;
    m_pGrammars = grammars;
    SetCachedGrammarCost(grammars ? grammars->DearestEnumeration() : 0);
    setValidationScheme(settings.scheme);
    setDoSchema(settings.doSchema);
    setValidationSchemaFullChecking(settings.fullChecking);
    setLoadExternalDTD(settings.loadExternalDTD);
    setLoadSchema(settings.loadSchema);
    useCachedGrammarInParse(settings.useCachedGrammar);
    setErrorHandler(&handler);
    setXMLEntityResolver(this);
    SetSourceReader(nullptr);  // a reader set for a parse that never started reads nothing now
}

bool LoadParser::NamesDTD() const { return m_pGrammars && !m_pGrammars->DTDPath().empty(); }

InputSource* LoadParser::resolveEntity(XMLResourceIdentifier* resource) {
    // A document that names its schema is validated against it: in the automatic scheme the
    // scanner would check it without its identity constraints (keys, uniqueness, references).
    // A root element that names one is seen before the parse (ValidateNamedSchema).
    if (m_settings.scheme == AbstractDOMParser::Val_Auto && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::SchemaGrammar)
        getScanner()->setValidationScheme(XMLScanner::Val_Always);
    if (m_settings.substituteSubset && m_hasSubset && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::ExternalEntity &&
        XMLString::equals(resource->getSystemId(), m_subsetId.c_str())) {
        // Once: an external entity of the same name further on is the document's own.
        m_hasSubset = false;
        // The bytes read when the grammars were parsed: the file is not opened again.
        if (m_pGrammars && !m_pGrammars->DTDPath().empty())
            return new MemBufInputSource(
                reinterpret_cast<const XMLByte*>(m_pGrammars->DTDBytes().data()), m_pGrammars->DTDBytes().size(),
                XStr(m_pGrammars->DTDPath().c_str()).unicodeForm(), false, XMLPlatformUtils::fgMemoryManager);
        return Nothing(resource->getSystemId());
    }
    if (m_settings.reportUnreadEntities && m_inProlog && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::ExternalEntity) {
        // An external parameter entity of the internal subset: part of the DTD, left unread.
        MarkUnreadDTD();
        return Nothing(resource->getSystemId());
    }
    if (m_settings.skipUnreachable && resource) {
        // The schemas the document names are asked for at its root element, before it starts.
        const auto type = resource->getResourceIdentifierType();
        if (type == XMLResourceIdentifier::SchemaGrammar ||
            (m_inProlog && type == XMLResourceIdentifier::ExternalEntity))
            return SkipUnreachable(*resource, type == XMLResourceIdentifier::SchemaGrammar);
    }
    if (m_settings.skipUnreadableDTD && m_inProlog && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::ExternalEntity) {
        // As other canonicalisers do: the file the system's catalogs map the DTD part to first,
        // then the named one; one that cannot be read is left out with a warning.
        const std::string mapped = ResolveInCatalogs(XStr::ToLocal(resource->getPublicId()),
                                                     XStr::ToLocal(resource->getSystemId()));
        std::string refusal;
        if (!mapped.empty()) {
            const XStr id(mapped.c_str());
            XMLResourceIdentifier inCatalog(XMLResourceIdentifier::ExternalEntity, id.unicodeForm());
            if (InputSource* const source = Opened(&inCatalog, refusal)) return source;
        }
        if (InputSource* const source = Opened(resource, refusal)) return source;
        return SkipUnreadable(*resource, refusal);
    }
    if (!m_pHandler) return nullptr;
    try {
        return m_pHandler->resolveEntity(resource);
    } catch (const ResourceDenied& denied) {
        // An entity of the content that the access rule leaves out: recorded where it is
        // referenced (a warning when only well-formedness is checked), its content left out.
        if (m_inProlog || !resource || resource->getResourceIdentifierType() != XMLResourceIdentifier::ExternalEntity)
            throw;
        Report(m_settings.reportUnreadEntities ? XMLErrorReporter::ErrType_Warning : XMLErrorReporter::ErrType_Error,
               denied.getMessage());
        return Nothing(resource->getSystemId());
    }
}

InputSource* LoadParser::Opened(XMLResourceIdentifier* resource, std::string& refusal) {
    if (!m_pHandler) return nullptr;
    std::unique_ptr<InputSource> source;
    try {
        source.reset(m_pHandler->resolveEntity(resource));
    } catch (const XMLException&) {
        return nullptr;
    } catch (const SAXException& e) {
        refusal = XStr::ToLocal(e.getMessage());
        return nullptr;
    }
    const std::unique_ptr<BinInputStream> probe(source ? source->makeStream() : nullptr);
    return probe ? source.release() : nullptr;
}

void LoadParser::Report(XMLErrorReporter::ErrTypes type, const XMLCh* text) {
    const Locator* const where = getScanner()->getLocator();
    error(0, XMLUni::fgXMLErrDomain, type, text, where->getSystemId(), where->getPublicId(), where->getLineNumber(),
          where->getColumnNumber());
}

void LoadParser::RefuseInternalDeclaration(const std::string& what) {
    if (!m_inInternalSubset || !m_settings.substituteSubset || !m_pGrammars || m_pGrammars->DTDPath().empty()) return;
    Report(
        XMLErrorReporter::ErrType_Error,
        XStr(
            ("the internal subset declares " + what + ": the named DTD alone declares elements and attributes").c_str())
            .unicodeForm());
}

void LoadParser::startIntSubset() {
    m_inInternalSubset = true;
    SourceKeepingParser::startIntSubset();
}

void LoadParser::elementDecl(const DTDElementDecl& decl, const bool isIgnored) {
    RefuseInternalDeclaration("element '" + XStr::ToLocal(decl.getFullName()) + "'");
    SourceKeepingParser::elementDecl(decl, isIgnored);
}

void LoadParser::attDef(const DTDElementDecl& elemDecl, const DTDAttDef& attDef, const bool ignoring) {
    RefuseInternalDeclaration("attribute '" + XStr::ToLocal(attDef.getFullName()) + "' of element '" +
                              XStr::ToLocal(elemDecl.getFullName()) + "'");
    SourceKeepingParser::attDef(elemDecl, attDef, ignoring);
}

void LoadParser::Warn(const std::string& text) {
    if (!m_pHandler) return;
    const Locator* where = getScanner()->getLocator();
    const XStr message(text.c_str());
    m_pHandler->warning(SAXParseException(message.unicodeForm(), where ? where->getPublicId() : nullptr,
                                          where ? where->getSystemId() : nullptr, where ? where->getLineNumber() : 0,
                                          where ? where->getColumnNumber() : 0, XMLPlatformUtils::fgMemoryManager));
}

InputSource* LoadParser::SkipUnreachable(XMLResourceIdentifier& resource, bool schema) {
    std::string why;
    std::unique_ptr<InputSource> source;
    try {
        HandlerError::RefuseNetwork(resource.getBaseURI(), resource.getSystemId());
        if (m_pHandler) source.reset(m_pHandler->resolveEntity(&resource));
        const std::unique_ptr<BinInputStream> probe(source ? source->makeStream() : nullptr);
        if (probe) return source.release();
        why = "cannot be opened";
    } catch (const ResourceDenied& denied) {
        why = XStr::ToLocal(denied.getMessage());
    } catch (const SAXException& refused) {
        // The network only: what cannot be read safely (a FIFO, past the budget) stays a refusal.
        try {
            HandlerError::RefuseNetwork(resource.getBaseURI(), resource.getSystemId());
        } catch (const SAXException&) {
            why = XStr::ToLocal(refused.getMessage());
            why = why.substr(0, why.find(msg::kNetworkWayOut));  // this load takes that way
        }
        if (why.empty()) throw;
    }
    // Not validated: the grammar would be partial, or absent.
    getScanner()->setValidationScheme(XMLScanner::Val_Auto);
    if (!schema) return SkipUnreadable(resource, why);
    // A missing schema the parser reports itself, as a warning.
    if (source) return source.release();
    Warn(msg::kSchemaNotRead + ("'" + XStr::ToLocal(resource.getSystemId()) + "': " + why));
    m_schemaLeftOut = true;
    return Unopened(resource.getSystemId());
}

InputSource* LoadParser::SkipUnreadable(const XMLResourceIdentifier& resource, std::string why) {
    if (why.empty()) {
        why = "cannot be opened";
        try {
            HandlerError::RefuseNetwork(resource.getBaseURI(), resource.getSystemId());
        } catch (const SAXException& e) {
            why = XStr::ToLocal(e.getMessage());
        }
    }
    Warn(msg::kDtdNotRead + ("'" + XStr::ToLocal(resource.getSystemId()) + "': " + why));
    MarkUnreadDTD();
    getScanner()->setHasNoDTD(true);
    return Nothing(resource.getSystemId());
}

void LoadParser::MarkUnreadDTD() {
    // The scanner drops a reference to an undeclared entity silently when a DTD part went
    // unread, since that part might declare it: it is told there is none (at the end of the
    // internal subset), so that it reports the reference (as a fatal error, turned into a
    // warning in error below), and not to stop there.
    m_unreadSubset = true;
    getScanner()->setExitOnFirstFatal(false);
}

void LoadParser::startDocument() {
    m_subsetId.clear();
    m_hasSubset = false;
    m_unreadSubset = false;
    m_inProlog = true;
    m_inInternalSubset = false;
    m_diagnostics = 0;
    m_fatalSeen = false;
    m_hasDoctype = false;
    m_schemaLeftOut = false;
    getScanner()->setExitOnFirstFatal(true);
    SourceKeepingParser::startDocument();
}

void LoadParser::doctypeDecl(const DTDElementDecl& elemDecl, const XMLCh* const publicId, const XMLCh* const systemId,
                             const bool hasIntSubset, const bool hasExtSubset) {
    SourceKeepingParser::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
    m_hasDoctype = true;
    m_hasSubset = hasExtSubset && systemId;
    m_subsetId = systemId ? systemId : u"";
    if (m_settings.reportUnreadEntities && hasExtSubset) {
        MarkUnreadDTD();
        if (!hasIntSubset) getScanner()->setHasNoDTD(true);
    }
}

void LoadParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                              const RefVectorOf<XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
                              const bool isRoot) {
    m_inProlog = false;
    SourceKeepingParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
}

void LoadParser::endIntSubset() {
    m_inInternalSubset = false;
    SourceKeepingParser::endIntSubset();
    if (m_unreadSubset) getScanner()->setHasNoDTD(true);
}

void LoadParser::error(const unsigned int errCode, const XMLCh* const msgDomain,
                       const XMLErrorReporter::ErrTypes errType, const XMLCh* const errorText,
                       const XMLCh* const systemId, const XMLCh* const publicId, const XMLFileLoc lineNum,
                       const XMLFileLoc colNum) {
    // The parser reports the entity expansion bound as a validity error and goes on counting
    // anew: like every other bound, it ends the load with one record.
    if (errCode == XMLErrs::EntityExpansionLimitExceeded && XMLString::equals(msgDomain, XMLUni::fgXMLErrDomain))
        throw SAXException(errorText);
    const bool fatal = errType == XMLErrorReporter::ErrType_Fatal;
    const bool parserDomain = XMLString::equals(msgDomain, XMLUni::fgXMLErrDomain);
    // A schema document that could not be read was reported where it failed: the scan of the
    // schema that imports it adds nothing.
    if (parserDomain && errCode == XMLErrs::SchemaScanFatalError && m_fatalSeen) return;
    if (parserDomain && errType == XMLErrorReporter::ErrType_Error && errCode > XMLErrs::E_LowBounds &&
        errCode < XMLErrs::NSDeclInvalid) {
        // A schema that does not compile: its first fault is the one record, a fatal error
        // naming the schema document, and the parse ends before any element is checked.
        SourceKeepingParser::error(errCode, msgDomain, XMLErrorReporter::ErrType_Fatal, errorText, systemId, publicId,
                                   lineNum, colNum);
        throw static_cast<XMLErrs::Codes>(errCode);
    }
    m_fatalSeen = m_fatalSeen || fatal;
    // The document was said not to be validated against a schema it names that was left out: with
    // no DTD either, a validity error only says that grammar is missing, once per element.
    if (m_schemaLeftOut && !m_hasDoctype && XMLString::equals(msgDomain, XMLUni::fgValidityDomain)) return;
    // Past the bound, warnings and validity errors are counted, not recorded: the parse goes on
    // and the list stays small whatever the document.
    if (!fatal && ++m_diagnostics > GetLimits().maxDiagnostics) {
        if (m_diagnostics == GetLimits().maxDiagnostics + 1)
            SourceKeepingParser::error(errCode, msgDomain, errType,
                                       XStr(("more than " + std::to_string(GetLimits().maxDiagnostics) +
                                             " warnings and errors: the rest are not recorded")
                                                .c_str())
                                           .unicodeForm(),
                                       systemId, publicId, lineNum, colNum);
        return;
    }
    if (m_unreadSubset && fatal && errCode == XMLErrs::EntityNotFound &&
        XMLString::equals(msgDomain, XMLUni::fgXMLErrDomain)) {
        SourceKeepingParser::error(
            errCode, msgDomain,
            m_settings.skipUnreachable ? XMLErrorReporter::ErrType_Error : XMLErrorReporter::ErrType_Warning, errorText,
            systemId, publicId, lineNum, colNum);
        return;
    }
    SourceKeepingParser::error(errCode, msgDomain, errType, errorText, systemId, publicId, lineNum, colNum);
    // Any other fatal error ends the parse: the scanner takes this as its own
    // first-fatal-error exit.
    if (m_unreadSubset && fatal) throw static_cast<XMLErrs::Codes>(errCode);
}

}  // namespace XML::internal
