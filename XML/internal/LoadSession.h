// LoadSession: one parse of a document object, from its parser's set-up to what is left after
// it: the loads that keep a document, the checks and counts that keep none, and the shared body
// of every streaming walk.
#ifndef KELXML_INTERNAL_LOADSESSION_H
#define KELXML_INTERNAL_LOADSESSION_H

#include "XML/Options.h"
#include "XML/internal/DocumentState.h"
#include "XML/internal/Messages.h"

#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace XML::internal {

class GrammarSet;
class LoadParser;
struct WalkTarget;

// The options of the bool forms: "always validate", or the automatic scheme.
sLoadOptions OptionsFor(bool bValidate);
// Whether the options name a schema or a DTD.
bool NamesGrammars(const sLoadOptions& options);

// Readies the parser (made anew when its grammar pool changes) and a fresh error list for a
// parse with these options; the created document goes.
void InitializeParser(const Held& held, const sLoadOptions& options, std::shared_ptr<const GrammarSet> grammars);
// Acquires the grammars the options name and makes the parser ready for them; the error list
// then holds the grammars' own warnings. False, with one record, when they do not compile.
bool PrepareParser(const Held& held, const sLoadOptions& options);

// The loads: the file (or bytes, named "toto") parsed into the object's document. True only when
// nothing was recorded. The source is taken as given (the caller checks it).
bool LoadFile(const Held& held, const sLoadOptions& options, const char* file);
bool LoadMemory(const Held& held, const sLoadOptions& options, std::string_view bytes);
// Parses the file (null: the bytes) as a load would, keeping no document.
bool CheckDocument(const Held& held, const sLoadOptions& options, const char* file, std::string_view bytes);
// count = the elements called name below the root element of file, counted while it is parsed.
bool CountElements(const Held& held, const sLoadOptions& options, const char* file, const char* name,
                   unsigned long& count);

// The streamed walk of StreamElements and StreamRecords over the file (null: the bytes): the
// source, the target and its filter checked (false with a record), then every record on path
// handed to target; records: as StreamRecords (no node built where the path allows it).
// verdict = the walk's verdict (false when it did not run).
bool StreamRecords(const Held& held, const char* file, std::string_view memory, const sLoadOptions& options,
                   const std::string& path, const WalkTarget& target, bool records, bool* verdict);

// The shared body of the streaming operations: like a load, but no document is kept, and an
// exception the walk stored in its exception_ptr becomes a kind-3 record once the parse is closed.
// walk(parser, thrown) runs the parse.
template <class WalkFn>
bool StreamWith(const Held& held, const sLoadOptions& options, WalkFn&& walk) {
    if (!Ready(held)) return false;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS && !NamesGrammars(options)) {
        return RefuseLoad(held, E_MISSING, msg::kNoGrammar);
    }
    std::exception_ptr thrown;
    bool& streaming = held.state->streaming;
    const bool parsed = Guarded(held, [&] {
        if (!PrepareParser(held, options)) return;
        streaming = true;
        const struct Done {
            bool& streaming;
            ~Done() { streaming = false; }
        } done{streaming};
        walk(*held.parser, thrown);
    });
    // The parser holds what is left of the walk's document; the next load starts afresh.
    SetDocument(held, nullptr);
    if (!parsed || thrown) held.parser.reset();
    if (thrown) {
        // The callback's exception ends the walk as a record: no member operation throws.
        try {
            std::rethrow_exception(thrown);
        } catch (...) {
            Record(held, E_EXCEPTION, CurrentExceptionText().c_str());
        }
        return false;
    }
    return parsed && NothingRecorded(held);
}

}  // namespace XML::internal

#endif
