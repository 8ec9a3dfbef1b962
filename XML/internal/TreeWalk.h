// TreeWalk: iterative walks over a DOM subtree (document order, tag search, child lookup, a
// node's text), so that no walk's depth ever reaches the stack. Internal to the library.
#ifndef KELXML_INTERNAL_TREEWALK_H
#define KELXML_INTERNAL_TREEWALK_H

#include "XML/internal/NameText.h"

#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/util/XMLString.hpp>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace XML::internal {

inline bool IsElement(const xercesc::DOMNode* node) {
    return node && node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE;
}

// The nodes a walk went down through, innermost last; the first kInline without allocating.
class AncestorStack {
public:
    void Push(const xercesc::DOMNode* node) {
        if (m_size < kInline) {
            m_inline[m_size] = node;
        } else {
            m_spill.push_back(node);
        }
        ++m_size;
    }
    // The innermost ancestor, removed; the stack must not be empty.
    const xercesc::DOMNode* Pop() {
        --m_size;
        if (m_size < kInline) return m_inline[m_size];
        const xercesc::DOMNode* node = m_spill.back();
        m_spill.pop_back();
        return node;
    }
    bool Empty() const { return m_size == 0; }

private:
    static constexpr std::size_t kInline = 32;
    std::array<const xercesc::DOMNode*, kInline> m_inline{};
    std::vector<const xercesc::DOMNode*> m_spill;
    std::size_t m_size = 0;
};

// A pre-order walk of root's subtree (root excluded), keeping the ancestors on a stack of its
// own: the DOM's getParentNode pays a dynamic_cast on every step up.
class PreOrderWalk {
public:
    explicit PreOrderWalk(const xercesc::DOMNode* root) : m_node(root->getFirstChild()) {}
    // The node the walk stands on; null once the subtree is done.
    const xercesc::DOMNode* Current() const { return m_node; }
    // On to the next node; descend = false skips the current node's children.
    void Next(bool descend = true) {
        if (descend) {
            if (const xercesc::DOMNode* child = m_node->getFirstChild()) {
                m_above.Push(m_node);
                m_node = child;
                return;
            }
        }
        for (;;) {
            if (const xercesc::DOMNode* sibling = m_node->getNextSibling()) {
                m_node = sibling;
                return;
            }
            if (m_above.Empty()) {  // m_node is a child of root: never on to root's siblings
                m_node = nullptr;
                return;
            }
            m_node = m_above.Pop();
        }
    }

private:
    const xercesc::DOMNode* m_node;
    AncestorStack m_above;  // m_node's ancestors below root
};

// The DOM's tag-name rule: elements only, exact qualified name, "*" for every element.
class TagMatcher {
public:
    explicit TagMatcher(const char* name) : m_name(name), m_all(std::strcmp(name, "*") == 0) {}
    bool operator()(const xercesc::DOMNode* node) const {
        return node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
               (m_all || xercesc::XMLString::equals(node->getNodeName(), m_name.get()));
    }
    // The same rule for an element the parser reports but does not build: its qualified name is
    // prefix (null or empty when none), ':', local.
    bool operator()(const XMLCh* prefix, const XMLCh* local) const {
        if (m_all) return true;
        const XMLCh* name = m_name.get();
        if (prefix && *prefix) {
            const XMLSize_t length = xercesc::XMLString::stringLen(prefix);
            if (!xercesc::XMLString::equalsN(name, prefix, length) || name[length] != u':') return false;
            name += length + 1;
        }
        return xercesc::XMLString::equals(name, local);
    }

private:
    Name16 m_name;
    bool m_all;
};

// Calls visit(element) for each element below root matching name, in document order, until
// visit returns false.
template <class Visit>
void ForEachTagBelow(const xercesc::DOMNode* root, const char* name, Visit&& visit) {
    const TagMatcher matches(name);
    for (PreOrderWalk walk(root); walk.Current(); walk.Next()) {
        if (matches(walk.Current()) && !visit(walk.Current())) return;
    }
}

// The node's text in 16-bit form, never null: the value of a text, CDATA, comment, PI or
// attribute node; for an element (or entity reference, fragment) all text and CDATA of its
// subtree in document order, gathered into scratch when it has more than one piece.
const XMLCh* Text16(const xercesc::DOMNode* node, XString& scratch);
// text = the node's text (see Text16) in the local code page; false, text untouched, when it
// cannot be converted.
bool TextOf(const xercesc::DOMNode* node, std::string& text);

// The first direct child of parent whose name is name, of any kind; null when none or an
// argument is null.
xercesc::DOMNode* FindChild(const xercesc::DOMNode* parent, const char* name);

}  // namespace XML::internal

#endif
