#include "XML/internal/StreamingParser.h"

#include "XML/internal/TagBudget.h"
#include "XML/internal/Transcode.h"

#include <XML/XStr.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMDocumentTypeImpl.hpp>
#include <xercesc/dom/impl/DOMEntityImpl.hpp>
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

// --- StreamingParser -------------------------------------------------------------------------

template <class Step>
void StreamingParser::Parse(const char* file, const InputSource* source, Step&& step) {
    m_open.clear();
    m_grown = 0;
    XMLPScanToken token;
    bool more = false;
    // Kept to the end of the parse, which reads from it.
    std::unique_ptr<InputSource> bounded;
    try {
        bounded = TagBoundSource(file, source, GetLimits());
        more = parseFirst(*bounded, token);
    } catch (const XMLException& e) {
        // A whole parse reports a document it cannot open as a diagnostic: so does this one.
        if (ErrorHandler* const handler = getErrorHandler()) {
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
            parseReset(token);
            return;
        }
        more = parseNext(token);
    }
    step(true);
}

void StreamingParser::Walk(const char* file, const InputSource* source, const std::vector<std::string>& path,
                           Visitor& visitor) {
    m_visitor = &visitor;
    m_path = &path;
    m_reached.clear();
    m_cursor = nullptr;
    m_over = path.empty();
    KeepAttributeOrder(false);  // records handed out are never saved with the notes
    struct Done {
        StreamingParser& parser;
        ~Done() {
            parser.KeepAttributeOrder(true);
            parser.m_visitor = nullptr;
            parser.m_path = nullptr;
            parser.m_reached.clear();
            parser.m_open.clear();  // a later Load leaves it alone
        }
    } done{*this};
    Parse(file, source, [this](bool finished) { return Advance(finished); });
}

template <class Run>
void StreamingParser::WithoutTree(bool offsets, Run&& run) {
    m_eventsOnly = true;
    KeepAttributeOrder(false);
    BuildTree(false);
    // The readers count source offsets (a cost on every character) only where a value is read back.
    setCalculateSrcOfs(offsets);
    struct Done {
        StreamingParser& parser;
        ~Done() {
            parser.m_eventsOnly = false;
            parser.setCalculateSrcOfs(true);
            parser.KeepAttributeOrder(true);
            parser.BuildTree(true);
            parser.m_counted.reset();
            parser.m_records = false;
            parser.m_recordDepth = 0;
            parser.m_pendingCount = 0;
            parser.m_visitor = nullptr;
            parser.m_open.clear();
        }
    } done{*this};
    run();
}

unsigned long StreamingParser::Count(const char* file, const InputSource* source, const char* name) {
    m_counted.emplace(name);
    m_count = 0;
    m_over = true;
    // Nothing happens between two parse steps: one whole parse, as Check.
    WithoutTree(false, [&] { parse(*TagBoundSource(file, source, GetLimits())); });
    return m_count;
}

void StreamingParser::WalkRecords(const char* file, const InputSource* source, const std::vector<std::string>& path,
                                  Visitor& visitor) {
    m_path16.clear();
    for (const std::string& name : path) m_path16.emplace_back(Name16(name.c_str()).get());
    m_attributes16.clear();
    for (std::size_t i = 0; i < visitor.AttributeCount(); ++i)
        m_attributes16.emplace_back(Name16(visitor.AttributeName(i).c_str()).get());
    m_records = true;
    m_visitor = &visitor;
    m_over = path.empty();
    m_depth = m_onPath = m_recordDepth = m_pendingCount = 0;
    // Values of token list types are read back from the source (see KeptValues): only a DTD declares them.
    const bool offsets = visitor.AttributeCount() > 0 && (NamesDTD() || NextMayDeclareTypes());
    WithoutTree(offsets, [&] { Parse(file, source, [this](bool finished) { return Advance(finished); }); });
}

void StreamingParser::Check(const char* file, const InputSource* source) {
    WithoutTree(false, [&] { parse(*TagBoundSource(file, source, GetLimits())); });
}

// A node begins below the current one: on the path, it is the next node of the path (the first
// of its name, as the walk goes down the first child of each name) or a record.
void StreamingParser::RecordOpened(const XMLCh* prefix, const XMLCh* local, const RefVectorOf<XMLAttr>* attrList,
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
        m_path16.insert(m_path16.begin(), std::move(root));
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
    const std::size_t count = m_visitor->AttributeCount();
    record.text.clear();
    record.values.assign(count + 1, std::string());
    record.found.assign(count + 1, 0);
    if (attrList && count > 0) {
        // Token types whose value the document keeps otherwise than the parser reports it.
        KeptValues(*attrList, attrCount, m_corrected);
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
        if (m_visitor->WantsText() && leafText) record.text = leafText;
        ++m_pendingCount;
        return;
    }
    m_recordDepth = depth;
}

void StreamingParser::RecordClosed() {
    if (m_recordDepth != 0 && m_recordDepth == m_depth) {
        m_recordDepth = 0;
        ++m_pendingCount;
    } else if (!m_over && m_depth != 0 && m_depth == m_onPath) {
        m_over = true;  // the node whose children are records, or one above it, has ended
    }
    if (m_depth > 0) --m_depth;
}

void StreamingParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                                   const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                                   const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) {
    if (m_records) {
        // Opened first: the base class ends an empty element at once, through endElement.
        RecordOpened(elemPrefix, elemDecl.getBaseName(), &attrList, attrCount, false, nullptr);
        LoadParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        return;
    }
    if (m_counted) {
        // No tree is built: the bounds are checked and the element counted from its names.
        LoadParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        if (!isRoot && (*m_counted)(elemPrefix, elemDecl.getBaseName())) ++m_count;
        return;
    }
    if (m_eventsOnly) {
        LoadParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        return;
    }
    DOMNode* const parent = fCurrentParent;
    LoadParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
    Opened(parent);
    m_grown += kElementBytes + kAttributeBytes * attrCount;
}

void StreamingParser::endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                                 const XMLCh* const elemPrefix) {
    LoadParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
    if (m_records)
        RecordClosed();
    else if (!m_eventsOnly)
        Closed();
}

void StreamingParser::startEntityReference(const XMLEntityDecl& entDecl) {
    if (m_eventsOnly) {
        if (m_records) RecordOpened(nullptr, entDecl.getName(), nullptr, 0, false, nullptr);
        LoadParser::startEntityReference(entDecl);
        return;
    }
    DOMNode* const parent = fCurrentParent;
    LoadParser::startEntityReference(entDecl);
    Opened(parent);
}

void StreamingParser::endEntityReference(const XMLEntityDecl& entDecl) {
    LoadParser::endEntityReference(entDecl);
    if (m_records)
        RecordClosed();
    else if (!m_eventsOnly)
        Closed();
}

// The open nodes follow the parser's current parent without asking the DOM for parents (a
// dynamic cast each); when they lose track, Advance finds them again from the DOM.
void StreamingParser::Opened(DOMNode* parent) {
    if (fCurrentParent != parent && !m_open.empty() && m_open.back() == parent) m_open.push_back(fCurrentParent);
}

void StreamingParser::Closed() {
    if (m_open.empty() || m_open.back() == fCurrentParent) return;
    m_open.pop_back();
    if (m_open.empty() || m_open.back() != fCurrentParent) m_open.clear();
}

void StreamingParser::FindOpen() {
    if (!m_open.empty() && m_open.back() == fCurrentParent) return;
    m_open.clear();
    for (DOMNode* node = fCurrentParent; node; node = node->getParentNode()) m_open.push_back(node);
    std::reverse(m_open.begin(), m_open.end());
}

// Without a tree no node is built (the bounds are checked all the same): text, comments and
// processing instructions are passed over, but for the text and the records of a record walk.
void StreamingParser::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    if (m_eventsOnly) {
        BoundedDOMParser::docCharacters(chars, length, cdataSection);
        if (m_recordDepth != 0 && m_visitor->WantsText()) m_pending[m_pendingCount].text.append(chars, length);
        return;
    }
    LoadParser::docCharacters(chars, length, cdataSection);
    m_grown += kTextBytes + length * sizeof(XMLCh);
}

void StreamingParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    if (m_eventsOnly) {
        BoundedDOMParser::ignorableWhitespace(chars, length, cdataSection);
        if (m_recordDepth != 0 && m_visitor->WantsText()) m_pending[m_pendingCount].text.append(chars, length);
        return;
    }
    LoadParser::ignorableWhitespace(chars, length, cdataSection);
    m_grown += kTextBytes + length * sizeof(XMLCh);
}

void StreamingParser::docComment(const XMLCh* const comment) {
    if (m_eventsOnly) return;
    LoadParser::docComment(comment);
    m_grown += kTextBytes + XMLString::stringLen(comment) * sizeof(XMLCh);
}

void StreamingParser::docPI(const XMLCh* const target, const XMLCh* const data) {
    if (m_eventsOnly) {
        if (m_records) RecordOpened(nullptr, target, nullptr, 0, true, data);
        return;
    }
    LoadParser::docPI(target, data);
    m_grown += kTextBytes + XMLString::stringLen(data) * sizeof(XMLCh);
}

bool StreamingParser::IsOpen(const DOMNode* node) const {
    return std::find(m_open.begin(), m_open.end(), node) != m_open.end();
}

bool StreamingParser::Finished(const DOMNode* lastChild, bool parseOver) const {
    if (IsOpen(lastChild)) return false;
    // The parser appends the next characters to a text node that is its parent's last child.
    return parseOver || lastChild->getNodeType() != DOMNode::TEXT_NODE;
}

bool StreamingParser::Advance(bool finished) {
    if (m_records) {
        // The records finished during the last step, in order; the one being read waits.
        const std::size_t ready = m_pendingCount;
        std::size_t i = 0;
        bool more = true;
        for (; i < ready && more; ++i) {
            Record& record = m_pending[i];
            more = m_visitor->VisitRecord(m_visitor->WantsText() ? record.text.c_str() : nullptr, record.values.data(),
                                          record.found.data());
        }
        if (!more) m_over = true;
        // The record still being read (its buffers at m_pendingCount) moves to the front.
        if (m_recordDepth != 0 && ready > 0) std::swap(m_pending[0], m_pending[ready]);
        m_pendingCount = 0;
        return more;
    }
    if (m_eventsOnly) return true;
    FindOpen();
    DOMElement* const root = fDocument ? fDocument->getDocumentElement() : nullptr;
    if (m_visitor && root && !m_over && !AdvanceWalk(root, finished)) return false;
    if (!finished && m_grown >= kRenewAfterBytes && CanRenew()) Renew();
    return true;
}

bool StreamingParser::AdvanceWalk(DOMElement* root, bool finished) {
    if (m_reached.empty()) {
        if (!NameIs(root, m_path->front().c_str())) {
            // A path that does not name the root element starts below it.
            std::string name;
            if (!ToLocal(root->getNodeName(), name)) {
                m_over = true;
                return true;
            }
            m_rooted.clear();
            m_rooted.push_back(std::move(name));
            m_rooted.insert(m_rooted.end(), m_path->begin(), m_path->end());
            m_path = &m_rooted;
        }
        m_reached.push_back(root);
        m_cursor = nullptr;
    }
    const std::vector<std::string>& path = *m_path;
    if (path.size() == 1) {
        // The root element is the one record.
        if (IsOpen(root)) return true;
        m_over = true;
        return m_visitor->Visit(root);
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
        if (NameIs(child, m_visitor->TagName().c_str()) && !m_visitor->Visit(child)) {
            m_over = true;
            return false;
        }
    }
    if (closed) m_over = true;
    return true;
}

bool StreamingParser::CanRenew() const {
    if (m_open.size() < 2) return false;
    // A copied entity reference would be filled again from its declaration.
    for (const DOMNode* node : m_open)
        if (node->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) return false;
    if (!m_visitor || m_over) return true;
    // A record is handed over as the parser built it: never while one is being built.
    if (m_path->size() == 1) return false;
    const std::size_t below = m_reached.size() + 1;  // m_open[below]: a child of the last node reached
    return !(below == m_path->size() && m_open.size() > below && NameIs(m_open[below], m_visitor->TagName().c_str()));
}

// The document keeps every node the parser made: those the walk is done with are left behind
// here. Only the open nodes (shallow, with their attributes) and the document type move to the
// new document; the old one goes whole, which is far cheaper than releasing node by node.
void StreamingParser::Renew() {
    struct Releaser {
        void operator()(DOMDocumentImpl* document) const noexcept { document->release(); }
    };
    DOMNode* const root = m_open[1];
    fDocument->removeChild(root);
    // Owned here until it replaces the old one: an exception on the way releases it.
    std::unique_ptr<DOMDocumentImpl, Releaser> owned(static_cast<DOMDocumentImpl*>(fDocument->cloneNode(true)));
    DOMDocumentImpl* const copy = owned.get();
    copy->setErrorChecking(false);
    copy->setDocumentURI(fDocument->getDocumentURI());
    copy->setInputEncoding(fDocument->getInputEncoding());

    DOMNode* const current = fCurrentNode;
    m_open[0] = copy;
    for (std::size_t i = 1; i < m_open.size(); ++i) {
        DOMNode* const node = copy->importNode(m_open[i], false);
        m_open[i - 1]->appendChild(node);
        m_open[i] = node;
    }
    fCurrentParent = m_open.back();
    fCurrentNode = fCurrentParent;
    // Characters that follow are appended to the text the parser made last.
    if (current != m_open.back() && current->getNodeType() == DOMNode::TEXT_NODE)
        fCurrentNode = fCurrentParent->appendChild(copy->importNode(current, false));
    for (std::size_t k = 0; k < m_reached.size() && k + 1 < m_open.size(); ++k) m_reached[k] = m_open[k + 1];
    m_cursor = nullptr;

    fDocumentType = static_cast<DOMDocumentTypeImpl*>(copy->getDoctype());
    if (fCurrentEntity) {
        const XMLCh* const name = fCurrentEntity->getNodeName();
        fCurrentEntity = fDocumentType ? static_cast<DOMEntityImpl*>(fDocumentType->getEntities()->getNamedItem(name))
                                       : nullptr;
    }
    std::exchange(fDocument, owned.release())->release();
    m_grown = 0;
}

}  // namespace XML::internal
