#include "XML/internal/Serializer.h"

#include "XML/XStr.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/TranscodingException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

using XString = std::basic_string<XMLCh>;

XString Upper(const XMLCh* text) {
    XString upper;
    for (const XMLCh* p = text; p && *p; ++p) upper.push_back(*p >= u'a' && *p <= u'z' ? XMLCh(*p - 32) : *p);
    return upper;
}

bool StartsWith(const XString& text, const char16_t* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Hex(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(c));
    return buffer;
}

// The encoding a saved document gets: UTF-16 (with a byte order mark, in the order it was read)
// for a document read as UTF-16; UTF-8 for UCS-4 and UTF-32, which few parsers read back, for a
// document without a declared encoding and for one that declares UTF-16 but was read otherwise;
// else the declared encoding, under the name the document gave it, when a transcoder for it
// exists (else UTF-8).
class Encoding {
public:
    enum Form { kUtf8, kUtf16LE, kUtf16BE, kOther };

    Encoding(const DOMDocument* doc, const SourceNotes* notes) {
        const XString declared = Upper(doc ? doc->getXmlEncoding() : nullptr);
        const XString input = Upper(doc ? doc->getInputEncoding() : nullptr);
        const auto utf16 = [](const XString& n) {
            return StartsWith(n, u"UTF-16") || StartsWith(n, u"UCS-2") || n == u"ISO-10646-UCS-2";
        };
        const auto ucs4 = [](const XString& n) {
            return StartsWith(n, u"UCS-4") || StartsWith(n, u"UTF-32") || n == u"ISO-10646-UCS-4";
        };
        if (utf16(input) || (input.empty() && utf16(declared))) {
            // The order of the mark the document was read with, else the one its reader named.
            const XString order = Upper(notes ? notes->byteOrder : nullptr);
            m_form = order == u"BE" || (order.empty() && input.find(u"BE") != XString::npos) ? kUtf16BE : kUtf16LE;
            m_name = u"UTF-16";
        } else if (!declared.empty() && !utf16(declared) && !ucs4(declared) && !ucs4(input) && declared != u"UTF-8") {
            XMLTransService::Codes result = XMLTransService::Ok;
            m_transcoder.reset(XMLPlatformUtils::fgTransService->makeNewTranscoderFor(
                doc->getXmlEncoding(), result, XMLSize_t{16} * 1024, XMLPlatformUtils::fgMemoryManager));
            if (result == XMLTransService::Ok && m_transcoder) {
                m_form = kOther;
                m_name = doc->getXmlEncoding();
                m_held.assign(0x10000, 0);
            } else {
                m_transcoder.reset();
            }
        } else if (declared == u"UTF-8") {
            m_name = doc->getXmlEncoding();  // as the document spelled it
        }
    }

    Form form() const { return m_form; }
    const XString& name() const { return m_name; }
    // True when every parser reads the document right without an encoding declaration.
    bool SelfDescribing() const { return m_form != kOther; }
    // True when the text may be encoded block by block: a transcoder's state (and what it writes
    // at its start) belongs to the whole text.
    bool InBlocks() const { return m_form != kOther; }

    bool CanHold(char32_t c) const {
        if (m_form != kOther) return true;
        if (c >= m_held.size()) return m_transcoder->canTranscodeTo(c);
        signed char& known = m_held[c];
        if (known == 0) known = m_transcoder->canTranscodeTo(c) ? 1 : -1;
        return known > 0;
    }

    // The text in this encoding, appended to bytes; first: the text starts the output (a byte
    // order mark goes before it). Surrogates are already known to be paired.
    bool Encode(const XString& text, std::string& bytes, std::string& error, bool first = true) const {
        switch (m_form) {
        case kUtf8:
            for (std::size_t i = 0; i < text.size(); ++i) {
                char32_t c = text[i];
                if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
                    c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
                AppendUtf8(c, bytes);
            }
            return true;
        case kUtf16LE:
        case kUtf16BE: {
            const bool big = m_form == kUtf16BE;
            const auto unit = [&bytes, big](char16_t u) {
                bytes.push_back(static_cast<char>(big ? u >> 8 : u & 0xFF));
                bytes.push_back(static_cast<char>(big ? u & 0xFF : u >> 8));
            };
            if (first) unit(0xFEFF);
            for (const XMLCh u : text) unit(u);
            return true;
        }
        case kOther: break;
        }
        std::vector<XMLByte> buffer(std::size_t{64} * 1024);
        const std::size_t start = bytes.size();
        try {
            for (std::size_t at = 0; at < text.size();) {
                XMLSize_t eaten = 0;
                const XMLSize_t made = m_transcoder->transcodeTo(text.data() + at, text.size() - at, buffer.data(),
                                                                 buffer.size(), eaten, XMLTranscoder::UnRep_Throw);
                if (eaten == 0) {
                    error = "the text cannot be written in " + XStr::ToLocal(m_name.c_str());
                    return false;
                }
                bytes.append(reinterpret_cast<const char*>(buffer.data()), made);
                at += eaten;
            }
            // A stateful encoding's transcoder may open with a switch to ASCII, its initial state:
            // before the declaration, it would hide the declaration from the encoding detection.
            if (bytes.compare(start, 3, "\x1B(B") == 0) bytes.erase(start, 3);
            return true;
        } catch (const XMLException& e) {
            error = "the text cannot be written in " + XStr::ToLocal(m_name.c_str()) + ": " +
                    XStr::ToLocal(e.getMessage());
        }
        return false;
    }

private:
    static void AppendUtf8(char32_t c, std::string& bytes) {
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
            return;
        }
        const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
        bytes.push_back(static_cast<char>(lead[extra] | (c >> (6 * extra))));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
            bytes.push_back(static_cast<char>(0x80 | ((c >> shift) & 0x3F)));
    }

    Form m_form = kUtf8;
    XString m_name = u"UTF-8";
    std::unique_ptr<XMLTranscoder> m_transcoder;
    mutable std::vector<signed char> m_held;  // per BMP character: 0 unknown, 1 held, -1 not
};

bool IsSpace(XMLCh c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

bool WhitespaceOnly(const XMLCh* text) {
    for (const XMLCh* p = text; p && *p; ++p)
        if (!IsSpace(*p)) return false;
    return true;
}

bool IsText(const DOMNode* node) { return node->getNodeType() == DOMNode::TEXT_NODE; }

// Text children are whitespace only, and there is markup to indent: whitespace-only text can
// be replaced by indentation without changing what the element holds.
bool Indentable(const DOMNode* element) {
    bool markup = false;
    for (const DOMNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
        switch (child->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::COMMENT_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE: markup = true; break;
        case DOMNode::TEXT_NODE:
            if (!WhitespaceOnly(child->getNodeValue())) return false;
            break;
        default: return false;  // CDATA and entity references are content as written
        }
    }
    return markup &&
           !XMLString::equals(static_cast<const DOMElement*>(element)->getAttribute(u"xml:space"), u"preserve");
}

// xml:space of the nearest ancestor that sets it is "preserve".
bool InsidePreserve(const DOMNode* node) {
    for (const DOMNode* n = node->getParentNode(); n && n->getNodeType() == DOMNode::ELEMENT_NODE;
         n = n->getParentNode()) {
        const XMLCh* space = static_cast<const DOMElement*>(n)->getAttribute(u"xml:space");
        if (space && *space) return XMLString::equals(space, u"preserve");
    }
    return false;
}

// The first of node and its following siblings that is written, in an indented element where
// all text is whitespace.
const DOMNode* SkipText(const DOMNode* node) {
    while (node && IsText(node)) node = node->getNextSibling();
    return node;
}

class Writer {
public:
    Writer(const Encoding& encoding, Layout layout, bool xml11, std::size_t maxDepth, const SourceNotes* notes,
           const ByteSink& sink)
        : m_encoding(encoding), m_layout(layout), m_xml11(xml11), m_maxDepth(maxDepth), m_notes(notes), m_sink(sink) {}

    XString out;
    std::string error;
    // Set when the sink refused a block: error is set too, so that the writing stops.
    bool sinkFailed = false;

    // Hands what out holds to the sink, encoded, and empties it; false when either fails.
    bool Flush() {
        m_bytes.clear();
        if (!m_encoding.Encode(out, m_bytes, error, m_first)) return false;
        m_first = false;
        out.clear();
        if (m_sink(std::string_view(m_bytes))) return true;
        sinkFailed = true;
        error = "the output could not be written";
        return false;
    }

    void Document(const DOMDocument* doc) {
        const char* const separator = m_layout == Layout::Plain ? "" : "\n";
        if (Declaration(doc)) Ascii(separator);
        for (const DOMNode* child = doc->getFirstChild(); child && error.empty(); child = child->getNextSibling()) {
            Tree(child, MayIndent(doc));
            Ascii(separator);
        }
    }

    // Only where the encoding or the XML version needs it: a part of a document has no
    // declaration of its own.
    // Nor has it the document's declarations or ancestors: it is written as it stands in its
    // document, its top element carrying the namespaces in scope and the xml:* attributes it
    // inherits, every attribute a DTD defaults written out, entity references replaced by
    // their text.
    void Part(const DOMNode* node) {
        if (!m_encoding.SelfDescribing() || m_xml11) Generated(node->getOwnerDocument());
        m_standalone = true;
        if (node->getNodeType() == DOMNode::ELEMENT_NODE) Inherited(node);
        Tree(node, MayIndent(node->getOwnerDocument()) && !InsidePreserve(node));
    }

private:
    // A standalone document may not have whitespace in element content declared outside it:
    // indentation would make a valid one invalid.
    bool MayIndent(const DOMDocument* doc) const {
        if (m_layout != Layout::Indented) return false;
        const DOMDocumentType* type = doc ? doc->getDoctype() : nullptr;
        const bool external = type && ((type->getSystemId() && *type->getSystemId()) ||
                                       (type->getPublicId() && *type->getPublicId()));
        return !(external && doc->getXmlStandalone());
    }

    // Writes the declaration; false when the document gets none.
    bool Declaration(const DOMDocument* doc) {
        const XMLCh* raw = m_notes && m_notes->declaration ? m_notes->declaration->c_str() : nullptr;
        if (m_layout == Layout::AsLoaded && raw) {
            const XString declared = Upper(DeclaredEncoding(raw).c_str());
            // Without a declaration a document is read as XML 1.0, not standalone.
            if (!*raw && m_encoding.SelfDescribing() && !m_xml11 && !doc->getXmlStandalone()) return false;
            if (*raw &&
                (declared.empty() ? m_encoding.SelfDescribing() : declared == Upper(m_encoding.name().c_str()))) {
                Literal(raw, "the XML declaration", true);
                return true;
            }
        }
        Generated(doc);
        return true;
    }

    void Generated(const DOMDocument* doc) {
        Ascii("<?xml version=\"");
        Literal(doc && doc->getXmlVersion() ? doc->getXmlVersion() : u"1.0", "the XML version", false);
        Ascii("\" encoding=\"");
        Literal(m_encoding.name().c_str(), "the encoding name", false);
        Ascii(doc && doc->getXmlStandalone() ? "\" standalone=\"yes\" ?>" : "\" standalone=\"no\" ?>");
    }

    // The encoding pseudo-attribute of a raw declaration, or empty.
    static XString DeclaredEncoding(const XMLCh* raw) {
        const XString text(raw);
        std::size_t at = text.find(u"encoding");
        if (at == XString::npos) return {};
        at = text.find_first_of(u"\"'", at);
        if (at == XString::npos) return {};
        const std::size_t end = text.find(text[at], at + 1);
        return end == XString::npos ? XString() : text.substr(at + 1, end - at - 1);
    }

    // The attributes of the ancestors of element that it would lose standing alone: namespace
    // declarations it does not make itself, and xml:* attributes it does not set (nearest first).
    void Inherited(const DOMNode* element) {
        const auto own = [](const DOMNode* e, const XMLCh* name) {
            return static_cast<const DOMElement*>(e)->getAttributeNode(name) != nullptr;
        };
        for (const DOMNode* n = element->getParentNode(); n && n->getNodeType() == DOMNode::ELEMENT_NODE;
             n = n->getParentNode()) {
            const DOMNamedNodeMap* map = n->getAttributes();
            for (XMLSize_t i = 0; map && i < map->getLength(); ++i) {
                const XMLCh* name = map->item(i)->getNodeName();
                const bool declaration = XMLString::equals(name, u"xmlns") || XMLString::startsWith(name, u"xmlns:");
                if (!declaration && !XMLString::startsWith(name, u"xml:")) continue;
                const bool taken = own(element, name) ||
                                   std::any_of(m_inherited.begin(), m_inherited.end(), [name](const DOMNode* a) {
                                       return XMLString::equals(a->getNodeName(), name);
                                   });
                if (!taken) m_inherited.push_back(map->item(i));
            }
        }
        m_top = element;
    }

    // Writes the subtree of top. Open elements (and, in a part, the entity references whose
    // text is written) are kept on a heap stack, never on the call stack.
    void Tree(const DOMNode* top, bool indented) {
        struct Open {
            const DOMNode* node;
            bool indented;
        };
        std::vector<Open> open;
        std::size_t elements = 0;  // open elements: open less the entity references
        const DOMNode* node = top;
        while (error.empty()) {
            // Between two nodes no surrogate pair is cut: a full block goes out.
            if (out.size() >= kBlockUnits && m_encoding.InBlocks() && !Flush()) return;
            if (!open.empty() && open.back().indented) Indent(open.size());
            bool descended = false;
            switch (node->getNodeType()) {
            case DOMNode::ELEMENT_NODE: {
                if (elements >= m_maxDepth) {
                    error = "elements nested deeper than " + std::to_string(m_maxDepth) + " levels cannot be saved";
                    return;
                }
                const auto* element = static_cast<const DOMElement*>(node);
                const DOMNode* first = node->getFirstChild();
                if (!KeptStartTag(element, first != nullptr)) {
                    StartTag(element);
                    if (!first) {
                        Ascii("/>");
                        break;
                    }
                    Ascii(">");
                } else if (!first) {
                    break;
                }
                // Past a fixed depth the content is written as it is: indentation of every
                // level would multiply the size of a deep document.
                const bool inner = (open.empty() ? indented : open.back().indented) && open.size() < kIndentedDepth &&
                                   Indentable(node);
                open.push_back({node, inner});
                ++elements;
                node = inner ? SkipText(first) : first;
                descended = true;
                break;
            }
            case DOMNode::TEXT_NODE: Escaped(node->getNodeValue(), false); break;
            case DOMNode::CDATA_SECTION_NODE: CData(node->getNodeValue()); break;
            case DOMNode::ENTITY_REFERENCE_NODE:
                if (m_standalone) {  // no declaration comes along: the entity's text instead
                    if (const DOMNode* first = node->getFirstChild()) {
                        open.push_back({node, false});
                        node = first;
                        descended = true;
                    }
                    break;
                }
                Ascii("&");
                Literal(node->getNodeName(), "an entity reference", false);
                Ascii(";");
                break;
            case DOMNode::COMMENT_NODE: Comment(node->getNodeValue()); break;
            case DOMNode::PROCESSING_INSTRUCTION_NODE:
                Instruction(static_cast<const DOMProcessingInstruction*>(node));
                break;
            case DOMNode::DOCUMENT_TYPE_NODE: DocumentType(static_cast<const DOMDocumentType*>(node)); break;
            default: error = "a node of type " + std::to_string(node->getNodeType()) + " cannot be saved"; return;
            }
            if (descended) continue;
            // Up to the next node to write, closing every element whose children are all written.
            for (;;) {
                if (node == top) return;
                const bool inIndented = open.back().indented;
                if (const DOMNode* next = inIndented ? SkipText(node->getNextSibling()) : node->getNextSibling()) {
                    node = next;
                    break;
                }
                const Open closed = open.back();
                open.pop_back();
                node = closed.node;
                if (node->getNodeType() != DOMNode::ELEMENT_NODE) continue;  // an entity's text ends
                --elements;
                if (closed.indented) Indent(open.size());
                EndTag(static_cast<const DOMElement*>(node));
            }
        }
    }

    void StartTag(const DOMElement* element) {
        Ascii("<");
        Literal(element->getNodeName(), "an element name", false);
        const DOMNamedNodeMap* attributes = element->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        // First in the order the document wrote them (or the edits added them), then those the DOM has beyond it.
        if (m_notes) {
            m_notes->attributeOrders.WriteOrder(element, m_order);
            for (const XMLSize_t i : m_order) Attribute(attributes, i);
        } else {
            for (XMLSize_t i = 0; i < count; ++i) Attribute(attributes, i);
        }
        if (element == m_top)
            for (const DOMNode* attribute : m_inherited) Attribute(static_cast<const DOMAttr*>(attribute));
    }

    // Saved as loaded, a start tag the document wrote is written as it was, but for the attributes
    // whose value the DOM no longer has (written anew, in double quotes), those it no longer has
    // (left out) and those it has beyond them (added at the end); closed as the source closed it,
    // "/>" or ">" with its end tag, unless it gained children. False, nothing written, when the
    // source has no tag for the element or its name changed.
    bool KeptStartTag(const DOMElement* element, bool hasChildren) {
        if (m_layout != Layout::AsLoaded || m_standalone || !m_notes) return false;
        bool typed = false;
        if (!m_notes->tags.StartTag(element, m_source, typed) || !SplitStartTag(m_source, m_pieces) ||
            m_pieces.name != element->getNodeName() || !Holds(m_source))
            return false;
        Ascii("<");
        out.append(m_pieces.name);
        const DOMNamedNodeMap* attributes = element->getAttributes();
        for (const StartTagPieces::Attribute& piece : m_pieces.attributes) {
            const DOMAttr* attribute = element->getAttributeNode(XString(piece.name).c_str());
            if (!attribute || !attribute->getSpecified()) continue;
            const XMLCh* value = attribute->getValue();
            // (A "<" stands in no value the parser read: the source changed since.)
            if (piece.value.find(u'<') == std::u16string_view::npos && AttributeValue(piece.value, m_xml11, m_value) &&
                (m_value == value || (typed && CollapseSpaces(m_value) == value))) {
                out.append(piece.written);
                continue;
            }
            out.append(piece.written.substr(0, piece.written.size() - piece.value.size() - 2));
            Ascii("\"");
            Escaped(value, true);
            Ascii("\"");
        }
        m_notes->attributeOrders.WriteOrder(element, m_order);
        for (const XMLSize_t i : m_order) {
            const XMLCh* name = attributes->item(i)->getNodeName();
            if (std::none_of(m_pieces.attributes.begin(), m_pieces.attributes.end(),
                             [name](const StartTagPieces::Attribute& piece) { return piece.name == name; }))
                Attribute(attributes, i);
        }
        out.append(m_pieces.tail);
        if (hasChildren) {
            Ascii(">");
        } else if (m_pieces.empty) {
            Ascii("/>");
        } else {
            Ascii(">");
            EndTag(element);
        }
        return true;
    }

    // The end tag as the source wrote it ("</", the name, spaces, ">"), when the element kept its
    // name; else "</name>".
    void EndTag(const DOMElement* element) {
        const XMLCh* name = element->getNodeName();
        const std::size_t length = XMLString::stringLen(name);
        if (m_layout == Layout::AsLoaded && !m_standalone && m_notes && m_notes->tags.EndTag(element, m_source) &&
            m_source.size() > length + 2 && m_source.compare(0, 2, u"</") == 0 &&
            m_source.compare(2, length, name) == 0 && m_source.back() == u'>' &&
            m_source.find_first_not_of(u" \t\r\n", 2 + length) == m_source.size() - 1 && Holds(m_source)) {
            out.append(m_source);
            return;
        }
        Ascii("</");
        Literal(name, "an element name", false);
        Ascii(">");
    }

    // Every character of text can stand as itself in the output.
    bool Holds(const XString& text) const {
        return std::all_of(text.begin(), text.end(), [this](XMLCh c) { return m_encoding.CanHold(c); });
    }

    void Attribute(const DOMNamedNodeMap* attributes, XMLSize_t i) {
        const auto* attribute = static_cast<const DOMAttr*>(attributes->item(i));
        // A grammar's default: the grammar gives it again, when it comes along. The parser may
        // give a prefixed default twice (in two namespaces): its name is written once.
        if (attribute->getSpecified() || (m_standalone && attributes->getNamedItem(attribute->getName()) == attribute))
            Attribute(attribute);
    }

    void Attribute(const DOMAttr* attribute) {
        Ascii(" ");
        Literal(attribute->getName(), "an attribute name", false);
        Ascii("=\"");
        Escaped(attribute->getValue(), true);
        Ascii("\"");
    }

    void DocumentType(const DOMDocumentType* type) {
        Ascii("<!DOCTYPE ");
        Literal(type->getName(), "the document type name", false);
        const XMLCh* publicId = type->getPublicId();
        const XMLCh* systemId = type->getSystemId();
        if (publicId && *publicId) {
            Ascii(" PUBLIC ");
            Quoted(publicId);
            Ascii(" ");
            Quoted(systemId ? systemId : u"");
        } else if (systemId && *systemId) {
            Ascii(" SYSTEM ");
            Quoted(systemId);
        }
        const XMLCh* raw = m_notes && m_notes->internalSubset ? m_notes->internalSubset->c_str() : nullptr;
        const XMLCh* subset = raw ? raw : type->getInternalSubset();
        if (raw || (subset && *subset)) {
            Ascii(" [");
            Literal(subset, "the internal subset", true);
            Ascii("]");
        }
        Ascii(">");
    }

    void Quoted(const XMLCh* literal) {
        const char* quote = XMLString::indexOf(literal, u'"') >= 0 ? "'" : "\"";
        Ascii(quote);
        Literal(literal, "an identifier of the document type", false);
        Ascii(quote);
    }

    void Comment(const XMLCh* text) {
        const XString value(text ? text : u"");
        if (value.find(u"--") != XString::npos || (!value.empty() && value.back() == u'-')) {
            error = "a comment holding \"--\" or ending with \"-\" cannot be saved";
            return;
        }
        Ascii("<!--");
        Literal(text, "a comment", false);
        Ascii("-->");
    }

    void Instruction(const DOMProcessingInstruction* pi) {
        const XMLCh* data = pi->getData();
        if (data && XMLString::patternMatch(data, u"?>") >= 0) {
            error = "a processing instruction holding \"?>\" cannot be saved";
            return;
        }
        Ascii("<?");
        Literal(pi->getTarget(), "a processing instruction target", false);
        if (data && *data) {
            Ascii(" ");
            Literal(data, "a processing instruction", false);
        }
        Ascii("?>");
    }

    // "]]>" cannot stand in a CDATA section: it ends one section and the next one goes on.
    void CData(const XMLCh* text) {
        Ascii("<![CDATA[");
        XString value(text ? text : u"");
        for (std::size_t at = 0; (at = value.find(u"]]>", at)) != XString::npos; at += 15)
            value.replace(at, 3, u"]]]]><![CDATA[>");
        Literal(value.c_str(), "a CDATA section", false);
        Ascii("]]>");
    }

    void Indent(std::size_t level) {
        out.push_back(u'\n');
        out.append(2 * level, u' ');
    }

    void Ascii(const char* text) {
        for (const char* p = text; *p; ++p) out.push_back(static_cast<XMLCh>(*p));
    }

    void Reference(char32_t c) { Ascii(("&#x" + Hex(c) + ";").c_str()); }

    // Calls each(code point, first unit, unit count) over text; false, with error set, at an
    // unpaired surrogate.
    template <class Each>
    bool ForEachCharacter(const XMLCh* text, Each&& each) {
        for (const XMLCh* p = text; p && *p; ++p) {
            char32_t c = *p;
            std::size_t units = 1;
            if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
                units = 2;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                error = "an unpaired surrogate (U+" + Hex(c) + ") cannot be saved";
                return false;
            }
            if (!each(c, p, units)) return false;
            p += units - 1;
        }
        return true;
    }

    // A character XML allows somewhere in a document (as itself or as a reference).
    bool Allowed(char32_t c) const {
        if (c == 0 || (c >= 0xFFFE && c <= 0xFFFF) || c > 0x10FFFF) return false;
        return m_xml11 || c >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r';
    }
    // An allowed character that must be written as a reference to read back the same: the
    // restricted characters of XML 1.1 and the line ends it normalises.
    bool NeedsReference(char32_t c) const {
        if (!m_xml11) return false;
        return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || (c >= 0x7F && c <= 0x9F) || c == 0x2028;
    }

    // Text where no reference is possible: every character must stand as itself.
    void Literal(const XMLCh* text, const char* where, bool rawSource) {
        ForEachCharacter(text, [&](char32_t c, const XMLCh* p, std::size_t units) {
            const bool asItself = Allowed(c) && (rawSource || (!NeedsReference(c) && c != u'\r'));
            if (!asItself || !m_encoding.CanHold(c)) {
                error = "character U+" + Hex(c) + " in " + where + " cannot be written " +
                        (asItself ? "in " + XStr::ToLocal(m_encoding.name().c_str()) : std::string("as itself"));
                return false;
            }
            out.append(p, units);
            return true;
        });
    }

    // Character data or an attribute value: markup characters, line ends that the parser would
    // normalise, and characters the encoding cannot hold become references.
    void Escaped(const XMLCh* text, bool attribute) {
        ForEachCharacter(text, [&](char32_t c, const XMLCh* p, std::size_t units) {
            switch (c) {
            case u'&': Ascii("&amp;"); return true;
            case u'<': Ascii("&lt;"); return true;
            case u'>': Ascii("&gt;"); return true;
            case u'"':
                if (!attribute) break;
                Ascii("&quot;");
                return true;
            case u'\r': Reference(c); return true;
            case u'\n':
            case u'\t':
                if (!attribute) break;
                Reference(c);
                return true;
            default: break;
            }
            if (!Allowed(c)) {
                error = "character U+" + Hex(c) + " is not allowed in XML " + (m_xml11 ? "1.1" : "1.0");
                return false;
            }
            if (NeedsReference(c) || !m_encoding.CanHold(c))
                Reference(c);
            else
                out.append(p, units);
            return true;
        });
    }

    // Levels of indentation at most; deeper content is written as it is.
    static constexpr std::size_t kIndentedDepth = 64;
    // What the text grows to before it goes to the sink: 64 KiB of UTF-16.
    static constexpr std::size_t kBlockUnits = std::size_t{32} * 1024;

    const Encoding& m_encoding;
    const Layout m_layout;
    const bool m_xml11;
    const std::size_t m_maxDepth;
    std::vector<XMLSize_t> m_order;  // scratch: one start tag's attributes in written order
    XString m_source, m_value;       // scratch: one tag's source, one attribute's value
    StartTagPieces m_pieces;
    const SourceNotes* m_notes;
    const ByteSink& m_sink;
    std::string m_bytes;  // the block being handed over, its capacity kept
    bool m_first = true;
    // A part written without its document's declarations and ancestors (see Part).
    bool m_standalone = false;
    const DOMNode* m_top = nullptr;
    std::vector<const DOMNode*> m_inherited;  // attributes of m_top's ancestors written on it
};

}  // namespace

bool Serialize(const DOMNode* node, Layout layout, std::size_t maxDepth, const SourceNotes* notes, const ByteSink& sink,
               std::string& error) {
    const bool isDocument = node->getNodeType() == DOMNode::DOCUMENT_NODE;
    const DOMDocument* doc = isDocument ? static_cast<const DOMDocument*>(node) : node->getOwnerDocument();
    const Encoding encoding(doc, notes);
    Writer writer(encoding, layout, doc && XMLString::equals(doc->getXmlVersion(), u"1.1"), maxDepth, notes, sink);
    if (isDocument)
        writer.Document(doc);
    else
        writer.Part(node);
    if (writer.error.empty()) writer.Flush();
    if (writer.error.empty()) return true;
    error = writer.sinkFailed ? std::string() : writer.error;
    return false;
}

bool Serialize(const DOMNode* node, Layout layout, std::size_t maxDepth, const SourceNotes* notes, std::string& bytes,
               std::string& error) {
    std::string made;
    const bool done = Serialize(
        node, layout, maxDepth, notes,
        [&made](std::string_view block) {
            made.append(block);
            return true;
        },
        error);
    if (done) bytes = std::move(made);
    return done;
}

// --- AttributeOrders -----------------------------------------------------------------------

std::uint32_t AttributeOrders::Add(const DOMNode* element, std::u16string_view order) {
    std::uint32_t id = static_cast<std::uint32_t>(m_orders.size());
    const auto found = m_ids.find(order);
    if (found != m_ids.end())
        id = found->second;
    else
        m_ids.emplace(m_orders.emplace_back(order), id);
    Add(element, id);
    return id;
}

void AttributeOrders::Add(const DOMNode* element, std::uint32_t order) {
    if (m_isSorted)
        m_later[element] = order;
    else
        m_entries.push_back({element, order});
}

std::u16string_view AttributeOrders::Find(const DOMNode* element) const {
    if (const auto later = m_later.find(element); later != m_later.end()) return m_orders[later->second];
    const auto before = [](const Entry& a, const Entry& b) {
        return std::less<const DOMNode*>()(a.element, b.element);
    };
    if (!m_isSorted) {
        m_sorted = m_entries;
        std::stable_sort(m_sorted.begin(), m_sorted.end(), before);
        m_isSorted = true;
    }
    // The last noted for an address wins: an element made later at the address of a released one.
    const auto found = std::upper_bound(m_sorted.begin(), m_sorted.end(), Entry{element, 0}, before);
    if (found == m_sorted.begin() || std::prev(found)->element != element) return {};
    return m_orders[std::prev(found)->order];
}

void AttributeOrders::WriteOrder(const DOMElement* element, std::vector<XMLSize_t>& order) const {
    order.clear();
    const DOMNamedNodeMap* attributes = element->getAttributes();
    const XMLSize_t count = attributes ? attributes->getLength() : 0;
    const std::u16string_view noted = Find(element);
    const std::size_t named = noted.find(u' ');
    std::vector<bool> taken;
    if (named != std::u16string_view::npos && noted.compare(0, named, element->getNodeName()) == 0) {
        taken.assign(count, false);
        for (std::size_t start = named + 1; start < noted.size();) {
            std::size_t end = noted.find(u' ', start);
            if (end == std::u16string_view::npos) end = noted.size();
            const std::u16string_view name = noted.substr(start, end - start);
            for (XMLSize_t i = 0; i < count; ++i)
                if (!taken[i] && name == std::u16string_view(attributes->item(i)->getNodeName())) {
                    taken[i] = true;
                    order.push_back(i);
                }
            start = end + 1;
        }
    }
    for (XMLSize_t i = 0; i < count; ++i)
        if (taken.empty() || !taken[i]) order.push_back(i);
}

void AttributeOrders::Append(const DOMElement* element, const XMLCh* name) {
    std::vector<XMLSize_t> order;
    WriteOrder(element, order);
    const DOMNamedNodeMap* attributes = element->getAttributes();
    std::u16string noted(element->getNodeName());
    for (const XMLSize_t i : order) {
        const XMLCh* other = attributes->item(i)->getNodeName();
        if (!XMLString::equals(other, name)) noted.append(u" ").append(other);
    }
    noted.append(u" ").append(name);
    Add(element, noted);
}

void AttributeOrders::Clear() {
    m_entries.clear();
    m_sorted.clear();
    m_isSorted = false;
    m_later.clear();
    m_ids.clear();
    m_orders.clear();
}

}  // namespace XML::internal
