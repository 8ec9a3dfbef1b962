#include "XML/internal/TagBudget.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/URLInputSource.hpp>
#include <xercesc/util/XMLURL.hpp>

#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>

using namespace xercesc;

namespace XML::internal {

std::size_t MaxAttributes(const sLimits& limits) {
    // n*(n-1)/2 <= 32n + maxAttributeCost, that is n*n - 65n - 2*maxAttributeCost <= 0.
    const long double cost = static_cast<long double>(limits.maxAttributeCost);
    const long double root = (65.0L + std::sqrt(65.0L * 65.0L + 8.0L * cost)) / 2.0L;
    if (root >= static_cast<long double>(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::size_t>::max();
    std::size_t n = static_cast<std::size_t>(root);
    const auto fits = [&limits](std::size_t k) { return k * (k - (k > 0)) / 2 <= 32 * k + limits.maxAttributeCost; };
    while (fits(n + 1)) ++n;
    while (n > 0 && !fits(n)) --n;
    return n;
}

void TagBudget::Detect(const unsigned char* bytes, std::size_t size) {
    m_detected = true;
    const auto starts = [bytes, size](std::initializer_list<unsigned char> head) {
        return size >= head.size() && std::equal(head.begin(), head.end(), bytes);
    };
    if (starts({0x00, 0x00, 0xFE, 0xFF}) || starts({0x00, 0x00, 0x00, 0x3C})) {
        m_unit = 4;
        m_bigEndian = true;
    } else if (starts({0xFF, 0xFE, 0x00, 0x00}) || starts({0x3C, 0x00, 0x00, 0x00})) {
        m_unit = 4;
    } else if (starts({0xFE, 0xFF}) || starts({0x00, 0x3C})) {
        m_unit = 2;
        m_bigEndian = true;
    } else if (starts({0xFF, 0xFE}) || starts({0x3C, 0x00})) {
        m_unit = 2;
    } else if (starts({0x4C, 0x6F, 0xA7, 0x94})) {
        m_off = true;  // EBCDIC: the bounds on the built tag still hold
    }
}

std::size_t TagBudget::Scan(const unsigned char* bytes, std::size_t size) {
    if (!m_refusal.empty()) return 0;
    if (!m_detected && size > 0) Detect(bytes, size);
    if (m_off) return size;
    std::size_t i = 0;
    if (m_unit == 1) {
        while (i < size) {
            i = Skip(bytes, i, size);
            if (i == size) return size;
            if (!Step(bytes[i])) return i;
            ++i;
        }
        return size;
    }
    // Wider units, one of them possibly split between two reads.
    std::size_t start = 0;  // where the unit being read began in bytes (0 when carried over)
    for (; i < size; ++i) {
        if (m_carried == 0) start = i;
        m_carry[m_carried++] = bytes[i];
        if (m_carried < m_unit) continue;
        m_carried = 0;
        char32_t c = 0;
        for (std::size_t k = 0; k < m_unit; ++k)
            c |= static_cast<char32_t>(m_carry[m_bigEndian ? m_unit - 1 - k : k]) << (8 * k);
        if (!Step(c)) return start;
    }
    return size;
}

namespace {

// Bytes that end a run in a start tag: a quote opens a value, '>' ends the tag.
constexpr auto kTagEnds = [] {
    std::array<bool, 256> set{};
    set['>'] = set['"'] = set['\''] = true;
    return set;
}();

// Bytes of a value that Step would count as one unit each, doing nothing else.
constexpr auto kPlainValue = [] {
    std::array<bool, 256> set{};
    for (int c = 0; c < 0x80; ++c) set[c] = c != '"' && c != '\'' && c != '&' && c != '\r';
    return set;
}();

}  // namespace

// Runs Step's common paths without it, over the bytes that cannot pass a bound: text, names, end
// tags and plain values (counting their characters). Returns the index of the next byte Step must
// see, or size. Most of a document is such bytes.
std::size_t TagBudget::Skip(const unsigned char* bytes, std::size_t i, std::size_t size) {
    const auto find = [bytes, size](std::size_t from, unsigned char c) {
        const void* const at = std::memchr(bytes + from, c, size - from);
        return at ? static_cast<std::size_t>(static_cast<const unsigned char*>(at) - bytes) : size;
    };
    while (i < size) {
        switch (m_state) {
        case State::Text: {
            i = find(i, '<');
            if (i + 1 >= size) return i;
            const unsigned char next = bytes[i + 1];
            if (next == '!' || next == '?') return i;
            if (next == '/') {  // an end tag: nothing in it is bounded
                i = find(i + 2, '>');
                if (i == size) {
                    SkipUntil(">", State::Text);
                    return size;
                }
                ++i;
                continue;
            }
            m_state = State::Tag;
            m_attributes = 0;
            i += 2;
            continue;
        }
        case State::Tag:
            while (i < size && !kTagEnds[bytes[i]]) ++i;
            if (i == size) return size;
            if (bytes[i] == '>') {
                m_state = State::Text;
                ++i;
                continue;
            }
            if (m_attributes >= m_maxAttributes) return i;  // Step refuses it
            ++m_attributes;
            m_quote = bytes[i];
            m_length = 0;
            m_state = State::Value;
            ++i;
            continue;
        case State::Value: {
            std::size_t end = i;
            while (end < size && kPlainValue[bytes[end]]) ++end;
            // Up to the bound at most: Step refuses the byte past it.
            const std::size_t room = m_maxValue > m_length ? m_maxValue - m_length : 0;
            if (end - i > room) end = i + room;
            m_length += end - i;
            i = end;
            if (i == size || bytes[i] != m_quote) return i;
            m_state = State::Tag;
            ++i;
            continue;
        }
        case State::Until: return m_matched != 0 ? i : find(i, static_cast<unsigned char>(m_until[0]));
        default: return i;
        }
    }
    return size;
}

void TagBudget::SkipUntil(const char* end, State after) {
    m_until = end;
    m_matched = 0;
    m_after = after;
    m_state = State::Until;
}

bool TagBudget::Step(char32_t c) {
    switch (m_state) {
    case State::Text:
        if (c == '<') m_state = State::Open;
        return true;
    case State::Open:
        if (c == '!') {
            m_state = State::Bang;
        } else if (c == '?') {
            SkipUntil("?>", State::Text);
        } else if (c == '/') {
            SkipUntil(">", State::Text);
        } else {
            m_state = State::Tag;
            m_attributes = 0;
        }
        return true;
    case State::Bang:
        if (c == '-')
            SkipUntil("-->", State::Text);
        else if (c == '[')
            SkipUntil("]]>", State::Text);
        else
            m_state = State::Doctype;
        return true;
    case State::Tag:
        if (c == '>') {
            m_state = State::Text;
        } else if (c == '"' || c == '\'') {
            if (++m_attributes > m_maxAttributes) {
                m_refusal = msg::kTagAttributes + std::to_string(m_maxAttributes) + msg::kTagAttributesEnd;
                return false;
            }
            m_quote = c;
            m_length = 0;
            m_state = State::Value;
        }
        return true;
    case State::Value:
        if (c == m_quote) {
            m_state = State::Tag;
            return true;
        }
        // 16-bit units, as the parser holds the value: a UTF-8 continuation byte is part of the
        // character before, a character beyond U+FFFF is two; a line end "\r\n" becomes one.
        if (c == '\r' || (m_unit == 1 && (c & 0xC0) == 0x80)) return true;
        if (c == '&') m_state = State::Reference;  // one character here; what it expands to is counted as built
        m_length += (m_unit == 1 && c >= 0xF0) || (m_unit == 4 && c > 0xFFFF) ? 2 : 1;
        if (m_length > m_maxValue) {
            m_refusal = msg::kLongAttribute + std::to_string(m_maxValue) + msg::kLongAttributeEnd;
            return false;
        }
        return true;
    case State::Reference:
        if (c == ';')
            m_state = State::Value;
        else if (c == m_quote)
            m_state = State::Tag;
        return true;
    case State::Until:
        if (static_cast<char32_t>(m_until[m_matched]) == c)
            ++m_matched;
        else if (static_cast<char32_t>(m_until[0]) != c)
            m_matched = 0;
        else if (m_matched == 0 || static_cast<char32_t>(m_until[m_matched - 1]) != c)
            m_matched = 1;  // else a run of the end's repeated first character ("--->")
        if (m_until[m_matched] == '\0') m_state = m_after;
        return true;
    case State::Doctype:
        if (c == '"' || c == '\'') {
            m_quote = c;
            m_state = State::Literal;
        } else if (c == '[') {
            ++m_brackets;
        } else if (c == ']' && m_brackets > 0) {
            --m_brackets;
        } else if (c == '<') {
            m_state = State::DoctypeOpen;
        } else if (c == '>' && m_brackets == 0) {
            m_state = State::Text;
        }
        return true;
    case State::DoctypeOpen:
        if (c == '?') {
            SkipUntil("?>", State::Doctype);
            return true;
        }
        m_state = c == '!' ? State::DoctypeBang : State::Doctype;
        return c == '!' || Step(c);
    case State::DoctypeBang:
        if (c == '-') {
            SkipUntil("-->", State::Doctype);
            return true;
        }
        m_state = State::Doctype;
        return Step(c);
    case State::Literal:
        if (c == m_quote) m_state = State::Doctype;
        return true;
    }
    return true;
}

namespace {

class BoundStream final : public BinInputStream {
public:
    BoundStream(BinInputStream* inner, const sLimits& limits)
        : m_inner(inner), m_budget(MaxAttributes(limits), limits.maxAttributeLength) {}

    XMLFilePos curPos() const override { return m_position; }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
        if (!m_budget.Refusal().empty()) throw SAXException(m_budget.Refusal().c_str());
        const XMLSize_t read = m_inner->readBytes(toFill, maxToRead);
        const std::size_t allowed = m_budget.Scan(toFill, read);
        // The bytes before the one past the bound go to the parser, which asks again for more.
        if (allowed == 0 && read > 0) throw SAXException(m_budget.Refusal().c_str());
        m_position += allowed;
        return allowed;
    }
    const XMLCh* getContentType() const override { return m_inner->getContentType(); }

private:
    std::unique_ptr<BinInputStream> m_inner;
    TagBudget m_budget;
    XMLFilePos m_position = 0;
};

class BoundSource final : public InputSource {
public:
    BoundSource(std::unique_ptr<InputSource> owned, const InputSource& inner, const sLimits& limits)
        : InputSource(inner.getSystemId(), inner.getPublicId(), XMLPlatformUtils::fgMemoryManager),
          m_owned(std::move(owned)),
          m_inner(inner),
          m_limits(limits) {
        if (inner.getEncoding()) setEncoding(inner.getEncoding());
        setIssueFatalErrorIfNotFound(inner.getIssueFatalErrorIfNotFound());
    }
    // The parser owns the stream it is given.
    BinInputStream* makeStream() const override {
        std::unique_ptr<BinInputStream> inner(m_inner.makeStream());
        if (!inner) return nullptr;
        auto bound = std::make_unique<BoundStream>(inner.get(), m_limits);
        static_cast<void>(inner.release());  // bound owns it from here
        return bound.release();
    }

private:
    const std::unique_ptr<InputSource> m_owned;
    const InputSource& m_inner;
    const sLimits m_limits;
};

}  // namespace

std::unique_ptr<InputSource> TagBoundSource(const char* file, const InputSource* inner, const sLimits& limits) {
    std::unique_ptr<InputSource> owned;
    if (!inner) {
        // The parser's own choice for a name: a URL (never the network: refused before), else a file.
        const XStr name(file);
        XMLURL url(XMLPlatformUtils::fgMemoryManager);
        if (XMLURL::parse(name.unicodeForm(), url) && !url.isRelative())
            owned = std::make_unique<URLInputSource>(url, XMLPlatformUtils::fgMemoryManager);
        else
            owned = std::make_unique<LocalFileInputSource>(name.unicodeForm(), XMLPlatformUtils::fgMemoryManager);
        inner = owned.get();
    }
    return std::make_unique<BoundSource>(std::move(owned), *inner, limits);
}

}  // namespace XML::internal
