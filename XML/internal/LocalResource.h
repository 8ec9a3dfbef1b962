// LocalResource: reads a DTD, external entity or schema document the way the parser would find
// it, for the checks that judge grammars before the parser reads them. Local files only.
// Internal to the library.
#ifndef KELXML_LOCALRESOURCE_H
#define KELXML_LOCALRESOURCE_H

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace XML::internal {

// Throws a SAXException naming the URL when systemId, taken relative to base (may be null) as
// the parser takes it, is not a local file (a path, or a file: URL on this host).
void RefuseNetwork(const XMLCh* base, const XMLCh* systemId);

struct LocalResource {
    std::u16string systemId;  // as the parser names it once resolved: the base of what it refers to
    std::string bytes;
};

// Opens systemId relative to base as the parser would and reads at most maxBytes of it into
// out. False when it is not local or cannot be read (the parser then reports that itself);
// out.bytes holds maxBytes + 1 bytes when the resource is longer than maxBytes.
bool ReadLocal(const XMLCh* base, const XMLCh* systemId, std::size_t maxBytes, LocalResource& out);

// bytes as UTF-8 when they are UTF-16 (a byte-order mark, or "<?" / "<!" in either byte
// order); otherwise unchanged, which suits every encoding that keeps ASCII as it is.
std::string AsUtf8(std::string_view bytes);

}  // namespace XML::internal

#endif
