// XPathTree: the XPath data model read from a Xerces DOM without copying it: adjacent text and
// CDATA siblings form one text node (its first DOM node stands for it), entity references are
// transparent, namespace declarations are namespace nodes (small values owned by the caller,
// never DOM nodes), not attributes. Navigation, string values, names and document order.
// Every walk is iterative. Internal to the library.
#ifndef KELXML_INTERNAL_XPATHTREE_H
#define KELXML_INTERNAL_XPATHTREE_H

#include "XML/internal/Transcode.h"
#include "XML/internal/XPathBudget.h"

#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace XML::internal::xpath {

// One node of the data model: a DOM node, or the namespace node of element dom for prefix
// (empty for the default namespace) bound to uri.
struct Node {
    const xercesc::DOMNode* dom = nullptr;
    const XMLCh* prefix = nullptr;  // set only for a namespace node
    const XMLCh* uri = nullptr;

    bool IsNamespace() const { return prefix != nullptr; }
};

bool SameNode(const Node& a, const Node& b);

using Kind = xercesc::DOMNode::NodeType;

inline bool IsText(const xercesc::DOMNode* n) {
    const Kind k = n->getNodeType();
    return k == xercesc::DOMNode::TEXT_NODE || k == xercesc::DOMNode::CDATA_SECTION_NODE;
}
inline bool IsElement(const xercesc::DOMNode* n) { return n->getNodeType() == xercesc::DOMNode::ELEMENT_NODE; }

// The data-model node a caller's DOM node stands for: a text node inside a run is the run's
// first, an entity reference or document type stands for its parent.
Node FromDom(const xercesc::DOMNode* dom);

// Navigation in the data model (children skip what it does not hold; null at the end).
const xercesc::DOMNode* FirstChild(const xercesc::DOMNode* parent);
const xercesc::DOMNode* LastChild(const xercesc::DOMNode* parent);
const xercesc::DOMNode* NextSibling(const xercesc::DOMNode* node);
const xercesc::DOMNode* PreviousSibling(const xercesc::DOMNode* node);
// The parent of any node: an attribute's element, a namespace node's element; null for the root.
const xercesc::DOMNode* Parent(const Node& node);
// True when a DOM text node continues a run (so it is not a node of its own).
bool ContinuesText(const xercesc::DOMNode* node);
// An attribute that declares a namespace (xmlns, xmlns:p) rather than being an attribute.
bool IsNamespaceDeclaration(const xercesc::DOMNode* attribute);

// The in-scope namespaces of element, the xml prefix first, then by prefix; a step charged per
// declaration looked at.
void NamespacesOf(const xercesc::DOMNode* element, std::vector<Node>& out, Budget& budget);

// Appends the string value of node to out, charging the nodes walked and the characters copied.
void AppendStringValue(const Node& node, XString& out, Budget& budget);
// The length in characters (a surrogate pair is one) of the string value, copying nothing.
std::size_t StringValueLength(const Node& node, Budget& budget);
// Calls take(token) for each whitespace-separated token of the string value of each of nodes (in
// document order), reading each text once however the nodes nest: a node inside another of the
// set has the outer one's tokens but for the first and last, which its edges may cut. A token may
// be given more than once; the text read and tokens cut are charged.
void StringValueTokens(const std::vector<Node>& nodes, Budget& budget,
                       const std::function<void(std::u16string_view)>& take);

// The string value lengths of one evaluation: each element's subtree is measured once, and an
// element inside one measured before costs a lookup.
class StringLengths {
public:
    std::size_t Of(const Node& node, Budget& budget);

private:
    std::unordered_map<const xercesc::DOMNode*, std::size_t> m_lengths;
};

// The string value without copying when the node holds it in one piece (an attribute, a comment,
// a PI, a lone text node, a namespace node); null otherwise.
const XMLCh* DirectStringValue(const Node& node);

// Names of the expanded name: the local part and the namespace URI (never null; empty when none).
const XMLCh* LocalName(const Node& node);
const XMLCh* NamespaceUri(const Node& node);
// The qualified name XPath's name() gives (empty for nodes without a name).
void QualifiedName(const Node& node, XString& out);

// Sorts nodes into document order and removes duplicates (comparing ancestor chains: for a few
// nodes, or nodes of several trees).
void SortDocumentOrder(std::vector<Node>& nodes);

// Document order of one tree, numbered by a single walk the first time a set of it is ordered,
// then kept for the whole evaluation: sorting and merging sets costs no walk of the tree.
class DocumentOrder {
public:
    // Sorts nodes[begin..) into document order without duplicates.
    void Sort(std::vector<Node>& nodes, std::size_t begin, Budget& budget);
    // nodes[begin..) and more, each in document order without duplicates, merged into nodes[begin..).
    void Merge(std::vector<Node>& nodes, std::size_t begin, const std::vector<Node>& more, Budget& budget);

private:
    struct Key {
        std::uint64_t number;
        const XMLCh* prefix;  // namespace nodes: after their element's number, by prefix
    };
    // False when a node is not of the numbered tree (then the chains are compared).
    bool KeysOf(const std::vector<Node>& nodes, std::size_t begin, std::vector<Key>& keys, Budget& budget);
    void Number(const xercesc::DOMNode* root, Budget& budget);

    static constexpr std::size_t kSmallSet = 8;
    static constexpr std::size_t kSmallSorts = 64;
    std::size_t m_smallSorts = 0;
    const xercesc::DOMNode* m_root = nullptr;
    std::unordered_map<const xercesc::DOMNode*, std::uint64_t> m_number;
    std::vector<Key> m_keys;
};

}  // namespace XML::internal::xpath

#endif
