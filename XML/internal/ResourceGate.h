// ResourceGate: the one door through which a load reads what its document names besides itself
// (external DTD subsets, external entities, schema documents): only what the caller allows
// (nothing, the document's own folder tree, or any local file), only regular files, opened so
// that nothing can block, all of them within one byte budget, each read once. The DTD and schema
// pre-checks and the parser read through the same gate, so a resource is never read twice.
// Also: bytes as UTF-8 for the pre-checks.
// Internal to the library.
#ifndef KELXML_INTERNAL_RESOURCEGATE_H
#define KELXML_INTERNAL_RESOURCEGATE_H

#include "XML/Options.h"
#include "XML/internal/FileDescriptor.h"

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <sys/stat.h>

XERCES_CPP_NAMESPACE_BEGIN
class BinInputStream;
class XMLResourceIdentifier;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// A source that fails to open, as a missing file's, named systemId: the parser reports it in its
// own words and opens nothing itself.
xercesc::InputSource* Unopened(const XMLCh* systemId);

// bytes as UTF-8 when they are UTF-16 (a byte-order mark, or "<?" / "<!" in either byte
// order); otherwise unchanged, which suits every encoding that keeps ASCII as it is.
std::string AsUtf8(std::string_view bytes);

// A file opened once for the whole load and checked on its descriptor (regular file, not of /proc
// or /sys, opened without blocking): its head read for the DTD pre-check, then handed to the
// parser as a source that gives the bytes already read and reads on from the same descriptor;
// every later look at its bytes (the kept source, a start tag read back) reads that descriptor
// at an offset, never the name again.
class OpenedFile {
public:
    // Reads length bytes at offset; false when they cannot be read.
    using ByteReader = std::function<bool(std::uint64_t offset, std::size_t length, std::string& bytes)>;

    OpenedFile() = default;
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    ~OpenedFile();

    // Opens path (its bytes as given) when it is a regular file; false with the reason in why.
    bool Open(const std::string& path, std::string& why);
    // Takes fd (or the errno of the open that failed, when fd < 0) and checks it as Open does.
    // streams: a pipe or device is taken instead, as the caller named it (what a name is, is the
    // caller's choice), to be read as it comes, once, by the parser; a folder is still refused.
    bool Adopt(int fd, std::string& why, bool streams = false);
    // After a failed open: whether the file was refused for what it is (rather than not opened).
    bool Refused() const { return m_refused; }
    // After a failed open: whether no file has that name.
    bool Missing() const { return m_missing; }
    // The status of the open file.
    const struct stat& Status() const { return m_status; }
    // Reads on until more than maxBytes bytes were read or the file ends; false with why on error.
    bool ReadHead(std::size_t maxBytes, std::string& why);
    // Reads once, what is there (at most kChunk bytes; on a blocking descriptor, waiting for one
    // at least): the bytes read, 0 at the end, -1 with why (and errno) on error.
    static constexpr std::size_t kChunk = 65536;
    long ReadMore(std::string& why);
    // The bytes read so far, and whether they are the whole file.
    const std::string& Head() const { return m_head; }
    bool AtEnd() const { return m_atEnd; }
    // A source over the whole file for the parser, named systemId; the bytes read move to it, the
    // descriptor is shared with it (null when the file is not open).
    std::unique_ptr<xercesc::InputSource> Source(const XMLCh* systemId);
    // Reads the open file at an offset for as long as the reader lives (a pipe: never).
    ByteReader Reader() const;

private:
    // Keeps a pipe or device (reads block from then on; a pipe is waited for only while a writer
    // holds it).
    bool TakeStream(FileDescriptor file, std::string& why);

    std::shared_ptr<FileDescriptor> m_file;
    struct stat m_status {};
    std::string m_head;
    bool m_atEnd = false;
    bool m_refused = false;
    bool m_missing = false;
};

// A source that fails to open, so that the parser reports a missing file in its own words
// without ever opening anything itself.
class UnopenedSource : public xercesc::InputSource {
public:
    explicit UnopenedSource(const XMLCh* systemId);
    xercesc::BinInputStream* makeStream() const override { return nullptr; }
};

// The refusal of a resource the caller's access rule leaves out (as opposed to one that cannot
// be read safely, a plain SAXException): the well-formed mode turns it into a warning.
class ResourceDenied : public xercesc::SAXException {
public:
    using xercesc::SAXException::SAXException;
};

struct LocalResource {
    std::u16string systemId;  // the resolved file: the base of what it refers to
    std::string bytes;
};

class ResourceGate {
public:
    // access: the caller's rule (E_RESOURCES_BY_MODE is not taken here); budget: bytes that all
    // external resources of the load may add up to. documentId: the system id the parser gives
    // the document being loaded; its relative references resolve against base (a file, or a
    // folder ending in '/'), or are refused when base is empty (a memory document given no base,
    // standard input). The folder rule allows base's folder and what is below it.
    ResourceGate(E_RESOURCE_ACCESS access, std::size_t budget, const XMLCh* documentId, const std::string& base);
    ResourceGate(const ResourceGate&) = delete;
    ResourceGate& operator=(const ResourceGate&) = delete;
    ~ResourceGate();

    // The resource systemId names from base, read whole (cached for the rest of the load).
    // Throws ResourceDenied when the access rule leaves it out, SAXException when it cannot be
    // read safely (not a regular file, past the budget, a relative name without base); null
    // when the file does not exist or cannot be opened (the parser then says so in its words).
    const LocalResource* Read(const XMLCh* base, const XMLCh* systemId);
    // A grammar file the caller named: the access rule does not apply, the rest does.
    const LocalResource* ReadNamed(const std::string& path);
    // For the parser: a source over the bytes Read gives (the gate owns them and must outlive
    // the parse); a missing file gives a source that fails to open, as the parser's own would.
    xercesc::InputSource* Open(const xercesc::XMLResourceIdentifier& resource);

    std::size_t BytesRead() const { return m_bytesRead; }

    // Before the first load of a file document: the folder the folder rule allows, already open
    // (the document's own folder, the one its name was opened in).
    void UseDocumentFolder(FileDescriptor folder) { m_tree = std::move(folder); }

private:
    const LocalResource* ReadPath(const std::string& path, const std::u16string& systemId, bool checkAccess);
    // The file at path opened below the allowed folder (see the .cpp); false with a refusal in
    // why (outside: the path leaves the folder), or with an empty why when it does not exist.
    bool OpenInTree(const std::string& path, OpenedFile& file, std::string& why, bool& outside);
    // The allowed folder's path as resolved names spell it, with a final '/'; empty when none.
    const std::string& TreePath();

    const E_RESOURCE_ACCESS m_access;
    const std::size_t m_budget;
    std::size_t m_bytesRead = 0;
    std::u16string m_documentId;
    std::string m_base;
    // The folder the folder rule allows, opened once (at its first use when the caller did not).
    FileDescriptor m_tree{-1};
    std::string m_treePath;
    bool m_treeFound = false;
    std::map<std::string, std::unique_ptr<LocalResource>> m_read;  // by resolved path
};

}  // namespace XML::internal

#endif
