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

// Kind 0 in the automatic scheme, followed by the schema's name and why it is not read.
inline constexpr const char* kSchemaNotRead = "schema not read, the document is not validated against it: ";
// The way out, after a refusal to read a resource: the network, then the access rule.
inline constexpr const char* kNetworkWayOut =
    "; E_LOAD_AUTO or E_LOAD_WELL_FORMED (kelxml: without --validate) read the document without it";
inline constexpr const char* kAccessWayOut = " (sLoadOptions::eResources, kelxml --resources, allows more)";

// Kind 3: an exception, or a failure reported as one.
// Past sLimits::maxExpandedNodes: the text, the limit, then the end.
inline constexpr const char* kExpandedNodes = "entity expansion produced more than ";
inline constexpr const char* kExpandedNodesEnd = " elements and attributes";
inline constexpr const char* kDefaultedAttributes = "attribute defaults produced more than ";
inline constexpr const char* kDefaultedAttributesEnd = " attributes";
// A start tag past its bounds, found as the document is read: the text, the limit, the end.
inline constexpr const char* kTagAttributes = "an element with more than ";
inline constexpr const char* kTagAttributesEnd = " attributes: past the attribute cost bound";
// Validation past the enumeration budget: the text, the limit, the end.
inline constexpr const char* kEnumerationComparisons = "values checked against enumerations needed more than ";
inline constexpr const char* kEnumerationComparisonsEnd = " comparisons (maxEnumerationComparisons)";
inline constexpr const char* kDtdEnumerationComparisons = "enumerated attribute types in the DTD need more than ";
inline constexpr const char* kLongAttribute = "an attribute value longer than ";
inline constexpr const char* kLongAttributeEnd = " characters";
inline constexpr const char* kTooManyAttributeNames = "more attribute names than a walk takes (1048576)";
inline constexpr const char* kOutOfMemory = "out of memory";
inline constexpr const char* kNotStarted =
    "the parser library is not started: call CKelXML::initXmlAPI first, or keep a CXmlLibrary alive";
inline constexpr const char* kStreaming =
    "the object is walking a document with StreamElements: it cannot load, create or walk another during the walk";
inline constexpr const char* kWalkedDocument =
    "the document is being walked by LoopElements: it cannot be replaced during the walk";
inline constexpr const char* kUnknownError = "Unknown Error";
inline constexpr const char* kOneLoadMode = "a load takes one mode: Load(file, {XML::E_LOAD_VALIDATE})";
// An options structure whose size matches no layout this library knows (a newer or hand-made one).
inline constexpr const char* kUnknownOptionsLayout = "options structure of a size this library does not know";
// A new element goes beside or below an element of the document that makes it.
inline constexpr const char* kNotOwnElement = "node is not an element of this document";
// An attribute given a namespace by name needs a prefix bound to it, and one that does not change
// the namespace of a node already there.
inline constexpr const char* kAttributeNeedsPrefix = "an attribute in a namespace needs a prefix";
inline constexpr const char* kPrefixBound = "the prefix is bound to another namespace here";
// Followed by the reason a node has no canonical form.
inline constexpr const char* kNoCanonicalXML = "no canonical XML: ";
// Followed by the column (in characters, from 1), ": " and what is wrong there.
inline constexpr const char* kXPathError = "XPath expression error at column ";
inline constexpr const char* kXPathEvaluation = "XPath expression could not be evaluated";
inline constexpr const char* kXPathNoNodeSet = "XPath expression gives no node-set";
// A walk given a filter that never compiled (a failed compile records its own reason instead).
inline constexpr const char* kFilterNotCompiled = "the walk's XPath filter is not compiled";
// What a new comment or processing instruction may not hold (Save could not write it).
inline constexpr const char* kBadComment = "a comment cannot hold \"--\" nor end with \"-\"";
inline constexpr const char* kBadPI =
    "a processing instruction cannot hold \"?>\" nor have a target named \"xml\" in any case";
// An evaluation stopped at a bound of its budget (sLimits, sXPathLimits), and a refused expression.
inline constexpr const char* kXPathSteps = "XPath evaluation stopped: more steps than the limit allows (maxXPathSteps)";
inline constexpr const char* kXPathNodes =
    "XPath evaluation stopped: more nodes held than the limit allows (maxXPathNodes)";
inline constexpr const char* kXPathCharacters =
    "XPath evaluation stopped: more characters built than the limit allows (maxXPathCharacters)";
inline constexpr const char* kXPathTooLong = "XPath expression longer than the limit allows (maxXPathExpressionLength)";
inline constexpr const char* kUnconvertibleText =
    "text that cannot be converted between the local code page and UTF-16";

// A save that failed: the text, the file, the end, then why.
inline constexpr const char* kUnableToSave = "unable to save '";
inline constexpr const char* kUnableToSaveEnd = "': ";
// Why Save refuses a target (after "unable to save '<file>': refused '<path>': ").
inline constexpr const char* kNotRegularFile =
    "not a regular file (Save replaces regular files, and writes in place only to /dev/null and to this "
    "process's own streams: /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N)";
// Why the folder rule refuses a file below the folder (after "external resource '<id>' not read: ").
inline constexpr const char* kSharedFile =
    "a file with more than one name in a folder another user may write (a hard link made there), not read under "
    "the folder rule";
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
