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
inline constexpr const char* kNoSibling = "sibling node undefined";

// Kind 0, followed by the DTD part's name and why it is not read (E_LOAD_DTD_DEFAULTS).
inline constexpr const char* kDtdNotRead =
    "DTD not read, the document is read without its declarations and default attributes: ";

// Kind 3: an exception, or a failure reported as one.
// Past sLimits::maxExpandedNodes: the text, the limit, then the end.
inline constexpr const char* kExpandedNodes = "entity expansion produced more than ";
inline constexpr const char* kExpandedNodesEnd = " elements and attributes";
inline constexpr const char* kDefaultedAttributes = "attribute defaults produced more than ";
inline constexpr const char* kDefaultedAttributesEnd = " attributes";
// A start tag past its bounds, found as the document is read: the text, the limit, the end.
inline constexpr const char* kTagAttributes = "an element with more than ";
inline constexpr const char* kTagAttributesEnd = " attributes: past the attribute cost bound";
inline constexpr const char* kLongAttribute = "an attribute value longer than ";
inline constexpr const char* kLongAttributeEnd = " characters";
inline constexpr const char* kTooManyAttributeNames = "more attribute names than a walk takes (1048576)";
inline constexpr const char* kOutOfMemory = "out of memory";
inline constexpr const char* kNotStarted =
    "the parser library is not started: call CKelXML::initXmlAPI first, or keep a CXmlLibrary alive";
inline constexpr const char* kStreaming =
    "the object is walking a document with StreamElements: it cannot load, create or walk another during the walk";
inline constexpr const char* kUnknownError = "Unknown Error";
// A new element goes beside or below an element of the document that makes it.
inline constexpr const char* kNotOwnElement = "node is not an element of this document";
// Followed by the reason a node has no canonical form.
inline constexpr const char* kNoCanonicalXML = "no canonical XML: ";
// Followed by the column (in characters, from 1), ": " and what is wrong there.
inline constexpr const char* kXPathError = "XPath expression error at column ";
inline constexpr const char* kXPathEvaluation = "XPath expression could not be evaluated";
inline constexpr const char* kUnconvertibleText =
    "text that cannot be converted between the local code page and UTF-16";

// Why Save refuses a target (after "unable to save '<file>': refused '<path>': ").
inline constexpr const char* kNotRegularFile =
    "not a regular file (Save replaces regular files, and writes in place only to /dev/null and to this "
    "process's own streams: /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N)";
inline constexpr const char* kForeignLink =
    "a symbolic link of another user in a sticky folder that everyone may write, not followed";
inline constexpr const char* kAttributeNotKept = "the new file cannot keep its extended attribute ";
inline constexpr const char* kAclWithoutGroup =
    "the new file cannot keep its access control list: the file's group cannot be kept";

// Kind 1: the value and pattern named in the datatype error of a value the pattern matcher
// could not check within the thread's stack.
inline constexpr const char* kPatternValue =
    "(a value longer than the pattern matcher can check on this thread's stack)";
inline constexpr const char* kPatternFacet = "(its type's pattern)";

}  // namespace XML::internal::msg

#endif
