// DocumentEdits: the edits of a document object (a new document, new elements, comments, processing
// instructions, attributes, removals), each checked, made in the current document, placed with
// the whitespace of its neighbours, and recorded when it fails.
#ifndef KELXML_INTERNAL_DOCUMENTEDITS_H
#define KELXML_INTERNAL_DOCUMENTEDITS_H

#include "XML/internal/DocumentState.h"
#include "XML/internal/Indentation.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

XERCES_CPP_NAMESPACE_BEGIN
class DOMAttr;
class DOMComment;
class DOMElement;
class DOMProcessingInstruction;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// Replaces the current document by a new one holding an empty root element rootName, with a
// fresh error list (the object then owns the document). False, with a record, when refused.
bool CreateDocument(const Held& held, const char* rootName);
// A new element name holding text (when not null), in namespace uri when not null (else as the
// declarations in scope say), placed where where() says; the caller checked the document and
// the place. Null, with a record and nothing changed, on failure.
xercesc::DOMElement* NewElement(const Held& held, const char* name, const char* text,
                                const std::function<Placement()>& where, const char* uri = nullptr);
// The element operations of the object, with their checks.
xercesc::DOMElement* AddElement(const Held& held, xercesc::DOMNode* parent, const char* name, const char* text);
xercesc::DOMElement* AddElementNS(const Held& held, xercesc::DOMNode* parent, std::string_view uri,
                                  std::string_view name, std::string_view text);
// Beside (after when after) sibling, or at position among parent's element children.
xercesc::DOMElement* InsertBeside(const Held& held, xercesc::DOMNode* sibling, bool after, const char* name,
                                  const char* text);
xercesc::DOMElement* InsertAt(const Held& held, xercesc::DOMNode* parent, std::size_t position, const char* name,
                              const char* text);
bool AddChildText(const Held& held, xercesc::DOMNode* parent, const char* name, const char* text);
xercesc::DOMComment* AddComment(const Held& held, xercesc::DOMNode* parent, std::string_view text);
xercesc::DOMProcessingInstruction* AddPI(const Held& held, xercesc::DOMNode* parent, std::string_view target,
                                         std::string_view data);
xercesc::DOMAttr* AddAttribute(const Held& held, xercesc::DOMElement* element, const std::string& name,
                               const std::string& value);
xercesc::DOMAttr* AddAttributeNS(const Held& held, xercesc::DOMElement* element, std::string_view uri,
                                 std::string_view name, std::string_view value);
xercesc::DOMAttr* ChangeAttribute(const Held& held, xercesc::DOMElement* element, const std::string& name,
                                  const std::string& value);
xercesc::DOMNode* RemoveChild(const Held& held, xercesc::DOMNode* parent, xercesc::DOMNode* child);
// Sets an existing attribute of any element; records nothing (false on any failure).
bool SetExistingAttribute(const xercesc::DOMNode* node, const char* name, const char* value);

}  // namespace XML::internal

#endif
