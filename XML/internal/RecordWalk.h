// RecordWalk: the record walks of LoopElements, StreamElements and StreamRecords on one path
// rule and one visitor: the path split at its backslashes, the visitor that reads a record and
// calls the functor under the stop flags, the walk of a loaded tree, and the parser observers of
// the streamed walks (over the tree the parser builds, or from its events without a node) and of
// the element count. Internal to the library.
#ifndef KELXML_INTERNAL_RECORDWALK_H
#define KELXML_INTERNAL_RECORDWALK_H

#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/NameText.h"
#include "XML/internal/ParserObserver.h"
#include "XML/internal/SourceKeeper.h"
#include "XML/internal/TreeWalk.h"

#include <XML/CXPath.h>
#include <XML/TFunctor.h>

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// The names of a walk's path: path split at each backslash ("" is one empty name).
std::vector<std::string> SplitPath(std::string_view path);
// A streamed path whose first name is not the root element's starts below the root element, as
// the walks of a loaded tree do: the root's name is put first.
template <class Name>
void StartAtRoot(std::vector<Name>& path, Name root) {
    path.insert(path.begin(), std::move(root));
}

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

// What a walk hands its records to.
struct WalkTarget {
    TFunctor* functor = nullptr;
    // attributeCount names (when above 0), for the walk's life.
    const std::string* attributeNames = nullptr;
    int attributeCount = 0;
    void* userData = nullptr;
    Visitor::Flags flags;
};

// The walk of LoopElements from node: every name of path but the last leads to the first child
// of that name; each child of the node reached named as the last is visited, in order, the walk
// going on from where it stood when the functor inserted or removed nodes. The verdict, or false
// when the walk cannot start (no functor or node, too many attribute names, a filter that did
// not compile, a name that leads nowhere) or when the functor removed both the node visited and
// the one after it.
bool WalkLoaded(xercesc::DOMNode* node, std::string_view path, const WalkTarget& target);

// A streamed walk as StreamElements and StreamRecords ask for it: records without a node are read
// from the parser's events, unless the path names a node kind or a filter needs the node.
class StreamedWalk {
public:
    StreamedWalk(std::string_view path, const WalkTarget& target, bool records);
    // Where the functor's exception goes (the walk then ends).
    void CatchInto(std::exception_ptr* thrown) { m_visitor.CatchInto(thrown); }
    bool Verdict() const { return m_visitor.Verdict(); }
    // Runs the walk with parser (a LoadParser) over file, or source when it is not null.
    template <class Parser>
    void Run(Parser& parser, const char* file, const xercesc::InputSource* source) {
        if (m_fromEvents)
            parser.WalkRecords(file, source, m_path, m_visitor);
        else
            parser.Walk(file, source, m_path, m_visitor);
    }

private:
    std::vector<std::string> m_path;
    Visitor m_visitor;
    bool m_fromEvents;
};

// Runs a parse one token at a time over file (or source when not null), within the tag bounds of
// the parser's limits, calling step(finished) after each token until it returns false (the rest
// is then never read); a document that cannot be opened is reported to the parser's handler as a
// whole parse reports it.
void ParseInSteps(BoundedDOMParser& parser, const char* file, const xercesc::InputSource* source,
                  const std::function<bool(bool finished)>& step);

// The streamed walk over the tree the parser builds: each record is handed to the visitor as soon
// as it is finished, between two parse steps (never inside a parser callback, so that no exception
// crosses the parser). The document still gets every node the parser makes, but only the open
// elements matter to the walk: when the document has grown by kRenewAfterBytes (estimated), the
// open elements (shallow, with their attributes) and the document type move to a new document and
// the old one is released whole. Releasing nodes one by one would not do: the document recycles
// node objects but not attribute maps, and it searches its recycled text buffers one by one for
// each new text. Memory so stays bounded by the largest record plus the open elements around it
// plus kRenewAfterBytes; no renewal happens while a record or an entity reference is open.
class TreeRecordWalk final : public ParserObserver {
public:
    // What the document may grow by (estimated) before it is renewed, and the estimates.
    static constexpr std::size_t kRenewAfterBytes = std::size_t{2} << 20;
    static constexpr std::size_t kElementBytes = 200;
    static constexpr std::size_t kAttributeBytes = 100;
    static constexpr std::size_t kTextBytes = 80;

    // path and visitor must outlive the walk.
    TreeRecordWalk(BoundedDOMParser& parser, const std::vector<std::string>& path, Visitor& visitor);
    // The parse, with this observer registered (see LoadParser::Walk).
    void Run(const char* file, const xercesc::InputSource* source);

    Events Wanted() const override {
        return Bit(kStartElement) | Bit(kStartedElement) | Bit(kEndElement) | Bit(kCharacters) | Bit(kStartEntity) |
               Bit(kStartedEntity) | Bit(kEndEntity) | Bit(kComment) | Bit(kPI);
    }
    void StartElement(const StartTag& /*tag*/) override { m_parent = m_parser.CurrentParent(); }
    void StartedElement(const StartTag& tag) override;
    void EndElement(bool /*emptyTag*/) override { Closed(); }
    void Characters(const XMLCh* /*chars*/, XMLSize_t length) override;
    void StartEntity(const xercesc::XMLEntityDecl& /*entity*/) override { m_parent = m_parser.CurrentParent(); }
    void StartedEntity() override { Opened(m_parent); }
    void EndEntity() override { Closed(); }
    void Comment(const XMLCh* text) override;
    void PI(const XMLCh* /*target*/, const XMLCh* data) override { Comment(data); }

private:
    // After a token: visits the records finished since the last one and renews the document when
    // it is due. finished: the parse is over. False when the walk has ended.
    bool Advance(bool finished);
    bool AdvanceWalk(xercesc::DOMElement* root, bool finished);
    // Keep m_open in step with the parser: after a node was opened below parent, after one closed.
    void Opened(xercesc::DOMNode* parent);
    void Closed();
    // Makes m_open right, from the DOM, when it lost track.
    void FindOpen();
    // True when node is still open: the parser is adding to it or below it.
    bool IsOpen(const xercesc::DOMNode* node) const;
    // True when its parent's last child can get nothing more (parseOver: the parse has ended).
    bool Finished(const xercesc::DOMNode* lastChild, bool parseOver) const;
    // True when the open nodes may move to a new document: no record is being built and no
    // entity reference is open.
    bool CanRenew() const;

    BoundedDOMParser& m_parser;
    Visitor& m_visitor;
    // The path's names (the root element's put first when the path starts below it); the nodes
    // reached along it, from the root element to the node whose children are visited.
    std::vector<std::string> m_path;
    std::vector<xercesc::DOMNode*> m_reached;
    // The last child of the last node reached that the walk has looked at, or null.
    xercesc::DOMNode* m_cursor = nullptr;
    // No record can come any more (the path missed, or its last node closed).
    bool m_over = false;
    // The open nodes from the document down to the parser's current parent.
    std::vector<xercesc::DOMNode*> m_open;
    // The parser's current parent before the node being opened.
    xercesc::DOMNode* m_parent = nullptr;
    // What the document has grown by since it was made or renewed (estimated).
    std::size_t m_grown = 0;
};

// The streamed walk from the parser's events, building no node (see LoadParser::WalkRecords).
class EventRecordWalk final : public ParserObserver {
public:
    // keeper gives back the values the parser normalised otherwise than the document keeps them.
    EventRecordWalk(BoundedDOMParser& parser, SourceKeeper& keeper, const std::vector<std::string>& path,
                    Visitor& visitor);
    void Run(const char* file, const xercesc::InputSource* source);

    Events Wanted() const override {
        Events wanted = Bit(kStartElement) | Bit(kEndElement) | Bit(kStartEntity) | Bit(kEndEntity) | Bit(kPI);
        return m_visitor.WantsText() ? wanted | Bit(kCharacters) : wanted;
    }
    // Opened first: the parser ends an empty element at once.
    void StartElement(const StartTag& tag) override {
        Opened(tag.prefix, tag.decl.getBaseName(), &tag.attributes, tag.count, false, nullptr);
    }
    void EndElement(bool /*emptyTag*/) override { Closed(); }
    void Characters(const XMLCh* chars, XMLSize_t length) override {
        if (m_recordDepth != 0) m_pending[m_pendingCount].text.append(chars, length);
    }
    void StartEntity(const xercesc::XMLEntityDecl& entity) override {
        Opened(nullptr, entity.getName(), nullptr, 0, false, nullptr);
    }
    void EndEntity() override { Closed(); }
    void PI(const XMLCh* target, const XMLCh* data) override { Opened(nullptr, target, nullptr, 0, true, data); }

private:
    // A node named prefix:local begins below the current one (an element with its attributes, an
    // entity reference, or a processing instruction, isLeaf, with its data); the current node
    // ends. A finished record waits in m_pending for the next step.
    void Opened(const XMLCh* prefix, const XMLCh* local, const xercesc::RefVectorOf<xercesc::XMLAttr>* attrList,
                XMLSize_t attrCount, bool isLeaf, const XMLCh* leafText);
    void Closed();
    // After a token: hands the records finished since the last one to the visitor.
    bool Advance();

    BoundedDOMParser& m_parser;
    SourceKeeper& m_keeper;
    Visitor& m_visitor;
    // The path and the attribute names in 16-bit form; the kept values of the tag being read; the
    // nodes open below the document (elements and entity references); the depth of the last node
    // reached on the path; the depth of the record being read (0: none); the records finished since
    // the last step (m_pendingCount), then the one being read, their buffers kept for reuse.
    struct Record {
        XString text;
        std::vector<std::string> values;
        std::vector<char> found;
    };
    std::vector<XString> m_path16;
    std::vector<XString> m_attributes16;
    std::vector<std::pair<XMLSize_t, std::u16string>> m_corrected;
    bool m_over = false;
    std::size_t m_depth = 0;
    std::size_t m_onPath = 0;
    std::size_t m_recordDepth = 0;
    std::vector<Record> m_pending;
    std::size_t m_pendingCount = 0;
};

// The count of the elements of a name (the DOM's tag-name rule, "*": all) below the root element.
class ElementCount final : public ParserObserver {
public:
    explicit ElementCount(const char* name) : m_matcher(name) {}
    unsigned long Counted() const { return m_count; }
    Events Wanted() const override { return Bit(kStartElement); }
    void StartElement(const StartTag& tag) override {
        if (!tag.isRoot && m_matcher(tag.prefix, tag.decl.getBaseName())) ++m_count;
    }

private:
    TagMatcher m_matcher;
    unsigned long m_count = 0;
};

}  // namespace XML::internal

#endif
