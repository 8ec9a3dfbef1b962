// HandlerError: the parser's error handler, which is also the error list it fills, and the
// resolver of every external resource a document names.
// Internal to the library; callers see it as the const CError* of CKelXML::GetErrors.
#ifndef KELXML_HANDLERERROR_H
#define KELXML_HANDLERERROR_H

#include "XML/CError.h"

#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include <cstddef>
#include <vector>

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
    // The same rule for a parser that only offers the SAX hook, which gives no base: a relative
    // reference is then taken as local.
    xercesc::InputSource* resolveEntity(const XMLCh* const publicId, const XMLCh* const systemId) override;

    // Throws a SAXException naming the URL when systemId, taken relative to base (may be null)
    // as the parser takes it, is not a local file. Load applies it to the file name too, which
    // the parser would otherwise fetch from any URL it is given.
    static void RefuseNetwork(const XMLCh* base, const XMLCh* systemId);

private:
    void ReportParseError(const xercesc::SAXParseException& exc, E_TYPE_ERROR eType);
};

// The DOM parser every Load uses, with bounds where the parser's cost grows with the square of
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

    // True when node, or an element below it, lies more than kMaxDepth elements deep counting
    // from node. The serializer recurses once per level, so Save checks this first: what Load
    // accepts can be saved, and a deeper tree built by hand cannot exhaust the stack.
    // Iterative, linear in the size of the subtree.
    static bool DeeperThanLimit(const xercesc::DOMNode* node);

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
