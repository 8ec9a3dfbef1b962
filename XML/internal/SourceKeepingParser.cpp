#include "XML/internal/SourceKeepingParser.h"

#include "XML/internal/Serializer.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace xercesc;

namespace XML {

namespace {

// bytes decoded from encoding; false when they do not decode.
bool Decode(const std::string& bytes, const std::u16string& encoding, std::u16string& text) {
    XMLTransService::Codes result = XMLTransService::Ok;
    const std::unique_ptr<XMLTranscoder> transcoder(XMLPlatformUtils::fgTransService->makeNewTranscoderFor(
        encoding.c_str(), result, XMLSize_t{16} * 1024, XMLPlatformUtils::fgMemoryManager));
    if (result != XMLTransService::Ok || !transcoder) return false;
    std::vector<XMLCh> chars(std::size_t{16} * 1024);
    std::vector<unsigned char> sizes(chars.size());
    text.clear();
    for (std::size_t at = 0; at < bytes.size();) {
        XMLSize_t eaten = 0;
        const XMLSize_t made = transcoder->transcodeFrom(reinterpret_cast<const XMLByte*>(bytes.data()) + at,
                                                         bytes.size() - at, chars.data(), chars.size(), eaten,
                                                         sizes.data());
        if (eaten == 0) return false;
        text.append(chars.data(), made);
        at += eaten;
    }
    return true;
}

bool EndsWith(const std::u16string& text, const char16_t* tail) {
    const std::u16string end(tail);
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The length of the byte order mark that opens the document, if any; order = "BE" or "LE" for
// a UTF-16 one.
std::uint64_t ByteOrderMark(const SourceKeepingParser::ByteReader& read, const char16_t*& order) {
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

SourceKeepingParser::SourceKeepingParser(XMLValidator* validator, MemoryManager* manager, XMLGrammarPool* pool)
    : BoundedDOMParser(validator, manager, pool) {
    setCalculateSrcOfs(true);
}

bool SourceKeepingParser::Here(std::uint64_t& offset, std::u16string& encoding) const {
    const ReaderMgr* readers = getScanner()->getReaderMgr();
    if (!readers || readers->getCurrentReaderNum() != m_documentReader || !readers->getCurrentEncodingStr())
        return false;
    try {
        offset = readers->getSrcOffset();
    } catch (const XMLException&) {
        return false;  // a reader that does not count its source offsets
    }
    encoding = readers->getCurrentEncodingStr();
    return true;
}

void SourceKeepingParser::startDocument() {
    m_declaration = Span{};
    m_subset = Span{};
    m_declared = false;
    // The order table keeps its capacity: a document loaded again does not grow it anew.
    m_notes.declaration.reset();
    m_notes.internalSubset.reset();
    m_notes.byteOrder = nullptr;
    m_notes.attributeOrders.Clear();
    m_lastOrders.clear();
    BoundedDOMParser::startDocument();
    // The document entity's reader is the current one now, and stays so outside entities.
    const ReaderMgr* readers = getScanner()->getReaderMgr();
    m_documentReader = readers ? readers->getCurrentReaderNum() : ~XMLSize_t(0);
}

void SourceKeepingParser::XMLDecl(const XMLCh* versionStr, const XMLCh* encodingStr, const XMLCh* standaloneStr,
                                  const XMLCh* actualEncStr) {
    BoundedDOMParser::XMLDecl(versionStr, encodingStr, standaloneStr, actualEncStr);
    // The reader stands right after "?>"; the declaration opens the entity (after a byte order mark).
    // Only the document entity's own declaration; Here() tells when its position is unknown.
    if (m_declared || !versionStr || !*versionStr) return;
    m_declared = Here(m_declaration.end, m_declaration.encoding);
    m_declaration.valid = m_declared;
}

void SourceKeepingParser::startIntSubset() {
    BoundedDOMParser::startIntSubset();
    m_subset.valid = Here(m_subset.begin, m_subset.encoding);  // right after "["
}

void SourceKeepingParser::endIntSubset() {
    BoundedDOMParser::endIntSubset();
    std::u16string encoding;
    m_subset.valid = m_subset.valid && Here(m_subset.end, encoding) && encoding == m_subset.encoding &&
                     m_subset.end > m_subset.begin;  // right after "]"
}

void SourceKeepingParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                                       const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                                       const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) {
    BoundedDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
    if (!m_keepAttributeOrder) return;
    // The DOM keeps attributes sorted by name: note the written order where it differs.
    const XMLCh* previous = nullptr;
    bool sorted = true;
    for (XMLSize_t i = 0; i < attrCount && sorted; ++i) {
        const XMLAttr* attribute = attrList.elementAt(i);
        if (!attribute->getSpecified()) continue;
        sorted = !previous || XMLString::compareString(previous, attribute->getQName()) < 0;
        previous = attribute->getQName();
    }
    DOMNode* element = getCurrentNode();
    if (sorted || !element || element->getNodeType() != DOMNode::ELEMENT_NODE) return;
    // A table beside the document: user data on the DOM's nodes makes releasing it slow (every
    // node's handlers are then looked up one by one). The scratch text keeps its capacity.
    // Most elements of a name are written the same way: the order last noted for the name is
    // tried first.
    internal::AttributeOrders& orders = m_notes.attributeOrders;
    const auto last = std::find_if(m_lastOrders.begin(), m_lastOrders.end(),
                                   [&elemDecl](const auto& entry) { return entry.first == &elemDecl; });
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
        m_lastOrders.emplace_back(&elemDecl, order);
}

void SourceKeepingParser::KeepSource(const ByteReader& read) noexcept {
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
    } catch (...) {
        // What is not kept is written in the DOM's own form.
    }
}

}  // namespace XML
