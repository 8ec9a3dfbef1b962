// TreeWalk: iterative walks over a DOM subtree (document order, tag search, child lookup,
// depth check), so that no walk's depth ever reaches the stack. Internal to the library.
#ifndef KELXML_INTERNAL_TREEWALK_H
#define KELXML_INTERNAL_TREEWALK_H

#include "XML/internal/NameText.h"

#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstddef>
#include <cstring>

namespace XML::internal {

inline bool IsElement(const xercesc::DOMNode* node) {
    return node && node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE;
}

// The node after current in a pre-order walk of root's subtree (root excluded), or null;
// descend = false skips current's children.
const xercesc::DOMNode* NextBelow(const xercesc::DOMNode* current, const xercesc::DOMNode* root,
                                  bool descend = true);

// The DOM's tag-name rule: elements only, exact qualified name, "*" for every element.
class TagMatcher {
public:
    explicit TagMatcher(const char* name) : m_name(name), m_all(std::strcmp(name, "*") == 0) {}
    bool operator()(const xercesc::DOMNode* node) const {
        return node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
               (m_all || xercesc::XMLString::equals(node->getNodeName(), m_name.get()));
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
    for (const xercesc::DOMNode* node = root->getFirstChild(); node; node = NextBelow(node, root)) {
        if (matches(node) && !visit(node)) return;
    }
}

// The first direct child of parent whose name is name, of any kind; null when none or an
// argument is null.
xercesc::DOMNode* FindChild(const xercesc::DOMNode* parent, const char* name);
// True when top, or an element below it, lies more than limit elements deep counting from top.
bool DeeperThan(const xercesc::DOMNode* top, std::size_t limit);

} // namespace XML::internal

#endif
