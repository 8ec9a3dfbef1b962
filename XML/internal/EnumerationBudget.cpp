#include "XML/internal/EnumerationBudget.h"

#include "XML/internal/Messages.h"

#include <xercesc/framework/XMLAttDefList.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/validators/common/Grammar.hpp>
#include <xercesc/validators/datatype/DatatypeValidator.hpp>
#include <xercesc/validators/datatype/ListDatatypeValidator.hpp>
#include <xercesc/validators/datatype/UnionDatatypeValidator.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaAttDef.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>

#include <algorithm>
#include <limits>

using namespace xercesc;

namespace XML::internal {

namespace {

std::size_t Add(std::size_t a, std::size_t b) {
    return a > std::numeric_limits<std::size_t>::max() - b ? std::numeric_limits<std::size_t>::max() : a + b;
}

std::size_t Times(std::size_t a, std::size_t b) {
    return b != 0 && a > std::numeric_limits<std::size_t>::max() / b ? std::numeric_limits<std::size_t>::max() : a * b;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Whether the validator compares values of the type as texts, or, for the rest, as values after
// parsing each.
bool ComparesTexts(DatatypeValidator::ValidatorType type) {
    switch (type) {
    case DatatypeValidator::String:
    case DatatypeValidator::AnyURI:
    case DatatypeValidator::Name:
    case DatatypeValidator::NCName:
    case DatatypeValidator::HexBinary:
    case DatatypeValidator::Base64Binary:
    case DatatypeValidator::ID:
    case DatatypeValidator::IDREF:
    case DatatypeValidator::ENTITY:
    case DatatypeValidator::QName:
    case DatatypeValidator::NOTATION:
    case DatatypeValidator::List: return true;
    default: return false;
    }
}

// Whether equal texts are equal values for the validator (then its search stops at the first
// equal text at the latest): not where names are compared with the namespaces in scope.
bool EqualTextIsEqualValue(DatatypeValidator::ValidatorType type) {
    return type != DatatypeValidator::QName && type != DatatypeValidator::NOTATION && type != DatatypeValidator::List;
}

// value with its spaces replaced or collapsed as the type's whiteSpace facet says, into out.
void Normalize(const DatatypeValidator& validator, std::u16string_view value, std::u16string& out) {
    out.clear();
    const short facet = validator.getWSFacet();
    if (facet == DatatypeValidator::PRESERVE) {
        out.assign(value);
        return;
    }
    for (const char16_t c : value) {
        const bool kept = !IsSpace(c) || facet == DatatypeValidator::REPLACE || (!out.empty() && out.back() != u' ');
        if (kept) out += IsSpace(c) ? u' ' : c;
    }
    if (facet == DatatypeValidator::COLLAPSE && !out.empty() && out.back() == u' ') out.pop_back();
}

}  // namespace

void EnumerationBudget::Reset(std::size_t limit) {
    m_limit = limit;
    m_charged = 0;
    m_index.clear();
    m_perWord.clear();
}

void EnumerationBudget::ChargeValue(const DatatypeValidator& validator, std::u16string_view value) {
    const DatatypeValidator::ValidatorType type = validator.getType();
    if (PerWord(&validator) <= kFreeComparisons && type != DatatypeValidator::List && type != DatatypeValidator::Union)
        return;
    Normalize(validator, value, m_normalized);
    Charge(Cost(validator, m_normalized));
}

void EnumerationBudget::ChargeWords(std::size_t perWord, std::size_t words) {
    Charge(Times(perWord, std::max<std::size_t>(1, words)));
}

void EnumerationBudget::Charge(std::size_t cost) {
    if (cost <= kFreeComparisons) return;
    m_charged = Add(m_charged, cost - kFreeComparisons);
    if (m_charged > m_limit)
        throw SAXException(
            (msg::kEnumerationComparisons + std::to_string(m_limit) + msg::kEnumerationComparisonsEnd).c_str());
}

std::size_t EnumerationBudget::Cost(const DatatypeValidator& validator, std::u16string_view value) {
    const DatatypeValidator::ValidatorType type = validator.getType();
    std::size_t cost = 0;
    // Only the type's own enumeration is searched: its bases check their patterns alone.
    if (const Values* values = validator.getEnumString(); values && values->size() > 0) {
        if (type == DatatypeValidator::List) {
            // Each enumerated list is compared item by item.
            std::size_t items = 1;
            for (const char16_t c : value) items += IsSpace(c);
            cost = Times(values->size(), items);
        } else {
            cost = EqualTextIsEqualValue(type) ? Compared(*values, value) : values->size();
            if (!ComparesTexts(type)) cost = Times(cost, kValueWeight);
        }
    }
    if (type == DatatypeValidator::List) {
        const DatatypeValidator* item = static_cast<const ListDatatypeValidator&>(validator).getItemTypeDTV();
        for (std::size_t start = 0; item && start < value.size();) {
            while (start < value.size() && IsSpace(value[start])) ++start;
            std::size_t end = start;
            while (end < value.size() && !IsSpace(value[end])) ++end;
            if (end > start) cost = Add(cost, Cost(*item, value.substr(start, end - start)));
            start = end;
        }
    } else if (type == DatatypeValidator::Union) {
        // Members are tried in order until one accepts the value: charged as if all were.
        const RefVectorOf<DatatypeValidator>* members =
            static_cast<const UnionDatatypeValidator&>(validator).getMemberTypeValidators();
        for (XMLSize_t i = 0; members && i < members->size(); ++i)
            if (const DatatypeValidator* member = members->elementAt(i)) cost = Add(cost, Cost(*member, value));
    }
    return cost;
}

std::size_t EnumerationBudget::Searched(const Positions& positions, std::u16string_view value) {
    const auto found = positions.first.find(value);
    return found == positions.first.end() ? positions.count : found->second + 1;
}

std::size_t EnumerationBudget::Compared(const Values& values, std::u16string_view value) {
    const std::size_t count = values.size();
    if (count <= kFreeComparisons) return count;
    auto [entry, added] = m_index.try_emplace(&values);
    Positions& positions = entry->second;
    if (added) {
        positions.count = count;
        positions.first.reserve(count);
        for (std::size_t i = 0; i < count; ++i) positions.first.try_emplace(values.elementAt(i), i);
    }
    return Searched(positions, value);
}

EnumerationBudget::Positions& EnumerationBudget::ListPositions(const XMLCh* list) {
    auto [entry, added] = m_index.try_emplace(list);
    Positions& positions = entry->second;
    if (added) {
        const std::u16string_view names(list);
        for (std::size_t from = 0; from <= names.size(); ++positions.count) {
            const std::size_t space = std::min(names.find(u' ', from), names.size());
            positions.first.try_emplace(names.substr(from, space - from), positions.count);
            from = space + 1;
        }
        if (positions.count <= kFreeComparisons) positions.first.clear();  // never charged
    }
    return positions;
}

std::size_t EnumerationBudget::Listed(const XMLCh* list) { return ListPositions(list).count; }

void EnumerationBudget::ChargeListed(const XMLCh* list, std::u16string_view value) {
    const Positions& positions = ListPositions(list);
    if (positions.count > kFreeComparisons) Charge(Searched(positions, value));
}

std::size_t EnumerationBudget::PerWord(const DatatypeValidator* validator) {
    if (!validator) return 0;
    if (const auto found = m_perWord.find(validator); found != m_perWord.end()) return found->second;
    const DatatypeValidator::ValidatorType type = validator->getType();
    const Values* values = validator->getEnumString();
    std::size_t bound = values ? Times(values->size(), ComparesTexts(type) ? 1 : kValueWeight) : 0;
    if (type == DatatypeValidator::List) {
        bound = Add(bound, PerWord(static_cast<const ListDatatypeValidator*>(validator)->getItemTypeDTV()));
    } else if (type == DatatypeValidator::Union) {
        const RefVectorOf<DatatypeValidator>* members =
            static_cast<const UnionDatatypeValidator*>(validator)->getMemberTypeValidators();
        for (XMLSize_t i = 0; members && i < members->size(); ++i) bound = Add(bound, PerWord(members->elementAt(i)));
    }
    m_perWord[validator] = bound;
    return bound;
}

const DatatypeValidator* ContentType(const XMLElementDecl& decl) {
    if (decl.getObjectType() != XMLElementDecl::Schema) return nullptr;
    const auto& schemaDecl = static_cast<const SchemaElementDecl&>(decl);
    const ComplexTypeInfo* complex = schemaDecl.getComplexTypeInfo();
    return complex ? complex->getDatatypeValidator() : schemaDecl.getDatatypeValidator();
}

std::size_t DearestEnumeration(RefHashTableOfEnumerator<Grammar> grammars) {
    EnumerationBudget bounds;
    std::size_t dearest = 0;
    const auto consider = [&](const DatatypeValidator* validator) {
        dearest = std::max(dearest, bounds.PerWord(validator));
    };
    const auto considerAttributes = [&](XMLAttDefList& list) {
        for (XMLSize_t i = 0; i < list.getAttDefCount(); ++i)
            consider(static_cast<SchemaAttDef&>(list.getAttDef(i)).getDatatypeValidator());
    };
    while (grammars.hasMoreElements()) {
        Grammar& grammar = grammars.nextElement();
        if (grammar.getGrammarType() != Grammar::SchemaGrammarType) continue;
        auto& schema = static_cast<SchemaGrammar&>(grammar);
        if (const DatatypeValidatorFactory* registry = schema.getDatatypeRegistry();
            registry && registry->getUserDefinedRegistry())
            for (RefHashTableOfEnumerator<DatatypeValidator> types(registry->getUserDefinedRegistry());
                 types.hasMoreElements();)
                consider(&types.nextElement());
        if (RefHashTableOf<XMLAttDef>* attributes = schema.getAttributeDeclRegistry())
            for (RefHashTableOfEnumerator<XMLAttDef> all(attributes); all.hasMoreElements();)
                consider(static_cast<SchemaAttDef&>(all.nextElement()).getDatatypeValidator());
        if (RefHashTableOf<ComplexTypeInfo>* complexTypes = schema.getComplexTypeRegistry())
            for (RefHashTableOfEnumerator<ComplexTypeInfo> all(complexTypes); all.hasMoreElements();) {
                ComplexTypeInfo& complex = all.nextElement();
                consider(complex.getDatatypeValidator());
                considerAttributes(complex.getAttDefList());
            }
        for (RefHash3KeysIdPoolEnumerator<SchemaElementDecl> elements = schema.getElemEnumerator();
             elements.hasMoreElements();) {
            SchemaElementDecl& element = elements.nextElement();
            consider(ContentType(element));
            if (ComplexTypeInfo* complex = element.getComplexTypeInfo()) considerAttributes(complex->getAttDefList());
        }
    }
    return dearest;
}

}  // namespace XML::internal
