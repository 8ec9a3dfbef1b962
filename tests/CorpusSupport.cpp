#include "CorpusSupport.h"

#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelxml_test {

const char* Name(Outcome o) {
    switch (o) {
    case Outcome::ok: return "ok";
    case Outcome::warn: return "warn";
    case Outcome::error: return "error";
    case Outcome::fatal: return "fatal";
    case Outcome::exception: return "exception";
    case Outcome::other: break;
    }
    return "other";
}

Outcome ParseOutcome(const std::string& text) {
    for (Outcome o : {Outcome::ok, Outcome::warn, Outcome::error, Outcome::fatal, Outcome::exception})
        if (text == Name(o)) return o;
    return Outcome::other;
}

std::vector<Expected> ReadExpected(const std::string& file) {
    std::vector<Expected> rows;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::istringstream fields(line);
        for (std::string col; std::getline(fields, col, '\t');) cols.push_back(col);
        if (cols.size() < 7) continue;
        cols.resize(8);
        Expected e;
        e.path = cols[0];
        e.type = cols[1];
        e.outcome = ParseOutcome(cols[2]);
        e.id = cols[3];
        e.warnings = static_cast<unsigned>(std::stoul(cols[4]));
        e.errors = static_cast<unsigned>(std::stoul(cols[5]));
        e.fatals = static_cast<unsigned>(std::stoul(cols[6]));
        e.first = cols[7];
        rows.push_back(e);
    }
    return rows;
}

// posix_spawn rather than fork: a sanitized test program maps terabytes of shadow memory, which
// fork copies the page tables of, once per document.
int RunIn(const std::string& folder, const std::vector<std::string>& argv, const std::string& output) {
    struct Actions {
        Actions() { ::posix_spawn_file_actions_init(&value); }
        ~Actions() { ::posix_spawn_file_actions_destroy(&value); }
        posix_spawn_file_actions_t value;
    } actions;
    if (::posix_spawn_file_actions_addchdir_np(&actions.value, folder.c_str()) != 0) return -1;
    if (!output.empty() && (::posix_spawn_file_actions_addopen(&actions.value, 1, output.c_str(),
                                                               O_WRONLY | O_CREAT | O_TRUNC, 0600) != 0 ||
                            ::posix_spawn_file_actions_addopen(&actions.value, 2, "/dev/null", O_WRONLY, 0) != 0))
        return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, args[0], &actions.value, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const ConformanceSuite& Suite() {
    static const ConformanceSuite suite = [] {
        ConformanceSuite s;
        const std::string shared = SharedDir();
        if (shared.empty()) return s;
        s.folder = std::make_unique<TempDir>();
        const std::string corpus = shared + "/corpus";
        s.status = RunIn(s.folder->path(), {KELXML_CMAKE_COMMAND, "-E", "tar", "xf", corpus + "/xmlts20130923.zip"});
        s.root = s.folder->path() + "/xmlconf";
        s.expected = ReadExpected(corpus + "/xerces-expected.tsv");
        return s;
    }();
    return suite;
}

std::string SuiteMissing() {
    return std::string("the conformance suite is absent: ") + KELXML_SHARED_DIR +
           "/corpus (xmlts20130923.zip, xerces-expected.tsv) not found";
}

}  // namespace kelxml_test
