#include "XML/internal/LoadParser.h"

#include "XML/HandlerError.h"
#include "XML/internal/GrammarCache.h"
#include "XML/internal/RecordWalk.h"
#include "XML/internal/TagBudget.h"

#include <optional>
#include <utility>

using namespace xercesc;

namespace XML::internal {

LoadParser::LoadParser(XMLGrammarPool* pool, SecurityManager* security)
    : BoundedDOMParser(nullptr, &m_pool, pool), m_rules(*this), m_keeper(*this) {
    // The rules come first: a declaration the mode refuses is recorded before a bound refuses it.
    Observe(m_rules, true);
    Observe(m_keeper);
    setDoNamespaces(true);
    // Bounds entity expansion ("billion laughs"); the parser only borrows it.
    setSecurityManager(security);
    // Xerces refuses a cached DTD for a document with an internal subset: such a document
    // reads the named DTD from its file instead.
    setIgnoreCachedDTD(true);
    // A schema may import one namespace from several files, as the named grammars may.
    setHandleMultipleImports(true);
}

void LoadParser::Prepare(const ParserSettings& settings, HandlerError& handler, const GrammarSet* grammars) {
    m_rules.Prepare(settings, handler, grammars);
    SetCachedGrammarCost(grammars ? grammars->DearestEnumeration() : 0);
    setValidationScheme(settings.scheme);
    setDoSchema(settings.doSchema);
    setValidationSchemaFullChecking(settings.fullChecking);
    setLoadExternalDTD(settings.loadExternalDTD);
    setLoadSchema(settings.loadSchema);
    useCachedGrammarInParse(settings.useCachedGrammar);
    setErrorHandler(&handler);
    setXMLEntityResolver(&m_rules);
    SetSourceReader(nullptr);  // a reader set for a parse that never started reads nothing now
}

template <class Run>
void LoadParser::Streamed(ParserObserver* observer, bool tree, bool offsets, Run&& run) {
    m_keeper.Keep(false);  // records handed out are never saved with the notes
    BuildTree(tree);
    setCalculateSrcOfs(offsets);
    std::optional<Observing> observing;
    if (observer) observing.emplace(*this, *observer);
    Refresh();
    struct Done {
        LoadParser& parser;
        ~Done() {
            parser.setCalculateSrcOfs(true);
            parser.m_keeper.Keep(true);
            parser.BuildTree(true);
            parser.Refresh();
        }
    } done{*this};
    run();
}

void LoadParser::Walk(const char* file, const InputSource* source, const std::vector<std::string>& path,
                      Visitor& visitor) {
    TreeRecordWalk walk(*this, path, visitor);
    Streamed(&walk, true, true, [&] { walk.Run(file, source); });
}

void LoadParser::WalkRecords(const char* file, const InputSource* source, const std::vector<std::string>& path,
                             Visitor& visitor) {
    EventRecordWalk walk(*this, m_keeper, path, visitor);
    // Values of token list types are read back from the source (see KeptValues): only a DTD declares them.
    const bool offsets = visitor.AttributeCount() > 0 && (NamesDTD() || m_keeper.NextMayDeclareTypes());
    Streamed(&walk, false, offsets, [&] { walk.Run(file, source); });
}

unsigned long LoadParser::Count(const char* file, const InputSource* source, const char* name) {
    ElementCount count(name);
    // Nothing happens between two parse steps: one whole parse, as Check.
    Streamed(&count, false, false, [&] { parse(*TagBoundSource(file, source, GetLimits())); });
    return count.Counted();
}

void LoadParser::Check(const char* file, const InputSource* source) {
    Streamed(nullptr, false, false, [&] { parse(*TagBoundSource(file, source, GetLimits())); });
}

}  // namespace XML::internal
