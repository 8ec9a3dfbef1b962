// CKelXML: the document object. Loads, creates, reads, edits and saves one XML document
// on top of the Xerces-C++ DOM, and records every problem in one error list.
#ifndef KELXML_CKELXML_H
#define KELXML_CKELXML_H

#include <XML/CError.h>
#include <XML/KelXMLExport.h>
#include <XML/TFunctor.h>
#include <XML/XStr.h>

#include <xercesc/dom/DOM.hpp>

#include <memory>
#include <string>
#include <type_traits>

XERCES_CPP_NAMESPACE_BEGIN
class XercesDOMParser;
XERCES_CPP_NAMESPACE_END

namespace XML {

// Ownership, in short:
// - The object owns its parser, its error list and its current document, whether that
//   document was loaded or made by CreateDoc. A new Load or CreateDoc, and the destructor,
//   release all three: node pointers and the CError* from GetErrors become invalid then.
// - Nodes returned by any operation belong to their document; never release them
//   (except a node detached by RemoveChildNode, which the caller may release).
// - Strings handed out are always copies.
// - Member operations never throw; they report through their result and the error list.
class KELXML_EXPORT CKelXML {
public:
    // Starts the parser library; call once before any other use. Returns false, and writes
    // the parser library's message to standard output, when it fails to start.
    static bool initXmlAPI();
    // Stops the parser library; call once after the last document object and node are gone.
    static void TerminateXmlAPI();

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
    // Parses the named file with a fresh parser and a fresh error list; the previous
    // document goes. bValidate selects "always validate"; otherwise a document that declares
    // a grammar is still validated. Returns true only when nothing at all was recorded:
    // warnings alone make it false (the document is then loaded all the same).
    bool Load(const char* file, bool bValidate);
    // Parses size bytes of memory the same way (automatic validation); diagnostics name the
    // document "toto". The bytes are only read during the call.
    bool Load(const void* buffer, unsigned int size);
    // Load(charPointer, size_t) would silently take the bytes for a file name: cast the
    // buffer to const void* (and the size to unsigned int) to load from memory.
    template <class Size,
              std::enable_if_t<std::is_integral_v<Size> && (sizeof(Size) > sizeof(int)), int> = 0>
    bool Load(const char* buffer, Size size) = delete;

    // --- Creating and saving -----------------------------------------------------------
    // Replaces the current document by a new one holding only an empty root element of that
    // name, with a fresh error list. False, with a record, when the name is refused.
    bool CreateDoc(const char* rootName);
    // Writes node (the document or any node of it) to file, pretty-printed, or canonical
    // when bCanonical. A regular file is replaced atomically: on failure the old file is
    // intact. False, with a record, on any failure.
    bool Save(const char* file, const xercesc::DOMNode* node, bool bCanonical);
    // Writes the whole current document; "DOMDOCUMENT undefined" when there is none.
    bool Save(const char* file, bool bCanonical);

private:
    struct DocumentReleaser {
        void operator()(xercesc::DOMDocument* doc) const noexcept;
    };

    void Free() noexcept;
    void InitializeParser(bool bValidate);
    void CreateHanderErrorIfNecessary();
    // Records one error, making the error list first when the object has none.
    void Record(E_TYPE_ERROR eType, const char* message) noexcept;
    // Runs fn, turning any exception into a kind-3 record; true when fn ran to its end.
    template <class Fn>
    bool Guarded(Fn&& fn);
    // The shared body of both Load forms: fresh parser and list, parse, take the document.
    template <class ParseFn>
    bool LoadWith(bool bValidate, ParseFn&& parse);

    std::unique_ptr<xercesc::XercesDOMParser> m_pParser;
    std::unique_ptr<CError> m_pErrors;
    xercesc::DOMDocument* m_pDocument = nullptr;
    // Set when the current document was made by CreateDoc, which this object then owns.
    std::unique_ptr<xercesc::DOMDocument, DocumentReleaser> m_pCreatedDocument;
};

} // namespace XML

#endif
