// Options.h: the option and result types of the document object (limits, load and walk settings,
// batch settings, save forms), apart from the class so that code needing only them stays light.
// Option structures only ever grow at their end (CONTRIBUTING, "ABI policy").
#ifndef KELXML_OPTIONS_H
#define KELXML_OPTIONS_H

#include <XML/CError.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace XML {

class CXPath;

namespace detail {
// An options structure as the caller's compile laid it out: the inline forms hand it to the
// library's sized entry points, which read only the fields its size covers and take the defaults
// for the rest (CONTRIBUTING, "ABI policy"). Not for direct use.
template <class T>
struct Layout {
    const T* pOptions;
    std::size_t nSize;
};
template <class T>
constexpr Layout<T> LayoutOf(const T& options) noexcept {
    return {&options, sizeof(T)};
}
}  // namespace detail

// What one evaluation may cost, and the longest expression Compile takes. Past a bound the
// evaluation fails (false, empty) and its reason names the bound; the defaults keep any
// expression on any document the load limits admit within about 2 s of CPU and 256 MB.
struct sXPathLimits {
    // Nodes visited by the axes and string values, expressions and predicates evaluated, nodes sorted.
    std::size_t maxSteps = 50000000;
    // Nodes held in the node-sets of the evaluation at one time.
    std::size_t maxNodes = 4000000;
    // Characters of the strings the evaluation builds (string values copied, function results).
    std::size_t maxCharacters = 32000000;
    // Bytes of an expression: Compile refuses a longer one before reading it.
    std::size_t maxExpressionLength = 262144;
};

// What one Load may cost. Past any bound the load is refused: false, one kind-3 record naming
// the bound, no document. The defaults let every valid document of the XML conformance suite
// load; sLimits::Huge() raises every bound, for trusted documents only.
struct sLimits {
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
    // Comparisons of values with enumeration facets in one schema validation: the validator
    // searches an enumeration value by value, so a large one checked on many values costs their
    // product. Each value's first 256 comparisons are not counted (they cost what reading it does).
    std::size_t maxEnumerationComparisons = 100000000;

    // Bounds for trusted documents: ten to ten thousand times the defaults, as far as the
    // parser's own recursion allows (README, "Load limits").
    static sLimits Huge();
};

inline sLimits sLimits::Huge() {
    sLimits huge;
    huge.maxDepth = 10000;  // the parser's schema reader recurses once per level
    huge.maxNamespacesInScope = 100000;
    huge.maxAttributeCost = 1000000000000;
    huge.maxAttributeLength = 1000000000;
    huge.maxEntityExpansions = 10000000;
    huge.maxExpandedCharacters = 1000000000;
    huge.maxEntityDepth = 1024;
    huge.maxContentModelParticles = 200000;
    huge.maxDerivationDepth = 10000;
    huge.maxAmbiguousParticles = 24;
    huge.maxExpandedNodes = 100000000;
    huge.maxExternalBytes = std::size_t{4} << 30;
    huge.maxDistinctNames = 10000000;
    huge.maxDiagnostics = 10000000;
    huge.maxXPathSteps = 2000000000;
    huge.maxXPathNodes = 100000000;
    huge.maxXPathCharacters = 1000000000;
    huge.maxXPathExpressionLength = std::size_t{64} << 20;
    huge.maxEnumerationComparisons = 10000000000;
    return huge;
}

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

// How CKelXML::ForEachFile and ValidateFiles share a list of documents out. Its limits stay its
// last field (they grow at their end): a new batch setting goes to a new structure.
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

}  // namespace XML

#endif
