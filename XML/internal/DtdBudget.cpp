#include "XML/internal/DtdBudget.h"

#include "XML/XStr.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/Transcode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <utility>

namespace XML::internal {

namespace {

using Count = std::uint64_t;

Count Sum(Count a, Count b) {
    return a > std::numeric_limits<Count>::max() - b ? std::numeric_limits<Count>::max() : a + b;
}

// Ends the judgement: the document is refused, or more of it is needed.
struct Refused {
    std::string why;
};
struct NeedMore {};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x80 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '_' ||
           c == ':' || c == '.' || c == '-';
}
bool At(const std::string& t, std::size_t i, const char* s) { return t.compare(i, std::strlen(s), s) == 0; }

void SkipSpace(const std::string& t, std::size_t& i) {
    while (i < t.size() && IsSpace(t[i])) ++i;
}
std::string Name(const std::string& t, std::size_t& i) {
    const std::size_t start = i;
    while (i < t.size() && IsNameChar(t[i])) ++i;
    return t.substr(start, i - start);
}
// Moves i past the next end (or to the end of t); false when end is missing.
bool SkipPast(const std::string& t, std::size_t& i, const char* end) {
    const std::size_t at = t.find(end, i);
    i = at == std::string::npos ? t.size() : at + std::strlen(end);
    return at != std::string::npos;
}
// The quoted literal at i (i then past it); false, i at the end, when it is not closed.
bool Literal(const std::string& t, std::size_t& i, std::string& value) {
    if (i >= t.size() || (t[i] != '"' && t[i] != '\'')) return false;
    const std::size_t end = t.find(t[i], i + 1);
    if (end == std::string::npos) {
        i = t.size();
        return false;
    }
    value = t.substr(i + 1, end - i - 1);
    i = end + 1;
    return true;
}
// Where the content of an external entity starts, after a byte-order mark and text declaration.
std::size_t ContentStart(const std::string& t) {
    std::size_t i = At(t, 0, "\xEF\xBB\xBF") ? 3 : 0;
    if (At(t, i, "<?xml") && i + 5 < t.size() && IsSpace(t[i + 5])) SkipPast(t, i, "?>");
    return i;
}
struct Entity {
    std::string text;         // replacement text, once known
    std::u16string base;      // where the declaration was read: external ids are found from there
    std::u16string systemId;  // external entities: the system literal, then the resolved id
    bool external = false;
    bool unparsed = false;
    bool known = false;  // text holds the replacement text
    // General entities: the characters a reference produces and the levels of references it
    // opens, memoised once every entity it names is declared.
    int state = 0;  // 0 unknown, 1 being computed, 2 final
    Count output = 0;
    std::size_t height = 0;
};

enum class Until { End, Bracket, SectionEnd };

class Judge {
public:
    Judge(const sLimits& limits, std::size_t inputBytes, ResourceGate* gate)
        : m_limits(limits), m_inputBytes(inputBytes), m_gate(gate) {}

    void Document(std::string_view document, bool whole, const XMLCh* base, DtdVerdict& verdict);

private:
    [[noreturn]] void Refuse(const std::string& why) { throw Refused{why}; }
    std::string Figure(Count n) const { return std::to_string(n); }
    // Work is what the parser would build beyond the input, plus one reading of each entity;
    // it may reach the budget plus twice what was read.
    Count MaxWork() const { return Sum(m_limits.maxExpandedCharacters, 2 * (Count{m_inputBytes} + m_bytesRead)); }
    void Spend(Count n) {
        m_work = Sum(m_work, n);
        if (m_work > MaxWork())
            Refuse("the DTD expands to more than " + Figure(m_limits.maxExpandedCharacters) + " characters");
    }
    void Deeper(std::size_t depth) {
        if (depth > m_limits.maxEntityDepth)
            Refuse("entities nested deeper than " + Figure(m_limits.maxEntityDepth) + " levels");
    }

    const std::string& Text(Entity& entity);
    // The resource through the load's gate, counted once; null when unreadable or refused.
    const LocalResource* Fetch(const XMLCh* base, const XMLCh* systemId);
    void Decls(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth, Until until);
    void Conditional(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth);
    void Markup(const std::string& t, std::size_t& i, std::size_t depth, bool attlist, bool toEnd);
    void EntityDecl(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth);
    // Counts the names of an enumerated attribute type, one character of an ATTLIST at a time.
    void Group(char c);
    void Splice(const std::string& name, std::size_t depth, bool inMarkup, bool attlist);
    std::string Build(const std::string& literal, const std::string& entityName, std::size_t depth);
    Count Output(Entity& entity, std::size_t depth, bool& complete);
    Count LiteralOutput(const std::string& text, std::size_t depth, bool& complete, std::size_t& below);

    const sLimits& m_limits;
    const std::size_t m_inputBytes;
    ResourceGate* const m_gate;
    std::set<const LocalResource*> m_seen;
    Count m_work = 0;
    Count m_defaults = 0;
    // An enumerated attribute type being read: its names so far. A validating parser compares
    // each name with every one before it, so a list of n costs n(n-1)/2, summed over the DTD.
    bool m_inGroup = false;
    Count m_groupNames = 0;
    Count m_groupWork = 0;
    // Reading the internal subset (or what its parameter entities splice into it), where the
    // parser refuses parameter-entity references inside declarations instead of expanding them.
    bool m_internal = false;
    std::size_t m_bytesRead = 0;
    std::map<std::string, Entity> m_general, m_param;
};

const std::string& Judge::Text(Entity& entity) {
    if (entity.known) return entity.text;
    entity.known = true;
    const LocalResource* const resource = Fetch(reinterpret_cast<const XMLCh*>(entity.base.c_str()),
                                                reinterpret_cast<const XMLCh*>(entity.systemId.c_str()));
    if (!resource) return entity.text;  // unreadable or refused: the parser reports it if it needs it
    const std::string text = AsUtf8(resource->bytes);
    entity.text = text.substr(ContentStart(text));
    entity.systemId = resource->systemId;
    return entity.text;
}

const LocalResource* Judge::Fetch(const XMLCh* base, const XMLCh* systemId) {
    if (!m_gate) return nullptr;
    try {
        const LocalResource* const resource = m_gate->Read(base, systemId);
        if (resource && m_seen.insert(resource).second) m_bytesRead += resource->bytes.size();
        return resource;
    } catch (...) {
        return nullptr;
    }
}

void Judge::Document(std::string_view document, bool whole, const XMLCh* base, DtdVerdict& verdict) {
    const std::string t = AsUtf8(document);
    const auto more = [whole] {
        if (!whole) throw NeedMore{};
    };
    std::size_t i = At(t, 0, "\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        SkipSpace(t, i);
        if (At(t, i, "<?")) {
            if (!SkipPast(t, i, "?>")) more();
        } else if (At(t, i, "<!--")) {
            if (!SkipPast(t, i, "-->")) more();
        } else if (At(t, i, "<!DOCTYPE")) {
            break;
        } else {
            // What is left may be the start of a DOCTYPE cut off.
            if (t.size() - i < 9 && std::string("<!DOCTYPE").compare(0, t.size() - i, t, i) == 0) more();
            return;  // no document type declaration
        }
    }
    i += 9;
    SkipSpace(t, i);
    Name(t, i);
    SkipSpace(t, i);
    std::string systemLiteral, publicLiteral;
    bool external = false;
    if (At(t, i, "SYSTEM")) {
        i += 6;
        SkipSpace(t, i);
        external = Literal(t, i, systemLiteral);
    } else if (At(t, i, "PUBLIC")) {
        i += 6;
        SkipSpace(t, i);
        Literal(t, i, publicLiteral);
        SkipSpace(t, i);
        external = Literal(t, i, systemLiteral);
    }
    SkipSpace(t, i);
    const std::u16string documentBase = base ? reinterpret_cast<const char16_t*>(base) : u"";
    if (i < t.size() && t[i] == '[') {
        ++i;
        m_internal = true;
        Decls(t, i, documentBase, 0, Until::Bracket);
        m_internal = false;
    }
    if (t.find('>', i) == std::string::npos) more();
    if (external) {
        // The internal subset comes first and its declarations win, as in the parser.
        const XStr id(systemLiteral.c_str());
        if (const LocalResource* const resource = Fetch(base, id.unicodeForm())) {
            const std::string dtd = AsUtf8(resource->bytes);
            std::size_t j = ContentStart(dtd);
            Decls(dtd, j, resource->systemId, 0, Until::End);
        }
    }
    for (auto& [name, entity] : m_general) {
        bool complete = true;
        if (Output(entity, 1, complete) > m_limits.maxExpandedCharacters)
            Refuse("the entity '" + name + "' expands to more than " + Figure(m_limits.maxExpandedCharacters) +
                   " characters");
    }
    verdict.bytesRead = m_bytesRead;
    verdict.enumerationWork = m_groupWork;
}

void Judge::Decls(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth, Until until) {
    while (i < t.size()) {
        const char c = t[i];
        if (IsSpace(c)) {
            ++i;
            continue;
        }
        if (until == Until::Bracket && c == ']') {
            return;
        } else if (until == Until::SectionEnd && At(t, i, "]]>")) {
            i += 3;
            return;
        } else if (At(t, i, "<!--")) {
            SkipPast(t, i, "-->");
        } else if (At(t, i, "<?")) {
            SkipPast(t, i, "?>");
        } else if (At(t, i, "<![")) {
            i += 3;
            Conditional(t, i, base, depth);
        } else if (At(t, i, "<!ENTITY")) {
            i += 8;
            EntityDecl(t, i, base, depth);
        } else if (At(t, i, "<!")) {
            const bool attlist = At(t, i, "<!ATTLIST");
            i += 2;
            Markup(t, i, depth, attlist, false);
        } else if (c == '%' && i + 1 < t.size() && IsNameChar(t[i + 1])) {
            ++i;
            const std::string name = Name(t, i);
            if (i < t.size() && t[i] == ';') {
                ++i;
                Splice(name, depth, false, false);
            }
        } else {
            ++i;  // not well-formed: the parser reports it
        }
    }
}

void Judge::Conditional(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth) {
    SkipSpace(t, i);
    std::string keyword;
    if (i < t.size() && t[i] == '%') {
        ++i;
        const std::string name = Name(t, i);
        if (i < t.size() && t[i] == ';') ++i;
        const auto found = m_param.find(name);
        if (found != m_param.end()) {
            const std::string& text = Text(found->second);
            std::size_t j = 0;
            SkipSpace(text, j);
            keyword = Name(text, j);
        }
    } else {
        keyword = Name(t, i);
    }
    SkipSpace(t, i);
    if (i < t.size() && t[i] == '[') ++i;
    if (keyword == "INCLUDE") {
        Decls(t, i, base, depth, Until::SectionEnd);
        return;
    }
    // IGNORE (or not well-formed): skip to the matching end, nested sections included.
    for (std::size_t open = 1; open > 0 && i < t.size();) {
        if (At(t, i, "<![")) {
            ++open;
            i += 3;
        } else if (At(t, i, "]]>")) {
            --open;
            i += 3;
        } else {
            ++i;
        }
    }
}

void Judge::Markup(const std::string& t, std::size_t& i, std::size_t depth, bool attlist, bool toEnd) {
    while (i < t.size()) {
        const char c = t[i];
        if (c == '>' && !toEnd) {
            ++i;
            return;
        }
        if (c == '"' || c == '\'') {
            std::string value;
            if (!Literal(t, i, value)) return;
            if (attlist) {
                // Attribute defaults are expanded once, as they are declared.
                bool complete = true;
                std::size_t below = 0;
                m_defaults = Sum(m_defaults, LiteralOutput(value, 0, complete, below));
                if (m_defaults > m_limits.maxExpandedCharacters)
                    Refuse("attribute defaults expand to more than " + Figure(m_limits.maxExpandedCharacters) +
                           " characters");
            }
        } else if (c == '%' && i + 1 < t.size() && IsNameChar(t[i + 1])) {
            ++i;
            const std::string name = Name(t, i);
            if (i < t.size() && t[i] == ';') {
                ++i;
                Splice(name, depth, true, attlist);
            }
        } else {
            if (attlist) Group(c);
            ++i;
        }
    }
}

void Judge::Group(char c) {
    if (c == '(') {
        m_inGroup = true;
        m_groupNames = 1;
    } else if (m_inGroup && c == '|') {
        ++m_groupNames;
    } else if (m_inGroup && c == ')') {
        m_inGroup = false;
        m_groupWork = Sum(m_groupWork, m_groupNames * (m_groupNames - 1) / 2);
    }
}

void Judge::Splice(const std::string& name, std::size_t depth, bool inMarkup, bool attlist) {
    const auto found = m_param.find(name);
    if (found == m_param.end()) return;
    Entity& entity = found->second;
    if (entity.state == 1) return;  // a recursive reference: the parser reports it
    Deeper(depth + 1);
    const std::string& text = Text(entity);
    Spend(text.size());
    entity.state = 1;
    const bool internal = m_internal;
    m_internal = internal && !entity.external;
    std::size_t j = 0;
    if (inMarkup)
        Markup(text, j, depth + 1, attlist, true);
    else
        Decls(text, j, entity.external ? entity.systemId : entity.base, depth + 1, Until::End);
    m_internal = internal;
    entity.state = 0;
}

void Judge::EntityDecl(const std::string& t, std::size_t& i, const std::u16string& base, std::size_t depth) {
    SkipSpace(t, i);
    bool parameter = false;
    if (i + 1 < t.size() && t[i] == '%' && IsSpace(t[i + 1])) {
        parameter = true;
        ++i;
        SkipSpace(t, i);
    }
    std::string name;
    if (i < t.size() && t[i] == '%') {  // the name given by a parameter entity
        ++i;
        const std::string from = Name(t, i);
        if (i < t.size() && t[i] == ';') ++i;
        const auto found = m_param.find(from);
        if (found != m_param.end()) {
            const std::string& text = Text(found->second);
            std::size_t j = 0;
            SkipSpace(text, j);
            name = Name(text, j);
        }
    } else {
        name = Name(t, i);
    }
    SkipSpace(t, i);
    Entity entity;
    entity.base = base;
    std::string literal;
    if (Literal(t, i, literal)) {
        entity.text = Build(literal, name, depth);
        entity.known = true;
    } else if (At(t, i, "SYSTEM") || At(t, i, "PUBLIC")) {
        const bool isPublic = At(t, i, "PUBLIC");
        i += 6;
        SkipSpace(t, i);
        if (isPublic) {
            Literal(t, i, literal);
            SkipSpace(t, i);
        }
        if (Literal(t, i, literal)) {
            const XStr id(literal.c_str());
            entity.systemId = reinterpret_cast<const char16_t*>(id.unicodeForm());
            entity.external = true;
        }
        SkipSpace(t, i);
        entity.unparsed = At(t, i, "NDATA");
    }
    Markup(t, i, depth, false, false);
    if (name.empty() || (!entity.known && !entity.external)) return;
    (parameter ? m_param : m_general).emplace(name, std::move(entity));  // the first declaration wins
}

// A literal entity value as the parser stores it: parameter-entity references and character
// references replaced, general-entity references kept.
std::string Judge::Build(const std::string& literal, const std::string& entityName, std::size_t depth) {
    std::string out;
    // The literal's own text was read already; what parameter entities add is built.
    const auto append = [&](const std::string& text, bool built) {
        if (built) Spend(text.size());
        out += text;
        if (out.size() > m_limits.maxExpandedCharacters)
            Refuse("the entity '" + entityName + "' expands to more than " + Figure(m_limits.maxExpandedCharacters) +
                   " characters");
    };
    std::size_t plain = 0;  // start of the text not yet appended
    for (std::size_t i = 0; i < literal.size();) {
        const char c = literal[i];
        if (c == '%' && !m_internal && i + 1 < literal.size() && IsNameChar(literal[i + 1])) {
            append(literal.substr(plain, i - plain), false);
            ++i;
            const std::string name = Name(literal, i);
            if (i < literal.size() && literal[i] == ';') ++i;
            const auto found = m_param.find(name);
            if (found != m_param.end() && found->second.state != 1) {
                Entity& entity = found->second;
                Deeper(depth + 1);
                entity.state = 1;
                const std::string inner = Build(Text(entity), entityName, depth + 1);
                entity.state = 0;
                append(inner, true);
            }
            plain = i;
        } else if (c == '&' && i + 1 < literal.size() && literal[i + 1] == '#') {
            append(literal.substr(plain, i - plain), false);
            const std::size_t end = literal.find(';', i);
            if (end == std::string::npos) {
                plain = i;
                break;
            }
            const bool hex = i + 2 < literal.size() && literal[i + 2] == 'x';
            const std::string digits = literal.substr(i + (hex ? 3 : 2), end - i - (hex ? 3 : 2));
            char* stop = nullptr;
            const unsigned long code = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            std::string one;
            if (!digits.empty() && stop && *stop == '\0' && code <= 0x10FFFF) AppendUtf8(one, code);
            append(one, false);
            i = end + 1;
            plain = i;
        } else {
            ++i;
        }
    }
    append(literal.substr(plain), false);
    return out;
}

Count Judge::Output(Entity& entity, std::size_t depth, bool& complete) {
    if (entity.unparsed || entity.state == 1) return 0;  // recursion: the parser reports it
    if (entity.state == 2) {
        Deeper(depth + entity.height - 1);
        return entity.output;
    }
    Deeper(depth);
    entity.state = 1;
    bool mine = true;
    std::size_t below = 0;
    const Count output = LiteralOutput(Text(entity), depth, mine, below);
    entity.state = mine ? 2 : 0;
    entity.output = output;
    entity.height = below + 1;
    complete = complete && mine;
    return output;
}

// The characters text produces with every general-entity reference in it expanded; below is
// the most levels of references a reference in it opens.
Count Judge::LiteralOutput(const std::string& text, std::size_t depth, bool& complete, std::size_t& below) {
    Spend(text.size());
    Count count = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&' || i + 1 >= text.size()) {
            ++count;
            ++i;
            continue;
        }
        if (text[i + 1] == '#') {
            SkipPast(text, i, ";");
            ++count;
            continue;
        }
        ++i;
        const std::string name = Name(text, i);
        if (i < text.size() && text[i] == ';') ++i;
        const auto found = m_general.find(name);
        if (found != m_general.end()) {
            count = Sum(count, Output(found->second, depth + 1, complete));
            below = std::max(below, found->second.height);
        } else {
            // A predefined entity, or one not declared yet.
            complete = complete && (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot");
            ++count;
        }
    }
    return count;
}

}  // namespace

namespace {

// Where the external identifier of t's DOCTYPE stands, [first, second), or nothing when it has none.
std::optional<std::pair<std::size_t, std::size_t>> ExternalIdSpan(const std::string& t) {
    std::size_t i = At(t, 0, "\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        SkipSpace(t, i);
        if (At(t, i, "<!DOCTYPE")) break;
        if (!(At(t, i, "<?") && SkipPast(t, i, "?>")) && !(At(t, i, "<!--") && SkipPast(t, i, "-->"))) return {};
    }
    i += 9;
    SkipSpace(t, i);
    Name(t, i);
    SkipSpace(t, i);
    const std::size_t begin = i;
    std::string literal;
    const bool pub = At(t, i, "PUBLIC");
    if (!pub && !At(t, i, "SYSTEM")) return {};
    i += 6;
    SkipSpace(t, i);
    if (!Literal(t, i, literal)) return {};
    if (pub) {
        SkipSpace(t, i);
        if (!Literal(t, i, literal)) return {};
    }
    return std::make_pair(begin, i);
}

// For a document in UTF-16 (told by its byte-order mark or by "<?" in its first four bytes):
// whether it is little-endian, and where its first code unit starts.
std::optional<std::pair<bool, std::size_t>> Utf16Layout(const std::string& t) {
    const auto starts = [&](char a, char b, char c, char d) {
        return t.size() >= 4 && t[0] == a && t[1] == b && t[2] == c && t[3] == d;
    };
    if (t.size() >= 2 && t[0] == '\xFF' && t[1] == '\xFE' && !(t.size() >= 4 && t[2] == '\0' && t[3] == '\0'))
        return std::make_pair(true, std::size_t{2});
    if (t.size() >= 2 && t[0] == '\xFE' && t[1] == '\xFF') return std::make_pair(false, std::size_t{2});
    if (starts('<', '\0', '?', '\0')) return std::make_pair(true, std::size_t{0});
    if (starts('\0', '<', '\0', '?')) return std::make_pair(false, std::size_t{0});
    return {};
}

}  // namespace

std::optional<std::string> WithoutExternalSubset(const std::string& document) {
    if (const auto utf16 = Utf16Layout(document)) {
        // The same search over the code units, each read as its character when it is ASCII.
        const auto [little, start] = *utf16;
        const std::size_t units = (document.size() - start) / 2;
        const auto unit = [&, little = little, start = start](std::size_t k) {
            const auto lo = static_cast<unsigned char>(document[start + 2 * k + (little ? 0 : 1)]);
            const auto hi = static_cast<unsigned char>(document[start + 2 * k + (little ? 1 : 0)]);
            return static_cast<unsigned>(hi << 8 | lo);
        };
        std::string narrow(units, '\x80');
        for (std::size_t k = 0; k < units; ++k)
            if (unit(k) < 0x80) narrow[k] = static_cast<char>(unit(k));
        const auto span = ExternalIdSpan(narrow);
        if (!span) return {};
        std::string blanked = document;
        for (std::size_t k = span->first; k < span->second; ++k)
            if (narrow[k] != '\n' && narrow[k] != '\r') {
                blanked[start + 2 * k + (little ? 0 : 1)] = ' ';
                blanked[start + 2 * k + (little ? 1 : 0)] = '\0';
            }
        return blanked;
    }
    // Encodings whose ASCII characters are four bytes (UCS-4) are left as they are.
    if (document.size() >= 2 && (document[0] == '\0' || document[1] == '\0')) return {};
    const auto span = ExternalIdSpan(document);
    if (!span) return {};
    std::string blanked = document;
    for (std::size_t c = span->first; c < span->second; ++c)
        if (blanked[c] != '\n' && blanked[c] != '\r') blanked[c] = ' ';
    return blanked;
}

DtdVerdict JudgeDtd(std::string_view document, bool whole, const XMLCh* base, const sLimits& limits,
                    ResourceGate* gate) {
    // A growing beginning of the document: most documents need their first bytes only.
    for (std::size_t length = std::size_t{64} << 10;; length *= 8) {
        const bool all = length >= document.size();
        DtdVerdict verdict;
        try {
            Judge judge(limits, document.size(), gate);
            judge.Document(document.substr(0, length), all && whole, base, verdict);
        } catch (const Refused& refused) {
            verdict.refusal = refused.why.empty() ? "the DTD could not be judged" : refused.why;
        } catch (const NeedMore&) {
            verdict.needMore = true;
        }
        if (!verdict.needMore || all) return verdict;
    }
}

}  // namespace XML::internal
