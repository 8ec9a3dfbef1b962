// The kelxml tool, run as a separate process on real files: the command lines and what each must
// print, exit with and leave on disk are rows of tests/data/tool/cases.txt (its head says how).
#include "TestSupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace kelxml_test;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(KELXML_TEST_DATA) + "/tool/";

struct Outcome {
    int status = -1;  // the exit code; -1 when the process did not exit normally
    std::string out;
    std::string err;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "status " << o.status << "\n--- stdout\n" << o.out << "--- stderr\n" << o.err;
}

// Runs argv (argv[0]: the program's path) in folder dir, standard input read from input; the
// captured output goes beside dir.
Outcome RunProgram(const std::string& dir, std::vector<std::string> argv, const std::string& input = "/dev/null") {
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    const std::string out = dir + ".stdout", err = dir + ".stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) return outcome;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
}

Outcome RunTool(const std::string& dir, const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    std::vector<std::string> argv{KELXML_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(dir, std::move(argv), input);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// Words at spaces; a word starting with a quote runs to the matching quote.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        const bool quoted = line[i] == '\'' || line[i] == '"';
        const std::size_t end = quoted ? line.find(line[i], i + 1) : line.find(' ', i);
        words.push_back(line.substr(i + quoted, (end == std::string::npos ? line.size() : end) - i - quoted));
        i = end == std::string::npos ? line.size() : end + 1;
    }
    return words;
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// Whether actual is what the expectation column allows (see the data file's head).
bool Matches(const std::string& expected, const std::string& actual) {
    if (expected == "*") return true;
    if (!expected.empty() && expected[0] == '@') return actual == ReadFile(kData + expected.substr(1));
    if (expected.empty() || expected[0] != '~') return actual == Unescaped(expected);
    for (const std::string& part : Split(expected.substr(1), '~')) {
        const bool negated = !part.empty() && part[0] == '!';
        const std::string text = Unescaped(part.substr(negated));
        if ((actual.find(text) != std::string::npos) == negated) return false;
    }
    return true;
}

// The rows acting on the folder; a failure is a message.
std::string Act(const std::string& dir, const std::vector<std::string>& w, const fs::path& start) {
    const auto at = [&dir](const std::string& name) { return dir + "/" + name; };
    if (w[0] == "@copy") fs::copy_file(at(w[1]), at(w[2]), fs::copy_options::overwrite_existing);
    if (w[0] == "@chmod") ::chmod(at(w[2]).c_str(), static_cast<mode_t>(std::stoul(w[1], nullptr, 8)));
    if (w[0] == "@sample") fs::copy_file(KELXML_SAMPLE, at(w[1]));
    if (w[0] == "@env") ::setenv(w[1].c_str(), at(w[2]).c_str(), 1);
    if (w[0] == "@unenv") ::unsetenv(w[1].c_str());
    if (w[0] == "@absent" && FileExists(at(w[1]))) return w[1] + " exists";
    if (w[0] == "@same") {
        const std::string expected = w.size() > 2 ? kData + w[2] : (start / w[1]).string();
        if (ReadFile(at(w[1])) != ReadFile(expected)) return w[1] + " differs from " + expected;
    }
    if (w[0] == "@mode") {
        struct stat st {};
        if (::stat(at(w[1]).c_str(), &st) != 0 || (st.st_mode & 07777) != std::stoul(w[2], nullptr, 8))
            return w[1] + " lost its mode";
    }
    if (w[0] == "@clean")
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().string()[0] == '.') return "left behind: " + entry.path().string();
    return {};
}

std::vector<std::string> Lines(const std::string& text) {
    return Split(text.substr(0, text.size() - (!text.empty() && text.back() == '\n')), '\n');
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
std::set<std::string> Completions(const std::string& dir, const std::vector<std::string>& words) {
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
TEST(Tool, ManPageAndCompletionFollowTheHelp) {
    TempDir root;
    const std::string dir = root.File("work");
    fs::create_directory(dir);
    const auto Run = [&dir](const std::vector<std::string>& args) { return RunTool(dir, args); };
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
        {"bash completion", Completions(dir, {""}),
         [&](const std::string& command) {
             return Completions(dir, {command, "-"});
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
    // After the first operand (a valued option's value is none), --huge, --resources and the
    // limits are operands: the completion no longer offers them.
    for (const auto& [words, offered] : std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"get", "--attr", "id", "--max-depth=9", "-"}, true}, {{"get", "--attr", "id", "a.xml", "-"}, false}}) {
        const std::set<std::string> options = Completions(dir, words);
        for (const char* option : {"--huge", "--resources", "--max-depth", "--max-diagnostics"})
            EXPECT_EQ(options.count(option) == 1, offered) << option << " after " << words[3];
        EXPECT_TRUE(options.count("--text"));
    }
}

TEST(Tool, EveryCommandLineOfTheTable) {
    TempDir root;
    const std::string dir = root.File("work");
    fs::copy(kData + "files", dir, fs::copy_options::recursive);
    std::ifstream rows(kData + "cases.txt");
    ASSERT_TRUE(rows) << kData;
    int number = 0;
    for (std::string row; std::getline(rows, row);) {
        ++number;
        if (row.empty() || row[0] == '#') continue;
        const std::vector<std::string> columns = Split(row, '\t');
        std::vector<std::string> args = Words(columns[0]);
        SCOPED_TRACE("cases.txt:" + std::to_string(number) + ": " + columns[0]);
        if (!args.empty() && args[0][0] == '@') {
            EXPECT_EQ(Act(dir, args, kData + "files"), "");
            continue;
        }
        ASSERT_EQ(columns.size(), 4u) << "a command row has four columns";
        std::string input = "/dev/null";
        if (!args.empty() && args.back()[0] == '<') {
            input = dir + "/" + args.back().substr(1);
            args.pop_back();
        }
        const Outcome o = RunTool(dir, args, input);
        std::ostringstream shown;
        shown << '\n' << o;
        EXPECT_EQ(std::to_string(o.status), columns[1]) << shown.str();
        EXPECT_TRUE(Matches(columns[2], o.out)) << shown.str();
        EXPECT_TRUE(Matches(columns[3], o.err)) << shown.str();
        if (o.status == 2) {
            EXPECT_TRUE(o.out.empty()) << shown.str();
            EXPECT_TRUE(o.err.find("--help") != std::string::npos || o.err.find("XPath") != std::string::npos)
                << shown.str();
        }
    }
}

}  // namespace
