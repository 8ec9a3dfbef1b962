#include "XML/CKelXML.h"

#include "XML/CXPath.h"

#include "XML/HandlerError.h"
#include "XML/internal/AtomicFile.h"
#include "XML/internal/BlockPool.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/Canonical.h"
#include "XML/internal/DocumentParse.h"
#include "XML/internal/DtdBudget.h"
#include "XML/internal/ExceptionText.h"
#include "XML/internal/GrammarCache.h"
#include "XML/internal/Indentation.h"
#include "XML/internal/LoadParser.h"
#include "XML/internal/Messages.h"
#include "XML/internal/NameText.h"
#include "XML/internal/Namespaces.h"
#include "XML/internal/NumberText.h"
#include "XML/internal/RecordWalk.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/SchemaBudget.h"
#include "XML/internal/Serializer.h"
#include "XML/internal/Transcode.h"
#include "XML/internal/TreeWalk.h"
#include "XML/internal/WorkerPool.h"
#include "XML/internal/XPathBudget.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace xercesc;
using namespace XML::internal;

namespace XML {

namespace {

// Documents whose children LoopElements walks on this thread, innermost last: replacing one
// of them (Load, CreateDoc) would free the nodes under the walk.
thread_local std::vector<const DOMDocument*> t_walked;

class WalkMark {
public:
    explicit WalkMark(const DOMDocument* document) { t_walked.push_back(document); }
    ~WalkMark() { t_walked.pop_back(); }
    WalkMark(const WalkMark&) = delete;
    WalkMark& operator=(const WalkMark&) = delete;
};

}  // namespace

// --- Library start-up ------------------------------------------------------------------

namespace {

// Starts and stops take the lock; every operation reads the state alone, without it: the
// number of the current run of the parser library (what an object made in an earlier run holds
// belongs to a library that is gone) times two, plus one while the library runs.
std::mutex g_startLock;
std::size_t g_starts = 0;  // starts not yet matched by a stop, under g_startLock
std::atomic<std::uint64_t> g_state{2};

constexpr std::uint64_t kRunning = 1;
bool IsRunning(std::uint64_t state) { return (state & kRunning) != 0; }
std::uint64_t RunOf(std::uint64_t state) { return state >> 1; }
// An object's run, m_uRun: 0 when it holds nothing of the parser library.
bool HeldBy(std::uint64_t run, std::uint64_t state) { return IsRunning(state) && (run == 0 || run == RunOf(state)); }

}  // namespace

bool CKelXML::initXmlAPI() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    try {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
    } catch (const XMLException& e) {
        std::fputs(XStr::ToLocal(e.getMessage()).c_str(), stdout);
        return false;
    }
    // Published after the start: a thread that reads it running finds the library started.
    if (g_starts++ == 0) g_state.store(g_state.load(std::memory_order_relaxed) | kRunning, std::memory_order_release);
    return true;
}

void CKelXML::TerminateXmlAPI() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    if (g_starts == 0) return;  // a stop without a start: nothing to stop
    // The next run is published before the library stops: from then on, objects of this run
    // abandon what they hold instead of releasing it into a library being torn down.
    if (--g_starts == 0)
        g_state.store((RunOf(g_state.load(std::memory_order_relaxed)) + 1) << 1, std::memory_order_release);
    XMLPlatformUtils::Terminate();
}

bool CKelXML::IsXmlAPIStarted() { return IsRunning(g_state.load(std::memory_order_acquire)); }

CXmlLibrary::CXmlLibrary() : m_bStarted(CKelXML::initXmlAPI()) {}

CXmlLibrary::~CXmlLibrary() {
    if (m_bStarted) CKelXML::TerminateXmlAPI();
}

bool CKelXML::Alive() const { return HeldBy(m_uRun, g_state.load(std::memory_order_acquire)); }

bool CKelXML::Ready() {
    const std::uint64_t state = g_state.load(std::memory_order_acquire);
    if (!IsRunning(state)) {
        Record(E_EXCEPTION, msg::kNotStarted);
        return false;
    }
    if (!HeldBy(m_uRun, state)) Abandon();
    m_uRun = RunOf(state);
    return true;
}

bool CKelXML::Running() {
    if (Alive()) return true;
    Record(E_EXCEPTION, msg::kNotStarted);
    return false;
}

bool CKelXML::RequireDocument() { return Running() && Require(m_pDocument, msg::kNoDocument); }

void CKelXML::Abandon() noexcept {
    // Their memory belonged to a parser library that has stopped: releasing it would crash.
    m_pDocument = nullptr;
    static_cast<void>(m_pParser.release());
    static_cast<void>(m_pCreatedDocument.release());
    static_cast<void>(m_pSecurityManager.release());
    try {
        static_cast<void>(new std::shared_ptr<const GrammarSet>(std::move(m_pGrammars)));
        static_cast<void>(new std::shared_ptr<CGrammarCache>(std::move(m_pGrammarCache)));
    } catch (const std::bad_alloc&) {
        // Out of memory even for a pointer: what is left is released, as nothing else can be done.
    }
    m_uRun = 0;
}

// --- Object lifecycle ------------------------------------------------------------------

void CKelXML::DocumentReleaser::operator()(DOMDocument* doc) const noexcept {
    if (doc) doc->release();
}

CKelXML::CKelXML() = default;

CKelXML::~CKelXML() { Free(); }

CKelXML::CKelXML(CKelXML&& other) noexcept
    : m_pParser(std::move(other.m_pParser)),
      m_pErrors(std::move(other.m_pErrors)),
      m_pDocument(std::exchange(other.m_pDocument, nullptr)),
      m_pCreatedDocument(std::move(other.m_pCreatedDocument)),
      m_pCreatedNotes(std::move(other.m_pCreatedNotes)),
      m_pSecurityManager(std::move(other.m_pSecurityManager)),
      m_limits(other.m_limits),
      m_pGrammars(std::move(other.m_pGrammars)),
      m_pGrammarCache(std::move(other.m_pGrammarCache)),
      m_uRun(std::exchange(other.m_uRun, 0)) {}

CKelXML& CKelXML::operator=(CKelXML&& other) noexcept {
    if (this != &other) {
        Free();
        m_pParser = std::move(other.m_pParser);
        m_pErrors = std::move(other.m_pErrors);
        m_pDocument = std::exchange(other.m_pDocument, nullptr);
        m_pCreatedDocument = std::move(other.m_pCreatedDocument);
        m_pCreatedNotes = std::move(other.m_pCreatedNotes);
        // The moved parser keeps pointing at this security manager: it moves along.
        m_pSecurityManager = std::move(other.m_pSecurityManager);
        m_limits = other.m_limits;
        m_pGrammars = std::move(other.m_pGrammars);
        m_pGrammarCache = std::move(other.m_pGrammarCache);
        m_uRun = std::exchange(other.m_uRun, 0);
    }
    return *this;
}

void CKelXML::Free() noexcept {
    if (!Alive()) Abandon();
    // The parser goes first: it owns the loaded document and still points at the handler.
    m_pDocument = nullptr;
    m_pParser.reset();
    m_pGrammars.reset();
    m_pCreatedDocument.reset();
    m_pCreatedNotes.reset();
    m_pErrors.reset();
}

void CKelXML::CreateHanderErrorIfNecessary() {
    if (!m_pErrors) m_pErrors = std::make_unique<HandlerError>();
}

void CKelXML::Record(E_TYPE_ERROR eType, const char* message) noexcept {
    try {
        CreateHanderErrorIfNecessary();
        m_pErrors->AddError(eType, message);
    } catch (...) {
        // Out of memory while recording: the operation's false result is all that is left.
    }
}

template <class Fn>
bool CKelXML::Guarded(Fn&& fn) {
    try {
        fn();
        return true;
    } catch (...) {
        Record(E_EXCEPTION, CurrentExceptionText().c_str());
    }
    return false;
}

void CKelXML::InitializeParser(const sLoadOptions& options, std::shared_ptr<const GrammarSet> grammars) {
    m_pDocument = nullptr;
    m_pCreatedDocument.reset();
    m_pCreatedNotes.reset();
    // A parser is bound to the grammar pool it was made with: other grammars need another one.
    if (m_pParser && m_pGrammars != grammars) m_pParser.reset();
    if (m_pParser) {
        // The parser is kept from one load to the next: making one costs more than parsing a
        // small document. Without its documents and with a fresh error list it parses as a new
        // one would (grammars and parse state are reset by every parse).
        m_pParser->resetDocumentPool();
        m_pParser->setErrorHandler(nullptr);
        m_pParser->setXMLEntityResolver(nullptr);
    }
    m_pErrors.reset();
    m_pGrammars = std::move(grammars);
    auto handler = std::make_unique<HandlerError>();
    if (!m_pSecurityManager) m_pSecurityManager = std::make_unique<SecurityManager>();
    m_pSecurityManager->setEntityExpansionLimit(static_cast<XMLSize_t>(m_limits.maxEntityExpansions));
    if (!m_pParser)
        m_pParser = std::make_unique<internal::LoadParser>(m_pGrammars ? m_pGrammars->Pool() : nullptr,
                                                           m_pSecurityManager.get());
    // The handler records the diagnostics and resolves external entities, DTDs and schemas: it
    // opens local files and refuses any network resource.
    m_pParser->Prepare(SettingsFor(options.eMode, !options.vSchemas.empty()), *handler, m_pGrammars.get());
    m_pErrors = std::move(handler);
}

// --- Loading ---------------------------------------------------------------------------

namespace {

sLoadOptions OptionsFor(bool bValidate) {
    sLoadOptions options;
    options.eMode = bValidate ? E_LOAD_VALIDATE : E_LOAD_AUTO;
    return options;
}

bool NamesGrammars(const sLoadOptions& options) { return !options.vSchemas.empty() || !options.strDTDFile.empty(); }

}  // namespace

bool CKelXML::PrepareParser(const sLoadOptions& options) {
    std::shared_ptr<const GrammarSet> grammars;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS) {
        if (!m_pSecurityManager) m_pSecurityManager = std::make_unique<SecurityManager>();
        if (!options.pGrammarCache && !m_pGrammarCache) m_pGrammarCache = std::make_shared<CGrammarCache>();
        CGrammarCache& cache = options.pGrammarCache ? *options.pGrammarCache : *m_pGrammarCache;
        grammars = cache.Acquire(options, m_pSecurityManager.get());
    }
    InitializeParser(options, grammars);
    if (!grammars) return true;
    // Grammars that do not compile would flood every document with "no declaration found": the
    // first fault (a fatal error naming the grammar file, or the refusal of a bound) is the record.
    const auto& diagnostics = grammars->Diagnostics();
    const auto fault = std::find_if(diagnostics.begin(), diagnostics.end(),
                                    [](const sError& diagnostic) { return diagnostic.eType >= E_ERROR; });
    if (fault == diagnostics.end()) {
        for (const sError& diagnostic : diagnostics) m_pErrors->AddError(diagnostic);
        return true;
    }
    sError record = *fault;
    if (record.eType < E_EXCEPTION) record.eType = E_FATAL_ERROR;
    m_pErrors->AddError(record);
    return false;
}

template <class ParseFn, class ReadFn>
bool CKelXML::LoadWith(const sLoadOptions& options, ParseFn&& parse, ReadFn&& read) {
    if (!Ready()) return false;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS && !NamesGrammars(options)) {
        Free();
        Record(E_MISSING, msg::kNoGrammar);
        return false;
    }
    const bool parsed = Guarded([&] {
        if (!PrepareParser(options)) return;
        m_pParser->SetSourceReader(read);
        parse(*m_pParser);
        m_pDocument = m_pParser->getDocument();
        m_pParser->KeepSource(read);
    });
    if (!parsed) {
        // A parse cut short by an exception may leave the parser half reset: the next load
        // makes a new one. The error list, with the record of the exception, stays.
        m_pDocument = nullptr;
        m_pParser.reset();
    }
    return parsed && m_pErrors && !m_pErrors->HasError();
}

bool CKelXML::Replaceable() {
    if (m_bStreaming) {
        Record(E_EXCEPTION, msg::kStreaming);
        return false;
    }
    if (!m_pDocument || std::find(t_walked.begin(), t_walked.end(), m_pDocument) == t_walked.end()) return true;
    Record(E_EXCEPTION, "the document is being walked by LoopElements: it cannot be replaced during the walk");
    return false;
}

bool CKelXML::AcceptSource(const void* source, const char* missing) {
    if (!Replaceable()) return false;
    if (source) return true;
    Free();
    Record(E_MISSING, missing);
    return false;
}

bool CKelXML::Load(const char* file, bool bValidate) { return Load(file, OptionsFor(bValidate)); }

bool CKelXML::Load(const void* buffer, unsigned int size) { return Load(buffer, size, OptionsFor(false)); }

bool CKelXML::Load(const char* file, E_LOAD_MODE eMode) {
    sLoadOptions options;
    options.eMode = eMode;
    return Load(file, options);
}

bool CKelXML::Load(const char* file, std::initializer_list<E_LOAD_MODE> eMode) {
    if (eMode.size() <= 1) return Load(file, eMode.size() == 1 ? *eMode.begin() : E_LOAD_AUTO);
    if (!Replaceable()) return false;
    Free();
    Record(E_EXCEPTION, msg::kOneLoadMode);
    return false;
}

bool CKelXML::Load(const char* file, const sLoadOptions& options) {
    if (!AcceptSource(file, msg::kNoFileName)) return false;
    // Set once the file is open: reads its bytes again from the same descriptor.
    ByteReader read;
    return LoadWith(
        options,
        [this, file, &options, &read](BoundedDOMParser& parser) {
            ParseFile(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, &read,
                      [this, &parser, &read](const InputSource* source) {
                          m_pParser->SetSourceReader(read);
                          parser.parse(*source);
                      });
        },
        read);
}

bool CKelXML::Load(const void* buffer, unsigned int size, const sLoadOptions& options) {
    if (!AcceptSource(buffer, msg::kNoBuffer)) return false;
    return LoadWith(
        options,
        [this, buffer, size, &options](BoundedDOMParser& parser) {
            ParseMemory(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options,
                        std::string_view(static_cast<const char*>(buffer), size),
                        [&parser](const InputSource& source) { parser.parse(source); });
        },
        BytesOf(static_cast<const char*>(buffer), size));
}

// --- Limits ----------------------------------------------------------------------------

sLimits sLimits::Huge() {
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
    return huge;
}

void CKelXML::SetLimits(const sLimits& limits) { m_limits = limits; }

bool CKelXML::LoadFromMemory(std::string_view bytes, bool bValidate) {
    if (!Replaceable()) return false;
    const sLoadOptions options = OptionsFor(bValidate);
    return LoadWith(
        options,
        [this, bytes, &options](BoundedDOMParser& parser) {
            ParseMemory(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, bytes,
                        [&parser](const InputSource& source) { parser.parse(source); });
        },
        BytesOf(bytes.data(), bytes.size()));
}

// --- Creating and saving ---------------------------------------------------------------

bool CKelXML::CreateDoc(const char* rootName) {
    if (!Replaceable() || !Ready()) return false;
    Free();
    CreateHanderErrorIfNecessary();
    if (!Require(rootName, msg::kNoRootName)) return false;
    return Guarded([&] {
               const XStr core("Core");
               DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(core.unicodeForm());
               if (!impl) {
                   Record(E_MISSING, msg::kNoImplementation);
                   return;
               }
               const XStr name = To16(rootName);
               m_pCreatedDocument.reset(
                   impl->createDocument(nullptr, name.unicodeForm(), nullptr, XMLPlatformUtils::fgMemoryManager));
               m_pCreatedNotes = std::make_unique<SourceNotes>();
               m_pDocument = m_pCreatedDocument.get();
           }) &&
           m_pDocument;
}

namespace {

// What Save and the edits keep of node's document besides its DOM: the loading parser's notes for
// the document it made, the object's own for the one it created; null for any other document.
SourceNotes* NotesOf(const DOMNode* node, const DOMDocument* current, internal::LoadParser* parser,
                     SourceNotes* created) {
    const DOMDocument* owner = node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                             : node->getOwnerDocument();
    if (!owner || owner != current) return nullptr;
    return parser && parser->getDocument() == current ? &parser->Notes() : created;
}

}  // namespace

bool CKelXML::Save(const char* file, bool bCanonical) {
    return Save(file, bCanonical ? E_SAVE_CANONICAL : E_SAVE_PRETTY);
}

bool CKelXML::Save(const char* file, const DOMNode* node, bool bCanonical) {
    return Save(file, node, bCanonical ? E_SAVE_CANONICAL : E_SAVE_PRETTY);
}

bool CKelXML::Save(const char* file, E_SAVE_FORM eForm) {
    CreateHanderErrorIfNecessary();
    if (!RequireDocument()) return false;
    return Save(file, m_pDocument, eForm);
}

bool CKelXML::Save(const char* file, const DOMNode* node, E_SAVE_FORM eForm) {
    CreateHanderErrorIfNecessary();
    if (!RequireDocument()) return false;
    if (!Require(file, msg::kNoFileName)) return false;
    if (!Require(node, msg::kNoNode)) return false;
    return WriteFile(file,
                     [&](const ByteSink& write, std::string& why) { return SerializeTo(node, eForm, write, why); });
}

bool CKelXML::GetXML(const DOMNode* node, E_SAVE_FORM eForm, std::string& text) {
    CreateHanderErrorIfNecessary();
    if (!RequireDocument()) return false;
    if (!Require(node, msg::kNoNode)) return false;
    std::string bytes, refusal;
    const auto append = [&bytes](std::string_view block) {
        bytes.append(block);
        return true;
    };
    if (!SerializeTo(node, eForm, append, refusal)) {
        Record(E_EXCEPTION, refusal.c_str());
        return false;
    }
    text = std::move(bytes);
    return true;
}

bool CKelXML::SerializeTo(const DOMNode* node, E_SAVE_FORM eForm, const std::function<bool(std::string_view)>& sink,
                          std::string& refusal) const {
    const Layout layout = eForm == E_SAVE_CANONICAL   ? Layout::Plain
                          : eForm == E_SAVE_AS_LOADED ? Layout::AsLoaded
                                                      : Layout::Indented;
    const SourceNotes* notes = NotesOf(node, m_pDocument, m_pParser.get(), m_pCreatedNotes.get());
    // Nesting deeper than Load accepts is refused, so that what is written loads again.
    try {
        return Serialize(node, layout, BoundedDOMParser::kMaxDepth, notes, sink, refusal);
    } catch (...) {
        refusal = CurrentExceptionText();
    }
    return false;
}

bool CKelXML::WriteFile(const char* file, const FileContent& content) {
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
    Record(E_EXCEPTION,
           refusal.empty() ? ("unable to save '" + std::string(file) + "': " + error).c_str() : refusal.c_str());
    return false;
}

bool CKelXML::GetCanonicalXML(const DOMNode* node, bool withComments, std::string& text) {
    CreateHanderErrorIfNecessary();
    if (!RequireDocument()) return false;
    if (!Require(node, msg::kNoNode)) return false;
    std::string bytes, error;
    bool written = false;
    if (!Guarded([&] { written = internal::AppendCanonicalXML(node, withComments, bytes, error); })) return false;
    if (!written) {
        Record(E_EXCEPTION, (msg::kNoCanonicalXML + error).c_str());
        return false;
    }
    text = std::move(bytes);
    return true;
}

bool CKelXML::SaveCanonicalXML(const char* file, const DOMNode* node, bool withComments) {
    CreateHanderErrorIfNecessary();
    if (!RequireDocument()) return false;
    if (!Require(file, msg::kNoFileName)) return false;
    if (!Require(node, msg::kNoNode)) return false;
    return WriteFile(file, [&](const ByteSink& write, std::string& why) {
        if (internal::WriteCanonicalXML(node, withComments, write, why)) return true;
        if (!why.empty()) why = msg::kNoCanonicalXML + why;
        return false;
    });
}

bool CKelXML::SaveCanonicalXML(const char* file, bool withComments) {
    return SaveCanonicalXML(file, m_pDocument, withComments);
}

namespace {

// Reads the text that read gives for (node, name) and stores convert(text) in value; the
// value is untouched when there is no such text.
template <class T, class Read, class Convert>
bool ReadConverted(Read read, const DOMNode* node, const char* name, T& value, Convert convert) {
    std::string text;
    if (!read(node, name, text)) return false;
    value = convert(text);
    return true;
}

}  // namespace

// --- Node lookup -----------------------------------------------------------------------

DOMNode* CKelXML::GetRootNode(std::string name) {
    if (!RequireDocument()) return nullptr;
    if (!m_pDocument->getFirstChild()) {
        Record(E_MISSING, msg::kEmptyDocument);
        return nullptr;
    }
    // The document type bears the root element's name; the element is what a caller looks for.
    DOMElement* const root = m_pDocument->getDocumentElement();
    if (root && NameIs(root, name.c_str())) return root;
    return FindChild(m_pDocument, name.c_str());
}

DOMNode* CKelXML::GetNode(DOMNode* parent, const char* name) { return FindChild(parent, name); }

DOMNode* CKelXML::GetFirstSubNode(const DOMNode* parent, const char* name) { return FindChild(parent, name); }

DOMNode* CKelXML::GetFirstNode(const DOMNode* start, const char* name) {
    if (!IsElement(start) || !name) return nullptr;
    const DOMNode* found = nullptr;
    ForEachTagBelow(start, name, [&found](const DOMNode* element) {
        found = element;
        return false;
    });
    return const_cast<DOMNode*>(found);
}

// --- Counting --------------------------------------------------------------------------

bool CKelXML::GetNbChildInNode(const DOMNode* node, const char* name, unsigned int& count) {
    count = 0;
    if (!IsElement(node) || !name) return false;
    ForEachTagBelow(node, name, [&count](const DOMNode*) {
        ++count;
        return true;
    });
    return true;
}

bool CKelXML::GetNbChildInNodeWithoutRecursive(const DOMNode* node, const char* name, unsigned int& count) {
    count = 0;
    if (!IsElement(node) || !name) return false;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
        if (IsElement(child) && NameIs(child, name)) ++count;
    }
    return true;
}

// --- Element text ----------------------------------------------------------------------

bool CKelXML::GetValue(const DOMNode* node, std::string& text) { return node && TextOf(node, text); }

bool CKelXML::GetValue(const DOMNode* node, std::wstring& text) {
    if (!node) return false;
    XString scratch;
    text = Widen(Text16(node, scratch));
    return true;
}

bool CKelXML::GetValue(const DOMNode* parent, const std::string& name, std::string* text) {
    if (!text || !parent) return false;
    const DOMNode* child = FindChild(parent, name.c_str());
    if (child && !TextOf(child, *text)) return false;
    return !text->empty();
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, std::string& value) {
    const DOMNode* element = GetFirstNode(node, name);
    return element && TextOf(element, value);
}

namespace {
bool ChildText(const DOMNode* node, const char* name, std::string& text) {
    return CKelXML::GetChildValue(node, name, text);
}
}  // namespace

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, int& value) {
    return ReadConverted(ChildText, node, name, value, LeadingInt);
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, float& value) {
    return ReadConverted(ChildText, node, name, value, LeadingFloat);
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, bool& value) {
    return ReadConverted(ChildText, node, name, value, ElementTextIsTrue);
}

bool CKelXML::GetArrayOfTagValues(const DOMNode* node, const char* name, std::vector<std::string>& values) {
    if (!IsElement(node) || !name) return false;
    bool appended = false;
    bool converted = true;
    XString scratch;
    ForEachTagBelow(node, name, [&](const DOMNode* element) {
        std::string text;
        converted = ToLocal(Text16(element, scratch), text);
        if (!text.empty()) {
            values.push_back(std::move(text));
            appended = true;
        }
        return converted;
    });
    return appended && converted;
}

// --- Checked reads ---------------------------------------------------------------------

namespace {

// Reads the text that read gives for (node, name) into value, whole and in range, or not at all.
template <class T, class Read>
bool ReadChecked(Read read, const DOMNode* node, const char* name, T& value) {
    std::string text;
    return read(node, name, text) && ParseValue(text, value);
}

}  // namespace

bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, int& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, long long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned int& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned long long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, float& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, double& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, bool& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, int& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, long long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned int& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned long long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, float& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, double& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, bool& value) {
    return ReadChecked(AttributeText, node, name, value);
}

// --- Attributes ------------------------------------------------------------------------

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, bool& value) {
    return ReadConverted(AttributeText, node, name, value, AttributeTextIsTrue);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, int& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingInt);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, long& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingLong);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned long& value) {
    // Base 0: 0x1F is hexadecimal and 010 octal, as the C library reads them.
    return ReadConverted(AttributeText, node, name, value,
                         [](const std::string& t) { return std::strtoul(t.c_str(), nullptr, 0); });
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned int& value) {
    unsigned long wide = 0;
    if (!GetAttributeValue(node, name, wide)) return false;
    value = static_cast<unsigned int>(wide);
    return true;
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned short& value) {
    long wide = 0;
    if (!GetAttributeValue(node, name, wide)) return false;
    value = static_cast<unsigned short>(static_cast<unsigned long>(wide) & 0xFFFFu);
    return true;
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, float& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingFloat);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, std::string& value) {
    value.clear();
    return AttributeText(node, name, value);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, std::string* value) {
    if (!value) return false;
    return AttributeText(node, name, *value) || !value->empty();
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, char* buffer, int size) {
    if (!buffer || size <= 0) return false;
    const std::size_t capacity = static_cast<std::size_t>(size);
    std::memset(buffer, 0, capacity);
    std::string text;
    // A value cut to fit would be a different value: refuse it, leaving the buffer zero.
    if (!AttributeText(node, name, text) || text.size() >= capacity) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool CKelXML::GetAttributeValues(const DOMNode* node, const std::string* names, std::string* values, const int& count,
                                 bool stopOnMissingAttribute) {
    if (count > 0 && (!names || !values)) return false;
    for (int i = 0; i < count; ++i) {
        std::string text;
        if (AttributeText(node, names[i].c_str(), text)) {
            values[i] = std::move(text);
        } else if (stopOnMissingAttribute) {
            return false;
        }
    }
    return true;
}

bool CKelXML::HasAttributeSpecificValue(const DOMNode* node, const char* name, const char* expected) {
    std::string text;
    return expected && AttributeText(node, name, text) && text == expected;
}

// --- Iteration -------------------------------------------------------------------------

bool CKelXML::LoopElements(TFunctor* functor, DOMNode* node, std::string path, std::string* attributeNames,
                           int attributeCount, void* userData, bool stopOnTrue, bool stopOnFalse,
                           bool stopOnMissingAttribute) {
    return Loop(functor, node, std::move(path), attributeNames, attributeCount, userData, stopOnTrue, stopOnFalse,
                stopOnMissingAttribute, nullptr);
}

bool CKelXML::LoopElements(TFunctor* functor, DOMNode* node, const sWalkOptions& walk) {
    return LoopWalk(functor, node, walk, true);
}

bool CKelXML::LoopWalk(TFunctor* functor, DOMNode* node, const sWalkOptions& walk, bool wantText) {
    std::vector<std::string> names = walk.vAttributes;
    return Loop(functor, node, Backslashed(walk.strPath), names.data(), static_cast<int>(names.size()), nullptr,
                walk.bStopOnTrue, walk.bStopOnFalse, walk.bStopOnMissingAttribute, walk.pFilter, wantText);
}

bool CKelXML::StreamElements(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                             bool* verdict) {
    return StreamWalk(file, options, functor, walk, true, false, verdict);
}

bool CKelXML::StreamRecords(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                            bool wantText, bool* verdict) {
    return StreamWalk(file, options, functor, walk, wantText, true, verdict);
}

bool CKelXML::StreamRecords(const void* buffer, unsigned int size, const sLoadOptions& options, TFunctor* functor,
                            const sWalkOptions& walk, bool wantText, bool* verdict) {
    if (!AcceptSource(buffer, msg::kNoBuffer)) {
        if (verdict) *verdict = false;
        return false;
    }
    std::vector<std::string> names = walk.vAttributes;
    return StreamFrom(nullptr, std::string_view(static_cast<const char*>(buffer), size), options, functor,
                      Backslashed(walk.strPath), names.data(), static_cast<int>(names.size()), nullptr,
                      walk.bStopOnTrue, walk.bStopOnFalse, walk.bStopOnMissingAttribute, verdict, walk.pFilter,
                      wantText, true);
}

bool CKelXML::StreamWalk(const char* file, const sLoadOptions& options, TFunctor* functor, const sWalkOptions& walk,
                         bool wantText, bool records, bool* verdict) {
    std::vector<std::string> names = walk.vAttributes;
    return StreamFrom(file, std::string_view(), options, functor, Backslashed(walk.strPath), names.data(),
                      static_cast<int>(names.size()), nullptr, walk.bStopOnTrue, walk.bStopOnFalse,
                      walk.bStopOnMissingAttribute, verdict, walk.pFilter, wantText, records);
}

bool CKelXML::GetNbElementsInFile(const char* file, const sLoadOptions& options, const sWalkOptions& walk,
                                  unsigned long& count) {
    count = 0;
    sWalkOptions counted = walk;
    counted.vAttributes.clear();
    counted.bStopOnTrue = counted.bStopOnFalse = counted.bStopOnMissingAttribute = false;
    return StreamRecords(file, options, counted, [&count](const std::vector<std::string>&) {
        ++count;
        return true;
    });
}

bool CKelXML::Loop(TFunctor* functor, DOMNode* node, std::string path, std::string* attributeNames, int attributeCount,
                   void* userData, bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, const CXPath* filter,
                   bool wantText) {
    if (!node) return false;
    const WalkMark mark(node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                      : node->getOwnerDocument());
    return internal::WalkLoaded(node, path,
                                {functor,
                                 attributeNames,
                                 attributeCount,
                                 userData,
                                 {stopOnTrue, stopOnFalse, stopOnMissingAttribute, filter, wantText}});
}

// --- Streaming -------------------------------------------------------------------------

template <class WalkFn>
bool CKelXML::StreamWith(const sLoadOptions& options, WalkFn&& walk) {
    if (!Ready()) return false;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS && !NamesGrammars(options)) {
        Free();
        Record(E_MISSING, msg::kNoGrammar);
        return false;
    }
    std::exception_ptr thrown;
    const bool parsed = Guarded([&] {
        if (!PrepareParser(options)) return;
        m_bStreaming = true;
        const struct Done {
            bool& streaming;
            ~Done() { streaming = false; }
        } done{m_bStreaming};
        walk(*m_pParser, thrown);
    });
    // The parser holds what is left of the walk's document; the next load starts afresh.
    m_pDocument = nullptr;
    if (!parsed || thrown) m_pParser.reset();
    if (thrown) {
        // The callback's exception ends the walk as a record: no member operation throws.
        try {
            std::rethrow_exception(thrown);
        } catch (...) {
            Record(E_EXCEPTION, CurrentExceptionText().c_str());
        }
        return false;
    }
    return parsed && m_pErrors && !m_pErrors->HasError();
}

bool CKelXML::StreamFrom(const char* file, std::string_view memory, const sLoadOptions& options, TFunctor* functor,
                         const std::string& path, std::string* attributeNames, int attributeCount, void* userData,
                         bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict,
                         const CXPath* filter, bool wantText, bool records) {
    if (verdict) *verdict = false;
    if (!Replaceable()) return false;
    const char* const missing = !file && !memory.data()                 ? msg::kNoFileName
                                : !functor                              ? msg::kNoFunctor
                                : attributeCount > 0 && !attributeNames ? msg::kNoAttributeNames
                                                                        : nullptr;
    if (missing) {
        Free();
        Record(E_MISSING, missing);
        return false;
    }
    if (attributeCount > internal::Visitor::kMaxAttributes) {
        Free();
        Record(E_EXCEPTION, msg::kTooManyAttributeNames);
        return false;
    }
    if (filter && !filter->IsCompiled()) {
        // Walking with a filter that never compiled would skip every record: a false zero.
        Free();
        const std::vector<sError>& reasons = filter->GetErrors()->GetAllErrors();
        if (reasons.empty()) Record(E_EXCEPTION, msg::kFilterNotCompiled);
        Guarded([&] {
            CreateHanderErrorIfNecessary();
            for (const sError& reason : reasons) m_pErrors->AddError(reason);
        });
        return false;
    }
    internal::StreamedWalk walk(path,
                                {functor,
                                 attributeNames,
                                 attributeCount,
                                 userData,
                                 {stopOnTrue, stopOnFalse, stopOnMissingAttribute, filter, wantText, !records}},
                                records);
    const bool clean = StreamWith(options, [&](internal::LoadParser& parser, std::exception_ptr& thrown) {
        walk.CatchInto(&thrown);
        ByteReader read = BytesOf(memory.data(), memory.size());
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, memory, &read,
                     [&](const InputSource* source) {
                         parser.SetSourceReader(read);
                         walk.Run(parser, file, source);
                     });
    });
    if (verdict) *verdict = walk.Verdict();
    return clean;
}

bool CKelXML::StreamElements(const char* file, bool bValidate, TFunctor* functor, const std::string& path,
                             std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                             bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict) {
    return StreamElements(file, OptionsFor(bValidate), functor, path, attributeNames, attributeCount, userData,
                          stopOnTrue, stopOnFalse, stopOnMissingAttribute, verdict);
}

bool CKelXML::StreamElements(const char* file, const sLoadOptions& options, TFunctor* functor, const std::string& path,
                             std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                             bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict) {
    return StreamFrom(file, std::string_view(), options, functor, path, attributeNames, attributeCount, userData,
                      stopOnTrue, stopOnFalse, stopOnMissingAttribute, verdict);
}

bool CKelXML::StreamElements(const void* buffer, unsigned int size, TFunctor* functor, const std::string& path,
                             std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                             bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict) {
    if (!AcceptSource(buffer, msg::kNoBuffer)) {
        if (verdict) *verdict = false;
        return false;
    }
    return StreamFrom(nullptr, std::string_view(static_cast<const char*>(buffer), size), OptionsFor(false), functor,
                      path, attributeNames, attributeCount, userData, stopOnTrue, stopOnFalse, stopOnMissingAttribute,
                      verdict);
}

bool CKelXML::GetNbElementsInFile(const char* file, bool bValidate, const char* name, unsigned long& count) {
    return GetNbElementsInFile(file, OptionsFor(bValidate), name, count);
}

bool CKelXML::GetNbElementsInFile(const char* file, const sLoadOptions& options, const char* name,
                                  unsigned long& count) {
    count = 0;
    if (!AcceptSource(file, msg::kNoFileName) || !AcceptSource(name, msg::kNoElementName)) return false;
    return StreamWith(options, [&](internal::LoadParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, std::string_view(),
                     nullptr, [&](const InputSource* source) { count = parser.Count(file, source, name); });
    });
}

bool CKelXML::Validate(const char* file, const sLoadOptions& options) {
    if (!AcceptSource(file, msg::kNoFileName)) return false;
    return StreamWith(options, [&](internal::LoadParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, std::string_view(),
                     nullptr, [&](const InputSource* source) { parser.Check(file, source); });
    });
}

bool CKelXML::Validate(const void* buffer, unsigned int size, const sLoadOptions& options) {
    if (!AcceptSource(buffer, msg::kNoBuffer)) return false;
    const std::string_view bytes(static_cast<const char*>(buffer), size);
    return StreamWith(options, [&](internal::LoadParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, nullptr, bytes, nullptr,
                     [&](const InputSource* source) { parser.Check(nullptr, source); });
    });
}

// --- Many documents on several threads -------------------------------------------------------

void CKelXML::ForEachFile(const std::vector<std::string>& files, const sBatchOptions& batch,
                          const std::function<void(std::size_t index, CKelXML& xml)>& fn) {
    std::vector<std::unique_ptr<CKelXML>> objects(WorkerCount(batch.nThreads, files.size()));
    for (std::unique_ptr<CKelXML>& object : objects) {
        object = std::make_unique<CKelXML>();
        object->SetLimits(batch.limits);
    }
    RunTasks(files.size(), objects.size(), [&](std::size_t index, std::size_t worker) { fn(index, *objects[worker]); });
}

bool CKelXML::ValidateFiles(const std::vector<std::string>& files, const sLoadOptions& options,
                            const sBatchOptions& batch, std::vector<sFileResult>& results) {
    try {
        std::vector<sFileResult> made(files.size());
        sLoadOptions shared = options;
        // Without a cache of the caller's, each thread's object would parse the grammars again.
        if (shared.eMode == E_LOAD_NAMED_GRAMMARS && !shared.pGrammarCache)
            shared.pGrammarCache = std::make_shared<CGrammarCache>();
        ForEachFile(files, batch, [&](std::size_t index, CKelXML& xml) {
            sFileResult& result = made[index];
            try {
                result.bValid = xml.Validate(files[index].c_str(), shared);
                if (const CError* errors = xml.GetErrors()) result.vErrors = errors->GetAllErrors();
            } catch (...) {
                result.bValid = false;
                result.vErrors.emplace_back(E_EXCEPTION, CurrentExceptionText());
            }
        });
        results = std::move(made);
        return std::all_of(results.begin(), results.end(), [](const sFileResult& result) { return result.bValid; });
    } catch (...) {
        return false;  // no thread or no memory for the results: results untouched
    }
}

// --- Walks with a callable, reads with a default ------------------------------------------

std::string CKelXML::Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::vector<DOMElement*> CKelXML::GetElements(DOMNode* node, const std::string& path) {
    std::vector<DOMElement*> elements;
    const auto collect = [&elements](DOMNode* element) {
        if (element->getNodeType() == DOMNode::ELEMENT_NODE) elements.push_back(static_cast<DOMElement*>(element));
        return true;
    };
    LoopElements(node, sWalkOptions{path, {}, false, false, false}, collect);
    return elements;
}

std::vector<std::pair<std::string, std::string>> CKelXML::GetAttributes(const DOMNode* node) {
    std::vector<std::pair<std::string, std::string>> attributes;
    if (!IsElement(node)) return attributes;
    const DOMNamedNodeMap* const map = node->getAttributes();
    for (XMLSize_t i = 0; map && i < map->getLength(); ++i) {
        const DOMNode* const attribute = map->item(i);
        std::string name, value;
        if (internal::ToLocal(attribute->getNodeName(), name) && TextOf(attribute, value))
            attributes.emplace_back(std::move(name), std::move(value));
    }
    return attributes;
}

const DOMNode* CKelXML::DirectChild(const DOMNode* node, const char* name) {
    if (!node || !name) return nullptr;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling())
        if (IsElement(child) && NameIs(child, name)) return child;
    return nullptr;
}

bool CKelXML::ParseText(const std::string& text, int& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, long& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, long long& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, unsigned int& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, unsigned long& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, unsigned long long& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, float& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, double& value) { return ParseValue(text, value); }
bool CKelXML::ParseText(const std::string& text, bool& value) { return ParseValue(text, value); }
// --- XPath -----------------------------------------------------------------------------

const DOMNode* CKelXML::PrepareXPath(const char* expr, const DOMNode* context,
                                     const std::map<std::string, std::string>& namespaces, CXPath& xpath) {
    if (!Running() || (!context && !RequireDocument())) return nullptr;
    if (!Require(expr, msg::kNoExpression)) return nullptr;
    sXPathLimits limits;
    limits.maxSteps = m_limits.maxXPathSteps;
    limits.maxNodes = m_limits.maxXPathNodes;
    limits.maxCharacters = m_limits.maxXPathCharacters;
    limits.maxExpressionLength = m_limits.maxXPathExpressionLength;
    xpath.SetLimits(limits);
    if (xpath.Compile(expr, namespaces)) return context ? context : m_pDocument;
    Guarded([&] {
        CreateHanderErrorIfNecessary();
        for (const sError& record : xpath.GetErrors()->GetAllErrors()) m_pErrors->AddError(record);
    });
    return nullptr;
}

// Every member form: compile, then evaluate with read(xpath, context), recording what fails.
template <class Read>
bool CKelXML::ReadXPath(const char* expr, const DOMNode* context, const std::map<std::string, std::string>& namespaces,
                        Read&& read) {
    bool done = false;
    Guarded([&] {
        CXPath xpath;
        const DOMNode* from = PrepareXPath(expr, context, namespaces, xpath);
        if (!from) return;
        std::string reason;
        done = read(xpath, from, &reason);
        // A bound of the budget is named; other failures keep their one general text.
        if (!done) Record(E_EXCEPTION, xpath::IsBudgetMessage(reason) ? reason.c_str() : msg::kXPathEvaluation);
    });
    return done;
}

std::vector<DOMNode*> CKelXML::SelectNodes(const char* expr, const DOMNode* context,
                                           const std::map<std::string, std::string>& namespaces) {
    std::vector<DOMNode*> nodes;
    ReadXPath(expr, context, namespaces, [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
        sXPathValue value;
        if (!xpath.Evaluate(from, value, {}, reason)) return false;
        nodes = std::move(value.vNodes);
        return true;
    });
    return nodes;
}

DOMNode* CKelXML::SelectNode(const char* expr, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    const std::vector<DOMNode*> nodes = SelectNodes(expr, context, namespaces);
    return nodes.empty() ? nullptr : nodes.front();
}

bool CKelXML::GetXPathString(const char* expr, std::string& value, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(expr, context, namespaces, [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
        return xpath.EvaluateString(from, value, {}, reason);
    });
}

bool CKelXML::GetXPathNumber(const char* expr, double& value, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(expr, context, namespaces, [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
        return xpath.EvaluateNumber(from, value, {}, reason);
    });
}

bool CKelXML::GetXPathBoolean(const char* expr, bool& value, const DOMNode* context,
                              const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(expr, context, namespaces, [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
        return xpath.EvaluateBoolean(from, value, {}, reason);
    });
}

namespace {
// The static forms: any failure, an exception included, is a plain false.
template <class Read>
bool StaticXPath(const DOMNode* context, const char* expr, const std::map<std::string, std::string>& namespaces,
                 Read&& read) noexcept {
    if (!context || !expr) return false;
    try {
        const CXPath xpath(expr, namespaces);
        return xpath.IsCompiled() && read(xpath);
    } catch (...) {
        return false;
    }
}
}  // namespace

std::vector<DOMNode*> CKelXML::SelectNodes(const DOMNode* context, const char* expr,
                                           const std::map<std::string, std::string>& namespaces) {
    std::vector<DOMNode*> nodes;
    StaticXPath(context, expr, namespaces, [&](const CXPath& xpath) {
        nodes = xpath.SelectNodes(context);
        return true;
    });
    return nodes;
}

DOMNode* CKelXML::SelectNode(const DOMNode* context, const char* expr,
                             const std::map<std::string, std::string>& namespaces) {
    DOMNode* node = nullptr;
    StaticXPath(context, expr, namespaces, [&](const CXPath& xpath) {
        node = xpath.SelectNode(context);
        return true;
    });
    return node;
}

bool CKelXML::GetXPathString(const DOMNode* context, const char* expr, std::string& value,
                             const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateString(context, value); });
}

bool CKelXML::GetXPathNumber(const DOMNode* context, const char* expr, double& value,
                             const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateNumber(context, value); });
}

bool CKelXML::GetXPathBoolean(const DOMNode* context, const char* expr, bool& value,
                              const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateBoolean(context, value); });
}

// --- Dictionary ------------------------------------------------------------------------

bool CKelXML::o_GetDictionaryFromNode(const DOMNode* node, std::map<std::string, std::string>& dictionary) {
    if (!node) return false;
    XString scratch;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
        std::string name, text;
        if (!ToLocal(child->getNodeName(), name) || !ToLocal(Text16(child, scratch), text)) return false;
        dictionary[name] = std::move(text);
    }
    return true;
}

// --- Editing ---------------------------------------------------------------------------

bool CKelXML::Require(const void* what, const char* missing) {
    if (!what) Record(E_MISSING, missing);
    return what != nullptr;
}

bool CKelXML::CanEdit(const void* parent) { return RequireDocument() && Require(parent, msg::kNoParent); }

bool CKelXML::CanEditBeside(const DOMNode* node, const char* missing) {
    if (!RequireDocument() || !Require(node, missing)) return false;
    if (node->getNodeType() == DOMNode::ELEMENT_NODE && node->getOwnerDocument() == m_pDocument) return true;
    Record(E_EXCEPTION, msg::kNotOwnElement);
    return false;
}

template <class Make, class Where>
DOMNode* CKelXML::NewNode(Make&& make, Where&& where) {
    DOMNode* node = nullptr;
    const bool ok = Guarded([&] {
        make(node);
        internal::Place(where(), node);
    });
    // A node that was not placed is referenced by no one: give its memory back.
    if (!ok && node && !node->getParentNode()) node->release();
    return ok ? node : nullptr;
}

template <class Where>
DOMElement* CKelXML::NewElement(const char* name, const char* text, Where&& where, const char* uri) {
    if (!Require(name, msg::kNoElementName)) return nullptr;
    internal::Placement placement;
    return static_cast<DOMElement*>(NewNode(
        [&](DOMNode*& node) {
            placement = where();
            DOMElement* element = nullptr;
            {
                const XStr name16 = To16(name);
                if (!uri) {
                    node = element = MakeElement(*m_pDocument, placement.parent, name16.unicodeForm());
                } else {
                    const XStr uri16 = To16(uri);
                    const XMLCh* ns = *uri ? uri16.unicodeForm() : nullptr;
                    node = element = m_pDocument->createElementNS(ns, name16.unicodeForm());
                    const std::u16string declaration = NeededDeclaration(placement.parent,
                                                                         PrefixOf(name16.unicodeForm()), ns ? ns : u"");
                    if (!declaration.empty())
                        element->setAttributeNS(XMLUni::fgXMLNSURIName, declaration.c_str(), ns ? ns : u"");
                }
            }
            if (text) {
                const XStr text16 = To16(text);
                element->setTextContent(text16.unicodeForm());
            }
        },
        [&] { return placement; }));
}

DOMComment* CKelXML::AddNewCommentNode(DOMNode* parent, std::string_view text) {
    if (!CanEdit(parent)) return nullptr;
    if (text.find("--") != std::string_view::npos || (!text.empty() && text.back() == '-')) {
        Record(E_EXCEPTION, msg::kBadComment);
        return nullptr;
    }
    return static_cast<DOMComment*>(NewNode(
        [&](DOMNode*& node) {
            const XStr text16 = To16(std::string(text).c_str());
            node = m_pDocument->createComment(text16.unicodeForm());
        },
        [&] { return internal::AtEnd(parent); }));
}

DOMProcessingInstruction* CKelXML::AddNewPINode(DOMNode* parent, std::string_view target, std::string_view data) {
    if (!CanEdit(parent)) return nullptr;
    const auto reserved = [](std::string_view name) {
        return name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l';
    };
    if (data.find("?>") != std::string_view::npos || target.find("?>") != std::string_view::npos || reserved(target)) {
        Record(E_EXCEPTION, msg::kBadPI);
        return nullptr;
    }
    return static_cast<DOMProcessingInstruction*>(NewNode(
        [&](DOMNode*& node) {
            const XStr target16 = To16(std::string(target).c_str());
            const XStr data16 = To16(std::string(data).c_str());
            node = m_pDocument->createProcessingInstruction(target16.unicodeForm(), data16.unicodeForm());
        },
        [&] { return internal::AtEnd(parent); }));
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, DOMNode* parent) {
    if (!CanEdit(parent)) return nullptr;
    return NewElement(name.c_str(), nullptr, [&] { return internal::AtEnd(parent); });
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, const std::string& text, DOMNode* parent) {
    if (!CanEdit(parent)) return nullptr;
    return NewElement(name.c_str(), text.c_str(), [&] { return internal::AtEnd(parent); });
}

DOMElement* CKelXML::AddNewElementNodeNS(DOMNode* parent, std::string_view namespaceURI, std::string_view name,
                                         std::string_view text) {
    if (!CanEdit(parent)) return nullptr;
    const std::string name8(name), uri8(namespaceURI), text8(text);
    return NewElement(
        name8.c_str(), text.empty() ? nullptr : text8.c_str(), [&] { return internal::AtEnd(parent); }, uri8.c_str());
}

DOMElement* CKelXML::InsertNewElementNodeBefore(DOMNode* sibling, const char* name, const char* text) {
    if (!CanEditBeside(sibling, msg::kNoSibling) || !Require(sibling->getParentNode(), msg::kNoParent)) return nullptr;
    return NewElement(name, text, [&] { return internal::BeforeSibling(sibling); });
}

DOMElement* CKelXML::InsertNewElementNodeAfter(DOMNode* sibling, const char* name, const char* text) {
    if (!CanEditBeside(sibling, msg::kNoSibling) || !Require(sibling->getParentNode(), msg::kNoParent)) return nullptr;
    return NewElement(name, text, [&] { return internal::AfterSibling(sibling); });
}

DOMElement* CKelXML::InsertNewElementNodeAt(DOMNode* parent, std::size_t position, const char* name, const char* text) {
    if (!CanEditBeside(parent, msg::kNoParent)) return nullptr;
    return NewElement(name, text, [&] { return internal::AtPosition(parent, position); });
}

bool CKelXML::AddChildNodeValue(DOMNode* parent, const char* name, const char* text) {
    // The document and the parent are checked first, as by every editing operation.
    if (!CanEdit(parent)) return false;
    if (!Require(name, msg::kNoElementName)) return false;
    if (!Require(text, msg::kNoElementText)) return false;
    bool added = false;
    Guarded([&] { added = AddNewElementNode(std::string(name), std::string(text), parent) != nullptr; });
    return added;
}

bool CKelXML::AddChildNodeValue(DOMNode* parent, const char* name, unsigned int value) {
    return AddChildNodeValue(parent, name, std::to_string(value).c_str());
}

std::string CKelXML::ValueText(long long value) { return FormatValue(value); }
std::string CKelXML::ValueText(unsigned long long value) { return FormatValue(value); }
std::string CKelXML::ValueText(float value) { return FormatValue(value); }
std::string CKelXML::ValueText(double value) { return FormatValue(value); }
std::string CKelXML::ValueText(bool value) { return FormatValue(value); }

DOMAttr* CKelXML::AddNewAttribute(const std::string& name, const std::string& value, DOMElement* element) {
    if (!CanEdit(element)) return nullptr;
    DOMAttr* attribute = nullptr;
    const bool ok = Guarded([&] {
        {
            const XStr name16 = To16(name.c_str());
            attribute = MakeAttribute(*m_pDocument, element, name16.unicodeForm());
        }
        {
            const XStr value16 = To16(value.c_str());
            attribute->setValue(value16.unicodeForm());
        }
        const bool added = !element->getAttributeNode(attribute->getName());
        element->setAttributeNode(attribute);
        // Saved after the attributes the element had, in the order of the calls.
        if (SourceNotes* notes = NotesOf(element, m_pDocument, m_pParser.get(), m_pCreatedNotes.get()); added && notes)
            notes->attributeOrders.Append(element, attribute->getName());
        Rebind(*m_pDocument, *element, *attribute);
    });
    if (!ok && attribute && !attribute->getOwnerElement()) attribute->release();
    return ok ? attribute : nullptr;
}

DOMAttr* CKelXML::AddNewAttributeNS(DOMElement* element, std::string_view namespaceURI, std::string_view name,
                                    std::string_view value) {
    if (!CanEdit(element)) return nullptr;
    const std::string name8(name), uri8(namespaceURI);
    bool declared = true;
    const bool checked = Guarded([&] {
        const XStr name16 = To16(name8.c_str()), uri16 = To16(uri8.c_str());
        const std::u16string prefix = PrefixOf(name16.unicodeForm());
        if (prefix == u"xml" || prefix == u"xmlns") return;
        if (uri8.empty()) {
            if (!prefix.empty()) m_pDocument->createAttributeNS(nullptr, name16.unicodeForm());  // refused
            return;
        }
        if (prefix.empty()) {
            Record(E_EXCEPTION, msg::kAttributeNeedsPrefix);
            declared = false;
            return;
        }
        bool bound = false;
        const XMLCh* current = InScope(element, prefix, bound);
        if (bound && XMLString::equals(current, uri16.unicodeForm())) return;
        // A declaration on element would move what already uses the prefix there to another namespace.
        if (bound || PrefixOf(element->getNodeName()) == prefix) {
            Record(E_EXCEPTION, msg::kPrefixBound);
            declared = false;
            return;
        }
        element->setAttributeNS(XMLUni::fgXMLNSURIName, (u"xmlns:" + prefix).c_str(), uri16.unicodeForm());
    });
    // Its prefix is now bound to namespaceURI at element: the plain form makes it there.
    return checked && declared ? AddNewAttribute(name8, std::string(value), element) : nullptr;
}

DOMAttr* CKelXML::ModifyAttribute(const std::string& name, const std::string& value, DOMElement* element) {
    if (!Running() || !Require(element, msg::kNoParent)) return nullptr;
    DOMAttr* attribute = nullptr;
    const bool ok = Guarded([&] {
        {
            const XStr name16 = To16(name.c_str());
            attribute = element->getAttributeNode(name16.unicodeForm());
        }
        if (!attribute) return;
        const XStr value16 = To16(value.c_str());
        attribute->setValue(value16.unicodeForm());
        // Not set again on element: the DOM would then take it for an attribute of no element
        // (getOwnerElement null, free to be set on another element while still on this one).
        Rebind(*element->getOwnerDocument(), *element, *attribute);
    });
    if (!ok) return nullptr;
    if (!attribute) Record(E_MISSING, msg::kNoAttribute);
    return attribute;
}

bool CKelXML::SetAttributeValue(const DOMNode* node, const char* name, const char* value) {
    if (!node || !name || !value) return false;
    try {
        const DOMNamedNodeMap* attributes = node->getAttributes();
        if (!attributes) return false;
        DOMNode* attribute = attributes->getNamedItem(Name16(name).get());
        if (!attribute) return false;
        const XStr value16 = To16(value);
        attribute->setNodeValue(value16.unicodeForm());
        return true;
    } catch (...) {
        return false;
    }
}

DOMNode* CKelXML::RemoveChildNode(DOMNode* parent, DOMNode* child) {
    if (!Running() || !Require(parent, msg::kNoParent)) return nullptr;
    if (!Require(child, msg::kNoOldChild)) return nullptr;
    DOMNode* removed = nullptr;
    Guarded([&] { removed = parent->removeChild(child); });
    return removed;
}

}  // namespace XML
