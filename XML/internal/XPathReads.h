// XPathReads: the one-shot XPath reads of a document object (compiled with the object's bounds,
// failures recorded) and the static ones (any failure a plain false).
#ifndef KELXML_INTERNAL_XPATHREADS_H
#define KELXML_INTERNAL_XPATHREADS_H

#include "XML/CXPath.h"
#include "XML/internal/DocumentState.h"

#include <map>
#include <string>

namespace XML::internal {

// Compiles expr into xpath with the object's bounds and gives the context it runs on (the
// document for null); null, with a record, when there is none or expr does not compile.
const xercesc::DOMNode* PrepareXPath(const Held& held, const char* expr, const xercesc::DOMNode* context,
                                     const std::map<std::string, std::string>& namespaces, CXPath& xpath);
// Records what an evaluation that failed for reason gives: a bound named, else the general text.
void RecordEvaluation(const Held& held, const std::string& reason);

// The body of the member reads: compile, read(xpath, context, &reason), record what fails.
template <class Read>
bool ReadXPath(const Held& held, const char* expr, const xercesc::DOMNode* context,
               const std::map<std::string, std::string>& namespaces, Read&& read) {
    bool done = false;
    Guarded(held, [&] {
        CXPath xpath;
        const xercesc::DOMNode* from = PrepareXPath(held, expr, context, namespaces, xpath);
        if (!from) return;
        std::string reason;
        done = read(xpath, from, &reason);
        if (!done) RecordEvaluation(held, reason);
    });
    return done;
}

// The body of the static reads: any failure, an exception included, is a plain false.
template <class Read>
bool StaticXPath(const xercesc::DOMNode* context, const char* expr,
                 const std::map<std::string, std::string>& namespaces, Read&& read) noexcept {
    if (!context || !expr) return false;
    try {
        const CXPath xpath(expr, namespaces);
        return xpath.IsCompiled() && read(xpath);
    } catch (...) {
        return false;
    }
}

}  // namespace XML::internal

#endif
