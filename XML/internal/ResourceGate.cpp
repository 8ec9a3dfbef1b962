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
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

OpenedFile::~OpenedFile() {
    if (m_fd >= 0) ::close(m_fd);
}

bool OpenedFile::Open(const std::string& path, std::string& why) {
    // O_NONBLOCK: opening a FIFO for reading never waits for a writer; it is refused below.
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    struct statfs fs {};
    if (::fstat(m_fd, &info) != 0 || ::fstatfs(m_fd, &fs) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = S_ISDIR(info.st_mode)    ? "a directory"
              : S_ISFIFO(info.st_mode) ? "a FIFO"
              : S_ISSOCK(info.st_mode) ? "a socket"
                                       : "a device";
        why = "not a regular file (" + why + ")";
    } else if (fs.f_type == kProcMagic || fs.f_type == kSysfsMagic) {
        // Files of /proc and /sys say they are empty and never end, or show the process's secrets.
        why = "a file of /proc or /sys";
    } else {
        return true;
    }
    ::close(std::exchange(m_fd, -1));
    return false;
}

bool OpenedFile::ReadHead(std::size_t maxBytes, std::string& why) {
    char chunk[65536];
    while (m_fd >= 0 && !m_atEnd && m_head.size() <= maxBytes) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        m_atEnd = n == 0;
        m_head.append(chunk, static_cast<std::size_t>(n));
    }
    return m_fd >= 0;
}

namespace {

// The parser's stream over an OpenedFile: the bytes read before, then the rest of the file.
class HeadThenFile : public BinInputStream {
public:
    HeadThenFile(int fd, std::string head, bool whole) : m_fd(fd), m_head(std::move(head)), m_whole(whole) {}
    HeadThenFile(const HeadThenFile&) = delete;
    HeadThenFile& operator=(const HeadThenFile&) = delete;
    ~HeadThenFile() override { ::close(m_fd); }
    XMLFilePos curPos() const override { return m_position; }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
        XMLSize_t n = 0;
        if (m_served < m_head.size()) {
            n = std::min<XMLSize_t>(maxToRead, m_head.size() - m_served);
            std::memcpy(toFill, m_head.data() + m_served, n);
            m_served += n;
        } else if (!m_whole) {
            ssize_t got = 0;
            while ((got = ::read(m_fd, toFill, maxToRead)) < 0 && errno == EINTR) {
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
    int m_fd;
    std::string m_head;
    bool m_whole;  // the head is the whole file: nothing more to read
    std::size_t m_served = 0;
    XMLFilePos m_position = 0;
};

class OpenedFileSource : public InputSource {
public:
    OpenedFileSource(const XMLCh* systemId, int fd, std::string head, bool whole)
        : InputSource(systemId, XMLPlatformUtils::fgMemoryManager), m_fd(fd), m_head(std::move(head)), m_whole(whole) {}
    OpenedFileSource(const OpenedFileSource&) = delete;
    OpenedFileSource& operator=(const OpenedFileSource&) = delete;
    ~OpenedFileSource() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    // The parser owns the stream; the file is read once, so a second stream cannot be had.
    BinInputStream* makeStream() const override {
        if (m_fd < 0) return nullptr;
        return new HeadThenFile(std::exchange(m_fd, -1), std::move(m_head), m_whole);
    }

private:
    mutable int m_fd;
    mutable std::string m_head;
    bool m_whole;
};

}  // namespace

std::unique_ptr<InputSource> OpenedFile::Source(const XMLCh* systemId) {
    if (m_fd < 0) return nullptr;
    auto source = std::make_unique<OpenedFileSource>(systemId, m_fd, std::move(m_head), m_atEnd);
    m_fd = -1;
    return source;
}

bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why) {
    OpenedFile file;
    if (!file.Open(path, why) || !file.ReadHead(maxBytes, why)) return false;
    bytes = file.Head();
    if (bytes.size() > maxBytes) bytes.resize(maxBytes + 1);
    return true;
}

namespace {

// A source that fails to open, so that the parser reports a missing file in its own words
// without ever opening anything itself.
class UnopenedSource : public InputSource {
public:
    explicit UnopenedSource(const XMLCh* systemId) : InputSource(systemId, XMLPlatformUtils::fgMemoryManager) {}
    BinInputStream* makeStream() const override { return nullptr; }
};

bool IsAbsolutePath(const XMLCh* id) { return id && id[0] == chForwardSlash; }

std::string RealPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

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

bool ResourceGate::InsideDocumentTree(const std::string& realPath) const {
    if (!m_treeFound && !m_base.empty()) {
        const std::size_t slash = m_base.find_last_of('/');
        const std::string tree = RealPath(slash == std::string::npos ? "." : m_base.substr(0, slash + 1));
        if (!tree.empty()) m_tree = tree.back() == '/' ? tree : tree + "/";
    }
    m_treeFound = true;
    return !m_tree.empty() && realPath.compare(0, m_tree.size(), m_tree) == 0;
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
    const std::string real = RealPath(path);
    if (real.empty()) return nullptr;  // missing: the parser reports it
    const std::string name = "'" + XStr::ToLocal(reinterpret_cast<const XMLCh*>(systemId.c_str())) + "'";
    if (checkAccess && m_access == E_RESOURCES_DOCUMENT_TREE && !InsideDocumentTree(real))
        throw ResourceDenied(
            ("external resource " + name + " not read: it is outside the document's folder" + msg::kAccessWayOut)
                .c_str());
    if (const auto known = m_read.find(real); known != m_read.end()) return known->second.get();
    auto resource = std::make_unique<LocalResource>();
    std::string why;
    const std::size_t left = m_budget - std::min(m_budget, m_bytesRead);
    // The resolved name is opened, so that a link swapped in meanwhile is not followed.
    if (!ReadRegularFile(real, left, resource->bytes, why))
        throw SAXException(("external resource " + name + " not read: " + why).c_str());
    if (resource->bytes.size() > left)
        throw SAXException(("external resource " + name + " not read: the external resources of one load " +
                            "are limited to " + std::to_string(m_budget) + " bytes")
                               .c_str());
    m_bytesRead += resource->bytes.size();
    resource->systemId = systemId;
    return m_read.emplace(real, std::move(resource)).first->second.get();
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
