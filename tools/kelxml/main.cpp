// kelxml: checks, queries, edits and reformats XML documents from the command line.
// Built on the library's public interface only, like any other client.
//
// Output rules: standard output carries results (values, counts, the check summary, formatted
// text); standard error carries diagnostics, each naming the file. Exit codes: 0 success,
// 1 the document has problems (or the query found nothing), 2 the command line is wrong.
#include "Arguments.h"
#include "Commands.h"
#include "Help.h"
#include "Limits.h"

#include <XML/CKelXML.h>
#include <XML/KelXMLVersion.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <exception>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <vector>

using namespace kelxml;

namespace {

struct Command {
    const char* name;
    const char* help;
    std::vector<std::string> flags;
    std::vector<std::string> valued;
    std::function<int(const Arguments&)> run;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"check", kCheckHelp, {"--validate", "--well-formed"}, {"--schema", "--dtd", "--resources", "-j"}, Check},
        {"get", kGetHelp, {"--validate", "--xpath", "--text"}, {"--attr", "--resources", "--ns", "-j"}, Get},
        {"count", kCountHelp, {"--validate", "--xpath"}, {"--resources", "--ns", "-j"}, Count},
        {"dict", kDictHelp, {"--all", "--validate", "--xpath"}, {"--resources", "--ns"}, Dict},
        {"set",
         kSetHelp,
         {"--remove", "--validate", "--xpath", "--first", "--before", "--after"},
         {"--attr", "--add", "--add-attr", "--position", "--resources", "--ns"},
         Set},
        {"format",
         kFormatHelp,
         {"--unindented", "--canonical", "--c14n", "--c14n-comments", "--validate"},
         {"-o", "--resources", "-j"},
         Format},
        {"xpath", kXPathHelp, {"--xml", "--validate"}, {"--ns", "-j"}, XPath},
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
        std::cout << kProgram << " (Kel_XML) " << KELXML_VERSION_STRING << "\nLicence: MIT\n";
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
    std::vector<std::string> rest(argv.begin() + 1, argv.end());
    for (const std::string& arg : rest) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::cout << command->help;
            return kSuccess;
        }
    }
    // Started for a command only: help, version and usage errors need no parser.
    if (!XML::CKelXML::initXmlAPI()) {
        std::cerr << kProgram << ": the XML parser library could not start\n";
        return kProblem;
    }
    try {
        // Every command loads documents: each takes the limit options too.
        SetLoadLimits(TakeLimits(rest, command->valued));
        return command->run(Arguments(rest, command->flags, command->valued, LeadingOptions()));
    } catch (const UsageError& error) {
        return Usage(error.message, command->name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
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
    XML::CKelXML::TerminateXmlAPI();  // nothing to stop when no command ran
    return status;
}
