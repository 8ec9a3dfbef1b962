#include "XML/internal/TreeWalk.h"

using namespace xercesc;

namespace XML::internal {

DOMNode* FindChild(const DOMNode* parent, const char* name) {
    if (!parent || !name) return nullptr;
    for (DOMNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
        if (NameIs(child, name)) return child;
    }
    return nullptr;
}

}  // namespace XML::internal
