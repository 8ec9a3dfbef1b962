// Serializer: writes a DOM node back as XML text, byte for byte under our control. Iterative, so
// the depth of a tree never reaches the call stack. Internal to the library.
//
// What it writes:
// - the XML declaration, the document type with its internal subset as the document had it
//   (the raw text the loading parser kept in SourceNotes, else the DOM's rebuilt subset), elements with their
//   specified attributes in the order they were written (grammar defaults are left out), text,
//   CDATA, comments, processing instructions, and entity references as references;
// - of a node other than the document, what it needs to load alone (see Writer::Part): entity
//   references as their text, grammar defaults, and the namespaces and xml:* attributes it
//   inherits;
// - in the document's own encoding where it can be written (see ChooseEncoding), a character the
//   encoding cannot hold as a character reference where XML allows one, else a refusal.
#ifndef KELXML_INTERNAL_SERIALIZER_H
#define KELXML_INTERNAL_SERIALIZER_H

#include "XML/internal/AtomicFile.h"
#include "XML/internal/SourceTags.h"

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace XML::internal {

enum class Layout {
    // Whitespace-only text between elements is replaced by two-space indentation, 64 levels at
    // most; text of mixed content and of xml:space="preserve" elements is kept exactly.
    Indented,
    // Content exactly as in the DOM, top-level nodes run together: the serializer defaults.
    Plain,
    // Content exactly as in the DOM, the XML declaration as the document wrote it, one
    // top-level node per line: what was not edited stays as it was loaded.
    AsLoaded,
};

// The written order of the attributes of the elements where it differs from the DOM's sorted
// order, kept without a heap block per element: one small entry per element, and each distinct
// order once (a record file writes thousands of elements the same way). An order is the element's
// own name, then the qualified names, separated by spaces: a node released and made again at the
// same address must not take the order of another element. The loading parser notes the order
// each start tag was written in; the edits note the order attributes were added in.
class AttributeOrders {
public:
    // Notes order (element name then attribute names, space-separated) for element; returns
    // the order's number, with which the next elements written the same way are noted without
    // copying or looking up their order again.
    std::uint32_t Add(const xercesc::DOMNode* element, std::u16string_view order);
    void Add(const xercesc::DOMNode* element, std::uint32_t order);
    // The order of that number (as Add returned it).
    std::u16string_view Order(std::uint32_t order) const { return m_orders[order]; }
    // The order noted for element, or empty.
    std::u16string_view Find(const xercesc::DOMNode* element) const;
    // The indexes in element's attribute map in the order they are written: those noted for it
    // first, in that order, then the others in the DOM's.
    void WriteOrder(const xercesc::DOMElement* element, std::vector<XMLSize_t>& order) const;
    // Notes that element's attribute name, just added, comes after those it had.
    void Append(const xercesc::DOMElement* element, const XMLCh* name);
    bool Empty() const { return m_entries.empty() && m_later.empty(); }
    // Forgets every order; the table keeps its capacity.
    void Clear();

private:
    struct Entry {
        const xercesc::DOMNode* element;
        std::uint32_t order;  // into m_orders
    };
    std::vector<Entry> m_entries;         // in the order they were noted
    std::deque<std::u16string> m_orders;  // stable: m_ids views them
    std::unordered_map<std::u16string_view, std::uint32_t> m_ids;
    // m_entries sorted by element, made on the first Find; what is noted after it (edits) goes
    // to m_later, so that a Find after each edit does not sort again.
    mutable std::vector<Entry> m_sorted;
    mutable bool m_isSorted = false;
    std::unordered_map<const xercesc::DOMNode*, std::uint32_t> m_later;
};

// What the loading parser kept of a document that its DOM does not hold.
struct SourceNotes {
    // The raw XML declaration, empty when the document had none; unset when unknown.
    std::optional<std::u16string> declaration;
    // The raw internal subset, between its brackets; unset when unknown or absent.
    std::optional<std::u16string> internalSubset;
    // u"BE" or u"LE" when the document opened with a UTF-16 byte order mark.
    const char16_t* byteOrder = nullptr;
    AttributeOrders attributeOrders;
    // The tags of the elements as the document wrote them (for saves as loaded).
    SourceTags tags;
};

// Writes node (a document, element or any node that can stand in a document's content) into
// bytes. Refuses, with the reason in error, what cannot be written faithfully: a character the
// encoding cannot hold where no character reference is allowed, a character XML does not allow,
// "--" in a comment, "?>" in a processing instruction, or elements nested deeper than maxDepth.
// notes, when given, are those of node's document.
bool Serialize(const xercesc::DOMNode* node, Layout layout, std::size_t maxDepth, const SourceNotes* notes,
               std::string& bytes, std::string& error);
// The same bytes handed to sink as they are made, in blocks of about 64 KiB (at once for an
// encoding whose transcoder keeps a state), so that the text is never held whole. A refusal may
// come after blocks were handed over. False when the sink refused a block: error is then empty.
bool Serialize(const xercesc::DOMNode* node, Layout layout, std::size_t maxDepth, const SourceNotes* notes,
               const ByteSink& sink, std::string& error);

}  // namespace XML::internal

#endif
