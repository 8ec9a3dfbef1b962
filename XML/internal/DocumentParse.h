// DocumentParse: how a document is parsed within its bounds, from a file or from memory: the
// file opened once, by its name's own bytes, and checked on its descriptor; the DTD it names
// judged first, every other resource read through one gate; the byte readers that let the
// source-keeping parser read the document's bytes again (from memory, or at an offset of the
// descriptor opened, never by the name). Internal to the library.
#ifndef KELXML_INTERNAL_DOCUMENTPARSE_H
#define KELXML_INTERNAL_DOCUMENTPARSE_H

#include "XML/HandlerError.h"
#include "XML/Options.h"
#include "XML/XStr.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/DtdBudget.h"
#include "XML/internal/Messages.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/SchemaBudget.h"
#include "XML/internal/SourceKeeper.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLURL.hpp>

#include <memory>
#include <string>
#include <string_view>

namespace XML::internal {

// Reads back bytes of a document parsed from memory.
ByteReader BytesOf(const char* data, std::size_t size);

// What a load may read besides the document: the options' own rule, or the mode's.
E_RESOURCE_ACCESS AccessOf(const sLoadOptions& options);

// A document file as a load opens it: once (in its folder, when the folder rule starts from
// it), checked on the descriptor.
struct OpenedDocument {
    OpenedFile file;
    FileDescriptor folder{-1};
    bool open = false;     // file is open: a regular file, or the pipe or device the caller named
    bool regular = false;  // a regular file (judged first, read again at offsets)
    std::string refusal;   // why the file is refused for what it is (the parser never sees it)
};
// Opens path once, without blocking (inFolder: its folder first, then the name in it): a regular
// file to be judged and read at offsets, or the pipe or device the name is when opened, to be
// read once (a pipe is waited for only while a writer holds it).
void OpenDocument(const std::string& path, OpenedDocument& document, bool inFolder);

// Judges the DTD of the opened file, reading only as much of it as its DOCTYPE needs.
DtdVerdict JudgeFileDtd(OpenedFile& file, const XMLCh* id, const sLimits& limits, ResourceGate& gate);
// The same for a pipe or device: read as it comes, the rest left for the parser.
DtdVerdict JudgeStreamDtd(OpenedFile& file, const XMLCh* id, const sLimits& limits, ResourceGate& gate);

// True when the root element of the document that head begins declares the schema instance
// namespace and names a schema with it (xsi:schemaLocation, xsi:noNamespaceSchemaLocation).
bool RootNamesSchema(std::string_view head);

// In the automatic scheme, a document whose root element names its schema is validated as in
// the validating one: the scanner's automatic scheme never checks identity constraints.
inline void ValidateNamedSchema(BoundedDOMParser& parser, std::string_view head) {
    if (parser.getValidationScheme() == xercesc::AbstractDOMParser::Val_Auto && parser.getDoSchema() &&
        RootNamesSchema(head))
        parser.setValidationScheme(xercesc::AbstractDOMParser::Val_Always);
}

// Parses with every bound of limits: the DTD the document names is judged first (dtd), schema
// documents as the parser asks for them; every external resource is read through gate. Throws a
// SAXException naming a refusal.
template <class Parse>
void ParseWithin(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, ResourceGate& gate,
                 const DtdVerdict& dtd, std::size_t documentBytes, Parse&& parse) {
    if (!dtd.refusal.empty()) throw xercesc::SAXException(dtd.refusal.c_str());
    // Only a validating parser compares the names of an enumerated type with each other.
    if (dtd.enumerationWork > limits.maxEnumerationComparisons &&
        parser.getValidationScheme() != xercesc::AbstractDOMParser::Val_Never)
        throw xercesc::SAXException((msg::kDtdEnumerationComparisons +
                                     std::to_string(limits.maxEnumerationComparisons) + msg::kEnumerationComparisonsEnd)
                                        .c_str());
    parser.SetLimits(limits, documentBytes + dtd.bytesRead);
    SchemaBudget schemas(limits, &gate);
    handler.SetResourceReader([&schemas, &gate](const xercesc::XMLResourceIdentifier& resource) {
        xercesc::InputSource* const schema = schemas.Read(resource);
        return schema ? schema : gate.Open(resource);
    });
    struct Unhook {
        HandlerError& handler;
        ~Unhook() { handler.SetResourceReader(nullptr); }
    } unhook{handler};
    parse();
}

// Parses bytes as the memory document; its relative references resolve against the options'
// base, or are refused.
template <class Parse>
void ParseMemory(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, const sLoadOptions& options,
                 std::string_view bytes, Parse&& parse) {
    const xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                            msg::kMemoryBufferId, false, xercesc::XMLPlatformUtils::fgMemoryManager);
    ResourceGate gate(AccessOf(options), limits.maxExternalBytes, source.getSystemId(), options.strBaseURI);
    const DtdVerdict dtd = JudgeDtd(bytes, true, source.getSystemId(), limits, &gate);
    ValidateNamedSchema(parser, bytes);
    ParseWithin(parser, handler, limits, gate, dtd, bytes.size(), [&] { parse(source); });
}

// Parses the file named file (its bytes are the name opened; a file: URL names its path): its
// DTD judged first (of a pipe or device, from what was read up to its end; the parser reads on
// from there). Its relative references resolve against its own name; those of a pipe or device
// against nothing. The file is opened and read once: parse gets a source
// over it; reader (when not null) is set to read the file's bytes again at an offset of the same
// descriptor (null for a pipe), before parse is called.
template <class Parse>
void ParseFile(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, const sLoadOptions& options,
               const char* file, ByteReader* reader, Parse&& parse) {
    const XStr name(file);
    HandlerError::RefuseNetwork(nullptr, name.unicodeForm());
    // The system id the parser gives the document: its references name it as their base.
    const xercesc::LocalFileInputSource asParsed(name.unicodeForm(), xercesc::XMLPlatformUtils::fgMemoryManager);
    xercesc::XMLURL url(xercesc::XMLPlatformUtils::fgMemoryManager);
    const bool isUrl = xercesc::XMLURL::parse(name.unicodeForm(), url) && !url.isRelative();
    const XMLCh* const id = isUrl ? name.unicodeForm() : asParsed.getSystemId();
    OpenedDocument document;
    const E_RESOURCE_ACCESS access = AccessOf(options);
    // The folder is opened first only where the folder rule will walk from it.
    OpenDocument(isUrl ? XStr::ToLocal(url.getPath()) : std::string(file), document,
                 access == E_RESOURCES_DOCUMENT_TREE);
    if (!document.refusal.empty())
        throw xercesc::SAXException(("'" + std::string(file) + "' not read: " + document.refusal).c_str());
    // References resolve against the name as the parser spells it; the folder rule walks from the
    // folder the file was opened in.
    const std::string base = isUrl ? XStr::ToLocal(url.getPath()) : XStr::ToLocal(asParsed.getSystemId());
    ResourceGate gate(access, limits.maxExternalBytes, id, document.regular ? base : std::string());
    if (document.regular) gate.UseDocumentFolder(std::move(document.folder));
    const DtdVerdict dtd = document.regular ? JudgeFileDtd(document.file, id, limits, gate)
                           : document.open  ? JudgeStreamDtd(document.file, id, limits, gate)
                                            : DtdVerdict{};
    if (document.regular) ValidateNamedSchema(parser, document.file.Head());
    const std::size_t size = document.regular ? static_cast<std::size_t>(document.file.Status().st_size) : 0;
    // A file that could not be opened gives a source that fails as the parser's own would.
    const std::unique_ptr<xercesc::InputSource> source = document.open ? document.file.Source(id)
                                                                       : std::make_unique<UnopenedSource>(id);
    if (reader) *reader = document.file.Reader();
    ParseWithin(parser, handler, limits, gate, dtd, size, [&] { parse(source.get()); });
}

// Runs parse within every bound of limits for file (or, when file is null, the memory
// document), judging its DTD first as Load does; reader as ParseFile sets it.
template <class Parse>
void StreamWithin(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, const sLoadOptions& options,
                  const char* file, std::string_view memory, ByteReader* reader, Parse&& parse) {
    if (file)
        ParseFile(parser, handler, limits, options, file, reader, parse);
    else
        ParseMemory(parser, handler, limits, options, memory,
                    [&](const xercesc::InputSource& source) { parse(&source); });
}

}  // namespace XML::internal

#endif
