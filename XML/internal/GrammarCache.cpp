#include "XML/internal/GrammarCache.h"

#include "XML/CGrammarCache.h"
#include "XML/HandlerError.h"
#include "XML/XStr.h"
#include "XML/internal/BoundedDOMParser.h"
#include "XML/internal/DtdBudget.h"
#include "XML/internal/EnumerationBudget.h"
#include "XML/internal/ExceptionText.h"
#include "XML/internal/Messages.h"
#include "XML/internal/PatternGuard.h"
#include "XML/internal/ResourceGate.h"
#include "XML/internal/SchemaBudget.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/DTD/DTDGrammar.hpp>
#include <xercesc/validators/common/Grammar.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>

#include <climits>
#include <cstdlib>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace XML {

namespace internal {

namespace {

// The file's real path, or empty when it cannot be found.
std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

std::string CurrentDirectory() {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    return cwd ? std::string(cwd.get()) : std::string();
}

// Reads the grammar file at path (its bytes as given) once, checked as every file of a load is:
// false when it does not open (the parser then says so in its words); a FIFO, device or /proc
// file, or one past the budget of a load's external resources, is refused with an exception.
bool ReadGrammarFile(const std::string& path, std::string& bytes) {
    constexpr std::size_t kMaxBytes = sLimits{}.maxExternalBytes;
    OpenedFile file;
    std::string why;
    if (!file.Open(path, why) && !file.Refused()) return false;
    if (file.Refused() || !file.ReadHead(kMaxBytes, why) || file.Head().size() > kMaxBytes)
        throw SAXException(("grammar file '" + path + "' not read: " +
                            (why.empty() ? "larger than " + std::to_string(kMaxBytes) + " bytes" : why))
                               .c_str());
    bytes = file.Head();
    return true;
}

// A schema document as the parser gets it: without its external DTD, which compiling a schema
// never needs (its internal subset still applies), and every other byte where it was.
void WithoutSchemaDtd(std::string& bytes) {
    if (std::optional<std::string> blanked = WithoutExternalSubset(bytes)) bytes = std::move(*blanked);
}

// Builds now what validation would build on first use and keep in the grammar: each element's
// content model and its text for diagnostics. Both are made lazily, without a lock, so two
// threads validating against one shared grammar would each make them (one copy lost, or worse).
// Whether the validator asks an element of that content type for its model (not for ANY, EMPTY
// or simple content). The two grammars number their content types differently.
bool HasModel(DTDElementDecl::ModelTypes type) {
    return type == DTDElementDecl::Children || type == DTDElementDecl::Mixed_Simple;
}
bool HasModel(int schemaType) {
    return schemaType == SchemaElementDecl::Children || schemaType == SchemaElementDecl::Mixed_Simple ||
           schemaType == SchemaElementDecl::Mixed_Complex;
}

void BuildLazyParts(XMLGrammarPool& pool) {
    for (auto grammars = pool.getGrammarEnumerator(); grammars.hasMoreElements();) {
        Grammar& grammar = grammars.nextElement();
        if (grammar.getGrammarType() == Grammar::DTDGrammarType) {
            for (auto decls = static_cast<DTDGrammar&>(grammar).getElemEnumerator(); decls.hasMoreElements();) {
                DTDElementDecl& decl = decls.nextElement();
                if (HasModel(decl.getModelType())) decl.getContentModel();
                decl.getFormattedContentModel();
            }
        } else if (grammar.getGrammarType() == Grammar::SchemaGrammarType) {
            auto& schema = static_cast<SchemaGrammar&>(grammar);
            for (auto decls = schema.getElemEnumerator(); decls.hasMoreElements();) {
                SchemaElementDecl& decl = decls.nextElement();
                if (HasModel(static_cast<int>(decl.getModelType()))) decl.getContentModel();
                decl.getFormattedContentModel();
            }
            if (RefHashTableOf<ComplexTypeInfo>* types = schema.getComplexTypeRegistry()) {
                for (RefHashTableOfEnumerator<ComplexTypeInfo> all(types, false, XMLPlatformUtils::fgMemoryManager);
                     all.hasMoreElements();) {
                    ComplexTypeInfo& type = all.nextElement();
                    if (HasModel(type.getContentType())) type.getContentModel();
                    type.getFormattedContentModel();
                }
            }
        }
    }
}

bool IsSchema(const XMLResourceIdentifier& resource) {
    switch (resource.getResourceIdentifierType()) {
    case XMLResourceIdentifier::SchemaGrammar:
    case XMLResourceIdentifier::SchemaImport:
    case XMLResourceIdentifier::SchemaInclude:
    case XMLResourceIdentifier::SchemaRedefine: return true;
    default: return false;
    }
}

// Refuses network resources, as every load does, and stamps each local file the grammars read
// (includes, imports, redefines, external parameter entities), each read once.
class StampingResolver : public XMLEntityResolver {
public:
    explicit StampingResolver(std::vector<FileStamp>& files) : m_files(files) {}

    InputSource* resolveEntity(XMLResourceIdentifier* resource) override {
        if (!resource || !resource->getSystemId()) return nullptr;
        HandlerError::RefuseNetwork(resource->getBaseURI(), resource->getSystemId());
        std::string path;
        XMLURL url(XMLPlatformUtils::fgMemoryManager);
        const LocalFileInputSource local(resource->getBaseURI(), resource->getSystemId());
        const bool isUrl = url.setURL(resource->getBaseURI(), resource->getSystemId(), url) && !url.isRelative() &&
                           url.getProtocol() == XMLURL::File;
        path = XStr::ToLocal(isUrl ? url.getPath() : local.getSystemId());
        m_files.push_back(StampOf(path));
        // Opened once, without blocking, and handed to the parser as the bytes read.
        std::string bytes;
        if (!ReadGrammarFile(path, bytes)) return new UnopenedSource(resource->getSystemId());
        if (IsSchema(*resource)) WithoutSchemaDtd(bytes);
        m_bytes.push_back(std::move(bytes));
        const XStr id(path.c_str());
        return new MemBufInputSource(reinterpret_cast<const XMLByte*>(m_bytes.back().data()), m_bytes.back().size(),
                                     id.unicodeForm(), false, XMLPlatformUtils::fgMemoryManager);
    }

private:
    std::vector<FileStamp>& m_files;
    std::list<std::string> m_bytes;  // of every file handed to the parser, for the parse
};

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return path == other.path && exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && changedSeconds == other.changedSeconds &&
           changedNanoseconds == other.changedNanoseconds;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    stamp.path = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = static_cast<unsigned long long>(info.st_size);
    stamp.modifiedSeconds = info.st_mtim.tv_sec;
    stamp.modifiedNanoseconds = info.st_mtim.tv_nsec;
    stamp.changedSeconds = info.st_ctim.tv_sec;
    stamp.changedNanoseconds = info.st_ctim.tv_nsec;
    return stamp;
}

GrammarSet::GrammarSet() = default;
GrammarSet::~GrammarSet() = default;

bool GrammarSet::Unchanged() const {
    for (const FileStamp& file : m_files)
        if (!(StampOf(file.path) == file)) return false;
    return true;
}

std::shared_ptr<GrammarSet> GrammarSet::Parse(const sLoadOptions& options, SecurityManager* security,
                                              const std::string& directory) {
    auto set = std::make_shared<GrammarSet>();
    // Guarded: the grammar checks default, fixed and enumerated values against their patterns.
    set->m_pMemory = std::make_unique<GuardedMemoryManager>();
    set->m_pPool = std::make_unique<XMLGrammarPoolImpl>(set->m_pMemory.get());
    HandlerError errors;
    const auto record = [&errors](E_TYPE_ERROR kind, const std::string& text) { errors.AddError(kind, text.c_str()); };
    // Where each grammar's records begin: a fault found once the file is read (unique particle
    // attribution) comes without a file name, and is given the grammar's own.
    std::vector<std::pair<std::size_t, std::string>> starts;
    // Loads one grammar file into the pool, stamped before it is read: an edit made while it is
    // read makes the stamp stale, never the grammar.
    const auto load = [&](const std::string& file, Grammar::GrammarType type, BoundedDOMParser& parser) -> Grammar* {
        const std::string real = RealPath(file);
        const std::string path = real.empty() ? file : real;
        set->m_files.push_back(StampOf(path));
        // The name as given, through its links: a link moved to another file changes its stamp.
        // A relative name that is the real path spelled from the key's folder has no link on the
        // way: its stamp would be the real path's (and the folder moving changes the key). The
        // key's folder, not today's: a chdir since the key was made must not drop the stamp.
        if (path != file && (file[0] == '/' || directory.empty() || path != directory + '/' + file))
            set->m_files.push_back(StampOf(file));
        starts.emplace_back(errors.GetErrorCount(), path);
        const XStr id(path.c_str());
        HandlerError::RefuseNetwork(nullptr, id.unicodeForm());
        // The name as given is opened (its bytes, never converted), once: every load of the set
        // reads the named DTD's bytes kept here.
        std::string bytes;
        if (!ReadGrammarFile(file, bytes)) return parser.loadGrammar(UnopenedSource(id.unicodeForm()), type, true);
        if (type == Grammar::SchemaGrammarType) WithoutSchemaDtd(bytes);
        const MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), id.unicodeForm(),
                                       false, XMLPlatformUtils::fgMemoryManager);
        Grammar* const grammar = parser.loadGrammar(source, type, true);
        if (type == Grammar::DTDGrammarType) {
            set->m_dtdPath = path;
            set->m_dtdBytes = std::move(bytes);
        }
        return grammar;
    };
    try {
        StampingResolver resolver(set->m_files);
        BoundedDOMParser parser(nullptr, set->m_pMemory.get(), set->m_pPool.get());
        parser.setDoNamespaces(true);
        parser.setDoSchema(true);
        // Only a validating parser checks a grammar it loads as a whole, and only with full
        // checking does that include unique particle attribution.
        parser.setValidationScheme(AbstractDOMParser::Val_Always);
        parser.setValidationSchemaFullChecking(true);
        parser.setHandleMultipleImports(true);
        parser.setSecurityManager(security);
        parser.setErrorHandler(&errors);
        parser.setXMLEntityResolver(&resolver);
        if (!options.strDTDFile.empty()) load(options.strDTDFile, Grammar::DTDGrammarType, parser);
        for (const sSchemaFile& schema : options.vSchemas) {
            const Grammar* grammar = load(schema.strFile, Grammar::SchemaGrammarType, parser);
            if (!grammar) continue;
            const XMLCh* const target = grammar->getTargetNamespace();
            const std::string actual = target ? XStr::ToLocal(target) : std::string();
            if (!schema.strNamespace.empty() && actual != schema.strNamespace)
                record(E_ERROR, schema.strFile + ": the schema's target namespace is '" + actual + "', not '" +
                                    schema.strNamespace + "' as named");
        }
        // A schema named here is not read through the schema judge: its patterns are judged once built.
        const std::string refusal = PoolPatternRefusal(*set->m_pPool);
        if (!refusal.empty()) record(E_EXCEPTION, refusal);
        set->m_dearestEnumeration = internal::DearestEnumeration(set->m_pPool->getGrammarEnumerator());
        BuildLazyParts(*set->m_pPool);
    } catch (...) {
        // A grammar's import has no load mode to take instead: the refusal alone.
        const std::string text = CurrentExceptionText();
        record(E_EXCEPTION, text.substr(0, text.find(msg::kNetworkWayOut)));
    }
    set->m_diagnostics = errors.GetAllErrors();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1].first : set->m_diagnostics.size();
        for (std::size_t r = starts[i].first; r < end; ++r) {
            sError& record = set->m_diagnostics[r];
            if (record.strMessage.rfind(", lig=", 0) != 0) continue;
            record.strMessage.insert(0, starts[i].second);
            record.strSystemId = starts[i].second;
        }
    }
    // Locked, the pool is read-only and safe to share between parsers on several threads.
    if (set->m_diagnostics.empty()) set->m_pPool->lockPool();
    return set;
}

std::string GrammarKey(const sLoadOptions& options, std::string& directory) {
    // Names as given, made absolute: resolving links here would cost a system call per path
    // component at every load. Two spellings of one file make two entries, both correct.
    bool relative = !options.strDTDFile.empty() && options.strDTDFile[0] != '/';
    for (const auto& file : options.vSchemas) relative = relative || file.strFile.empty() || file.strFile[0] != '/';
    directory = relative ? CurrentDirectory() : std::string();
    if (relative && directory.empty()) return {};  // no directory to resolve against: never kept
    std::string key;
    const auto add = [&](const char* tag, const std::string& ns, const std::string& file) {
        key += tag + ns + '\n' + (file.empty() || file[0] == '/' ? file : directory + '/' + file) + '\n';
    };
    if (!options.strDTDFile.empty()) add("D", "", options.strDTDFile);
    for (const sSchemaFile& schema : options.vSchemas) add("S", schema.strNamespace, schema.strFile);
    return key;
}

}  // namespace internal

// --- CGrammarCache ---------------------------------------------------------------------

struct CGrammarCache::Impl {
    mutable std::mutex mutex;
    std::map<std::string, std::shared_ptr<const internal::GrammarSet>> sets;
    std::size_t parses = 0;
};

CGrammarCache::CGrammarCache() : m_pImpl(std::make_unique<Impl>()) {}

CGrammarCache::~CGrammarCache() = default;

std::size_t CGrammarCache::GetGrammarCount() const {
    const std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->sets.size();
}

std::size_t CGrammarCache::GetParseCount() const {
    const std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->parses;
}

void CGrammarCache::Clear() {
    const std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->sets.clear();
}

std::shared_ptr<const internal::GrammarSet> CGrammarCache::Acquire(const sLoadOptions& options,
                                                                   SecurityManager* security) {
    std::string directory;
    const std::string key = internal::GrammarKey(options, directory);
    // The stamps are read outside the lock: they are system calls, made at every load, and
    // threads that share the cache would otherwise queue for them.
    std::shared_ptr<const internal::GrammarSet> kept;
    if (!key.empty()) {
        const std::lock_guard<std::mutex> lock(m_pImpl->mutex);
        if (const auto found = m_pImpl->sets.find(key); found != m_pImpl->sets.end()) kept = found->second;
    }
    if (kept && kept->Unchanged()) return kept;
    // One lock over look-up and parse: a second thread that needs the same set waits for it
    // rather than parsing it too.
    const std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    if (!key.empty()) {
        const auto found = m_pImpl->sets.find(key);
        // Another thread parsed the set again meanwhile: its copy is as new as one made here.
        if (found != m_pImpl->sets.end() && found->second != kept) return found->second;
        if (found != m_pImpl->sets.end()) m_pImpl->sets.erase(found);
    }
    std::shared_ptr<const internal::GrammarSet> set = internal::GrammarSet::Parse(options, security, directory);
    ++m_pImpl->parses;
    if (!key.empty() && set->Diagnostics().empty()) m_pImpl->sets.emplace(key, set);
    return set;
}

}  // namespace XML
