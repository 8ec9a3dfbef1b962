// TagBudget: bounds what one start tag makes the parser build (its attributes, the length of each
// value) while the document's bytes are read, before the parser sees them. The parser builds a
// whole tag, every attribute and every value, before any callback could count it: a 40 MB value
// cost 353 MB and a million attributes 548 MB before the bounds checked on the built tag could
// refuse them. A source whose stream scans its bytes on the way hands the parser the bytes up to
// the first one past a bound, and refuses at the next read. Internal to the library.
#ifndef KELXML_INTERNAL_TAGBUDGET_H
#define KELXML_INTERNAL_TAGBUDGET_H

#include "XML/Options.h"

#include <xercesc/sax/InputSource.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace XML::internal {

// The most attributes one element may have within limits.maxAttributeCost: n attributes cost
// n*(n-1)/2 comparisons and give back 32 each.
std::size_t MaxAttributes(const sLimits& limits);

class TagBudget {
public:
    TagBudget(std::size_t maxAttributes, std::size_t maxValueLength)
        : m_maxAttributes(maxAttributes), m_maxValue(maxValueLength) {}

    // Scans the next bytes of the document; returns how many of them may go to the parser: all,
    // or those before the first one past a bound (Refusal() then says which).
    std::size_t Scan(const unsigned char* bytes, std::size_t size);
    // Why the document was refused, or empty.
    const std::string& Refusal() const { return m_refusal; }

private:
    enum class State { Text, Open, Bang, Tag, Value, Reference, Until, Doctype, DoctypeOpen, DoctypeBang, Literal };
    // Decides from the first bytes how code units are read (off for encodings it cannot read).
    void Detect(const unsigned char* bytes, std::size_t size);
    // One character of markup (non-ASCII ones only matter as counted characters); false when it
    // passes a bound.
    bool Step(char32_t c);
    void SkipUntil(const char* end, State after);
    // In single-byte units: reads on from i as Step would while nothing but text, names, end tags
    // and plain values come; the index of the next byte Step must see (size when none).
    std::size_t Skip(const unsigned char* bytes, std::size_t i, std::size_t size);

    const std::size_t m_maxAttributes;
    const std::size_t m_maxValue;
    std::string m_refusal;
    bool m_detected = false;
    bool m_off = false;
    std::size_t m_unit = 1;
    bool m_bigEndian = false;
    unsigned char m_carry[4] = {};
    std::size_t m_carried = 0;
    State m_state = State::Text;
    State m_after = State::Text;
    const char* m_until = "";
    std::size_t m_matched = 0;
    char32_t m_quote = 0;
    std::size_t m_attributes = 0;
    std::size_t m_length = 0;
    std::size_t m_brackets = 0;
};

// A source over the bytes of inner (null: the file named file, as the parser would read that name)
// scanned by a TagBudget of limits: past a bound, the parser's next read throws a SAXException
// naming it. inner must outlive the source.
std::unique_ptr<xercesc::InputSource> TagBoundSource(const char* file, const xercesc::InputSource* inner,
                                                     const sLimits& limits);

}  // namespace XML::internal

#endif
