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
#include "XML/internal/NumberText.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/SchemaBudget.h"
#include "XML/internal/Serializer.h"
#include "XML/internal/SourceKeepingParser.h"
#include "XML/internal/StreamingParser.h"
#include "XML/internal/Transcode.h"
#include "XML/internal/TreeWalk.h"

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

// Starts not yet matched by a stop, and the number of the current run of the parser library:
// what an object made in an earlier run holds belongs to a library that is gone.
std::mutex g_startLock;
std::size_t g_starts = 0;
std::atomic<std::uint64_t> g_run{1};

}  // namespace

bool CKelXML::initXmlAPI() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    try {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
    } catch (const XMLException& e) {
        std::fputs(XStr::ToLocal(e.getMessage()).c_str(), stdout);
        return false;
    }
    ++g_starts;
    return true;
}

void CKelXML::TerminateXmlAPI() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    if (g_starts == 0) return;  // a stop without a start: nothing to stop
    XMLPlatformUtils::Terminate();
    if (--g_starts == 0) ++g_run;
}

bool CKelXML::IsXmlAPIStarted() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    return g_starts > 0;
}

CXmlLibrary::CXmlLibrary() : m_bStarted(CKelXML::initXmlAPI()) {}

CXmlLibrary::~CXmlLibrary() {
    if (m_bStarted) CKelXML::TerminateXmlAPI();
}

bool CKelXML::Alive() const { return IsXmlAPIStarted() && (m_uRun == 0 || m_uRun == g_run.load()); }

bool CKelXML::Ready() {
    if (!IsXmlAPIStarted()) {
        Record(E_EXCEPTION, msg::kNotStarted);
        return false;
    }
    if (!Alive()) Abandon();
    m_uRun = g_run.load();
    return true;
}

bool CKelXML::RequireDocument() {
    if (!Alive()) {
        Record(E_EXCEPTION, msg::kNotStarted);
        return false;
    }
    return Require(m_pDocument, msg::kNoDocument);
}

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
        m_pParser = std::make_unique<internal::StreamingParser>(m_pGrammars ? m_pGrammars->Pool() : nullptr,
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

void CKelXML::PrepareParser(const sLoadOptions& options) {
    std::shared_ptr<const GrammarSet> grammars;
    if (options.eMode == E_LOAD_NAMED_GRAMMARS) {
        if (!m_pSecurityManager) m_pSecurityManager = std::make_unique<SecurityManager>();
        if (!options.pGrammarCache && !m_pGrammarCache) m_pGrammarCache = std::make_shared<CGrammarCache>();
        CGrammarCache& cache = options.pGrammarCache ? *options.pGrammarCache : *m_pGrammarCache;
        grammars = cache.Acquire(options, m_pSecurityManager.get());
    }
    InitializeParser(options, grammars);
    if (grammars)
        for (const sError& diagnostic : grammars->Diagnostics()) m_pErrors->AddError(diagnostic);
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
        PrepareParser(options);
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

bool CKelXML::Load(const char* file, const sLoadOptions& options) {
    if (!AcceptSource(file, msg::kNoFileName)) return false;
    return LoadWith(
        options,
        [this, file, &options](BoundedDOMParser& parser) {
            ParseFile(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file,
                      [&parser, file](const InputSource* source) {
                          if (source)
                              parser.parse(*source);
                          else
                              parser.parse(file);
                      });
        },
        FileBytes(file));
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
               m_pDocument = m_pCreatedDocument.get();
           }) &&
           m_pDocument;
}

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
    const Layout layout = eForm == E_SAVE_CANONICAL   ? Layout::Plain
                          : eForm == E_SAVE_AS_LOADED ? Layout::AsLoaded
                                                      : Layout::Indented;
    // What the parser kept of the document it made, when node is part of that document.
    const DOMDocument* owner = node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                             : node->getOwnerDocument();
    const SourceNotes* notes = m_pParser && owner == m_pDocument && m_pParser->getDocument() == m_pDocument
                                   ? &m_pParser->Notes()
                                   : nullptr;
    // Serialise into memory first: the file is only touched once the whole text exists. Nesting
    // deeper than Load accepts is refused, so that what Save writes loads again.
    std::string bytes, error;
    bool serialised = false;
    if (!Guarded([&] { serialised = Serialize(node, layout, BoundedDOMParser::kMaxDepth, notes, bytes, error); }))
        return false;
    if (!serialised) {
        Record(E_EXCEPTION, error.c_str());
        return false;
    }
    return WriteFile(file, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool CKelXML::WriteFile(const char* file, const unsigned char* data, std::size_t size) {
    std::string error;
    if (!WriteFileAtomically(file, data, size, error)) {
        Record(E_EXCEPTION, ("unable to save '" + std::string(file) + "': " + error).c_str());
        return false;
    }
    return true;
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
    std::string bytes;
    if (!GetCanonicalXML(node, withComments, bytes)) return false;
    return WriteFile(file, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
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
    if (!functor || !node) return false;
    if (attributeCount < 0) attributeCount = 0;
    if (attributeCount > 0 && !attributeNames) return false;
    if (attributeCount > internal::Visitor::kMaxAttributes) return false;

    // Every component before the last leads to the first child of that name.
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1) {
        path[slash] = '\0';
        node = FindChild(node, path.c_str() + start);
        if (!node) return false;
    }
    internal::Visitor visitor(functor, path.substr(start), attributeNames, attributeCount, userData,
                              {stopOnTrue, stopOnFalse, stopOnMissingAttribute, filter, wantText});
    const WalkMark mark(node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                      : node->getOwnerDocument());
    for (DOMNode* child = node->getFirstChild(); child;) {
        if (!NameIs(child, visitor.TagName().c_str())) {
            child = child->getNextSibling();
            continue;
        }
        DOMNode* const next = child->getNextSibling();
        if (!visitor.Visit(child)) break;
        // Read only now: the callback may have inserted nodes right after this one. When it
        // removed this one, the walk goes on from the node that followed it, if still there.
        if (child->getParentNode() == node)
            child = child->getNextSibling();
        else if (!next || next->getParentNode() == node)
            child = next;
        else
            return false;  // both gone: where the walk stood is lost
    }
    return visitor.Verdict();
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
        PrepareParser(options);
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
    if (thrown) std::rethrow_exception(thrown);
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
    std::vector<std::string> components;
    for (std::size_t start = 0;;) {
        const std::size_t slash = path.find('\\', start);
        components.push_back(path.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    // Without a node, the records are read from the parser's events, unless the path names a node
    // kind or a filter needs the node.
    const bool fromEvents = records && !filter && std::none_of(components.begin(), components.end(), [](const auto& c) {
                                return !c.empty() && c[0] == '#';
                            });
    internal::Visitor visitor(functor, components.back(), attributeNames, attributeCount, userData,
                              {stopOnTrue, stopOnFalse, stopOnMissingAttribute, filter, wantText, !records});
    const bool clean = StreamWith(options, [&](internal::StreamingParser& parser, std::exception_ptr& thrown) {
        visitor.CatchInto(&thrown);
        parser.SetSourceReader(file ? SourceKeepingParser::ByteReader(FileBytes(file))
                                    : SourceKeepingParser::ByteReader(BytesOf(memory.data(), memory.size())));
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, memory,
                     [&](const InputSource* source) {
                         if (fromEvents)
                             parser.WalkRecords(file, source, components, visitor);
                         else
                             parser.Walk(file, source, components, visitor);
                     });
    });
    if (verdict) *verdict = visitor.Verdict();
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
    return StreamWith(options, [&](internal::StreamingParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, std::string_view(),
                     [&](const InputSource* source) { count = parser.Count(file, source, name); });
    });
}

bool CKelXML::Validate(const char* file, const sLoadOptions& options) {
    if (!AcceptSource(file, msg::kNoFileName)) return false;
    return StreamWith(options, [&](internal::StreamingParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, file, std::string_view(),
                     [&](const InputSource* source) { parser.Check(file, source); });
    });
}

bool CKelXML::Validate(const void* buffer, unsigned int size, const sLoadOptions& options) {
    if (!AcceptSource(buffer, msg::kNoBuffer)) return false;
    const std::string_view bytes(static_cast<const char*>(buffer), size);
    return StreamWith(options, [&](internal::StreamingParser& parser, std::exception_ptr&) {
        StreamWithin(parser, static_cast<HandlerError&>(*m_pErrors), m_limits, options, nullptr, bytes,
                     [&](const InputSource* source) { parser.Check(nullptr, source); });
    });
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
    if (!context && !RequireDocument()) return nullptr;
    if (!Require(expr, msg::kNoExpression)) return nullptr;
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
        done = read(xpath, from);
        if (!done) Record(E_EXCEPTION, msg::kXPathEvaluation);
    });
    return done;
}

std::vector<DOMNode*> CKelXML::SelectNodes(const char* expr, const DOMNode* context,
                                           const std::map<std::string, std::string>& namespaces) {
    std::vector<DOMNode*> nodes;
    ReadXPath(expr, context, namespaces, [&](const CXPath& xpath, const DOMNode* from) {
        sXPathValue value;
        if (!xpath.Evaluate(from, value)) return false;
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
    return ReadXPath(expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from) { return xpath.EvaluateString(from, value); });
}

bool CKelXML::GetXPathNumber(const char* expr, double& value, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from) { return xpath.EvaluateNumber(from, value); });
}

bool CKelXML::GetXPathBoolean(const char* expr, bool& value, const DOMNode* context,
                              const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from) { return xpath.EvaluateBoolean(from, value); });
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

template <class Where>
DOMElement* CKelXML::NewElement(const char* name, const char* text, Where&& where) {
    if (!Require(name, msg::kNoElementName)) return nullptr;
    DOMElement* element = nullptr;
    const bool ok = Guarded([&] {
        {
            const XStr name16 = To16(name);
            element = m_pDocument->createElement(name16.unicodeForm());
        }
        if (text) {
            const XStr text16 = To16(text);
            element->setTextContent(text16.unicodeForm());
        }
        internal::Place(where(), element);
    });
    // An element that was not placed is referenced by no one: give its memory back.
    if (!ok && element && !element->getParentNode()) element->release();
    return ok ? element : nullptr;
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, DOMNode* parent) {
    if (!CanEdit(parent)) return nullptr;
    return NewElement(name.c_str(), nullptr, [&] { return internal::AtEnd(parent); });
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, const std::string& text, DOMNode* parent) {
    if (!CanEdit(parent)) return nullptr;
    return NewElement(name.c_str(), text.c_str(), [&] { return internal::AtEnd(parent); });
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
            attribute = m_pDocument->createAttribute(name16.unicodeForm());
        }
        {
            const XStr value16 = To16(value.c_str());
            attribute->setValue(value16.unicodeForm());
        }
        element->setAttributeNode(attribute);
    });
    if (!ok && attribute && !attribute->getOwnerElement()) attribute->release();
    return ok ? attribute : nullptr;
}

DOMAttr* CKelXML::ModifyAttribute(const std::string& name, const std::string& value, DOMElement* element) {
    if (!Require(element, msg::kNoParent)) return nullptr;
    DOMAttr* attribute = nullptr;
    const bool ok = Guarded([&] {
        {
            const XStr name16 = To16(name.c_str());
            attribute = element->getAttributeNode(name16.unicodeForm());
        }
        if (!attribute) return;
        const XStr value16 = To16(value.c_str());
        attribute->setValue(value16.unicodeForm());
        element->setAttributeNode(attribute);
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
    if (!Require(parent, msg::kNoParent)) return nullptr;
    if (!Require(child, msg::kNoOldChild)) return nullptr;
    DOMNode* removed = nullptr;
    Guarded([&] { removed = parent->removeChild(child); });
    return removed;
}

}  // namespace XML
