// PatternGuard: keeps the validator's pattern matcher from running off the end of the thread's
// stack. The matcher recurses once per repetition of a group holding alternatives ("(a|b)+":
// about 440 bytes per character), so a long enough value overflows any stack. For a value of
// more than kShortValue characters (SchemaBudget.h) each level of that recursion takes memory
// from the parser's memory manager: the managers of every validating parser call GuardStack,
// which stops the matcher with a datatype error for the value once less than kStackReserve of
// the thread's stack is left. A shorter value recurses without allocating: the schema judge
// bounds what a pattern may cost it (PatternRefusal). Internal to the library.
#ifndef KELXML_INTERNAL_PATTERNGUARD_H
#define KELXML_INTERNAL_PATTERNGUARD_H

#include <xercesc/framework/MemoryManager.hpp>

#include <cstddef>
#include <string>

XERCES_CPP_NAMESPACE_BEGIN
class XMLGrammarPool;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// What is left of a thread's stack when the matcher is stopped: enough to unwind and report
// (12 KiB was, 5 KiB was not), and little enough that a load still runs on a thread of 48 KiB.
inline constexpr std::size_t kStackReserve = std::size_t{32} << 10;

// Bytes of stack left to the calling thread, or the maximum when its stack is not known (a
// stack of the caller's own making, outside the thread's).
std::size_t StackLeft();

// Throws an InvalidDatatypeValueException when less than kStackReserve of the thread's stack is
// left: the validator reports it as a datatype error of the value being checked.
void GuardStack();

// Xerces' process-wide memory manager, guarding the stack at each allocation: the manager of a
// validating parser and grammar pool that have no pool of their own.
class GuardedMemoryManager final : public xercesc::MemoryManager {
public:
    xercesc::MemoryManager* getExceptionMemoryManager() override;
    void* allocate(XMLSize_t size) override;
    void deallocate(void* p) override;
};

// Why the grammars of pool must not be used: the first pattern of their simple types that
// PatternRefusal refuses, or empty.
std::string PoolPatternRefusal(xercesc::XMLGrammarPool& pool);

}  // namespace XML::internal

#endif
