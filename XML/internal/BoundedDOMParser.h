// BoundedDOMParser: the DOM parser every Load uses, with bounds on what a document may pile up.
// Internal to the library.
#ifndef KELXML_BOUNDEDDOMPARSER_H
#define KELXML_BOUNDEDDOMPARSER_H

#include <xercesc/parsers/XercesDOMParser.hpp>

#include <cstddef>
#include <vector>

namespace XML {

// Bounds where the parser's cost grows with the square of
// what a document piles up, so that no small document can hold a load for minutes:
// - open elements: each namespace prefix is resolved by walking the whole stack of open
//   elements (300,000 levels, 2 MB: minutes);
// - attributes of one element: the DOM checks each new attribute against all the earlier ones
//   (100,000 attributes, 1.3 MB: 70 s);
// - namespace declarations in scope: each prefix lookup also reads every one of them.
// DTD element declarations are checked as they are read, before the validator compiles them:
// it recurses once per level of a content model (100,000 levels overflowed the stack), and the
// automaton it builds can grow exponentially with a model that is not deterministic (a
// 150-byte model of 43 particles: 5 s and 380 MB; each particle more doubles it). A model
// deeper than kMaxDepth, larger than kMaxContentNodes, or not deterministic with more than
// kMaxAmbiguousParticles particles (XML 1.0 requires deterministic models for compatibility
// anyway) is refused.
// Past a bound the parse ends with a SAXException naming it.
class BoundedDOMParser : public xercesc::XercesDOMParser {
public:
    static constexpr std::size_t kMaxDepth = 1000;
    static constexpr std::size_t kMaxAttributes = 1000;
    static constexpr std::size_t kMaxNamespacesInScope = 1000;
    static constexpr std::size_t kMaxContentNodes = 2000;
    static constexpr std::size_t kMaxAmbiguousParticles = 16;

    using xercesc::XercesDOMParser::XercesDOMParser;

    void startDocument() override;
    void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                      const bool isEmpty, const bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override;
    void elementDecl(const xercesc::DTDElementDecl& decl, const bool isIgnored) override;

private:
    std::size_t m_depth = 0;
    // Namespace declarations made by each open element, and their sum.
    std::vector<std::size_t> m_declared;
    std::size_t m_inScope = 0;
};

} // namespace XML

#endif
