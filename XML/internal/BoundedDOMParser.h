// BoundedDOMParser: the DOM parser every Load uses, with bounds on what a document may pile up.
// Internal to the library.
#ifndef KELXML_BOUNDEDDOMPARSER_H
#define KELXML_BOUNDEDDOMPARSER_H

#include "XML/Options.h"
#include "XML/internal/EnumerationBudget.h"

#include <xercesc/parsers/XercesDOMParser.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace XML::internal {

// Bounds where the parser's cost grows with the square of
// what a document piles up, so that no small document can hold a load for minutes:
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
// kMaxAmbiguousParticles particles (XML 1.0 requires deterministic models for compatibility
// anyway) is refused.
// Characters handed to the document (text, attribute values, attribute defaults) are counted:
// beyond the input's own size plus sLimits::maxExpandedCharacters, they can only come from
// entity expansion or defaults, and the parse ends.
// Elements and attributes made inside entity references count against maxExpandedNodes, and
// element names and namespace URIs the parser keeps (its pools are never emptied during a parse)
// against maxDistinctNames.
// Enumeration facets are charged by EnumerationBudget as values are validated.
// The bounds come from the sLimits given; past one the parse ends with a SAXException naming it.
class BoundedDOMParser : public xercesc::XercesDOMParser {
public:
    // The deepest tree Save writes: the default load bound, so that whatever loads saves.
    static constexpr std::size_t kMaxDepth = 1000;

    using xercesc::XercesDOMParser::XercesDOMParser;

    // The bounds of the next parses, and the bytes they read (document and grammar files) for
    // the character count.
    void SetLimits(const sLimits& limits, std::size_t inputBytes);
    // Parses against cached grammars are charged from their declarations, dearest what one
    // word may cost where the document picks the type (DearestEnumeration).
    void SetCachedGrammarCost(std::size_t dearest) { m_dearestEnumeration = dearest; }
    const sLimits& GetLimits() const { return m_limits; }

    void startDocument() override;
    void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                      const bool isEmpty, const bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override;
    void elementDecl(const xercesc::DTDElementDecl& decl, const bool isIgnored) override;
    void endAttList(const xercesc::DTDElementDecl& elemDecl) override;
    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;

protected:
    // Whether the parse builds the document (on by default). Off, every bound above still holds
    // and diagnostics are the same, but no element, text or entity reference node is made: a
    // count needs the parser's events only.
    void BuildTree(bool build) { m_buildTree = build; }

private:
    void Deliver(std::size_t characters);
    void ChargeAttributes(std::size_t count, const char* what, std::size_t weight);
    // The enumerations of a schema-validated tag's attributes, and what its content will cost.
    void ChargeEnumerations(const xercesc::XMLElementDecl& elemDecl,
                            const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount);
    void NoteContent(const XMLCh* chars, XMLSize_t length);
    std::size_t Dearest();
    void ChargeNames(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId,
                     const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount);

    sLimits m_limits;
    bool m_buildTree = true;
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
