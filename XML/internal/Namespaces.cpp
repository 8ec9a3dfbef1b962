#include "XML/internal/Namespaces.h"

#include <xercesc/util/XMLChar.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

// The name of the attribute that declares prefix (empty: the default namespace).
std::u16string DeclarationName(const std::u16string& prefix) {
    return prefix.empty() ? std::u16string(u"xmlns") : u"xmlns:" + prefix;
}

// A name the namespace rules accept: one optional prefix, no "xmlns" prefix on an element.
bool Qualified(const XMLCh* name) { return name && XMLChar1_0::isValidQName(name, XMLString::stringLen(name)); }

const XMLCh* NullIfEmpty(const XMLCh* uri) { return uri && *uri ? uri : nullptr; }

}  // namespace

std::u16string PrefixOf(const XMLCh* name) {
    const int colon = XMLString::indexOf(name, u':');
    return colon > 0 ? std::u16string(name, static_cast<std::size_t>(colon)) : std::u16string();
}

const XMLCh* InScope(const DOMNode* node, const std::u16string& prefix, bool& bound) {
    bound = true;
    if (prefix == u"xml") return XMLUni::fgXMLURIName;
    if (prefix == u"xmlns") return XMLUni::fgXMLNSURIName;
    const std::u16string declaration = DeclarationName(prefix);
    for (; node && node->getNodeType() == DOMNode::ELEMENT_NODE; node = node->getParentNode())
        if (const DOMAttr* attribute = static_cast<const DOMElement*>(node)->getAttributeNode(declaration.c_str()))
            return NullIfEmpty(attribute->getValue());
    bound = false;
    return nullptr;
}

DOMElement* MakeElement(DOMDocument& doc, const DOMNode* parent, const XMLCh* name) {
    if (!Qualified(name)) return doc.createElement(name);
    const std::u16string prefix = PrefixOf(name);
    bool bound = false;
    const XMLCh* uri = InScope(parent, prefix, bound);
    if (prefix == u"xmlns" || (!prefix.empty() && !bound)) return doc.createElement(name);
    return doc.createElementNS(uri, name);
}

DOMAttr* MakeAttribute(DOMDocument& doc, const DOMElement* element, const XMLCh* name) {
    if (!Qualified(name)) return doc.createAttribute(name);
    if (XMLString::equals(name, XMLUni::fgXMLNSString)) return doc.createAttributeNS(XMLUni::fgXMLNSURIName, name);
    const std::u16string prefix = PrefixOf(name);
    if (prefix.empty()) return doc.createAttributeNS(nullptr, name);
    bool bound = false;
    const XMLCh* uri = InScope(element, prefix, bound);
    return bound && uri ? doc.createAttributeNS(uri, name) : doc.createAttribute(name);
}

std::u16string NeededDeclaration(const DOMNode* parent, const std::u16string& prefix, const std::u16string& uri) {
    bool bound = false;
    const XMLCh* current = InScope(parent, prefix, bound);
    if (XMLString::equals(NullIfEmpty(current), NullIfEmpty(uri.c_str())) && (bound || uri.empty())) return {};
    return DeclarationName(prefix);
}

void Rebind(DOMDocument& doc, DOMElement& element, const DOMAttr& attribute) {
    const XMLCh* name = attribute.getName();
    const bool isDefault = XMLString::equals(name, XMLUni::fgXMLNSString);
    if (!isDefault && PrefixOf(name) != u"xmlns") return;
    DOMElement* const top = &element;
    const std::u16string prefix = isDefault ? std::u16string() : std::u16string(name + 6);
    const std::u16string declaration = DeclarationName(prefix);
    const XMLCh* uri = NullIfEmpty(attribute.getValue());
    // A namespace node with that prefix goes to uri, in place.
    const auto rebind = [&](DOMNode* node) {
        if (!node->getLocalName() || PrefixOf(node->getNodeName()) != prefix ||
            XMLString::equals(NullIfEmpty(node->getNamespaceURI()), uri) || (!uri && !prefix.empty()))
            return;
        doc.renameNode(node, uri, node->getNodeName());
    };
    std::vector<DOMElement*> pending{top};
    while (!pending.empty()) {
        DOMElement* const current = pending.back();
        pending.pop_back();
        if (current != top && current->getAttributeNode(declaration.c_str())) continue;  // declared again
        rebind(current);
        if (!prefix.empty()) {
            std::vector<DOMNode*> attributes;  // renaming reorders the map
            const DOMNamedNodeMap* map = current->getAttributes();
            for (XMLSize_t i = 0; map && i < map->getLength(); ++i) attributes.push_back(map->item(i));
            for (DOMNode* node : attributes) rebind(node);
        }
        for (DOMNode* child = current->getLastChild(); child; child = child->getPreviousSibling())
            if (child->getNodeType() == DOMNode::ELEMENT_NODE) pending.push_back(static_cast<DOMElement*>(child));
    }
}

}  // namespace XML::internal
