// LoadRules: the settings of each load mode, and the parser observer that applies them to the
// events of a parse (resources, diagnostics, the internal subset). Internal to the library.
#ifndef KELXML_INTERNAL_LOADRULES_H
#define KELXML_INTERNAL_LOADRULES_H

#include "XML/Options.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/ParserObserver.h"

#include <xercesc/util/XMLEntityResolver.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace XML {
class HandlerError;
}

namespace XML::internal {

class GrammarSet;

// The parser settings of one load mode.
struct ParserSettings {
    xercesc::AbstractDOMParser::ValSchemes scheme = xercesc::AbstractDOMParser::Val_Auto;
    bool doSchema = true;
    bool fullChecking = true;
    // Read the DOCTYPE's external subset when not validating.
    bool loadExternalDTD = true;
    // Follow xsi:schemaLocation and xsi:noNamespaceSchemaLocation.
    bool loadSchema = true;
    // Validate against the grammars of the parser's pool.
    bool useCachedGrammar = false;
    // Well-formed mode: external parameter entities are not read either, and an entity reference
    // that only the unread DTD parts could declare is a warning, and the parse goes on.
    bool reportUnreadEntities = false;
    // Named-grammar mode: the DOCTYPE's external subset is the named DTD, or empty when none.
    bool substituteSubset = false;
    // DTD-defaults mode: a DTD part that cannot be read is left out with a warning (and an
    // entity reference only it could declare is a warning too), not a fatal error.
    bool skipUnreadableDTD = false;
    // Automatic scheme: a DTD part or a schema the document names that is on the network, missing
    // or left out by the access rule is not read, after a warning; the document is then not
    // validated, and a reference to an entity only the unread part could declare is an error.
    bool skipUnreachable = false;
};

// The settings of a mode; the named-grammar mode validates with schemas only when some are named.
ParserSettings SettingsFor(E_LOAD_MODE mode, bool schemasNamed);

// The rules of a load mode the parser's events follow: where external resources come from (the
// named DTD, a stand-in for what is left unread, the handler's resolver that refuses the network),
// which diagnostics are recorded and how (warnings past the bound counted only, a schema that does
// not compile as one record), and what the internal subset may declare.
class LoadRules final : public ParserObserver, public xercesc::XMLEntityResolver {
public:
    explicit LoadRules(BoundedDOMParser& parser) : m_parser(parser) {}

    // The rules of the next parse: the mode's settings, the handler that records its diagnostics
    // and resolves external resources, and the grammars of a named-grammar load (null otherwise).
    // handler and grammars must outlive the parse.
    void Prepare(const ParserSettings& settings, HandlerError& handler, const GrammarSet* grammars);
    // Whether the grammars of the next parse include a named DTD.
    bool NamesDTD() const;

    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

    Events Wanted() const override {
        return Bit(kStartDocument) | Bit(kDoctype) | Bit(kStartIntSubset) | Bit(kEndIntSubset) | Bit(kElementDecl) |
               Bit(kAttDef) | Bit(kError);
    }
    void StartDocument() override;
    void Doctype(const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) override;
    void StartIntSubset() override { m_inInternalSubset = true; }
    void EndIntSubset() override;
    void ElementDecl(const xercesc::DTDElementDecl& decl) override;
    void AttDef(const xercesc::DTDElementDecl& element, const xercesc::DTDAttDef& attribute) override;
    bool Error(const Diagnostic& diagnostic) override;

private:
    // Until the root element starts, an external entity asked for is DTD material.
    bool InProlog() const { return !m_parser.RootStarted(); }
    // The source the handler's resolver gives for resource, when it can be read; null otherwise,
    // with the resolver's refusal (if it refused) in refusal.
    xercesc::InputSource* Opened(xercesc::XMLResourceIdentifier* resource, std::string& refusal);
    // Records a diagnostic of the load itself at the scanner's position.
    void Report(xercesc::XMLErrorReporter::ErrTypes type, const XMLCh* text);
    // In the named-grammar mode with a named DTD, the internal subset may not declare elements or
    // attributes: the named DTD is the grammar, the document cannot loosen it.
    void RefuseInternalDeclaration(const std::string& what);
    // Notes that part of the DTD is not read: undeclared entities are then reported, not fatal.
    void MarkUnreadDTD();
    // In DTD-defaults mode, a DTD part that cannot be read: an empty stand-in, after a warning.
    xercesc::InputSource* SkipUnreadable(const xercesc::XMLResourceIdentifier& resource, std::string why = {});
    // In the automatic scheme, the source of a DTD part or schema the document names, or, when it
    // is on the network, missing or left out by the access rule, a warning and a stand-in.
    xercesc::InputSource* SkipUnreachable(xercesc::XMLResourceIdentifier& resource, bool schema);
    // Records a warning at the scanner's position.
    void Warn(const std::string& text);
    // Hands the diagnostic on to the handler with its type changed.
    void Deliver(const Diagnostic& diagnostic, xercesc::XMLErrorReporter::ErrTypes type, const XMLCh* text = nullptr);

    BoundedDOMParser& m_parser;
    ParserSettings m_settings;
    HandlerError* m_pHandler = nullptr;
    const GrammarSet* m_pGrammars = nullptr;
    // The DOCTYPE's system identifier as written, while its external subset is being resolved.
    std::basic_string<XMLCh> m_subsetId;
    bool m_hasSubset = false;
    // Set once part of the DTD (the external subset, an external parameter entity) goes unread.
    bool m_unreadSubset = false;
    bool m_inInternalSubset = false;
    std::size_t m_diagnostics = 0;
    bool m_fatalSeen = false;
    // A DOCTYPE was read; the schemas the document names that were left out (it is not validated
    // against them).
    bool m_hasDoctype = false;
    std::vector<std::u16string> m_leftOutSchemas;
};

}  // namespace XML::internal

#endif
