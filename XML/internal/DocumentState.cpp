// DocumentState: the checks, records and releases every member operation of a document object
// shares.
#include "XML/internal/DocumentState.h"

#include "XML/HandlerError.h"
#include "XML/internal/GrammarCache.h"
#include "XML/internal/LoadParser.h"
#include "XML/internal/Messages.h"
#include "XML/internal/NodeIndex.h"
#include "XML/internal/Serializer.h"
#include "XML/internal/Startup.h"

#include <xercesc/dom/DOM.hpp>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <algorithm>
#include <new>
#include <vector>

using xercesc::DOMDocument;
using xercesc::DOMNode;

namespace XML::internal {

namespace {

// Documents whose children LoopElements walks on this thread, innermost last.
thread_local std::vector<const DOMDocument*> t_walked;

}  // namespace

void DocumentReleaser::operator()(DOMDocument* document) const noexcept {
    if (document) document->release();
}

DocumentState::DocumentState() = default;

DocumentState::~DocumentState() = default;

WalkMark::WalkMark(const DOMDocument* document) { t_walked.push_back(document); }

WalkMark::~WalkMark() { t_walked.pop_back(); }

void MakeErrors(const Held& held) {
    if (!held.errors) held.errors = std::make_unique<HandlerError>();
}

void Record(const Held& held, E_TYPE_ERROR eType, const char* message) noexcept {
    try {
        MakeErrors(held);
        held.errors->AddError(eType, message);
    } catch (...) {
        // Out of memory while recording: the operation's false result is all that is left.
    }
}

bool NothingRecorded(const Held& held) { return held.errors && !held.errors->HasError(); }

bool Require(const Held& held, const void* what, const char* missing) {
    if (!what) Record(held, E_MISSING, missing);
    return what != nullptr;
}

bool Alive(const Held& held) { return HeldBy(held.state ? held.state->run : 0, LibraryState()); }

bool Running(const Held& held) {
    if (!Alive(held)) {
        Record(held, E_EXCEPTION, msg::kNotStarted);
        return false;
    }
    if (!held.state) Record(held, E_EXCEPTION, msg::kOutOfMemory);
    return held.state != nullptr;
}

bool Ready(const Held& held) {
    const std::uint64_t state = LibraryState();
    if (!IsRunning(state)) {
        Record(held, E_EXCEPTION, msg::kNotStarted);
        return false;
    }
    if (!held.state) {
        Record(held, E_EXCEPTION, msg::kOutOfMemory);
        return false;
    }
    if (!HeldBy(held.state->run, state)) Abandon(held);
    held.state->run = RunOf(state);
    return true;
}

bool RequireDocument(const Held& held) { return Running(held) && Require(held, held.document, msg::kNoDocument); }

void SetDocument(const Held& held, DOMDocument* document) noexcept {
    ForgetDocument(held.document);
    held.document = document;
    RegisterDocument(document);
}

void Abandon(const Held& held) noexcept {
    // Their memory belonged to a parser library that has stopped: releasing it would crash.
    SetDocument(held, nullptr);
    static_cast<void>(held.parser.release());
    DocumentState* const state = held.state;
    if (!state) return;
    static_cast<void>(state->createdDocument.release());
    static_cast<void>(state->securityManager.release());
    try {
        static_cast<void>(new std::shared_ptr<const GrammarSet>(std::move(state->grammars)));
        static_cast<void>(new std::shared_ptr<CGrammarCache>(std::move(state->grammarCache)));
    } catch (const std::bad_alloc&) {
        // Out of memory even for a pointer: what is left is released, as nothing else can be done.
    }
    state->run = 0;
}

void Release(const Held& held) noexcept {
    if (!Alive(held)) Abandon(held);
    // The parser goes first: it owns the loaded document and still points at the handler.
    SetDocument(held, nullptr);
    held.parser.reset();
    if (DocumentState* const state = held.state) {
        state->grammars.reset();
        state->createdDocument.reset();
        state->createdNotes.reset();
    }
    held.errors.reset();
}

bool Replaceable(const Held& held) {
    if (held.state && held.state->streaming) {
        Record(held, E_EXCEPTION, msg::kStreaming);
        return false;
    }
    if (!held.document || std::find(t_walked.begin(), t_walked.end(), held.document) == t_walked.end()) return true;
    Record(held, E_EXCEPTION, msg::kWalkedDocument);
    return false;
}

bool RefuseLoad(const Held& held, E_TYPE_ERROR eType, const char* message) noexcept {
    Release(held);
    Record(held, eType, message);
    return false;
}

bool AcceptSource(const Held& held, const void* source, const char* missing) {
    if (!Replaceable(held)) return false;
    return source || RefuseLoad(held, E_MISSING, missing);
}

bool CanEdit(const Held& held, const void* parent) {
    return RequireDocument(held) && Require(held, parent, msg::kNoParent);
}

bool CanEditBeside(const Held& held, const DOMNode* node, const char* missing) {
    if (!RequireDocument(held) || !Require(held, node, missing)) return false;
    if (node->getNodeType() == DOMNode::ELEMENT_NODE && node->getOwnerDocument() == held.document) return true;
    Record(held, E_EXCEPTION, msg::kNotOwnElement);
    return false;
}

SourceNotes* NotesOf(const Held& held, const DOMNode* node) {
    const DOMDocument* owner = node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                             : node->getOwnerDocument();
    if (!owner || owner != held.document) return nullptr;
    if (held.parser && held.parser->getDocument() == held.document) return &held.parser->Notes();
    return held.state ? held.state->createdNotes.get() : nullptr;
}

}  // namespace XML::internal
