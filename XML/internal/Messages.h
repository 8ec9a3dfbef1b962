// Messages: the texts the document object records, each named once. Callers and their tests
// may compare against these texts, so they never change. Internal to the library.
#ifndef KELXML_INTERNAL_MESSAGES_H
#define KELXML_INTERNAL_MESSAGES_H

namespace XML::internal::msg {

// The name that diagnostics give a document loaded from memory.
inline constexpr const char* kMemoryBufferId = "toto";

// Kind 4: what an operation needs is absent.
inline constexpr const char* kNoDocument = "DOMDOCUMENT undefined";
inline constexpr const char* kNoParent = "ParentNode undefined";
inline constexpr const char* kNoOldChild = "oldChild undefined";
inline constexpr const char* kNoAttribute = "unable to find attribute Node with name specified";
inline constexpr const char* kEmptyDocument = "none child node in DOMDocument";
inline constexpr const char* kNoFileName = "file name undefined";
inline constexpr const char* kNoBuffer = "buffer undefined";
inline constexpr const char* kNoRootName = "root name undefined";
inline constexpr const char* kNoNode = "node undefined";
inline constexpr const char* kNoElementName = "element name undefined";
inline constexpr const char* kNoElementText = "element text undefined";
inline constexpr const char* kNoImplementation = "DOMImplementation undefined";
inline constexpr const char* kNoGrammar = "no grammar named";
inline constexpr const char* kNoFunctor = "functor undefined";
inline constexpr const char* kNoAttributeNames = "attribute names undefined";
inline constexpr const char* kNoExpression = "expression undefined";

// Kind 3: an exception, or a failure reported as one.
inline constexpr const char* kTooManyAttributeNames = "more attribute names than a walk takes (1048576)";
inline constexpr const char* kOutOfMemory = "out of memory";
inline constexpr const char* kUnknownError = "Unknown Error";
// Followed by the reason a node has no canonical form.
inline constexpr const char* kNoCanonicalXML = "no canonical XML: ";
// Followed by the column (in characters, from 1), ": " and what is wrong there.
inline constexpr const char* kXPathError = "XPath expression error at column ";
inline constexpr const char* kXPathEvaluation = "XPath expression could not be evaluated";
inline constexpr const char* kUnconvertibleText =
    "text that cannot be converted between the local code page and UTF-16";

}  // namespace XML::internal::msg

#endif
