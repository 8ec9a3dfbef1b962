// LoadParser: the parser of a CKelXML object, kept from one load to the next: the one DOM parser
// with the observers of a load (the mode's rules, the notes Save needs, and the bounds it always
// has), set up for each load mode, and the streamed operations (walks, count, check), which add
// their own observer for the time of the parse. Internal to the library.
#ifndef KELXML_INTERNAL_LOADPARSER_H
#define KELXML_INTERNAL_LOADPARSER_H

#include "XML/Options.h"
#include "XML/internal/BlockPool.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/LoadRules.h"
#include "XML/internal/SourceKeeper.h"

#include <string>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

class Visitor;

// Bound to a grammar pool (null: none) for its whole life. Its memory comes from a pool of its own
// (PooledBase, built first and destroyed last), which keeps freed DOM blocks for the next load.
class LoadParser final : private PooledBase, public BoundedDOMParser {
public:
    LoadParser(xercesc::XMLGrammarPool* pool, xercesc::SecurityManager* security);

    // Sets the parser up for its next parse: the mode's settings, the handler that records its
    // diagnostics and resolves external resources (refusing the network), and the grammars of a
    // named-grammar load (null otherwise). handler and grammars must outlive the parse.
    void Prepare(const ParserSettings& settings, HandlerError& handler, const GrammarSet* grammars);
    // Whether the grammars of the next parse include a named DTD.
    bool NamesDTD() const { return m_rules.NamesDTD(); }

    // See SourceKeeper: how the next parse may read its document's bytes; what a load kept.
    void SetSourceReader(ByteReader read) { m_keeper.SetSourceReader(std::move(read)); }
    void KeepSource(const ByteReader& read) noexcept { m_keeper.KeepSource(read); }
    const SourceNotes& Notes() const { return m_keeper.Notes(); }
    SourceNotes& Notes() { return m_keeper.Notes(); }

    // Walks path (components, the first the root element's name) as LoopElements walks the loaded
    // document from the root element, a one-name path visiting the root element itself; a path
    // whose first name is not the root element's is read below the root element. The
    // parse reads file, or source when it is not null, and stops at once when the walk ends;
    // otherwise it goes to the end of the document, so that every diagnostic is reported, or to
    // its first fatal error. The visitor keeps the verdict. Parser exceptions pass.
    void Walk(const char* file, const xercesc::InputSource* source, const std::vector<std::string>& path,
              Visitor& visitor);
    // The walk of Walk from the parser's events, building no node: each element (or entity
    // reference, or processing instruction) at the end of path is handed to the visitor's
    // VisitRecord with its text (all character data below it) and attributes, between two parse
    // steps, in the order and at the moment Walk would visit it. No component may name a node
    // kind ("#text"...): elements, entity references and processing instructions only.
    void WalkRecords(const char* file, const xercesc::InputSource* source, const std::vector<std::string>& path,
                     Visitor& visitor);
    // The number of elements named name (the DOM's tag-name rule, "*": all) below the root
    // element, from the parser's events: no node is built (the bounds, checks and diagnostics of
    // a load all hold), so memory stays flat whatever the file's size.
    unsigned long Count(const char* file, const xercesc::InputSource* source, const char* name);
    // Parses the whole document with every bound, check and diagnostic of a load, building no node.
    void Check(const char* file, const xercesc::InputSource* source);

private:
    // Runs run (a parse) with observer added, the notes kept for Save left out, and, without a
    // tree, no node built; offsets: whether the readers count source offsets (a cost on every
    // character) for values read back.
    template <class Run>
    void Streamed(ParserObserver* observer, bool tree, bool offsets, Run&& run);

    LoadRules m_rules;
    SourceKeeper m_keeper;
};

}  // namespace XML::internal

#endif
