#include "XML/internal/RecordWalk.h"

#include "XML/internal/TagBudget.h"
#include "XML/internal/Transcode.h"

#include <XML/XStr.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/framework/XMLErrorReporter.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <memory>
#include <utility>

using namespace xercesc;

namespace XML::internal {

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> names;
    for (std::size_t start = 0;;) {
        const std::size_t slash = path.find('\\', start);
        names.emplace_back(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) return names;
        start = slash + 1;
    }
}

// --- Visitor -------------------------------------------------------------------------------

Visitor::Visitor(TFunctor* functor, std::string tagName, const std::string* attributeNames, int attributeCount,
                 void* userData, Flags flags)
    : m_functor(functor),
      m_tagName(std::move(tagName)),
      m_attributeNames(attributeNames),
      m_attributeCount(attributeCount > 0 ? static_cast<std::size_t>(attributeCount) : 0),
      m_userData(userData),
      m_flags(flags),
      m_values(m_attributeCount + 1) {}

bool Visitor::Visit(DOMNode* node) {
    if (m_flags.filter) {
        bool keep = false;
        if (!m_flags.filter->EvaluateBoolean(node, keep) || !keep) return true;
    }
    for (std::size_t i = 0; i < m_attributeCount; ++i) {
        m_values[i].clear();
        if (!AttributeText(node, m_attributeNames[i].c_str(), m_values[i]) && m_flags.stopOnMissingAttribute) {
            m_verdict = false;
            return false;
        }
    }
    return Call(node, m_flags.wantText ? Text16(node, m_scratch) : nullptr, m_values.data());
}

bool Visitor::VisitRecord(const XMLCh* text, std::string* values, const char* found) {
    if (m_flags.stopOnMissingAttribute)
        for (std::size_t i = 0; i < m_attributeCount; ++i)
            if (!found[i]) {
                m_verdict = false;
                return false;
            }
    return Call(nullptr, text, values);
}

bool Visitor::Call(DOMNode* node, const XMLCh* text16, std::string* values) {
    // Text the local code page cannot hold ends the walk, as a failed read does.
    std::string text;
    if (text16 && !ToLocal(text16, text)) {
        m_verdict = false;
        return false;
    }
    if (!m_flags.giveNode) node = nullptr;
    if (!m_thrown) {
        m_verdict = (*m_functor)(node, m_tagName, std::move(text), values, m_userData);
    } else {
        try {
            m_verdict = (*m_functor)(node, m_tagName, std::move(text), values, m_userData);
        } catch (...) {
            *m_thrown = std::current_exception();
            return false;
        }
    }
    if (m_verdict && m_flags.stopOnTrue) return false;
    if (!m_verdict && m_flags.stopOnFalse) return false;
    return true;
}

// --- The loaded walk ----------------------------------------------------------------------

bool WalkLoaded(DOMNode* node, std::string_view path, const WalkTarget& target) {
    const int attributeCount = std::max(target.attributeCount, 0);
    if (!target.functor || !node) return false;
    if (attributeCount > 0 && !target.attributeNames) return false;
    if (attributeCount > Visitor::kMaxAttributes) return false;
    if (target.flags.filter && !target.flags.filter->IsCompiled()) return false;

    // Every name before the last leads to the first child of that name.
    std::vector<std::string> names = SplitPath(path);
    for (std::size_t i = 0; i + 1 < names.size(); ++i)
        if (!(node = FindChild(node, names[i].c_str()))) return false;
    Visitor visitor(target.functor, std::move(names.back()), target.attributeNames, attributeCount, target.userData,
                    target.flags);
    for (DOMNode* child = node->getFirstChild(); child;) {
        if (!NameIs(child, visitor.TagName().c_str())) {
            child = child->getNextSibling();
            continue;
        }
        DOMNode* const next = child->getNextSibling();
        if (!visitor.Visit(child)) break;
        // Read only now: the callback may have inserted nodes right after this one. When it
        // removed this one, the walk goes on from the node that followed it, if still there.
        if (child->getParentNode() == node)
            child = child->getNextSibling();
        else if (!next || next->getParentNode() == node)
            child = next;
        else
            return false;  // both gone: where the walk stood is lost
    }
    return visitor.Verdict();
}

StreamedWalk::StreamedWalk(std::string_view path, const WalkTarget& target, bool records)
    : m_path(SplitPath(path)),
      m_visitor(target.functor, m_path.back(), target.attributeNames, target.attributeCount, target.userData,
                target.flags),
      m_fromEvents(records && !target.flags.filter && std::none_of(m_path.begin(), m_path.end(), [](const auto& c) {
                       return !c.empty() && c[0] == '#';
                   })) {}

// --- Streamed walks ------------------------------------------------------------------------

void ParseInSteps(BoundedDOMParser& parser, const char* file, const InputSource* source,
                  const std::function<bool(bool finished)>& step) {
    XMLPScanToken token;
    bool more = false;
    // Kept to the end of the parse, which reads from it.
    std::unique_ptr<InputSource> bounded;
    try {
        bounded = TagBoundSource(file, source, parser.GetLimits());
        more = parser.parseFirst(*bounded, token);
    } catch (const XMLException& e) {
        // A whole parse reports a document it cannot open as a diagnostic: so does this one.
        if (ErrorHandler* const handler = parser.getErrorHandler()) {
            const SAXParseException diagnostic(e.getMessage(), XMLUni::fgZeroLenString, XMLUni::fgZeroLenString, 0, 0,
                                               XMLPlatformUtils::fgMemoryManager);
            if (e.getErrorType() == XMLErrorReporter::ErrType_Warning)
                handler->warning(diagnostic);
            else if (e.getErrorType() == XMLErrorReporter::ErrType_Error)
                handler->error(diagnostic);
            else
                handler->fatalError(diagnostic);
        }
    }
    while (more) {
        if (!step(false)) {
            // Closes the input: the rest of the document is never read.
            parser.parseReset(token);
            return;
        }
        more = parser.parseNext(token);
    }
    step(true);
}

TreeRecordWalk::TreeRecordWalk(BoundedDOMParser& parser, const std::vector<std::string>& path, Visitor& visitor)
    : m_parser(parser), m_visitor(visitor), m_path(path), m_over(path.empty()) {}

void TreeRecordWalk::Run(const char* file, const InputSource* source) {
    ParseInSteps(m_parser, file, source, [this](bool finished) { return Advance(finished); });
}

void TreeRecordWalk::StartedElement(const StartTag& tag) {
    Opened(m_parent);
    m_grown += kElementBytes + kAttributeBytes * tag.count;
}

void TreeRecordWalk::Characters(const XMLCh* /*chars*/, XMLSize_t length) {
    m_grown += kTextBytes + length * sizeof(XMLCh);
}

void TreeRecordWalk::Comment(const XMLCh* text) { m_grown += kTextBytes + XMLString::stringLen(text) * sizeof(XMLCh); }

// The open nodes follow the parser's current parent without asking the DOM for parents (a
// dynamic cast each); when they lose track, Advance finds them again from the DOM.
void TreeRecordWalk::Opened(DOMNode* parent) {
    DOMNode* const current = m_parser.CurrentParent();
    if (current != parent && !m_open.empty() && m_open.back() == parent) m_open.push_back(current);
}

void TreeRecordWalk::Closed() {
    DOMNode* const current = m_parser.CurrentParent();
    if (m_open.empty() || m_open.back() == current) return;
    m_open.pop_back();
    if (m_open.empty() || m_open.back() != current) m_open.clear();
}

void TreeRecordWalk::FindOpen() {
    DOMNode* const current = m_parser.CurrentParent();
    if (!m_open.empty() && m_open.back() == current) return;
    m_open.clear();
    for (DOMNode* node = current; node; node = node->getParentNode()) m_open.push_back(node);
    std::reverse(m_open.begin(), m_open.end());
}

bool TreeRecordWalk::IsOpen(const DOMNode* node) const {
    return std::find(m_open.begin(), m_open.end(), node) != m_open.end();
}

bool TreeRecordWalk::Finished(const DOMNode* lastChild, bool parseOver) const {
    if (IsOpen(lastChild)) return false;
    // The parser appends the next characters to a text node that is its parent's last child.
    return parseOver || lastChild->getNodeType() != DOMNode::TEXT_NODE;
}

bool TreeRecordWalk::Advance(bool finished) {
    FindOpen();
    DOMDocument* const document = m_parser.getDocument();
    DOMElement* const root = document ? document->getDocumentElement() : nullptr;
    if (root && !m_over && !AdvanceWalk(root, finished)) return false;
    if (!finished && m_grown >= kRenewAfterBytes && CanRenew()) {
        m_parser.RenewDocument(m_open);
        for (std::size_t k = 0; k < m_reached.size() && k + 1 < m_open.size(); ++k) m_reached[k] = m_open[k + 1];
        m_cursor = nullptr;
        m_grown = 0;
    }
    return true;
}

bool TreeRecordWalk::AdvanceWalk(DOMElement* root, bool finished) {
    if (m_reached.empty()) {
        if (!NameIs(root, m_path.front().c_str())) {
            // A path that does not name the root element starts below it.
            std::string name;
            if (!ToLocal(root->getNodeName(), name)) {
                m_over = true;
                return true;
            }
            StartAtRoot(m_path, std::move(name));
        }
        m_reached.push_back(root);
        m_cursor = nullptr;
    }
    const std::vector<std::string>& path = m_path;
    if (path.size() == 1) {
        // The root element is the one record.
        if (IsOpen(root)) return true;
        m_over = true;
        return m_visitor.Visit(root);
    }

    // Down the path: each step takes the first child of its name (its name is known as soon as
    // it exists).
    while (m_reached.size() + 1 < path.size()) {
        DOMNode* const node = m_reached.back();
        const char* const name = path[m_reached.size()].c_str();
        DOMNode* child = m_cursor ? m_cursor->getNextSibling() : node->getFirstChild();
        for (; child && !NameIs(child, name); child = child->getNextSibling()) m_cursor = child;
        if (child) {
            m_reached.push_back(child);
            m_cursor = nullptr;
            continue;
        }
        if (!IsOpen(node)) m_over = true;  // ended without a child of that name
        return true;
    }

    // The children of the last node: each finished one is visited when its name matches.
    DOMNode* const parent = m_reached.back();
    const bool closed = !IsOpen(parent);
    for (;;) {
        DOMNode* const child = m_cursor ? m_cursor->getNextSibling() : parent->getFirstChild();
        if (!child || (!child->getNextSibling() && !closed && !Finished(child, finished))) break;
        m_cursor = child;
        if (NameIs(child, m_visitor.TagName().c_str()) && !m_visitor.Visit(child)) {
            m_over = true;
            return false;
        }
    }
    if (closed) m_over = true;
    return true;
}

bool TreeRecordWalk::CanRenew() const {
    if (m_open.size() < 2) return false;
    // A copied entity reference would be filled again from its declaration.
    for (const DOMNode* node : m_open)
        if (node->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) return false;
    if (m_over) return true;
    // A record is handed over as the parser built it: never while one is being built.
    if (m_path.size() == 1) return false;
    const std::size_t below = m_reached.size() + 1;  // m_open[below]: a child of the last node reached
    return !(below == m_path.size() && m_open.size() > below && NameIs(m_open[below], m_visitor.TagName().c_str()));
}

EventRecordWalk::EventRecordWalk(BoundedDOMParser& parser, SourceKeeper& keeper, const std::vector<std::string>& path,
                                 Visitor& visitor)
    : m_parser(parser), m_keeper(keeper), m_visitor(visitor), m_over(path.empty()) {
    for (const std::string& name : path) m_path16.emplace_back(Name16(name.c_str()).get());
    for (std::size_t i = 0; i < visitor.AttributeCount(); ++i)
        m_attributes16.emplace_back(Name16(visitor.AttributeName(i).c_str()).get());
}

void EventRecordWalk::Run(const char* file, const InputSource* source) {
    ParseInSteps(m_parser, file, source, [this](bool) { return Advance(); });
}

// A node begins below the current one: on the path, it is the next node of the path (the first
// of its name, as the walk goes down the first child of each name) or a record.
void EventRecordWalk::Opened(const XMLCh* prefix, const XMLCh* local, const RefVectorOf<XMLAttr>* attrList,
                             XMLSize_t attrCount, bool isLeaf, const XMLCh* leafText) {
    const std::size_t depth = m_depth + 1;
    if (!isLeaf) m_depth = depth;
    if (m_over || m_recordDepth != 0 || depth != m_onPath + 1 || (isLeaf && depth == 1)) return;
    const XString& want = m_path16[m_onPath];
    bool named = false;
    if (prefix && *prefix) {
        const XMLSize_t length = XMLString::stringLen(prefix);
        named = want.size() > length && want.compare(0, length, prefix) == 0 && want[length] == u':' &&
                XMLString::equals(want.c_str() + length + 1, local);
    } else {
        named = XMLString::equals(want.c_str(), local);
    }
    if (!named && depth == 1) {
        // A path that does not name the root element starts below it.
        XString root = prefix && *prefix ? XString(prefix) + u':' : XString();
        root += local;
        StartAtRoot(m_path16, std::move(root));
        named = true;
    }
    if (!named) return;
    if (m_onPath + 1 < m_path16.size()) {
        // Down the path; a processing instruction has nothing below it.
        if (isLeaf)
            m_over = true;
        else
            m_onPath = depth;
        return;
    }
    if (m_pendingCount == m_pending.size()) m_pending.emplace_back();
    Record& record = m_pending[m_pendingCount];
    const std::size_t count = m_visitor.AttributeCount();
    record.text.clear();
    record.values.assign(count + 1, std::string());
    record.found.assign(count + 1, 0);
    if (attrList && count > 0) {
        // Token types whose value the document keeps otherwise than the parser reports it.
        m_keeper.KeptValues(*attrList, attrCount, m_corrected);
        for (std::size_t i = 0; i < count; ++i)
            for (XMLSize_t a = 0; a < attrCount; ++a) {
                const XMLAttr* const attribute = attrList->elementAt(a);
                if (!XMLString::equals(attribute->getQName(), m_attributes16[i].c_str())) continue;
                const XMLCh* value = attribute->getValue();
                for (const auto& [index, kept] : m_corrected)
                    if (index == a) value = kept.c_str();
                record.found[i] = ToLocal(value, record.values[i]) ? 1 : 0;
                break;
            }
    }
    if (isLeaf) {
        if (m_visitor.WantsText() && leafText) record.text = leafText;
        ++m_pendingCount;
        return;
    }
    m_recordDepth = depth;
}

void EventRecordWalk::Closed() {
    if (m_recordDepth != 0 && m_recordDepth == m_depth) {
        m_recordDepth = 0;
        ++m_pendingCount;
    } else if (!m_over && m_depth != 0 && m_depth == m_onPath) {
        m_over = true;  // the node whose children are records, or one above it, has ended
    }
    if (m_depth > 0) --m_depth;
}

bool EventRecordWalk::Advance() {
    // The records finished during the last step, in order; the one being read waits.
    const std::size_t ready = m_pendingCount;
    std::size_t i = 0;
    bool more = true;
    for (; i < ready && more; ++i) {
        Record& record = m_pending[i];
        more = m_visitor.VisitRecord(m_visitor.WantsText() ? record.text.c_str() : nullptr, record.values.data(),
                                     record.found.data());
    }
    if (!more) m_over = true;
    // The record still being read (its buffers at m_pendingCount) moves to the front.
    if (m_recordDepth != 0 && ready > 0) std::swap(m_pending[0], m_pending[ready]);
    m_pendingCount = 0;
    return more;
}

}  // namespace XML::internal
