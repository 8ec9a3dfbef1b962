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
// The bounds come from the sLimits given; past one the parse ends with a SAXException naming it.
// Internal to the library.
#ifndef KELXML_INTERNAL_PARSEBOUNDS_H
#define KELXML_INTERNAL_PARSEBOUNDS_H

#include "XML/CKelXML.h"
#include "XML/internal/ParserObserver.h"

#include <cstddef>
#include <vector>

namespace XML::internal {

class ParseBounds final : public ParserObserver {
public:
    // The deepest tree Save writes: the default load bound, so that whatever loads saves.
    static constexpr std::size_t kMaxDepth = 1000;

    void SetLimits(const sLimits& limits, std::size_t inputBytes);
    const sLimits& Limits() const { return m_limits; }

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
};

}  // namespace XML::internal

#endif
