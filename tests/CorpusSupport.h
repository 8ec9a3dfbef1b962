// CorpusSupport: the shared conformance suite for the tests that run over it (unpacked once per
// test program into a temporary folder, with the parser's expected outcome for each document),
// tab-separated data files, and running a program as a process.
#ifndef KELXML_CORPUS_SUPPORT_H
#define KELXML_CORPUS_SUPPORT_H

#include "TestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace kelxml_test {

// Worst event of a load, in the order the parser's expectations are written.
enum class Outcome { ok, warn, error, fatal, exception, other };
const char* Name(Outcome o);

// One line of xerces-expected.tsv.
struct Expected {
    std::string path, id;
    Outcome outcome = Outcome::other;
    unsigned warnings = 0, errors = 0, fatals = 0;
    std::string first;  // "W|E|F line:col message", or empty
};

// The fields of each line of a tab-separated file, blank lines and # comments left out. With
// unescape, \n \r \t \\ and \xHH in a field stand for the character.
std::vector<std::vector<std::string>> ReadRows(const std::string& file, bool unescape = false);

// Runs a shell command in folder (names quoted with '); its exit status, -1 when it did not exit.
int RunIn(const std::string& folder, const std::string& command);

// The suite, unpacked with CMake's archive tool on first use and removed at exit.
struct ConformanceSuite {
    std::unique_ptr<TempDir> folder;  // null when the shared material is absent
    int status = -1;                  // of the unpacking
    std::string root;                 // the xmlconf folder
    std::vector<Expected> expected;   // one row per document, 2585 of them
};
const ConformanceSuite& Suite();
// Why a test over the suite skips itself when Suite().folder is null.
std::string SuiteMissing();

}  // namespace kelxml_test

#endif
