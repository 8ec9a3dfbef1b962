#include "CorpusSupport.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include <cstdlib>

#include <sys/wait.h>

namespace kelxml_test {

namespace {
const char* const kOutcomes[] = {"ok", "warn", "error", "fatal", "exception", "other"};
}

const char* Name(Outcome o) { return kOutcomes[static_cast<int>(o)]; }

std::vector<std::vector<std::string>> ReadRows(const std::string& file, bool unescape) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(ReadFile(file));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        rows.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t'); rows.back().push_back(field))
            for (std::size_t at = 0; unescape && (at = field.find('\\', at)) != std::string::npos; ++at) {
                const char c = field[at + 1];
                const std::size_t plain = std::string("nrt").find(c);
                field.replace(at, c == 'x' ? 4 : 2, 1,
                              c == 'x' ? static_cast<char>(std::stoi(field.substr(at + 2, 2), nullptr, 16))
                              : plain != std::string::npos ? "\n\r\t"[plain]
                                                           : c);
            }
    }
    return rows;
}

int RunIn(const std::string& folder, const std::string& command) {
    const int status = std::system(("cd '" + folder + "' && " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const ConformanceSuite& Suite() {
    static const ConformanceSuite suite = [] {
        ConformanceSuite s;
        if (SharedDir().empty()) return s;
        const std::string corpus = SharedDir() + "/corpus";
        s.folder = std::make_unique<TempDir>();
        s.status = RunIn(s.folder->path(), "'" KELXML_CMAKE_COMMAND "' -E tar xf '" + corpus + "/xmlts20130923.zip'");
        s.root = s.folder->path() + "/xmlconf";
        // Columns: path, type, outcome, id, warnings, errors, fatal errors, first diagnostic.
        for (std::vector<std::string>& c : ReadRows(corpus + "/xerces-expected.tsv")) {
            c.resize(8);
            const auto outcome = std::find(std::begin(kOutcomes), std::end(kOutcomes) - 1, c[2]) - kOutcomes;
            s.expected.push_back({c[0], c[3], static_cast<Outcome>(outcome), static_cast<unsigned>(std::stoul(c[4])),
                                  static_cast<unsigned>(std::stoul(c[5])), static_cast<unsigned>(std::stoul(c[6])),
                                  c[7]});
        }
        return s;
    }();
    return suite;
}

std::string SuiteMissing() {
    return std::string("the conformance suite is absent: ") + KELXML_SHARED_DIR +
           "/corpus (xmlts20130923.zip, xerces-expected.tsv) not found";
}

}  // namespace kelxml_test
