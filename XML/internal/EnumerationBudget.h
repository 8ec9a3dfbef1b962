// EnumerationBudget: the cost of the enumeration facets a schema validation checks. The parser's
// validator compares a value with the values of its type's enumeration one after the other, so
// a large enumeration checked on many values costs their product (40,000 values on 40,000
// elements: seconds). The validator's types cannot be given a hashed lookup once compiled (their
// enumeration can only be replaced by another list, which it would search the same way), so
// this charges, as each value is validated, the comparisons the validator made for it (found
// with a hashed index of each large enumeration), and ends the parse past
// sLimits::maxEnumerationComparisons. Where the document picks the type (xsi:type, attribute
// wildcards), a value is charged what the dearest type of the grammars may cost. Internal to
// the library.
#ifndef KELXML_INTERNAL_ENUMERATIONBUDGET_H
#define KELXML_INTERNAL_ENUMERATIONBUDGET_H

#include <xercesc/util/RefArrayVectorOf.hpp>
#include <xercesc/util/RefHashTableOf.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

XERCES_CPP_NAMESPACE_BEGIN
class DatatypeValidator;
class Grammar;
class XMLElementDecl;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

class EnumerationBudget {
public:
    // The comparisons of one value that are not charged: a value costs that much to read anyway.
    static constexpr std::size_t kFreeComparisons = 256;
    // How many string comparisons one comparison of two values of a number, date or duration
    // type costs (they are parsed and compared as values).
    static constexpr std::size_t kValueWeight = 4;

    // Starts a parse: nothing charged, no index kept (the grammars may differ from the last).
    void Reset(std::size_t limit);
    // Charges validating value (as written: its spaces are handled as the type says) against
    // validator; throws a SAXException past the limit.
    void ChargeValue(const xercesc::DatatypeValidator& validator, std::u16string_view value);
    // Charges what words words may cost against a type that costs perWord for one.
    void ChargeWords(std::size_t perWord, std::size_t words);
    // The most comparisons one word of a value may cost against validator.
    std::size_t PerWord(const xercesc::DatatypeValidator* validator);
    // The names of a DTD enumerated type, list (the names separated by spaces, as the parser keeps
    // them; valid for this parse).
    std::size_t Listed(const XMLCh* list);
    // Charges validating value against such a list: the validator searches it up to the name.
    void ChargeListed(const XMLCh* list, std::u16string_view value);

private:
    using Values = xercesc::RefArrayVectorOf<XMLCh>;
    void Charge(std::size_t cost);
    // The comparisons, weighted, that the validator made to check the normalized value.
    std::size_t Cost(const xercesc::DatatypeValidator& validator, std::u16string_view value);
    // How many of values the validator compares value with: up to the first equal one, all
    // when none is (an upper bound where it compares values rather than texts).
    std::size_t Compared(const Values& values, std::u16string_view value);

    std::size_t m_limit = 0;
    std::size_t m_charged = 0;
    std::u16string m_normalized;
    // Of an enumeration: its size and, when it is large, the position of the first of each text.
    struct Positions {
        std::size_t count = 0;
        std::unordered_map<std::u16string_view, std::size_t> first;
    };
    // The comparisons up to value: its position, all of them when it is not there.
    static std::size_t Searched(const Positions& positions, std::u16string_view value);
    Positions& ListPositions(const XMLCh* list);

    // For each enumeration seen in this parse (a schema type's values, a DTD type's list).
    std::unordered_map<const void*, Positions> m_index;
    std::unordered_map<const xercesc::DatatypeValidator*, std::size_t> m_perWord;
};

// The validator of the simple content of a schema element declaration, or null.
const xercesc::DatatypeValidator* ContentType(const xercesc::XMLElementDecl& decl);

// The dearest PerWord of every type the schemas of grammars declare (xsi:type and wildcards may
// pick any). Reads every declaration: call it while the grammars are used by one thread (some
// of their lists are made when first read).
std::size_t DearestEnumeration(xercesc::RefHashTableOfEnumerator<xercesc::Grammar> grammars);

}  // namespace XML::internal

#endif
