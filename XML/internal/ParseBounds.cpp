#include "XML/internal/ParseBounds.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"

#include <xercesc/framework/XMLAttDefList.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/common/ContentSpecNode.hpp>
#include <xercesc/validators/common/GrammarResolver.hpp>
#include <xercesc/validators/schema/SchemaAttDef.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

bool IsXmlSpace(XMLCh c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

std::size_t Words(const XMLCh* text) {
    std::size_t words = 0;
    for (bool inWord = false; *text; ++text) {
        words += !IsXmlSpace(*text) && !inWord;
        inWord = !IsXmlSpace(*text);
    }
    return words;
}

// Why the validator must not compile this element's content model, or empty when it may.
std::string ContentModelRefusal(const DTDElementDecl& decl, const sLimits& limits) {
    if (decl.getModelType() != DTDElementDecl::Children || !decl.getContentSpec()) return {};
    const auto refuse = [&decl](const std::string& why) {
        return "the content model of element '" + XStr::ToLocal(decl.getFullName()) + "' " + why;
    };
    // Every node, parents before children, with depth and size bounded as they are met.
    std::vector<const ContentSpecNode*> nodes;
    std::vector<std::pair<const ContentSpecNode*, std::size_t>> pending{{decl.getContentSpec(), 1}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (depth > limits.maxDepth)
            return refuse("is nested deeper than " + std::to_string(limits.maxDepth) + " levels");
        if (nodes.size() == limits.maxContentModelParticles)
            return refuse("has more than " + std::to_string(limits.maxContentModelParticles) + " parts");
        switch (node->getType()) {
        case ContentSpecNode::Leaf:
        case ContentSpecNode::ZeroOrOne:
        case ContentSpecNode::ZeroOrMore:
        case ContentSpecNode::OneOrMore:
        case ContentSpecNode::Choice:
        case ContentSpecNode::Sequence: break;
        default: return {};  // not a DTD model: nothing here to judge
        }
        nodes.push_back(node);
        if (node->getFirst()) pending.emplace_back(node->getFirst(), depth + 1);
        if (node->getSecond()) pending.emplace_back(node->getSecond(), depth + 1);
    }

    // Positions are the element particles; the automaton has at most 2^positions states.
    std::unordered_map<const ContentSpecNode*, std::size_t> index;
    std::vector<std::size_t> nameOf;  // position -> name number
    std::unordered_map<std::basic_string<XMLCh>, std::size_t> names;
    std::unordered_map<const ContentSpecNode*, std::size_t> position;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        index[nodes[i]] = i;
        if (nodes[i]->getType() != ContentSpecNode::Leaf || !nodes[i]->getElement()) continue;
        const XMLCh* raw = nodes[i]->getElement()->getRawName();
        const std::basic_string<XMLCh> name = raw ? std::basic_string<XMLCh>(raw) : std::basic_string<XMLCh>();
        position[nodes[i]] = nameOf.size();
        nameOf.push_back(names.emplace(name, names.size()).first->second);
    }
    const std::size_t count = nameOf.size();
    if (count <= limits.maxAmbiguousParticles) return {};

    // Glushkov sets, children before parents: the model is deterministic when no first set and
    // no follow set holds two positions of the same name.
    using Set = std::vector<std::uint64_t>;
    const std::size_t words = (count + 63) / 64;
    const auto unite = [](Set& into, const Set& from) {
        for (std::size_t w = 0; w < into.size(); ++w) into[w] |= from[w];
    };
    std::vector<Set> first(nodes.size(), Set(words)), last(nodes.size(), Set(words)), follow(count, Set(words));
    std::vector<bool> nullable(nodes.size());
    const auto addFollow = [&](const Set& from, const Set& to) {
        for (std::size_t w = 0; w < words; ++w)
            for (std::uint64_t bits = from[w]; bits; bits &= bits - 1)
                unite(follow[w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))], to);
    };
    for (std::size_t i = nodes.size(); i-- > 0;) {
        const ContentSpecNode* node = nodes[i];
        const std::size_t a = node->getFirst() ? index[node->getFirst()] : nodes.size();
        const std::size_t b = node->getSecond() ? index[node->getSecond()] : nodes.size();
        switch (node->getType()) {
        case ContentSpecNode::Leaf:
            if (position.count(node)) {
                const std::size_t p = position[node];
                first[i][p / 64] |= std::uint64_t{1} << (p % 64);
                last[i] = first[i];
            } else {
                nullable[i] = true;  // #PCDATA
            }
            break;
        case ContentSpecNode::ZeroOrOne:
        case ContentSpecNode::ZeroOrMore:
        case ContentSpecNode::OneOrMore:
            if (a == nodes.size()) break;
            first[i] = first[a];
            last[i] = last[a];
            nullable[i] = node->getType() != ContentSpecNode::OneOrMore || nullable[a];
            if (node->getType() != ContentSpecNode::ZeroOrOne) addFollow(last[a], first[a]);
            break;
        default: {  // Choice, Sequence; a missing second operand leaves the first alone
            if (a == nodes.size()) break;
            first[i] = first[a];
            last[i] = last[a];
            nullable[i] = nullable[a];
            if (b == nodes.size()) break;
            if (node->getType() == ContentSpecNode::Choice) {
                unite(first[i], first[b]);
                unite(last[i], last[b]);
                nullable[i] = nullable[a] || nullable[b];
            } else {
                addFollow(last[a], first[b]);
                if (nullable[a]) unite(first[i], first[b]);
                last[i] = last[b];
                if (nullable[b]) unite(last[i], last[a]);
                nullable[i] = nullable[a] && nullable[b];
            }
        }
        }
    }
    std::vector<std::size_t> seen(names.size(), 0);
    std::size_t stamp = 0;
    const auto deterministic = [&](const Set& set) {
        ++stamp;
        for (std::size_t w = 0; w < words; ++w)
            for (std::uint64_t bits = set[w]; bits; bits &= bits - 1) {
                const std::size_t name = nameOf[w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))];
                if (seen[name] == stamp) return false;
                seen[name] = stamp;
            }
        return true;
    };
    bool ok = deterministic(first[0]);
    for (std::size_t p = 0; ok && p < count; ++p) ok = deterministic(follow[p]);
    if (ok) return {};
    return refuse("is not deterministic and has more than " + std::to_string(limits.maxAmbiguousParticles) +
                  " particles");
}

}  // namespace

void ParseBounds::ElementDecl(const DTDElementDecl& decl) {
    const std::string refusal = ContentModelRefusal(decl, m_limits);
    if (!refusal.empty()) throw SAXException(refusal.c_str());
}

void ParseBounds::SetLimits(const sLimits& limits, std::size_t inputBytes) {
    m_limits = limits;
    m_inputBytes = inputBytes;
}

void ParseBounds::Deliver(std::size_t characters) {
    m_delivered += characters;
    if (m_delivered - std::min(m_delivered, m_inputBytes) > m_limits.maxExpandedCharacters)
        throw SAXException(("entity expansion and attribute defaults produced more than " +
                            std::to_string(m_limits.maxExpandedCharacters) + " characters")
                               .c_str());
}

// The DOM compares each attribute it adds with every one before it: n attributes cost
// n*(n-1)/2, and each attribute seen gives back 32, so elements of up to 64 attributes are free.
// weight: how many times dearer each comparison is than one of a start tag.
void ParseBounds::ChargeAttributes(std::size_t count, const char* what, std::size_t weight) {
    m_attributeCost += count * (count - (count > 0)) / 2 * weight;
    m_attributes += count;
    if (m_attributeCost > m_attributes * 32 + m_limits.maxAttributeCost)
        throw SAXException((std::string(what) + " with " + std::to_string(count) +
                            " attributes: past the attribute cost bound of " +
                            std::to_string(m_limits.maxAttributeCost) + " comparisons")
                               .c_str());
}

void ParseBounds::EndAttList(const DTDElementDecl& elemDecl) {
    // Each attribute list of an element makes every default attribute of that element again.
    std::size_t defaults = 0;
    if (elemDecl.hasAttDefs()) {
        const XMLAttDefList& list = elemDecl.getAttDefList();
        const XMLSize_t count = list.getAttDefCount();
        for (XMLSize_t i = 0; i < count; ++i)
            if (const XMLCh* value = list.getAttDef(i).getValue()) defaults += XMLString::stringLen(value) + 1;
        // Measured: a default attribute made this way costs about eight attributes of a tag.
        ChargeAttributes(count,
                         ("the attribute list of element '" + XStr::ToLocal(elemDecl.getFullName()) + "'").c_str(), 8);
    }
    Deliver(defaults);
}

void ParseBounds::Characters(const XMLCh* chars, XMLSize_t length) {
    Deliver(length);
    if (m_leaf) NoteContent(chars, length);
}

void ParseBounds::StartDocument() {
    m_delivered = 0;
    m_attributeCost = 0;
    m_attributes = 0;
    m_depth = 0;
    m_declared.clear();
    m_inScope = 0;
    m_inEntity = 0;
    m_expandedNodes = 0;
    m_enumerations.Reset(m_limits.maxEnumerationComparisons);
    m_dtdEnumerated.clear();
    m_leaf = false;
    m_grammarsSeen = 0;
    m_xsi = m_xmlns = 0;
}

void ParseBounds::StartElement(const StartTag& tag) {
    const RefVectorOf<XMLAttr>& attrList = tag.attributes;
    const XMLSize_t attrCount = tag.count;
    if (m_depth >= m_limits.maxDepth)
        throw SAXException(("elements nested deeper than " + std::to_string(m_limits.maxDepth) + " levels").c_str());
    ChargeAttributes(attrCount, "an element", 1);
    ChargeNames(tag);
    ChargeEnumerations(tag);
    std::size_t declared = 0;
    std::size_t characters = 0;
    std::size_t defaulted = 0;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr* attr = attrList.elementAt(i);
        defaulted += attr->getSpecified() ? 0 : 1;
        const std::size_t length = XMLString::stringLen(attr->getValue());
        if (length > m_limits.maxAttributeLength)
            throw SAXException(
                (msg::kLongAttribute + std::to_string(m_limits.maxAttributeLength) + msg::kLongAttributeEnd).c_str());
        characters += length;
        const XMLCh* const prefix = attr->getPrefix();
        if (XMLString::equals(prefix, XMLUni::fgXMLNSString) ||
            ((!prefix || !*prefix) && XMLString::equals(attr->getName(), XMLUni::fgXMLNSString)))
            ++declared;
    }
    // Nodes the input did not write: everything made inside an entity reference, and the
    // attributes a DTD default adds to each element that receives it (a few hundred bytes of
    // declarations would otherwise make millions of attributes).
    m_expandedNodes += m_inEntity > 0 ? 1 + attrCount : defaulted;
    if (m_expandedNodes > m_limits.maxExpandedNodes)
        throw SAXException(((m_inEntity > 0 ? msg::kExpandedNodes : msg::kDefaultedAttributes) +
                            std::to_string(m_limits.maxExpandedNodes) +
                            (m_inEntity > 0 ? msg::kExpandedNodesEnd : msg::kDefaultedAttributesEnd))
                               .c_str());
    Deliver(characters);
    if (m_inScope + declared > m_limits.maxNamespacesInScope)
        throw SAXException(
            ("more than " + std::to_string(m_limits.maxNamespacesInScope) + " namespace declarations in scope")
                .c_str());
    ++m_depth;
    m_declared.push_back(declared);
    m_inScope += declared;
}

// The scanner numbers element declarations (those of the grammar, and those it makes for
// undeclared names) and namespace URIs in order: an id is the count of distinct ones before it.
void ParseBounds::ChargeNames(const StartTag& tag) {
    std::size_t highest = std::max<std::size_t>(tag.decl.getId(), tag.urlId);
    for (XMLSize_t i = 0; i < tag.count; ++i)
        highest = std::max<std::size_t>(highest, tag.attributes.elementAt(i)->getURIId());
    if (highest >= m_limits.maxDistinctNames)
        throw SAXException(
            ("more than " + std::to_string(m_limits.maxDistinctNames) + " distinct element names or namespace URIs")
                .c_str());
}

void ParseBounds::StartEntity(const XMLEntityDecl& /*entity*/) { ++m_inEntity; }

void ParseBounds::EndEntity() {
    if (m_inEntity > 0) --m_inEntity;
}

void ParseBounds::EndElement(bool /*emptyTag*/) {
    if (m_depth > 0) --m_depth;
    if (!m_declared.empty()) {
        m_inScope -= m_declared.back();
        m_declared.pop_back();
    }
    if (m_leaf) {
        // An element without children: its text is the value the validator checked.
        if (m_retyped)
            m_enumerations.ChargeWords(Dearest(), m_words);
        else if (m_leafType && m_leafText.size() >= kMaxKeptValue)
            m_enumerations.ChargeWords(m_enumerations.PerWord(m_leafType), m_words);
        else if (m_leafType)
            m_enumerations.ChargeValue(*m_leafType, m_leafText);
        m_leaf = false;
    }
}

void ParseBounds::ChargeDtdEnumerations(const StartTag& tag) {
    auto known = m_dtdEnumerated.find(&tag.decl);
    if (known == m_dtdEnumerated.end()) {
        std::vector<std::pair<const XMLCh*, const XMLCh*>> enumerated;
        if (tag.decl.hasAttDefs()) {
            const XMLAttDefList& list = tag.decl.getAttDefList();
            for (XMLSize_t i = 0; i < list.getAttDefCount(); ++i) {
                const XMLAttDef& def = list.getAttDef(i);
                const XMLCh* const names = def.getEnumeration();
                if ((def.getType() == XMLAttDef::Enumeration || def.getType() == XMLAttDef::Notation) && names &&
                    m_enumerations.Listed(names) > EnumerationBudget::kFreeComparisons)
                    enumerated.emplace_back(def.getFullName(), names);
            }
        }
        known = m_dtdEnumerated.emplace(&tag.decl, std::move(enumerated)).first;
    }
    for (const auto& [attribute, names] : known->second)
        for (XMLSize_t i = 0; i < tag.count; ++i) {
            const XMLAttr* const attr = tag.attributes.elementAt(i);
            if (XMLString::equals(attr->getQName(), attribute))
                m_enumerations.ChargeListed(names, attr->getValue() ? attr->getValue() : u"");
        }
}

void ParseBounds::ChargeEnumerations(const StartTag& tag) {
    const XMLElementDecl& elemDecl = tag.decl;
    if (elemDecl.getObjectType() == XMLElementDecl::DTD && m_scanner &&
        m_scanner->getValidationScheme() != XMLScanner::Val_Never)
        ChargeDtdEnumerations(tag);
    m_leaf = elemDecl.getObjectType() == XMLElementDecl::Schema && m_scanner;
    // Cached grammars that declare no enumeration anywhere: no value can cost a comparison.
    if (m_cachedGrammars && m_dearestEnumeration == 0) m_leaf = false;
    if (!m_leaf) return;
    m_leafType = ContentType(elemDecl);
    if (m_enumerations.PerWord(m_leafType) == 0) m_leafType = nullptr;  // no enumeration: nothing to keep
    m_leafText.clear();
    m_words = 0;
    m_inWord = false;
    m_retyped = false;
    if (m_xsi == 0) {  // once a parse: the scanner's pool holds both names from its start
        XMLStringPool* uris = m_scanner->getURIStringPool();
        m_xsi = uris->getId(SchemaSymbols::fgURI_XSI);
        m_xmlns = uris->getId(XMLUni::fgXMLNSURIName);
    }
    const auto& schemaDecl = static_cast<const SchemaElementDecl&>(elemDecl);
    for (XMLSize_t i = 0; i < tag.count; ++i) {
        const XMLAttr* attr = tag.attributes.elementAt(i);
        const XMLCh* const value = attr->getValue() ? attr->getValue() : u"";
        if (attr->getURIId() == m_xsi) {
            m_retyped = m_retyped || XMLString::equals(attr->getName(), SchemaSymbols::fgXSI_TYPE);
            continue;
        }
        if (attr->getURIId() == m_xmlns) continue;
        const SchemaAttDef* declared = schemaDecl.getAttDef(attr->getName(), static_cast<int>(attr->getURIId()));
        if (const DatatypeValidator* type = declared ? declared->getDatatypeValidator() : nullptr)
            m_enumerations.ChargeValue(*type, value);
        else  // a wildcard may find it a declaration anywhere in the grammars
            m_enumerations.ChargeWords(Dearest(), Words(value));
    }
    // The text is looked at only where an enumeration may be searched for it.
    m_leaf = m_retyped || m_leafType;
}

void ParseBounds::NoteContent(const XMLCh* chars, XMLSize_t length) {
    for (XMLSize_t i = 0; i < length; ++i) {
        const bool space = IsXmlSpace(chars[i]);
        m_words += !space && !m_inWord;
        m_inWord = !space;
    }
    if (m_leafType && m_leafText.size() < kMaxKeptValue)
        m_leafText.append(chars, std::min<std::size_t>(length, kMaxKeptValue - m_leafText.size()));
}

std::size_t ParseBounds::Dearest() {
    if (m_cachedGrammars) return m_dearestEnumeration;
    // The document's own schemas, read as it names them: judged again when one is added.
    if (!m_grammars) return 0;
    std::size_t grammars = 0;
    for (auto all = m_grammars->getGrammarEnumerator(); all.hasMoreElements(); all.nextElement()) ++grammars;
    if (grammars != m_grammarsSeen) {
        m_grammarsSeen = grammars;
        m_dearestOwn = DearestEnumeration(m_grammars->getGrammarEnumerator());
    }
    return m_dearestOwn;
}

}  // namespace XML::internal
