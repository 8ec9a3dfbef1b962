// Canonical: the canonical XML writer (see Canonical.h). One pass over the subtree in document
// order with an explicit stack of namespace declarations; names and values are converted from
// the DOM's UTF-16 to UTF-8 as they are written, escaped for where they stand.
#include "XML/internal/Canonical.h"

#include "XML/internal/Transcode.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMProcessingInstruction.hpp>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

const char kXmlNamespace[] = "http://www.w3.org/XML/1998/namespace";

// Where a text is written, which decides what is escaped.
enum class Context { text, attribute, verbatim };

// Appends UTF-16 s (null: nothing) as UTF-8, escaped for context. False on an unpaired surrogate.
bool AppendUtf8(std::string& out, const XMLCh* s, Context context) {
    if (!s) return true;
    for (; *s; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || s[1] < 0xDC00 || s[1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (context != Context::verbatim) {
            const char* escaped = nullptr;
            switch (c) {
            case '&': escaped = "&amp;"; break;
            case '<': escaped = "&lt;"; break;
            case '>': escaped = context == Context::text ? "&gt;" : nullptr; break;
            case '"': escaped = context == Context::attribute ? "&quot;" : nullptr; break;
            case '\t': escaped = context == Context::attribute ? "&#x9;" : nullptr; break;
            case '\n': escaped = context == Context::attribute ? "&#xA;" : nullptr; break;
            case '\r': escaped = "&#xD;"; break;
            default: break;
            }
            if (escaped) {
                out += escaped;
                continue;
            }
        }
        XML::internal::AppendUtf8(out, c);
    }
    return true;
}

// UTF-8 of a name or URI, unescaped (they are compared and sorted in this form: byte order of
// UTF-8 is the code point order the recommendation sorts by).
bool Utf8(const XMLCh* s, std::string& out) {
    out.clear();
    return AppendUtf8(out, s, Context::verbatim);
}

// A URI reference with a scheme ("scheme:..."); anything else is relative.
bool HasScheme(const std::string& uri) {
    const std::size_t colon = uri.find(':');
    if (colon == 0 || colon == std::string::npos) return false;
    const auto isAlpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!isAlpha(uri[0])) return false;
    return std::all_of(uri.begin() + 1, uri.begin() + static_cast<std::ptrdiff_t>(colon), [&](char c) {
        return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

struct Binding {
    std::string prefix;            // empty: the default namespace
    std::string uri;               // empty: undeclared (xmlns="")
    const XMLCh* value = nullptr;  // the URI as the DOM holds it, for writing
};

// One attribute to write, with its sort key (namespace URI, then local name).
struct Attribute {
    std::string uri, local, name;
    const XMLCh* value = nullptr;
};

class Writer {
public:
    // sink, when given, takes the text in blocks as it is made (out holds the block being made).
    Writer(bool withComments, std::string& out, std::string& error, const ByteSink* sink = nullptr)
        : m_withComments(withComments), m_out(out), m_error(error), m_sink(sink) {}

    // Hands out to the sink and empties it; false (error empty) when the sink refused it.
    bool Flush() {
        if (!m_sink || m_out.empty() || (*m_sink)(std::string_view(m_out))) {
            if (m_sink) m_out.clear();
            return true;
        }
        return Fail("");
    }

    bool Run(const DOMNode* top) {
        if (!top) return Fail("no node to write");
        const auto type = top->getNodeType();
        if (type == DOMNode::ATTRIBUTE_NODE || type == DOMNode::DOCUMENT_TYPE_NODE || type == DOMNode::ENTITY_NODE ||
            type == DOMNode::NOTATION_NODE)
            return Fail("a node of this kind has no canonical form");
        if (const DOMNode* parent = top->getParentNode(); parent && parent->getNodeType() == DOMNode::DOCUMENT_NODE)
            for (const DOMNode* n = top->getPreviousSibling(); n && !m_afterRoot; n = n->getPreviousSibling())
                m_afterRoot = n->getNodeType() == DOMNode::ELEMENT_NODE;
        m_apex = top;
        const DOMNode* node = top;
        for (;;) {
            if (m_out.size() >= kBlockBytes && !Flush()) return false;
            bool descend = false;
            if (!Enter(node, descend)) return false;
            if (const DOMNode* child = descend ? node->getFirstChild() : nullptr) {
                node = child;
                continue;
            }
            // Leave node, and every ancestor whose children are all written, up to the next sibling.
            for (;;) {
                Leave(node);
                if (node == top) return true;
                if (const DOMNode* sibling = node->getNextSibling()) {
                    node = sibling;
                    break;
                }
                node = node->getParentNode();
            }
        }
    }

private:
    bool Fail(const std::string& why) {
        m_error = why;
        return false;
    }

    bool Write(const XMLCh* s, Context context) {
        return AppendUtf8(m_out, s, context) || Fail("a text holds an unpaired surrogate");
    }

    // Comments and PIs beside the document element stand on lines of their own.
    static bool TopLevel(const DOMNode* node) {
        const DOMNode* parent = node->getParentNode();
        return parent && parent->getNodeType() == DOMNode::DOCUMENT_NODE;
    }

    bool Enter(const DOMNode* node, bool& descend) {
        switch (node->getNodeType()) {
        case DOMNode::DOCUMENT_NODE:
        case DOMNode::DOCUMENT_FRAGMENT_NODE:
        case DOMNode::ENTITY_REFERENCE_NODE:  // its children are the entity's replacement text
            descend = true;
            return true;
        case DOMNode::ELEMENT_NODE: descend = true; return StartElement(node);
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE: return Write(node->getNodeValue(), Context::text);
        case DOMNode::COMMENT_NODE:
            if (!m_withComments) return true;
            if (TopLevel(node) && m_afterRoot) m_out += '\n';
            m_out += "<!--";
            if (!Write(node->getNodeValue(), Context::verbatim)) return false;
            m_out += "-->";
            if (TopLevel(node) && !m_afterRoot) m_out += '\n';
            return true;
        case DOMNode::PROCESSING_INSTRUCTION_NODE: {
            const auto* pi = static_cast<const DOMProcessingInstruction*>(node);
            if (TopLevel(node) && m_afterRoot) m_out += '\n';
            m_out += "<?";
            if (!Write(pi->getTarget(), Context::verbatim)) return false;
            if (pi->getData() && *pi->getData()) {
                m_out += ' ';
                if (!Write(pi->getData(), Context::verbatim)) return false;
            }
            m_out += "?>";
            if (TopLevel(node) && !m_afterRoot) m_out += '\n';
            return true;
        }
        default:  // the document type, and what only it holds
            return true;
        }
    }

    void Leave(const DOMNode* node) {
        if (node->getNodeType() != DOMNode::ELEMENT_NODE) return;
        m_out += "</";
        m_out += m_names.back();
        m_out += '>';
        m_names.pop_back();
        m_bindings.resize(m_frames.back());
        m_frames.pop_back();
        if (TopLevel(node)) m_afterRoot = true;
    }

    // The URI prefix is bound to among the first end bindings; null when it is not bound.
    const std::string* Lookup(const std::string& prefix, std::size_t end) const {
        for (std::size_t i = end; i-- > 0;)
            if (m_bindings[i].prefix == prefix) return &m_bindings[i].uri;
        return nullptr;
    }

    // What ReadAttributes takes from an element.
    enum class Take {
        everything,    // the element's own: declarations pushed as bindings, attributes appended
        declarations,  // an ancestor of the apex: its declarations only
        xmlInherited   // an ancestor of the apex: its xml:* attributes the apex lacks so far
    };

    bool ReadAttributes(const DOMNode* element, Take take, std::vector<Attribute>& attributes) {
        const DOMNamedNodeMap* map = element->getAttributes();
        const XMLSize_t count = map ? map->getLength() : 0;
        std::string name;
        for (XMLSize_t i = 0; i < count; ++i) {
            const DOMNode* attr = map->item(i);
            if (!Utf8(attr->getNodeName(), name)) return Fail("a name holds an unpaired surrogate");
            if (name == "xmlns" || name.compare(0, 6, "xmlns:") == 0) {
                if (take == Take::xmlInherited) continue;
                Binding binding{name.size() > 5 ? name.substr(6) : std::string(), {}, attr->getNodeValue()};
                if (!Utf8(attr->getNodeValue(), binding.uri)) return Fail("a URI holds an unpaired surrogate");
                if (binding.prefix == "xml") continue;  // fixed; never written
                if (!binding.uri.empty() && !HasScheme(binding.uri))
                    return Fail("the namespace URI '" + binding.uri + "' is relative");
                m_bindings.push_back(std::move(binding));
                continue;
            }
            if (take == Take::declarations) continue;
            Attribute a;
            a.name = name;
            if (!Utf8(attr->getNamespaceURI(), a.uri)) return Fail("a URI holds an unpaired surrogate");
            if (attr->getLocalName()) {
                if (!Utf8(attr->getLocalName(), a.local)) return Fail("a name holds an unpaired surrogate");
            } else if (a.uri.empty() && name.compare(0, 4, "xml:") == 0) {  // made without namespaces
                a.uri = kXmlNamespace;
                a.local = name.substr(4);
            } else {
                a.local = name;
            }
            if (take == Take::xmlInherited) {
                const bool known = std::any_of(attributes.begin(), attributes.end(),
                                               [&](const Attribute& b) { return b.name == a.name; });
                if (a.uri != kXmlNamespace || known) continue;
            }
            a.value = attr->getNodeValue();
            attributes.push_back(std::move(a));
        }
        return true;
    }

    // The namespace an attribute's prefix is bound to where it stands.
    std::string BoundNamespace(const std::string& name) const {
        const std::size_t colon = name.find(':');
        if (colon == std::string::npos) return {};
        const std::string prefix = name.substr(0, colon);
        if (prefix == "xml") return kXmlNamespace;
        const std::string* uri = Lookup(prefix, m_bindings.size());
        return uri ? *uri : std::string();
    }

    // The parser gives a prefixed attribute that the DTD defaults twice, the second time in
    // another namespace: of two attributes with one name, the one in the namespace its prefix
    // is bound to stays (an element never has two attributes of one name).
    void DropDuplicates(std::vector<Attribute>& attributes) const {
        std::sort(attributes.begin(), attributes.end(), [this](const Attribute& a, const Attribute& b) {
            if (a.name != b.name) return a.name < b.name;
            return (a.uri == BoundNamespace(a.name)) > (b.uri == BoundNamespace(b.name));
        });
        attributes.erase(std::unique(attributes.begin(), attributes.end(),
                                     [](const Attribute& a, const Attribute& b) { return a.name == b.name; }),
                         attributes.end());
    }

    bool StartElement(const DOMNode* element) {
        const bool apex = element == m_apex;
        std::vector<Attribute> attributes;
        m_frames.push_back(m_bindings.size());
        if (apex) {
            // The ancestors' declarations, outermost first, so that the nearest wins.
            std::vector<const DOMNode*> ancestors;
            for (const DOMNode* n = element->getParentNode(); n; n = n->getParentNode())
                if (n->getNodeType() == DOMNode::ELEMENT_NODE) ancestors.push_back(n);
            for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it)
                if (!ReadAttributes(*it, Take::declarations, attributes)) return false;
        }
        const std::size_t inherited = m_bindings.size();
        if (!ReadAttributes(element, Take::everything, attributes)) return false;
        if (apex)
            for (const DOMNode* n = element->getParentNode(); n; n = n->getParentNode())
                if (n->getNodeType() == DOMNode::ELEMENT_NODE && !ReadAttributes(n, Take::xmlInherited, attributes))
                    return false;

        // The namespace nodes to write: at the apex every one in scope; below it those whose
        // value differs from the parent's (an empty default undeclares a non-empty one).
        std::vector<const Binding*> rendered;
        const std::size_t first = apex ? m_frames.back() : inherited;
        for (std::size_t i = first; i < m_bindings.size(); ++i) {
            const Binding& b = m_bindings[i];
            const std::string* nearer = Lookup(b.prefix, m_bindings.size());
            if (nearer != &b.uri) continue;  // redeclared closer to the element
            const std::string* outer = apex ? nullptr : Lookup(b.prefix, inherited);
            if (outer ? b.uri == *outer : b.uri.empty()) continue;
            if (b.uri.empty() && !b.prefix.empty()) continue;  // an undeclared prefix has no node
            rendered.push_back(&b);
        }
        std::sort(rendered.begin(), rendered.end(),
                  [](const Binding* a, const Binding* b) { return a->prefix < b->prefix; });
        DropDuplicates(attributes);
        std::sort(attributes.begin(), attributes.end(), [](const Attribute& a, const Attribute& b) {
            return a.uri != b.uri ? a.uri < b.uri : a.local < b.local;
        });

        std::string name;
        if (!Utf8(element->getNodeName(), name)) return Fail("a name holds an unpaired surrogate");
        m_out += '<';
        m_out += name;
        for (const Binding* b : rendered) {
            m_out += b->prefix.empty() ? " xmlns" : " xmlns:" + b->prefix;
            m_out += "=\"";
            if (!Write(b->value, Context::attribute)) return false;
            m_out += '"';
        }
        for (const Attribute& a : attributes) {
            m_out += ' ';
            m_out += a.name;
            m_out += "=\"";
            if (!Write(a.value, Context::attribute)) return false;
            m_out += '"';
        }
        m_out += '>';
        m_names.push_back(std::move(name));
        return true;
    }

    static constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;

    const bool m_withComments;
    std::string& m_out;
    std::string& m_error;
    const ByteSink* m_sink;
    const DOMNode* m_apex = nullptr;
    bool m_afterRoot = false;
    std::vector<Binding> m_bindings;    // declarations in scope, outermost first
    std::vector<std::size_t> m_frames;  // per open element: m_bindings' size before it
    std::vector<std::string> m_names;   // per open element: its name, for the end tag
};

}  // namespace

bool AppendCanonicalXML(const DOMNode* node, bool withComments, std::string& out, std::string& error) {
    return Writer(withComments, out, error).Run(node);
}

bool WriteCanonicalXML(const DOMNode* node, bool withComments, const ByteSink& sink, std::string& error) {
    std::string block;
    Writer writer(withComments, block, error, &sink);
    return writer.Run(node) && writer.Flush();
}

}  // namespace XML::internal
