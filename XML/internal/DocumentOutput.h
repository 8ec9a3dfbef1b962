// DocumentOutput: what a document object writes (Save, GetXML, the canonical forms): the layout
// a form gives the serializer, the atomic file write, and the checks and records they share.
#ifndef KELXML_INTERNAL_DOCUMENTOUTPUT_H
#define KELXML_INTERNAL_DOCUMENTOUTPUT_H

#include "XML/Options.h"
#include "XML/internal/DocumentState.h"

#include <string>

namespace XML::internal {

// Each needs the current document, and records what is missing (the file, the node) as Save does.
// Writes node in eForm to file, atomically; false with a record naming the refusal or the file.
bool SaveNode(const Held& held, const char* file, const xercesc::DOMNode* node, E_SAVE_FORM eForm);
// text = the bytes SaveNode would write; false, text untouched, with the record SaveNode would make.
bool NodeText(const Held& held, const xercesc::DOMNode* node, E_SAVE_FORM eForm, std::string& text);
// The canonical form of node, into text or atomically to file; false with a record.
bool CanonicalText(const Held& held, const xercesc::DOMNode* node, bool withComments, std::string& text);
bool SaveCanonical(const Held& held, const char* file, const xercesc::DOMNode* node, bool withComments);

}  // namespace XML::internal

#endif
