#include "XML/internal/ResourceGate.h"

#include "XML/HandlerError.h"
#include "XML/XStr.h"
#include "XML/internal/Messages.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/URLInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/XMLExceptMsgs.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace xercesc;

namespace XML::internal {

namespace {
// File systems whose files are not data: PROC_SUPER_MAGIC and SYSFS_MAGIC of <linux/magic.h>.
constexpr auto kProcMagic = 0x9fa0;
constexpr auto kSysfsMagic = 0x62656572;
}  // namespace

std::string AsUtf8(std::string_view bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4) return std::string(bytes);
    bool bigEndian;
    std::size_t start = 0;
    if (at(0) == 0xFE && at(1) == 0xFF) {
        bigEndian = true;
        start = 2;
    } else if (at(0) == 0xFF && at(1) == 0xFE) {
        bigEndian = false;
        start = 2;
    } else if (at(0) == 0 && at(1) == '<' && at(2) == 0 && (at(3) == '?' || at(3) == '!')) {
        bigEndian = true;
    } else if (at(0) == '<' && at(1) == 0 && (at(2) == '?' || at(2) == '!') && at(3) == 0) {
        bigEndian = false;
    } else {
        return std::string(bytes);
    }
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        // Surrogates are kept as units of their own: names and counts only need to be stable.
        const unsigned unit = bigEndian ? (at(i) << 8 | at(i + 1)) : (at(i + 1) << 8 | at(i));
        if (unit < 0x80) {
            text += static_cast<char>(unit);
        } else if (unit < 0x800) {
            text += static_cast<char>(0xC0 | unit >> 6);
            text += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | unit >> 12);
            text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return text;
}

UnopenedSource::UnopenedSource(const XMLCh* systemId) : InputSource(systemId, XMLPlatformUtils::fgMemoryManager) {}

OpenedFile::~OpenedFile() = default;

bool OpenedFile::Open(const std::string& path, std::string& why) {
    // O_NONBLOCK: opening a FIFO for reading never waits for a writer; it is refused below.
    return Adopt(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY), why);
}

bool OpenedFile::Adopt(int fd, std::string& why, bool streams) {
    m_refused = false;
    m_missing = fd < 0 && errno == ENOENT;
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    FileDescriptor file(fd);
    if (::fstat(fd, &m_status) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (streams && !S_ISREG(m_status.st_mode)) return TakeStream(std::move(file), why);
    // /proc and /sys live on anonymous devices (major 0): a file on any other needs no fstatfs.
    struct statfs fs {};
    if (major(m_status.st_dev) == 0 && S_ISREG(m_status.st_mode) && ::fstatfs(fd, &fs) != 0) {
        why = std::strerror(errno);
        return false;
    }
    m_refused = true;
    if (!S_ISREG(m_status.st_mode)) {
        why = S_ISDIR(m_status.st_mode)    ? "a directory"
              : S_ISFIFO(m_status.st_mode) ? "a FIFO"
              : S_ISSOCK(m_status.st_mode) ? "a socket"
                                           : "a device";
        why = "not a regular file (" + why + ")";
    } else if (fs.f_type == kProcMagic || fs.f_type == kSysfsMagic) {
        // Files of /proc and /sys say they are empty and never end, or show the process's secrets.
        why = "a file of /proc or /sys";
    } else {
        m_refused = false;
        m_file = std::make_shared<FileDescriptor>(std::move(file));
        return true;
    }
    return false;
}

bool OpenedFile::TakeStream(FileDescriptor file, std::string& why) {
    if (S_ISDIR(m_status.st_mode)) {
        why = std::strerror(EISDIR);
        return false;
    }
    m_file = std::make_shared<FileDescriptor>(std::move(file));
    // A pipe is waited for only while a writer holds it: one without a writer (a FIFO nobody
    // opened, a trap left in a shared folder) reads as ended at once, never blocks. Its first
    // bytes are kept as the head. Any other failure is left for the parser's read to report.
    if (S_ISFIFO(m_status.st_mode)) {
        std::string ignored;
        while (ReadMore(ignored) < 0 && errno == EAGAIN) {
            pollfd ready{m_file->get(), POLLIN, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR) break;
        }
    }
    // Read as it comes: a pipe's writer may be slower than the parser.
    const int flags = ::fcntl(m_file->get(), F_GETFL);
    if (flags < 0 || ::fcntl(m_file->get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        why = std::strerror(errno);
        m_file.reset();
        return false;
    }
    return true;
}

bool OpenedFile::ReadHead(std::size_t maxBytes, std::string& why) {
    while (m_file && !m_atEnd && m_head.size() <= maxBytes)
        if (ReadMore(why) < 0) return false;
    return m_file != nullptr;
}

long OpenedFile::ReadMore(std::string& why) {
    if (!m_file || m_atEnd) return 0;
    char chunk[kChunk];
    ssize_t n = 0;
    while ((n = ::read(m_file->get(), chunk, sizeof chunk)) < 0 && errno == EINTR) {
    }
    if (n < 0) {
        why = std::strerror(errno);
        return -1;
    }
    m_atEnd = n == 0;
    m_head.append(chunk, static_cast<std::size_t>(n));
    return static_cast<long>(n);
}

OpenedFile::ByteReader OpenedFile::Reader() const {
    if (!m_file || !S_ISREG(m_status.st_mode)) return nullptr;
    return [file = m_file](std::uint64_t offset, std::size_t length, std::string& bytes) {
        return ReadAt(file->get(), offset, length, bytes);
    };
}

namespace {

// The parser's stream over an OpenedFile: the bytes read before, then the rest of the file.
class HeadThenFile : public BinInputStream {
public:
    HeadThenFile(std::shared_ptr<FileDescriptor> file, std::string head, bool whole)
        : m_file(std::move(file)), m_head(std::move(head)), m_whole(whole) {}
    XMLFilePos curPos() const override { return m_position; }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
        XMLSize_t n = 0;
        if (m_served < m_head.size()) {
            n = std::min<XMLSize_t>(maxToRead, m_head.size() - m_served);
            std::memcpy(toFill, m_head.data() + m_served, n);
            m_served += n;
        } else if (!m_whole) {
            ssize_t got = 0;
            while ((got = ::read(m_file->get(), toFill, maxToRead)) < 0 && errno == EINTR) {
            }
            // As the parser's own file stream does on a failed read.
            if (got < 0) ThrowXML(XMLPlatformUtilsException, XMLExcepts::File_CouldNotReadFromFile);
            n = static_cast<XMLSize_t>(got);
        }
        m_position += n;
        return n;
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    std::shared_ptr<FileDescriptor> m_file;
    std::string m_head;
    bool m_whole;  // the head is the whole file: nothing more to read
    std::size_t m_served = 0;
    XMLFilePos m_position = 0;
};

class OpenedFileSource : public InputSource {
public:
    OpenedFileSource(const XMLCh* systemId, std::shared_ptr<FileDescriptor> file, std::string head, bool whole)
        : InputSource(systemId, XMLPlatformUtils::fgMemoryManager),
          m_file(std::move(file)),
          m_head(std::move(head)),
          m_whole(whole) {}
    // The parser owns the stream; the file is read once, so a second stream cannot be had.
    BinInputStream* makeStream() const override {
        if (!m_file) return nullptr;
        return new HeadThenFile(std::move(m_file), std::move(m_head), m_whole);
    }

private:
    mutable std::shared_ptr<FileDescriptor> m_file;
    mutable std::string m_head;
    bool m_whole;
};

}  // namespace

std::unique_ptr<InputSource> OpenedFile::Source(const XMLCh* systemId) {
    if (!m_file) return nullptr;
    return std::make_unique<OpenedFileSource>(systemId, m_file, std::move(m_head), m_atEnd);
}

namespace {

bool IsAbsolutePath(const XMLCh* id) { return id && id[0] == chForwardSlash; }

// A file: URL's path with its %XX escapes decoded, as the parser opens it.
std::string Unescaped(const std::string& path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
            out += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += path[i];
        }
    }
    return out;
}

std::string Quoted(const XMLCh* id) { return "'" + XStr::ToLocal(id) + "'"; }

}  // namespace

ResourceGate::ResourceGate(E_RESOURCE_ACCESS access, std::size_t budget, const XMLCh* documentId,
                           const std::string& base)
    : m_access(access),
      m_budget(budget),
      m_documentId(documentId ? reinterpret_cast<const char16_t*>(documentId) : u""),
      m_base(base) {}

ResourceGate::~ResourceGate() = default;

const std::string& ResourceGate::TreePath() {
    if (!m_treeFound && !m_base.empty()) {
        // Spelled as the parser spells resolved names: absolute, woven onto the working folder.
        const XStr base(m_base.c_str());
        const LocalFileInputSource asParsed(base.unicodeForm(), XMLPlatformUtils::fgMemoryManager);
        const std::string path = XStr::ToLocal(asParsed.getSystemId());
        const std::size_t slash = path.find_last_of('/');
        if (slash != std::string::npos) m_treePath = path.substr(0, slash + 1);
        // A memory document's folder is opened at its first use; a file's was opened with it.
        if (m_tree.get() < 0) {
            const std::size_t mine = m_base.find_last_of('/');
            const std::string folder = mine == std::string::npos ? "." : m_base.substr(0, mine + 1);
            m_tree.Reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        if (m_tree.get() < 0) m_treePath.clear();
    }
    m_treeFound = true;
    return m_treePath;
}

// The folder rule: the path is walked from the allowed folder's descriptor one name at a time,
// no link followed by the kernel; a link on the way is followed by the walk only while it stays
// in the folder (an absolute one must name a path below it, a relative one may not climb out),
// so that a folder or file swapped for a link between a check and an open cannot lead out.
bool ResourceGate::OpenInTree(const std::string& path, OpenedFile& file, std::string& why, bool& outside) {
    outside = true;
    const std::string& tree = TreePath();
    if (tree.empty() || path.compare(0, tree.size(), tree) != 0) return false;
    std::deque<std::string> components, named;
    PushComponents(path.substr(tree.size()), named);
    // The name's own ".." are taken lexically, as the parser's resolution takes them.
    for (std::string& name : named) {
        if (name == ".") continue;
        if (name != "..")
            components.push_back(std::move(name));
        else if (components.empty())
            return false;
        else
            components.pop_back();
    }
    std::vector<FileDescriptor> folders;  // below the allowed folder, the current one last
    const auto current = [&] { return folders.empty() ? m_tree.get() : folders.back().get(); };
    for (int links = 0; !components.empty();) {
        const std::string name = std::move(components.front());
        components.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            outside = folders.empty();
            if (outside) return false;
            folders.pop_back();
            continue;
        }
        outside = false;
        struct stat entry {};
        if (::fstatat(current(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            why = errno == ENOENT ? std::string() : std::strerror(errno);  // missing: the parser reports it
            return false;
        }
        if (S_ISLNK(entry.st_mode)) {
            std::string link(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : 256) + 1, '\0');
            const ssize_t n = ::readlinkat(current(), name.c_str(), &link[0], link.size());
            // A link longer than it was a moment ago has changed under the walk: not followed.
            if (n <= 0 || static_cast<std::size_t>(n) >= link.size() || ++links > 40) {
                why = std::strerror(n <= 0 ? ENOENT : ELOOP);
                return false;
            }
            link.resize(static_cast<std::size_t>(n));
            if (link[0] == '/') {
                outside = true;
                if (link.compare(0, tree.size(), tree) != 0) return false;
                link.erase(0, tree.size());
                folders.clear();
            }
            PushComponents(link, components);
            continue;
        }
        outside = false;
        if (components.empty()) {
            if (!file.Adopt(
                    ::openat(current(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC), why))
                return false;
            // A hard link made here to a file the folder never held would lend it the folder's
            // rule: a file with another name is read only when it and the folder that names it
            // are the caller's, and no one else may write that folder (and so have made the link).
            struct stat folder {};
            const bool foreign = ::fstat(current(), &folder) != 0 || folder.st_uid != ::geteuid() ||
                                 (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 || file.Status().st_uid != ::geteuid();
            if (file.Status().st_nlink > 1 && foreign) {
                why = msg::kSharedFile;
                return false;
            }
            return true;
        }
        FileDescriptor next(::openat(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            why = std::strerror(errno);
            return false;
        }
        folders.push_back(std::move(next));
    }
    why = "not a regular file (a directory)";
    outside = false;
    return false;
}

const LocalResource* ResourceGate::Read(const XMLCh* base, const XMLCh* systemId) {
    if (!systemId) return nullptr;
    HandlerError::RefuseNetwork(base, systemId);
    if (m_access == E_RESOURCES_NONE)
        throw ResourceDenied(
            ("external resource " + Quoted(systemId) + " not read: this load reads none" + msg::kAccessWayOut).c_str());
    // The document's own relative references start from the base the caller gave, or nowhere.
    std::u16string weaveBase = base ? reinterpret_cast<const char16_t*>(base) : u"";
    if (base && weaveBase == m_documentId) {
        XMLURL url(XMLPlatformUtils::fgMemoryManager);
        const bool isUrl = XMLURL::parse(systemId, url) && !url.isRelative();
        if (!isUrl && !IsAbsolutePath(systemId)) {
            if (m_base.empty())
                throw SAXException(("relative reference " + Quoted(systemId) +
                                    " not read: the document has no base to resolve it against")
                                       .c_str());
            // A folder ends in '/': the parser weaves onto what precedes the last '/'.
            weaveBase = reinterpret_cast<const char16_t*>(XStr(m_base.c_str()).unicodeForm());
        }
    }
    // The same choice as the parser's reader manager: a URL when it reads as an absolute one, a
    // path woven onto the base otherwise.
    const XMLCh* const weave = weaveBase.empty() ? nullptr : reinterpret_cast<const XMLCh*>(weaveBase.c_str());
    std::string path;
    std::u16string resolvedId;
    XMLURL url(XMLPlatformUtils::fgMemoryManager);
    if (url.setURL(weave, systemId, url) && !url.isRelative()) {
        path = Unescaped(XStr::ToLocal(url.getPath()));
        resolvedId = reinterpret_cast<const char16_t*>(url.getURLText());
    } else {
        std::u16string relative(reinterpret_cast<const char16_t*>(systemId));
        XMLPlatformUtils::removeDotSlash(reinterpret_cast<XMLCh*>(relative.data()));
        const LocalFileInputSource source(weave, reinterpret_cast<const XMLCh*>(relative.c_str()));
        path = XStr::ToLocal(source.getSystemId());
        resolvedId = reinterpret_cast<const char16_t*>(source.getSystemId());
    }
    return ReadPath(path, resolvedId, true);
}

const LocalResource* ResourceGate::ReadNamed(const std::string& path) {
    return ReadPath(path, reinterpret_cast<const char16_t*>(XStr(path.c_str()).unicodeForm()), false);
}

const LocalResource* ResourceGate::ReadPath(const std::string& path, const std::u16string& systemId, bool checkAccess) {
    if (const auto known = m_read.find(path); known != m_read.end()) return known->second.get();
    const std::string name = "'" + XStr::ToLocal(reinterpret_cast<const XMLCh*>(systemId.c_str())) + "'";
    OpenedFile file;
    std::string why;
    bool opened = false;
    if (checkAccess && m_access == E_RESOURCES_DOCUMENT_TREE) {
        bool outside = false;
        opened = OpenInTree(path, file, why, outside);
        if (outside)
            throw ResourceDenied(
                ("external resource " + name + " not read: it is outside the document's folder" + msg::kAccessWayOut)
                    .c_str());
    } else {
        opened = file.Open(path, why);
    }
    if (!opened && (file.Missing() || (why.empty() && !file.Refused()))) return nullptr;  // the parser reports it
    const std::size_t left = m_budget - std::min(m_budget, m_bytesRead);
    if (!opened || !file.ReadHead(left, why))
        throw SAXException(("external resource " + name + " not read: " + why).c_str());
    auto resource = std::make_unique<LocalResource>();
    resource->bytes = file.Head();
    if (resource->bytes.size() > left)
        throw SAXException(("external resource " + name + " not read: the external resources of one load " +
                            "are limited to " + std::to_string(m_budget) + " bytes")
                               .c_str());
    m_bytesRead += resource->bytes.size();
    resource->systemId = systemId;
    return m_read.emplace(path, std::move(resource)).first->second.get();
}

InputSource* Unopened(const XMLCh* systemId) { return new UnopenedSource(systemId); }

InputSource* ResourceGate::Open(const XMLResourceIdentifier& resource) {
    const LocalResource* const read = Read(resource.getBaseURI(), resource.getSystemId());
    if (!read) return Unopened(resource.getSystemId());
    return new MemBufInputSource(reinterpret_cast<const XMLByte*>(read->bytes.data()), read->bytes.size(),
                                 reinterpret_cast<const XMLCh*>(read->systemId.c_str()), false,
                                 XMLPlatformUtils::fgMemoryManager);
}

}  // namespace XML::internal
