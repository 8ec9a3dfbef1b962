// Namespaces: the namespaces of nodes built in memory, so that a document built by the editing
// operations is the document its saved copy loads as: the namespace a prefix has in scope at a
// node (the declarations of its parent chain), elements and attributes made as namespace nodes,
// the declarations a node in a given namespace needs, and the nodes a declaration added later
// puts in its namespace. Internal to the library.
#ifndef KELXML_INTERNAL_NAMESPACES_H
#define KELXML_INTERNAL_NAMESPACES_H

#include <xercesc/dom/DOM.hpp>

#include <string>

namespace XML::internal {

// The namespace URI prefix (empty: the default namespace) has at node, from the xmlns attributes
// of node and its ancestors ("xml" and "xmlns" are always bound); null, with bound false, when no
// declaration binds it (bound true with null: the default namespace undeclared by xmlns="").
const XMLCh* InScope(const xercesc::DOMNode* node, const std::u16string& prefix, bool& bound);

// A new element name for a child of parent: in the namespace its prefix (or the default
// namespace) has in scope there. A name that is not a qualified name, or whose prefix nothing
// binds, is made as before namespaces (the DOM's createElement), in no namespace.
xercesc::DOMElement* MakeElement(xercesc::DOMDocument& doc, const xercesc::DOMNode* parent, const XMLCh* name);
// A new attribute name for element: in the namespace its prefix has in scope at element (xmlns
// and xmlns:* in the namespace of declarations, an unprefixed name in none); otherwise as
// MakeElement does.
xercesc::DOMAttr* MakeAttribute(xercesc::DOMDocument& doc, const xercesc::DOMElement* element, const XMLCh* name);

// The declaration (xmlns or xmlns:prefix) node needs for its name's prefix to stand for uri
// (empty: no namespace) below parent; empty when the declarations in scope already say so.
std::u16string NeededDeclaration(const xercesc::DOMNode* parent, const std::u16string& prefix,
                                 const std::u16string& uri);

// When attribute declares a namespace (xmlns, xmlns:p) on element, puts element and the nodes
// below it that use that prefix (for xmlns, the unprefixed elements), up to those that declare it
// again, in the namespace it declares. Namespace nodes are renamed in place; nodes made without a
// namespace (see MakeElement) are left as they are. (element is given: an attribute set again on
// its element by setAttributeNode no longer names its owner.)
void Rebind(xercesc::DOMDocument& doc, xercesc::DOMElement& element, const xercesc::DOMAttr& attribute);

// The prefix of a qualified name, empty when it has none.
std::u16string PrefixOf(const XMLCh* name);

}  // namespace XML::internal

#endif
