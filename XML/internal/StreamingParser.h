// StreamingParser: the bounded DOM parser, able to walk the records of a document while it is
// parsed, so that a document far larger than memory can be read: the visitor that LoopElements
// and the streaming walk share, and the parser that hands each finished record to it and then
// releases it; and the walks that need no node (records read from the parser's events, a count,
// a check), which build none. Internal to the library.
#ifndef KELXML_INTERNAL_STREAMINGPARSER_H
#define KELXML_INTERNAL_STREAMINGPARSER_H

#include "XML/internal/LoadParser.h"
#include "XML/internal/NameText.h"
#include "XML/internal/TreeWalk.h"

#include <XML/CXPath.h>
#include <XML/TFunctor.h>

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// What LoopElements does with one node of the tag name: reads the named attributes and the
// text, calls the functor, and keeps the running verdict under the three stop flags.
class Visitor {
public:
    struct Flags {
        bool stopOnTrue = false;
        bool stopOnFalse = false;
        bool stopOnMissingAttribute = false;
        // Nodes for which it is false (or cannot be evaluated) are skipped.
        const CXPath* filter = nullptr;
        // Whether the functor is given the record's text (else an empty one, never built).
        bool wantText = true;
        // Whether the functor is given the node (else null).
        bool giveNode = true;
    };
    // The most attribute names a walk takes: more than any element can hold within the default
    // limits, and few enough that the visitor's value array is small. Callers refuse more.
    static constexpr int kMaxAttributes = 1 << 20;
    // attributeNames must hold attributeCount names (when above 0) for the visitor's life.
    Visitor(TFunctor* functor, std::string tagName, const std::string* attributeNames, int attributeCount,
            void* userData, Flags flags);
    // Visits node; false when the walk ends at it. The functor's exceptions pass through, unless
    // CatchInto was called: then the walk ends at the exception, which is stored there.
    bool Visit(xercesc::DOMNode* node);
    // Visits a record read from the parser's events: text its text in 16-bit form (null when not
    // wanted), values[i] the value of attribute i (AttributeCount() + 1 of them), found[i] whether it was
    // there and could be converted. Same verdict and stop rules as Visit.
    bool VisitRecord(const XMLCh* text, std::string* values, const char* found);
    std::size_t AttributeCount() const { return m_attributeCount; }
    const std::string& AttributeName(std::size_t i) const { return m_attributeNames[i]; }
    bool WantsText() const { return m_flags.wantText; }
    void CatchInto(std::exception_ptr* thrown) { m_thrown = thrown; }
    // The walk's result so far: the last verdict, or false when none or the walk ended for a
    // missing attribute.
    bool Verdict() const { return m_verdict; }
    const std::string& TagName() const { return m_tagName; }

private:
    // Calls the functor with node (or null), the text converted, and values.
    bool Call(xercesc::DOMNode* node, const XMLCh* text, std::string* values);

    TFunctor* m_functor;
    std::string m_tagName;
    const std::string* m_attributeNames;
    std::size_t m_attributeCount;
    void* m_userData;
    Flags m_flags;
    std::vector<std::string> m_values;  // one more than needed: never null, even when empty
    XString m_scratch;
    std::exception_ptr* m_thrown = nullptr;
    bool m_verdict = false;
};

// Parses progressively, one token at a time, and hands each record to the visitor as soon as it
// is finished, between two parse steps (never inside a parser callback, so that no exception
// crosses the parser). The document still gets every node the parser makes, but only the open
// elements matter to the walk: when the document has grown by kRenewAfterBytes (estimated), the
// open elements (shallow, with their attributes) and the document type move to a new document and
// the old one is released whole. Releasing nodes one by one would not do: the document recycles
// node objects but not attribute maps, and it searches its recycled text buffers one by one for
// each new text. Memory so stays bounded by the largest record plus the open elements around it
// plus kRenewAfterBytes; no renewal happens while a record or an entity reference is open.
class StreamingParser : public LoadParser {
public:
    using LoadParser::LoadParser;

    // Walks path (components, the first the root element's name) as LoopElements walks the loaded
    // document from the root element, a one-name path visiting the root element itself; a path
    // whose first name is not the root element's is read below the root element. The
    // parse reads file, or source when it is not null, and stops at once when the walk ends;
    // otherwise it goes to the end of the document, so that every diagnostic is reported, or to
    // its first fatal error. The visitor keeps the verdict. Parser exceptions pass.
    void Walk(const char* file, const xercesc::InputSource* source, const std::vector<std::string>& path,
              Visitor& visitor);
    // The number of elements named name (the DOM's tag-name rule, "*": all) below the root
    // element, from the parser's events: no node is built (the bounds, checks and diagnostics of
    // a load all hold), so memory stays flat whatever the file's size.
    unsigned long Count(const char* file, const xercesc::InputSource* source, const char* name);
    // The walk of Walk from the parser's events, building no node: each element (or entity
    // reference, or processing instruction) at the end of path is handed to the visitor's
    // VisitRecord with its text (all character data below it) and attributes, between two parse
    // steps, in the order and at the moment Walk would visit it. No component may name a node
    // kind ("#text"...): elements, entity references and processing instructions only.
    void WalkRecords(const char* file, const xercesc::InputSource* source, const std::vector<std::string>& path,
                     Visitor& visitor);
    // Parses the whole document with every bound, check and diagnostic of a load, building no node.
    void Check(const char* file, const xercesc::InputSource* source);

    void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                      const bool isEmpty, const bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override;
    void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void docComment(const XMLCh* const comment) override;
    void docPI(const XMLCh* const target, const XMLCh* const data) override;

    // What the document may grow by (estimated) before it is renewed, and the estimates.
    static constexpr std::size_t kRenewAfterBytes = std::size_t{2} << 20;
    static constexpr std::size_t kElementBytes = 200;
    static constexpr std::size_t kAttributeBytes = 100;
    static constexpr std::size_t kTextBytes = 80;

private:
    // Runs the parse, calling step after each token until it returns false.
    template <class Step>
    void Parse(const char* file, const xercesc::InputSource* source, Step&& step);
    // After a token: visits the records finished since the last one and renews the document when
    // it is due. finished: the parse is over. False when the walk has ended.
    bool Advance(bool finished);
    // The walk's part of Advance, once the root element exists.
    bool AdvanceWalk(xercesc::DOMElement* root, bool finished);
    // Keep m_open in step with the parser: after a node was opened below parent, after one closed.
    void Opened(xercesc::DOMNode* parent);
    void Closed();
    // Runs run (a parse) with no node built, as Count, WalkRecords and Check do; offsets: whether
    // the readers count source offsets.
    template <class Run>
    void WithoutTree(bool offsets, Run&& run);
    // Record walk: a node named prefix:local begins below the current one (an element with its
    // attributes, an entity reference, or a processing instruction, isLeaf, with its data);
    // the current node ends. A finished record waits in m_pending for the next step.
    void RecordOpened(const XMLCh* prefix, const XMLCh* local, const xercesc::RefVectorOf<xercesc::XMLAttr>* attrList,
                      XMLSize_t attrCount, bool isLeaf, const XMLCh* leafText);
    void RecordClosed();
    // Makes m_open right, from the DOM, when it lost track.
    void FindOpen();
    // True when node is still open: the parser is adding to it or below it.
    bool IsOpen(const xercesc::DOMNode* node) const;
    // True when its parent's last child can get nothing more (parseOver: the parse has ended).
    bool Finished(const xercesc::DOMNode* lastChild, bool parseOver) const;
    // True when the open nodes may move to a new document: no record is being built and no
    // entity reference is open.
    bool CanRenew() const;
    // Moves the open nodes and the document type to a new document and releases the old one.
    void Renew();

    // The walk under way, or null; the path's components; the nodes reached along it, from
    // the root element to the node whose children are visited.
    Visitor* m_visitor = nullptr;
    const std::vector<std::string>* m_path = nullptr;
    // The path with the root element's name put first, when the path given starts below it.
    std::vector<std::string> m_rooted;
    std::vector<xercesc::DOMNode*> m_reached;
    // The last child of the last node reached that the walk has looked at, or null.
    xercesc::DOMNode* m_cursor = nullptr;
    // No record can come any more (the path missed, or its last node closed).
    bool m_over = false;
    // The open nodes from the document down to the parser's current parent.
    std::vector<xercesc::DOMNode*> m_open;
    // Set while no node is built (count, record walk, check).
    bool m_eventsOnly = false;
    // Count mode: the elements counted, and their count.
    std::optional<TagMatcher> m_counted;
    unsigned long m_count = 0;
    // Record walk: the path and the attribute names in 16-bit form; the kept values of the tag
    // being read; the nodes open below the document (elements and entity references); the depth
    // of the last node reached on the path; the depth of the record being read (0: none); the
    // records finished since the last step (m_pendingCount), then the one being read, their
    // buffers kept for reuse.
    struct Record {
        XString text;
        std::vector<std::string> values;
        std::vector<char> found;
    };
    std::vector<XString> m_path16;
    std::vector<XString> m_attributes16;
    std::vector<std::pair<XMLSize_t, std::u16string>> m_corrected;
    bool m_records = false;
    std::size_t m_depth = 0;
    std::size_t m_onPath = 0;
    std::size_t m_recordDepth = 0;
    std::vector<Record> m_pending;
    std::size_t m_pendingCount = 0;
    // What the document has grown by since it was made or renewed (estimated).
    std::size_t m_grown = 0;
};

}  // namespace XML::internal

#endif
