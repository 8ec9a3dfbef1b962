// CKelXML: the document object. Loads, creates, reads, edits and saves one XML document
// on top of the Xerces-C++ DOM, and records every problem in one error list.
#ifndef KELXML_CKELXML_H
#define KELXML_CKELXML_H

#include <XML/CError.h>
#include <XML/CXPath.h>
#include <XML/KelXMLExport.h>
#include <XML/TFunctor.h>
#include <XML/XStr.h>

#include <xercesc/dom/DOM.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
class XercesDOMParser;
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace XML {

// What one Load may cost. Past any bound the load is refused: false, one kind-3 record naming
// the bound, no document. The defaults let every valid document of the XML conformance suite
// load; sLimits::Huge() raises every bound, for trusted documents only.
struct KELXML_EXPORT sLimits {
    // Elements nested in a document (also in every schema document it names).
    std::size_t maxDepth = 1000;
    // Namespace declarations in scope at one element.
    std::size_t maxNamespacesInScope = 1000;
    // Attribute comparisons made while building elements: an element of n attributes costs
    // n*(n-1)/2, and each attribute read gives back 32. Bounds the width of elements (about
    // 14,000 attributes on one) without limiting ordinary documents.
    std::size_t maxAttributeCost = 100000000;
    // Characters of one attribute value, entity references expanded, as the parser holds them (in
    // UTF-16: a character beyond U+FFFF counts two). The streaming walks refuse a longer one, and
    // an element of more attributes than maxAttributeCost allows, as the document is read,
    // before the parser builds the tag.
    std::size_t maxAttributeLength = 10000000;
    // Entity references expanded in one load.
    std::size_t maxEntityExpansions = 50000;
    // Characters that entity expansion may produce in one load: in content, attribute values,
    // attribute defaults, and in the values of entities and parameter entities (internal and
    // external DTD subsets), counted as the parser would build them.
    std::size_t maxExpandedCharacters = 10000000;
    // Entities referenced inside entities, counted from a reference in the document.
    std::size_t maxEntityDepth = 64;
    // Particles of one content model once occurrence bounds are unrolled (DTD and schema).
    std::size_t maxContentModelParticles = 2000;
    // Type derivations (extension, restriction, list) chained from one schema type.
    std::size_t maxDerivationDepth = 256;
    // Particles of a DTD content model that is not deterministic (its automaton is exponential).
    std::size_t maxAmbiguousParticles = 16;
    // Elements and attributes that entity references may produce in one load (beside the
    // characters of maxExpandedCharacters), with the attributes DTD defaults add, counted on each
    // element that receives them: a few bytes of declarations cannot make millions of nodes.
    std::size_t maxExpandedNodes = 100000;
    // Bytes of all external resources of one load together (DTD files, entities, schemas).
    std::size_t maxExternalBytes = std::size_t{64} << 20;
    // Distinct element names and namespace URIs in one load: the parser keeps each one until the
    // load ends, also in a streaming walk.
    std::size_t maxDistinctNames = 100000;
    // Warnings and validity errors one load records: past them one record says so and the rest
    // are not recorded, so that a document of millions of faults cannot fill memory.
    std::size_t maxDiagnostics = 10000;
    // The XPath reads of this object (SelectNodes, GetXPath...): the bounds of one evaluation and
    // the longest expression, as sXPathLimits (CXPath.h) says; past one the read fails with one
    // kind-3 record naming it.
    std::size_t maxXPathSteps = sXPathLimits{}.maxSteps;
    std::size_t maxXPathNodes = sXPathLimits{}.maxNodes;
    std::size_t maxXPathCharacters = sXPathLimits{}.maxCharacters;
    std::size_t maxXPathExpressionLength = sXPathLimits{}.maxExpressionLength;

    // Bounds for trusted documents: ten to ten thousand times the defaults, as far as the
    // parser's own recursion allows (README, "Load limits").
    static sLimits Huge();
};

// How Save lays a document out.
enum E_SAVE_FORM {
    // Save(file, false): indented by two spaces per level. Whitespace-only text between elements
    // is replaced by the indentation; mixed content and xml:space="preserve" are kept exactly,
    // and so is the content of a standalone document with an external DTD.
    E_SAVE_PRETTY,
    // Save(file, true): no indentation, the content exactly as in the document.
    E_SAVE_CANONICAL,
    // The content exactly as in the document, and the XML declaration as the document wrote it:
    // after an edit, only what was edited changes.
    E_SAVE_AS_LOADED
};

namespace internal {
class GrammarSet;
class LoadParser;
struct SourceNotes;
}  // namespace internal

// --- Load options: the types (the Load overloads are in CKelXML, section "Load options") ---
// How a Load given options treats grammars (sLoadOptions::eMode).
enum E_LOAD_MODE : std::int32_t {
    // As Load(file, false): a document that declares a grammar is validated against it. A DTD
    // part or schema it names that is on the network, missing or left out by eResources is a
    // warning: the document loads without it, unvalidated; an entity only that DTD could declare
    // is an error where it is used.
    E_LOAD_AUTO = 0,
    // As Load(file, true): always validated, against the grammars the document names.
    E_LOAD_VALIDATE = 1,
    // Well-formedness only: no validation, and no external DTD or schema is read, so a document
    // whose grammar is unreachable loads. The internal subset still gives entities and default
    // attributes; its external parameter entities are not read either. A reference to an entity
    // that only the unread DTD parts could declare is recorded as a warning and left out; the
    // rest of the document is kept.
    E_LOAD_WELL_FORMED = 2,
    // Validated against the grammars named in the options only: the document's
    // xsi:schemaLocation, xsi:noNamespaceSchemaLocation and DOCTYPE system identifier are not
    // followed (the named DTD stands for the DOCTYPE's external subset; with none named, the
    // external subset is not read). A DTD applies only to a document with a DOCTYPE.
    E_LOAD_NAMED_GRAMMARS = 3,
    // No validation (so no validity error is recorded), no schema read; the whole DTD, internal
    // and external, gives entities and default attributes: the document as its canonical form
    // sees it. A DTD part that cannot be read (missing, or on the network, which is refused) is
    // left out with a warning naming it, and the document is read without what it declares.
    E_LOAD_DTD_DEFAULTS = 4
};

// One XML Schema file the caller names, and the target namespace it must have (empty: not
// checked); a schema whose target namespace differs is a diagnostic of the grammars.
struct sSchemaFile {
    std::string strNamespace{};
    std::string strFile{};
};

// Which resources a load may read besides the document itself: its external DTD subset,
// external entities and parameter entities, schema documents (sLoadOptions::eResources).
// Whatever the rule, only regular files are read (never a FIFO, device, socket, directory, nor a
// file of /proc or /sys), within sLimits::maxExternalBytes for all of them together, and never
// from the network. A resource left out is refused with a record (a warning for an entity in
// E_LOAD_WELL_FORMED, whose content is then left out).
enum E_RESOURCE_ACCESS : std::int32_t {
    // The mode's own rule: nothing in E_LOAD_WELL_FORMED, any local file in the other modes.
    E_RESOURCES_BY_MODE = -1,
    // Nothing but the document (and the grammars named in the options).
    E_RESOURCES_NONE = 0,
    // Files in the document's folder or below it, reached without ".." or a symlink out of it
    // (walked from the folder's descriptor, one name at a time); a file with a second name only
    // from a folder of the caller's that no one else may write.
    E_RESOURCES_DOCUMENT_TREE = 1,
    // Any local file.
    E_RESOURCES_LOCAL = 2
};

// The settings of a walk given a callable (CKelXML::LoopElements, StreamElements).
struct sWalkOptions {
    // "catalog/records/record" or "catalog\\records\\record", as LoopElements and StreamElements take it.
    // (Each member has an initialiser, so {"a/b"} sets the path alone without a -Wextra warning.)
    std::string strPath{};
    // Attributes whose values the callable is given, in this order (empty when absent).
    std::vector<std::string> vAttributes{};
    bool bStopOnTrue = false;
    bool bStopOnFalse = false;
    bool bStopOnMissingAttribute = false;
    // When set, a record for which this expression, evaluated with the record as its context
    // node, is false is skipped: no call, no verdict ("price > 100" streams only those records).
    // The caller keeps it alive during the walk. A filter that is not compiled makes the walk
    // false without reading anything; the streamed walks record the filter's own records (its
    // compile error), or "the walk's XPath filter is not compiled" when it has none.
    const CXPath* pFilter = nullptr;
};

class CGrammarCache;

// Options of one load. Only E_LOAD_NAMED_GRAMMARS reads vSchemas, strDTDFile and pGrammarCache.
// (Each member has an initialiser, so {XML::E_LOAD_WELL_FORMED} sets the mode alone.)
struct sLoadOptions {
    E_LOAD_MODE eMode = E_LOAD_AUTO;
    // XML Schema files to validate against.
    std::vector<sSchemaFile> vSchemas{};
    // A DTD file to validate against (empty: none).
    std::string strDTDFile{};
    // Where the parsed grammars are kept; null: in the loading object's own cache.
    std::shared_ptr<CGrammarCache> pGrammarCache{};
    // What the load may read besides the document (every mode).
    E_RESOURCE_ACCESS eResources = E_RESOURCES_BY_MODE;
    // For a document loaded from memory: the file (or folder, ending in '/') its relative
    // references resolve against. Empty: they are refused, never taken from the working folder.
    std::string strBaseURI{};
};

namespace detail {
// File names the Load forms take besides a C string: their bytes, as they are (no transcoding).
template <class Name>
inline constexpr bool kIsFileNameObject = std::is_same_v<Name, std::string> ||
                                          std::is_same_v<Name, std::filesystem::path>;
inline const char* FileNameBytes(const std::string& name) { return name.c_str(); }
inline const char* FileNameBytes(const std::filesystem::path& name) { return name.c_str(); }
// A first argument that the file-name forms of Load would take.
template <class Name>
inline constexpr bool kNamesFile = std::is_convertible_v<const Name&, const char*> || kIsFileNameObject<Name>;

// The one rule for a walk's callable: it returns its verdict (anything a bool can be made from)
// or nothing (a verdict of true each time).
template <class Fn, class... Args>
constexpr bool CallableAs() {
    if constexpr (std::is_invocable_v<Fn&, Args...>) {
        using Result = std::invoke_result_t<Fn&, Args...>;
        return std::is_void_v<Result> || std::is_constructible_v<bool, Result>;
    } else {
        return false;
    }
}
template <class Call>
bool Verdict(Call&& call) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        return true;
    } else {
        return static_cast<bool>(call());
    }
}
using Attributes = std::vector<std::string>;
template <class Fn>
inline constexpr bool kNodeCallable =
    CallableAs<Fn, xercesc::DOMNode*>() || CallableAs<Fn, xercesc::DOMNode*, const std::string&, const Attributes&>();
template <class Fn>
inline constexpr bool kRecordCallable =
    CallableAs<Fn, const std::string&, const Attributes&>() || CallableAs<Fn, const Attributes&>();

// The defaults the ...ValueOr reads take: any number or bool (read as that type), or any text
// (std::string, std::string_view, a C string: read as a std::string).
template <class T>
inline constexpr bool kIsText = std::is_convertible_v<const T&, std::string_view> || std::is_same_v<T, std::string>;
template <class T>
using ValueOrResult = std::conditional_t<kIsText<T>, std::string, T>;
template <class T>
ValueOrResult<T> ValueOrFallback(T fallback) {
    static_assert(std::is_arithmetic_v<T> || kIsText<T>,
                  "the ...ValueOr reads take a number, a bool or a text (std::string, std::string_view, "
                  "const char*) as their default");
    if constexpr (std::is_pointer_v<T>)
        return fallback ? std::string(fallback) : std::string();
    else if constexpr (kIsText<T>)
        return std::string(std::string_view(fallback));
    else
        return fallback;
}
}  // namespace detail

// How CKelXML::ForEachFile and ValidateFiles share a list of documents out.
struct sBatchOptions {
    // Threads working at once, the calling one among them; 0: one per core. Never more than the files.
    std::size_t nThreads = 0;
    // The bounds of every document (as SetLimits).
    sLimits limits{};
};

// What checking one document of a list gave (CKelXML::ValidateFiles).
struct sFileResult {
    // Validate's result: true only when nothing was recorded.
    bool bValid = false;
    // The records, in the order Validate makes them.
    std::vector<sError> vErrors{};
};

// Grammars parsed once: each set of named grammars is parsed at its first use and reused by
// later loads, read-only, as long as none of the files it was read from (includes, imports and
// external parameter entities too) changed identity, size, modification or change time. A set
// whose parse produced any diagnostic is never kept: every load re-reads it and records them
// again.
// One cache may be shared by several objects and threads (every operation locks). Release every
// cache before CKelXML::TerminateXmlAPI.
class KELXML_EXPORT CGrammarCache {
public:
    CGrammarCache();
    ~CGrammarCache();
    CGrammarCache(const CGrammarCache&) = delete;
    CGrammarCache& operator=(const CGrammarCache&) = delete;

    // Number of grammar sets held.
    std::size_t GetGrammarCount() const;
    // Number of times a grammar set was parsed (held or not) since the cache was made.
    std::size_t GetParseCount() const;
    // Drops every set held; loads running on other threads keep the sets they use.
    void Clear();

private:
    friend class CKelXML;
    // The set for these options: the held one when its files are unchanged, else a new parse.
    std::shared_ptr<const internal::GrammarSet> Acquire(const sLoadOptions& options,
                                                        xercesc::SecurityManager* security);

    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// Ownership, in short:
// - The object owns its parser, its error list and its current document, whether that
//   document was loaded or made by CreateDoc. A new Load or CreateDoc releases the document
//   and the error list (a Load keeps the parser, reset), the destructor all three: node
//   pointers and the CError* from GetErrors become invalid then.
// - Nodes returned by any operation belong to their document; never release them
//   (except a node detached by RemoveChildNode, which the caller may release).
// - Strings handed out are always copies.
// - The grammars of named-grammar loads stay in the object's own cache (unless the options
//   give a shared one) until the object goes.
// - Member operations never throw; they report through their result and the error list (an
//   exception a streamed walk's callable throws ends the walk with a kind-3 record of it).
//   Static operations record nothing: they may let an allocation failure (std::bad_alloc)
//   through, and LoopElements the exceptions of its callable.
// Threads: call initXmlAPI once, before any thread uses the library, and TerminateXmlAPI once
// after they are done. Objects, and the nodes of their documents, belong to one thread at a
// time; different objects may be used by different threads at once.
class KELXML_EXPORT CKelXML {
public:
    // Starts the parser library; call once before any other use (or keep a CXmlLibrary for the
    // whole program). Returns false, and writes the parser library's message to standard
    // output, when it fails to start. Starts and stops pair up: the library runs until the
    // stop that matches the first start.
    static bool initXmlAPI();
    // Stops the parser library; call once after the last document object and node are gone.
    // A stop without a start does nothing.
    static void TerminateXmlAPI();
    // True between a start and the stop that matches it. Before, or after it, every member
    // operation that loads, creates, reads the document or edits is refused with a kind-3
    // record instead of touching a stopped library; an object that outlives the stop abandons
    // what it held (never releases it); its nodes, and static reads on them, are then undefined.
    static bool IsXmlAPIStarted();

    // An empty object: no parser, no error list, no document.
    CKelXML();
    // Releases the parser, the error list and the current document (loaded or created).
    ~CKelXML();

    // One owner per parser and document: objects move, they do not copy.
    CKelXML(const CKelXML&) = delete;
    CKelXML& operator=(const CKelXML&) = delete;
    // Moves transfer parser, error list and document, leaving the source empty.
    CKelXML(CKelXML&& other) noexcept;
    CKelXML& operator=(CKelXML&& other) noexcept;

    // The current document (owned by this object), or null.
    xercesc::DOMDocument* GetDocument() const { return m_pDocument; }
    // The error list (owned by this object), or null before any operation made one.
    const CError* GetErrors() const { return m_pErrors.get(); }

    // --- Loading -----------------------------------------------------------------------
    // Parses the named file with a fresh error list and the object's parser, reset so that
    // it parses exactly as a new one (it is kept only to save its set-up cost); the previous
    // document goes. bValidate selects "always validate"; otherwise a document that declares
    // a grammar is still validated. Returns true only when nothing at all was recorded:
    // warnings alone make it false (the document is then loaded all the same).
    // Refused with one kind-3 record: any network resource (only local files are read, the
    // named file included), and whatever passes a bound of GetLimits() (README, "Load limits"):
    // the DTD and every schema document are judged before the parser builds them.
    bool Load(const char* file, bool bValidate);
    // Parses size bytes of memory the same way (automatic validation); diagnostics name the
    // document "toto". The bytes are only read during the call.
    bool Load(const void* buffer, unsigned int size);
    // A char pointer (or string, or path) with any integer but a bool does not compile: the
    // integer would become bValidate and the bytes a file name. Cast the buffer to const void*
    // (and the size to unsigned int), or call LoadFromMemory, to load from memory.
    template <
        class Text, class Size,
        std::enable_if_t<detail::kNamesFile<Text> && std::is_integral_v<Size> && !std::is_same_v<Size, bool>, int> = 0>
    bool Load(const Text& buffer, Size size) = delete;
    // Load(file, options) in that mode, so that a mode is never taken for bValidate, braced or
    // not: doc.Load(file, {XML::E_LOAD_VALIDATE}) and doc.Load(file, XML::E_LOAD_WELL_FORMED) mean
    // the options; {} means E_LOAD_AUTO; more than one mode is refused (kind 3, nothing read).
    bool Load(const char* file, E_LOAD_MODE eMode);
    bool Load(const char* file, std::initializer_list<E_LOAD_MODE> eMode);
    // The file forms with the name in a std::string or std::filesystem::path (its bytes as they
    // are, no transcoding).
    template <class Name, std::enable_if_t<detail::kIsFileNameObject<Name>, int> = 0>
    bool Load(const Name& file, bool bValidate) {
        return Load(detail::FileNameBytes(file), bValidate);
    }
    template <class Name, std::enable_if_t<detail::kIsFileNameObject<Name>, int> = 0>
    bool Load(const Name& file, E_LOAD_MODE eMode) {
        return Load(detail::FileNameBytes(file), eMode);
    }
    template <class Name, std::enable_if_t<detail::kIsFileNameObject<Name>, int> = 0>
    bool Load(const Name& file, std::initializer_list<E_LOAD_MODE> eMode) {
        return Load(detail::FileNameBytes(file), eMode);
    }
    template <class Name, std::enable_if_t<detail::kIsFileNameObject<Name>, int> = 0>
    bool Load(const Name& file, const sLoadOptions& options) {
        return Load(detail::FileNameBytes(file), options);
    }
    // Parses the bytes of a string (of any size) as a document, validating as Load(file,
    // bValidate) does; diagnostics name the document "toto". The bytes are only read during the
    // call. A name of its own, so that a std::string holding a file name is never parsed.
    bool LoadFromMemory(std::string_view bytes, bool bValidate = false);

    // --- Limits --------------------------------------------------------------------------
    // The bounds every later Load of this object applies (sLimits above); the defaults hold for
    // any new object. Raise them only for documents and grammars you trust. Moves carry them.
    void SetLimits(const sLimits& limits);
    const sLimits& GetLimits() const { return m_limits; }

    // --- Load options (the types are declared above the class) -----------------------------
    // The same loads in the mode the options give; same result rule, same limits and network
    // refusal in every mode. In E_LOAD_NAMED_GRAMMARS, the diagnostics of the named grammars come
    // first in the list, naming the grammar file; no grammar named is kind 4 "no grammar named".
    bool Load(const char* file, const sLoadOptions& options);
    bool Load(const void* buffer, unsigned int size, const sLoadOptions& options);

    // --- Creating and saving -----------------------------------------------------------
    // Replaces the current document by a new one holding only an empty root element of that
    // name, with a fresh error list. False, with a record, when the name is refused.
    bool CreateDoc(const char* rootName);
    // Writes node (the document or any node of it) to file, pretty-printed, or canonical
    // when bCanonical (see E_SAVE_FORM). A regular file is replaced atomically by a new file
    // (other hard links to it keep the old content): on failure the old file is intact. The new
    // file keeps the old one's permission bits (never set-uid/set-gid), owner, group, access
    // control list and extended attributes. /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N
    // are written where the stream stands, /dev/null is written; any other file that is not
    // regular (FIFO, socket, device, folder) is refused. In a sticky folder everyone may write
    // (/tmp), a symbolic link of another user is not followed, and a file of another user is
    // replaced by one of the caller's. A refusal is false with a kind-3 record naming the file.
    // What is written loads back with the same content: the document type with its internal
    // subset as the document had it, attributes in the order written (a grammar's defaults are
    // left out), entity references as references. A node other than the document is written to
    // load alone: entity references as their text, grammar defaults written out, the namespaces
    // in scope and inherited xml:* attributes on it. Pretty form indents 64 levels at most.
    // Encoding: the document's own (UTF-16 with a
    // byte order mark when it was read as UTF-16; a declared encoding under its declared name),
    // UTF-8 for UCS-4 and UTF-32 documents, for documents without a declared encoding and for
    // CreateDoc's; a character the encoding cannot hold becomes a character reference.
    // Refused, false with a record and the file untouched: a node with more than 1000 nested
    // elements below it, a character that cannot be written where no reference is allowed (a
    // name, a comment, a CDATA section), "--" in a comment, "?>" in a processing instruction.
    bool Save(const char* file, const xercesc::DOMNode* node, bool bCanonical);
    // Writes the whole current document; "DOMDOCUMENT undefined" when there is none.
    bool Save(const char* file, bool bCanonical);
    // The same two, in the given form.
    bool Save(const char* file, const xercesc::DOMNode* node, E_SAVE_FORM eForm);
    bool Save(const char* file, E_SAVE_FORM eForm);
    // The bytes Save(file, node, eForm) would write, in text; false, text untouched, with the
    // record Save would make when it refuses.
    bool GetXML(const xercesc::DOMNode* node, E_SAVE_FORM eForm, std::string& text);
    // W3C Canonical XML 1.0 (inclusive) in UTF-8, without XML declaration or document type:
    // of the whole document for the document node, else of node and all its descendants as a
    // document subset (in-scope namespaces and inherited xml:* attributes on node itself).
    // Comments are kept when withComments. Any depth. text = the bytes; false, text untouched,
    // with a record (kind 3) when node has no canonical form (an attribute, a document type) or
    // a namespace URI is relative; the missing document or node is recorded as Save does.
    bool GetCanonicalXML(const xercesc::DOMNode* node, bool withComments, std::string& text);
    // Writes the same bytes to file, atomically as Save does. False, with a record, on any failure.
    bool SaveCanonicalXML(const char* file, const xercesc::DOMNode* node, bool withComments);
    // The whole current document; "DOMDOCUMENT undefined" when there is none.
    bool SaveCanonicalXML(const char* file, bool withComments);

    // --- Node lookup ---------------------------------------------------------------------
    // Names are matched exactly (case-sensitive) against the node's DOM name in the local code
    // page, whatever the node's kind: "#text", "#comment", a PI target, "p:item" with its prefix.
    // Returned nodes belong to their document; never release them.

    // The root element when it has that name, else the first top-level node of the current
    // document with that name (a processing instruction, "#comment"; the document type only
    // when the root element has another name). Null with "DOMDOCUMENT undefined" when there is no document,
    // with "none child node in DOMDocument" when it is empty; null, unrecorded, when no match.
    xercesc::DOMNode* GetRootNode(std::string name);
    // The first direct child of parent with that name; null when none, or parent/name is null.
    static xercesc::DOMNode* GetNode(xercesc::DOMNode* parent, const char* name);
    // Same result as GetNode (kept for callers that have a const parent).
    static xercesc::DOMNode* GetFirstSubNode(const xercesc::DOMNode* parent, const char* name);
    // The first element with that tag name anywhere below the element start, in document
    // order, start itself excluded; "*" matches every element. Null when start is not an element.
    static xercesc::DOMNode* GetFirstNode(const xercesc::DOMNode* start, const char* name);

    // --- Counting ------------------------------------------------------------------------
    // count = number of elements with that tag name at any depth below node ("*": all).
    // False, count 0, when node is not an element (the document node included) or name is null.
    static bool GetNbChildInNode(const xercesc::DOMNode* node, const char* name, unsigned int& count);
    // count = number of direct child elements with that tag name. Same failure rule.
    static bool GetNbChildInNodeWithoutRecursive(const xercesc::DOMNode* node, const char* name, unsigned int& count);

    // --- Element text --------------------------------------------------------------------
    // A node's text: for an element, all text and CDATA below it in document order, untrimmed;
    // for a text, CDATA, comment or attribute node, its value; empty for the document node.
    // Reads never grow the document's memory. Texts of any length are converted; one that cannot
    // be converted to the local code page makes a read false, its output untouched.

    // text = the node's text. False, text untouched, for a null node (or an unconvertible text).
    static bool GetValue(const xercesc::DOMNode* node, std::string& text);
    // The same text as wide characters, one per Unicode character. False only for a null node.
    static bool GetValue(const xercesc::DOMNode* node, std::wstring& text);
    // *text = the text of parent's first direct child called name (any kind of node); left as
    // it was when none matches. Returns whether *text is non-empty afterwards; false for null.
    static bool GetValue(const xercesc::DOMNode* parent, const std::string& name, std::string* text);
    // The text of the first element with that tag name below node (as GetFirstNode finds it):
    // as it stands, by atoi, by atof, or as a boolean ("true", "false", else atoi > 0); a
    // number beyond the type's range gives its nearest limit.
    // False, value untouched, when node is not an element or no such element exists.
    static bool GetChildValue(const xercesc::DOMNode* node, const char* name, std::string& value);
    static bool GetChildValue(const xercesc::DOMNode* node, const char* name, int& value);
    static bool GetChildValue(const xercesc::DOMNode* node, const char* name, float& value);
    static bool GetChildValue(const xercesc::DOMNode* node, const char* name, bool& value);
    // Appends the non-empty text of every element with that tag name below node, in document
    // order (values is not cleared). True when at least one text was appended; false when a
    // text cannot be converted (the walk stops there).
    static bool GetArrayOfTagValues(const xercesc::DOMNode* node, const char* name, std::vector<std::string>& values);

    // --- Checked reads ---------------------------------------------------------------------
    // The same texts as GetChildValue (the first element name below node) and GetAttributeValue
    // (the attribute name of node), read with every check the C-library forms above skip: the
    // whole text must be one value in the type's range, else false and value untouched ("eight",
    // "12abc", "99999999999" into an int, "-1" into an unsigned type, "yes" into a bool).
    // XML whitespace around the value is ignored, as XML Schema does. Integers: decimal with an
    // optional sign. Floating point: decimal or exponent form, "NaN", "INF", "-INF" (any case).
    // bool: "true", "false", "1", "0". False, value untouched, too where the text is missing.
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, int& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, long& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, long long& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, unsigned int& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, unsigned long& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, unsigned long long& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, float& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, double& value);
    static bool GetChildValueChecked(const xercesc::DOMNode* node, const char* name, bool& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, int& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, long& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, long long& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, unsigned int& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, unsigned long& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, unsigned long long& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, float& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, double& value);
    static bool GetAttributeValueChecked(const xercesc::DOMNode* node, const char* name, bool& value);

    // --- Attributes ----------------------------------------------------------------------
    // Each form reads the attribute name of node (an element). On a missing attribute, a null
    // or non-element node, a null name, or a value that cannot be converted: false and the
    // output untouched, except as noted.
    // Numbers use the C library: atoi, atol, atof; strtoul with base 0 for the unsigned forms
    // (so "0x1F" is 31 there and 0 in the int form); unsigned short takes atol's low 16 bits.
    // bool: "true", "false", else atoi != 0 (so "-1" is true). A number beyond the type's range
    // gives its nearest limit (infinity for float), where the C library's result is undefined.
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, bool& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, int& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, long& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, unsigned long& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, unsigned int& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, unsigned short& value);
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, float& value);
    // value is emptied first; it stays empty on failure.
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, std::string& value);
    // On failure *value is untouched and the result tells whether it is non-empty (false for null).
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, std::string* value);
    // Copies the value and its terminating zero into buffer, which is zeroed first. A value
    // that does not fit in size bytes is refused (false, buffer all zero): it is never cut.
    // size <= 0 or a null buffer: false, buffer untouched.
    static bool GetAttributeValue(const xercesc::DOMNode* node, const char* name, char* buffer, int size);
    // values[i] = attribute names[i] for i < count; a missing one leaves values[i] untouched and,
    // when stopOnMissingAttribute, ends the call with false. Null arrays with count > 0: false.
    static bool GetAttributeValues(const xercesc::DOMNode* node, const std::string* names, std::string* values,
                                   const int& count, bool stopOnMissingAttribute);
    // True when the attribute exists and its text equals expected exactly.
    static bool HasAttributeSpecificValue(const xercesc::DOMNode* node, const char* name, const char* expected);

    // --- Iteration -----------------------------------------------------------------------
    // path is "A\\B\\C": from node, go down to the first child A, then its first child B, then
    // call functor once for each child C of that node, in order, with its text and the values
    // of attributeNames[0..attributeCount) (empty when absent). stopOnTrue / stopOnFalse end
    // the walk at the first such verdict; stopOnMissingAttribute ends it with false, without a
    // call, at the first child that lacks one of the attributes. Returns the last verdict;
    // false when no callback ran, a null functor/node is given, attributeCount passes 2^20, or,
    // without a call, at a text that cannot be converted. The functor's own exceptions pass
    // through. The functor may add nodes and remove the node it is given (the walk goes on with
    // the node that followed it; removing that one too ends the walk with false). A Load or
    // CreateDoc of the object owning the document, from the functor, is refused with a record;
    // destroying that object or releasing nodes during the walk is undefined.
    static bool LoopElements(TFunctor* functor, xercesc::DOMNode* node, std::string path, std::string* attributeNames,
                             int attributeCount, void* userData, bool stopOnTrue, bool stopOnFalse,
                             bool stopOnMissingAttribute);

    // --- Streaming -----------------------------------------------------------------------
    // Walks the records of a document while it is parsed, for documents larger than memory.
    // path starts at the root element, as "catalog\\records\\record": its first name is the root
    // element's, each further name but the last goes down to the first child of that name (of any
    // kind), and each child named by the last is visited, in document order; a one-name path
    // visits the root element itself. A path whose first name is not the root element's starts
    // below the root element, as LoopElements reads it from the root element: on a root element named catalog,
    // "records\\record" visits what "catalog\\records\\record" visits, so a loop on the loaded
    // root element keeps its path when it moves to a streamed walk (and LoopElements from the
    // document node reads the streamed form). For each visited node functor is called exactly as
    // LoopElements calls it on the loaded document, with the same stop flags; the node is a real
    // DOMNode holding its whole subtree (and its ancestors on the path) during the call only:
    // it is released afterwards, with any change made to it. A stop ends the parse at once; the
    // rest of the file is never read.
    // Memory: the largest record, plus its open ancestors (with their attributes) and the
    // document type, plus about 2 MB of finished nodes released in batches, plus the parser's
    // fixed part; not the file (measured: 20 MB peak for record files of 1 MB, 50 MB and 2 GB).
    // Like Load, it starts a fresh error list with every warning, error and fatal error (line
    // and column included), applies the same limits and validation, and releases the current
    // document (none is left). A fatal error ends the walk after the records finished before
    // it. Returns true only when nothing was recorded; *verdict (when not null) gets the walk's
    // result as LoopElements gives it. A null file, functor, or attributeNames with
    // attributeCount > 0 is recorded (kind 4) and nothing is read. An exception the functor throws
    // ends the walk once the parse is closed: false, with a kind-3 record of its message; the
    // object stays usable. From the functor, a
    // Load, CreateDoc, StreamElements or GetNbElementsInFile of this object is refused with a
    // record (kind 3); destroying or moving the object is undefined.
    // "/dev/stdin" reads standard input.
    bool StreamElements(const char* file, bool bValidate, TFunctor* functor, const std::string& path,
                        std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                        bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict = nullptr);
    // The same on size bytes of memory (automatic validation; diagnostics name it "toto").
    bool StreamElements(const void* buffer, unsigned int size, TFunctor* functor, const std::string& path,
                        std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                        bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict = nullptr);
    // count = the number of elements named name below the root element, at any depth ("*": all),
    // as GetNbChildInNode counts them on the loaded root element, read while the file is parsed:
    // no record is kept, memory does not grow with the file. Records and returns as
    // StreamElements; after a fatal error count holds the elements before it.
    bool GetNbElementsInFile(const char* file, bool bValidate, const char* name, unsigned long& count);
    // The same two file forms in the mode the options give (sLoadOptions: well-formed reading,
    // named grammars); the bool forms are E_LOAD_VALIDATE / E_LOAD_AUTO.
    bool StreamElements(const char* file, const sLoadOptions& options, TFunctor* functor, const std::string& path,
                        std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                        bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict = nullptr);
    bool GetNbElementsInFile(const char* file, const sLoadOptions& options, const char* name, unsigned long& count);

    // --- Walks with a callable --------------------------------------------------------------
    // The same walks as LoopElements and StreamElements, with any callable instead of a TFunctor
    // and the walk's settings by name. fn is called as fn(node) or as fn(node, text, attributes)
    // (const std::string&, const std::vector<std::string>& of walk.vAttributes' values) and
    // returns its verdict, which the stop flags weigh as LoopElements does (a callable returning
    // nothing gives true each time; a callable of another shape is a compile error stating this
    // rule). The path may use '/'.
    // Example: doc.StreamElements("big.xml", {}, {"catalog/records/record", {"id"}},
    //                             [&](DOMNode*, const std::string&, const auto& a) { ids.push_back(a[0]); return true;
    //                             });
    // A callable that takes only the node is not given the record's text: it is never built.
    template <class Fn>
    static bool LoopElements(xercesc::DOMNode* node, const sWalkOptions& walk, Fn&& fn) {
        static_assert(detail::kNodeCallable<Fn>,
                      "LoopElements and StreamElements call fn(DOMNode*) or fn(DOMNode*, const std::string& text, "
                      "const std::vector<std::string>& attributes), returning a verdict (bool) or nothing");
        NodeFunctor<Fn> functor(fn, walk.vAttributes.size());
        return LoopWalk(&functor, node, walk, NodeFunctor<Fn>::kWantsText);
    }
    template <class Fn>
    bool StreamElements(const char* file, const sLoadOptions& options, const sWalkOptions& walk, Fn&& fn,
                        bool* verdict = nullptr) {
        static_assert(detail::kNodeCallable<Fn>,
                      "LoopElements and StreamElements call fn(DOMNode*) or fn(DOMNode*, const std::string& text, "
                      "const std::vector<std::string>& attributes), returning a verdict (bool) or nothing");
        NodeFunctor<Fn> functor(fn, walk.vAttributes.size());
        return StreamWalk(file, options, &functor, walk, NodeFunctor<Fn>::kWantsText, false, verdict);
    }
    // The same two with a TFunctor (called with a null userData).
    static bool LoopElements(TFunctor* functor, xercesc::DOMNode* node, const sWalkOptions& walk);
    bool StreamElements(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                        bool* verdict = nullptr);
    // count = the records at walk.strPath that walk.pFilter keeps (all when null), read while the
    // file is parsed (without building a node when there is no filter, as StreamRecords does);
    // records and returns as StreamElements.
    bool GetNbElementsInFile(const char* file, const sLoadOptions& options, const sWalkOptions& walk,
                             unsigned long& count);
    // --- Records without a node -------------------------------------------------------------
    // The streaming walk of StreamElements for a caller that needs no node: each record at
    // walk.strPath is read from the parser's events and no node of the document is ever built, so
    // the walk runs at the parser's own pace and its memory is the parser's fixed part (plus the
    // text of one record, when fn takes it), whatever the size of the file. fn is called as fn(text, attributes) or
    // fn(attributes) (const std::string&, const std::vector<std::string>& of walk.vAttributes' values) with the values
    // StreamElements gives for the same record, and returns its verdict or nothing (true each time), as every walk's
    // callable does (another shape is a compile error stating this rule); the text (all character data below the
    // record) is only built when fn takes it. Stop flags, verdict, limits, modes, resources and records are those of
    // StreamElements. A path naming a node kind
    // ("#text", "#comment"...) or a walk.pFilter needs the record's node: the walk then builds it.
    // Example: doc.StreamRecords("big.xml", {}, {"catalog/records/record", {"id"}},
    //                            [&](const std::vector<std::string>& a) { ids.push_back(a[0]); return true; });
    template <class Fn>
    bool StreamRecords(const char* file, const sLoadOptions& options, const sWalkOptions& walk, Fn&& fn,
                       bool* verdict = nullptr) {
        static_assert(detail::kRecordCallable<Fn>,
                      "StreamRecords calls fn(const std::string& text, const std::vector<std::string>& attributes) "
                      "or fn(const std::vector<std::string>& attributes), returning a verdict (bool) or nothing");
        RecordFunctor<Fn> functor(fn, walk.vAttributes.size());
        return StreamRecords(file, options, &functor, walk, RecordFunctor<Fn>::kWantsText, verdict);
    }
    // The same with a TFunctor, called with a null node and userData, and with an empty text
    // unless wantText; and on size bytes of memory (diagnostics name it "toto").
    bool StreamRecords(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                       bool wantText, bool* verdict = nullptr);
    bool StreamRecords(const void* buffer, unsigned int size, const sLoadOptions& options, TFunctor* functor,
                       const sWalkOptions& walk, bool wantText, bool* verdict = nullptr);

    // --- Checking without a tree ---------------------------------------------------------------
    // Parses the file (or size bytes of memory, named "toto") exactly as Load with these options
    // does, with the same limits, and records the same diagnostics (lines and columns included),
    // but builds no document: a validity or well-formedness check at the parser's pace, in memory
    // that does not grow with the document. The current document is released (none is left).
    // Returns true only when nothing was recorded.
    bool Validate(const char* file, const sLoadOptions& options);
    bool Validate(const void* buffer, unsigned int size, const sLoadOptions& options);

    // --- Many documents on several threads -----------------------------------------------------
    // Calls fn(index, xml) once for each index of files, on batch.nThreads threads (the calling
    // one among them) started and joined within the call; xml is that thread's own object, with
    // batch.limits, kept from file to file (its parser, and grammars it parsed, serve again). The
    // order of the calls across threads is not fixed. An exception fn throws stops the handing out
    // of later files and is rethrown to the caller once every thread is joined.
    static void ForEachFile(const std::vector<std::string>& files, const sBatchOptions& batch,
                            const std::function<void(std::size_t index, CKelXML& xml)>& fn);
    // Checks every file as Validate(file, options) does, on threads as ForEachFile shares them
    // out; named grammars are parsed once for all of them (in options.pGrammarCache, else in a
    // cache made for the call). results = one entry per file, in the order of files. True only
    // when every file is valid. Never throws: a failure is recorded in its file's result (without
    // memory for the results: false, results untouched).
    static bool ValidateFiles(const std::vector<std::string>& files, const sLoadOptions& options,
                              const sBatchOptions& batch, std::vector<sFileResult>& results);

    // The elements LoopElements would visit at the end of path below node, for a range-for.
    static std::vector<xercesc::DOMElement*> GetElements(xercesc::DOMNode* node, const std::string& path);
    // node's attributes (name, value) in document order, namespace declarations included; empty
    // for anything but an element.
    static std::vector<std::pair<std::string, std::string>> GetAttributes(const xercesc::DOMNode* node);

    // --- Reads with a default ------------------------------------------------------------------
    // The value as the Checked reads read it (std::string: the text as GetChildValue and
    // GetAttributeValue give it), or fallback when it is missing or is not wholly one value of
    // the type; *read, when given, tells which. int port = GetChildValueOr(root, "port", 80);
    // The default may be any number or bool (std::uint16_t port: read as one, so "70000" gives the
    // default) or any text (std::string, std::string_view, a C string: the read gives a std::string).
    template <class T>
    static detail::ValueOrResult<T> GetChildValueOr(const xercesc::DOMNode* node, const char* name, T fallback,
                                                    bool* read = nullptr) {
        return ValueOr(node, name, detail::ValueOrFallback(std::move(fallback)), read, true);
    }
    static std::string GetChildValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                       bool* read = nullptr) {
        return ValueOr(node, name, std::string(fallback ? fallback : ""), read, true);
    }
    template <class T>
    static detail::ValueOrResult<T> GetAttributeValueOr(const xercesc::DOMNode* node, const char* name, T fallback,
                                                        bool* read = nullptr) {
        return ValueOr(node, name, detail::ValueOrFallback(std::move(fallback)), read, false);
    }
    static std::string GetAttributeValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                           bool* read = nullptr) {
        return ValueOr(node, name, std::string(fallback ? fallback : ""), read, false);
    }
    // The same read of node's own text (as GetValue gives it: all the text of an element, the
    // value of an attribute): for (DOMElement* tag : GetElements(record, "tags/tag")) GetValueOr(tag, "").
    template <class T>
    static detail::ValueOrResult<T> GetValueOr(const xercesc::DOMNode* node, T fallback, bool* read = nullptr) {
        return ValueOr(node, nullptr, detail::ValueOrFallback(std::move(fallback)), read, true);
    }
    static std::string GetValueOr(const xercesc::DOMNode* node, const char* fallback, bool* read = nullptr) {
        return ValueOr(node, nullptr, std::string(fallback ? fallback : ""), read, true);
    }
    // The same read of node's first direct child element of that name (GetChildValueOr looks at
    // any depth, in document order).
    template <class T>
    static detail::ValueOrResult<T> GetDirectChildValueOr(const xercesc::DOMNode* node, const char* name, T fallback,
                                                          bool* read = nullptr) {
        return ValueOr(DirectChild(node, name), nullptr, detail::ValueOrFallback(std::move(fallback)), read, true);
    }
    static std::string GetDirectChildValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                             bool* read = nullptr) {
        return ValueOr(DirectChild(node, name), nullptr, std::string(fallback ? fallback : ""), read, true);
    }
    // --- XPath ---------------------------------------------------------------------------
    // One-shot XPath 1.0 evaluations (CXPath.h: compile once there to evaluate many times, with
    // variables). context is the context node, any node of any document; null means the current
    // document. namespaces binds the prefixes the expression uses to namespace URIs. Recorded:
    // kind 4 "DOMDOCUMENT undefined" (null context, no document) or "expression undefined";
    // kind 3 "XPath expression error at column N: ..." (nColumn N) when expr does not compile;
    // kind 3 "XPath expression could not be evaluated" when a text cannot be converted.
    // The nodes selected, in document order (see CXPath for text and namespace nodes); empty on
    // failure or when the value is not a node-set. The nodes belong to their document.
    std::vector<xercesc::DOMNode*> SelectNodes(const char* expr, const xercesc::DOMNode* context = nullptr,
                                               const std::map<std::string, std::string>& namespaces = {});
    // The first of them, or null.
    xercesc::DOMNode* SelectNode(const char* expr, const xercesc::DOMNode* context = nullptr,
                                 const std::map<std::string, std::string>& namespaces = {});
    // The value converted by string(), number() or boolean(); false, value untouched, on failure.
    bool GetXPathString(const char* expr, std::string& value, const xercesc::DOMNode* context = nullptr,
                        const std::map<std::string, std::string>& namespaces = {});
    bool GetXPathNumber(const char* expr, double& value, const xercesc::DOMNode* context = nullptr,
                        const std::map<std::string, std::string>& namespaces = {});
    bool GetXPathBoolean(const char* expr, bool& value, const xercesc::DOMNode* context = nullptr,
                         const std::map<std::string, std::string>& namespaces = {});
    // The same from a context node, recording nothing: empty, null or false (value untouched)
    // on any failure, a null context or expr included.
    static std::vector<xercesc::DOMNode*> SelectNodes(const xercesc::DOMNode* context, const char* expr,
                                                      const std::map<std::string, std::string>& namespaces = {});
    static xercesc::DOMNode* SelectNode(const xercesc::DOMNode* context, const char* expr,
                                        const std::map<std::string, std::string>& namespaces = {});
    static bool GetXPathString(const xercesc::DOMNode* context, const char* expr, std::string& value,
                               const std::map<std::string, std::string>& namespaces = {});
    static bool GetXPathNumber(const xercesc::DOMNode* context, const char* expr, double& value,
                               const std::map<std::string, std::string>& namespaces = {});
    static bool GetXPathBoolean(const xercesc::DOMNode* context, const char* expr, bool& value,
                                const std::map<std::string, std::string>& namespaces = {});

    // --- Dictionary ----------------------------------------------------------------------
    // For every child of node (any kind), dictionary[name] = its text; a later child wins over
    // an earlier one of the same name. Nothing is removed. False, map untouched, for null;
    // false at a name or text that cannot be converted (the entries made before it stay).
    static bool o_GetDictionaryFromNode(const xercesc::DOMNode* node, std::map<std::string, std::string>& dictionary);

    // --- Editing -------------------------------------------------------------------------
    // New nodes are made in the current document and belong to it. Failures are recorded:
    // kind 4 "DOMDOCUMENT undefined" (no document, checked first), "ParentNode undefined",
    // or kind 3 with the parser library's message (an invalid name, a parent of another
    // document, a second root element), or "text that cannot be converted between the local
    // code page and UTF-16" (names, texts and values of any length are converted).

    // A document keeps the whitespace it was loaded with: where a parent's children stand on lines
    // of their own, a new element gets a copy of the whitespace its neighbour has before it, and
    // the parent's closing whitespace stays last, so a Save in E_SAVE_AS_LOADED form adds the
    // new line and changes nothing else. Elements without such whitespace get none.

    // Namespaces: a new element whose name has a prefix, or has none under a default namespace, is
    // in the namespace the declarations in scope (xmlns attributes of its parent and their
    // ancestors) give it, as in the saved and reloaded document; a prefix nothing declares gives an
    // element in no namespace, as before. Attributes likewise (an unprefixed one is in none).
    // Adding or changing an xmlns or xmlns:p attribute puts the element and the nodes below it that
    // use it (up to a new declaration) in the namespace it declares.

    // Adds a new empty element name after parent's other children (before its closing
    // whitespace, indented as its last child); returns it, or null.
    xercesc::DOMElement* AddNewElementNode(const std::string& name, xercesc::DOMNode* parent);
    // The same, with text as the element's content.
    xercesc::DOMElement* AddNewElementNode(const std::string& name, const std::string& text, xercesc::DOMNode* parent);
    // The same in namespace namespaceURI (empty: none), whatever is in scope: the element declares
    // its prefix (or the default namespace) itself where the declarations in scope bind it
    // otherwise. text, when not empty, is its content. Returns it, or null with a record as above
    // (a prefix with an empty namespaceURI is the DOM's kind-3 refusal).
    xercesc::DOMElement* AddNewElementNodeNS(xercesc::DOMNode* parent, std::string_view namespaceURI,
                                             std::string_view name, std::string_view text = {});
    // A new element name (holding text, when not null) just before or just after sibling, indented
    // as sibling is; returns it, or null. Recorded besides the above: kind 4 "sibling node
    // undefined", "ParentNode undefined" (sibling has no parent), "element name undefined";
    // kind 3 "node is not an element of this document" (sibling), or the DOM's refusal (a second
    // root element beside the root).
    xercesc::DOMElement* InsertNewElementNodeBefore(xercesc::DOMNode* sibling, const char* name,
                                                    const char* text = nullptr);
    xercesc::DOMElement* InsertNewElementNodeAfter(xercesc::DOMNode* sibling, const char* name,
                                                   const char* text = nullptr);
    // The same at element position position (from 0) among parent's child elements: before the
    // element now there, or after them all when there are not that many. Refused as above, for
    // a parent that is null ("ParentNode undefined") or not an element of this document.
    xercesc::DOMElement* InsertNewElementNodeAt(xercesc::DOMNode* parent, std::size_t position, const char* name,
                                                const char* text = nullptr);
    // Adds a comment `<!--text-->` (or a processing instruction `<?target data?>`) after parent's other
    // children (an element, or the document node for one outside the root element), indented as
    // AddNewElementNode indents; returns it (it belongs to the document), or null. Recorded
    // besides the above: kind 3 for a comment holding "--" or ending with "-", for "?>" in a
    // processing instruction or a target named "xml" (Save could not write them), or for a
    // target that is not a name.
    xercesc::DOMComment* AddNewCommentNode(xercesc::DOMNode* parent, std::string_view text);
    xercesc::DOMProcessingInstruction* AddNewPINode(xercesc::DOMNode* parent, std::string_view target,
                                                    std::string_view data);
    // Appends `<name>text</name>` to parent; true once it is made. A null name or text is
    // recorded (kind 4) and gives false.
    bool AddChildNodeValue(xercesc::DOMNode* parent, const char* name, const char* text);
    // Appends `<name>value</name>`, the value in decimal.
    bool AddChildNodeValue(xercesc::DOMNode* parent, const char* name, unsigned int value);
    // Appends `<name>value</name>` for any other number or bool, written as ValueText writes it:
    // AddChildNodeValue(parent, "delta", -3) writes -3, (parent, "count", 0) writes 0.
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    bool AddChildNodeValue(xercesc::DOMNode* parent, const char* name, T value) {
        return AddChildNodeValue(parent, name, ValueText(Widened(value)).c_str());
    }
    // The text the number writers write: integers in decimal; a float or double as the shortest
    // text that reads back to the same value of its type ("NaN", "INF", "-INF" where it is not
    // finite); a bool as "true" or "false".
    static std::string ValueText(long long value);
    static std::string ValueText(unsigned long long value);
    static std::string ValueText(float value);
    static std::string ValueText(double value);
    static std::string ValueText(bool value);
    // Sets a new attribute node name=value on element (replacing one of that name, in its place;
    // a new name is saved after the element's other attributes); returns it.
    xercesc::DOMAttr* AddNewAttribute(const std::string& name, const std::string& value, xercesc::DOMElement* element);
    // The same in namespace namespaceURI (empty: none): name's prefix is declared on element when
    // nothing in scope binds it. Null with a kind-3 record when name has no prefix but a namespace
    // ("an attribute in a namespace needs a prefix"), or its prefix is bound to another namespace
    // at element ("the prefix is bound to another namespace here").
    xercesc::DOMAttr* AddNewAttributeNS(xercesc::DOMElement* element, std::string_view namespaceURI,
                                        std::string_view name, std::string_view value);
    // The same with a number or bool, written as ValueText writes it.
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    xercesc::DOMAttr* AddNewAttribute(const std::string& name, T value, xercesc::DOMElement* element) {
        return AddNewAttribute(name, ValueText(Widened(value)), element);
    }
    // Changes the value of element's existing attribute name; never adds one. Returns the
    // attribute, or null with "unable to find attribute Node with name specified".
    xercesc::DOMAttr* ModifyAttribute(const std::string& name, const std::string& value, xercesc::DOMElement* element);
    // The same with a number or bool, written as ValueText writes it.
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    xercesc::DOMAttr* ModifyAttribute(const std::string& name, T value, xercesc::DOMElement* element) {
        return ModifyAttribute(name, ValueText(Widened(value)), element);
    }
    // Sets an existing attribute of any element; records nothing. False when node, name or
    // value is null, node is not an element, the attribute is missing, the value cannot be
    // converted, or the DOM refuses.
    static bool SetAttributeValue(const xercesc::DOMNode* node, const char* name, const char* value);
    // Detaches child from parent and returns it (the caller may release it; otherwise it goes
    // with its document). Null with "ParentNode undefined", "oldChild undefined", or kind 3
    // when child is not a child of parent.
    xercesc::DOMNode* RemoveChildNode(xercesc::DOMNode* parent, xercesc::DOMNode* child);

private:
    // Adapts a callable of a walk to the TFunctor the walks call: byNode, fn(node) or fn(node,
    // text, attributes); otherwise fn(text, attributes) or fn(attributes). A callable of neither
    // shape is left to the caller's static_assert (it is called never).
    template <class Fn, bool byNode>
    class CallableFunctor : public TFunctor {
    public:
        static constexpr bool kNodeOnly = detail::CallableAs<Fn, xercesc::DOMNode*>();
        static constexpr bool kWantsText =
            byNode ? !kNodeOnly : detail::CallableAs<Fn, const std::string&, const detail::Attributes&>();
        CallableFunctor(Fn& fn, std::size_t count) : m_fn(fn), m_count(count) {}
        bool operator()(xercesc::DOMNode* node, std::string, std::string text, std::string* values, void*) override {
            if constexpr (byNode && kNodeOnly) {
                return detail::Verdict([&] { return m_fn(node); });
            } else {
                const std::string& t = text;
                m_values.assign(values, values + m_count);
                const detail::Attributes& a = m_values;
                if constexpr (byNode && detail::kNodeCallable<Fn>)
                    return detail::Verdict([&] { return m_fn(node, t, a); });
                else if constexpr (!byNode && kWantsText)
                    return detail::Verdict([&] { return m_fn(t, a); });
                else if constexpr (!byNode && detail::kRecordCallable<Fn>)
                    return detail::Verdict([&] { return m_fn(a); });
                else
                    return false;
            }
        }

    private:
        Fn& m_fn;
        std::size_t m_count;
        detail::Attributes m_values;
    };
    template <class Fn>
    using NodeFunctor = CallableFunctor<Fn, true>;
    template <class Fn>
    using RecordFunctor = CallableFunctor<Fn, false>;
    // The walks with a TFunctor and sWalkOptions: wantText false gives the functor an empty text
    // (never built); records builds no node where the path allows it (StreamRecords).
    static bool LoopWalk(TFunctor* functor, xercesc::DOMNode* node, const sWalkOptions& walk, bool wantText);
    bool StreamWalk(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                    bool wantText, bool records, bool* verdict);
    static std::string Backslashed(std::string path);
    // node's first direct child element called name (null for none): node itself when name is null.
    static const xercesc::DOMNode* DirectChild(const xercesc::DOMNode* node, const char* name);
    // The text of the first element name below node (child) or of its attribute name, or, when
    // name is null, of node itself, converted with the checks of the Checked reads.
    template <class T>
    static T ValueOr(const xercesc::DOMNode* node, const char* name, T fallback, bool* read, bool child) {
        T value{};
        std::string text;
        bool ok = name ? (child ? GetChildValue(node, name, text) : GetAttributeValue(node, name, text))
                       : node && GetValue(node, text);
        if constexpr (std::is_same_v<T, std::string>)
            value = std::move(text);
        else
            ok = ok && ParseNumber(text, value);
        if (read) *read = ok;
        return ok ? value : fallback;
    }
    // ParseText for any arithmetic type: the other ones are read through the widest of their
    // kind and refused outside their range.
    template <class T>
    static bool ParseNumber(const std::string& text, T& value) {
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, float> || std::is_same_v<T, double> ||
                      std::is_same_v<T, int> || std::is_same_v<T, long> || std::is_same_v<T, long long> ||
                      std::is_same_v<T, unsigned int> || std::is_same_v<T, unsigned long> ||
                      std::is_same_v<T, unsigned long long>) {
            return ParseText(text, value);
        } else {
            using Wide = std::conditional_t<std::is_floating_point_v<T>, double,
                                            std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>>;
            Wide wide{};
            if (!ParseText(text, wide)) return false;
            if constexpr (std::is_integral_v<T>) {
                if (wide > static_cast<Wide>(std::numeric_limits<T>::max())) return false;
                if constexpr (std::is_signed_v<T>)
                    if (wide < static_cast<Wide>(std::numeric_limits<T>::min())) return false;
            }
            value = static_cast<T>(wide);
            return true;
        }
    }
    static bool ParseText(const std::string& text, int& value);
    static bool ParseText(const std::string& text, long& value);
    static bool ParseText(const std::string& text, long long& value);
    static bool ParseText(const std::string& text, unsigned int& value);
    static bool ParseText(const std::string& text, unsigned long& value);
    static bool ParseText(const std::string& text, unsigned long long& value);
    static bool ParseText(const std::string& text, float& value);
    static bool ParseText(const std::string& text, double& value);
    static bool ParseText(const std::string& text, bool& value);

    // The ValueText argument that holds any value of T.
    template <class T>
    static auto Widened(T value) {
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, float>)
            return value;
        else if constexpr (std::is_floating_point_v<T>)
            return static_cast<double>(value);
        else if constexpr (std::is_signed_v<T>)
            return static_cast<long long>(value);
        else
            return static_cast<unsigned long long>(value);
    }

    struct DocumentReleaser {
        void operator()(xercesc::DOMDocument* doc) const noexcept;
    };

    // Compiles expr into xpath for a one-shot evaluation and gives the context it runs on (the
    // document for null); null, with a record, when there is none or expr does not compile.
    const xercesc::DOMNode* PrepareXPath(const char* expr, const xercesc::DOMNode* context,
                                         const std::map<std::string, std::string>& namespaces, CXPath& xpath);
    // The body of the member XPath reads: compile, read(xpath, context), record what fails.
    template <class Read>
    bool ReadXPath(const char* expr, const xercesc::DOMNode* context,
                   const std::map<std::string, std::string>& namespaces, Read&& read);
    void Free() noexcept;
    // Readies the parser (made anew when its grammar pool changes) and a fresh error list for a
    // load with these options.
    void InitializeParser(const sLoadOptions& options, std::shared_ptr<const internal::GrammarSet> grammars);
    void CreateHanderErrorIfNecessary();
    // True when what is there; otherwise records kind 4 with the message missing.
    bool Require(const void* what, const char* missing);
    // True when the library runs for what the object holds; otherwise false with "not started".
    bool Running();
    // Require for the current document, once the library is known to run ("not started" first).
    bool RequireDocument();
    // Whether what the object holds belongs to the running library.
    bool Alive() const;
    // True, with what belongs to an earlier run abandoned, when the library runs; otherwise false
    // with a record.
    bool Ready();
    // Forgets, without releasing, the parser, the documents and the grammars.
    void Abandon() noexcept;
    // Records what an edit lacks ("DOMDOCUMENT undefined" first, then "ParentNode undefined");
    // true when both the document and the parent are there.
    bool CanEdit(const void* parent);
    // CanEdit for the node a new element goes beside or below (missing names it when null), which
    // must be an element of the current document.
    bool CanEditBeside(const xercesc::DOMNode* node, const char* missing);
    // The body of every operation that adds a node: make(node) makes it in the current document,
    // placed where where() says (an internal::Placement); null, with a record and nothing
    // changed, on failure.
    template <class Make, class Where>
    xercesc::DOMNode* NewNode(Make&& make, Where&& where);
    // NewNode for a new element name holding text (when not null), in namespace uri when not null
    // (else as the declarations in scope say).
    template <class Where>
    xercesc::DOMElement* NewElement(const char* name, const char* text, Where&& where, const char* uri = nullptr);
    // False, with a record, while LoopElements walks the current document on this thread, or
    // while this object streams a document.
    bool Replaceable();
    // Whether a load or a walk may start from source: Replaceable, and a null source empties the
    // object and records missing.
    bool AcceptSource(const void* source, const char* missing);
    // Records one error, making the error list first when the object has none.
    void Record(E_TYPE_ERROR eType, const char* message) noexcept;
    // Writes node in eForm to sink block by block, as Save and GetXML make it. False with the
    // refusal (an exception's text included), or with refusal empty when the sink failed.
    bool SerializeTo(const xercesc::DOMNode* node, E_SAVE_FORM eForm, const std::function<bool(std::string_view)>& sink,
                     std::string& refusal) const;
    // Writes to file atomically what content hands its sink block by block (content: false with
    // the refusal, or with it empty when the sink failed). False with a record: the refusal, or
    // one naming the file.
    using FileContent = std::function<bool(const std::function<bool(std::string_view)>&, std::string&)>;
    bool WriteFile(const char* file, const FileContent& content);
    // Runs fn, turning any exception into a kind-3 record; true when fn ran to its end.
    template <class Fn>
    bool Guarded(Fn&& fn);
    // The shared body of every Load form: grammars, reset parser, fresh list, parse, take the
    // document. read gives back bytes of the document parsed (see internal::ByteReader).
    template <class ParseFn, class ReadFn>
    bool LoadWith(const sLoadOptions& options, ParseFn&& parse, ReadFn&& read);
    // Acquires the grammars the options name and makes the parser ready for them; the error
    // list then holds the grammars' own warnings. False, with one record, when they do not compile.
    bool PrepareParser(const sLoadOptions& options);
    // The shared body of the streaming operations: like LoadWith, but no document is kept, and
    // an exception the walk stored becomes a kind-3 record once the parse is closed.
    template <class WalkFn>
    bool StreamWith(const sLoadOptions& options, WalkFn&& walk);
    // The checks and the walk shared by the StreamElements forms; file null reads memory.
    // wantText and records as StreamWalk's.
    bool StreamFrom(const char* file, std::string_view memory, const sLoadOptions& options, TFunctor* functor,
                    const std::string& path, std::string* attributeNames, int attributeCount, void* userData,
                    bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict,
                    const CXPath* filter = nullptr, bool wantText = true, bool records = false);
    // The body of every LoopElements form; filter as sWalkOptions::pFilter.
    static bool Loop(TFunctor* functor, xercesc::DOMNode* node, std::string path, std::string* attributeNames,
                     int attributeCount, void* userData, bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute,
                     const CXPath* filter, bool wantText = true);

    std::unique_ptr<internal::LoadParser> m_pParser;
    std::unique_ptr<CError> m_pErrors;
    xercesc::DOMDocument* m_pDocument = nullptr;
    // Set when the current document was made by CreateDoc, which this object then owns.
    std::unique_ptr<xercesc::DOMDocument, DocumentReleaser> m_pCreatedDocument;
    // What Save keeps of the created document besides its DOM (the order attributes were added in).
    std::unique_ptr<internal::SourceNotes> m_pCreatedNotes;
    // Limits entity expansion in every parser this object makes; outlives them.
    std::unique_ptr<xercesc::SecurityManager> m_pSecurityManager;
    sLimits m_limits;
    // The grammars the parser was made with (it is bound to their pool), and the object's own
    // grammar cache; both outlive the parser.
    std::shared_ptr<const internal::GrammarSet> m_pGrammars;
    std::shared_ptr<CGrammarCache> m_pGrammarCache;
    // Set during a streaming walk: its callbacks may not replace what the walk parses.
    bool m_bStreaming = false;
    // The run of the parser library the parser and documents belong to (0: none held).
    std::uint64_t m_uRun = 0;
};

// Starts the parser library for as long as it lives: one at the top of main, before any
// document object, replaces the initXmlAPI / TerminateXmlAPI pair. Objects and nodes must go
// before it does.
class KELXML_EXPORT CXmlLibrary {
public:
    CXmlLibrary();
    ~CXmlLibrary();
    CXmlLibrary(const CXmlLibrary&) = delete;
    CXmlLibrary& operator=(const CXmlLibrary&) = delete;
    // False when the parser library failed to start (its message went to standard output).
    bool IsStarted() const { return m_bStarted; }

private:
    bool m_bStarted;
};

}  // namespace XML

#endif
