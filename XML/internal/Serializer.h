// Serializer: writes a DOM node back as XML text, byte for byte under our control. Iterative, so
// the depth of a tree never reaches the call stack. Internal to the library.
//
// What it writes:
// - the XML declaration, the document type with its internal subset as the document had it
//   (the raw text the loading parser kept, else the DOM's rebuilt subset), elements with their
//   specified attributes in the order they were written (grammar defaults are left out), text,
//   CDATA, comments, processing instructions, and entity references as references;
// - in the document's own encoding where it can be written (see ChooseEncoding), a character the
//   encoding cannot hold as a character reference where XML allows one, else a refusal.
#ifndef KELXML_INTERNAL_SERIALIZER_H
#define KELXML_INTERNAL_SERIALIZER_H

#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>
#include <string>

namespace XML::internal {

enum class Layout {
    // Whitespace-only text between elements is replaced by two-space indentation; text of
    // mixed content and of xml:space="preserve" elements is kept exactly.
    Indented,
    // Content exactly as in the DOM, top-level nodes run together: the serializer defaults.
    Plain,
    // Content exactly as in the DOM, the XML declaration as the document wrote it, one
    // top-level node per line: what was not edited stays as it was loaded.
    AsLoaded,
};

// User-data keys under which the loading parser leaves what the DOM does not keep: the raw XML
// declaration (on the document; empty when it had none), the raw internal subset (on the
// document type) and the written order of an element's attributes when the DOM's sorted order
// differs (on the element, qualified names separated by spaces), and "BE" or "LE" for a
// document that opened with a UTF-16 byte order mark (on the document). All are document-owned
// strings.
extern const XMLCh kRawDeclarationKey[];
extern const XMLCh kByteOrderKey[];
extern const XMLCh kRawInternalSubsetKey[];
extern const XMLCh kAttributeOrderKey[];

// Writes node (a document, element or any node that can stand in a document's content) into
// bytes. Refuses, with the reason in error, what cannot be written faithfully: a character the
// encoding cannot hold where no character reference is allowed, a character XML does not allow,
// "--" in a comment, "?>" in a processing instruction, or elements nested deeper than maxDepth.
bool Serialize(const xercesc::DOMNode* node, Layout layout, std::size_t maxDepth, std::string& bytes,
               std::string& error);

} // namespace XML::internal

#endif
