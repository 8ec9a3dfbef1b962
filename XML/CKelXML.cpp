#include "XML/CKelXML.h"

#include "XML/HandlerError.h"

#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace XML {

namespace {

const char* const kMemoryBufferId = "toto";

// Releases what DOMImplementation::createLS* hands out.
struct ReleaseDeleter {
    template <class T>
    void operator()(T* p) const noexcept {
        if (p) p->release();
    }
};
template <class T>
using Released = std::unique_ptr<T, ReleaseDeleter>;

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

bool WriteAll(int fd, const XMLByte* data, std::size_t size) {
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

// Writes bytes to path. A regular file (or a path that does not exist yet) is written into a
// temporary file beside it, flushed to disk and renamed over it, so a failure leaves the old
// file untouched; the new file keeps the old one's permission bits. Anything else (a device,
// a pipe) is written directly. Returns false with a message on any failure.
bool WriteFileAtomically(const char* file, const XMLByte* data, std::size_t size, std::string& error) {
    std::string path(file);
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

} // namespace

// --- Library start-up ------------------------------------------------------------------

bool CKelXML::initXmlAPI() {
    try {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
    } catch (const XMLException& e) {
        std::fputs(XStr::ToLocal(e.getMessage()).c_str(), stdout);
        return false;
    }
    return true;
}

void CKelXML::TerminateXmlAPI() { XMLPlatformUtils::Terminate(); }

// --- Object lifecycle ------------------------------------------------------------------

void CKelXML::DocumentReleaser::operator()(DOMDocument* doc) const noexcept {
    if (doc) doc->release();
}

CKelXML::CKelXML() = default;

CKelXML::~CKelXML() { Free(); }

CKelXML::CKelXML(CKelXML&& other) noexcept
    : m_pParser(std::move(other.m_pParser)),
      m_pErrors(std::move(other.m_pErrors)),
      m_pDocument(std::exchange(other.m_pDocument, nullptr)),
      m_pCreatedDocument(std::move(other.m_pCreatedDocument)),
      m_pSecurityManager(std::move(other.m_pSecurityManager)) {}

CKelXML& CKelXML::operator=(CKelXML&& other) noexcept {
    if (this != &other) {
        Free();
        m_pParser = std::move(other.m_pParser);
        m_pErrors = std::move(other.m_pErrors);
        m_pDocument = std::exchange(other.m_pDocument, nullptr);
        m_pCreatedDocument = std::move(other.m_pCreatedDocument);
        // The moved parser keeps pointing at this security manager: it moves along.
        m_pSecurityManager = std::move(other.m_pSecurityManager);
    }
    return *this;
}

void CKelXML::Free() noexcept {
    // The parser goes first: it owns the loaded document and still points at the handler.
    m_pDocument = nullptr;
    m_pParser.reset();
    m_pCreatedDocument.reset();
    m_pErrors.reset();
}

void CKelXML::CreateHanderErrorIfNecessary() {
    if (!m_pErrors) m_pErrors = std::make_unique<HandlerError>();
}

void CKelXML::Record(E_TYPE_ERROR eType, const char* message) noexcept {
    try {
        CreateHanderErrorIfNecessary();
        m_pErrors->AddError(eType, message);
    } catch (...) {
        // Out of memory while recording: the operation's false result is all that is left.
    }
}

template <class Fn>
bool CKelXML::Guarded(Fn&& fn) {
    try {
        fn();
        return true;
    } catch (const SAXException& e) {
        Record(E_EXCEPTION, XStr::ToLocal(e.getMessage()).c_str());
    } catch (const XMLException& e) {
        Record(E_EXCEPTION, XStr::ToLocal(e.getMessage()).c_str());
    } catch (const DOMException& e) {
        Record(E_EXCEPTION, XStr::ToLocal(e.getMessage()).c_str());
    } catch (...) {
        Record(E_EXCEPTION, "Unknown Error");
    }
    return false;
}

void CKelXML::InitializeParser(bool bValidate) {
    Free();
    auto handler = std::make_unique<HandlerError>();
    auto parser = std::make_unique<XercesDOMParser>(nullptr, XMLPlatformUtils::fgMemoryManager, nullptr);
    parser->setValidationScheme(bValidate ? AbstractDOMParser::Val_Always : AbstractDOMParser::Val_Auto);
    parser->setDoNamespaces(true);
    parser->setDoSchema(true);
    parser->setValidationSchemaFullChecking(true);
    parser->setErrorHandler(handler.get());
    // The handler also resolves external entities, DTDs and schemas: it opens local files
    // and refuses any network resource.
    parser->setEntityResolver(handler.get());
    // Bounds entity expansion ("billion laughs"); the parser only borrows it.
    if (!m_pSecurityManager) m_pSecurityManager = std::make_unique<SecurityManager>();
    parser->setSecurityManager(m_pSecurityManager.get());
    parser->resetDocumentPool();
    m_pErrors = std::move(handler);
    m_pParser = std::move(parser);
}

// --- Loading ---------------------------------------------------------------------------

template <class ParseFn>
bool CKelXML::LoadWith(bool bValidate, ParseFn&& parse) {
    const bool parsed = Guarded([&] {
        InitializeParser(bValidate);
        parse(*m_pParser);
        m_pDocument = m_pParser->getDocument();
    });
    return parsed && !m_pErrors->HasError();
}

bool CKelXML::Load(const char* file, bool bValidate) {
    if (!file) {
        Free();
        Record(E_MISSING, "file name undefined");
        return false;
    }
    return LoadWith(bValidate, [file](XercesDOMParser& parser) { parser.parse(file); });
}

bool CKelXML::Load(const void* buffer, unsigned int size) {
    if (!buffer) {
        Free();
        Record(E_MISSING, "buffer undefined");
        return false;
    }
    return LoadWith(false, [buffer, size](XercesDOMParser& parser) {
        const MemBufInputSource source(static_cast<const XMLByte*>(buffer), size, kMemoryBufferId, false,
                                       XMLPlatformUtils::fgMemoryManager);
        parser.parse(source);
    });
}

// --- Creating and saving ---------------------------------------------------------------

bool CKelXML::CreateDoc(const char* rootName) {
    Free();
    CreateHanderErrorIfNecessary();
    if (!rootName) {
        Record(E_MISSING, "root name undefined");
        return false;
    }
    return Guarded([&] {
        const XStr core("Core");
        DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(core.unicodeForm());
        if (!impl) {
            Record(E_MISSING, "DOMImplementation undefined");
            return;
        }
        const XStr name(rootName);
        m_pCreatedDocument.reset(
            impl->createDocument(nullptr, name.unicodeForm(), nullptr, XMLPlatformUtils::fgMemoryManager));
        m_pDocument = m_pCreatedDocument.get();
    }) && m_pDocument;
}

bool CKelXML::Save(const char* file, bool bCanonical) {
    CreateHanderErrorIfNecessary();
    if (!m_pDocument) {
        Record(E_MISSING, "DOMDOCUMENT undefined");
        return false;
    }
    return Save(file, m_pDocument, bCanonical);
}

bool CKelXML::Save(const char* file, const DOMNode* node, bool bCanonical) {
    CreateHanderErrorIfNecessary();
    if (!m_pDocument) {
        Record(E_MISSING, "DOMDOCUMENT undefined");
        return false;
    }
    if (!file) {
        Record(E_MISSING, "file name undefined");
        return false;
    }
    if (!node) {
        Record(E_MISSING, "node undefined");
        return false;
    }
    // Serialise into memory first: the file is only touched once the whole text exists, and
    // every write to it is checked (a file target would hide a failed flush or close).
    MemBufFormatTarget target(1023, XMLPlatformUtils::fgMemoryManager);
    bool written = false;
    const bool serialised = Guarded([&] {
        DOMImplementation* impl = m_pDocument->getImplementation();
        Released<DOMLSSerializer> serializer(impl->createLSSerializer(XMLPlatformUtils::fgMemoryManager));
        DOMConfiguration* config = serializer->getDomConfig();
        const auto set = [config](const XMLCh* name, bool value) {
            if (config->canSetParameter(name, value)) config->setParameter(name, value);
        };
        if (bCanonical) {
            set(XMLUni::fgDOMWRTCanonicalForm, true);
        } else {
            set(XMLUni::fgDOMWRTFormatPrettyPrint, true);
            set(XMLUni::fgDOMWRTWhitespaceInElementContent, false);
        }
        Released<DOMLSOutput> output(impl->createLSOutput(XMLPlatformUtils::fgMemoryManager));
        output->setByteStream(&target);
        written = serializer->write(node, output.get());
    });
    if (!serialised) return false;
    if (!written) {
        Record(E_EXCEPTION, "the serializer could not write the node");
        return false;
    }
    std::string error;
    if (!WriteFileAtomically(file, target.getRawBuffer(), target.getLen(), error)) {
        Record(E_EXCEPTION, ("unable to save '" + std::string(file) + "': " + error).c_str());
        return false;
    }
    return true;
}

} // namespace XML
