#include "XML/internal/LoadRules.h"

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

#include <algorithm>
#include <string>
#include <string_view>

using namespace xercesc;

namespace XML::internal {

namespace {

// An empty entity standing for one that is not read.
InputSource* Nothing(const XMLCh* systemId) {
    static const XMLByte kNothing[] = {0};
    return new MemBufInputSource(kNothing, 0, systemId, false, XMLPlatformUtils::fgMemoryManager);
}

// Why resource is not read for being on the network (the refusal's text), or empty.
std::string NetworkRefusal(const XMLResourceIdentifier& resource) {
    try {
        HandlerError::RefuseNetwork(resource.getBaseURI(), resource.getSystemId());
    } catch (const SAXException& refused) {
        return XStr::ToLocal(refused.getMessage());
    }
    return {};
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

void LoadRules::Prepare(const ParserSettings& settings, HandlerError& handler, const GrammarSet* grammars) {
    m_settings = settings;
    m_pHandler = &handler;
    m_pGrammars = grammars;
}

bool LoadRules::NamesDTD() const { return m_pGrammars && !m_pGrammars->DTDPath().empty(); }

InputSource* LoadRules::resolveEntity(XMLResourceIdentifier* resource) {
    // A document that names its schema is validated against it: in the automatic scheme the
    // scanner would check it without its identity constraints (keys, uniqueness, references).
    // A root element that names one is seen before the parse (ValidateNamedSchema).
    if (m_settings.scheme == AbstractDOMParser::Val_Auto && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::SchemaGrammar)
        m_parser.Scanner()->setValidationScheme(XMLScanner::Val_Always);
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
    if (m_settings.reportUnreadEntities && InProlog() && resource &&
        resource->getResourceIdentifierType() == XMLResourceIdentifier::ExternalEntity) {
        // An external parameter entity of the internal subset: part of the DTD, left unread.
        MarkUnreadDTD();
        return Nothing(resource->getSystemId());
    }
    if (m_settings.skipUnreachable && resource) {
        // The schemas the document names are asked for at its root element, before it starts.
        const auto type = resource->getResourceIdentifierType();
        if (type == XMLResourceIdentifier::SchemaGrammar ||
            (InProlog() && type == XMLResourceIdentifier::ExternalEntity))
            return SkipUnreachable(*resource, type == XMLResourceIdentifier::SchemaGrammar);
    }
    if (m_settings.skipUnreadableDTD && InProlog() && resource &&
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
        if (InProlog() || !resource || resource->getResourceIdentifierType() != XMLResourceIdentifier::ExternalEntity)
            throw;
        Report(m_settings.reportUnreadEntities ? XMLErrorReporter::ErrType_Warning : XMLErrorReporter::ErrType_Error,
               denied.getMessage());
        return Nothing(resource->getSystemId());
    }
}

InputSource* LoadRules::Opened(XMLResourceIdentifier* resource, std::string& refusal) {
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

void LoadRules::Report(XMLErrorReporter::ErrTypes type, const XMLCh* text) {
    const Locator* const where = m_parser.Scanner()->getLocator();
    m_parser.error(0, XMLUni::fgXMLErrDomain, type, text, where->getSystemId(), where->getPublicId(),
                   where->getLineNumber(), where->getColumnNumber());
}

void LoadRules::RefuseInternalDeclaration(const std::string& what) {
    if (!m_inInternalSubset || !m_settings.substituteSubset || !m_pGrammars || m_pGrammars->DTDPath().empty()) return;
    Report(
        XMLErrorReporter::ErrType_Error,
        XStr(
            ("the internal subset declares " + what + ": the named DTD alone declares elements and attributes").c_str())
            .unicodeForm());
}

void LoadRules::ElementDecl(const DTDElementDecl& decl) {
    RefuseInternalDeclaration("element '" + XStr::ToLocal(decl.getFullName()) + "'");
}

void LoadRules::AttDef(const DTDElementDecl& element, const DTDAttDef& attribute) {
    RefuseInternalDeclaration("attribute '" + XStr::ToLocal(attribute.getFullName()) + "' of element '" +
                              XStr::ToLocal(element.getFullName()) + "'");
}

void LoadRules::Warn(const std::string& text) {
    if (!m_pHandler) return;
    const Locator* where = m_parser.Scanner()->getLocator();
    const XStr message(text.c_str());
    m_pHandler->warning(SAXParseException(message.unicodeForm(), where ? where->getPublicId() : nullptr,
                                          where ? where->getSystemId() : nullptr, where ? where->getLineNumber() : 0,
                                          where ? where->getColumnNumber() : 0, XMLPlatformUtils::fgMemoryManager));
}

InputSource* LoadRules::SkipUnreachable(XMLResourceIdentifier& resource, bool schema) {
    std::string why = NetworkRefusal(resource);
    std::unique_ptr<InputSource> source;
    if (!why.empty()) {
        why = why.substr(0, why.find(msg::kNetworkWayOut));  // this load takes that way
    } else {
        // What cannot be read safely (a FIFO, past the budget) stays a refusal: only the access
        // rule's is a warning.
        try {
            if (m_pHandler) source.reset(m_pHandler->resolveEntity(&resource));
            const std::unique_ptr<BinInputStream> probe(source ? source->makeStream() : nullptr);
            if (probe) return source.release();
            why = "cannot be opened";
        } catch (const ResourceDenied& denied) {
            why = XStr::ToLocal(denied.getMessage());
        }
    }
    // Not validated: the grammar would be partial, or absent.
    m_parser.Scanner()->setValidationScheme(XMLScanner::Val_Auto);
    if (!schema) return SkipUnreadable(resource, why);
    // A missing schema the parser reports itself, as a warning.
    if (source) return source.release();
    Warn(msg::kSchemaNotRead + ("'" + XStr::ToLocal(resource.getSystemId()) + "': " + why));
    m_leftOutSchemas.emplace_back(resource.getSystemId() ? resource.getSystemId() : u"");
    return Unopened(resource.getSystemId());
}

InputSource* LoadRules::SkipUnreadable(const XMLResourceIdentifier& resource, std::string why) {
    if (why.empty()) why = NetworkRefusal(resource);
    if (why.empty()) why = "cannot be opened";
    Warn(msg::kDtdNotRead + ("'" + XStr::ToLocal(resource.getSystemId()) + "': " + why));
    MarkUnreadDTD();
    m_parser.Scanner()->setHasNoDTD(true);
    return Nothing(resource.getSystemId());
}

void LoadRules::MarkUnreadDTD() {
    // The scanner drops a reference to an undeclared entity silently when a DTD part went
    // unread, since that part might declare it: it is told there is none (at the end of the
    // internal subset), so that it reports the reference (as a fatal error, turned into a
    // warning in error below), and not to stop there.
    m_unreadSubset = true;
    m_parser.Scanner()->setExitOnFirstFatal(false);
}

void LoadRules::StartDocument() {
    m_subsetId.clear();
    m_hasSubset = false;
    m_unreadSubset = false;
    m_inInternalSubset = false;
    m_diagnostics = 0;
    m_fatalSeen = false;
    m_hasDoctype = false;
    m_leftOutSchemas.clear();
    m_parser.Scanner()->setExitOnFirstFatal(true);
}

void LoadRules::Doctype(const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) {
    m_hasDoctype = true;
    m_hasSubset = hasExtSubset && systemId;
    m_subsetId = systemId ? systemId : u"";
    if (m_settings.reportUnreadEntities && hasExtSubset) {
        MarkUnreadDTD();
        if (!hasIntSubset) m_parser.Scanner()->setHasNoDTD(true);
    }
}

void LoadRules::EndIntSubset() {
    m_inInternalSubset = false;
    if (m_unreadSubset) m_parser.Scanner()->setHasNoDTD(true);
}

void LoadRules::Deliver(const Diagnostic& diagnostic, XMLErrorReporter::ErrTypes type, const XMLCh* text) {
    Diagnostic changed = diagnostic;
    changed.type = type;
    if (text) changed.text = text;
    m_parser.Deliver(changed);
}

bool LoadRules::Error(const Diagnostic& d) {
    // The parser reports the entity expansion bound as a validity error and goes on counting
    // anew: like every other bound, it ends the load with one record.
    const bool parserDomain = XMLString::equals(d.domain, XMLUni::fgXMLErrDomain);
    if (d.code == XMLErrs::EntityExpansionLimitExceeded && parserDomain) throw SAXException(d.text);
    const bool fatal = d.type == XMLErrorReporter::ErrType_Fatal;
    // A schema document that could not be read was reported where it failed: the scan of the
    // schema that imports it adds nothing.
    if (parserDomain && d.code == XMLErrs::SchemaScanFatalError && m_fatalSeen) return true;
    if (parserDomain && d.type == XMLErrorReporter::ErrType_Error && d.code > XMLErrs::E_LowBounds &&
        d.code < XMLErrs::NSDeclInvalid) {
        // A schema that does not compile: its first fault is the one record, a fatal error
        // naming the schema document, and the parse ends before any element is checked.
        Deliver(d, XMLErrorReporter::ErrType_Fatal);
        throw static_cast<XMLErrs::Codes>(d.code);
    }
    m_fatalSeen = m_fatalSeen || fatal;
    // The document was said not to be validated against a schema it names that was left out: with
    // no DTD either, a validity error only says that grammar is missing, once per element.
    if (!m_leftOutSchemas.empty() && !m_hasDoctype && XMLString::equals(d.domain, XMLUni::fgValidityDomain))
        return true;
    // The parser's own "unable to open" for a schema left out repeats the warning that said so.
    if (d.type == XMLErrorReporter::ErrType_Warning && d.text &&
        std::any_of(m_leftOutSchemas.begin(), m_leftOutSchemas.end(), [&](const std::u16string& id) {
            return !id.empty() && std::u16string_view(d.text).find(id) != std::u16string_view::npos;
        }))
        return true;
    // Past the bound, warnings and validity errors are counted, not recorded: the parse goes on
    // and the list stays small whatever the document.
    const std::size_t bound = m_parser.GetLimits().maxDiagnostics;
    if (!fatal && ++m_diagnostics > bound) {
        if (m_diagnostics == bound + 1)
            Deliver(
                d, d.type,
                XStr(("more than " + std::to_string(bound) + " warnings and errors: the rest are not recorded").c_str())
                    .unicodeForm());
        return true;
    }
    if (m_unreadSubset && fatal && d.code == XMLErrs::EntityNotFound && parserDomain) {
        Deliver(d, m_settings.skipUnreachable ? XMLErrorReporter::ErrType_Error : XMLErrorReporter::ErrType_Warning);
        return true;
    }
    m_parser.Deliver(d);
    // Any other fatal error ends the parse: the scanner takes this as its own
    // first-fatal-error exit.
    if (m_unreadSubset && fatal) throw static_cast<XMLErrs::Codes>(d.code);
    return true;
}

}  // namespace XML::internal
