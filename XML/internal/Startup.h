// Startup: the process-wide state of the parser library (started or not, and which run of it),
// its start and its stop. Every operation reads the state in one atomic load; only a start and
// a stop take the lock.
#ifndef KELXML_INTERNAL_STARTUP_H
#define KELXML_INTERNAL_STARTUP_H

#include <cstdint>

namespace XML::internal {

// One more start of the parser library; false, with the parser library's message written to
// standard output, when it fails to start.
bool StartLibrary();
// The stop that matches one start; the library stops with the one that matches the first.
// A stop without a start does nothing.
void StopLibrary();

// The state now: the number of the current run of the parser library times two, plus one while
// it runs (what an object made in an earlier run holds belongs to a library that is gone).
std::uint64_t LibraryState();
bool IsRunning(std::uint64_t state);
std::uint64_t RunOf(std::uint64_t state);
// Whether what belongs to run (0: nothing held) may be used in state.
bool HeldBy(std::uint64_t run, std::uint64_t state);

}  // namespace XML::internal

#endif
