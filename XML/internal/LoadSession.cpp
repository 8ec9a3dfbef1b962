// LoadSession: the parser's set-up for one parse, and the loads, checks and counts built on it.
#include "XML/internal/LoadSession.h"

#include "XML/CGrammarCache.h"
#include "XML/HandlerError.h"
#include "XML/internal/DocumentParse.h"
#include "XML/internal/GrammarCache.h"
#include "XML/internal/LoadParser.h"
#include "XML/internal/RecordWalk.h"

#include <xercesc/dom/DOM.hpp>

#include <xercesc/util/SecurityManager.hpp>

#include <algorithm>
#include <utility>

using xercesc::InputSource;

namespace XML::internal {

sLoadOptions OptionsFor(bool bValidate) {
    sLoadOptions options;
    options.eMode = bValidate ? E_LOAD_VALIDATE : E_LOAD_AUTO;
    return options;
}

bool NamesGrammars(const sLoadOptions& options) { return !options.vSchemas.empty() || !options.strDTDFile.empty(); }

void InitializeParser(const Held& held, const sLoadOptions& options, std::shared_ptr<const GrammarSet> grammars) {
    DocumentState& state = *held.state;
    SetDocument(held, nullptr);
    state.createdDocument.reset();
    state.createdNotes.reset();
    std::unique_ptr<LoadParser>& parser = held.parser;
    // A parser is bound to the grammar pool it was made with: other grammars need another one.
    if (parser && state.grammars != grammars) parser.reset();
    if (parser) {
        // The parser is kept from one load to the next: making one costs more than parsing a
        // small document. Without its documents and with a fresh error list it parses as a new
        // one would (grammars and parse state are reset by every parse).
        parser->resetDocumentPool();
        parser->setErrorHandler(nullptr);
        parser->setXMLEntityResolver(nullptr);
    }
    held.errors.reset();
    state.grammars = std::move(grammars);
    auto handler = std::make_unique<HandlerError>();
    if (!state.securityManager) state.securityManager = std::make_unique<xercesc::SecurityManager>();
    state.securityManager->setEntityExpansionLimit(static_cast<XMLSize_t>(state.limits.maxEntityExpansions));
    if (!parser)
        parser = std::make_unique<LoadParser>(state.grammars ? state.grammars->Pool() : nullptr,
                                              state.securityManager.get());
    // The handler records the diagnostics and resolves external entities, DTDs and schemas: it
    // opens local files and refuses any network resource.
    parser->Prepare(SettingsFor(options.eMode, !options.vSchemas.empty()), *handler, state.grammars.get());
    held.errors = std::move(handler);
}

bool PrepareParser(const Held& held, const sLoadOptions& options) {
    DocumentState& state = *held.state;
    std::shared_ptr<const GrammarSet> grammars;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS) {
        if (!state.securityManager) state.securityManager = std::make_unique<xercesc::SecurityManager>();
        if (!options.pGrammarCache && !state.grammarCache) state.grammarCache = std::make_shared<CGrammarCache>();
        grammars = state.Acquire(options.pGrammarCache ? *options.pGrammarCache : *state.grammarCache, options);
    }
    InitializeParser(held, options, grammars);
    if (!grammars) return true;
    // Grammars that do not compile would flood every document with "no declaration found": the
    // first fault (a fatal error naming the grammar file, or the refusal of a bound) is the record.
    const auto& diagnostics = grammars->Diagnostics();
    const auto fault = std::find_if(diagnostics.begin(), diagnostics.end(),
                                    [](const sError& diagnostic) { return diagnostic.eType >= E_ERROR; });
    if (fault == diagnostics.end()) {
        for (const sError& diagnostic : diagnostics) held.errors->AddError(diagnostic);
        return true;
    }
    sError record = *fault;
    if (record.eType < E_EXCEPTION) record.eType = E_FATAL_ERROR;
    held.errors->AddError(record);
    return false;
}

namespace {

// The shared body of every load: grammars, reset parser, fresh list, parse, take the document.
// read gives back bytes of the document parsed (see ByteReader).
template <class ParseFn>
bool LoadWith(const Held& held, const sLoadOptions& options, ParseFn&& parse, const ByteReader& read) {
    if (!Ready(held)) return false;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS && !NamesGrammars(options)) {
        return RefuseLoad(held, E_MISSING, msg::kNoGrammar);
    }
    const bool parsed = Guarded(held, [&] {
        if (!PrepareParser(held, options)) return;
        held.parser->SetSourceReader(read);
        parse(*held.parser);
        SetDocument(held, held.parser->getDocument());
        held.parser->KeepSource(read);
    });
    if (!parsed) {
        // A parse cut short by an exception may leave the parser half reset: the next load
        // makes a new one. The error list, with the record of the exception, stays.
        SetDocument(held, nullptr);
        held.parser.reset();
    }
    return parsed && NothingRecorded(held);
}

}  // namespace

bool LoadFile(const Held& held, const sLoadOptions& options, const char* file) {
    // Set once the file is open: reads its bytes again from the same descriptor.
    ByteReader read;
    return LoadWith(
        held, options,
        [&](LoadParser& parser) {
            ParseFile(parser, *held.errors, held.state->limits, options, file, &read,
                      [&parser, &read](const InputSource* source) {
                          parser.SetSourceReader(read);
                          parser.parse(*source);
                      });
        },
        read);
}

bool LoadMemory(const Held& held, const sLoadOptions& options, std::string_view bytes) {
    return LoadWith(
        held, options,
        [&](LoadParser& parser) {
            ParseMemory(parser, *held.errors, held.state->limits, options, bytes,
                        [&parser](const InputSource& source) { parser.parse(source); });
        },
        BytesOf(bytes.data(), bytes.size()));
}

bool CheckDocument(const Held& held, const sLoadOptions& options, const char* file, std::string_view bytes) {
    return StreamWith(held, options, [&](LoadParser& parser, std::exception_ptr&) {
        StreamWithin(parser, *held.errors, held.state->limits, options, file, bytes, nullptr,
                     [&](const InputSource* source) { parser.Check(file, source); });
    });
}

bool CountElements(const Held& held, const sLoadOptions& options, const char* file, const char* name,
                   unsigned long& count) {
    return StreamWith(held, options, [&](LoadParser& parser, std::exception_ptr&) {
        StreamWithin(parser, *held.errors, held.state->limits, options, file, std::string_view(), nullptr,
                     [&](const InputSource* source) { count = parser.Count(file, source, name); });
    });
}

bool StreamRecords(const Held& held, const char* file, std::string_view memory, const sLoadOptions& options,
                   const std::string& path, const WalkTarget& target, bool records, bool* verdict) {
    if (verdict) *verdict = false;
    if (!Replaceable(held)) return false;
    const char* const missing = !file && !memory.data()                               ? msg::kNoFileName
                                : !target.functor                                     ? msg::kNoFunctor
                                : target.attributeCount > 0 && !target.attributeNames ? msg::kNoAttributeNames
                                                                                      : nullptr;
    if (missing) {
        return RefuseLoad(held, E_MISSING, missing);
    }
    if (target.attributeCount > Visitor::kMaxAttributes) {
        return RefuseLoad(held, E_EXCEPTION, msg::kTooManyAttributeNames);
    }
    if (const CXPath* filter = target.flags.filter; filter && !filter->IsCompiled()) {
        // Walking with a filter that never compiled would skip every record: a false zero.
        Release(held);
        const std::vector<sError>& reasons = filter->GetErrors()->GetAllErrors();
        if (reasons.empty()) Record(held, E_EXCEPTION, msg::kFilterNotCompiled);
        Guarded(held, [&] {
            MakeErrors(held);
            for (const sError& reason : reasons) held.errors->AddError(reason);
        });
        return false;
    }
    StreamedWalk walk(path, target, records);
    const bool clean = StreamWith(held, options, [&](LoadParser& parser, std::exception_ptr& thrown) {
        walk.CatchInto(&thrown);
        ByteReader read = BytesOf(memory.data(), memory.size());
        StreamWithin(parser, *held.errors, held.state->limits, options, file, memory, &read,
                     [&](const InputSource* source) {
                         parser.SetSourceReader(read);
                         walk.Run(parser, file, source);
                     });
    });
    if (verdict) *verdict = walk.Verdict();
    return clean;
}

}  // namespace XML::internal
