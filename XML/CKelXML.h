// CKelXML: the document object. Loads, creates, reads, edits and saves one XML document
// on top of the Xerces-C++ DOM, and records every problem in one error list.
// The DOM classes are only named here: include <xercesc/dom/DOM.hpp> to use their members.
// Options structures only grow at their end; the forms taking one pass its size (CONTRIBUTING, "ABI policy").
#ifndef KELXML_CKELXML_H
#define KELXML_CKELXML_H

#include <XML/CError.h>
#include <XML/CGrammarCache.h>
#include <XML/CXPath.h>
#include <XML/KelXMLExport.h>
#include <XML/Options.h>
#include <XML/TFunctor.h>
#include <XML/XStr.h>
#include <XML/detail/Adapters.h>

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// The Xerces-C++ classes the declarations name; a caller that uses their members includes
// <xercesc/dom/DOM.hpp> itself.
XERCES_CPP_NAMESPACE_BEGIN
class DOMAttr;
class DOMComment;
class DOMDocument;
class DOMElement;
class DOMNode;
class DOMProcessingInstruction;
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace XML {

class HandlerError;

namespace internal {
class GrammarSet;
class LoadParser;
struct SourceNotes;
}  // namespace internal

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
    // Moves transfer parser, error list, document and limits, leaving the source as a new object.
    CKelXML(CKelXML&& other) noexcept;
    CKelXML& operator=(CKelXML&& other) noexcept;

    // The current document (owned by this object), or null.
    xercesc::DOMDocument* GetDocument() const { return m_pDocument; }
    // The error list (owned by this object), or null before any operation made one.
    const CError* GetErrors() const;

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
    // The same in the mode the options give (as Load(file, options)), or in one mode, braced or not,
    // as the file forms take it; bytes of any size the process holds.
    bool LoadFromMemory(std::string_view bytes, const sLoadOptions& options) {
        return LoadFromMemorySized(bytes, detail::LayoutOf(options));
    }
    bool LoadFromMemory(std::string_view bytes, E_LOAD_MODE eMode);
    bool LoadFromMemory(std::string_view bytes, std::initializer_list<E_LOAD_MODE> eMode);

    // --- Limits --------------------------------------------------------------------------
    // The bounds every later Load of this object applies (sLimits above); the defaults hold for
    // any new object. Raise them only for documents and grammars you trust. Moves carry them.
    void SetLimits(const sLimits& limits) { SetLimitsSized(detail::LayoutOf(limits)); }
    const sLimits& GetLimits() const;

    // --- Load options (the types are declared above the class) -----------------------------
    // The same loads in the mode the options give; same result rule, same limits and network
    // refusal in every mode. In E_LOAD_NAMED_GRAMMARS, the diagnostics of the named grammars come
    // first in the list, naming the grammar file; no grammar named is kind 4 "no grammar named".
    bool Load(const char* file, const sLoadOptions& options) { return LoadSized(file, detail::LayoutOf(options)); }
    // Deprecated in 2.0 (the size cannot pass 4 GiB): LoadFromMemory(bytes, options), same behaviour.
    [[deprecated("use LoadFromMemory(bytes, options)")]] bool Load(const void* buffer, unsigned int size,
                                                                   const sLoadOptions& options) {
        return LoadSized(buffer, size, detail::LayoutOf(options));
    }

    // --- Creating and saving -----------------------------------------------------------
    // Replaces the current document by a new one holding only an empty root element of that
    // name, with a fresh error list. False, with a record, when the name is refused.
    bool CreateDoc(const char* rootName);
    // Writes node (the document or any node of it) to file, pretty-printed, or canonical
    // when bCanonical (see E_SAVE_FORM), atomically: on failure the old file is intact. False,
    // with a kind-3 record naming the file, on a refusal. Which files are replaced and how, what
    // is written and what is refused: docs/SAVING.md.
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
                        bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict = nullptr) {
        return StreamElementsSized(file, detail::LayoutOf(options), functor, path, attributeNames, attributeCount,
                                   userData, stopOnTrue, stopOnFalse, stopOnMissingAttribute, verdict);
    }
    bool GetNbElementsInFile(const char* file, const sLoadOptions& options, const char* name, unsigned long& count) {
        return GetNbElementsInFileSized(file, detail::LayoutOf(options), name, count);
    }

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
        detail::NodeFunctor<Fn> functor(fn, walk.vAttributes.size());
        return LoopElementsSized(&functor, node, detail::LayoutOf(walk), detail::NodeFunctor<Fn>::kWantsText);
    }
    template <class Fn>
    bool StreamElements(const char* file, const sLoadOptions& options, const sWalkOptions& walk, Fn&& fn,
                        bool* verdict = nullptr) {
        static_assert(detail::kNodeCallable<Fn>,
                      "LoopElements and StreamElements call fn(DOMNode*) or fn(DOMNode*, const std::string& text, "
                      "const std::vector<std::string>& attributes), returning a verdict (bool) or nothing");
        detail::NodeFunctor<Fn> functor(fn, walk.vAttributes.size());
        return StreamElementsSized(file, detail::LayoutOf(options), &functor, detail::LayoutOf(walk),
                                   detail::NodeFunctor<Fn>::kWantsText, verdict);
    }
    // The same two with a TFunctor (called with a null userData).
    static bool LoopElements(TFunctor* functor, xercesc::DOMNode* node, const sWalkOptions& walk) {
        return LoopElementsSized(functor, node, detail::LayoutOf(walk), true);
    }
    bool StreamElements(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                        bool* verdict = nullptr) {
        return StreamElementsSized(file, detail::LayoutOf(options), functor, detail::LayoutOf(walk), true, verdict);
    }
    // count = the records at walk.strPath that walk.pFilter keeps (all when null), read while the
    // file is parsed (without building a node when there is no filter, as StreamRecords does);
    // records and returns as StreamElements.
    bool GetNbElementsInFile(const char* file, const sLoadOptions& options, const sWalkOptions& walk,
                             unsigned long& count) {
        return GetNbElementsInFileSized(file, detail::LayoutOf(options), detail::LayoutOf(walk), count);
    }
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
        detail::RecordFunctor<Fn> functor(fn, walk.vAttributes.size());
        return StreamRecords(file, options, &functor, walk, detail::RecordFunctor<Fn>::kWantsText, verdict);
    }
    // The same with a TFunctor, called with a null node and userData, and with an empty text
    // unless wantText; and on size bytes of memory (diagnostics name it "toto").
    bool StreamRecords(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                       bool wantText, bool* verdict = nullptr) {
        return StreamRecordsSized(file, detail::LayoutOf(options), functor, detail::LayoutOf(walk), wantText, verdict);
    }
    // Deprecated in 2.0 (the size cannot pass 4 GiB): StreamRecordsFromMemory, same behaviour.
    [[deprecated("use StreamRecordsFromMemory(bytes, options, functor, walk, wantText)")]] bool StreamRecords(
        const void* buffer, unsigned int size, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
        bool wantText, bool* verdict = nullptr) {
        return StreamRecordsSized(buffer, size, detail::LayoutOf(options), functor, detail::LayoutOf(walk), wantText,
                                  verdict);
    }
    // The same two on the bytes of a string, of any size (diagnostics name it "toto"); a name of its
    // own, as LoadFromMemory has, so that a std::string holding a file name is never parsed.
    bool StreamRecordsFromMemory(std::string_view bytes, const sLoadOptions& options, TFunctor* functor,
                                 const sWalkOptions& walk, bool wantText, bool* verdict = nullptr) {
        return StreamRecordsFromMemorySized(bytes, detail::LayoutOf(options), functor, detail::LayoutOf(walk), wantText,
                                            verdict);
    }
    template <class Fn>
    bool StreamRecordsFromMemory(std::string_view bytes, const sLoadOptions& options, const sWalkOptions& walk, Fn&& fn,
                                 bool* verdict = nullptr) {
        static_assert(detail::kRecordCallable<Fn>,
                      "StreamRecords calls fn(const std::string& text, const std::vector<std::string>& attributes) "
                      "or fn(const std::vector<std::string>& attributes), returning a verdict (bool) or nothing");
        detail::RecordFunctor<Fn> functor(fn, walk.vAttributes.size());
        return StreamRecordsFromMemory(bytes, options, &functor, walk, detail::RecordFunctor<Fn>::kWantsText, verdict);
    }

    // --- Checking without a tree ---------------------------------------------------------------
    // Parses the file (or size bytes of memory, named "toto") exactly as Load with these options
    // does, with the same limits, and records the same diagnostics (lines and columns included),
    // but builds no document: a validity or well-formedness check at the parser's pace, in memory
    // that does not grow with the document. The current document is released (none is left).
    // Returns true only when nothing was recorded.
    bool Validate(const char* file, const sLoadOptions& options) {
        return ValidateSized(file, detail::LayoutOf(options));
    }
    // The bytes of a string, of any size; a name of its own, as LoadFromMemory has.
    bool ValidateFromMemory(std::string_view bytes, const sLoadOptions& options) {
        return ValidateFromMemorySized(bytes, detail::LayoutOf(options));
    }
    // Deprecated in 2.0 (the size cannot pass 4 GiB): ValidateFromMemory(bytes, options), same behaviour.
    [[deprecated("use ValidateFromMemory(bytes, options)")]] bool Validate(const void* buffer, unsigned int size,
                                                                           const sLoadOptions& options) {
        return ValidateSized(buffer, size, detail::LayoutOf(options));
    }

    // --- Many documents on several threads -----------------------------------------------------
    // Calls fn(index, xml) once for each index of files, on batch.nThreads threads (the calling
    // one among them) started and joined within the call; xml is that thread's own object, with
    // batch.limits, kept from file to file (its parser, and grammars it parsed, serve again). The
    // order of the calls across threads is not fixed. An exception fn throws stops the handing out
    // of later files and is rethrown to the caller once every thread is joined.
    template <class Fn>
    static void ForEachFile(const std::vector<std::string>& files, const sBatchOptions& batch, Fn&& fn) {
        ForEachFileSized(files, detail::LayoutOf(batch), detail::TaskOf(fn));
    }
    // Checks every file as Validate(file, options) does, on threads as ForEachFile shares them
    // out; named grammars are parsed once for all of them (in options.pGrammarCache, else in a
    // cache made for the call). results = one entry per file, in the order of files. True only
    // when every file is valid. Never throws: a failure is recorded in its file's result (without
    // memory for the results: false, results untouched).
    static bool ValidateFiles(const std::vector<std::string>& files, const sLoadOptions& options,
                              const sBatchOptions& batch, std::vector<sFileResult>& results) {
        return ValidateFilesSized(files, detail::LayoutOf(options), detail::LayoutOf(batch), results);
    }

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
        return detail::ValueOr(node, name, detail::ValueOrFallback(std::move(fallback)), read, true);
    }
    static std::string GetChildValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                       bool* read = nullptr) {
        return detail::ValueOr(node, name, std::string(fallback ? fallback : ""), read, true);
    }
    template <class T>
    static detail::ValueOrResult<T> GetAttributeValueOr(const xercesc::DOMNode* node, const char* name, T fallback,
                                                        bool* read = nullptr) {
        return detail::ValueOr(node, name, detail::ValueOrFallback(std::move(fallback)), read, false);
    }
    static std::string GetAttributeValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                           bool* read = nullptr) {
        return detail::ValueOr(node, name, std::string(fallback ? fallback : ""), read, false);
    }
    // The same read of node's own text (as GetValue gives it: all the text of an element, the
    // value of an attribute): for (DOMElement* tag : GetElements(record, "tags/tag")) GetValueOr(tag, "").
    template <class T>
    static detail::ValueOrResult<T> GetValueOr(const xercesc::DOMNode* node, T fallback, bool* read = nullptr) {
        return detail::ValueOr(node, nullptr, detail::ValueOrFallback(std::move(fallback)), read, true);
    }
    static std::string GetValueOr(const xercesc::DOMNode* node, const char* fallback, bool* read = nullptr) {
        return detail::ValueOr(node, nullptr, std::string(fallback ? fallback : ""), read, true);
    }
    // The same read of node's first direct child element of that name (GetChildValueOr looks at
    // any depth, in document order).
    template <class T>
    static detail::ValueOrResult<T> GetDirectChildValueOr(const xercesc::DOMNode* node, const char* name, T fallback,
                                                          bool* read = nullptr) {
        return detail::ValueOr(detail::DirectChild(node, name), nullptr, detail::ValueOrFallback(std::move(fallback)),
                               read, true);
    }
    static std::string GetDirectChildValueOr(const xercesc::DOMNode* node, const char* name, const char* fallback,
                                             bool* read = nullptr) {
        return detail::ValueOr(detail::DirectChild(node, name), nullptr, std::string(fallback ? fallback : ""), read,
                               true);
    }
    // --- XPath ---------------------------------------------------------------------------
    // One-shot XPath 1.0 evaluations (CXPath.h: compile once there to evaluate many times, with
    // variables, and to record nothing). context is the context node, any node of any document;
    // null means the current document. namespaces binds the prefixes the expression uses to
    // namespace URIs. Each returns true with its output set, or false with the output untouched.
    // Recorded: kind 4 "DOMDOCUMENT undefined" (null context, no document); kind 3 "XPath
    // expression error at column N: ..." (nColumn N) when expr does not compile (a NUL byte in it
    // included); kind 3 "XPath expression could not be evaluated" when a text cannot be converted,
    // or the bound of GetLimits() it reached.
    // nodes = the nodes selected, in document order (see CXPath for text and namespace nodes),
    // replacing what it held; they belong to their document. A value of another type is false with
    // the kind-3 record "XPath expression gives no node-set".
    bool XPathNodes(const xercesc::DOMNode* context, std::string_view expr, std::vector<xercesc::DOMNode*>& nodes);
    bool XPathNodes(const xercesc::DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                    std::vector<xercesc::DOMNode*>& nodes);
    // node = the first node selected in document order. False, node untouched, when none is
    // selected (without a record) or as XPathNodes.
    bool XPathNode(const xercesc::DOMNode* context, std::string_view expr, xercesc::DOMNode*& node);
    bool XPathNode(const xercesc::DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                   xercesc::DOMNode*& node);
    // value = the value converted by string(), number() or boolean().
    bool XPathString(const xercesc::DOMNode* context, std::string_view expr, std::string& value);
    bool XPathString(const xercesc::DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                     std::string& value);
    bool XPathNumber(const xercesc::DOMNode* context, std::string_view expr, double& value);
    bool XPathNumber(const xercesc::DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                     double& value);
    bool XPathBoolean(const xercesc::DOMNode* context, std::string_view expr, bool& value);
    bool XPathBoolean(const xercesc::DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                      bool& value);

    // Deprecated in 2.0, removed in the next major release: the forms of the first releases, same
    // behaviour. The members record as the forms above do, an expr that is null too ("expression
    // undefined"); SelectNodes gives an empty list, SelectNode null, for a value that is no node-set.
    [[deprecated("use XPathNodes(context, expr, nodes)")]] std::vector<xercesc::DOMNode*> SelectNodes(
        const char* expr, const xercesc::DOMNode* context = nullptr,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use XPathNode(context, expr, node)")]] xercesc::DOMNode* SelectNode(
        const char* expr, const xercesc::DOMNode* context = nullptr,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use XPathString(context, expr, value)")]] bool GetXPathString(
        const char* expr, std::string& value, const xercesc::DOMNode* context = nullptr,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use XPathNumber(context, expr, value)")]] bool GetXPathNumber(
        const char* expr, double& value, const xercesc::DOMNode* context = nullptr,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use XPathBoolean(context, expr, value)")]] bool GetXPathBoolean(
        const char* expr, bool& value, const xercesc::DOMNode* context = nullptr,
        const std::map<std::string, std::string>& namespaces = {});
    // The static forms record nothing: empty, null or false (value untouched) on any failure, a
    // null context or expr included. Their replacement is CXPath (SelectNodes, SelectNode,
    // EvaluateString...), which records a failed compile in its own list only.
    [[deprecated("use CXPath(expr, namespaces).SelectNodes(context)")]] static std::vector<xercesc::DOMNode*>
    SelectNodes(const xercesc::DOMNode* context, const char* expr,
                const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use CXPath(expr, namespaces).SelectNode(context)")]] static xercesc::DOMNode* SelectNode(
        const xercesc::DOMNode* context, const char* expr, const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use CXPath(expr, namespaces).EvaluateString(context, value)")]] static bool GetXPathString(
        const xercesc::DOMNode* context, const char* expr, std::string& value,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use CXPath(expr, namespaces).EvaluateNumber(context, value)")]] static bool GetXPathNumber(
        const xercesc::DOMNode* context, const char* expr, double& value,
        const std::map<std::string, std::string>& namespaces = {});
    [[deprecated("use CXPath(expr, namespaces).EvaluateBoolean(context, value)")]] static bool GetXPathBoolean(
        const xercesc::DOMNode* context, const char* expr, bool& value,
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
        return AddChildNodeValue(parent, name, ValueText(detail::Widened(value)).c_str());
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
        return AddNewAttribute(name, ValueText(detail::Widened(value)), element);
    }
    // Changes the value of element's existing attribute name; never adds one. Returns the
    // attribute, or null with "unable to find attribute Node with name specified".
    xercesc::DOMAttr* ModifyAttribute(const std::string& name, const std::string& value, xercesc::DOMElement* element);
    // The same with a number or bool, written as ValueText writes it.
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    xercesc::DOMAttr* ModifyAttribute(const std::string& name, T value, xercesc::DOMElement* element) {
        return ModifyAttribute(name, ValueText(detail::Widened(value)), element);
    }
    // Sets an existing attribute of any element; records nothing. False when node, name or
    // value is null, node is not an element, the attribute is missing, the value cannot be
    // converted, or the DOM refuses.
    static bool SetAttributeValue(const xercesc::DOMNode* node, const char* name, const char* value);
    // Detaches child from parent and returns it (the caller may release it; otherwise it goes
    // with its document). Null with "ParentNode undefined", "oldChild undefined", or kind 3
    // when child is not a child of parent.
    xercesc::DOMNode* RemoveChildNode(xercesc::DOMNode* parent, xercesc::DOMNode* child);

    // --- Sized entry points ------------------------------------------------------------------
    // What the inline forms above call, with each options structure as the caller's compile laid
    // it out (CONTRIBUTING, "ABI policy"); exported and kept from release to release, not for
    // direct use. A structure of a size this library does not know is refused as the form would
    // refuse a missing argument, with the kind-3 record "options structure of a size this library
    // does not know" (statics record nothing; ForEachFile throws std::invalid_argument).
    void SetLimitsSized(detail::Layout<sLimits> limits);
    bool LoadSized(const char* file, detail::Layout<sLoadOptions> options);
    bool LoadSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> options);
    bool ValidateSized(const char* file, detail::Layout<sLoadOptions> options);
    bool ValidateSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> options);
    static bool LoopElementsSized(TFunctor* functor, xercesc::DOMNode* node, detail::Layout<sWalkOptions> walk,
                                  bool wantText);
    bool StreamElementsSized(const char* file, detail::Layout<sLoadOptions> options, TFunctor* functor,
                             detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict);
    bool StreamElementsSized(const char* file, detail::Layout<sLoadOptions> options, TFunctor* functor,
                             const std::string& path, std::string* attributeNames, int attributeCount, void* userData,
                             bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict);
    bool GetNbElementsInFileSized(const char* file, detail::Layout<sLoadOptions> options, const char* name,
                                  unsigned long& count);
    bool GetNbElementsInFileSized(const char* file, detail::Layout<sLoadOptions> options,
                                  detail::Layout<sWalkOptions> walk, unsigned long& count);
    bool StreamRecordsSized(const char* file, detail::Layout<sLoadOptions> options, TFunctor* functor,
                            detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict);
    bool StreamRecordsSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> options,
                            TFunctor* functor, detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict);
    bool LoadFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> options);
    bool ValidateFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> options);
    bool StreamRecordsFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> options, TFunctor* functor,
                                      detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict);
    static void ForEachFileSized(const std::vector<std::string>& files, detail::Layout<sBatchOptions> batch,
                                 detail::FileTask fn);
    static bool ValidateFilesSized(const std::vector<std::string>& files, detail::Layout<sLoadOptions> options,
                                   detail::Layout<sBatchOptions> batch, std::vector<sFileResult>& results);

private:
    // The body of the sized walks that stream (file null reads memory): wantText false gives the
    // functor an empty text (never built); records builds no node where the path allows it.
    KELXML_NO_EXPORT bool StreamWalk(const char* file, std::string_view memory, detail::Layout<sLoadOptions> options,
                                     TFunctor* functor, detail::Layout<sWalkOptions> walk, bool wantText, bool records,
                                     bool* verdict);
    // The caller's options when this library knows their layout; otherwise null, with the object
    // emptied and the refusal recorded as for a refused load.
    template <class T>
    KELXML_NO_EXPORT const T* Known(detail::Layout<T> layout);

    // The object's state besides its three pointers (limits, grammars, created document, run):
    // made at its first use, so a new or moved-from object holds none.
    struct Impl;

    // The private members the class has always had, kept as members but not exported (no caller's code
    // reaches them): the release of what the object holds; the parser (made anew when its
    // grammar pool changes) and a fresh error list readied for a load with these options; the
    // error list made when there is none. The internal units do the work, the loads included.
    KELXML_NO_EXPORT void Free() noexcept;
    KELXML_NO_EXPORT void InitializeParser(const sLoadOptions& options,
                                           std::shared_ptr<const internal::GrammarSet> grammars);
    KELXML_NO_EXPORT void CreateHanderErrorIfNecessary();

    std::unique_ptr<internal::LoadParser> m_pParser;
    std::unique_ptr<HandlerError> m_pErrors;
    xercesc::DOMDocument* m_pDocument = nullptr;
    std::unique_ptr<Impl> m_pImpl;
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
