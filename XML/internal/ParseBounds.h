// ParseBounds: the parser observer that bounds what a document may pile up, where the parser's
// cost grows with the square of it, so that no small document can hold a load for minutes:
// - open elements: each namespace prefix is resolved by walking the whole stack of open
//   elements (300,000 levels, 2 MB: minutes);
// - attributes of one element: the DOM checks each new attribute against all the earlier ones
//   (100,000 attributes, 1.3 MB: 70 s), and each attribute list declared again for an element
//   makes its default attributes anew (4000 declarations of one attribute each: 229 s). Both
//   are charged, as comparisons, to the attribute cost;
// - namespace declarations in scope: each prefix lookup also reads every one of them.
// DTD element declarations are checked as they are read, before the validator compiles them:
// it recurses once per level of a content model (100,000 levels overflowed the stack), and the
// automaton it builds can grow exponentially with a model that is not deterministic (a
// 150-byte model of 43 particles: 5 s and 380 MB; each particle more doubles it). A model
// deeper than maxDepth, larger than maxContentModelParticles, or not deterministic with more than
// maxAmbiguousParticles particles (XML 1.0 requires deterministic models for compatibility
// anyway) is refused.
// Characters handed to the document (text, attribute values, attribute defaults) are counted:
// beyond the input's own size plus sLimits::maxExpandedCharacters, they can only come from
// entity expansion or defaults, and the parse ends.
// Elements and attributes made inside entity references count against maxExpandedNodes, and
// element names and namespace URIs the parser keeps (its pools are never emptied during a parse)
// against maxDistinctNames.
// Enumeration facets are charged by EnumerationBudget as values are validated.
// The bounds come from the sLimits given; past one the parse ends with a SAXException naming it.
// Internal to the library.
#ifndef KELXML_INTERNAL_PARSEBOUNDS_H
#define KELXML_INTERNAL_PARSEBOUNDS_H

#include "XML/Options.h"
#include "XML/internal/EnumerationBudget.h"
#include "XML/internal/ParserObserver.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class XMLScanner;
class GrammarResolver;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

class ParseBounds final : public ParserObserver {
public:
    // The deepest tree Save writes: the default load bound, so that whatever loads saves.
    static constexpr std::size_t kMaxDepth = 1000;

    void SetLimits(const sLimits& limits, std::size_t inputBytes);
    const sLimits& Limits() const { return m_limits; }
    // Parses against cached grammars are charged from their declarations, dearest what one
    // word may cost where the document picks the type (DearestEnumeration).
    void SetCachedGrammarCost(std::size_t dearest) { m_dearestEnumeration = dearest; }
    // The scanner and grammars of the parse about to start, and whether they are cached ones.
    void Begin(xercesc::XMLScanner* scanner, xercesc::GrammarResolver* grammars, bool cachedGrammars) {
        m_scanner = scanner;
        m_grammars = grammars;
        m_cachedGrammars = cachedGrammars;
    }

    Events Wanted() const override {
        return Bit(kStartDocument) | Bit(kElementDecl) | Bit(kEndAttList) | Bit(kStartElement) | Bit(kEndElement) |
               Bit(kCharacters) | Bit(kStartEntity) | Bit(kEndEntity);
    }
    void StartDocument() override;
    void ElementDecl(const xercesc::DTDElementDecl& decl) override;
    void EndAttList(const xercesc::DTDElementDecl& element) override;
    void StartElement(const StartTag& tag) override;
    void EndElement(bool emptyTag) override;
    void Characters(const XMLCh* chars, XMLSize_t length) override;
    void StartEntity(const xercesc::XMLEntityDecl& entity) override;
    void EndEntity() override;

private:
    void Deliver(std::size_t characters);
    void ChargeAttributes(std::size_t count, const char* what, std::size_t weight);
    void ChargeNames(const StartTag& tag);
    // The enumerations of a schema-validated tag's attributes, and what its content will cost.
    void ChargeEnumerations(const StartTag& tag);
    // The enumerated attributes of a DTD-validated tag: the validator searches each one's list.
    void ChargeDtdEnumerations(const StartTag& tag);
    void NoteContent(const XMLCh* chars, XMLSize_t length);
    std::size_t Dearest();

    sLimits m_limits;
    std::size_t m_inputBytes = 0;
    std::size_t m_delivered = 0;
    std::size_t m_attributeCost = 0;
    std::size_t m_attributes = 0;
    std::size_t m_depth = 0;
    // Namespace declarations made by each open element, and their sum.
    std::vector<std::size_t> m_declared;
    std::size_t m_inScope = 0;
    // Entity references open around the current position, and the nodes made inside them.
    std::size_t m_inEntity = 0;
    std::size_t m_expandedNodes = 0;
    EnumerationBudget m_enumerations;
    // Of each DTD element declared in this parse: its attributes of enumerated types long enough
    // to be charged, each with its list of names.
    std::unordered_map<const xercesc::XMLElementDecl*, std::vector<std::pair<const XMLCh*, const XMLCh*>>>
        m_dtdEnumerated;
    xercesc::XMLScanner* m_scanner = nullptr;
    xercesc::GrammarResolver* m_grammars = nullptr;
    // What one word may cost against the dearest type of the cached grammars, or of the
    // document's own schemas (m_grammarsSeen of them when it was last found).
    std::size_t m_dearestEnumeration = 0;
    std::size_t m_dearestOwn = 0;
    std::size_t m_grammarsSeen = 0;
    bool m_cachedGrammars = false;
    // The URI ids of the schema-instance and namespace-declaration namespaces in this parse.
    unsigned int m_xsi = 0, m_xmlns = 0;
    // Since the last start tag: its content type and text (the value the validator checks when
    // no element starts before its end), the words in it, whether it had xsi:type.
    static constexpr std::size_t kMaxKeptValue = 65536;
    bool m_leaf = false;
    const xercesc::DatatypeValidator* m_leafType = nullptr;
    std::u16string m_leafText;
    std::size_t m_words = 0;
    bool m_inWord = false;
    bool m_retyped = false;
};

}  // namespace XML::internal

#endif
