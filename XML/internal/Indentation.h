// Indentation: where a new child element goes among its parent's children, and which whitespace
// goes before it, so that a document laid out by hand keeps its layout when saved as loaded (the
// new element on a line of its own, indented as its neighbours, the parent's closing indentation
// still last). Internal to the library.
#ifndef KELXML_INTERNAL_INDENTATION_H
#define KELXML_INTERNAL_INDENTATION_H

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>

namespace XML::internal {

// A place for a new child: it goes before next (at the end when next is null), after a copy of
// indentation (none when null), so that the children read ..., indentation, new child, next.
struct Placement {
    xercesc::DOMNode* parent = nullptr;
    xercesc::DOMNode* next = nullptr;
    const xercesc::DOMNode* indentation = nullptr;
};

// True for a text node (not CDATA) of XML whitespace only: indentation between elements.
bool IsIndentation(const xercesc::DOMNode* node);

// Just before sibling, indented as sibling is.
Placement BeforeSibling(xercesc::DOMNode* sibling);
// Just after sibling, indented as sibling is, ahead of the whitespace that followed it.
Placement AfterSibling(xercesc::DOMNode* sibling);
// Last among parent's children, but before its closing indentation, indented as its last child.
Placement AtEnd(xercesc::DOMNode* parent);
// Before parent's element child number position (from 0); AtEnd when it has no more.
Placement AtPosition(xercesc::DOMNode* parent, std::size_t position);

// Inserts element (or a comment, a processing instruction), and a copy of the placement's
// indentation before it. Throws what the DOM throws (a refused parent, no memory); nothing is
// changed then.
void Place(const Placement& placement, xercesc::DOMNode* element);

}  // namespace XML::internal

#endif
