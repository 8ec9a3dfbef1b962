#include "XML/internal/SourceTags.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <algorithm>
#include <utility>

using namespace xercesc;

namespace XML::internal {

// --- SourceDecoder -------------------------------------------------------------------------

SourceDecoder::SourceDecoder(const std::u16string& encoding)
    : m_chars(std::size_t{16} * 1024), m_sizes(m_chars.size()) {
    XMLTransService::Codes result = XMLTransService::Ok;
    m_transcoder.reset(XMLPlatformUtils::fgTransService->makeNewTranscoderFor(
        encoding.c_str(), result, XMLSize_t{16} * 1024, XMLPlatformUtils::fgMemoryManager));
    if (result != XMLTransService::Ok) m_transcoder.reset();
}

bool SourceDecoder::Decode(std::string_view bytes, std::u16string& text) {
    if (!m_transcoder) return false;
    text.clear();
    for (std::size_t at = 0; at < bytes.size();) {
        XMLSize_t eaten = 0;
        const XMLSize_t made = m_transcoder->transcodeFrom(reinterpret_cast<const XMLByte*>(bytes.data()) + at,
                                                           bytes.size() - at, m_chars.data(), m_chars.size(), eaten,
                                                           m_sizes.data());
        if (eaten == 0) return false;
        text.append(m_chars.data(), made);
        at += eaten;
    }
    return true;
}

// --- Reading a start tag -------------------------------------------------------------------

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

}  // namespace

bool SplitStartTag(std::u16string_view tag, StartTagPieces& pieces) {
    pieces.attributes.clear();
    const auto nameEnd = [&tag](std::size_t at) {
        while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != u'=' && tag[at] != u'>' && tag[at] != u'/') ++at;
        return at;
    };
    if (tag.size() < 2 || tag[0] != u'<') return false;
    std::size_t at = nameEnd(1);
    pieces.name = tag.substr(1, at - 1);
    for (;;) {
        const std::size_t lead = at;
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        if (at >= tag.size()) return false;
        if (tag[at] == u'>' || tag[at] == u'/') {
            pieces.tail = tag.substr(lead, at - lead);
            pieces.empty = tag[at] == u'/';
            return tag.substr(at) == (pieces.empty ? u"/>" : u">") && !pieces.name.empty();
        }
        const std::size_t start = at;
        at = nameEnd(at);
        const std::u16string_view name = tag.substr(start, at - start);
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        if (name.empty() || at >= tag.size() || tag[at] != u'=') return false;
        ++at;
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        if (at >= tag.size() || (tag[at] != u'"' && tag[at] != u'\'')) return false;
        const std::size_t end = tag.find(tag[at], at + 1);
        if (end == std::u16string_view::npos) return false;
        pieces.attributes.push_back({tag.substr(lead, end + 1 - lead), name, tag.substr(at + 1, end - at - 1)});
        at = end + 1;
    }
}

std::u16string CollapseSpaces(std::u16string_view value) {
    std::u16string out;
    for (const char16_t c : value) {
        if (c == u' ' && (out.empty() || out.back() == u' ')) continue;
        out.push_back(c);
    }
    if (!out.empty() && out.back() == u' ') out.pop_back();
    return out;
}

bool AttributeValue(std::u16string_view raw, bool xml11, std::u16string& value) {
    std::u16string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i];
        if (c == u'&') {
            const std::size_t end = raw.find(u';', i);
            if (end == std::u16string_view::npos) return false;
            const std::u16string_view name = raw.substr(i + 1, end - i - 1);
            i = end;
            if (name.size() > 1 && name[0] == u'#') {
                const bool hex = name[1] == u'x';
                char32_t code = 0;
                for (std::size_t d = hex ? 2 : 1; d < name.size(); ++d) {
                    const char16_t h = name[d];
                    const int digit = h >= u'0' && h <= u'9'          ? h - u'0'
                                      : hex && h >= u'a' && h <= u'f' ? h - u'a' + 10
                                      : hex && h >= u'A' && h <= u'F' ? h - u'A' + 10
                                                                      : -1;
                    if (digit < 0 || code > 0x10FFFF) return false;
                    code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
                }
                if (code > 0x10FFFF) return false;
                if (code >= 0x10000) {
                    out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
                    out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
                } else {
                    out.push_back(static_cast<char16_t>(code));
                }
                continue;
            }
            static const std::pair<const char16_t*, char16_t> predefined[] = {
                {u"lt", u'<'}, {u"gt", u'>'}, {u"amp", u'&'}, {u"apos", u'\''}, {u"quot", u'"'}};
            bool known = false;
            for (const auto& [entity, character] : predefined)
                if (name == entity) {
                    out.push_back(character);
                    known = true;
                }
            if (!known) return false;
            continue;
        }
        const bool lineEnd = c == u'\r' || (xml11 && (c == 0x85 || c == 0x2028));
        if (lineEnd && c == u'\r' && i + 1 < raw.size() && (raw[i + 1] == u'\n' || (xml11 && raw[i + 1] == 0x85)))
            ++i;  // one line end
        out.push_back(lineEnd || c == u'\n' || c == u'\t' ? u' ' : c);
    }
    value = std::move(out);
    return true;
}

// --- SourceTags ----------------------------------------------------------------------------

void SourceTags::Start(const DOMNode* element, std::uint64_t end, bool empty, bool typed) {
    if (!element) {
        if (!empty) m_open.push_back(kNotNoted);
        return;
    }
    m_entries.push_back({element, end, 0, typed});
    m_extent = std::max(m_extent, end);
    if (!empty) m_open.push_back(m_entries.size() - 1);
}

void SourceTags::End(std::uint64_t end, bool known) {
    if (m_open.empty()) return;
    const std::size_t open = m_open.back();
    m_open.pop_back();
    if (open >= m_entries.size() || !known) return;
    // An end tag before its start tag ends would be another entity's.
    if (end > m_entries[open].startEnd) m_entries[open].endEnd = end;
    m_extent = std::max(m_extent, end);
}

void SourceTags::Keep(std::string bytes, const std::u16string& encoding) {
    std::u16string name;
    for (const char16_t c : encoding) name.push_back(c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
    const auto starts = [&name](std::u16string_view prefix) { return name.compare(0, prefix.size(), prefix) == 0; };
    // Encodings where the byte (or UTF-16 unit) of "<" stands for nothing else.
    // The reader names UTF-16 "UTF-16 (LE)" or "UTF-16LE" (and BE likewise).
    const bool little = name.find(u"LE") != std::u16string::npos, big = name.find(u"BE") != std::u16string::npos;
    const bool single = starts(u"UTF-8") || starts(u"US-ASCII") || starts(u"ISO-8859-") || starts(u"WINDOWS-125");
    m_unit = single ? 1 : starts(u"UTF-16") && (little || big) ? 2 : 0;
    m_bigEndian = big;
    m_bytes = m_unit ? std::move(bytes) : std::string();
    m_encoding = encoding;
    m_decoder.reset();
}

void SourceTags::Clear() {
    m_entries.clear();
    m_open.clear();
    m_sorted.clear();
    m_extent = 0;
    m_bytes.clear();
    m_unit = 0;
    m_decoder.reset();
}

bool SourceTags::TagEndingAt(std::uint64_t end, std::u16string& text) const {
    if (!m_unit || end > m_bytes.size() || end < m_unit || end % m_unit) return false;
    const char low = '<', high = '\0';
    std::uint64_t at = end - m_unit;
    for (;; at -= m_unit) {
        const bool found = m_unit == 1 ? m_bytes[at] == low
                                       : m_bytes[at] == (m_bigEndian ? high : low) &&
                                             m_bytes[at + 1] == (m_bigEndian ? low : high);
        if (found) break;
        if (at < m_unit) return false;
    }
    if (!m_decoder) m_decoder = std::make_unique<SourceDecoder>(m_encoding);
    return m_decoder->Decode(std::string_view(m_bytes).substr(at, end - at), text);
}

const SourceTags::Entry* SourceTags::Lookup(const DOMNode* element) const {
    if (!m_unit) return nullptr;
    if (m_sorted.size() != m_entries.size()) {
        m_sorted.clear();
        m_sorted.reserve(m_entries.size());
        for (std::size_t i = 0; i < m_entries.size(); ++i) m_sorted.emplace_back(m_entries[i].element, i);
        std::sort(m_sorted.begin(), m_sorted.end());
    }
    const auto found = std::lower_bound(m_sorted.begin(), m_sorted.end(), std::make_pair(element, std::size_t{0}));
    return found == m_sorted.end() || found->first != element ? nullptr : &m_entries[found->second];
}

bool SourceTags::StartTag(const DOMNode* element, std::u16string& text, bool& typed) const {
    const Entry* entry = Lookup(element);
    if (!entry) return false;
    typed = entry->typed;
    return TagEndingAt(entry->startEnd, text);
}

bool SourceTags::EndTag(const DOMNode* element, std::u16string& text) const {
    const Entry* entry = Lookup(element);
    return entry && entry->endEnd != 0 && TagEndingAt(entry->endEnd, text);
}

}  // namespace XML::internal
