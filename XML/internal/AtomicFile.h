// AtomicFile: writing a file so that a failure never leaves it half written, and so that a trap
// another user set at its name cannot turn the write elsewhere. Regular files are replaced
// through a temporary file and a rename; /dev/null and the process's own streams (/dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N) are written in place; anything else is refused.
// Internal to the library.
#ifndef KELXML_INTERNAL_ATOMICFILE_H
#define KELXML_INTERNAL_ATOMICFILE_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace XML::internal {

// How the temporary file of a replaced regular file is made. Unnamed: without a name
// (O_TMPFILE) until it is complete, so a process killed while writing leaves nothing; where the
// file system cannot, as Named. Named: created under its temporary name from the start.
enum class TemporaryKind { Unnamed, Named };

// Writes size bytes of data to file (see the rules above). False, with the reason in error,
// on any failure or refusal; the old file is then intact. The path is walked by the library: a
// symbolic link in a sticky folder that everyone may write is followed only when it belongs to
// the effective user or the folder's owner (the kernel's protected_symlinks rule, whatever the
// system's setting). The temporary file is never readable by more than the target is, and
// carries the target's owner, permission bits (never set-id ones) and extended attributes (the
// access control list among them) before it takes the target's place; over a file another user
// planted in such a folder it takes none of them, as a new file. Its name,
// TemporaryFileName(base name of the target), is the same at every save of one target, so a
// save removes whatever a killed save of the same target left behind.
bool WriteFileAtomically(const char* file, const unsigned char* data, std::size_t size, std::string& error,
                         TemporaryKind kind = TemporaryKind::Unnamed);

// Takes bytes block by block, in order; false when they could not be written, which stops
// whoever makes them.
using ByteSink = std::function<bool(std::string_view block)>;

// Makes a file's content: hands its bytes to write block by block, in order. False, with the
// reason in error, when the content cannot be made; false with error empty when write failed.
using FileContent = std::function<bool(const ByteSink& write, std::string& error)>;

// The same, the content written into the temporary file as it is made, never held whole; into
// the process's own streams and /dev/null only once it is complete, so that a content that cannot
// be made leaves them untouched too. content may be called twice (a second temporary file).
bool WriteFileAtomically(const char* file, const FileContent& content, std::string& error,
                         TemporaryKind kind = TemporaryKind::Unnamed);

// The temporary file's name beside a target of that base name: short whatever the target's length.
std::string TemporaryFileName(const std::string& baseName);

}  // namespace XML::internal

#endif
