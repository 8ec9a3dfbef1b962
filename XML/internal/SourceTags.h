// SourceTags: where the tags of each element of a loaded document stand in its source, and the
// source's bytes, so that a save as loaded writes a tag that was not edited exactly as it was
// written (its layout, quotes, references and empty-element form); and the reading of a start
// tag's text (its pieces, the value an attribute's raw text stands for). Internal to the library.
#ifndef KELXML_INTERNAL_SOURCETAGS_H
#define KELXML_INTERNAL_SOURCETAGS_H

#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/util/TransService.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace XML::internal {

// Decodes bytes of one encoding, with one transcoder for every call.
class SourceDecoder {
public:
    explicit SourceDecoder(const std::u16string& encoding);
    // False when the bytes do not decode (or no transcoder exists for the encoding).
    bool Decode(std::string_view bytes, std::u16string& text);

private:
    std::unique_ptr<xercesc::XMLTranscoder> m_transcoder;
    std::vector<XMLCh> m_chars;
    std::vector<unsigned char> m_sizes;
};

// A start tag's text cut at its attributes: "<" name, then each attribute as written (the
// whitespace before it, its name, "=" with its spaces, the quote, the raw value, the quote), then
// the whitespace before "/>" or ">".
struct StartTagPieces {
    struct Attribute {
        std::u16string_view written;  // from the whitespace before the name to the closing quote
        std::u16string_view name;
        std::u16string_view value;  // raw, between the quotes
    };
    std::u16string_view name;
    std::vector<Attribute> attributes;
    std::u16string_view tail;
    bool empty = false;  // closed by "/>"
};
// False when tag is not one whole start tag.
bool SplitStartTag(std::u16string_view tag, StartTagPieces& pieces);

// The value a raw attribute value stands for: line ends and literal whitespace become spaces,
// character and predefined entity references their characters (as XML normalises a CDATA value).
// False when it refers to any other entity (its replacement text is not at hand).
bool AttributeValue(std::u16string_view raw, bool xml11, std::u16string& value);
// value without leading and trailing spaces, each run of spaces made one (XML's rule for the
// values of token types: spaces only, not the other whitespace characters).
std::u16string CollapseSpaces(std::u16string_view value);

class SourceTags {
public:
    // While a document is parsed, in document order: the start tag of element ends at offset end
    // (in bytes after any byte order mark, as the reader counts them); empty when written <e/>;
    // typed when a declared type may have normalised one of its values further than CDATA.
    // element null: a tag whose source is not the document entity (an entity's text).
    void Start(const xercesc::DOMNode* element, std::uint64_t end, bool empty, bool typed);
    // The end tag of the element last started and not ended ends at end; known false when not.
    void End(std::uint64_t end, bool known);
    // After the parse: the bytes of the document entity from offset 0 as far as Extent(), read in
    // encoding. Tags are kept only for encodings in which "<" can be found byte-wise.
    void Keep(std::string bytes, const std::u16string& encoding);
    std::uint64_t Extent() const { return m_extent; }
    bool Empty() const { return m_entries.empty(); }
    void Clear();

    // The source of element's start tag ("<" to ">") as the parse noted it, and whether a
    // declared type may have normalised its values (see Start); false when none was kept.
    bool StartTag(const xercesc::DOMNode* element, std::u16string& text, bool& typed) const;
    // The source of element's end tag ("</" to ">"); false when none was kept (nor written).
    bool EndTag(const xercesc::DOMNode* element, std::u16string& text) const;

private:
    struct Entry {
        const xercesc::DOMNode* element;
        std::uint64_t startEnd, endEnd;  // endEnd 0: no end tag (or its source unknown)
        bool typed;
    };
    static constexpr std::size_t kNotNoted = ~std::size_t(0);
    // The entry noted for element, or null.
    const Entry* Lookup(const xercesc::DOMNode* element) const;
    // The text of the tag that ends at end; false when it cannot be read back.
    bool TagEndingAt(std::uint64_t end, std::u16string& text) const;

    std::vector<Entry> m_entries;  // document order
    std::vector<std::size_t> m_open;
    std::uint64_t m_extent = 0;
    std::string m_bytes;
    std::size_t m_unit = 0;  // bytes of "<": 1, 2 (UTF-16), 0 when tags are not kept
    bool m_bigEndian = false;
    mutable std::unique_ptr<SourceDecoder> m_decoder;
    std::u16string m_encoding;
    // (element, index in m_entries) sorted by element, made on the first Find.
    mutable std::vector<std::pair<const xercesc::DOMNode*, std::size_t>> m_sorted;
};

}  // namespace XML::internal

#endif
