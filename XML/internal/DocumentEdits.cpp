// DocumentEdits: the edits of a document object.
#include "XML/internal/DocumentEdits.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"
#include "XML/internal/NameText.h"
#include "XML/internal/Namespaces.h"
#include "XML/internal/Serializer.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

using namespace xercesc;

namespace XML::internal {

namespace {

// The body of every edit that adds a node: make(node) makes it in the current document, placed
// where where() says; null, with a record and nothing changed, on failure.
template <class Make, class Where>
DOMNode* NewNode(const Held& held, Make&& make, Where&& where) {
    DOMNode* node = nullptr;
    const bool ok = Guarded(held, [&] {
        make(node);
        Place(where(), node);
    });
    // A node that was not placed is referenced by no one: give its memory back.
    if (!ok && node && !node->getParentNode()) node->release();
    return ok ? node : nullptr;
}

}  // namespace

bool CreateDocument(const Held& held, const char* rootName) {
    if (!Replaceable(held) || !Ready(held)) return false;
    Release(held);
    MakeErrors(held);
    if (!Require(held, rootName, msg::kNoRootName)) return false;
    DocumentState& state = *held.state;
    return Guarded(held,
                   [&] {
                       const XStr core("Core");
                       DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(core.unicodeForm());
                       if (!impl) {
                           Record(held, E_MISSING, msg::kNoImplementation);
                           return;
                       }
                       const XStr name = To16(rootName);
                       state.createdDocument.reset(impl->createDocument(nullptr, name.unicodeForm(), nullptr,
                                                                        XMLPlatformUtils::fgMemoryManager));
                       state.createdNotes = std::make_unique<SourceNotes>();
                       SetDocument(held, state.createdDocument.get());
                   }) &&
           held.document;
}

DOMElement* NewElement(const Held& held, const char* name, const char* text, const std::function<Placement()>& where,
                       const char* uri) {
    if (!Require(held, name, msg::kNoElementName)) return nullptr;
    DOMDocument& document = *held.document;
    Placement placement;
    return static_cast<DOMElement*>(NewNode(
        held,
        [&](DOMNode*& node) {
            placement = where();
            DOMElement* element = nullptr;
            {
                const XStr name16 = To16(name);
                if (!uri) {
                    node = element = MakeElement(document, placement.parent, name16.unicodeForm());
                } else {
                    const XStr uri16 = To16(uri);
                    const XMLCh* ns = *uri ? uri16.unicodeForm() : nullptr;
                    node = element = document.createElementNS(ns, name16.unicodeForm());
                    const std::u16string declaration = NeededDeclaration(placement.parent,
                                                                         PrefixOf(name16.unicodeForm()), ns ? ns : u"");
                    if (!declaration.empty())
                        element->setAttributeNS(XMLUni::fgXMLNSURIName, declaration.c_str(), ns ? ns : u"");
                }
            }
            if (text) {
                const XStr text16 = To16(text);
                element->setTextContent(text16.unicodeForm());
            }
        },
        [&] { return placement; }));
}

DOMElement* AddElement(const Held& held, DOMNode* parent, const char* name, const char* text) {
    if (!CanEdit(held, parent)) return nullptr;
    return NewElement(held, name, text, [&] { return AtEnd(parent); });
}

DOMElement* AddElementNS(const Held& held, DOMNode* parent, std::string_view uri, std::string_view name,
                         std::string_view text) {
    if (!CanEdit(held, parent)) return nullptr;
    const std::string name8(name), uri8(uri), text8(text);
    return NewElement(
        held, name8.c_str(), text.empty() ? nullptr : text8.c_str(), [&] { return AtEnd(parent); }, uri8.c_str());
}

DOMElement* InsertBeside(const Held& held, DOMNode* sibling, bool after, const char* name, const char* text) {
    if (!CanEditBeside(held, sibling, msg::kNoSibling) || !Require(held, sibling->getParentNode(), msg::kNoParent))
        return nullptr;
    return NewElement(held, name, text, [&] { return after ? AfterSibling(sibling) : BeforeSibling(sibling); });
}

DOMElement* InsertAt(const Held& held, DOMNode* parent, std::size_t position, const char* name, const char* text) {
    if (!CanEditBeside(held, parent, msg::kNoParent)) return nullptr;
    return NewElement(held, name, text, [&] { return AtPosition(parent, position); });
}

bool AddChildText(const Held& held, DOMNode* parent, const char* name, const char* text) {
    // The document and the parent are checked first, as by every editing operation.
    if (!CanEdit(held, parent)) return false;
    if (!Require(held, name, msg::kNoElementName)) return false;
    if (!Require(held, text, msg::kNoElementText)) return false;
    bool added = false;
    Guarded(held, [&] { added = AddElement(held, parent, name, text) != nullptr; });
    return added;
}

DOMComment* AddComment(const Held& held, DOMNode* parent, std::string_view text) {
    if (!CanEdit(held, parent)) return nullptr;
    if (text.find("--") != std::string_view::npos || (!text.empty() && text.back() == '-')) {
        Record(held, E_EXCEPTION, msg::kBadComment);
        return nullptr;
    }
    return static_cast<DOMComment*>(NewNode(
        held, [&](DOMNode*& node) { node = held.document->createComment(To16(text).c_str()); },
        [&] { return AtEnd(parent); }));
}

DOMProcessingInstruction* AddPI(const Held& held, DOMNode* parent, std::string_view target, std::string_view data) {
    if (!CanEdit(held, parent)) return nullptr;
    const auto reserved = [](std::string_view name) {
        return name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l';
    };
    if (data.find("?>") != std::string_view::npos || target.find("?>") != std::string_view::npos || reserved(target)) {
        Record(held, E_EXCEPTION, msg::kBadPI);
        return nullptr;
    }
    return static_cast<DOMProcessingInstruction*>(NewNode(
        held,
        [&](DOMNode*& node) {
            node = held.document->createProcessingInstruction(To16(target).c_str(), To16(data).c_str());
        },
        [&] { return AtEnd(parent); }));
}

DOMAttr* AddAttribute(const Held& held, DOMElement* element, const std::string& name, const std::string& value) {
    if (!CanEdit(held, element)) return nullptr;
    DOMDocument& document = *held.document;
    DOMAttr* attribute = nullptr;
    const bool ok = Guarded(held, [&] {
        {
            const XStr name16 = To16(name.c_str());
            attribute = MakeAttribute(document, element, name16.unicodeForm());
        }
        {
            const XStr value16 = To16(value.c_str());
            attribute->setValue(value16.unicodeForm());
        }
        const bool added = !element->getAttributeNode(attribute->getName());
        element->setAttributeNode(attribute);
        // Saved after the attributes the element had, in the order of the calls.
        if (SourceNotes* notes = NotesOf(held, element); added && notes)
            notes->attributeOrders.Append(element, attribute->getName());
        Rebind(document, *element, *attribute);
    });
    if (!ok && attribute && !attribute->getOwnerElement()) attribute->release();
    return ok ? attribute : nullptr;
}

DOMAttr* AddAttributeNS(const Held& held, DOMElement* element, std::string_view uri, std::string_view name,
                        std::string_view value) {
    if (!CanEdit(held, element)) return nullptr;
    const std::string name8(name);
    bool declared = true;
    const bool checked = Guarded(held, [&] {
        const XString name16 = To16(name), uri16 = To16(uri);
        const std::u16string prefix = PrefixOf(name16.c_str());
        if (prefix == u"xml" || prefix == u"xmlns") return;
        if (uri.empty()) {
            if (!prefix.empty()) held.document->createAttributeNS(nullptr, name16.c_str());  // refused
            return;
        }
        if (prefix.empty()) {
            Record(held, E_EXCEPTION, msg::kAttributeNeedsPrefix);
            declared = false;
            return;
        }
        bool bound = false;
        const XMLCh* current = InScope(element, prefix, bound);
        if (bound && XMLString::equals(current, uri16.c_str())) return;
        // A declaration on element would move what already uses the prefix there to another namespace.
        if (bound || PrefixOf(element->getNodeName()) == prefix) {
            Record(held, E_EXCEPTION, msg::kPrefixBound);
            declared = false;
            return;
        }
        element->setAttributeNS(XMLUni::fgXMLNSURIName, (u"xmlns:" + prefix).c_str(), uri16.c_str());
    });
    // Its prefix is now bound to uri at element: the plain form makes it there.
    return checked && declared ? AddAttribute(held, element, name8, std::string(value)) : nullptr;
}

DOMAttr* ChangeAttribute(const Held& held, DOMElement* element, const std::string& name, const std::string& value) {
    if (!Running(held) || !Require(held, element, msg::kNoParent)) return nullptr;
    DOMAttr* attribute = nullptr;
    const bool ok = Guarded(held, [&] {
        {
            const XStr name16 = To16(name.c_str());
            attribute = element->getAttributeNode(name16.unicodeForm());
        }
        if (!attribute) return;
        const XStr value16 = To16(value.c_str());
        attribute->setValue(value16.unicodeForm());
        // Not set again on element: the DOM would then take it for an attribute of no element
        // (getOwnerElement null, free to be set on another element while still on this one).
        Rebind(*element->getOwnerDocument(), *element, *attribute);
    });
    if (!ok) return nullptr;
    if (!attribute) Record(held, E_MISSING, msg::kNoAttribute);
    return attribute;
}

DOMNode* RemoveChild(const Held& held, DOMNode* parent, DOMNode* child) {
    if (!Running(held) || !Require(held, parent, msg::kNoParent)) return nullptr;
    if (!Require(held, child, msg::kNoOldChild)) return nullptr;
    DOMNode* removed = nullptr;
    Guarded(held, [&] { removed = parent->removeChild(child); });
    return removed;
}

bool SetExistingAttribute(const DOMNode* node, const char* name, const char* value) {
    if (!node || !name || !value) return false;
    try {
        const DOMNamedNodeMap* attributes = node->getAttributes();
        if (!attributes) return false;
        DOMNode* attribute = attributes->getNamedItem(Name16(name).get());
        if (!attribute) return false;
        const XStr value16 = To16(value);
        attribute->setNodeValue(value16.unicodeForm());
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace XML::internal
