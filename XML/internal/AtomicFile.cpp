// AtomicFile: the library's file writer (see AtomicFile.h): in-place writes for streams and
// devices, and the replacement of regular files through a private temporary file.
#include "XML/internal/AtomicFile.h"

#include "XML/internal/FileDescriptor.h"
#include "XML/internal/Messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace XML::internal {

namespace {

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

// The folder part of a path, for messages.
std::string DirectoryPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// "refused '<path>': <reason>" for a target the save will not touch.
std::string Refusal(const std::string& path, const std::string& reason) { return "refused '" + path + "': " + reason; }

// The kernel's rule for shared folders (protected_symlinks), applied by the library whatever the
// system's setting: in a sticky folder that everyone may write, an entry that belongs neither to
// this process's effective user nor to the folder's owner may have been planted by anyone.
bool PlantedByAnother(const struct stat& entry, const struct stat& folder) {
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
}

// Where a save writes: the open folder holding the final name, and that name. The path is walked
// one component at a time with no link followed by the kernel, so every link on the way, in the
// folders and at the end, is followed under the rule above; the folder is then used through its
// descriptor only, so renaming a folder on the way cannot send the save elsewhere.
struct Target {
    FileDescriptor directory{-1};
    std::string name;  // the final component, never a link once resolved
    std::string path;  // the resolved path, for messages
    bool exists = false;
    struct stat status {};  // of the final name, not following a link, when it exists
};

bool Resolve(const std::string& file, Target& target, std::string& error) {
    if (file.empty() || file.back() == '/') {
        errno = file.empty() ? ENOENT : EISDIR;
        error = SystemError("unable to write", file);
        return false;
    }
    std::deque<std::string> components;
    PushComponents(file, components);
    std::string walked = file[0] == '/' ? "/" : "";
    target.directory.Reset(::open(file[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int links = 0; target.directory.get() >= 0 && !components.empty();) {
        const std::string name = std::move(components.front());
        components.pop_front();
        const bool last = components.empty();
        const std::string here = walked + name;
        if (last && (name == "." || name == "..")) {
            errno = EISDIR;
            error = SystemError("unable to write", here);
            return false;
        }
        if (name == ".") continue;
        struct stat entry {};
        if (::fstatat(target.directory.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (last && errno == ENOENT) {
                target.name = name;
                target.path = here;
                return true;
            }
            error = SystemError("unable to reach", here);
            return false;
        }
        if (S_ISLNK(entry.st_mode)) {
            struct stat folder {};
            if (::fstat(target.directory.get(), &folder) != 0 || PlantedByAnother(entry, folder)) {
                error = Refusal(here, msg::kForeignLink);
                return false;
            }
            std::string link(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : 256) + 1, '\0');
            const ssize_t n = ::readlinkat(target.directory.get(), name.c_str(), &link[0], link.size());
            // A link longer than it was a moment ago has changed under the walk: not followed.
            const bool whole = n > 0 && static_cast<std::size_t>(n) < link.size();
            if (!whole || ++links > 40) {
                if (n == 0) errno = ENOENT;
                if (n > 0) errno = whole ? ELOOP : ENAMETOOLONG;
                error = SystemError("unable to resolve", here);
                return false;
            }
            link.resize(static_cast<std::size_t>(n));
            PushComponents(link, components);
            if (link[0] == '/') {
                walked = "/";
                target.directory.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            }
            continue;
        }
        if (last) {
            target.exists = true;
            target.status = entry;
            target.name = name;
            target.path = here;
            return true;
        }
        target.directory.Reset(
            ::openat(target.directory.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        walked = here + "/";
        if (target.directory.get() < 0) {
            error = SystemError("unable to reach", here);
            return false;
        }
    }
    // Only a failed open of "/" or "." (a path of "." components only ends at a folder).
    if (target.directory.get() >= 0) errno = EISDIR;
    error = SystemError("unable to write", file);
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

// The target's owner and mode onto the temporary file, owner first. No set-id or sticky bit is
// ever copied. Where the group cannot be kept (a user outside it), the file's group gets no access:
// the writer's own group would otherwise read what the target hid from it; groupKept tells.
bool KeepModeAndOwner(int fd, const struct stat& target, bool& groupKept) {
    mode_t mode = target.st_mode & 0777;
    groupKept = true;
    if (::fchown(fd, target.st_uid, target.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), target.st_gid) != 0) {
        struct stat now {};
        groupKept = ::fstat(fd, &now) == 0 && now.st_gid == target.st_gid;
        if (!groupKept) mode &= ~static_cast<mode_t>(S_IRWXG);
    }
    return ::fchmod(fd, mode) == 0;
}

// The replaced file's extended attributes, read through its descriptor, or through /proc where the
// writer may not read the file and holds it as a path only.
class AttributeSource {
public:
    AttributeSource(int fd, bool pathOnly) : m_fd(fd), m_proc(pathOnly ? "/proc/self/fd/" + std::to_string(fd) : "") {}
    ssize_t List(char* names, std::size_t size) const {
        return m_proc.empty() ? ::flistxattr(m_fd, names, size) : ::listxattr(m_proc.c_str(), names, size);
    }
    ssize_t Get(const char* name, void* value, std::size_t size) const {
        return m_proc.empty() ? ::fgetxattr(m_fd, name, value, size) : ::getxattr(m_proc.c_str(), name, value, size);
    }

private:
    int m_fd;
    std::string m_proc;
};

// Reads a list or a value whose size may change between the call that measures and the call that
// reads (ERANGE): measured again then. False with errno set.
template <typename Read>
bool ReadSized(const Read& read, std::string& out) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) return false;
        out.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t n = read(out.data(), out.size());
        if (n >= 0) {
            out.resize(static_cast<std::size_t>(n));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

// Copies the replaced file's extended attributes, its access control list among them, onto the
// temporary file, so the new file grants what the old one did and no more:
// - security.capability never (a privilege, as the set-id bits are);
// - security.* and trusted.* where the system lets the writer (a security module labels a new
//   file by its own policy, which refusing the save would not make safer);
// - every other (user.*, system.posix_acl_access, ...) or the save is refused.
// An old file without an access control list gives a new one without (none inherited from the
// folder's default list). An old list cannot be kept when the file's group could not be kept: its
// group entry would then grant the writer's group.
bool KeepAttributes(const AttributeSource& old, int fd, bool groupKept, const std::string& path, std::string& error) {
    static const char kAcl[] = "system.posix_acl_access";
    std::string names;
    if (!ReadSized([&](char* b, std::size_t n) { return old.List(b, n); }, names)) {
        if (errno == ENOTSUP) return true;
        error = SystemError("unable to list the extended attributes of", path);
        return false;
    }
    bool acl = false;
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const std::string name = names.c_str() + at;
        if (name.empty() || name == "security.capability") continue;
        std::string value;
        if (!ReadSized([&](char* b, std::size_t n) { return old.Get(name.c_str(), b, n); }, value)) {
            if (errno == ENODATA) continue;
            error = SystemError(("unable to read the extended attribute " + name + " of").c_str(), path);
            return false;
        }
        acl = acl || name == kAcl;
        if (name == kAcl && !groupKept) {
            error = Refusal(path, msg::kAclWithoutGroup);
            return false;
        }
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0) continue;
        const bool optional = name.rfind("security.", 0) == 0 || name.rfind("trusted.", 0) == 0;
        if (optional && (errno == EPERM || errno == EACCES || errno == ENOTSUP)) continue;
        error = Refusal(path, msg::kAttributeNotKept + name + ": " + std::strerror(errno));
        return false;
    }
    if (acl || ::fremovexattr(fd, kAcl) == 0 || errno == ENODATA || errno == ENOTSUP) return true;
    error = Refusal(path, msg::kAttributeNotKept + std::string(kAcl) + ": " + std::strerror(errno));
    return false;
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
// file untouched. This process's own streams and /dev/null are written directly; any other
// file that is not regular is refused. Returns false with a message on any failure.
bool WriteFileAtomically(const char* file, const unsigned char* data, std::size_t size, std::string& error,
                         TemporaryKind kind) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    return WriteFileAtomically(
        file, [bytes](const auto& write, std::string&) { return write(bytes); }, error, kind);
}

bool WriteFileAtomically(const char* file, const FileContent& content, std::string& error, TemporaryKind kind) {
    const std::string path(file);
    // A stream or /dev/null is written in place: only a complete content goes there.
    std::string whole;
    const auto made = [&] {
        return content(
            [&whole](std::string_view block) {
                whole.append(block);
                return true;
            },
            error);
    };
    if (const int stream = OwnStreamDescriptor(path); stream >= 0 && ::fcntl(stream, F_GETFD) != -1) {
        if (!made()) return false;
        if (!WriteAll(stream, reinterpret_cast<const unsigned char*>(whole.data()), whole.size())) {
            error = SystemError("unable to write", path);
            return false;
        }
        return true;
    }
    if (path == "/dev/null") {
        const FileDescriptor out(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (out.get() < 0 || ::fstat(out.get(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            error = out.get() < 0 ? SystemError("unable to open", path) : Refusal(path, msg::kNotRegularFile);
            return false;
        }
        if (!made()) return false;
        if (WriteAll(out.get(), reinterpret_cast<const unsigned char*>(whole.data()), whole.size())) return true;
        error = SystemError("unable to write", path);
        return false;
    }
    Target target;
    if (!Resolve(path, target, error)) return false;
    const std::string& base = target.name;
    struct stat st = target.status;
    const bool exists = target.exists;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        error = SystemError("unable to write", target.path);
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        error = Refusal(target.path, msg::kNotRegularFile);
        return false;
    }
    // The folder opened to list, create and flush in; a folder the process may write but not
    // list still works, only without the flush of its entries and the removal of leftovers.
    if (const int listed = ::openat(target.directory.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); listed >= 0)
        target.directory.Reset(listed);
    const int directory = target.directory.get();
    struct stat folder {};
    if (::fstat(directory, &folder) != 0) {
        error = SystemError("unable to create a file in", DirectoryPart(target.path));
        return false;
    }
    // The old file held open (no link followed, a FIFO slipped in meanwhile never blocks), to
    // read its attributes from what was checked. One the writer may write but not read is held
    // as a path.
    FileDescriptor old(-1);
    bool pathOnly = false;
    if (exists) {
        old.Reset(::openat(directory, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (old.get() < 0 && errno == EACCES) {
            pathOnly = true;
            old.Reset(::openat(directory, base.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        }
        struct stat now {};
        if (old.get() < 0 || ::fstat(old.get(), &now) != 0) {
            error = SystemError("unable to open", target.path);
            return false;
        }
        if (!S_ISREG(now.st_mode) || now.st_ino != st.st_ino || now.st_dev != st.st_dev) {
            error = Refusal(target.path, msg::kNotRegularFile);
            return false;
        }
        st = now;
    }
    // The rename below needs only the folder's permission: a file its owner made read-only
    // must still refuse the save.
    if (exists && ::faccessat(directory, base.c_str(), W_OK, AT_EACCESS) != 0) {
        error = SystemError("unable to write", target.path);
        return false;
    }
    // A file another user planted in a shared folder passes nothing on (owner, mode, attributes):
    // the new file is the writer's, as if the name had been free.
    const bool keep = exists && !PlantedByAnother(st, folder);

    const std::string prefix = TemporaryPrefix(base);
    // Over a kept file, readable by its owner at most until it has the target's mode; a new
    // file gets the usual mode from the umask at once, which is all it will ever show.
    const mode_t mode = keep ? (st.st_mode & 0600) : 0666;
    std::string temp = prefix + ".tmp";
    FileDescriptor out(kind == TemporaryKind::Unnamed ? CreateUnnamed(directory, mode) : -1);
    const bool unnamed = out.get() >= 0;
    if (!unnamed && (kind == TemporaryKind::Named || NoUnnamedFiles(errno)))
        out.Reset(CreateNamed(directory, prefix, mode, temp));
    if (out.get() < 0) {
        error = SystemError("unable to create a file in", DirectoryPart(target.path));
        return false;
    }
    bool groupKept = true;
    bool ok = content(
        [&out](std::string_view block) {
            return WriteAll(out.get(), reinterpret_cast<const unsigned char*>(block.data()), block.size());
        },
        error);
    ok = ok && (!keep || KeepModeAndOwner(out.get(), st, groupKept));
    ok = ok &&
         (!keep || KeepAttributes(AttributeSource(old.get(), pathOnly), out.get(), groupKept, target.path, error));
    ok = ok && ::fsync(out.get()) == 0;
    bool named = !unnamed;
    bool renamed = false;
    // A concurrent save of the same target may take the unnamed file's name between link and
    // rename; what it renames is complete all the same. Link once more then.
    for (int attempt = 0; ok && !renamed && attempt < 2; ++attempt) {
        if (unnamed) ok = named = LinkUnnamed(out.get(), directory, prefix, temp);
        // Neither /proc nor the privilege to link a descriptor: a named file then.
        if (unnamed && !named && (errno == ENOENT || errno == EPERM))
            return WriteFileAtomically(file, content, error, TemporaryKind::Named);
        renamed = ok && ::renameat(directory, temp.c_str(), directory, base.c_str()) == 0;
        ok = renamed || (ok && unnamed && errno == ENOENT);
    }
    if (!renamed) {
        if (error.empty()) error = SystemError("unable to write", target.path);
        if (named) ::unlinkat(directory, temp.c_str(), 0);
        return false;
    }
    // Make the rename itself durable; a failure here, or of the close, cannot put the data
    // (flushed above) at risk.
    ::fsync(directory);
    return true;
}

}  // namespace XML::internal
