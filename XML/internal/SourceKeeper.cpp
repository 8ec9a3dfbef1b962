#include "XML/internal/SourceKeeper.h"

#include "XML/internal/Serializer.h"
#include "XML/internal/SourceTags.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

// bytes decoded from encoding; false when they do not decode.
bool Decode(const std::string& bytes, const std::u16string& encoding, std::u16string& text) {
    return SourceDecoder(encoding).Decode(bytes, text);
}

bool EndsWith(const std::u16string& text, const char16_t* tail) {
    const std::u16string end(tail);
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The length of the byte order mark that opens the document, if any; order = "BE" or "LE" for
// a UTF-16 one.
std::uint64_t ByteOrderMark(const ByteReader& read, const char16_t*& order) {
    std::string start;
    for (std::size_t length = 4; length > 1 && !read(0, length, start); --length) start.clear();
    const auto opens = [&start](std::string_view mark) { return start.compare(0, mark.size(), mark) == 0; };
    using namespace std::string_view_literals;  // the marks hold NUL bytes
    order = nullptr;
    if (opens("\x00\x00\xFE\xFF"sv) || opens("\xFF\xFE\x00\x00"sv)) return 4;
    if (opens("\xEF\xBB\xBF"sv)) return 3;
    if (opens("\xFE\xFF"sv) || opens("\xFF\xFE"sv)) {
        order = start[0] == '\xFE' ? u"BE" : u"LE";
        return 2;
    }
    return 0;
}

// The raw value of attribute name in the start tag text, between its quotes.
bool RawAttribute(const std::u16string& tag, const std::u16string& name, std::u16string& value) {
    StartTagPieces pieces;
    if (!SplitStartTag(tag, pieces)) return false;
    for (const StartTagPieces::Attribute& attribute : pieces.attributes)
        if (attribute.name == name) {
            value = attribute.value;
            return true;
        }
    return false;
}

// True when order (as AttributeOrders holds it) is element's name then its specified attributes.
bool SameOrder(std::u16string_view order, const XMLCh* element, const RefVectorOf<XMLAttr>& attrList,
               XMLSize_t attrCount) {
    // Takes name off the front of order, with the space that follows unless at the end.
    const auto take = [&order](std::u16string_view name) {
        if (order.compare(0, name.size(), name) != 0) return false;
        order.remove_prefix(name.size());
        if (order.empty()) return true;
        if (order.front() != u' ') return false;
        order.remove_prefix(1);
        return true;
    };
    if (order.empty() || !take(element)) return false;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        if (attribute->getSpecified() && (order.empty() || !take(attribute->getQName()))) return false;
    }
    return order.empty();
}

}  // namespace

bool MayDeclareTypes(std::string_view head) {
    std::size_t i = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // Only what certainly opens the root element before any declaration says no: a comment, a
    // processing instruction and white space may come first; anything else (a DOCTYPE, another
    // encoding, a head cut short) may declare typed attributes.
    for (;;) {
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
        if (i + 1 >= head.size() || head[i] != '<') return true;
        const char next = head[i + 1];
        const std::string_view end = next == '?' ? "?>" : head.compare(i, 4, "<!--") == 0 ? "-->" : "";
        if (end.empty())
            return next == '!' || !(next == '_' || next == ':' || std::isalpha(static_cast<unsigned char>(next)) ||
                                    static_cast<unsigned char>(next) >= 0x80);
        const std::size_t close = head.find(end, i + 2);
        if (close == std::string_view::npos) return true;
        i = close + end.size();
    }
}

SourceKeeper::SourceKeeper(BoundedDOMParser& parser) : m_parser(parser) { parser.setCalculateSrcOfs(true); }

ParserObserver::Events SourceKeeper::Wanted() const {
    Events wanted = Bit(kStartDocument);
    if (m_keep) wanted |= Bit(kXMLDecl) | Bit(kStartIntSubset) | Bit(kEndIntSubset) | Bit(kEndElement);
    // Values are put right in the tree: without one, a walk asks for them (KeptValues).
    if (m_keep || m_parser.BuildsTree()) wanted |= Bit(kStartedElement);
    return wanted;
}

bool SourceKeeper::Here(std::uint64_t& offset) const {
    if (!m_parser.getCalculateSrcOfs()) return false;  // the readers count none: asking would throw
    const ReaderMgr* readers = m_parser.Scanner()->getReaderMgr();
    if (!readers || readers->getCurrentReaderNum() != m_documentReader || !readers->getCurrentEncodingStr())
        return false;
    try {
        offset = readers->getSrcOffset();
    } catch (const XMLException&) {
        return false;  // a reader that does not count its source offsets
    }
    return true;
}

bool SourceKeeper::Here(std::uint64_t& offset, std::u16string& encoding) const {
    if (!Here(offset)) return false;
    encoding = m_parser.Scanner()->getReaderMgr()->getCurrentEncodingStr();
    return true;
}

void SourceKeeper::StartDocument() {
    m_declaration = Span{};
    m_subset = Span{};
    m_declared = false;
    // The order table keeps its capacity: a document loaded again does not grow it anew.
    m_notes.declaration.reset();
    m_notes.internalSubset.reset();
    m_notes.byteOrder = nullptr;
    m_notes.attributeOrders.Clear();
    m_notes.tags.Clear();
    m_tagEncoding.clear();
    m_lastOrders.clear();
    m_read = std::move(m_nextRead);
    m_nextRead = nullptr;
    m_skipped = ~std::uint64_t(0);
    // The document entity's reader is the current one now, and stays so outside entities.
    const ReaderMgr* readers = m_parser.Scanner()->getReaderMgr();
    m_documentReader = readers ? readers->getCurrentReaderNum() : ~XMLSize_t(0);
}

void SourceKeeper::XMLDecl(const XMLCh* versionStr) {
    // The reader stands right after "?>"; the declaration opens the entity (after a byte order mark).
    // Only the document entity's own declaration; Here() tells when its position is unknown.
    if (m_declared || !versionStr || !*versionStr) return;
    m_declared = Here(m_declaration.end, m_declaration.encoding);
    m_declaration.valid = m_declared;
}

void SourceKeeper::StartIntSubset() {
    m_subset.valid = Here(m_subset.begin, m_subset.encoding);  // right after "["
}

void SourceKeeper::EndIntSubset() {
    std::u16string encoding;
    m_subset.valid = m_subset.valid && Here(m_subset.end, encoding) && encoding == m_subset.encoding &&
                     m_subset.end > m_subset.begin;  // right after "]"
}

void SourceKeeper::StartedElement(const StartTag& tag) {
    if (DOMNode* current = m_parser.CurrentNode(); current && current->getNodeType() == DOMNode::ELEMENT_NODE)
        NormaliseEnumerations(*static_cast<DOMElement*>(current), tag.attributes, tag.count);
    if (!m_keep) return;
    NoteStartTag(tag.attributes, tag.count, tag.isEmpty);
    NoteOrder(tag);
}

void SourceKeeper::NoteOrder(const StartTag& tag) {
    const RefVectorOf<XMLAttr>& attrList = tag.attributes;
    const XMLSize_t attrCount = tag.count;
    // The DOM keeps attributes sorted by name: note the written order where it differs.
    const XMLCh* previous = nullptr;
    bool sorted = true;
    for (XMLSize_t i = 0; i < attrCount && sorted; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        if (!attribute->getSpecified()) continue;
        sorted = !previous || XMLString::compareString(previous, attribute->getQName()) < 0;
        previous = attribute->getQName();
    }
    DOMNode* element = m_parser.CurrentNode();
    if (sorted || !element || element->getNodeType() != DOMNode::ELEMENT_NODE) return;
    // A table beside the document: user data on the DOM's nodes makes releasing it slow (every
    // node's handlers are then looked up one by one). The scratch text keeps its capacity.
    // Most elements of a name are written the same way: the order last noted for the name is
    // tried first.
    internal::AttributeOrders& orders = m_notes.attributeOrders;
    const auto last = std::find_if(m_lastOrders.begin(), m_lastOrders.end(),
                                   [&tag](const auto& entry) { return entry.first == &tag.decl; });
    if (last != m_lastOrders.end() &&
        SameOrder(orders.Order(last->second), element->getNodeName(), attrList, attrCount)) {
        orders.Add(element, last->second);
        return;
    }
    m_order.assign(element->getNodeName());
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        if (!attribute->getSpecified()) continue;
        m_order.push_back(u' ');
        m_order += attribute->getQName();
    }
    const std::uint32_t order = orders.Add(element, m_order);
    if (last != m_lastOrders.end())
        last->second = order;
    else if (m_lastOrders.size() < kLastOrders)
        m_lastOrders.emplace_back(&tag.decl, order);
}

void SourceKeeper::NoteStartTag(const RefVectorOf<XMLAttr>& attrList, XMLSize_t attrCount, bool isEmpty) {
    DOMNode* element = m_parser.CurrentNode();
    std::uint64_t end = 0;
    if (!element || element->getNodeType() != DOMNode::ELEMENT_NODE || !Here(end)) {
        m_notes.tags.Start(nullptr, 0, isEmpty, false);
        return;
    }
    if (m_tagEncoding.empty()) m_tagEncoding = m_parser.Scanner()->getReaderMgr()->getCurrentEncodingStr();
    bool typed = false;
    for (XMLSize_t i = 0; i < attrCount && !typed; ++i)
        typed = attrList.elementAt(i)->getSpecified() && attrList.elementAt(i)->getType() != XMLAttDef::CData;
    m_notes.tags.Start(element, end, isEmpty, typed);
}

void SourceKeeper::EndElement(bool emptyTag) {
    // An empty tag's end is noted with its start.
    if (emptyTag) return;
    std::uint64_t end = 0;
    const bool known = Here(end);
    m_notes.tags.End(end, known);
}

template <class Correct>
void SourceKeeper::CorrectValues(const RefVectorOf<XMLAttr>& attrList, XMLSize_t attrCount, Correct&& correct) {
    bool lists = false;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        const XMLAttDef::AttTypes type = attribute->getType();
        if (attribute->getSpecified() &&
            (type == XMLAttDef::IDRefs || type == XMLAttDef::Entities || type == XMLAttDef::NmTokens))
            lists = true;
        if (type != XMLAttDef::Enumeration && type != XMLAttDef::Notation) continue;
        const std::u16string value = attribute->getValue();
        const std::u16string collapsed = CollapseSpaces(value);
        if (collapsed != value) correct(*attribute, collapsed);
    }
    std::u16string tag;
    if (!lists || !m_read || !StartTagSource(tag)) return;
    const DOMDocument* const document = m_parser.getDocument();
    const bool xml11 = document && XMLString::equals(document->getXmlVersion(), u"1.1");
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        const XMLAttDef::AttTypes type = attribute->getType();
        if (!attribute->getSpecified() ||
            (type != XMLAttDef::IDRefs && type != XMLAttDef::Entities && type != XMLAttDef::NmTokens))
            continue;
        std::u16string value;
        if (RawAttribute(tag, attribute->getQName(), value) && AttributeValue(value, xml11, value))
            correct(*attribute, CollapseSpaces(value));
    }
}

void SourceKeeper::NormaliseEnumerations(DOMElement& element, const RefVectorOf<XMLAttr>& attrList,
                                         XMLSize_t attrCount) {
    CorrectValues(attrList, attrCount, [&element](const XMLAttr& attribute, const std::u16string& value) {
        if (DOMAttr* node = element.getAttributeNode(attribute.getQName())) node->setValue(value.c_str());
    });
}

void SourceKeeper::KeptValues(const RefVectorOf<XMLAttr>& attrList, XMLSize_t attrCount,
                              std::vector<std::pair<XMLSize_t, std::u16string>>& corrected) {
    corrected.clear();
    CorrectValues(attrList, attrCount, [&](const XMLAttr& attribute, const std::u16string& value) {
        for (XMLSize_t i = 0; i < attrCount; ++i)
            if (attrList.elementAt(i) == &attribute) corrected.emplace_back(i, value);
    });
}

bool SourceKeeper::StartTagSource(std::u16string& text) {
    std::uint64_t end = 0;
    std::u16string encoding;
    if (!Here(end, encoding)) return false;  // a start tag inside an entity: its source is elsewhere
    if (m_skipped == ~std::uint64_t(0)) {
        const char16_t* order = nullptr;
        m_skipped = ByteOrderMark(m_read, order);  // the reader counts its offsets after it
    }
    // The start tag is the text from its last '<' on: an attribute value holds none.
    std::string bytes;
    std::size_t open = std::string::npos;
    for (std::uint64_t window = 4096; open == std::string::npos; window *= 4) {
        const std::uint64_t begin = end > window ? end - window : 0;
        bytes.clear();
        if (!m_read(begin + m_skipped, end - begin, bytes)) return false;
        open = bytes.rfind('<');
        if (begin == 0 || window > (std::uint64_t{1} << 26)) break;
    }
    return open != std::string::npos && Decode(bytes.substr(open), encoding, text);
}

bool SourceKeeper::NextMayDeclareTypes() const {
    if (!m_nextRead) return true;
    // The reader reads whole spans only: a short document is asked for less.
    std::string head;
    for (std::size_t length = kPrologBytes; length >= 64; length /= 4)
        if (m_nextRead(0, length, head)) return MayDeclareTypes(head);
    return true;
}

void SourceKeeper::KeepSource(const ByteReader& read) noexcept {
    try {
        // The reader counts its offsets after the byte order mark.
        const std::uint64_t skipped = ByteOrderMark(read, m_notes.byteOrder);
        // Span's text, or false when it cannot be read back.
        const auto text = [&read, skipped](const Span& span, std::u16string& decoded) {
            std::string bytes;
            return span.valid && span.end >= span.begin && read(span.begin + skipped, span.end - span.begin, bytes) &&
                   Decode(bytes, span.encoding, decoded);
        };
        std::u16string declaration;  // stays empty when the document has none
        if (!m_declared ||
            (text(m_declaration, declaration) && declaration.rfind(u"<?xml", 0) == 0 && EndsWith(declaration, u"?>")))
            m_notes.declaration = declaration;
        std::u16string subset;
        if (text(m_subset, subset) && EndsWith(subset, u"]")) {
            subset.pop_back();
            m_notes.internalSubset = subset;
        }
        std::string tags;
        if (!m_notes.tags.Empty() && read(skipped, static_cast<std::size_t>(m_notes.tags.Extent()), tags))
            m_notes.tags.Keep(std::move(tags), m_tagEncoding);
    } catch (...) {
        // What is not kept is written in the DOM's own form.
    }
}

}  // namespace XML::internal
