// DtdBudget: judges the DTD a document names (internal subset, external subset, external
// parameter entities) before the parser reads it. The parser builds entity values while it
// reads declarations, before any callback could count them, and counts only expansions, not
// what they produce; this pass computes what every entity would produce, and refuses past the
// limits. Internal to the library.
#ifndef KELXML_DTDBUDGET_H
#define KELXML_DTDBUDGET_H

#include "XML/Options.h"

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace XML::internal {

class ResourceGate;

struct DtdVerdict {
    // Why the document must not be parsed; empty when it may.
    std::string refusal;
    // More of the document is needed to see the end of its document type declaration.
    bool needMore = false;
    // Bytes read from external DTD and entity files.
    std::size_t bytesRead = 0;
    // What a validating parser's reading of the enumerated attribute types costs, in comparisons
    // of their names (each with every one before it in its list).
    std::uint64_t enumerationWork = 0;
};

// document: the document's bytes, whole or its beginning (whole false: needMore asks for more
// when the DOCTYPE does not end within them); only as much as its DOCTYPE needs is read.
// base: the document's system id, against which its external subset is found, as the parser
// finds it. External parts are read through gate (null: none is read), as the parser reads them.
DtdVerdict JudgeDtd(std::string_view document, bool whole, const XMLCh* base, const sLimits& limits,
                    ResourceGate* gate);

// document with the external identifier of its DOCTYPE blanked out, every other byte (and so
// every line and column) kept: the parser then reads its internal subset only. UTF-8 and UTF-16
// documents (and the other one-byte ASCII encodings); empty when the document names no external
// subset, or is in another encoding (left as it is).
std::optional<std::string> WithoutExternalSubset(const std::string& document);

}  // namespace XML::internal

#endif
