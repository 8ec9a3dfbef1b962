#include "XML/internal/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
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
        path = (!target.empty() && target[0] == '/') ? target : DirectoryOf(path) + "/" + target;
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

} // namespace

// Writes bytes to path. A regular file (or a path that does not exist yet) is written into a
// temporary file beside it, flushed to disk and renamed over it, so a failure leaves the old
// file untouched; the new file keeps the old one's permission bits. Anything else (a device,
// a pipe, this process's own stream) is written directly. Returns false with a message on any failure.
bool WriteFileAtomically(const char* file, const unsigned char* data, std::size_t size, std::string& error) {
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
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
        temp = dir + "/." + base + suffix + ".tmp";
        // 0666 lets the umask decide the bits of a new file, as any other file creation would.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    FileDescriptor out(fd);
    if (out.get() < 0) {
        error = SystemError("unable to create a file in", dir);
        return false;
    }
    bool ok = WriteAll(out.get(), data, size);
    if (ok && exists) {
        ok = ::fchmod(out.get(), st.st_mode & 07777) == 0;
        if (ok && ::fchown(out.get(), st.st_uid, st.st_gid) != 0) {
            // Only the owner's own group can be kept by an ordinary user; the bits above still hold.
        }
    }
    ok = ok && ::fsync(out.get()) == 0;
    ok = out.Close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = SystemError("unable to write", path);
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here no longer puts the data at risk.
    FileDescriptor directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
    return true;
}

} // namespace XML::internal
