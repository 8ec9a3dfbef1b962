// ResourceGate: the one door through which a load reads what its document names besides itself
// (external DTD subsets, external entities, schema documents): only what the caller allows
// (nothing, the document's own folder tree, or any local file), only regular files, opened so
// that nothing can block, all of them within one byte budget, each read once. The DTD and schema
// pre-checks and the parser read through the same gate, so a resource is never read twice.
// Also: bytes as UTF-8 for the pre-checks.
// Internal to the library.
#ifndef KELXML_INTERNAL_RESOURCEGATE_H
#define KELXML_INTERNAL_RESOURCEGATE_H

#include "XML/CKelXML.h"

#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
class XMLResourceIdentifier;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// A source that fails to open, as a missing file's, named systemId: the parser reports it in its
// own words and opens nothing itself.
xercesc::InputSource* Unopened(const XMLCh* systemId);

// bytes as UTF-8 when they are UTF-16 (a byte-order mark, or "<?" / "<!" in either byte
// order); otherwise unchanged, which suits every encoding that keeps ASCII as it is.
std::string AsUtf8(std::string_view bytes);

// Reads at most maxBytes + 1 bytes of the file at path into bytes, if it is a regular file
// (not a FIFO, device, socket, directory, nor a file of /proc or /sys), opened without
// blocking. False with the reason in why otherwise.
bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why);

// A document file opened once for the whole load: checked as ReadRegularFile checks it, its head
// read for the DTD pre-check, then handed to the parser as a source that gives the bytes already
// read and reads on from the same descriptor, so that the document is opened and read once.
class OpenedFile {
public:
    OpenedFile() = default;
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    ~OpenedFile();

    // Opens path when it is a regular file (as ReadRegularFile); false with the reason in why.
    bool Open(const std::string& path, std::string& why);
    // Reads on until more than maxBytes bytes were read or the file ends; false with why on error.
    bool ReadHead(std::size_t maxBytes, std::string& why);
    // The bytes read so far, and whether they are the whole file.
    const std::string& Head() const { return m_head; }
    bool AtEnd() const { return m_atEnd; }
    // A source over the whole file for the parser, named systemId; the descriptor and the bytes
    // read move to it (null when the file is not open).
    std::unique_ptr<xercesc::InputSource> Source(const XMLCh* systemId);

private:
    int m_fd = -1;
    std::string m_head;
    bool m_atEnd = false;
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

private:
    const LocalResource* ReadPath(const std::string& path, const std::u16string& systemId, bool checkAccess);
    bool InsideDocumentTree(const std::string& realPath) const;

    const E_RESOURCE_ACCESS m_access;
    const std::size_t m_budget;
    std::size_t m_bytesRead = 0;
    std::u16string m_documentId;
    std::string m_base;
    // The real path of the folder the folder rule allows, with a final '/'; found at its first use.
    mutable std::string m_tree;
    mutable bool m_treeFound = false;
    std::map<std::string, std::unique_ptr<LocalResource>> m_read;  // by real path
};

}  // namespace XML::internal

#endif
