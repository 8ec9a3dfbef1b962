#include "XML/internal/StreamingParser.h"

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
    // Text the local code page cannot hold ends the walk, as a failed read does.
    std::string text;
    if (!ToLocal(Text16(node, m_scratch), text)) {
        m_verdict = false;
        return false;
    }
    if (!m_thrown) {
        m_verdict = (*m_functor)(node, m_tagName, std::move(text), m_values.data(), m_userData);
    } else {
        try {
            m_verdict = (*m_functor)(node, m_tagName, std::move(text), m_values.data(), m_userData);
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
    try {
        more = source ? parseFirst(*source, token) : parseFirst(file, token);
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

unsigned long StreamingParser::Count(const char* file, const InputSource* source, const char* name) {
    m_counted.emplace(name);
    m_count = 0;
    m_over = true;
    KeepAttributeOrder(false);
    BuildTree(false);
    struct Done {
        StreamingParser& parser;
        ~Done() {
            parser.KeepAttributeOrder(true);
            parser.BuildTree(true);
            parser.m_counted.reset();
            parser.m_open.clear();
        }
    } done{*this};
    Parse(file, source, [this](bool finished) { return Advance(finished); });
    return m_count;
}

void StreamingParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                                   const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                                   const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) {
    if (m_counted) {
        // No tree is built: the bounds are checked and the element counted from its names.
        LoadParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        if (!isRoot && (*m_counted)(elemPrefix, elemDecl.getBaseName())) ++m_count;
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
    Closed();
}

void StreamingParser::startEntityReference(const XMLEntityDecl& entDecl) {
    DOMNode* const parent = fCurrentParent;
    LoadParser::startEntityReference(entDecl);
    Opened(parent);
}

void StreamingParser::endEntityReference(const XMLEntityDecl& entDecl) {
    LoadParser::endEntityReference(entDecl);
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

// A count builds no node at all (the bounds are checked all the same): text, comments and
// processing instructions are passed over.
void StreamingParser::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    if (m_counted) return;
    LoadParser::docCharacters(chars, length, cdataSection);
    m_grown += kTextBytes + length * sizeof(XMLCh);
}

void StreamingParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    if (m_counted) return;
    LoadParser::ignorableWhitespace(chars, length, cdataSection);
    m_grown += kTextBytes + length * sizeof(XMLCh);
}

void StreamingParser::docComment(const XMLCh* const comment) {
    if (m_counted) return;
    LoadParser::docComment(comment);
    m_grown += kTextBytes + XMLString::stringLen(comment) * sizeof(XMLCh);
}

void StreamingParser::docPI(const XMLCh* const target, const XMLCh* const data) {
    if (m_counted) return;
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
    FindOpen();
    DOMElement* const root = fDocument ? fDocument->getDocumentElement() : nullptr;
    if (m_visitor && root && !m_over && !AdvanceWalk(root, finished)) return false;
    if (!finished && m_grown >= kRenewAfterBytes && CanRenew()) Renew();
    return true;
}

bool StreamingParser::AdvanceWalk(DOMElement* root, bool finished) {
    const std::vector<std::string>& path = *m_path;
    if (m_reached.empty()) {
        if (!NameIs(root, path[0].c_str())) {
            m_over = true;
            return true;
        }
        m_reached.push_back(root);
        m_cursor = nullptr;
    }
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
