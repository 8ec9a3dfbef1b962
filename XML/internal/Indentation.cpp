#include "XML/internal/Indentation.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMText.hpp>

namespace XML::internal {

using xercesc::DOMNode;

bool IsIndentation(const DOMNode* node) {
    if (!node || node->getNodeType() != DOMNode::TEXT_NODE) return false;
    for (const XMLCh* c = node->getNodeValue(); c && *c; ++c)
        if (*c != u' ' && *c != u'\t' && *c != u'\n' && *c != u'\r') return false;
    return true;
}

namespace {

const DOMNode* IndentationBefore(const DOMNode* node) {
    const DOMNode* previous = node ? node->getPreviousSibling() : nullptr;
    return IsIndentation(previous) ? previous : nullptr;
}

}  // namespace

Placement BeforeSibling(DOMNode* sibling) {
    // Before the sibling's own indentation: the new child takes the line the sibling had, and
    // the sibling the copy, so the bytes before the sibling are untouched.
    DOMNode* indentation = sibling->getPreviousSibling();
    if (!IsIndentation(indentation)) return {sibling->getParentNode(), sibling, nullptr};
    return {sibling->getParentNode(), indentation, indentation};
}

Placement AfterSibling(DOMNode* sibling) {
    return {sibling->getParentNode(), sibling->getNextSibling(), IndentationBefore(sibling)};
}

Placement AtEnd(DOMNode* parent) {
    DOMNode* closing = parent->getLastChild();
    if (!IsIndentation(closing)) closing = nullptr;
    const DOMNode* last = closing ? closing->getPreviousSibling() : parent->getLastChild();
    // Indented as the last child only where it is itself indented: a closing whitespace alone
    // says nothing of how children are laid out.
    return {parent, closing, IsIndentation(last) ? nullptr : IndentationBefore(last)};
}

Placement AtPosition(DOMNode* parent, std::size_t position) {
    for (DOMNode* child = parent->getFirstChild(); child; child = child->getNextSibling())
        if (child->getNodeType() == DOMNode::ELEMENT_NODE && position-- == 0) return BeforeSibling(child);
    return AtEnd(parent);
}

void Place(const Placement& placement, xercesc::DOMNode* element) {
    placement.parent->insertBefore(element, placement.next);
    if (!placement.indentation) return;
    try {
        DOMNode* copy = element->getOwnerDocument()->createTextNode(placement.indentation->getNodeValue());
        placement.parent->insertBefore(copy, element);
    } catch (...) {
        placement.parent->removeChild(element);
        throw;
    }
}

}  // namespace XML::internal
