// DocumentParse: how a document is parsed within its bounds, from a file or from memory: the
// DTD it names judged first, every other resource read through one gate, the byte readers that
// let the source-keeping parser read the document again. Internal to the library.
#ifndef KELXML_INTERNAL_DOCUMENTPARSE_H
#define KELXML_INTERNAL_DOCUMENTPARSE_H

#include "XML/CKelXML.h"
#include "XML/HandlerError.h"
#include "XML/XStr.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/DtdBudget.h"
#include "XML/internal/Messages.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/SchemaBudget.h"
#include "XML/internal/SourceKeepingParser.h"

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
SourceKeepingParser::ByteReader BytesOf(const char* data, std::size_t size);

// Reads the bytes of a file, opened at each call.
SourceKeepingParser::ByteReader FileBytes(const char* file);

// What a load may read besides the document: the options' own rule, or the mode's.
E_RESOURCE_ACCESS AccessOf(const sLoadOptions& options);

// The size of the file the parser will read for name (a path or a file: URL); 0 when unknown.
// regular tells whether it can be read twice (a pipe cannot).
std::size_t FileSize(const char* name, bool& regular);

// Judges the DTD of the opened file, reading only as much of it as its DOCTYPE needs.
DtdVerdict JudgeFileDtd(OpenedFile& file, const XMLCh* id, const sLimits& limits, ResourceGate& gate);

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

// Parses the file named file: judged first when it is a regular file (a pipe or device is
// read once, by the parser: its DTD is bounded while it is read only). Its relative references
// resolve against its own name; those of a pipe or device against nothing. A regular file is
// opened and read once: parse gets a source over it (null: the parser opens file by its name).
template <class Parse>
void ParseFile(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, const sLoadOptions& options,
               const char* file, Parse&& parse) {
    const XStr name(file);
    HandlerError::RefuseNetwork(nullptr, name.unicodeForm());
    // The system id the parser gives the document: its references name it as their base.
    const xercesc::LocalFileInputSource asParsed(name.unicodeForm(), xercesc::XMLPlatformUtils::fgMemoryManager);
    xercesc::XMLURL url(xercesc::XMLPlatformUtils::fgMemoryManager);
    const bool isUrl = xercesc::XMLURL::parse(name.unicodeForm(), url) && !url.isRelative();
    const XMLCh* const id = isUrl ? name.unicodeForm() : asParsed.getSystemId();
    const std::string path = isUrl ? XStr::ToLocal(url.getPath()) : XStr::ToLocal(asParsed.getSystemId());
    bool regular = false;
    const std::size_t size = FileSize(file, regular);
    ResourceGate gate(AccessOf(options), limits.maxExternalBytes, id, regular ? path : std::string());
    OpenedFile opened;
    std::string why;
    const bool open = regular && opened.Open(path, why);
    const DtdVerdict dtd = open ? JudgeFileDtd(opened, id, limits, gate) : DtdVerdict{};
    if (open) ValidateNamedSchema(parser, opened.Head());
    // A URL keeps the parser's own source, which names the document as the parser writes the URL.
    const std::unique_ptr<xercesc::InputSource> source = open && !isUrl ? opened.Source(id) : nullptr;
    ParseWithin(parser, handler, limits, gate, dtd, size, [&] { parse(source.get()); });
}

// Runs parse within every bound of limits for file (or, when file is null, the memory
// document), judging its DTD first as Load does.
template <class Parse>
void StreamWithin(BoundedDOMParser& parser, HandlerError& handler, const sLimits& limits, const sLoadOptions& options,
                  const char* file, std::string_view memory, Parse&& parse) {
    if (file)
        ParseFile(parser, handler, limits, options, file, parse);
    else
        ParseMemory(parser, handler, limits, options, memory,
                    [&](const xercesc::InputSource& source) { parse(&source); });
}

}  // namespace XML::internal

#endif
