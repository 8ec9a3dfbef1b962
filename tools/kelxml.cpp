// kelxml: checks, queries, edits and reformats XML documents from the command line.
// Built on the library's public interface only, like any other client.
//
// Output rules: standard output carries results (values, counts, the check summary, formatted
// text); standard error carries diagnostics, each naming the file. Exit codes: 0 success,
// 1 the document has problems (or the query found nothing), 2 the command line is wrong.
#include <XML/CKelXML.h>

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

enum ExitCode : int { kSuccess = 0, kProblem = 1, kUsage = 2 };

const char* const kProgram = "kelxml";

// --- Help texts ----------------------------------------------------------------------------

const char* const kMainHelp =
    R"(usage: kelxml COMMAND [ARGS...]
       kelxml COMMAND --help
       kelxml --version

Checks, queries, edits and reformats XML documents with the Kel_XML library.

commands:
  check [--validate] FILE...                 load each file and list every diagnostic
  get FILE PATH [--attr NAME]...             print the text or attributes of the nodes at PATH
  count FILE NAME                            count the elements NAME below the root element
  dict FILE PATH                             print the child dictionary of the node at PATH
  set FILE PATH --attr NAME=VALUE | --add NAME=TEXT | --remove
                                             edit the first node at PATH and save the file
  format FILE [-o OUT] [--canonical]         pretty-print or canonicalise a document

PATH names nodes from the root element down, separated by backslashes (quote them in a
shell) or slashes: 'catalog\records\record' and catalog/records/record are the same path.
Its first name is the root element's own. Every further name but the last goes down to the
FIRST child of that name; the last name selects the nodes at the end.

Results go to standard output, diagnostics to standard error, each naming the file.
Commands other than check report warnings and validity errors and go on; a document that
is not well-formed or cannot be read stops them.
Exit status: 0 success, 1 the document has problems or nothing was found, 2 usage error.
)";

const char* const kCheckHelp =
    R"(usage: kelxml check [--validate] FILE...

Loads each FILE and prints every record of its error list on standard error, one line each:
  FILE: KIND: MESSAGE
KIND is warning, error (a validity error), fatal (not well-formed, unreadable, missing),
exception or missing; MESSAGE carries the position as "lig=LINE col=COLUMN". A summary line
follows on standard output.

A document that declares a grammar (a DTD or a schema) is validated against it. --validate
validates every document, so one without a grammar is reported too.

Exit status: 0 when every file loaded without a single record (warnings count), 1 otherwise,
2 on a usage error.
)";

const char* const kGetHelp =
    R"(usage: kelxml get FILE PATH [--attr NAME]...

Walks PATH: its first name must be the root element's; every further name but the last goes
down to the first child of that name, and each child of the last name is visited in document
order (a PATH of one name visits the root element itself). For each visited
node one line is printed: its whole text (all text and CDATA below it), or, with --attr, the
values of the named attributes separated by tabs (empty when absent).

PATH components are separated by backslashes or slashes; the first is the root element:
  kelxml get examples/sample.xml 'catalog\records\record' --attr id --attr year
  kelxml get examples/sample.xml catalog/settings/name

In the printed text a backslash, tab, newline and carriage return appear as \\, \t, \n and
\r, so every node takes exactly one line.

Exit status: 0 when at least one node was visited, 1 when the document has problems or PATH
reaches nothing, 2 on a usage error.
)";

const char* const kCountHelp =
    R"(usage: kelxml count FILE NAME

Prints how many elements called NAME stand below the root element, at any depth (the root
element itself is not counted). NAME "*" counts every element below the root.

Exit status: 0 when counted (also when the count is 0), 1 when the document has problems,
2 on a usage error.
)";

const char* const kDictHelp =
    R"(usage: kelxml dict FILE PATH [--all]

Prints the child dictionary of the first node at PATH (see "kelxml get --help" for PATH): one
line per distinct child name, sorted, as NAME, a tab and the text of the LAST child of that
name (escaped as "get" does). Text, comment and CDATA children are left out unless --all is
given; they appear as #text, #comment and #cdata-section.

Exit status: 0 on success, 1 when the document has problems or PATH reaches nothing, 2 on a
usage error.
)";

const char* const kSetHelp =
    R"(usage: kelxml set FILE PATH ACTION...

Edits the first node at PATH (see "kelxml get --help" for PATH) and saves FILE: the new text
replaces the old file atomically, keeping its permissions, so a failure leaves it intact.
The saved document is pretty-printed. Actions, applied in order:
  --attr NAME=VALUE   set attribute NAME of the node (added, or replaced)
  --add NAME=TEXT     append a child element NAME holding TEXT (NAME= adds an empty one)
  --remove            remove the node (alone; the root element cannot be removed)

Nothing is saved when any action fails.

Exit status: 0 when saved, 1 when the document has problems, PATH reaches nothing or an
action or the save fails, 2 on a usage error.
)";

const char* const kFormatHelp =
    R"(usage: kelxml format FILE [-o OUT] [--canonical]

Loads FILE and writes it again, pretty-printed, or in canonical form with --canonical: to
standard output, or to OUT with -o (replaced atomically; OUT may be FILE itself).

Exit status: 0 on success, 1 when the document has problems or cannot be written, 2 on a
usage error.
)";

// --- Command line --------------------------------------------------------------------------

struct UsageError {
    std::string message;
};

// Splits the arguments of one command into options and positional arguments. Options take
// their value as the next argument or after '='; "--" ends the options.
class Arguments {
public:
    Arguments(std::vector<std::string> args, std::vector<std::string> flags, std::vector<std::string> valued)
        : m_flags(std::move(flags)), m_valued(std::move(valued)) {
        bool options = true;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (!options || arg.size() < 2 || arg[0] != '-') {
                m_positional.push_back(arg);
                continue;
            }
            if (arg == "--") {
                options = false;
                continue;
            }
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (Contains(m_flags, name)) {
                if (eq != std::string::npos) throw UsageError{"option " + name + " takes no value"};
                m_options.push_back({name, ""});
            } else if (Contains(m_valued, name)) {
                if (eq != std::string::npos) {
                    m_options.push_back({name, arg.substr(eq + 1)});
                } else if (i + 1 < args.size()) {
                    m_options.push_back({name, args[++i]});
                } else {
                    throw UsageError{"option " + name + " needs a value"};
                }
            } else {
                throw UsageError{"unknown option " + arg};
            }
        }
    }

    bool Has(const std::string& name) const {
        for (const auto& option : m_options)
            if (option.first == name) return true;
        return false;
    }
    // Every (name, value) in command-line order.
    const std::vector<std::pair<std::string, std::string>>& Options() const { return m_options; }
    const std::vector<std::string>& Positional() const { return m_positional; }

    void ExpectPositional(std::size_t count, const char* what) const {
        if (m_positional.size() != count) throw UsageError{std::string("expected ") + what};
    }

private:
    static bool Contains(const std::vector<std::string>& names, const std::string& name) {
        for (const auto& n : names)
            if (n == name) return true;
        return false;
    }

    std::vector<std::string> m_flags;
    std::vector<std::string> m_valued;
    std::vector<std::pair<std::string, std::string>> m_options;
    std::vector<std::string> m_positional;
};

// A path as the library's walk takes it: backslash-separated, no empty component. Slashes are
// accepted too, since no XML name can hold one.
std::string NormalisePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.empty()) throw UsageError{"PATH is empty"};
    if (path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos)
        throw UsageError{"PATH '" + path + "' has an empty component"};
    return path;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1)
        parts.push_back(path.substr(start, slash - start));
    parts.push_back(path.substr(start));
    return parts;
}

// Keeps each printed value on one line.
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

// --- Documents ----------------------------------------------------------------------------

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

// Prints the records of the list from index first on, one line each; returns how many.
std::size_t PrintRecords(const std::string& file, const XML::CError* errors, std::size_t first = 0) {
    if (!errors) return 0;
    const auto& records = errors->GetAllErrors();
    for (std::size_t i = first; i < records.size(); ++i)
        std::cerr << file << ": " << KindName(records[i].eType) << ": " << records[i].strMessage << '\n';
    return records.size() > first ? records.size() - first : 0;
}

std::size_t RecordCount(const XML::CKelXML& xml) { return xml.GetErrors() ? xml.GetErrors()->GetErrorCount() : 0; }

// Loads a document to read or edit. Warnings and validity errors are printed and tolerated;
// a document that is not well-formed or could not be read is refused.
bool Open(XML::CKelXML& xml, const std::string& file) {
    if (xml.Load(file.c_str(), false)) return true;
    PrintRecords(file, xml.GetErrors());
    bool usable = xml.GetDocument() != nullptr;
    if (const XML::CError* errors = xml.GetErrors())
        for (const XML::sError& record : errors->GetAllErrors())
            if (record.eType >= XML::E_FATAL_ERROR) usable = false;
    if (!usable) std::cerr << file << ": the document could not be loaded\n";
    return usable;
}

// Paths start at the root element rather than the document node: a document type
// declaration carries the root's name too and, coming first, would be taken for it.
// The root element when the path's first name is its own, else null; rest = the remaining path.
xercesc::DOMNode* RootOf(XML::CKelXML& xml, const std::string& path, std::string& rest) {
    const std::size_t slash = path.find('\\');
    const std::string first = path.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    xercesc::DOMElement* root = xml.GetDocument()->getDocumentElement();
    if (!root || XML::XStr::ToLocal(root->getNodeName()) != first) return nullptr;
    return root;
}

// The first node at the end of path, going down one first child at a time.
xercesc::DOMNode* FindFirst(XML::CKelXML& xml, const std::string& path) {
    std::string rest;
    xercesc::DOMNode* node = RootOf(xml, path, rest);
    if (!node || rest.empty()) return node;
    for (const std::string& name : SplitPath(rest)) {
        node = XML::CKelXML::GetNode(node, name.c_str());
        if (!node) return nullptr;
    }
    return node;
}

void ReportNothingAt(const std::string& file, const std::string& path) {
    std::cerr << file << ": nothing at path '" << path << "'\n";
}

// Splits "NAME=VALUE"; the value may be empty, the name may not.
std::pair<std::string, std::string> SplitAssignment(const std::string& option, const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError{option + " expects NAME=VALUE, not '" + text + "'"};
    return {text.substr(0, eq), text.substr(eq + 1)};
}

// --- Commands ------------------------------------------------------------------------------

int Check(const Arguments& args) {
    if (args.Positional().empty()) throw UsageError{"expected at least one FILE"};
    const bool validate = args.Has("--validate");
    std::size_t clean = 0;
    std::size_t records = 0;
    for (const std::string& file : args.Positional()) {
        XML::CKelXML xml;
        if (xml.Load(file.c_str(), validate)) {
            ++clean;
            continue;
        }
        const std::size_t printed = PrintRecords(file, xml.GetErrors());
        if (printed == 0) std::cerr << file << ": the document could not be loaded\n";
        records += printed;
    }
    const std::size_t files = args.Positional().size();
    std::cout << "checked " << files << (files == 1 ? " file: " : " files: ") << clean << " clean, "
              << files - clean << " with problems (" << records << (records == 1 ? " record)" : " records)")
              << '\n';
    return clean == files ? kSuccess : kProblem;
}

// Prints one line per visited node: its text or the requested attribute values.
class PrintVisited : public XML::TFunctor {
public:
    explicit PrintVisited(std::size_t attributeCount) : m_attributeCount(attributeCount) {}

    bool operator()(xercesc::DOMNode*, std::string, std::string text, std::string* attributeValues,
                    void*) override {
        ++m_visited;
        if (m_attributeCount == 0) {
            std::cout << Escape(text) << '\n';
        } else {
            for (std::size_t i = 0; i < m_attributeCount; ++i)
                std::cout << (i ? "\t" : "") << Escape(attributeValues[i]);
            std::cout << '\n';
        }
        return true;
    }

    std::size_t Visited() const { return m_visited; }

private:
    std::size_t m_attributeCount;
    std::size_t m_visited = 0;
};

int Get(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    const std::string path = NormalisePath(args.Positional()[1]);
    std::vector<std::string> names;
    for (const auto& [option, value] : args.Options()) {
        if (value.empty()) throw UsageError{"--attr needs a NAME"};
        names.push_back(value);
    }
    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    PrintVisited printer(names.size());
    std::string rest;
    if (xercesc::DOMNode* root = RootOf(xml, path, rest)) {
        if (rest.empty()) {
            // The walk visits children only; the root alone is visited here, the same way.
            std::vector<std::string> values(names.size());
            for (std::size_t i = 0; i < names.size(); ++i)
                XML::CKelXML::GetAttributeValue(root, names[i].c_str(), &values[i]);
            std::string text;
            XML::CKelXML::GetValue(root, text);
            printer(root, XML::XStr::ToLocal(root->getNodeName()), text, values.data(), nullptr);
        } else {
            XML::CKelXML::LoopElements(&printer, root, rest, names.empty() ? nullptr : names.data(),
                                       static_cast<int>(names.size()), nullptr, false, false, false);
        }
    }
    if (printer.Visited() == 0) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    return kSuccess;
}

int Count(const Arguments& args) {
    args.ExpectPositional(2, "FILE NAME");
    const std::string& file = args.Positional()[0];
    const std::string& name = args.Positional()[1];
    if (name.empty()) throw UsageError{"NAME is empty"};
    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    unsigned int count = 0;
    if (!XML::CKelXML::GetNbChildInNode(xml.GetDocument()->getDocumentElement(), name.c_str(), count)) {
        std::cerr << file << ": the document has no root element\n";
        return kProblem;
    }
    std::cout << count << '\n';
    return kSuccess;
}

int Dict(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    const std::string path = NormalisePath(args.Positional()[1]);
    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    const xercesc::DOMNode* node = FindFirst(xml, path);
    std::map<std::string, std::string> dictionary;
    if (!node || !XML::CKelXML::o_GetDictionaryFromNode(node, dictionary)) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    const bool all = args.Has("--all");
    for (const auto& [name, text] : dictionary)
        if (all || name.empty() || name[0] != '#') std::cout << name << '\t' << Escape(text) << '\n';
    return kSuccess;
}

int Set(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    const std::string path = NormalisePath(args.Positional()[1]);
    const auto& actions = args.Options();
    if (actions.empty()) throw UsageError{"expected an action: --attr NAME=VALUE, --add NAME=TEXT or --remove"};
    const bool remove = args.Has("--remove");
    if (remove && actions.size() > 1) throw UsageError{"--remove cannot be combined with other actions"};
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> edits;
    for (const auto& [option, value] : actions)
        if (option != "--remove") edits.push_back({option, SplitAssignment(option, value)});

    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    xercesc::DOMNode* node = FindFirst(xml, path);
    if (!node) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    const std::size_t before = RecordCount(xml);
    // Reports the library's records for an edit that failed, or a reason of our own.
    const auto fail = [&](const std::string& reason) {
        if (PrintRecords(file, xml.GetErrors(), before) == 0) std::cerr << file << ": " << reason << '\n';
        std::cerr << file << ": not saved\n";
        return kProblem;
    };
    if (remove) {
        if (node == xml.GetDocument()->getDocumentElement()) return fail("the root element cannot be removed");
        xercesc::DOMNode* removed = xml.RemoveChildNode(node->getParentNode(), node);
        if (!removed) return fail("unable to remove the node at '" + path + "'");
        removed->release();
    }
    for (const auto& [option, assignment] : edits) {
        const auto& [name, value] = assignment;
        if (option == "--attr") {
            if (node->getNodeType() != xercesc::DOMNode::ELEMENT_NODE)
                return fail("the node at '" + path + "' is not an element: it has no attributes");
            if (!xml.AddNewAttribute(name, value, static_cast<xercesc::DOMElement*>(node)))
                return fail("unable to set attribute '" + name + "'");
        } else {
            const xercesc::DOMElement* added =
                value.empty() ? xml.AddNewElementNode(name, node) : xml.AddNewElementNode(name, value, node);
            if (!added) return fail("unable to add element '" + name + "'");
        }
    }
    if (!xml.Save(file.c_str(), false)) return fail("unable to save");
    return kSuccess;
}

// A private folder for a temporary file, removed with its content.
class TemporaryFolder {
public:
    TemporaryFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelxml-XXXXXX";
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TemporaryFolder() {
        if (m_path.empty()) return;
        std::remove(File().c_str());
        ::rmdir(m_path.c_str());
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    bool Made() const { return !m_path.empty(); }
    std::string File() const { return m_path + "/document.xml"; }

private:
    std::string m_path;
};

int Format(const Arguments& args) {
    args.ExpectPositional(1, "FILE");
    const std::string& file = args.Positional()[0];
    std::optional<std::string> out;
    for (const auto& [option, value] : args.Options())
        if (option == "-o") {
            if (value.empty()) throw UsageError{"-o needs a file name"};
            out = value;
        }
    const bool canonical = args.Has("--canonical");
    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    const std::size_t before = RecordCount(xml);
    if (out) {
        if (xml.Save(out->c_str(), canonical)) return kSuccess;
        PrintRecords(*out, xml.GetErrors(), before);
        return kProblem;
    }
    // Save writes files; through a private one, whatever standard output is (a pipe, or a
    // file the shell opened, which an atomic replace would leave behind).
    TemporaryFolder folder;
    if (!folder.Made()) {
        std::cerr << kProgram << ": unable to create a temporary folder: " << std::strerror(errno) << '\n';
        return kProblem;
    }
    if (!xml.Save(folder.File().c_str(), canonical)) {
        PrintRecords(file, xml.GetErrors(), before);
        return kProblem;
    }
    std::ifstream in(folder.File(), std::ios::binary);
    std::cout << in.rdbuf();
    std::cout.flush();
    if (!in || !std::cout) {
        std::cerr << kProgram << ": unable to write the formatted document\n";
        return kProblem;
    }
    return kSuccess;
}

// --- Dispatch ------------------------------------------------------------------------------

struct Command {
    const char* name;
    const char* help;
    std::vector<std::string> flags;
    std::vector<std::string> valued;
    std::function<int(const Arguments&)> run;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"check", kCheckHelp, {"--validate"}, {}, Check},
        {"get", kGetHelp, {}, {"--attr"}, Get},
        {"count", kCountHelp, {}, {}, Count},
        {"dict", kDictHelp, {"--all"}, {}, Dict},
        {"set", kSetHelp, {"--remove"}, {"--attr", "--add"}, Set},
        {"format", kFormatHelp, {"--canonical"}, {"-o"}, Format},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

int Usage(const std::string& message, const char* command = nullptr) {
    std::cerr << kProgram << (command ? std::string(" ") + command : std::string()) << ": " << message << '\n'
              << "Try '" << kProgram << (command ? std::string(" ") + command : std::string())
              << " --help' for more information.\n";
    return kUsage;
}

int Run(const std::vector<std::string>& argv) {
    if (argv.empty()) return Usage("expected a command");
    const std::string& first = argv[0];
    if (first == "--help" || first == "-h") {
        std::cout << kMainHelp;
        return kSuccess;
    }
    if (first == "--version") {
        std::cout << kProgram << " (Kel_XML) " << KELXML_VERSION << '\n';
        return kSuccess;
    }
    if (first == "help") {
        if (argv.size() == 1) {
            std::cout << kMainHelp;
            return kSuccess;
        }
        const Command* command = FindCommand(argv[1]);
        if (!command) return Usage("unknown command '" + argv[1] + "'");
        std::cout << command->help;
        return kSuccess;
    }
    const Command* command = FindCommand(first);
    if (!command) return Usage("unknown command '" + first + "'");
    const std::vector<std::string> rest(argv.begin() + 1, argv.end());
    for (const std::string& arg : rest) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::cout << command->help;
            return kSuccess;
        }
    }
    try {
        return command->run(Arguments(rest, command->flags, command->valued));
    } catch (const UsageError& error) {
        return Usage(error.message, command->name);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (!XML::CKelXML::initXmlAPI()) {
        std::cerr << kProgram << ": the XML parser library could not start\n";
        return kProblem;
    }
    int status = kProblem;
    try {
        status = Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const xercesc::XMLException& e) {
        std::cerr << kProgram << ": " << XML::XStr::ToLocal(e.getMessage()) << '\n';
    } catch (const xercesc::DOMException& e) {
        std::cerr << kProgram << ": " << XML::XStr::ToLocal(e.getMessage()) << '\n';
    } catch (const std::bad_alloc&) {
        std::cerr << kProgram << ": out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << e.what() << '\n';
    } catch (...) {
        std::cerr << kProgram << ": unexpected failure\n";
    }
    std::cout.flush();
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
