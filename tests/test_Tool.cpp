// The kelxml tool, run as a separate process on real files: exit codes, output lines, and what
// it leaves on disk.
#include "TestSupport.h"

#include <XML/KelXMLVersion.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace kelxml_test;

namespace {

#ifdef KELXML_TOOL
const char* const kTool = KELXML_TOOL;
#else
const char* const kTool = nullptr;
#endif

#define SKIP_WITHOUT_TOOL() \
    if (!kTool) GTEST_SKIP() << "the kelxml tool is not built (KELXML_BUILD_TOOLS=OFF)"

struct Outcome {
    int status = -1;  // the exit code; -1 when the process did not exit normally
    std::string out;
    std::string err;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "status " << o.status << "\n--- stdout\n" << o.out << "--- stderr\n" << o.err;
}

// Runs argv (argv[0]: the program's path), stdout and stderr captured in files of dir, stdin read
// from input.
Outcome RunProgram(const TempDir& dir, std::vector<std::string> argv, const std::string& input = "/dev/null") {
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);

    const std::string out = dir.File(".tool-stdout");
    const std::string err = dir.File(".tool-stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        return outcome;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    ::unlink(out.c_str());
    ::unlink(err.c_str());
    return outcome;
}

// Runs the tool with args, as RunProgram does.
Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(dir, std::move(argv), input);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* const kLibrary = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- catalogue -->
<library open="yes">
  <name>Médiathèque</name>
  <shelf id="s1">
    <book isbn="1" year="1999"><title>Été</title></book>
    <book isbn="2"><title>Tab)"
                             "\t"
                             R"(and \ backslash</title></book>
    <book isbn="3" year="2001"><title><![CDATA[a < b & c]]></title><note>two
lines</note></book>
  </shelf>
  <shelf id="s2"><book isbn="4"/></shelf>
</library>
)";

// Not well-formed: the end tag on line 3 does not match.
const char* const kBroken = "<library>\n  <book>\n</libary>\n";

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TOOL();
        m_library = m_dir.File("library.xml");
        WriteFile(m_library, kLibrary);
        m_broken = m_dir.File("broken.xml");
        WriteFile(m_broken, kBroken);
    }
    Outcome Run(const std::vector<std::string>& args) { return RunTool(m_dir, args); }
    // Runs the tool with text on its standard input.
    Outcome RunWithInput(const std::vector<std::string>& args, const std::string& text) {
        const std::string input = m_dir.File(".tool-stdin");
        WriteFile(input, text);
        return RunTool(m_dir, args, input);
    }

    TempDir m_dir;
    std::string m_library;
    std::string m_broken;
};

// --- Command line --------------------------------------------------------------------------

TEST_F(ToolTest, EveryCommandHasHelp) {
    for (const char* command : {"check", "get", "count", "dict", "set", "format", "xpath"}) {
        SCOPED_TRACE(command);
        const Outcome o = Run({command, "--help"});
        EXPECT_EQ(o.status, 0) << o;
        EXPECT_EQ(o.out.rfind(std::string("usage: kelxml ") + command, 0), 0u) << o;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(Run({"help", command}).out, o.out);
    }
    const Outcome top = Run({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"check", "get", "count", "dict", "set", "format", "xpath"})
        EXPECT_TRUE(Contains(top.out, command));
}

// The options a text names: one or two dashes and a lowercase letter after a space, quote, '[',
// '(' or '|' ("-o", "--c14n-comments"; not "well-formed" or "-Infinity").
std::set<std::string> OptionsIn(const std::string& text) {
    static const std::regex option(R"((?:^|[\s"\[(|])(--?[a-z][a-z0-9-]*))");
    std::set<std::string> options;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) options.insert((*it)[1]);
    return options;
}

// The main help's commands, each with the lines of its entry; general: the text around them.
std::map<std::string, std::string> HelpCommands(const std::string& help, std::string& general) {
    std::map<std::string, std::string> commands;
    bool inList = false;
    std::string* entry = nullptr;
    for (const std::string& line : Lines(help)) {
        if (inList && line.empty()) inList = false;
        if (!inList) {
            inList = line == "commands:";
            general += line + '\n';
        } else if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ') {
            entry = &commands[line.substr(2, line.find(' ', 2) - 2)];
            *entry = line;
        } else if (entry) {
            *entry += '\n' + line;
        }
    }
    return commands;
}

// What the bash completion offers for the words typed so far (the last one being completed).
std::set<std::string> Completions(const TempDir& dir, const std::vector<std::string>& words) {
    std::vector<std::string> argv{"/bin/bash",
                                  "-c",
                                  R"(source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kelxml;
                                     printf '%s\n' "${COMPREPLY[@]}")",
                                  "bash",
                                  KELXML_TEST_DATA "/../../tools/kelxml.bash-completion",
                                  "kelxml"};
    argv.insert(argv.end(), words.begin(), words.end());
    const Outcome o = RunProgram(dir, argv);
    EXPECT_EQ(o.status, 0) << o;
    const std::vector<std::string> lines = Lines(o.out);
    return {lines.begin(), lines.end()};
}

// The man page and the bash completion name every command and option the help lists (the main
// help, each command's entry in it and the command's own help), and none the help does not
// list. A word offered in place of a command that is no command must run alone (help, --version).
TEST_F(ToolTest, ManPageAndCompletionFollowTheHelp) {
    std::string general;
    const std::map<std::string, std::string> commands = HelpCommands(Run({"--help"}).out, general);
    ASSERT_GE(commands.size(), 7u) << general;
    std::map<std::string, std::set<std::string>> own;  // per command: its entry and its help
    std::set<std::string> all = OptionsIn(general);
    for (const auto& [command, entry] : commands) {
        own[command] = OptionsIn(entry + '\n' + Run({command, "--help"}).out);
        all.insert(own[command].begin(), own[command].end());
    }
    // The man page without its examples, its escapes undone: "\-" is "-", fonts are spaces.
    std::string man = ReadFile(KELXML_TEST_DATA "/../../docs/kelxml.1");
    man = std::regex_replace(man.substr(0, man.find("\n.SH EXAMPLES")), std::regex(R"(\\f[BIRP])"), " ");
    man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
    std::set<std::string> manCommands;
    const std::string manList = man.substr(man.find(".SH COMMANDS"),
                                           man.find(".SH LOAD LIMITS") - man.find(".SH COMMANDS"));
    static const std::regex entry(R"(\.TP\n\.B[IR]? "?([a-z]+))");
    for (std::sregex_iterator it(manList.begin(), manList.end(), entry), end; it != end; ++it)
        manCommands.insert((*it)[1]);

    struct Document {
        const char* name;
        std::set<std::string> commands;
        std::function<std::set<std::string>(const std::string& command)> options;  // offered to the command
        bool perCommand;  // else options() gives the whole document's, whatever the command
    };
    const std::vector<Document> documents = {
        {"man page", manCommands, [&](const std::string&) { return OptionsIn(man); }, false},
        {"bash completion", Completions(m_dir, {""}),
         [&](const std::string& command) {
             return Completions(m_dir, {command, "-"});
         },
         true},
    };
    const std::set<std::string> generalOptions = OptionsIn(general);
    for (const Document& document : documents) {
        SCOPED_TRACE(document.name);
        for (const std::string& word : document.commands) {
            if (commands.count(word)) continue;
            EXPECT_EQ(Run({word}).status, 0) << word << " is no command";
        }
        std::set<std::string> anywhere = document.commands;
        for (const auto& [command, entry] : commands) {
            const std::set<std::string> offered = document.options(command);
            EXPECT_TRUE(document.commands.count(command)) << "missing command " << command;
            for (const std::string& option : own[command])
                EXPECT_TRUE(offered.count(option)) << command << ": missing " << option;
            for (const std::string& option : offered)
                EXPECT_TRUE(document.perCommand ? own[command].count(option) || generalOptions.count(option)
                                                : all.count(option))
                    << command << ": " << option << " is in no help";
            anywhere.insert(offered.begin(), offered.end());
        }
        for (const std::string& option : generalOptions) EXPECT_TRUE(anywhere.count(option)) << "missing " << option;
    }
}

TEST_F(ToolTest, VersionComesFromTheInstalledVersionHeader) {
    const Outcome o = Run({"--version"});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(Lines(o.out).at(0), std::string("kelxml (Kel_XML) ") + KELXML_VERSION_STRING);
    EXPECT_EQ(std::to_string(KELXML_VERSION_MAJOR) + "." + std::to_string(KELXML_VERSION_MINOR) + "." +
                  std::to_string(KELXML_VERSION_PATCH),
              KELXML_VERSION_STRING);
}

TEST_F(ToolTest, UsageErrorsExitWithTwoAndExplain) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::string lib = m_library;
    const std::vector<Case> cases = {
        {{}, "expected a command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"check"}, "expected at least one FILE"},
        {{"check", "--strict", lib}, "unknown option --strict"},
        {{"get", lib}, "expected FILE PATH"},
        {{"get", lib, "library", "--attr"}, "--attr needs a value"},
        {{"get", lib, "library\\\\shelf"}, "empty component"},
        {{"get", lib, "library\\"}, "empty component"},
        {{"count", lib}, "expected FILE NAME"},
        {{"dict", lib, ""}, "PATH is empty"},
        {{"set", lib, "library"}, "expected an action"},
        {{"set", lib, "library", "--attr", "novalue"}, "expects NAME=VALUE"},
        {{"set", lib, "library", "--remove", "--attr", "a=b"}, "cannot be combined"},
        {{"format", lib, "-o"}, "-o needs a value"},
        {{"format", "--canonical=yes", lib}, "takes no value"},
        {{"format", "--c14n", "--c14n-comments", lib}, "cannot be combined"},
        {{"format", "--canonical", "--c14n", lib}, "cannot be combined"},
        {{"check", "--max-depth", "many", lib}, "--max-depth expects a whole number, not 'many'"},
        {{"count", lib, "book", "--huge=yes"}, "takes no value"},
    };
    const std::string before = ReadFile(lib);
    for (const Case& c : cases) {
        const Outcome o = Run(c.args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(o.status, 2) << o;
        EXPECT_TRUE(Contains(o.err, c.message)) << o;
        EXPECT_TRUE(Contains(o.err, "--help")) << o;
        EXPECT_EQ(o.out, "") << o;
    }
    EXPECT_EQ(ReadFile(lib), before) << "a usage error must not touch the file";
}

// --- check ---------------------------------------------------------------------------------

// The load limits are options of every command: a chain of 100 entities passes the default
// depth of 64, and loads with --max-entity-depth or --huge.
TEST_F(ToolTest, LoadLimitsAreOptionsOfEveryCommand) {
    std::string chain = "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY e0 'x'>";
    for (int i = 1; i <= 100; ++i) chain += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
    const std::string file = m_dir.File("chain.xml");
    WriteFile(file, chain + "]><r>&e100;</r>");
    Outcome o = Run({"check", file});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_TRUE(Contains(o.err, "exception: entities nested deeper than 64 levels")) << o;
    EXPECT_EQ(Run({"check", "--max-entity-depth", "101", file}).status, 0);
    EXPECT_EQ(Run({"check", "--max-entity-depth=100", file}).status, 1);
    o = Run({"get", "--huge", file, "r"});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "x\n");
}

TEST_F(ToolTest, CheckReportsEveryRecordAndSummarises) {
    const Outcome clean = Run({"check", m_library});
    EXPECT_EQ(clean.status, 0) << clean;
    EXPECT_EQ(clean.err, "");
    EXPECT_EQ(clean.out, "checked 1 file: 1 clean, 0 with problems (0 records)\n");

    const std::string missing = m_dir.File("absent.xml");
    const Outcome mixed = Run({"check", m_library, m_broken, missing});
    EXPECT_EQ(mixed.status, 1) << mixed;
    EXPECT_EQ(Lines(mixed.out), std::vector<std::string>{"checked 3 files: 1 clean, 2 with problems (2 records)"});
    const std::vector<std::string> lines = Lines(mixed.err);
    ASSERT_EQ(lines.size(), 4u) << mixed;
    EXPECT_EQ(lines[0], m_broken + ":3:3: fatal: expected end of tag 'book'");
    EXPECT_EQ(lines[1], "  </libary>");
    EXPECT_EQ(lines[2], "    ^");
    EXPECT_EQ(lines[3], missing + ": fatal: cannot read: No such file or directory");
}

TEST_F(ToolTest, CheckValidatesOnRequestOrWhenAGrammarIsDeclared) {
    const std::string withDtd = m_dir.File("dtd.xml");
    WriteFile(withDtd, "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>]>\n<a><b>x</b></a>\n");
    const std::string invalid = m_dir.File("invalid.xml");
    WriteFile(invalid, "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>]>\n<a><c/></a>\n");

    EXPECT_EQ(Run({"check", "--validate", withDtd}).status, 0);
    EXPECT_EQ(Run({"check", m_library}).status, 0);
    // Without a grammar, forced validation finds every element undeclared.
    const Outcome forced = Run({"check", "--validate", m_library});
    EXPECT_EQ(forced.status, 1) << forced;
    EXPECT_TRUE(Contains(forced.err, m_library + ":3:")) << forced;
    EXPECT_TRUE(Contains(forced.err, ": error: ")) << forced;

    const Outcome o = Run({"check", invalid});
    EXPECT_EQ(o.status, 1) << o;
    const std::vector<std::string> lines = Lines(o.err);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i < lines.size(); i += 3) {
        EXPECT_EQ(lines[i].rfind(invalid + ":2:", 0), 0u) << lines[i];
        EXPECT_TRUE(Contains(lines[i], ": error: ")) << lines[i];
        EXPECT_FALSE(Contains(lines[i], "lig=")) << lines[i];
        ASSERT_LT(i + 2, lines.size());
        EXPECT_EQ(lines[i + 1], "  <a><c/></a>");
    }
}

// get prints each node as the file streams: a document malformed part-way has the nodes before
// the fault printed, then the fault reported and the exit status 1; count prints nothing.
TEST_F(ToolTest, GetPrintsTheNodesBeforeAFaultPartWay) {
    const std::string broken = m_dir.File("partway.xml");
    WriteFile(broken, "<l>\n<i n=\"1\">a</i>\n<i n=\"2\">b</i>\n<i n=\"3\">c</j>\n</l>\n");
    const Outcome o = Run({"get", broken, "l/i", "--attr", "n"});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_EQ(o.out, "1\n2\n");
    EXPECT_TRUE(Contains(o.err, broken + ":4:13: fatal: ")) << o;
    const Outcome counted = Run({"count", broken, "i"});
    EXPECT_EQ(counted.status, 1) << counted;
    EXPECT_EQ(counted.out, "");
}

TEST_F(ToolTest, ValidityErrorsAreReportedButDoNotStopQueriesOrEdits) {
    const std::string invalid = m_dir.File("invalid.xml");
    WriteFile(invalid, "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>]>\n<a><c>x</c></a>\n");
    const Outcome o = Run({"get", "--validate", invalid, "a/c"});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "x\n");
    EXPECT_TRUE(Contains(o.err, invalid + ":2:")) << o;
    EXPECT_TRUE(Contains(o.err, ": error: ")) << o;
    EXPECT_FALSE(Contains(o.err, "could not be loaded")) << o;

    const Outcome edited = Run({"set", invalid, "a/c", "--attr", "k=v", "--validate"});
    EXPECT_EQ(edited.status, 0) << edited;
    EXPECT_EQ(Run({"get", invalid, "a/c", "--attr", "k"}).out, "v\n");
}

TEST_F(ToolTest, UnreadableAndMissingFilesAreReportedByName) {
    const std::string missing = m_dir.File("nowhere.xml");
    for (const char* command : {"get", "dict"}) {
        const Outcome o = Run({command, missing, "library"});
        EXPECT_EQ(o.status, 1) << o;
        EXPECT_TRUE(Contains(o.err, missing + ": fatal: ")) << o;
        EXPECT_EQ(o.out, "");
    }
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
    const std::string locked = m_dir.File("locked.xml");
    WriteFile(locked, kLibrary);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const Outcome o = Run({"check", locked});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_TRUE(Contains(o.err, locked + ": fatal: ")) << o;
    EXPECT_EQ(Run({"get", locked, "library"}).status, 1);
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(ToolTest, GetPrintsOneLinePerVisitedNode) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{"library\\name"}, {"Médiathèque"}},
        // One name: the root element itself.
        {{"library", "--attr", "open", "--attr", "shut"}, {"yes\t"}},
        // Slashes work as separators; only the first shelf is searched.
        {{"library/shelf/book", "--attr", "isbn", "--attr", "year"}, {"1\t1999", "2\t", "3\t2001"}},
        {{"library\\shelf", "--attr=id"}, {"s1", "s2"}},
        // Text is escaped to keep one node per line; CDATA counts as text.
        {{"library\\shelf\\book"}, {"Été", "Tab\\tand \\\\ backslash", "a < b & ctwo\\nlines"}},
        {{"library"},
         {"\\n  Médiathèque\\n  \\n    Été\\n    Tab\\tand \\\\ backslash\\n    a < b & ctwo\\nlines\\n  \\n  \\n"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"get", m_library};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = Run(args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(o.status, 0) << o;
        EXPECT_EQ(Lines(o.out), c.lines) << o;
        EXPECT_EQ(o.err, "");
    }
}

TEST_F(ToolTest, QueriesThatReachNothingFail) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"get", m_library, "library\\attic\\book"},
                                               {"get", m_library, "library\\shelf\\magazine"},
                                               {"get", m_library, "Library"},
                                               {"dict", m_library, "library\\attic"}}) {
        const Outcome o = Run(args);
        SCOPED_TRACE(args[2]);
        EXPECT_EQ(o.status, 1) << o;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, m_library + ": nothing at path '" + args[2] + "'\n");
    }
}

TEST_F(ToolTest, MalformedDocumentsAreRefusedByEveryCommand) {
    const std::string out = m_dir.File("out.xml");
    const std::string before = ReadFile(m_broken);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"get", m_broken, "library"},
                                               {"count", m_broken, "book"},
                                               {"dict", m_broken, "library"},
                                               {"set", m_broken, "library", "--attr", "a=b"},
                                               {"format", m_broken},
                                               {"format", m_broken, "-o", out}}) {
        const Outcome o = Run(args);
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(o.status, 1) << o;
        EXPECT_EQ(o.out, "");
        EXPECT_TRUE(Contains(o.err, m_broken + ":3:3: fatal: ")) << o;
        EXPECT_TRUE(Contains(o.err, m_broken + ": the document could not be loaded")) << o;
    }
    EXPECT_EQ(ReadFile(m_broken), before);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(ToolTest, CountAndDict) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"count", m_library, "book"}, "4\n"},
        {{"count", m_library, "title"}, "3\n"},
        {{"count", m_library, "library"}, "0\n"},  // the root element itself is not counted
        {{"count", m_library, "*"}, "11\n"},
        {{"dict", m_library, "library"}, "name\tMédiathèque\nshelf\t\n"},
        {{"dict", m_library, "library/shelf/book"}, "title\tÉté\n"},
        {{"dict", m_library, "library", "--all"}, "#text\t\\n\nname\tMédiathèque\nshelf\t\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = Run(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[2]);
        EXPECT_EQ(o.status, 0) << o;
        EXPECT_EQ(o.out, c.out) << o;
        EXPECT_EQ(o.err, "");
    }
}

// --- Editing -------------------------------------------------------------------------------

TEST_F(ToolTest, SetEditsTheFirstNodeAndSavesAtomically) {
    ASSERT_EQ(::chmod(m_library.c_str(), 0640), 0);
    const Outcome o = Run({"set", m_library, "library/shelf/book", "--attr", "year=2024", "--attr", "lent=yes", "--add",
                           "note=Returned late", "--add", "stamp="});
    ASSERT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");

    struct stat st {};
    ASSERT_EQ(::stat(m_library.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the saved file keeps its permissions";
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"broken.xml", "library.xml"})) << "no temporary left";

    // Reread, by the tool and by the library.
    EXPECT_EQ(Lines(Run({"get", m_library, "library/shelf/book", "--attr", "year", "--attr", "lent"}).out),
              (std::vector<std::string>{"2024\tyes", "\t", "2001\t"}));
    EXPECT_EQ(Run({"dict", m_library, "library/shelf/book"}).out, "note\tReturned late\nstamp\t\ntitle\tÉté\n");
    XML::CKelXML doc;
    ASSERT_TRUE(doc.Load(m_library.c_str(), false)) << Records(doc).front().strMessage;
    unsigned int books = 0;
    ASSERT_TRUE(XML::CKelXML::GetNbChildInNode(doc.GetDocument()->getDocumentElement(), "book", books));
    EXPECT_EQ(books, 4u);

    const Outcome removed = Run({"set", m_library, "library/shelf/book", "--remove"});
    ASSERT_EQ(removed.status, 0) << removed;
    EXPECT_EQ(Run({"count", m_library, "book"}).out, "3\n");
    EXPECT_EQ(Lines(Run({"get", m_library, "library/shelf/book", "--attr", "isbn"}).out),
              (std::vector<std::string>{"2", "3"}));
}

// set writes the document as it was loaded: each edit changes only its own lines, and a
// document already in the tool's pretty form keeps its declaration and layout byte for byte.
TEST_F(ToolTest, SetChangesOnlyWhatWasEdited) {
    std::string expected = kLibrary;
    ASSERT_EQ(Run({"set", m_library, "library/shelf/book", "--attr", "year=2024"}).status, 0);
    expected.replace(expected.find("year=\"1999\""), 11, "year=\"2024\"");
    EXPECT_EQ(ReadFile(m_library), expected);
    ASSERT_EQ(Run({"set", m_library, "library/shelf", "--add", "book="}).status, 0);
    expected.insert(expected.find("\n  </shelf>"), "\n    <book/>");
    EXPECT_EQ(ReadFile(m_library), expected);
    ASSERT_EQ(Run({"set", m_library, "library/name", "--remove"}).status, 0);
    const std::size_t name = expected.find("\n  <name>");
    expected.erase(name, expected.find("</name>") + 7 - name);
    EXPECT_EQ(ReadFile(m_library), expected);

    const std::string pretty = m_dir.File("pretty.xml");
    ASSERT_EQ(Run({"format", m_library, "-o", pretty}).status, 0);
    const std::string formatted = ReadFile(pretty);
    ASSERT_EQ(Run({"set", pretty, "library", "--attr", "open=no"}).status, 0);
    std::string edited = formatted;
    edited.replace(edited.find("open=\"yes\""), 10, "open=\"no\"");
    EXPECT_EQ(ReadFile(pretty), edited);
}

TEST_F(ToolTest, FailedEditsLeaveTheFileAsItWas) {
    const std::string before = ReadFile(m_library);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"library", "--remove"}, "the root element cannot be removed"},
        {{"library/attic", "--attr", "a=b"}, "nothing at path"},
        {{"library", "--attr", "1bad=x"}, ": exception: "},
        // The first action succeeds in memory; the second fails, so nothing is saved.
        {{"library", "--attr", "ok=1", "--add", "bad name=x"}, ": exception: "},
        {{"library/name/#text", "--attr", "a=b"}, "is not an element"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"set", m_library};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = Run(args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(o.status, 1) << o;
        EXPECT_TRUE(Contains(o.err, m_library)) << o;
        EXPECT_TRUE(Contains(o.err, c.message)) << o;
        EXPECT_EQ(ReadFile(m_library), before);
    }
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"broken.xml", "library.xml"}));
}

TEST_F(ToolTest, SetRefusesAFileItCannotReplace) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop writing";
    const std::string locked = m_dir.File("locked");
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    const std::string file = locked + "/doc.xml";
    WriteFile(file, kLibrary);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    const Outcome o = Run({"set", file, "library", "--attr", "a=b"});
    ::chmod(locked.c_str(), 0755);
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_TRUE(Contains(o.err, file + ": exception: ")) << o;
    EXPECT_EQ(ReadFile(file), kLibrary);
}

// --- format --------------------------------------------------------------------------------

TEST_F(ToolTest, FormatWritesToStandardOutputOrAFile) {
    const Outcome pretty = Run({"format", m_library});
    ASSERT_EQ(pretty.status, 0) << pretty;
    EXPECT_EQ(pretty.err, "");
    EXPECT_TRUE(Contains(pretty.out, "<name>Médiathèque</name>")) << pretty;
    EXPECT_TRUE(Contains(pretty.out, "<![CDATA[a < b & c]]>")) << pretty;

    const std::string out = m_dir.File("out.xml");
    ASSERT_EQ(Run({"format", m_library, "-o", out}).status, 0);
    EXPECT_EQ(ReadFile(out), pretty.out) << "-o writes what standard output shows";

    // Formatting is stable: the formatted text formats to itself.
    EXPECT_EQ(Run({"format", out}).out, pretty.out);

    const Outcome canonical = Run({"format", "--canonical", m_library});
    ASSERT_EQ(canonical.status, 0) << canonical;
    XML::CKelXML doc;
    EXPECT_TRUE(LoadText(doc, canonical.out)) << canonical;
    unsigned int books = 0;
    ASSERT_TRUE(XML::CKelXML::GetNbChildInNode(doc.GetDocument()->getDocumentElement(), "book", books));
    EXPECT_EQ(books, 4u);
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"broken.xml", "library.xml", "out.xml"}));
}

// --canonical is the older name of --unindented; --c14n and --c14n-comments are W3C Canonical XML,
// the very bytes of the library's operation.
TEST_F(ToolTest, FormatUnindentedAndCanonicalXML) {
    const Outcome unindented = Run({"format", "--unindented", m_library});
    ASSERT_EQ(unindented.status, 0) << unindented;
    EXPECT_EQ(Run({"format", "--canonical", m_library}).out, unindented.out);
    EXPECT_EQ(unindented.out.rfind("<?xml ", 0), 0u) << unindented;

    const std::string file = m_dir.File("c14n.xml");
    WriteFile(file,
              "<?xml version='1.0' encoding='ISO-8859-1'?>\n<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT n EMPTY>"
              "<!ATTLIST r a CDATA #IMPLIED b CDATA #IMPLIED><!ATTLIST n xmlns:p CDATA #IMPLIED d CDATA 'v'>"
              "<!ENTITY e 'x&#38;#38;y'>]>\n<!--c--><r b='2' a='1'>&e;<![CDATA[<]]>\xE9<n xmlns:p='http://p'/></r>\n");
    const Outcome c14n = Run({"format", "--c14n", file});
    ASSERT_EQ(c14n.status, 0) << c14n;
    EXPECT_EQ(c14n.out, "<r a=\"1\" b=\"2\">x&amp;y&lt;\xC3\xA9<n xmlns:p=\"http://p\" d=\"v\"></n></r>");
    const Outcome comments = Run({"format", "--c14n-comments", file, "-o", m_dir.File("out.xml")});
    ASSERT_EQ(comments.status, 0) << comments;
    EXPECT_EQ(ReadFile(m_dir.File("out.xml")), "<!--c-->\n" + c14n.out);

    WriteFile(file, "<r xmlns='relative'/>");
    const Outcome refused = Run({"format", "--c14n", file});
    EXPECT_EQ(refused.status, 1) << refused;
    EXPECT_TRUE(Contains(refused.err, "the namespace URI 'relative' is relative")) << refused;
}

// Canonical XML reads the whole DTD for its defaults and entities, and nothing else: no validity
// error is printed, a DTD that cannot be read is left out with a warning, and the system's XML
// catalogs (here XML_CATALOG_FILES) map DTD identifiers to local files first.
TEST_F(ToolTest, FormatC14nReadsTheDTDForItsDefaultsOnly) {
    WriteFile(m_dir.File("r.dtd"), "<!ELEMENT r EMPTY><!ATTLIST r d CDATA 'v'>");
    WriteFile(m_dir.File("catalog.xml"),
              "<?xml version='1.0'?><catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>"
              "<!-- <public publicId='-//Kel//DTD x//EN' uri='none.dtd'/> -->"
              "<public publicId='-//Kel//DTD  r//EN' uri='r.dtd'/>"
              "<delegateSystem systemIdStartString='http://example.com/dtds/' catalog='sub/catalog.xml'/></catalog>");
    ASSERT_EQ(::mkdir(m_dir.File("sub").c_str(), 0700), 0);
    WriteFile(m_dir.File("sub/catalog.xml"),
              "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>"
              "<rewriteSystem systemIdStartString='http://example.com/dtds/' rewritePrefix='../'/></catalog>");
    const struct {
        const char* document;
        const char* out;
        const char* err;  // a part of standard error, or empty when it must be empty
    } cases[] = {
        {"<!DOCTYPE r SYSTEM 'http://example.com/r.dtd' [<!ATTLIST r i CDATA 'w'>]><r>&amp;</r>",
         "<r i=\"w\">&amp;</r>",
         "DTD not read, the document is read without its declarations and default attributes: "
         "'http://example.com/r.dtd': network access refused"},
        {"<!DOCTYPE r SYSTEM 'missing.dtd'><r/>", "<r></r>", "'missing.dtd': cannot be opened"},
        {"<!DOCTYPE r SYSTEM 'r.dtd'><r x='1'/>", "<r d=\"v\" x=\"1\"></r>", ""},
        {"<!DOCTYPE r PUBLIC '-//Kel//DTD r//EN' 'http://example.com/r.dtd'><r/>", "<r d=\"v\"></r>", ""},
        {"<!DOCTYPE r SYSTEM 'http://example.com/dtds/r.dtd'><r/>", "<r d=\"v\"></r>", ""},
        {"<!DOCTYPE doc [<!ELEMENT doc EMPTY><!ATTLIST doc defatt (0|1) '0' xmlns:tst CDATA #FIXED "
         "'http://example.org' tst:att (0|1) '1'>]><doc att='1'/>",
         "<doc xmlns:tst=\"http://example.org\" att=\"1\" defatt=\"0\" tst:att=\"1\"></doc>", ""},
    };
    const std::string file = m_dir.File("c14n.xml");
    ::setenv("XML_CATALOG_FILES", m_dir.File("catalog.xml").c_str(), 1);
    for (const auto& c : cases) {
        WriteFile(file, c.document);
        const Outcome o = Run({"format", "--c14n", file});
        EXPECT_EQ(o.status, 0) << c.document << "\n" << o;
        EXPECT_EQ(o.out, c.out) << c.document;
        EXPECT_TRUE(*c.err ? Contains(o.err, c.err) : o.err.empty()) << c.document << "\n" << o;
    }
    ::unsetenv("XML_CATALOG_FILES");
}

TEST_F(ToolTest, FormatInPlaceReplacesTheFile) {
    const std::string expected = Run({"format", m_library}).out;
    const Outcome o = Run({"format", m_library, "-o", m_library});
    ASSERT_EQ(o.status, 0) << o;
    EXPECT_EQ(ReadFile(m_library), expected);
    const Outcome unwritable = Run({"format", m_library, "-o", m_dir.File("no/such/dir/out.xml")});
    EXPECT_EQ(unwritable.status, 1) << unwritable;
    EXPECT_TRUE(Contains(unwritable.err, m_dir.File("no/such/dir/out.xml") + ": exception: ")) << unwritable;
}

// --- The bundled sample --------------------------------------------------------------------

TEST_F(ToolTest, EveryCommandWorksOnTheBundledSample) {
    const std::string sample = m_dir.File("sample.xml");
    WriteFile(sample, ReadFile(KELXML_SAMPLE));
    ASSERT_FALSE(ReadFile(sample).empty()) << KELXML_SAMPLE;
    EXPECT_EQ(Run({"check", sample}).status, 0);
    const Outcome ids = Run({"get", sample, "catalog\\records\\record", "--attr", "id"});
    EXPECT_EQ(ids.status, 0) << ids;
    EXPECT_EQ(Lines(ids.out), (std::vector<std::string>{"b1", "b2", "b3", "b4"}));
    EXPECT_EQ(Run({"get", sample, "catalog/settings/name"}).out, "Médiathèque du Port\n");
    EXPECT_EQ(Run({"count", sample, "record"}).out, "4\n");
    EXPECT_TRUE(Contains(Run({"dict", sample, "catalog/settings"}).out, "port\t8080\n"));
    EXPECT_EQ(Run({"set", sample, "catalog/settings/port", "--add", "backup=8081"}).status, 0);
    EXPECT_EQ(Run({"get", sample, "catalog/settings/port/backup"}).out, "8081\n");
    EXPECT_EQ(Run({"format", sample}).status, 0);
}

}  // namespace

// --- Standard input and output -------------------------------------------------------------

TEST_F(ToolTest, DashReadsStandardInputInEveryReadingCommand) {
    // Each command prints for standard input what it prints for the same file.
    const std::vector<std::vector<std::string>> cases = {
        {"check", "-"},
        {"get", "-", "library/shelf", "--attr", "id"},
        {"count", "-", "book"},
        {"dict", "-", "library"},
    };
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args[0]);
        const Outcome o = RunWithInput(args, kLibrary);
        std::vector<std::string> onFile = args;
        onFile[1] = m_library;
        EXPECT_EQ(o.status, 0) << o;
        EXPECT_EQ(o.out, Run(onFile).out);
        EXPECT_FALSE(o.out.empty());
        EXPECT_EQ(o.err, "");
    }
    const Outcome formatted = RunWithInput({"format", "-", "-o", "-"}, kLibrary);
    EXPECT_EQ(formatted.status, 0) << formatted;
    EXPECT_EQ(formatted.out, Run({"format", m_library}).out);
    const Outcome c14n = RunWithInput({"format", "--c14n", "-", "-o", "-"}, kLibrary);
    EXPECT_EQ(c14n.status, 0) << c14n;
    EXPECT_EQ(c14n.out, Run({"format", "--c14n", m_library}).out);
    const std::string out = m_dir.File("from-stdin.xml");
    EXPECT_EQ(RunWithInput({"format", "-", "-o", out}, kLibrary).status, 0);
    EXPECT_EQ(ReadFile(out), formatted.out);
    EXPECT_FALSE(FileExists(m_dir.File("-"))) << "'-o -' is standard output, not a file named '-'";

    const Outcome validated = RunWithInput({"check", "--validate", "-"}, kLibrary);
    EXPECT_EQ(validated.status, 1) << "--validate applies to standard input too";
    const Outcome broken = RunWithInput({"check", "-"}, kBroken);
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(Lines(broken.err),
              (std::vector<std::string>{"<stdin>:3:3: fatal: expected end of tag 'book'", "  </libary>", "    ^"}));
    const Outcome empty = RunWithInput({"get", "-", "library"}, "");
    EXPECT_EQ(empty.status, 1) << empty;
    EXPECT_TRUE(Contains(empty.err, "<stdin>")) << empty;

    const Outcome set = RunWithInput({"set", "-", "library", "--attr", "a=b"}, kLibrary);
    EXPECT_EQ(set.status, 2) << set;
    EXPECT_TRUE(Contains(set.err, "standard input")) << set;
    EXPECT_EQ(set.out, "");
}

// --- Diagnostics -----------------------------------------------------------------------------

TEST_F(ToolTest, DiagnosticsNameTheirEntityAndShowTheSourceLine) {
    const std::string dtd = m_dir.File("grammar.dtd");
    WriteFile(dtd, "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n<!ELEMENT >\n");
    const std::string doc = m_dir.File("uses-dtd.xml");
    WriteFile(doc, "<!DOCTYPE a SYSTEM 'grammar.dtd'>\n<a><b/></a>\n");
    // A grammar the user named shows its line; one the document names (which may be any file,
    // /etc/shadow as well) only its name and place.
    const Outcome o = Run({"check", "--dtd", dtd, doc});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_NE(o.err.find(dtd + ":3:11: fatal: element name expected\n  <!ELEMENT >\n            ^\n"),
              std::string::npos)
        << o;
    const Outcome named = Run({"check", doc});
    ASSERT_EQ(Lines(named.err).size(), 1u) << named;
    EXPECT_EQ(Lines(named.err)[0].rfind(dtd + ":3:11: fatal: ", 0), 0u) << named;

    // A pipe is not read a second time: the diagnostic stands alone.
    const Outcome piped = Run({"check", "/dev/stdin"});
    EXPECT_EQ(piped.status, 1) << piped;
    EXPECT_EQ(Lines(piped.err).size(), 1u) << piped;

    // An error far into a long line (a minified document): an excerpt around the column only.
    std::string minified = "<a>";
    for (int i = 0; i < 20000; ++i) minified += "<b x='1'>t</b>";
    const std::string longLine = m_dir.File("minified.xml");
    WriteFile(longLine, minified + "</c>");
    const Outcome m = Run({"check", longLine});
    const std::vector<std::string> mLines = Lines(m.err);
    ASSERT_EQ(mLines.size(), 3u) << m;
    EXPECT_EQ(mLines[0], longLine + ":1:" + std::to_string(minified.size() + 3) + ": fatal: expected end of tag 'a'");
    EXPECT_EQ(mLines[1], "  ..." + minified.substr(minified.size() - 58) + "</c>");
    EXPECT_EQ(mLines[2], "  " + std::string(3 + 58 + 2, ' ') + "^");

    // Binary junk: one bounded line, no raw control bytes.
    std::string junk = "<a>";
    for (int i = 0; i < 5000; ++i) junk += static_cast<char>(i % 256 == '<' ? 'x' : i % 256);
    const std::string binary = m_dir.File("junk.xml");
    WriteFile(binary, junk);
    const Outcome j = Run({"check", binary});
    EXPECT_EQ(j.status, 1) << j;
    EXPECT_LT(j.err.size(), 1000u) << j;
    for (const char c : j.err) EXPECT_TRUE(c == '\n' || c == '\t' || static_cast<unsigned char>(c) >= 0x20) << j;
}

// --- Load modes ----------------------------------------------------------------------------

TEST_F(ToolTest, QueriesReadWellFormedDocumentsWhoseGrammarIsUnreachable) {
    const std::string bus = m_dir.File("bus.xml");
    WriteFile(bus,
              "<!DOCTYPE busconfig PUBLIC '-//x//EN' 'http://example.org/busconfig.dtd'>\n"
              "<busconfig><policy user='root'/><policy user='a'/></busconfig>\n");
    const std::string fonts = m_dir.File("fonts.xml");
    WriteFile(fonts, "<!DOCTYPE fontconfig SYSTEM 'urn:fonts.dtd'>\n<fontconfig><dir>/x</dir></fontconfig>\n");

    Outcome o = Run({"count", bus, "policy"});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "2\n");
    EXPECT_EQ(o.err, "");
    o = Run({"get", fonts, "fontconfig/dir"});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "/x\n");
    EXPECT_EQ(Run({"check", "--well-formed", bus, fonts}).status, 0);
    // Validation, asked for, still reads the grammars the documents name, and cannot.
    for (const std::string& file : {bus, fonts}) {
        o = Run({"count", "--validate", file, "policy"});
        EXPECT_EQ(o.status, 1) << o;
        EXPECT_TRUE(Contains(o.err, "could not be loaded")) << o;
        EXPECT_EQ(Run({"check", file}).status, 1);
    }
}

TEST_F(ToolTest, CanonicalFormStillReadsTheDeclaredDTD) {
    WriteFile(m_dir.File("d.dtd"), "<!ELEMENT a EMPTY><!ATTLIST a k CDATA 'dflt'>");
    const std::string file = m_dir.File("d.xml");
    WriteFile(file, "<!DOCTYPE a SYSTEM 'd.dtd'><a/>");
    const Outcome o = Run({"format", "--c14n", file});
    EXPECT_EQ(o.status, 0) << o;
    EXPECT_EQ(o.out, "<a k=\"dflt\"></a>") << o;
}

TEST_F(ToolTest, CheckAgainstNamedSchemasAndDTD) {
    WriteFile(m_dir.File("v.xsd"),
              "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:v'>"
              "<xs:element name='v' type='xs:int'/></xs:schema>");
    WriteFile(m_dir.File("lax.xsd"),
              "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:v'>"
              "<xs:element name='v'/></xs:schema>");
    WriteFile(m_dir.File("a.dtd"), "<!ELEMENT a (b)*><!ELEMENT b EMPTY>");
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(m_dir.File("v" + std::to_string(i) + ".xml"));
        // The odd ones are not numbers, and name a schema that would accept them.
        WriteFile(files.back(), i % 2 ? "<v xmlns='urn:v' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
                                        " xsi:schemaLocation='urn:v lax.xsd'>x</v>"
                                      : "<v xmlns='urn:v'>12</v>");
    }
    std::vector<std::string> args{"check", "--schema", "urn:v=" + m_dir.File("v.xsd")};
    args.insert(args.end(), files.begin(), files.end());
    Outcome o = Run(args);
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_EQ(o.out, "checked 6 files: 3 clean, 3 with problems (3 records)\n") << o;
    EXPECT_TRUE(Contains(o.err, files[1] + ":1:")) << o;
    EXPECT_TRUE(Contains(o.err, ": error: value 'x'")) << o;
    // Without --schema, each document is checked against the schema it names.
    EXPECT_EQ(Run({"check", files[1]}).status, 0);

    EXPECT_EQ(Run({"check", "--schema", m_dir.File("v.xsd"), files[0]}).status, 0);  // any namespace
    o = Run({"check", "--schema", "urn:other=" + m_dir.File("v.xsd"), files[0]});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_TRUE(Contains(o.err, "v.xsd: the schema's target namespace is 'urn:v'")) << o;

    const std::string list = m_dir.File("list.xml");
    WriteFile(list, "<!DOCTYPE a SYSTEM 'http://example.org/a.dtd'><a><b/><c/></a>");
    o = Run({"check", "--dtd", m_dir.File("a.dtd"), list});
    EXPECT_EQ(o.status, 1) << o;
    EXPECT_TRUE(Contains(o.err, "'c'")) << o;
    EXPECT_FALSE(Contains(o.err, "network")) << o;

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"check", "--well-formed", "--schema", "v.xsd", list},
          {"check", "--validate", "--dtd", "a.dtd", list},
          {"check", "--schema", "urn:v=", list},
          {"check", "--dtd", "a.dtd", "--dtd", "b.dtd", list}}) {
        o = Run(wrong);
        EXPECT_EQ(o.status, 2) << o;
    }
}

TEST_F(ToolTest, XPathPrintsNodesScalarsAndMarkup) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{m_library, "//book[@year]/title"}, 0, "\xC3\x89t\xC3\xA9\na < b & c\n"},
        {{m_library, "//book[2]/title"}, 0, "Tab\\tand \\\\ backslash\n"},
        {{m_library, "//note/text()"}, 0, "two\\nlines\n"},
        {{m_library, "count(//book)"}, 0, "4\n"},
        {{m_library, "sum(//@year) div 4"}, 0, "1000\n"},
        {{m_library, "//shelf/@id = 's2'"}, 0, "true\n"},
        {{m_library, "concat(//shelf[2]/@id, '!')"}, 0, "s2!\n"},
        {{m_library, "//book[@isbn=4]", "--xml"}, 0, "<book isbn=\"4\"/>\n"},
        {{m_library, "//book[3]/title/text()", "--xml"}, 0, "a &lt; b &amp; c\n"},
        {{m_library, "//shelf/@id", "--xml"}, 0, "id=\"s1\"\nid=\"s2\"\n"},
        {{m_library, "//nothing"}, 1, ""},
        {{m_library, "//p:book", "--ns", "p=urn:x"}, 1, ""},
        {{m_library, "//book["}, 2, ""},
        {{m_library, "//p:book"}, 2, ""},
        {{m_library, "1", "--ns", "p"}, 2, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"xpath"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = Run(args);
        SCOPED_TRACE(c.args[1]);
        EXPECT_EQ(o.status, c.status) << o;
        EXPECT_EQ(o.out, c.out) << o;
    }
    const Outcome bad = Run({"xpath", m_library, "//book["});
    EXPECT_TRUE(Contains(bad.err, "column 8")) << bad;
    const Outcome piped = RunWithInput({"xpath", "-", "name(/*)"}, kLibrary);
    EXPECT_EQ(piped.out, "library\n") << piped;
}

// get, count, dict and set take an XPath where they take a path; set edits every node it selects.
TEST_F(ToolTest, PathCommandsTakeAnXPath) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"get", m_library, "//book[@year]/title"}, 0, "\xC3\x89t\xC3\xA9\na < b & c\n"},
        {{"get", m_library, "//shelf", "--attr", "id"}, 0, "s1\ns2\n"},
        {{"get", m_library, "library/shelf[2]", "--xpath", "--attr", "id"}, 0, "s2\n"},
        {{"count", m_library, "//book[@year]"}, 0, "2\n"},
        {{"get", m_library, "//nothing"}, 1, ""},
        {{"get", m_library, "//book["}, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[2]);
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.status, c.status) << o;
        EXPECT_EQ(o.out, c.out) << o;
    }
    const std::string edited = m_dir.File("edited.xml");
    WriteFile(edited, kLibrary);
    EXPECT_EQ(Run({"set", edited, "//shelf", "--attr", "seen=1"}).status, 0);
    EXPECT_EQ(Run({"count", edited, "//shelf[@seen]"}).out, "2\n");
    EXPECT_EQ(Run({"set", edited, "//book", "--first", "--attr", "seen=1"}).status, 0);
    EXPECT_EQ(Run({"count", edited, "//book[@seen]"}).out, "1\n");
}
