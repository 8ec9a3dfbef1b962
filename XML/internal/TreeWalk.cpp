#include "XML/internal/TreeWalk.h"

using namespace xercesc;

namespace XML::internal {

const DOMNode* NextBelow(const DOMNode* current, const DOMNode* root, bool descend) {
    if (descend) {
        if (const DOMNode* child = current->getFirstChild()) return child;
    }
    for (; current && current != root; current = current->getParentNode()) {
        if (const DOMNode* sibling = current->getNextSibling()) return sibling;
    }
    return nullptr;
}

DOMNode* FindChild(const DOMNode* parent, const char* name) {
    if (!parent || !name) return nullptr;
    for (DOMNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
        if (NameIs(child, name)) return child;
    }
    return nullptr;
}

bool DeeperThan(const DOMNode* top, std::size_t limit) {
    if (!top) return false;
    const auto isElement = [](const DOMNode* n) { return n->getNodeType() == DOMNode::ELEMENT_NODE; };
    std::size_t depth = 0;  // elements open on the path from top to node, both included
    AncestorStack above;    // node's ancestors up to top, which getParentNode would climb slowly
    const DOMNode* node = top;
    for (;;) {
        if (isElement(node) && ++depth > limit) return true;
        if (const DOMNode* child = node->getFirstChild()) {
            above.Push(node);
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
            node = above.Pop();
        }
    }
}

}  // namespace XML::internal
