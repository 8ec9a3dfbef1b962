// DocumentOutput: Save, GetXML and the canonical forms of a document object.
#include "XML/internal/DocumentOutput.h"

#include "XML/internal/AtomicFile.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/Canonical.h"
#include "XML/internal/ExceptionText.h"
#include "XML/internal/Messages.h"
#include "XML/internal/Serializer.h"

#include <xercesc/dom/DOM.hpp>

#include <string_view>
#include <utility>

using xercesc::DOMNode;

namespace XML::internal {

namespace {

// Writes node in eForm to sink block by block. False with the refusal (an exception's text
// included), or with refusal empty when the sink failed.
bool SerializeTo(const Held& held, const DOMNode* node, E_SAVE_FORM eForm, const ByteSink& sink, std::string& refusal) {
    const Layout layout = eForm == E_SAVE_CANONICAL   ? Layout::Plain
                          : eForm == E_SAVE_AS_LOADED ? Layout::AsLoaded
                                                      : Layout::Indented;
    // Nesting deeper than Load accepts is refused, so that what is written loads again.
    try {
        return Serialize(node, layout, BoundedDOMParser::kMaxDepth, NotesOf(held, node), sink, refusal);
    } catch (...) {
        refusal = CurrentExceptionText();
    }
    return false;
}

// Writes to file atomically what content hands its sink block by block (content: false with the
// refusal, or with it empty when the sink failed). False with a record: the refusal, or one
// naming the file.
bool WriteFile(const Held& held, const char* file, const FileContent& content) {
    // Written into the temporary file as it is made: the target is only replaced once the whole
    // text exists, and a refusal part-way leaves it untouched.
    std::string refusal, error;
    const bool written = WriteFileAtomically(
        file,
        [&](const ByteSink& write, std::string& why) {
            bool made = false;
            try {
                made = content(write, why);
            } catch (...) {
                why = CurrentExceptionText();
            }
            if (!made) refusal = why;  // empty: the write failed
            return made;
        },
        error);
    if (written) return true;
    Record(held, E_EXCEPTION,
           refusal.empty() ? (msg::kUnableToSave + std::string(file) + msg::kUnableToSaveEnd + error).c_str()
                           : refusal.c_str());
    return false;
}

// The checks every output makes: the document (the library running first), then file when the
// output goes to one, then the node.
bool CanWrite(const Held& held, const char* file, bool toFile, const DOMNode* node) {
    MakeErrors(held);
    return RequireDocument(held) && (!toFile || Require(held, file, msg::kNoFileName)) &&
           Require(held, node, msg::kNoNode);
}

}  // namespace

bool SaveNode(const Held& held, const char* file, const DOMNode* node, E_SAVE_FORM eForm) {
    if (!CanWrite(held, file, true, node)) return false;
    return WriteFile(held, file, [&](const ByteSink& write, std::string& why) {
        return SerializeTo(held, node, eForm, write, why);
    });
}

bool NodeText(const Held& held, const DOMNode* node, E_SAVE_FORM eForm, std::string& text) {
    if (!CanWrite(held, nullptr, false, node)) return false;
    std::string bytes, refusal;
    const auto append = [&bytes](std::string_view block) {
        bytes.append(block);
        return true;
    };
    if (!SerializeTo(held, node, eForm, append, refusal)) {
        Record(held, E_EXCEPTION, refusal.c_str());
        return false;
    }
    text = std::move(bytes);
    return true;
}

bool CanonicalText(const Held& held, const DOMNode* node, bool withComments, std::string& text) {
    if (!CanWrite(held, nullptr, false, node)) return false;
    std::string bytes, error;
    bool written = false;
    if (!Guarded(held, [&] { written = AppendCanonicalXML(node, withComments, bytes, error); })) return false;
    if (!written) {
        Record(held, E_EXCEPTION, (msg::kNoCanonicalXML + error).c_str());
        return false;
    }
    text = std::move(bytes);
    return true;
}

bool SaveCanonical(const Held& held, const char* file, const DOMNode* node, bool withComments) {
    if (!CanWrite(held, file, true, node)) return false;
    return WriteFile(held, file, [&](const ByteSink& write, std::string& why) {
        if (WriteCanonicalXML(node, withComments, write, why)) return true;
        if (!why.empty()) why = msg::kNoCanonicalXML + why;
        return false;
    });
}

}  // namespace XML::internal
