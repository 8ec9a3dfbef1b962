#include "XML/internal/BoundedDOMParser.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMDocumentTypeImpl.hpp>
#include <xercesc/dom/impl/DOMEntityImpl.hpp>

#include <algorithm>
#include <memory>
#include <utility>

using namespace xercesc;

namespace XML::internal {

BoundedDOMParser::BoundedDOMParser(XMLValidator* validator, MemoryManager* manager, XMLGrammarPool* pool)
    : XercesDOMParser(validator, manager, pool) {
    Observe(m_bounds);
}

void BoundedDOMParser::Observe(ParserObserver& observer, bool first) {
    m_roster.insert(first ? m_roster.begin() : m_roster.end(), &observer);
    Refresh();
}

void BoundedDOMParser::Forget(ParserObserver& observer) {
    m_roster.erase(std::remove(m_roster.begin(), m_roster.end(), &observer), m_roster.end());
    Refresh();
}

void BoundedDOMParser::Refresh() {
    for (List& list : m_on) list.clear();
    for (ParserObserver* observer : m_roster) {
        const ParserObserver::Events wanted = observer->Wanted();
        for (unsigned event = 0; event < ParserObserver::kEventCount; ++event)
            if (wanted & (ParserObserver::Events{1} << event)) m_on[event].push_back(observer);
    }
}

void BoundedDOMParser::startDocument() {
    m_rootStarted = false;
    m_inEmptyTag = false;
    XercesDOMParser::startDocument();
    m_bounds.Begin(getScanner(), getGrammarResolver(), isUsingCachedGrammarInParse());
    for (ParserObserver* o : On(ParserObserver::kStartDocument)) o->StartDocument();
}

void BoundedDOMParser::XMLDecl(const XMLCh* versionStr, const XMLCh* encodingStr, const XMLCh* standaloneStr,
                               const XMLCh* actualEncStr) {
    XercesDOMParser::XMLDecl(versionStr, encodingStr, standaloneStr, actualEncStr);
    for (ParserObserver* o : On(ParserObserver::kXMLDecl)) o->XMLDecl(versionStr);
}

void BoundedDOMParser::doctypeDecl(const DTDElementDecl& elemDecl, const XMLCh* const publicId,
                                   const XMLCh* const systemId, const bool hasIntSubset, const bool hasExtSubset) {
    XercesDOMParser::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
    for (ParserObserver* o : On(ParserObserver::kDoctype)) o->Doctype(systemId, hasIntSubset, hasExtSubset);
}

void BoundedDOMParser::startIntSubset() {
    XercesDOMParser::startIntSubset();
    for (ParserObserver* o : On(ParserObserver::kStartIntSubset)) o->StartIntSubset();
}

void BoundedDOMParser::endIntSubset() {
    XercesDOMParser::endIntSubset();
    for (ParserObserver* o : On(ParserObserver::kEndIntSubset)) o->EndIntSubset();
}

void BoundedDOMParser::elementDecl(const DTDElementDecl& decl, const bool isIgnored) {
    for (ParserObserver* o : On(ParserObserver::kElementDecl)) o->ElementDecl(decl);
    XercesDOMParser::elementDecl(decl, isIgnored);
}

void BoundedDOMParser::attDef(const DTDElementDecl& elemDecl, const DTDAttDef& attDef, const bool ignoring) {
    for (ParserObserver* o : On(ParserObserver::kAttDef)) o->AttDef(elemDecl, attDef);
    XercesDOMParser::attDef(elemDecl, attDef, ignoring);
}

void BoundedDOMParser::endAttList(const DTDElementDecl& elemDecl) {
    for (ParserObserver* o : On(ParserObserver::kEndAttList)) o->EndAttList(elemDecl);
    XercesDOMParser::endAttList(elemDecl);
}

void BoundedDOMParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                                    const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                                    const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) {
    m_rootStarted = true;
    const StartTag tag{elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot};
    for (ParserObserver* o : On(ParserObserver::kStartElement)) o->StartElement(tag);
    // The base class ends an empty element itself, through endElement.
    m_inEmptyTag = isEmpty;
    if (m_buildTree)
        XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
    else if (isEmpty)
        endElement(elemDecl, urlId, isRoot, elemPrefix);
    m_inEmptyTag = false;
    for (ParserObserver* o : On(ParserObserver::kStartedElement)) o->StartedElement(tag);
}

void BoundedDOMParser::endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                                  const XMLCh* const elemPrefix) {
    if (m_buildTree) XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
    for (ParserObserver* o : On(ParserObserver::kEndElement)) o->EndElement(m_inEmptyTag);
}

void BoundedDOMParser::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    for (ParserObserver* o : On(ParserObserver::kCharacters)) o->Characters(chars, length);
    if (m_buildTree) XercesDOMParser::docCharacters(chars, length, cdataSection);
}

void BoundedDOMParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) {
    for (ParserObserver* o : On(ParserObserver::kCharacters)) o->Characters(chars, length);
    if (m_buildTree) XercesDOMParser::ignorableWhitespace(chars, length, cdataSection);
}

void BoundedDOMParser::startEntityReference(const XMLEntityDecl& entDecl) {
    for (ParserObserver* o : On(ParserObserver::kStartEntity)) o->StartEntity(entDecl);
    if (m_buildTree) XercesDOMParser::startEntityReference(entDecl);
    for (ParserObserver* o : On(ParserObserver::kStartedEntity)) o->StartedEntity();
}

void BoundedDOMParser::endEntityReference(const XMLEntityDecl& entDecl) {
    if (m_buildTree) XercesDOMParser::endEntityReference(entDecl);
    for (ParserObserver* o : On(ParserObserver::kEndEntity)) o->EndEntity();
}

void BoundedDOMParser::docComment(const XMLCh* const comment) {
    if (m_buildTree) XercesDOMParser::docComment(comment);
    for (ParserObserver* o : On(ParserObserver::kComment)) o->Comment(comment);
}

void BoundedDOMParser::docPI(const XMLCh* const target, const XMLCh* const data) {
    if (m_buildTree) XercesDOMParser::docPI(target, data);
    for (ParserObserver* o : On(ParserObserver::kPI)) o->PI(target, data);
}

void BoundedDOMParser::error(const unsigned int errCode, const XMLCh* const msgDomain,
                             const XMLErrorReporter::ErrTypes errType, const XMLCh* const errorText,
                             const XMLCh* const systemId, const XMLCh* const publicId, const XMLFileLoc lineNum,
                             const XMLFileLoc colNum) {
    const Diagnostic diagnostic{errCode, msgDomain, errType, errorText, systemId, publicId, lineNum, colNum};
    for (ParserObserver* o : On(ParserObserver::kError))
        if (o->Error(diagnostic)) return;
    Deliver(diagnostic);
}

void BoundedDOMParser::Deliver(const Diagnostic& d) {
    XercesDOMParser::error(d.code, d.domain, d.type, d.text, d.systemId, d.publicId, d.line, d.column);
}

// The document keeps every node the parser made: the old one goes whole, which is far cheaper
// than releasing node by node.
void BoundedDOMParser::RenewDocument(std::vector<DOMNode*>& open) {
    struct Releaser {
        void operator()(DOMDocumentImpl* document) const noexcept { document->release(); }
    };
    DOMNode* const root = open[1];
    fDocument->removeChild(root);
    // Owned here until it replaces the old one: an exception on the way releases it.
    std::unique_ptr<DOMDocumentImpl, Releaser> owned(static_cast<DOMDocumentImpl*>(fDocument->cloneNode(true)));
    DOMDocumentImpl* const copy = owned.get();
    copy->setErrorChecking(false);
    copy->setDocumentURI(fDocument->getDocumentURI());
    copy->setInputEncoding(fDocument->getInputEncoding());

    DOMNode* const current = fCurrentNode;
    open[0] = copy;
    for (std::size_t i = 1; i < open.size(); ++i) {
        DOMNode* const node = copy->importNode(open[i], false);
        open[i - 1]->appendChild(node);
        open[i] = node;
    }
    fCurrentParent = open.back();
    fCurrentNode = fCurrentParent;
    // Characters that follow are appended to the text the parser made last.
    if (current != open.back() && current->getNodeType() == DOMNode::TEXT_NODE)
        fCurrentNode = fCurrentParent->appendChild(copy->importNode(current, false));

    fDocumentType = static_cast<DOMDocumentTypeImpl*>(copy->getDoctype());
    if (fCurrentEntity) {
        const XMLCh* const name = fCurrentEntity->getNodeName();
        fCurrentEntity = fDocumentType ? static_cast<DOMEntityImpl*>(fDocumentType->getEntities()->getNamedItem(name))
                                       : nullptr;
    }
    std::exchange(fDocument, owned.release())->release();
}

}  // namespace XML::internal
