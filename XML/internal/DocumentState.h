// DocumentState: what a document object holds besides its parser, its error list and its
// document (the created document and its notes, the limits, the grammars, the run of the parser
// library), the view of all of it the internal operations take (Held), and the checks and
// records every member operation shares.
#ifndef KELXML_INTERNAL_DOCUMENTSTATE_H
#define KELXML_INTERNAL_DOCUMENTSTATE_H

#include "XML/Options.h"
#include "XML/internal/ExceptionText.h"

#include <xercesc/util/XercesDefs.hpp>

#include <cstdint>
#include <memory>

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMNode;
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace XML {
class HandlerError;
}

namespace XML::internal {

class GrammarSet;
class LoadParser;
struct SourceNotes;

struct DocumentReleaser {
    void operator()(xercesc::DOMDocument* document) const noexcept;
};

class DocumentState {
public:
    DocumentState();
    virtual ~DocumentState();
    DocumentState(const DocumentState&) = delete;
    DocumentState& operator=(const DocumentState&) = delete;

    // The grammar set these options name, from cache (the cache's own entry point belongs to the
    // document object, which gives it here).
    virtual std::shared_ptr<const GrammarSet> Acquire(CGrammarCache& cache, const sLoadOptions& options) = 0;

    // Set when the current document was made by CreateDoc, which the object then owns.
    std::unique_ptr<xercesc::DOMDocument, DocumentReleaser> createdDocument;
    // What Save keeps of the created document besides its DOM (the order attributes were added in).
    std::unique_ptr<SourceNotes> createdNotes;
    // Limits entity expansion in every parser the object makes; outlives them.
    std::unique_ptr<xercesc::SecurityManager> securityManager;
    sLimits limits;
    // The grammars the parser was made with (it is bound to their pool), and the object's own
    // grammar cache; both outlive the parser.
    std::shared_ptr<const GrammarSet> grammars;
    std::shared_ptr<CGrammarCache> grammarCache;
    // Set during a streaming walk: its callbacks may not replace what the walk parses.
    bool streaming = false;
    // The run of the parser library the parser and documents belong to (0: none held).
    std::uint64_t run = 0;
};

// One object's parts: its three pointers, by reference, and its state, null only when there was
// no memory left to make it (then Running and Ready refuse, recording it).
struct Held {
    std::unique_ptr<LoadParser>& parser;
    std::unique_ptr<HandlerError>& errors;
    xercesc::DOMDocument*& document;
    DocumentState* state;
};

// Makes the error list when the object has none.
void MakeErrors(const Held& held);
// Records one error, making the error list first when the object has none.
void Record(const Held& held, E_TYPE_ERROR eType, const char* message) noexcept;
// True when the object has an error list and nothing is recorded in it.
bool NothingRecorded(const Held& held);
// True when what is there; otherwise records kind 4 with the message missing.
bool Require(const Held& held, const void* what, const char* missing);
// Runs fn, turning any exception into a kind-3 record; true when fn ran to its end.
template <class Fn>
bool Guarded(const Held& held, Fn&& fn) {
    try {
        fn();
        return true;
    } catch (...) {
        Record(held, E_EXCEPTION, CurrentExceptionText().c_str());
    }
    return false;
}

// Whether what the object holds belongs to the running library.
bool Alive(const Held& held);
// True when the library runs for what the object holds; otherwise false with "not started".
bool Running(const Held& held);
// True, with what belongs to an earlier run abandoned, when the library runs; otherwise false
// with a record.
bool Ready(const Held& held);
// Require for the current document, once the library is known to run ("not started" first).
bool RequireDocument(const Held& held);
// Makes document (null: none) the object's current document, forgetting the index of the one
// before it, before that one can be released, and registering the new one for indexing.
void SetDocument(const Held& held, xercesc::DOMDocument* document) noexcept;
// Forgets, without releasing, the parser, the documents and the grammars.
void Abandon(const Held& held) noexcept;
// Releases the parser (with its document), the created document and the error list; what
// belongs to a stopped library is abandoned instead.
void Release(const Held& held) noexcept;

// The end of a refused load or walk: what the object held is released and the one record made.
// Always false.
bool RefuseLoad(const Held& held, E_TYPE_ERROR eType, const char* message) noexcept;

// False, with a record, while LoopElements walks the current document on this thread, or while
// the object streams a document.
bool Replaceable(const Held& held);
// Whether a load or a walk may start from source: Replaceable, and a null source empties the
// object and records missing.
bool AcceptSource(const Held& held, const void* source, const char* missing);
// Records what an edit lacks ("DOMDOCUMENT undefined" first, then "ParentNode undefined");
// true when both the document and the parent are there.
bool CanEdit(const Held& held, const void* parent);
// CanEdit for the node a new element goes beside or below (missing names it when null), which
// must be an element of the current document.
bool CanEditBeside(const Held& held, const xercesc::DOMNode* node, const char* missing);
// What Save and the edits keep of node's document besides its DOM: the loading parser's notes
// for the document it made, the object's own for the one it created; null for any other.
SourceNotes* NotesOf(const Held& held, const xercesc::DOMNode* node);

// Marks document as walked by LoopElements on this thread while it lives: replacing it (Load,
// CreateDoc) would free the nodes under the walk.
class WalkMark {
public:
    explicit WalkMark(const xercesc::DOMDocument* document);
    ~WalkMark();
    WalkMark(const WalkMark&) = delete;
    WalkMark& operator=(const WalkMark&) = delete;
};

}  // namespace XML::internal

#endif
