#include "XML/internal/PatternGuard.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"
#include "XML/internal/SchemaBudget.h"

#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/validators/datatype/DatatypeValidatorFactory.hpp>
#include <xercesc/validators/datatype/InvalidDatatypeValueException.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

#include <pthread.h>

#include <cstdint>
#include <limits>

using namespace xercesc;

namespace XML::internal {

namespace {

// The lowest address of the calling thread's stack, found once per thread; 0 when unknown.
std::uintptr_t StackFloor() {
    thread_local const std::uintptr_t floor = [] {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0) return std::uintptr_t{0};
        void* low = nullptr;
        std::size_t size = 0;
        const bool known = pthread_attr_getstack(&attributes, &low, &size) == 0;
        pthread_attr_destroy(&attributes);
        return known ? reinterpret_cast<std::uintptr_t>(low) : std::uintptr_t{0};
    }();
    return floor;
}

}  // namespace

std::size_t StackLeft() {
    const char here = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&here);
    const std::uintptr_t floor = StackFloor();
    // Below the floor, or far above it: another stack than the thread's (a coroutine's).
    if (floor == 0 || at < floor || at - floor > (std::uintptr_t{1} << 40))
        return std::numeric_limits<std::size_t>::max();
    return at - floor;
}

void GuardStack() {
    if (StackLeft() >= kStackReserve) return;
    // The matcher does not know the value: the record says what stopped it.
    throw InvalidDatatypeValueException(__FILE__, __LINE__, XMLExcepts::VALUE_NotMatch_Pattern, msg::kPatternValue,
                                        msg::kPatternFacet, nullptr, nullptr, XMLPlatformUtils::fgMemoryManager);
}

MemoryManager* GuardedMemoryManager::getExceptionMemoryManager() {
    return XMLPlatformUtils::fgMemoryManager->getExceptionMemoryManager();
}

void* GuardedMemoryManager::allocate(XMLSize_t size) {
    GuardStack();
    return XMLPlatformUtils::fgMemoryManager->allocate(size);
}

void GuardedMemoryManager::deallocate(void* p) { XMLPlatformUtils::fgMemoryManager->deallocate(p); }

std::string PoolPatternRefusal(XMLGrammarPool& pool) {
    RefHashTableOfEnumerator<Grammar> grammars = pool.getGrammarEnumerator();
    while (grammars.hasMoreElements()) {
        Grammar& grammar = grammars.nextElement();
        if (grammar.getGrammarType() != Grammar::SchemaGrammarType) continue;
        DatatypeValidatorFactory* const factory = static_cast<SchemaGrammar&>(grammar).getDatatypeRegistry();
        RefHashTableOf<DatatypeValidator>* const types = factory ? factory->getUserDefinedRegistry() : nullptr;
        if (!types) continue;
        RefHashTableOfEnumerator<DatatypeValidator> type(types, false, XMLPlatformUtils::fgMemoryManager);
        while (type.hasMoreElements()) {
            const RefHashTableOf<KVStringPair>* const facets = type.nextElement().getFacets();
            const KVStringPair* const pattern = facets ? facets->get(SchemaSymbols::fgELT_PATTERN) : nullptr;
            if (!pattern || !pattern->getValue()) continue;
            std::string refusal = PatternRefusal(XStr::ToLocal(pattern->getValue()));
            if (!refusal.empty()) return refusal;
        }
    }
    return {};
}

}  // namespace XML::internal
