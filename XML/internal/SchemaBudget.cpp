#include "XML/internal/SchemaBudget.h"

#include "XML/XStr.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/DtdBudget.h"
#include "XML/internal/ResourceGate.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace xercesc;

namespace XML::internal {

namespace {

using Count = std::uint64_t;
constexpr Count kMax = std::numeric_limits<Count>::max();
// Groups nested in one pattern: the parser of regular expressions recurses once per group.
constexpr std::size_t kMaxPatternNesting = 256;

Count Sum(Count a, Count b) { return a > kMax - b ? kMax : a + b; }
Count Product(Count a, Count b) { return a != 0 && b > kMax / a ? kMax : a * b; }

// --- Patterns ---------------------------------------------------------------------------

// The stack a part of a pattern may take the matcher for a value of at most kShortValue
// characters (it recurses then without allocating, so nothing stops it), in bytes: a traversal
// of the part that matched c characters keeps at most done + perChar * (c - minLength) on the
// stack, and one still in progress at most open + openPerChar * c. A repetition keeps a level
// per pass, and every pass matches a character at least (a part that can match nothing is never
// repeated), so its levels are paid per character.
struct Shape {
    bool nullable = true;
    Count minLength = 0;
    Count done = 0, perChar = 0, open = 0, openPerChar = 0;
    // Holds a part that can match nothing and repeats ("a*", "(a?)+", "a{0,5}"): the matcher
    // recurses without end on a group that can match nothing around it (on "ac", "(b?a*)*b"
    // overflows any stack). Optional parts alone ("(a?)*", "(a|)*") it matches within its stack.
    bool nullableRepeat = false;
    // The shortest match that is not empty (kMax: none): a pass of a repetition that matches
    // nothing ends it, so every level of its recursion takes that many characters at least.
    Count minFilled = kMax;
};
// Levels measured on Xerces 3.2 (x86-64, -O2), with a margin: the matcher tries each of several
// alternatives a level deeper (434 bytes), and makes a level per pass of a repetition or
// optional part (150 bytes).
constexpr Count kChoiceLevel = 448;
constexpr Count kRepeatLevel = 160;
// What the matcher may take of a thread's stack for a short value: a thread of 256 KiB keeps
// room for the parser around it.
constexpr Count kShortValueStack = Count{176} << 10;

Count Ceil(Count a, Count b) { return a / b + (a % b != 0); }

struct PatternParser {
    const std::string& p;
    std::size_t i = 0;
    std::string why;

    // Parses alternatives up to the closing parenthesis or the end.
    Shape Alternatives(std::size_t depth) {
        Shape all{false, kMax, 0, 0, 0, 0}, branch;
        bool choice = false;
        const auto close = [&all, &branch] {
            all.nullable = all.nullable || branch.nullable;
            all.nullableRepeat = all.nullableRepeat || branch.nullableRepeat;
            all.minLength = std::min(all.minLength, branch.minLength);
            all.minFilled = std::min(all.minFilled, std::max(branch.minLength, branch.minFilled));
            all.done = std::max(all.done, branch.done);
            all.perChar = std::max(all.perChar, branch.perChar);
            all.open = std::max(all.open, branch.open);
            all.openPerChar = std::max(all.openPerChar, branch.openPerChar);
            branch = Shape{};
        };
        while (i < p.size() && p[i] != ')' && why.empty()) {
            if (p[i] == '|') {
                close();
                choice = true;
                ++i;
                continue;
            }
            Shape atom{false, 1, 0, 0, 0, 0};
            atom.minFilled = 1;
            bool group = false;
            if (p[i] == '(') {
                if (depth + 1 > kMaxPatternNesting) {
                    why = "nests more than " + std::to_string(kMaxPatternNesting) + " groups";
                    return all;
                }
                ++i;
                atom = Alternatives(depth + 1);
                if (i < p.size()) ++i;
                group = true;
            } else if (p[i] == '[') {
                SkipClass();
            } else if (p[i] == '\\') {
                i += 2;
                if (i < p.size() && p[i] == '{' && (p[i - 1] == 'p' || p[i - 1] == 'P')) {
                    const std::size_t end = p.find('}', i);
                    i = end == std::string::npos ? p.size() : end + 1;
                }
            } else {
                ++i;
            }
            Count min = 1, max = 1;
            if (i < p.size()) Quantifier(min, max);
            if (group && atom.nullable && atom.nullableRepeat && max > 1) {
                why = "repeats a group that can match nothing (the matcher would recurse without end)";
                return all;
            }
            const bool repeatsNothing = max > 1 && (min == 0 || atom.nullable);
            Repeat(atom, min, max);
            atom.nullableRepeat = atom.nullableRepeat || repeatsNothing;
            branch.nullableRepeat = branch.nullableRepeat || atom.nullableRepeat;
            branch.nullable = branch.nullable && atom.nullable;
            branch.open = std::max(branch.open, Sum(branch.done, atom.open));
            branch.openPerChar = std::max(branch.openPerChar, atom.openPerChar);
            branch.minLength = Sum(branch.minLength, atom.minLength);
            branch.minFilled = std::min(branch.minFilled, atom.minFilled);
            branch.done = Sum(branch.done, atom.done);
            branch.perChar = std::max(branch.perChar, atom.perChar);
            Unfinished(branch);
        }
        close();
        if (choice) {
            all.done = Sum(all.done, kChoiceLevel);
            all.open = Sum(all.open, kChoiceLevel);
        }
        Unfinished(all);
        return all;
    }
    // A part longer than a short value never completes within one.
    static void Unfinished(Shape& shape) {
        if (shape.minLength > kShortValue) shape.done = 0;
    }
    // The shape of atom repeated from min to max times: the matcher keeps a level per pass
    // beyond min (a plain copy below min).
    static void Repeat(Shape& atom, Count min, Count max) {
        if (max == 0) {
            atom = Shape{};
            return;
        }
        if (min == 1 && max == 1) return;
        const Shape one = atom;
        atom.nullable = one.nullable || min == 0;
        atom.minLength = Product(one.minLength, min);
        const Count pass = Sum(kRepeatLevel, one.done);
        // Passes of c1, c2... characters keep at most pass + perChar * (ci - minLength) each, every
        // ci at least minLength, or minFilled when the part can match nothing (an empty pass ends
        // the repetition): per character, the larger of the two.
        const Count filled = one.minLength > 0 ? one.minLength : std::min<Count>(one.minFilled, kShortValue);
        const Count perPass = std::max(one.perChar, Ceil(pass, std::max<Count>(filled, 1)));
        if (Product(max, pass) <= Product(perPass, kShortValue)) {
            // Few passes: counted each, whatever they match.
            atom.done = Sum(Product(one.done, min), Product(max - min, pass));
            atom.perChar = one.perChar;
            atom.open = Sum(Sum(kRepeatLevel, one.open), Product(max - 1, pass));
            atom.openPerChar = std::max(one.openPerChar, one.perChar);
        } else {
            atom.done = Product(one.done, min);
            if (max > min) atom.perChar = perPass;
            atom.open = Sum(kRepeatLevel, one.open);
            atom.openPerChar = std::max(one.openPerChar, perPass);
        }
        Unfinished(atom);
    }

    void SkipClass() {
        std::size_t open = 0;
        while (i < p.size()) {
            if (p[i] == '\\') {
                i += 2;
                continue;
            }
            if (p[i] == '[') ++open;
            if (p[i] == ']' && --open == 0) {
                ++i;
                return;
            }
            ++i;
        }
    }
    void Quantifier(Count& min, Count& max) {
        const char q = p[i];
        if (q == '?' || q == '*' || q == '+') {
            min = q == '+' ? 1 : 0;
            max = q == '?' ? 1 : kMax;
            ++i;
        } else if (q == '{') {
            const std::size_t end = p.find('}', i);
            if (end == std::string::npos) return;
            const std::string inside = p.substr(i + 1, end - i - 1);
            const std::size_t comma = inside.find(',');
            min = std::strtoull(inside.c_str(), nullptr, 10);
            if (comma == std::string::npos)
                max = min;
            else
                max = comma + 1 == inside.size() ? kMax : std::strtoull(inside.c_str() + comma + 1, nullptr, 10);
            i = end + 1;
        }
    }
};

// --- Schema documents ---------------------------------------------------------------------

const XMLCh kSchemaNamespace[] = u"http://www.w3.org/2001/XMLSchema";
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

std::string LocalPart(const std::string& qname) {
    const std::size_t colon = qname.rfind(':');
    return colon == std::string::npos ? qname : qname.substr(colon + 1);
}
bool Is(const XMLCh* localName, const char16_t* name) {
    return XMLString::equals(localName, reinterpret_cast<const XMLCh*>(name));
}
// An occurrence bound; huge values saturate.
Count Occurs(const std::string& text, Count absent) {
    if (text.empty()) return absent;
    Count value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return absent;
        value = Sum(Product(value, 10), static_cast<Count>(c - '0'));
    }
    return value;
}

// One element of a schema document, as the judge reads it: what it is, its parent, and the few
// attributes the judge looks at (kept for the schema's own elements only). A type is found by
// its local name whatever its namespace, as an element that holds a derivation.
struct SchemaElement {
    enum Kind { Other, Model, Leaf, Group, ComplexType, Content, Extension, Restriction, List, SimpleType, Pattern };
    Kind kind = Other;
    bool schema = false;
    std::size_t parent = kNone;
    bool hasRef = false;
    std::string name, ref, minOccurs, maxOccurs, base, value;
};

SchemaElement::Kind KindOf(const XMLCh* local) {
    using K = SchemaElement::Kind;
    if (Is(local, u"sequence") || Is(local, u"choice") || Is(local, u"all")) return K::Model;
    if (Is(local, u"element") || Is(local, u"any")) return K::Leaf;
    if (Is(local, u"group")) return K::Group;
    if (Is(local, u"complexType")) return K::ComplexType;
    if (Is(local, u"complexContent") || Is(local, u"simpleContent")) return K::Content;
    if (Is(local, u"extension")) return K::Extension;
    if (Is(local, u"restriction")) return K::Restriction;
    if (Is(local, u"list")) return K::List;
    if (Is(local, u"simpleType")) return K::SimpleType;
    if (Is(local, u"pattern")) return K::Pattern;
    return K::Other;
}

// Reads a schema document with every bound of a load, building no tree: only the elements, in
// document order, with what the judge needs of them.
class SchemaReader : public BoundedDOMParser {
public:
    SchemaReader() : BoundedDOMParser(nullptr, XMLPlatformUtils::fgMemoryManager, nullptr) { BuildTree(false); }
    std::vector<SchemaElement> elements;

    void startElement(const XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                      const RefVectorOf<XMLAttr>& attrs, const XMLSize_t count, const bool isEmpty,
                      const bool isRoot) override {
        // The bounds first (told the element is not empty, so that the base does not end it
        // before it is read here).
        BoundedDOMParser::startElement(decl, urlId, prefix, attrs, count, false, isRoot);
        SchemaElement element;
        element.kind = KindOf(decl.getBaseName());
        element.schema = urlId != getScanner()->getEmptyNamespaceId() &&
                         XMLString::equals(getScanner()->getURIText(urlId), kSchemaNamespace);
        element.parent = m_open.empty() ? kNone : m_open.back();
        if (element.schema || element.kind == SchemaElement::ComplexType || element.kind == SchemaElement::SimpleType)
            for (XMLSize_t i = 0; i < count; ++i) Keep(element, *attrs.elementAt(i));
        m_open.push_back(elements.size());
        elements.push_back(std::move(element));
        if (isEmpty) endElement(decl, urlId, isRoot, prefix);
    }
    void endElement(const XMLElementDecl& decl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const prefix) override {
        if (!m_open.empty()) m_open.pop_back();
        BoundedDOMParser::endElement(decl, urlId, isRoot, prefix);
    }

private:
    static void Keep(SchemaElement& element, const XMLAttr& attr) {
        const XMLCh* const name = attr.getQName();
        const char16_t* const base = element.kind == SchemaElement::List ? u"itemType" : u"base";
        const std::pair<const char16_t*, std::string SchemaElement::*> kept[] = {
            {u"name", &SchemaElement::name},
            {u"ref", &SchemaElement::ref},
            {u"minOccurs", &SchemaElement::minOccurs},
            {u"maxOccurs", &SchemaElement::maxOccurs},
            {base, &SchemaElement::base},
            {u"value", &SchemaElement::value}};
        for (const auto& [attribute, member] : kept)
            if (Is(name, attribute)) {
                element.*member = XStr::ToLocal(attr.getValue());
                element.hasRef = element.hasRef || member == &SchemaElement::ref;
                return;
            }
    }
    std::vector<std::size_t> m_open;
};

}  // namespace

std::string PatternRefusal(const std::string& pattern) {
    PatternParser parser{pattern, 0, {}};
    Shape whole;
    while (parser.why.empty() && parser.i < pattern.size()) {
        // Parts after an unbalanced ')' (the validator reports it) count as a sequence.
        const Shape part = parser.Alternatives(0);
        whole.open = std::max(whole.open, Sum(whole.done, part.open));
        whole.openPerChar = std::max(whole.openPerChar, part.openPerChar);
        whole.done = Sum(whole.done, part.done);
        ++parser.i;
    }
    if (parser.why.empty()) {
        const Count stack = Sum(whole.open, Product(whole.openPerChar, kShortValue));
        if (stack > kShortValueStack)
            parser.why = "may take the matcher " + std::to_string(stack >> 10) + " KiB of stack for a value of " +
                         std::to_string(kShortValue) + " characters, more than " +
                         std::to_string(kShortValueStack >> 10) + " KiB (alternatives nested in a repetition)";
    }
    return parser.why.empty() ? std::string() : "the pattern '" + pattern + "' " + parser.why;
}

std::string SchemaBudget::Add(const std::string& bytes, const XMLCh* systemId) {
    const std::string name = XStr::ToLocal(systemId);
    const auto refuse = [&name](const std::string& why) { return "schema '" + name + "': " + why; };
    const DtdVerdict dtd = JudgeDtd(bytes, true, systemId, m_limits, m_gate);
    m_bytesRead += dtd.bytesRead;
    if (!dtd.refusal.empty()) return refuse(dtd.refusal);

    // Read with the same bounds as a document; its grammar is not loaded, nothing is validated.
    SecurityManager security;
    security.setEntityExpansionLimit(static_cast<XMLSize_t>(m_limits.maxEntityExpansions));
    SchemaReader parser;
    parser.SetLimits(m_limits, bytes.size() + dtd.bytesRead);
    parser.setDoNamespaces(true);
    parser.setValidationScheme(AbstractDOMParser::Val_Never);
    parser.setLoadExternalDTD(false);
    parser.setDisableDefaultEntityResolution(true);
    parser.setCreateEntityReferenceNodes(false);
    parser.setSecurityManager(&security);
    try {
        const MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), systemId, false,
                                       XMLPlatformUtils::fgMemoryManager);
        parser.parse(source);
    } catch (const SAXParseException&) {
        return {};  // not well-formed: the validator reports it
    } catch (const SAXException& e) {
        return refuse(XStr::ToLocal(e.getMessage()));
    }
    const std::vector<SchemaElement>& elements = parser.elements;
    const std::size_t firstNew = m_types.size();
    std::vector<std::string> declared;  // groups and named types, as the waiting types name them

    // Every element of the schema namespace, in document order, with the particle its particles
    // belong to (that of its parent element).
    std::vector<std::size_t> inside(elements.size(), kNone);  // the particle each element's children belong to
    for (std::size_t index = 0; index < elements.size(); ++index) {
        const SchemaElement& element = elements[index];
        if (!element.schema) continue;
        const std::size_t parent = element.parent == kNone ? kNone : inside[element.parent];
        const SchemaElement::Kind kind = element.kind;
        const bool group = kind == SchemaElement::Model;
        const bool leaf = kind == SchemaElement::Leaf;
        const bool ref = kind == SchemaElement::Group && element.hasRef;
        if ((group || leaf || ref) && parent != kNone) {
            Particle particle;
            particle.kind = leaf ? Particle::Leaf : ref ? Particle::Ref : Particle::Group;
            particle.min = Occurs(element.minOccurs, 1);
            particle.unbounded = element.maxOccurs == "unbounded";
            particle.max = particle.unbounded ? kMax : Occurs(element.maxOccurs, 1);
            if (ref) particle.ref = LocalPart(element.ref);
            m_particles.push_back(particle);
            m_particles[parent].children.push_back(m_particles.size() - 1);
            if (group) inside[index] = m_particles.size() - 1;
        } else if (kind == SchemaElement::Group || kind == SchemaElement::ComplexType) {
            m_particles.emplace_back();
            inside[index] = m_particles.size() - 1;
            const std::string& named = element.name;
            if (kind == SchemaElement::Group) {
                if (!named.empty() && m_groups.emplace(named, inside[index]).second) declared.push_back("g:" + named);
            } else {
                m_types.push_back(Type{named, inside[index], {}, false});
                m_typeByContent[inside[index]] = m_types.size() - 1;
                if (!named.empty() && m_namedTypes.emplace(named, m_types.size() - 1).second)
                    declared.push_back("t:" + named);
            }
        } else if (kind == SchemaElement::Content) {
            inside[index] = parent;
        } else if (kind == SchemaElement::Extension || kind == SchemaElement::Restriction ||
                   kind == SchemaElement::List) {
            inside[index] = parent;
            const std::string base = LocalPart(element.base);
            // The type this derivation belongs to: the nearest complexType or simpleType above.
            for (std::size_t up = element.parent; up != kNone; up = elements[up].parent) {
                const SchemaElement& above = elements[up];
                if (above.kind != SchemaElement::ComplexType && above.kind != SchemaElement::SimpleType) continue;
                if (!above.name.empty() && !base.empty() && base != above.name) Derive(above.name, base);
                const auto type = m_typeByContent.find(parent);
                if (above.kind == SchemaElement::ComplexType && type != m_typeByContent.end()) {
                    m_types[type->second].base = base;
                    m_types[type->second].extension = kind == SchemaElement::Extension;
                }
                break;
            }
        } else if (kind == SchemaElement::Pattern) {
            const std::string refusal = PatternRefusal(element.value);
            if (!refusal.empty()) return refuse(refusal);
        }
    }
    const std::string refusal = Judge(firstNew, declared);
    return refusal.empty() ? refusal : refuse(refusal);
}

std::string SchemaBudget::Judge(std::size_t firstNew, const std::vector<std::string>& declared) {
    std::set<std::size_t> due;
    for (std::size_t t = firstNew; t < m_types.size(); ++t) due.insert(t);
    for (const std::string& name : declared) {
        const auto waiting = m_waiting.find(name);
        if (waiting == m_waiting.end()) continue;
        due.insert(waiting->second.begin(), waiting->second.end());
        m_waiting.erase(waiting);
    }
    for (const std::size_t t : due) {
        m_missing.clear();
        if (ContentSize(t) > m_limits.maxContentModelParticles) {
            const std::string which = m_types[t].name.empty() ? "an anonymous type" : "type '" + m_types[t].name + "'";
            return "the content model of " + which + " has more than " +
                   std::to_string(m_limits.maxContentModelParticles) +
                   " particles once its occurrence bounds are unrolled";
        }
        for (const std::string& name : m_missing) m_waiting[name].insert(t);
    }
    if (!m_longChain.empty())
        return "type '" + m_longChain + "' is derived through more than " +
               std::to_string(m_limits.maxDerivationDepth) + " levels";
    return {};
}

// Each type's steps are one more than its base's; a new link lengthens every chain above it, up
// to the bound (past it the load ends) and never twice round a cycle (left to the validator).
void SchemaBudget::Derive(const std::string& name, const std::string& base) {
    if (!m_bases.emplace(name, base).second) return;  // the first derivation of a name counts
    m_derived[base].push_back(name);
    const auto below = m_chain.find(base);
    std::vector<std::pair<std::string, std::size_t>> pending{{name, 1 + (below == m_chain.end() ? 0 : below->second)}};
    while (!pending.empty() && m_longChain.empty()) {
        const auto [type, length] = pending.back();
        pending.pop_back();
        std::size_t& known = m_chain[type];
        if (length <= known) continue;
        known = length;
        if (length > m_limits.maxDerivationDepth) {
            m_longChain = type;
            return;
        }
        const auto above = m_derived.find(type);
        if (above == m_derived.end()) continue;
        for (const std::string& derived : above->second)
            if (derived != name) pending.emplace_back(derived, length + 1);
    }
}

// The particles the validator makes of one: a repeated group is copied once per allowed
// occurrence, and so is everything inside it; an element or wildcard is copied only inside a
// repeated group (alone it is kept as one repeating particle).
SchemaBudget::Count SchemaBudget::Size(std::size_t index, bool repeated) {
    const Particle& particle = m_particles[index];
    const Count copies = particle.unbounded ? std::max<Count>(particle.min, 1) : std::max(particle.min, particle.max);
    if (particle.kind == Particle::Leaf) return repeated ? copies : 1;
    const bool inner = repeated || copies > 1;
    Count size = 0;
    if (particle.kind == Particle::Ref) {
        size = GroupSize(particle.ref, inner);
    } else {
        for (const std::size_t child : particle.children) size = Sum(size, Size(child, inner));
    }
    return Product(size, copies);
}

SchemaBudget::Count SchemaBudget::GroupSize(const std::string& name, bool repeated) {
    const auto group = m_groups.find(name);
    if (group == m_groups.end()) {
        m_missing.push_back("g:" + name);  // not read yet, or missing: the validator reports it
        return 1;
    }
    const auto key = std::make_pair(name, repeated);
    const auto memo = m_groupSizes.find(key);
    if (memo != m_groupSizes.end()) return memo->second;
    if (!m_groupsOpen.insert(key).second) return 0;
    const std::size_t missing = m_missing.size();
    const Count size = Size(group->second, repeated);
    m_groupsOpen.erase(key);
    if (m_missing.size() == missing) m_groupSizes.emplace(key, size);
    return size;
}

SchemaBudget::Count SchemaBudget::ContentSize(std::size_t index) {
    const auto memo = m_contentSizes.find(index);
    if (memo != m_contentSizes.end()) return memo->second;
    if (!m_contentsOpen.insert(index).second) return 0;
    const std::size_t missing = m_missing.size();
    const Type& type = m_types[index];
    Count size = Size(type.content, false);
    if (type.extension) {
        const auto base = m_namedTypes.find(type.base);
        if (base != m_namedTypes.end())
            size = Sum(size, ContentSize(base->second));
        else
            m_missing.push_back("t:" + type.base);
    }
    m_contentsOpen.erase(index);
    if (m_missing.size() == missing) m_contentSizes.emplace(index, size);
    return size;
}

InputSource* SchemaBudget::Read(const XMLResourceIdentifier& resource) {
    switch (resource.getResourceIdentifierType()) {
    case XMLResourceIdentifier::SchemaGrammar:
    case XMLResourceIdentifier::SchemaImport:
    case XMLResourceIdentifier::SchemaInclude:
    case XMLResourceIdentifier::SchemaRedefine: break;
    default: return nullptr;
    }
    if (!m_gate) return nullptr;
    const LocalResource* const schema = m_gate->Read(resource.getBaseURI(), resource.getSystemId());
    if (!schema) return m_gate->Open(resource);  // missing: a source that fails to open
    const XMLCh* const id = reinterpret_cast<const XMLCh*>(schema->systemId.c_str());
    if (schema->bytes.size() > kMaxSchemaFile)
        throw SAXException(
            ("schema '" + XStr::ToLocal(id) + "' is larger than " + std::to_string(kMaxSchemaFile >> 20) + " MiB")
                .c_str());
    // Judged once per load, however often the parser asks for it; compiling a schema never needs
    // its external DTD (bundles ship them without it), so the parser gets it without.
    const auto [judged, first] = m_judged.emplace(schema, &schema->bytes);
    if (first) {
        m_bytesRead += schema->bytes.size();
        if (std::optional<std::string> blanked = WithoutExternalSubset(schema->bytes)) {
            m_blanked.push_back(std::make_unique<std::string>(std::move(*blanked)));
            judged->second = m_blanked.back().get();
        }
        const std::string refusal = Add(*judged->second, id);
        if (!refusal.empty()) throw SAXException(refusal.c_str());
    }
    const std::string& bytes = *judged->second;
    return new MemBufInputSource(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), id, false,
                                 XMLPlatformUtils::fgMemoryManager);
}

}  // namespace XML::internal
