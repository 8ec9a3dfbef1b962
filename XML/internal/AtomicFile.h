// AtomicFile: writing a file so that a failure never leaves it half written. Regular files are
// replaced through a temporary file and a rename; devices, pipes and the process's own streams
// (/dev/stdout, /dev/fd/N) are written in place. Internal to the library.
#ifndef KELXML_INTERNAL_ATOMICFILE_H
#define KELXML_INTERNAL_ATOMICFILE_H

#include <cstddef>
#include <string>

namespace XML::internal {

// Writes size bytes of data to file (see the rules above). False, with the reason in error,
// on any failure; the old file is then intact.
bool WriteFileAtomically(const char* file, const unsigned char* data, std::size_t size, std::string& error);

} // namespace XML::internal

#endif
