#include "Documents.h"

#include "Diagnostics.h"
#include "Jobs.h"
#include "Limits.h"

#include <XML/CXPath.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string_view>

#include <xercesc/dom/DOM.hpp>

namespace kelxml {

std::string Escape(const std::string& text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

void AppendEscaped(std::string& out, const std::string& text) {
    out.reserve(out.size() + text.size());
    // Runs without a character to escape are copied whole: most values have none.
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r') continue;
        out.append(text, run, i - run);
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        run = i + 1;
    }
    out.append(text, run, std::string::npos);
}

const char* KindName(XML::E_TYPE_ERROR kind) {
    switch (kind) {
    case XML::E_WARNING: return "warning";
    case XML::E_ERROR: return "error";
    case XML::E_FATAL_ERROR: return "fatal";
    case XML::E_EXCEPTION: return "exception";
    case XML::E_MISSING: return "missing";
    }
    return "unknown";
}

std::size_t PrintRecords(const std::string& file, const XML::CError* errors, std::size_t first,
                         const XML::sLoadOptions* options) {
    if (!errors) return 0;
    const auto& records = errors->GetAllErrors();
    std::vector<std::string> grammars;
    if (options) {
        for (const XML::sSchemaFile& schema : options->vSchemas) grammars.push_back(schema.strFile);
        if (!options->strDTDFile.empty()) grammars.push_back(options->strDTDFile);
    }
    DiagnosticPrinter printer(Err(), file, file == "-" ? std::string_view(StandardInput()) : std::string_view(),
                              grammars);
    for (std::size_t i = first; i < records.size(); ++i) printer.Print(records[i]);
    return records.size() > first ? records.size() - first : 0;
}

std::size_t RecordCount(const XML::CKelXML& xml) { return xml.GetErrors() ? xml.GetErrors()->GetErrorCount() : 0; }

const std::string& StandardInput() {
    static const std::string bytes = [] {
        std::string read;
        char buffer[64 * 1024];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) read.append(buffer, n);
        return read;
    }();
    return bytes;
}

bool LoadDocument(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options) {
    xml.SetLimits(LoadLimits());
    HoldSource(file);
    if (file != "-") return xml.Load(file.c_str(), options);
    return xml.LoadFromMemory(StandardInput(), options);
}

bool ValidateDocument(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options) {
    xml.SetLimits(LoadLimits());
    HoldSource(file);
    if (file != "-") return xml.Validate(file.c_str(), options);
    return xml.ValidateFromMemory(StandardInput(), options);
}

bool ReportUnreadable(const std::string& file) {
    if (file == "-") return false;
    struct stat info {};
    int error = 0;
    const bool found = ::stat(file.c_str(), &info) == 0;
    if (found && S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!found || ::access(file.c_str(), R_OK) != 0)  // errno of whichever failed
        error = errno;
    if (error == 0) return false;
    Err() << file << ": fatal: cannot read: " << std::strerror(error) << '\n';
    return true;
}

namespace {

// --resources none|folder|local: what a load may read besides the document; by default what
// the load mode reads (nothing when only well-formedness is checked).
XML::E_RESOURCE_ACCESS ResourcesOf(const Arguments& args) {
    XML::E_RESOURCE_ACCESS access = XML::E_RESOURCES_BY_MODE;
    for (const auto& [name, value] : args.Options()) {
        if (name != "--resources") continue;
        if (value == "none")
            access = XML::E_RESOURCES_NONE;
        else if (value == "folder")
            access = XML::E_RESOURCES_DOCUMENT_TREE;
        else if (value == "local")
            access = XML::E_RESOURCES_LOCAL;
        else
            throw UsageError{"--resources takes none, folder or local, not '" + value + "'"};
    }
    return access;
}

}  // namespace

XML::sLoadOptions ReadingOptions(const Arguments& args) {
    XML::sLoadOptions options;
    options.eMode = args.Has("--validate") ? XML::E_LOAD_AUTO : XML::E_LOAD_WELL_FORMED;
    options.eResources = ResourcesOf(args);
    return options;
}

XML::sLoadOptions CheckingOptions(const Arguments& args) {
    XML::sLoadOptions options;
    for (const auto& [name, value] : args.Options()) {
        if (name == "--dtd") {
            if (!options.strDTDFile.empty()) throw UsageError{"--dtd is given twice"};
            if (value.empty()) throw UsageError{"--dtd needs a FILE"};
            options.strDTDFile = value;
        } else if (name == "--schema") {
            // NS=FILE names the schema's namespace; a FILE whose name holds '=' is given as =FILE.
            const std::size_t equals = value.find('=');
            XML::sSchemaFile schema;
            if (equals == std::string::npos) {
                schema.strFile = value;
            } else {
                schema.strNamespace = value.substr(0, equals);
                schema.strFile = value.substr(equals + 1);
            }
            if (schema.strFile.empty()) throw UsageError{"--schema needs a FILE, or NS=FILE"};
            options.vSchemas.push_back(schema);
        }
    }
    options.eResources = ResourcesOf(args);
    const bool named = !options.vSchemas.empty() || !options.strDTDFile.empty();
    const bool wellFormed = args.Has("--well-formed");
    if (wellFormed && (named || args.Has("--validate")))
        throw UsageError{"--well-formed cannot be combined with --validate, --schema or --dtd"};
    if (named && args.Has("--validate")) throw UsageError{"--schema and --dtd always validate: drop --validate"};
    // A grammar that cannot be read is the user's mistake, said once, not a fault of every file.
    std::vector<std::string> grammars;
    for (const XML::sSchemaFile& schema : options.vSchemas) grammars.push_back(schema.strFile);
    if (!options.strDTDFile.empty()) grammars.push_back(options.strDTDFile);
    for (const std::string& grammar : grammars) {
        HoldSource(grammar);
        struct stat info {};
        const char* why = nullptr;
        if (::stat(grammar.c_str(), &info) != 0 || ::access(grammar.c_str(), R_OK) != 0)
            why = std::strerror(errno);
        else if (!S_ISREG(info.st_mode))
            why = "not a regular file";
        else if (info.st_size == 0)
            why = "it is empty";
        if (why) throw UsageError{"cannot read the grammar '" + grammar + "': " + why};
    }
    if (named) {
        options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
        options.pGrammarCache = std::make_shared<XML::CGrammarCache>();
        RequireCompiledGrammars(options);
    } else if (wellFormed) {
        options.eMode = XML::E_LOAD_WELL_FORMED;
    } else {
        options.eMode = args.Has("--validate") ? XML::E_LOAD_VALIDATE : XML::E_LOAD_AUTO;
    }
    return options;
}

void RequireCompiledGrammars(const XML::sLoadOptions& options) {
    // An empty document of its own: a record naming another file is the grammars' (compiled
    // once, into the options' cache, for every file then).
    static constexpr std::string_view kProbe = "<_/>";
    XML::CKelXML probe;
    probe.SetLimits(LoadLimits());
    if (probe.ValidateFromMemory(kProbe, options) || !probe.GetErrors()) return;
    for (const XML::sError& record : probe.GetErrors()->GetAllErrors())
        if (record.eType >= XML::E_FATAL_ERROR && record.strSystemId != "toto")
            throw UsageError{"the grammars cannot be compiled: " + record.strMessage};
}

bool Usable(const XML::CKelXML& xml, const std::string& file, bool usable) {
    PrintRecords(file, xml.GetErrors());
    if (const XML::CError* errors = xml.GetErrors())
        for (const XML::sError& record : errors->GetAllErrors())
            if (record.eType >= XML::E_FATAL_ERROR) usable = false;
    if (!usable) Err() << DisplayName(file) << ": the document could not be loaded\n";
    return usable;
}

bool Open(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options) {
    if (LoadDocument(xml, file, options)) return true;
    if (!xml.GetDocument() && ReportUnreadable(file)) return false;
    return Usable(xml, file, xml.GetDocument() != nullptr);
}

// Paths start at the root element rather than the document node: a document type
// declaration carries the root's name too and, coming first, would be taken for it.
// The root element (null for none); rest = the path below it: the remaining path when the
// first name is the root element's own, else the whole path, as the streamed walks read it.
xercesc::DOMNode* RootOf(XML::CKelXML& xml, const std::string& path, std::string& rest) {
    const std::size_t slash = path.find('\\');
    xercesc::DOMElement* root = xml.GetDocument()->getDocumentElement();
    if (root && XML::XStr::ToLocal(root->getNodeName()) != path.substr(0, slash))
        rest = path;
    else
        rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    return root;
}

// The first node at the end of path, going down one first child at a time: the library's
// own walk, stopped at its first node.
xercesc::DOMNode* FindFirst(XML::CKelXML& xml, const std::string& path) {
    std::string rest;
    xercesc::DOMNode* root = RootOf(xml, path, rest);
    if (!root || rest.empty()) return root;
    struct First : XML::TFunctor {
        xercesc::DOMNode* node = nullptr;
        bool operator()(xercesc::DOMNode* visited, std::string, std::string, std::string*, void*) override {
            node = visited;
            return true;
        }
    } first;
    XML::CKelXML::LoopElements(&first, root, rest, nullptr, 0, nullptr, true, false, false);
    return first.node;
}

void ReportNothingAt(const std::string& file, const std::string& path) {
    Err() << DisplayName(file) << ": nothing at path '" << path << "'\n";
}

std::vector<std::string> FilesBeforeLast(const Arguments& args, const char* what) {
    const std::vector<std::string>& positional = args.Positional();
    if (positional.size() < 2) throw UsageError{std::string("expected ") + what};
    std::vector<std::string> files(positional.begin(), positional.end() - 1);
    if (std::count(files.begin(), files.end(), "-") > 1) throw UsageError{"standard input ('-') is given twice"};
    return files;
}

std::string LinePrefix(const std::vector<std::string>& files, const std::string& file) {
    return files.size() > 1 ? DisplayName(file) + ":" : std::string();
}

bool IsXPath(const Arguments& args, const std::string& path) {
    return args.Has("--xpath") || (!path.empty() && path[0] == '/');
}

std::vector<xercesc::DOMNode*> SelectXPath(const XML::CKelXML& xml, const Arguments& args, const std::string& expr) {
    std::map<std::string, std::string> namespaces;
    for (const auto& [option, value] : args.Options())
        if (option == "--ns") namespaces.insert(SplitAssignment("--ns", value));
    XML::CXPath xpath;
    xpath.SetLimits(XPathLimits());
    if (!xpath.Compile(expr, namespaces)) {
        const XML::CError* errors = xpath.GetErrors();
        throw UsageError{errors && errors->HasError() ? errors->GetAllErrors().front().strMessage
                                                      : "the XPath expression does not compile"};
    }
    XML::sXPathValue value;
    std::string reason;
    // A value that is not a node-set selects nothing; a bound reached stops the command.
    if (!xpath.Evaluate(xml.GetDocument(), value, {}, &reason)) throw std::runtime_error(reason);
    return value.eType == XML::E_XPATH_NODESET ? std::move(value.vNodes) : std::vector<xercesc::DOMNode*>();
}

}  // namespace kelxml
