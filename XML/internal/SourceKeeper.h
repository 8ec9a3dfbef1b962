// SourceKeeper: the parser observer that notes what the DOM keeps only rebuilt or sorted, so
// that Save can write it back as the document had it: the XML declaration and the internal DTD
// subset as raw text (the DOM rebuilds the subset from its declarations, and gets it wrong:
// character references in entity values expanded, the "%" of parameter entities dropped,
// conditional sections lost), and the order in which each element's attributes were written (the
// DOM sorts them). It also puts right the attribute values of token types that the parser
// normalises otherwise than XML does (see NormaliseEnumerations). Internal to the library.
#ifndef KELXML_INTERNAL_SOURCEKEEPER_H
#define KELXML_INTERNAL_SOURCEKEEPER_H

#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/ParserObserver.h"
#include "XML/internal/Serializer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace XML::internal {

// Whether a document opening with head may declare attributes of token list types (only a DTD
// can): false when head certainly opens the root element before any document type declaration.
bool MayDeclareTypes(std::string_view head);

// Reads length bytes of the document entity from offset into bytes; false when it cannot.
using ByteReader = std::function<bool(std::uint64_t offset, std::size_t length, std::string& bytes)>;

class SourceKeeper final : public ParserObserver {
public:
    // Has the parser count source offsets, which it reads back.
    explicit SourceKeeper(BoundedDOMParser& parser);
    // Before a parse: how the next parse may read its document's bytes while it runs (for the
    // start tags whose values the parser normalised wrongly); that parse only.
    void SetSourceReader(ByteReader read) { m_nextRead = std::move(read); }
    // After a parse: reads back the raw declaration and internal subset into Notes(). What
    // cannot be read back as it was is left out (Save then writes the DOM's own form).
    void KeepSource(const ByteReader& read) noexcept;
    // Whether the document the next parse reads (through the reader set for it) may declare
    // attributes of token list types, whose values are then read back from the source: true
    // unless its first bytes open the root element before any document type declaration.
    bool NextMayDeclareTypes() const;
    // What was kept of the document this parser made last (and owns).
    const internal::SourceNotes& Notes() const { return m_notes; }
    internal::SourceNotes& Notes() { return m_notes; }
    // What the next parses note: all Save needs (keep, the default), or only what a walk needs
    // (the values put right, in the tree when the parser builds one). Refresh the parser after a
    // change, or one of its tree.
    void Keep(bool keep) { m_keep = keep; }

    // The attributes of a start tag whose value the document keeps otherwise than the parser gives
    // it (see NormaliseEnumerations): (index in attrList, kept value). Called from startElement,
    // while the tag's source can still be found.
    void KeptValues(const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount,
                    std::vector<std::pair<XMLSize_t, std::u16string>>& corrected);

    Events Wanted() const override;
    void StartDocument() override;
    void XMLDecl(const XMLCh* version) override;
    void StartIntSubset() override;
    void EndIntSubset() override;
    void StartedElement(const StartTag& tag) override;
    void EndElement(bool emptyTag) override;

private:
    // How much of the document's head NextMayDeclareTypes reads.
    static constexpr std::size_t kPrologBytes = 4096;
    // Bytes [begin, end) of the document entity, read in encoding.
    struct Span {
        bool valid = false;
        std::uint64_t begin = 0, end = 0;
        std::u16string encoding;
    };
    // Where the document entity's reader stands; false inside another entity or when the
    // reader cannot tell.
    bool Here(std::uint64_t& offset, std::u16string& encoding) const;
    bool Here(std::uint64_t& offset) const;
    // Notes where the start tag just read ends (see SourceTags::Start).
    void NoteStartTag(const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount, bool isEmpty);
    // Notes the written order of the attributes of the element just built, where the DOM's differs.
    void NoteOrder(const StartTag& tag);

    // Attribute values of declared token types the parser normalises unlike XML 1.0: it
    // neither trims nor collapses the spaces of enumerated values (fixed at once from the DOM),
    // and collapses whitespace written as character references in token lists, which XML keeps
    // (fixed from the start tag's source once the document is parsed).
    void NormaliseEnumerations(xercesc::DOMElement& element, const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList,
                               XMLSize_t attrCount);
    // Calls correct(attribute, value) for each attribute of the start tag whose kept value differs.
    template <class Correct>
    void CorrectValues(const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount, Correct&& correct);
    // The source of the start tag the parser has just read; false when it cannot be read back.
    bool StartTagSource(std::u16string& text);
    BoundedDOMParser& m_parser;
    ByteReader m_nextRead, m_read;                // set for the next parse; of this parse
    std::uint64_t m_skipped = ~std::uint64_t(0);  // this parse's byte order mark, once known

    Span m_declaration, m_subset;
    internal::SourceNotes m_notes;
    bool m_declared = false;
    bool m_keep = true;
    std::u16string m_order;  // scratch for the order of one element
    // The order last noted for the first kLastOrders element names (by their declaration, which
    // the scanner keeps for the whole parse).
    static constexpr std::size_t kLastOrders = 16;
    std::vector<std::pair<const xercesc::XMLElementDecl*, std::uint32_t>> m_lastOrders;
    XMLSize_t m_documentReader = 0;  // the document entity opens with an XML declaration
    std::u16string m_tagEncoding;    // the document entity's, where its first tag was read
};

}  // namespace XML::internal

#endif
