#include "XML/HandlerError.h"

#include "XML/XStr.h"

#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <sstream>
#include <string>

using namespace xercesc;

namespace XML {

HandlerError::~HandlerError() = default;

// The parser opens a relative result, or one it cannot read as a URL, as a local path, and a
// file: URL on this host from disk; every other absolute URL goes to its network accessor.
// Only the local forms pass.
void HandlerError::RefuseNetwork(const XMLCh* base, const XMLCh* systemId) {
    if (!systemId) return;
    XMLURL url(XMLPlatformUtils::fgMemoryManager);
    if (!url.setURL(base, systemId, url) || url.isRelative()) return;
    const XMLCh* const host = url.getHost();
    if (url.getProtocol() == XMLURL::File &&
        (!host || !*host || XMLString::compareIStringASCII(host, XMLUni::fgLocalHostString) == 0))
        return;
    const std::string target = XStr::ToLocal(url.getURLText());
    throw SAXException(("network access refused: '" + target + "' (this library opens local files only)").c_str());
}

void HandlerError::warning(const SAXParseException& exc) { ReportParseError(exc, E_WARNING); }

void HandlerError::error(const SAXParseException& exc) { ReportParseError(exc, E_ERROR); }

void HandlerError::fatalError(const SAXParseException& exc) { ReportParseError(exc, E_FATAL_ERROR); }

void HandlerError::resetErrors() { ResetError(); }

InputSource* HandlerError::resolveEntity(XMLResourceIdentifier* resource) {
    if (resource) RefuseNetwork(resource->getBaseURI(), resource->getSystemId());
    // Null: the parser resolves the local file exactly as it would without a resolver.
    return nullptr;
}

InputSource* HandlerError::resolveEntity(const XMLCh* const, const XMLCh* const systemId) {
    RefuseNetwork(nullptr, systemId);
    return nullptr;
}

void HandlerError::ReportParseError(const SAXParseException& exc, E_TYPE_ERROR eType) {
    // The parser may hand over a diagnostic without identifier or message: both read as empty.
    std::stringstream text;
    text << XStr::ToLocal(exc.getSystemId()) << ", lig=" << static_cast<std::int32_t>(exc.getLineNumber())
         << " col=" << static_cast<std::int32_t>(exc.getColumnNumber()) << ", " << XStr::ToLocal(exc.getMessage());
    AddError(eType, text.str().c_str());
}

bool BoundedDOMParser::DeeperThanLimit(const DOMNode* top) {
    if (!top) return false;
    const auto isElement = [](const DOMNode* n) { return n->getNodeType() == DOMNode::ELEMENT_NODE; };
    std::size_t depth = 0;  // elements open on the path from top to node, both included
    const DOMNode* node = top;
    for (;;) {
        if (isElement(node) && ++depth > kMaxDepth) return true;
        if (const DOMNode* child = node->getFirstChild()) {
            node = child;
            continue;
        }
        // Leave node, and every ancestor whose children are all seen, up to the next sibling.
        for (;;) {
            if (node == top) return false;
            if (isElement(node)) --depth;
            if (const DOMNode* sibling = node->getNextSibling()) {
                node = sibling;
                break;
            }
            node = node->getParentNode();
        }
    }
}

void BoundedDOMParser::startDocument() {
    m_depth = 0;
    m_declared.clear();
    m_inScope = 0;
    XercesDOMParser::startDocument();
}

void BoundedDOMParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                                    const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                                    const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) {
    if (m_depth >= kMaxDepth)
        throw SAXException(("elements nested deeper than " + std::to_string(kMaxDepth) + " levels").c_str());
    if (attrCount > kMaxAttributes)
        throw SAXException(("an element with more than " + std::to_string(kMaxAttributes) + " attributes").c_str());
    std::size_t declared = 0;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attr = attrList.elementAt(i);
        const XMLCh* const prefix = attr->getPrefix();
        if (XMLString::equals(prefix, XMLUni::fgXMLNSString) ||
            ((!prefix || !*prefix) && XMLString::equals(attr->getName(), XMLUni::fgXMLNSString)))
            ++declared;
    }
    if (m_inScope + declared > kMaxNamespacesInScope)
        throw SAXException(("more than " + std::to_string(kMaxNamespacesInScope) + " namespace declarations in scope")
                               .c_str());
    // The base class ends an empty element itself, through endElement below.
    ++m_depth;
    m_declared.push_back(declared);
    m_inScope += declared;
    XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
}

void BoundedDOMParser::endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                                  const XMLCh* const elemPrefix) {
    if (m_depth > 0) --m_depth;
    if (!m_declared.empty()) {
        m_inScope -= m_declared.back();
        m_declared.pop_back();
    }
    XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
}

} // namespace XML
