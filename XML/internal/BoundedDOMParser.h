// BoundedDOMParser: the one DOM parser of the library (loads, walks, grammar files). It hands each
// parser event to an ordered list of observers, each a concern of its own, calling an observer
// only for the events it wants; the bounds on what a document may pile up (ParseBounds) are always
// the first. Internal to the library.
#ifndef KELXML_BOUNDEDDOMPARSER_H
#define KELXML_BOUNDEDDOMPARSER_H

#include "XML/internal/ParseBounds.h"
#include "XML/internal/ParserObserver.h"

#include <xercesc/parsers/XercesDOMParser.hpp>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace XML::internal {

class BoundedDOMParser : public xercesc::XercesDOMParser {
public:
    // The deepest tree Save writes: the default load bound, so that whatever loads saves.
    static constexpr std::size_t kMaxDepth = ParseBounds::kMaxDepth;

    BoundedDOMParser(xercesc::XMLValidator* validator, xercesc::MemoryManager* manager, xercesc::XMLGrammarPool* pool);

    // The bounds of the next parses, and the bytes they read (document and grammar files) for
    // the character count.
    void SetLimits(const sLimits& limits, std::size_t inputBytes) { m_bounds.SetLimits(limits, inputBytes); }
    const sLimits& GetLimits() const { return m_bounds.Limits(); }
    void SetCachedGrammarCost(std::size_t dearest) { m_bounds.SetCachedGrammarCost(dearest); }

    // Adds observer to the list (at its front with first), which it must outlive or leave.
    void Observe(ParserObserver& observer, bool first = false);
    void Forget(ParserObserver& observer);
    // Reads again what each observer wants (after one changed it).
    void Refresh();

    // Whether the parse builds the document (on by default). Off, every observer is told the same
    // events, but no element, text or entity reference node is made.
    void BuildTree(bool build) { m_buildTree = build; }
    bool BuildsTree() const { return m_buildTree; }
    // Whether the root element has started in this parse.
    bool RootStarted() const { return m_rootStarted; }

    // What observers read of the parse under way.
    xercesc::XMLScanner* Scanner() const { return getScanner(); }
    xercesc::DOMNode* CurrentNode() { return getCurrentNode(); }
    xercesc::DOMNode* CurrentParent() const { return fCurrentParent; }
    // Hands a diagnostic to the handler as the parser would, past the observers.
    void Deliver(const Diagnostic& diagnostic);
    // Moves the open nodes (open[0] the document, then the root element down to the current
    // parent; at least two) and the document type to a new document, releases the old one, and
    // puts the new nodes into open.
    void RenewDocument(std::vector<xercesc::DOMNode*>& open);

    void startDocument() override;
    void XMLDecl(const XMLCh* versionStr, const XMLCh* encodingStr, const XMLCh* standaloneStr,
                 const XMLCh* actualEncStr) override;
    void doctypeDecl(const xercesc::DTDElementDecl& elemDecl, const XMLCh* const publicId, const XMLCh* const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;
    void startIntSubset() override;
    void endIntSubset() override;
    void elementDecl(const xercesc::DTDElementDecl& decl, const bool isIgnored) override;
    void attDef(const xercesc::DTDElementDecl& elemDecl, const xercesc::DTDAttDef& attDef,
                const bool ignoring) override;
    void endAttList(const xercesc::DTDElementDecl& elemDecl) override;
    void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                      const bool isEmpty, const bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override;
    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void docComment(const XMLCh* const comment) override;
    void docPI(const XMLCh* const target, const XMLCh* const data) override;
    void error(const unsigned int errCode, const XMLCh* const msgDomain,
               const xercesc::XMLErrorReporter::ErrTypes errType, const XMLCh* const errorText,
               const XMLCh* const systemId, const XMLCh* const publicId, const XMLFileLoc lineNum,
               const XMLFileLoc colNum) override;

private:
    using List = std::vector<ParserObserver*>;
    const List& On(ParserObserver::Event event) const { return m_on[event]; }

    ParseBounds m_bounds;
    List m_roster;  // every observer, in order
    std::array<List, ParserObserver::kEventCount> m_on;
    bool m_buildTree = true;
    bool m_rootStarted = false;
    bool m_inEmptyTag = false;  // the base class ends an empty element from within its start
};

// Registers an observer for a scope.
class Observing {
public:
    Observing(BoundedDOMParser& parser, ParserObserver& observer) : m_parser(parser), m_observer(observer) {
        parser.Observe(observer);
    }
    ~Observing() { m_parser.Forget(m_observer); }
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;

private:
    BoundedDOMParser& m_parser;
    ParserObserver& m_observer;
};

}  // namespace XML::internal

#endif
