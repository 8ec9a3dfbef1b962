// Canonical: W3C Canonical XML 1.0 (inclusive, with or without comments) of a DOM node, as
// UTF-8 bytes. The document node gives the canonical form of the whole document; any other
// node the form of the document subset made of that node and all its descendants (with their
// attributes and namespace nodes), as the recommendation defines it: the subset's apex renders
// every namespace in scope and inherits the xml:* attributes of its ancestors. The walk is
// iterative, so depth costs no stack. Internal to the library.
#ifndef KELXML_INTERNAL_CANONICAL_H
#define KELXML_INTERNAL_CANONICAL_H

#include "XML/internal/AtomicFile.h"

#include <xercesc/dom/DOMNode.hpp>

#include <string>

namespace XML::internal {

// Appends the canonical form of node to out. False, with the reason in error and out holding
// whatever was appended before, when node has no canonical form (an attribute, a document type
// or a null node), a namespace URI is relative (the recommendation makes that a failure) or a
// text holds an unpaired surrogate. Throws only what allocation throws.
bool AppendCanonicalXML(const xercesc::DOMNode* node, bool withComments, std::string& out, std::string& error);

// The same text handed to sink block by block (about 64 KiB each) as it is made, never held
// whole. False when node has no canonical form (error says why, and blocks may have gone before)
// or when the sink refused a block (error empty).
bool WriteCanonicalXML(const xercesc::DOMNode* node, bool withComments, const ByteSink& sink, std::string& error);

}  // namespace XML::internal

#endif
