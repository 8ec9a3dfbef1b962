// AtomicFile: the library's file writer (see AtomicFile.h): in-place writes for streams and
// devices, and the replacement of regular files through a private temporary file.
#include "XML/internal/AtomicFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace XML::internal {

namespace {

// A file descriptor closed on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const noexcept { return m_fd; }
    void Reset(int fd) noexcept {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and tells whether the close succeeded (a deferred write error shows here).
    bool Close() noexcept {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// "<what> '<path>': <system reason>" for the errno of the call that just failed.
std::string SystemError(const char* what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::strerror(errno);
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links so that saving through a link replaces its target, not the link.
// A dangling link resolves to the file it names, which is then created.
bool ResolveLinks(std::string& path, std::string& error) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
        if (n < 0) {
            error = SystemError("unable to read link", path);
            return false;
        }
        target.resize(static_cast<std::size_t>(n));
        path = (!target.empty() && target[0] == '/') ? target : DirectoryOf(path).append("/").append(target);
    }
    errno = ELOOP;
    error = SystemError("unable to resolve", path);
    return false;
}

// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N names, or -1.
// Such a path means "this process's stream": replacing the file behind it, or reopening it
// at offset 0, would destroy what the process already wrote there.
int OwnStreamDescriptor(const std::string& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (path.compare(0, length, prefix) != 0 || path.size() == length || path.size() > length + 6) continue;
        if (path.find_first_not_of("0123456789", length) != std::string::npos) continue;
        return std::atoi(path.c_str() + length);
    }
    return -1;
}

// The folder of a file about to be replaced, opened to create, link and rename in it. A folder
// the process may write but not list still works, only without the flush of its entries.
int OpenDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The target's mode and owner onto the temporary file, owner first (a change of owner clears the
// set-id bits). Where the group cannot be kept (a user outside it), the file's group gets no access:
// the writer's own group would otherwise read what the target hid from it.
bool KeepModeAndOwner(int fd, const struct stat& target) {
    mode_t mode = target.st_mode & 07777;
    if (::fchown(fd, target.st_uid, target.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), target.st_gid) != 0) {
        struct stat now {};
        if (::fstat(fd, &now) != 0 || now.st_gid != target.st_gid) mode &= ~static_cast<mode_t>(S_ISGID | S_IRWXG);
    }
    return ::fchmod(fd, mode) == 0;
}

// The unnamed temporary file of a folder, or -1 (errno set).
int CreateUnnamed(int directory, mode_t mode) {
    return ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

// errno after CreateUnnamed when the file system or the kernel has no unnamed files.
bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// Every temporary file of one target begins so: the unnamed file's name, and the named files.
std::string TemporaryPrefix(const std::string& baseName) {
    // FNV-1a: stable across runs and builds, so every save of one target finds the same names.
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : baseName) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, ".kelxml-%016llx", static_cast<unsigned long long>(hash));
    return prefix;
}

bool IsTemporaryOf(const std::string& name, const std::string& prefix) {
    return name.size() >= prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// Removes what killed saves of the same target left beside it: its temporary files that no save
// at work holds locked. A folder that cannot be listed keeps them.
void RemoveLeftovers(int directory, const std::string& prefix) {
    const int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listed), ::closedir);
    if (!listing) {
        ::close(listed);
        return;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!IsTemporaryOf(entry->d_name, prefix)) continue;
        const FileDescriptor leftover(
            ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (leftover.get() >= 0 && ::flock(leftover.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(directory, entry->d_name, 0);
    }
}

// A temporary name of the target's prefix with a random part, never the same as another save's.
std::string RandomName(const std::string& prefix) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x.tmp", static_cast<unsigned>(std::random_device{}()));
    return prefix + suffix;
}

// Creates a named temporary file of its own (a random part in its name, so that a save at work
// and a save removing leftovers never share one), locked while this save lasts.
int CreateNamed(int directory, const std::string& prefix, mode_t mode, std::string& temp) {
    RemoveLeftovers(directory, prefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = RandomName(prefix);
        const int fd = ::openat(directory, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST) break;
    }
    return -1;
}

// Gives the unnamed file fd the name temp. The /proc link needs no privilege, AT_EMPTY_PATH works
// without /proc. A file already there holds complete content only, left by a killed save or about
// to be renamed by a concurrent one: it is replaced. One that cannot be removed (another user's,
// in a shared folder) leaves a name with a random part instead.
bool LinkUnnamed(int fd, int directory, const std::string& prefix, std::string& temp) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const auto link = [&]() {
        if (::linkat(AT_FDCWD, self.c_str(), directory, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        return errno == ENOENT && ::linkat(fd, "", directory, temp.c_str(), AT_EMPTY_PATH) == 0;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (link()) return true;
        if (errno != EEXIST) return false;
        if (::unlinkat(directory, temp.c_str(), 0) != 0 && errno != ENOENT) temp = RandomName(prefix);
    }
    return false;
}

}  // namespace

std::string TemporaryFileName(const std::string& baseName) { return TemporaryPrefix(baseName) + ".tmp"; }

// Writes bytes to path. A regular file (or a path that does not exist yet) is written into a
// temporary file beside it, flushed to disk and renamed over it, so a failure leaves the old
// file untouched. Anything else (a device, a pipe, this process's own stream) is written
// directly. Returns false with a message on any failure.
bool WriteFileAtomically(const char* file, const unsigned char* data, std::size_t size, std::string& error,
                         TemporaryKind kind) {
    std::string path(file);
    if (const int stream = OwnStreamDescriptor(path); stream >= 0 && ::fcntl(stream, F_GETFD) != -1) {
        if (!WriteAll(stream, data, size)) {
            error = SystemError("unable to write", path);
            return false;
        }
        return true;
    }
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    // Decided before resolving links: /dev/stdout on a pipe links to "pipe:[n]", no real path.
    if (exists && !S_ISREG(st.st_mode)) {
        FileDescriptor out(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (out.get() < 0) {
            error = SystemError("unable to open", path);
            return false;
        }
        if (!WriteAll(out.get(), data, size) || !out.Close()) {
            error = SystemError("unable to write", path);
            return false;
        }
        return true;
    }
    if (!ResolveLinks(path, error)) return false;
    exists = ::stat(path.c_str(), &st) == 0;
    // The rename below needs only the folder's permission: a file its owner made read-only
    // must still refuse the save.
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        error = SystemError("unable to write", path);
        return false;
    }

    const std::string dir = DirectoryOf(path);
    const std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const std::string prefix = TemporaryPrefix(base);
    const FileDescriptor directory(OpenDirectory(dir));
    if (directory.get() < 0) {
        error = SystemError("unable to create a file in", dir);
        return false;
    }
    // Over an existing file, readable by its owner at most until it has the target's mode; a new
    // file gets the usual mode from the umask at once, which is all it will ever show.
    const mode_t mode = exists ? (st.st_mode & 0600) : 0666;
    std::string temp = prefix + ".tmp";
    FileDescriptor out(kind == TemporaryKind::Unnamed ? CreateUnnamed(directory.get(), mode) : -1);
    const bool unnamed = out.get() >= 0;
    if (!unnamed && (kind == TemporaryKind::Named || NoUnnamedFiles(errno)))
        out.Reset(CreateNamed(directory.get(), prefix, mode, temp));
    if (out.get() < 0) {
        error = SystemError("unable to create a file in", dir);
        return false;
    }
    bool ok = WriteAll(out.get(), data, size);
    ok = ok && (!exists || KeepModeAndOwner(out.get(), st));
    ok = ok && ::fsync(out.get()) == 0;
    bool named = !unnamed;
    bool renamed = false;
    // A concurrent save of the same target may take the unnamed file's name between link and
    // rename; what it renames is complete all the same. Link once more then.
    for (int attempt = 0; ok && !renamed && attempt < 2; ++attempt) {
        if (unnamed) ok = named = LinkUnnamed(out.get(), directory.get(), prefix, temp);
        // Neither /proc nor the privilege to link a descriptor: a named file then.
        if (unnamed && !named && (errno == ENOENT || errno == EPERM))
            return WriteFileAtomically(file, data, size, error, TemporaryKind::Named);
        renamed = ok && ::renameat(directory.get(), temp.c_str(), directory.get(), base.c_str()) == 0;
        ok = renamed || (ok && unnamed && errno == ENOENT);
    }
    if (!renamed) {
        error = SystemError("unable to write", path);
        if (named) ::unlinkat(directory.get(), temp.c_str(), 0);
        return false;
    }
    // Make the rename itself durable; a failure here, or of the close, no longer puts the data
    // (flushed above) at risk.
    ::fsync(directory.get());
    return true;
}

}  // namespace XML::internal
