#include "XML/internal/TreeWalk.h"

using namespace xercesc;

namespace XML::internal {

// Without allocating from the document's heap, which is only freed with the document.
const XMLCh* Text16(const DOMNode* node, XString& scratch) {
    static const XMLCh kEmpty[] = {0};
    switch (node->getNodeType()) {
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE:
    case DOMNode::ATTRIBUTE_NODE: {
        const XMLCh* value = node->getNodeValue();
        return value ? value : kEmpty;
    }
    case DOMNode::ELEMENT_NODE:
    case DOMNode::ENTITY_REFERENCE_NODE:
    case DOMNode::ENTITY_NODE:
    case DOMNode::DOCUMENT_FRAGMENT_NODE: break;
    default: return kEmpty;
    }
    const DOMNode* first = node->getFirstChild();
    if (!first) return kEmpty;
    const auto isText = [](const DOMNode* n) {
        const auto type = n->getNodeType();
        return type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE;
    };
    // The common <name>text</name>: the single text node's own value, no copy.
    if (isText(first) && !first->getNextSibling()) {
        const XMLCh* value = first->getNodeValue();
        return value ? value : kEmpty;
    }
    scratch.clear();
    for (PreOrderWalk walk(node); walk.Current();) {
        const DOMNode* const n = walk.Current();
        const auto type = n->getNodeType();
        if (isText(n)) {
            if (const XMLCh* value = n->getNodeValue()) scratch += value;
        }
        // Comments and processing instructions contribute nothing, not even their children.
        walk.Next(type != DOMNode::COMMENT_NODE && type != DOMNode::PROCESSING_INSTRUCTION_NODE);
    }
    return scratch.c_str();
}

bool TextOf(const DOMNode* node, std::string& text) {
    XString scratch;
    return ToLocal(Text16(node, scratch), text);
}

DOMNode* FindChild(const DOMNode* parent, const char* name) {
    if (!parent || !name) return nullptr;
    for (DOMNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
        if (NameIs(child, name)) return child;
    }
    return nullptr;
}

}  // namespace XML::internal
