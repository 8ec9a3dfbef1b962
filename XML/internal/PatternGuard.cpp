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

// The calling thread's stack [t_floor, t_top), looked up once per thread; empty when unknown.
// Constant-initialised and in the initial-exec model (a fixed offset from the thread pointer, in
// the static TLS block glibc keeps for libraries): every allocation reads it, without a call to
// __tls_get_addr.
#if defined(__GNUC__)
#define KELXML_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#define KELXML_FAST_TLS
#endif
KELXML_FAST_TLS thread_local std::uintptr_t t_floor = 0, t_top = 0;
KELXML_FAST_TLS thread_local bool t_looked = false;

void LookUpStack() {
    t_looked = true;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
        t_floor = reinterpret_cast<std::uintptr_t>(low);
        t_top = t_floor + size;
    }
    pthread_attr_destroy(&attributes);
}

}  // namespace

std::size_t StackLeft() {
    if (!t_looked) LookUpStack();
    const char here = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&here);
    // Outside the thread's stack: on a stack of the caller's making (a coroutine's), unknown.
    if (at < t_floor || at >= t_top) return std::numeric_limits<std::size_t>::max();
    return at - t_floor;
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
