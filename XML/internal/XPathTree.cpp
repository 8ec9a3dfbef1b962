// XPathTree: the XPath data model over the DOM.
#include "XML/internal/XPathTree.h"

#include "XML/internal/TreeWalk.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace XML::internal::xpath {

using xercesc::DOMNode;
using xercesc::XMLString;

namespace {

constexpr XMLCh kEmpty[] = {0};
constexpr XMLCh kXml[] = {'x', 'm', 'l', 0};
constexpr XMLCh kXmlns[] = {'x', 'm', 'l', 'n', 's', 0};

bool IsContent(const DOMNode* n) {
    switch (n->getNodeType()) {
    case DOMNode::ELEMENT_NODE:
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE: return true;
    default: return false;
    }
}
bool IsEntityReference(const DOMNode* n) { return n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE; }

// The DOM sibling after n, leaving the entity references n lies in at their ends.
const DOMNode* ClimbNext(const DOMNode* n) {
    for (;;) {
        if (const DOMNode* s = n->getNextSibling()) return s;
        n = n->getParentNode();
        if (!n || !IsEntityReference(n)) return nullptr;
    }
}
const DOMNode* ClimbPrevious(const DOMNode* n) {
    for (;;) {
        if (const DOMNode* s = n->getPreviousSibling()) return s;
        n = n->getParentNode();
        if (!n || !IsEntityReference(n)) return nullptr;
    }
}
// From candidate n on, the first node of the data model, entering entity references.
const DOMNode* SettleForward(const DOMNode* n) {
    while (n) {
        if (IsContent(n)) return n;
        if (IsEntityReference(n) && n->getFirstChild())
            n = n->getFirstChild();
        else
            n = ClimbNext(n);
    }
    return nullptr;
}
const DOMNode* SettleBackward(const DOMNode* n) {
    while (n) {
        if (IsContent(n)) return n;
        if (IsEntityReference(n) && n->getLastChild())
            n = n->getLastChild();
        else
            n = ClimbPrevious(n);
    }
    return nullptr;
}
const DOMNode* RawNext(const DOMNode* n) { return SettleForward(ClimbNext(n)); }
const DOMNode* RawPrevious(const DOMNode* n) { return SettleBackward(ClimbPrevious(n)); }

bool IsChildKind(const DOMNode* n) { return IsContent(n); }

const XMLCh* OrEmpty(const XMLCh* text) { return text ? text : kEmpty; }

}  // namespace

bool SameNode(const Node& a, const Node& b) {
    if (a.dom != b.dom) return false;
    if (a.IsNamespace() != b.IsNamespace()) return false;
    return !a.IsNamespace() || XMLString::equals(a.prefix, b.prefix);
}

bool ContinuesText(const DOMNode* node) {
    if (!IsText(node)) return false;
    const DOMNode* p = RawPrevious(node);
    return p && IsText(p);
}

Node FromDom(const DOMNode* dom) {
    while (dom && (IsEntityReference(dom) || dom->getNodeType() == DOMNode::DOCUMENT_TYPE_NODE))
        dom = dom->getParentNode();
    if (dom && IsText(dom))
        while (ContinuesText(dom)) dom = RawPrevious(dom);
    return Node{dom, nullptr, nullptr};
}

const DOMNode* FirstChild(const DOMNode* parent) {
    const Kind k = parent->getNodeType();
    if (k != DOMNode::ELEMENT_NODE && k != DOMNode::DOCUMENT_NODE && k != DOMNode::DOCUMENT_FRAGMENT_NODE)
        return nullptr;
    const DOMNode* c = parent->getFirstChild();
    return c ? SettleForward(c) : nullptr;
}

const DOMNode* LastChild(const DOMNode* parent) {
    const Kind k = parent->getNodeType();
    if (k != DOMNode::ELEMENT_NODE && k != DOMNode::DOCUMENT_NODE && k != DOMNode::DOCUMENT_FRAGMENT_NODE)
        return nullptr;
    const DOMNode* c = parent->getLastChild();
    const DOMNode* m = c ? SettleBackward(c) : nullptr;
    if (m && IsText(m))
        while (const DOMNode* p = RawPrevious(m)) {
            if (!IsText(p)) break;
            m = p;
        }
    return m;
}

const DOMNode* NextSibling(const DOMNode* node) {
    if (!IsChildKind(node)) return nullptr;
    const DOMNode* m = RawNext(node);
    if (IsText(node))
        while (m && IsText(m)) m = RawNext(m);
    return m;
}

const DOMNode* PreviousSibling(const DOMNode* node) {
    if (!IsChildKind(node)) return nullptr;
    const DOMNode* m = RawPrevious(node);
    if (m && IsText(m))
        while (const DOMNode* p = RawPrevious(m)) {
            if (!IsText(p)) break;
            m = p;
        }
    return m;
}

const DOMNode* Parent(const Node& node) {
    if (!node.dom) return nullptr;
    if (node.IsNamespace()) return node.dom;
    if (node.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE)
        return static_cast<const xercesc::DOMAttr*>(node.dom)->getOwnerElement();
    const DOMNode* p = node.dom->getParentNode();
    while (p && IsEntityReference(p)) p = p->getParentNode();
    return p;
}

bool IsNamespaceDeclaration(const DOMNode* attribute) {
    // Names starting with "xmlns" are reserved to declarations: the name alone tells.
    const XMLCh* name = attribute->getNodeName();
    for (std::size_t i = 0; i < 5; ++i)
        if (name[i] != kXmlns[i]) return false;
    return name[5] == 0 || name[5] == ':';
}

void NamespacesOf(const DOMNode* element, std::vector<Node>& out, Budget& budget) {
    const std::size_t first = out.size();
    std::unordered_set<std::u16string_view> seen;
    bool xmlSeen = false;
    for (const DOMNode* e = element; e && IsElement(e); e = Parent(Node{e})) {
        const xercesc::DOMNamedNodeMap* attributes = e->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            budget.Step();
            const DOMNode* a = attributes->item(i);
            if (!IsNamespaceDeclaration(a)) continue;
            const XMLCh* name = a->getNodeName();
            const XMLCh* prefix = name[5] == ':' ? name + 6 : kEmpty;
            if (!seen.insert(std::u16string_view(prefix)).second) continue;
            if (XMLString::equals(prefix, kXml)) xmlSeen = true;
            const XMLCh* uri = OrEmpty(a->getNodeValue());
            if (*uri) out.push_back(Node{element, prefix, uri});
        }
        // Parent() of an element is its DOM parent (entity references aside), so the walk ends
        // at the document.
    }
    if (!xmlSeen) out.push_back(Node{element, kXml, xercesc::XMLUni::fgXMLURIName});
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Node& a, const Node& b) { return XMLString::compareString(a.prefix, b.prefix) < 0; });
}

const XMLCh* DirectStringValue(const Node& node) {
    if (node.IsNamespace()) return node.uri;
    const DOMNode* n = node.dom;
    switch (n->getNodeType()) {
    case DOMNode::ATTRIBUTE_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE: return OrEmpty(n->getNodeValue());
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE: {
        const DOMNode* next = RawNext(n);
        return next && IsText(next) ? nullptr : OrEmpty(n->getNodeValue());
    }
    case DOMNode::ELEMENT_NODE: {
        // The common <v>text</v>: one text child and nothing else.
        const DOMNode* c = n->getFirstChild();
        if (!c) return kEmpty;
        if (c->getNextSibling() || !IsText(c)) return nullptr;
        return OrEmpty(c->getNodeValue());
    }
    default: return nullptr;
    }
}

namespace {

// Calls take(text) for each piece of the string value of node, in order.
template <class Take>
void StringValuePieces(const Node& node, Budget& budget, Take&& take) {
    if (const XMLCh* direct = DirectStringValue(node)) {
        take(direct);
        return;
    }
    const DOMNode* n = node.dom;
    if (IsText(n)) {
        for (; n && IsText(n); n = RawNext(n)) {
            budget.Step();
            take(OrEmpty(n->getNodeValue()));
        }
        return;
    }
    const Kind k = n->getNodeType();
    if (k != DOMNode::ELEMENT_NODE && k != DOMNode::DOCUMENT_NODE && k != DOMNode::DOCUMENT_FRAGMENT_NODE) return;
    for (PreOrderWalk walk(n); walk.Current(); walk.Next()) {
        budget.Step();
        const DOMNode* c = walk.Current();
        if (IsText(c)) take(OrEmpty(c->getNodeValue()));
    }
}

// Walks the subtree of root in document order without a call-stack frame per level: enter(n)
// for root and each element below it (false: its subtree is passed over, leave is still called),
// text(t) for each DOM text piece, leave(n) once n's subtree is done.
template <class Enter, class Text, class Leave>
void WalkSubtree(const DOMNode* root, Budget& budget, Enter&& enter, Text&& text, Leave&& leave) {
    const DOMNode* n = root;
    bool descend = enter(n);
    for (;;) {
        budget.Step();
        if (IsText(n)) text(OrEmpty(n->getNodeValue()));
        const DOMNode* child = descend && !IsText(n) ? n->getFirstChild() : nullptr;
        if (child) {
            n = child;
            descend = !IsElement(n) || enter(n);
            continue;
        }
        for (;;) {
            if (IsElement(n) || n == root) leave(n);
            if (n == root) return;
            if (const DOMNode* sibling = n->getNextSibling()) {
                n = sibling;
                descend = !IsElement(n) || enter(n);
                break;
            }
            n = n->getParentNode();
        }
    }
}

bool HasSubtree(const Node& node) {
    if (node.IsNamespace()) return false;
    const Kind k = node.dom->getNodeType();
    return k == DOMNode::ELEMENT_NODE || k == DOMNode::DOCUMENT_NODE || k == DOMNode::DOCUMENT_FRAGMENT_NODE;
}

bool IsSpaceChar(XMLCh c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The maximal runs of characters other than spaces of text, as [begin, end) pairs.
void Runs(const XString& text, std::vector<std::pair<std::size_t, std::size_t>>& runs) {
    runs.clear();
    for (std::size_t i = 0; i < text.size();) {
        while (i < text.size() && IsSpaceChar(text[i])) ++i;
        const std::size_t begin = i;
        while (i < text.size() && !IsSpaceChar(text[i])) ++i;
        if (i > begin) runs.emplace_back(begin, i);
    }
}

}  // namespace

void AppendStringValue(const Node& node, XString& out, Budget& budget) {
    StringValuePieces(node, budget, [&](const XMLCh* text) {
        const std::size_t length = XMLString::stringLen(text);
        budget.Build(length);
        out.append(text, length);
    });
}

std::size_t StringValueLength(const Node& node, Budget& budget) {
    std::size_t length = 0;
    StringValuePieces(node, budget, [&](const XMLCh* text) {
        for (; *text; ++text) length += (*text & 0xFC00) != 0xDC00;  // a low surrogate ends a pair already counted
    });
    return length;
}

const XMLCh* LocalName(const Node& node) {
    if (node.IsNamespace()) return node.prefix;
    const DOMNode* n = node.dom;
    switch (n->getNodeType()) {
    case DOMNode::ELEMENT_NODE:
    case DOMNode::ATTRIBUTE_NODE: {
        const XMLCh* local = n->getLocalName();
        return local ? local : OrEmpty(n->getNodeName());
    }
    case DOMNode::PROCESSING_INSTRUCTION_NODE: return OrEmpty(n->getNodeName());
    default: return kEmpty;
    }
}

const XMLCh* NamespaceUri(const Node& node) {
    if (node.IsNamespace()) return kEmpty;
    const Kind k = node.dom->getNodeType();
    if (k != DOMNode::ELEMENT_NODE && k != DOMNode::ATTRIBUTE_NODE) return kEmpty;
    return OrEmpty(node.dom->getNamespaceURI());
}

void QualifiedName(const Node& node, XString& out) {
    if (node.IsNamespace()) {
        out += node.prefix;
        return;
    }
    const Kind k = node.dom->getNodeType();
    if (k == DOMNode::ELEMENT_NODE || k == DOMNode::ATTRIBUTE_NODE || k == DOMNode::PROCESSING_INSTRUCTION_NODE)
        out += OrEmpty(node.dom->getNodeName());
}

namespace {

// Where a node sits below its parent: namespace nodes, then attributes, then children.
enum Slot { kNamespaceSlot = 0, kAttributeSlot = 1, kChildSlot = 2 };

Slot SlotOf(const Node& n) {
    if (n.IsNamespace()) return kNamespaceSlot;
    return n.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE ? kAttributeSlot : kChildSlot;
}

std::size_t AttributeIndex(const DOMNode* attribute) {
    const DOMNode* owner = static_cast<const xercesc::DOMAttr*>(attribute)->getOwnerElement();
    const xercesc::DOMNamedNodeMap* attributes = owner ? owner->getAttributes() : nullptr;
    const XMLSize_t count = attributes ? attributes->getLength() : 0;
    for (XMLSize_t i = 0; i < count; ++i)
        if (attributes->item(i) == attribute) return i;
    return 0;
}

// Siblings x and y (same parent, different nodes): whether x comes first.
bool SiblingBefore(const Node& x, const Node& y) {
    const Slot sx = SlotOf(x), sy = SlotOf(y);
    if (sx != sy) return sx < sy;
    if (sx == kNamespaceSlot) return XMLString::compareString(x.prefix, y.prefix) < 0;
    if (sx == kAttributeSlot) return AttributeIndex(x.dom) < AttributeIndex(y.dom);
    for (const DOMNode* s = NextSibling(x.dom); s; s = NextSibling(s))
        if (s == y.dom) return true;
    return false;
}

// The node and its ancestors, root last.
void Chain(const Node& node, std::vector<Node>& chain) {
    chain.clear();
    chain.push_back(node);
    for (const DOMNode* p = Parent(node); p; p = Parent(Node{p})) chain.push_back(Node{p});
}

struct ChainOrder {
    std::vector<Node> ca, cb;
    bool operator()(const Node& a, const Node& b) {
        if (SameNode(a, b)) return false;
        Chain(a, ca);
        Chain(b, cb);
        if (ca.back().dom != cb.back().dom) return ca.back().dom < cb.back().dom;  // different trees
        std::size_t i = ca.size() - 1, j = cb.size() - 1;
        while (i > 0 && j > 0 && SameNode(ca[i - 1], cb[j - 1])) --i, --j;
        if (i == 0) return true;   // a is an ancestor of b
        if (j == 0) return false;  // b is an ancestor of a
        return SiblingBefore(ca[i - 1], cb[j - 1]);
    }
};

const DOMNode* RootOf(const Node& n) {
    const DOMNode* r = n.IsNamespace() ? n.dom : nullptr;
    for (const DOMNode* p = n.dom; p; p = Parent(Node{p})) r = p;
    return r;
}

}  // namespace

void SortDocumentOrder(std::vector<Node>& nodes) {
    if (nodes.size() < 2) return;
    const auto same = [](const Node& a, const Node& b) { return SameNode(a, b); };
    const DOMNode* root = RootOf(nodes.front());
    bool oneTree = nodes.size() > 32 && root;
    for (std::size_t i = 1; oneTree && i < nodes.size(); i += 1 + i / 8)  // sampled: a cheap guard
        oneTree = RootOf(nodes[i]) == root;
    if (!oneTree) {
        ChainOrder order;
        std::sort(nodes.begin(), nodes.end(), std::ref(order));
        nodes.erase(std::unique(nodes.begin(), nodes.end(), same), nodes.end());
        return;
    }
    // Many nodes of one tree: one walk of the tree numbers the nodes (attributes and namespace
    // nodes by their element), then a sort by number.
    std::unordered_map<const DOMNode*, std::uint64_t> ordinal;
    ordinal.reserve(nodes.size());
    auto owner = [](const Node& n) {
        if (n.IsNamespace()) return n.dom;
        if (n.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE)
            return static_cast<const DOMNode*>(static_cast<const xercesc::DOMAttr*>(n.dom)->getOwnerElement());
        return n.dom;
    };
    for (const Node& n : nodes) ordinal.emplace(owner(n), 0);
    std::uint64_t counter = 0;
    if (auto it = ordinal.find(root); it != ordinal.end()) it->second = ++counter;
    for (PreOrderWalk walk(root); walk.Current(); walk.Next()) {
        ++counter;
        if (auto it = ordinal.find(walk.Current()); it != ordinal.end()) it->second = counter;
    }
    struct Keyed {
        std::uint64_t ord;
        int slot;
        std::size_t sub;
        Node node;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(nodes.size());
    for (const Node& n : nodes) {
        const Slot slot = SlotOf(n);
        const std::size_t sub = slot == kAttributeSlot ? AttributeIndex(n.dom) : 0;
        keyed.push_back(Keyed{ordinal[owner(n)], slot, sub, n});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.ord != b.ord) return a.ord < b.ord;
        if (a.slot != b.slot) return a.slot < b.slot;
        if (a.slot == kNamespaceSlot) return XMLString::compareString(a.node.prefix, b.node.prefix) < 0;
        return a.sub < b.sub;
    });
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = keyed[i].node;
    nodes.erase(std::unique(nodes.begin(), nodes.end(), same), nodes.end());
}

void DocumentOrder::Number(const DOMNode* root, Budget& budget) {
    m_root = root;
    m_number.clear();
    std::uint64_t counter = 0;
    auto number = [&](const DOMNode* n) {
        budget.Step();
        m_number.emplace(n, ++counter);
        // Attributes come right after their element, before its namespace nodes' successors.
        if (const xercesc::DOMNamedNodeMap* attributes = n->getAttributes())
            for (XMLSize_t i = 0, count = attributes->getLength(); i < count; ++i) {
                budget.Step();
                m_number.emplace(attributes->item(i), ++counter);
            }
    };
    number(root);
    for (PreOrderWalk walk(root); walk.Current(); walk.Next()) number(walk.Current());
}

bool DocumentOrder::KeysOf(const std::vector<Node>& nodes, std::size_t begin, std::vector<Key>& keys, Budget& budget) {
    keys.clear();
    for (std::size_t i = begin; i < nodes.size(); ++i) {
        const Node& n = nodes[i];
        if (!m_root) Number(RootOf(n), budget);
        const auto it = m_number.find(n.dom);
        if (it == m_number.end()) return false;
        keys.push_back(Key{it->second, n.prefix});
    }
    return true;
}

namespace {
bool KeyBefore(const std::uint64_t an, const XMLCh* ap, const std::uint64_t bn, const XMLCh* bp) {
    if (an != bn) return an < bn;
    if (!ap || !bp) return ap == nullptr && bp != nullptr;  // the element before its namespace nodes
    return XMLString::compareString(ap, bp) < 0;
}
}  // namespace

void DocumentOrder::Sort(std::vector<Node>& nodes, std::size_t begin, Budget& budget) {
    const std::size_t count = nodes.size() - begin;
    if (count < 2) return;
    budget.Step(count);
    // A few small sets are ordered by their ancestor chains before the tree is worth numbering.
    const bool small = !m_root && count <= kSmallSet && m_smallSorts < kSmallSorts;
    if (small) ++m_smallSorts;
    if (small || !KeysOf(nodes, begin, m_keys, budget)) {
        std::vector<Node> part(nodes.begin() + static_cast<std::ptrdiff_t>(begin), nodes.end());
        SortDocumentOrder(part);
        nodes.resize(begin);
        nodes.insert(nodes.end(), part.begin(), part.end());
        return;
    }
    std::vector<std::size_t> index(count);
    for (std::size_t i = 0; i < count; ++i) index[i] = i;
    const auto before = [&](std::size_t a, std::size_t b) {
        return KeyBefore(m_keys[a].number, m_keys[a].prefix, m_keys[b].number, m_keys[b].prefix);
    };
    if (!std::is_sorted(index.begin(), index.end(), before)) std::sort(index.begin(), index.end(), before);
    std::vector<Node> sorted;
    sorted.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = index[k];
        if (k > 0 && !before(index[k - 1], i)) continue;  // equal keys: the same node
        sorted.push_back(nodes[begin + i]);
    }
    nodes.resize(begin);
    nodes.insert(nodes.end(), sorted.begin(), sorted.end());
}

void DocumentOrder::Merge(std::vector<Node>& nodes, std::size_t begin, const std::vector<Node>& more, Budget& budget) {
    if (more.empty()) return;
    const std::size_t left = nodes.size() - begin;
    nodes.insert(nodes.end(), more.begin(), more.end());
    if (left == 0) return;
    budget.Step(nodes.size() - begin);
    if (!KeysOf(nodes, begin, m_keys, budget)) {
        Sort(nodes, begin, budget);
        return;
    }
    std::vector<Node> merged;
    merged.reserve(nodes.size() - begin);
    std::size_t i = 0, j = left;
    const std::size_t end = nodes.size() - begin;
    while (i < left || j < end) {
        std::size_t take;
        if (j == end) {
            take = i++;
        } else if (i == left) {
            take = j++;
        } else {
            const Key& a = m_keys[i];
            const Key& b = m_keys[j];
            if (KeyBefore(a.number, a.prefix, b.number, b.prefix)) {
                take = i++;
            } else if (KeyBefore(b.number, b.prefix, a.number, a.prefix)) {
                take = j++;
            } else {
                take = i++;
                ++j;  // the same node in both
            }
        }
        merged.push_back(nodes[begin + take]);
    }
    nodes.resize(begin);
    nodes.insert(nodes.end(), merged.begin(), merged.end());
}

}  // namespace XML::internal::xpath

namespace XML::internal::xpath {

void StringValueTokens(const std::vector<Node>& nodes, Budget& budget,
                       const std::function<void(std::u16string_view)>& take) {
    using Range = std::pair<std::size_t, std::size_t>;
    std::unordered_set<const DOMNode*> members;
    for (const Node& node : nodes)
        if (HasSubtree(node)) members.insert(node.dom);
    std::unordered_set<const DOMNode*> done;
    XString text;
    std::vector<Range> runs, ranges;
    std::vector<std::pair<const DOMNode*, std::size_t>> open;
    for (const Node& node : nodes) {
        if (HasSubtree(node) && !done.insert(node.dom).second) continue;  // read with an outer node
        text.clear();
        ranges.clear();
        if (!HasSubtree(node)) {
            AppendStringValue(node, text, budget);
        } else {
            WalkSubtree(
                node.dom, budget,
                [&](const DOMNode* n) {
                    if (n != node.dom && members.count(n) == 0) return true;
                    done.insert(n);
                    open.emplace_back(n, text.size());
                    return true;
                },
                [&](const XMLCh* piece) {
                    const std::size_t length = XMLString::stringLen(piece);
                    budget.Build(length);
                    text.append(piece, length);
                },
                [&](const DOMNode* n) {
                    if (open.empty() || open.back().first != n) return;
                    ranges.emplace_back(open.back().second, text.size());
                    open.pop_back();
                });
        }
        Runs(text, runs);
        // Every run is a token of the outermost node; a nested node cuts the run its edges fall in.
        for (const auto& [begin, end] : runs) take(std::u16string_view(text).substr(begin, end - begin));
        const auto runAt = [&](std::size_t at) {  // the run holding text[at], or null
            auto it = std::upper_bound(runs.begin(), runs.end(), at,
                                       [](std::size_t value, const Range& run) { return value < run.first; });
            return it != runs.begin() && at < std::prev(it)->second ? &*std::prev(it) : nullptr;
        };
        for (const auto& [begin, end] : ranges) {
            if (begin >= end) continue;
            if (const Range* run = runAt(begin); run && run->first < begin) {
                const std::size_t cut = std::min(run->second, end) - begin;
                budget.Build(cut);
                take(std::u16string_view(text).substr(begin, cut));
            }
            if (const Range* run = runAt(end - 1); run && end < run->second && run->first < end) {
                const std::size_t from = std::max(run->first, begin);
                budget.Build(end - from);
                take(std::u16string_view(text).substr(from, end - from));
            }
        }
    }
}

std::size_t StringLengths::Of(const Node& node, Budget& budget) {
    if (!HasSubtree(node)) return StringValueLength(node, budget);
    if (const auto found = m_lengths.find(node.dom); found != m_lengths.end()) return found->second;
    std::size_t total = 0;
    std::vector<std::size_t> starts;
    WalkSubtree(
        node.dom, budget,
        [&](const DOMNode* n) {
            starts.push_back(total);
            const auto found = m_lengths.find(n);
            if (found == m_lengths.end()) return true;
            total += found->second;  // measured before: its subtree is not walked again
            return false;
        },
        [&](const XMLCh* piece) {
            for (; *piece; ++piece) total += (*piece & 0xFC00) != 0xDC00;
        },
        [&](const DOMNode* n) {
            m_lengths[n] = total - starts.back();
            starts.pop_back();
        });
    return m_lengths[node.dom];
}

}  // namespace XML::internal::xpath
