// Canonical XML against an independent implementation: every document of the conformance suite
// that both this library and xmllint load is canonicalised by both, with and without comments,
// and the bytes compared. xmllint runs as a process per document.
#include "CorpusSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include <unistd.h>

using namespace kelxml_test;

namespace {

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return {};
}

// The form without comments, derived exactly from a canonical form with comments (xmllint has
// no option for it). In canonical text '<' only starts markup (text and attribute values escape
// it); a comment ends at the first "-->", a PI at the first "?>", a tag at the first '>' outside
// its quoted values (which escape '"'). A comment beside the document element takes its line
// feed along.
std::string WithoutComments(const std::string& c14n) {
    std::string out;
    int depth = 0;
    bool afterRoot = false;
    for (std::size_t i = 0; i < c14n.size();) {
        if (c14n[i] != '<') {
            out += c14n[i++];
            continue;
        }
        std::size_t end = std::string::npos;
        if (c14n.compare(i, 4, "<!--") == 0) {
            end = c14n.find("-->", i + 4);
            if (end == std::string::npos) break;
            end += 3;
            if (depth == 0 && !afterRoot && end < c14n.size() && c14n[end] == '\n') ++end;
            if (depth == 0 && afterRoot && !out.empty() && out.back() == '\n') out.pop_back();
            i = end;
            continue;
        }
        if (c14n.compare(i, 2, "<?") == 0) {
            end = c14n.find("?>", i);
            if (end != std::string::npos) end += 2;
        } else if (c14n.compare(i, 2, "</") == 0) {
            end = c14n.find('>', i);
            if (end != std::string::npos) ++end;
            afterRoot = --depth == 0;
        } else {
            bool quoted = false;
            for (end = i + 1; end < c14n.size() && (quoted || c14n[end] != '>'); ++end)
                if (c14n[end] == '"') quoted = !quoted;
            ++end;
            ++depth;
        }
        if (end == std::string::npos || end > c14n.size()) end = c14n.size();
        out.append(c14n, i, end - i);
        i = end;
    }
    return out;
}

TEST(CanonicalCorpus, WithoutCommentsDerivation) {
    EXPECT_EQ(WithoutComments("<!--a-->\n<?p <!--x-->?>\n<d a=\"<!-->\">t<!--c--><e></e></d>\n<!--z-->\n<?q?>"),
              "<?p <!--x-->?>\n<d a=\"<!-->\">t<e></e></d>\n<?q?>");
}

// Where the bytes differ, the first differing stretch of both.
std::string FirstDifference(const std::string& ours, const std::string& theirs) {
    std::size_t at = 0;
    while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) ++at;
    const std::size_t from = at < 20 ? 0 : at - 20;
    return "ours '" + ours.substr(from, 60) + "' xmllint '" + theirs.substr(from, 60) + "'";
}

// Documents whose canonical forms differ for a reason outside canonicalisation, each with its
// reason (tests/data/c14n-differences.tsv): xmllint's parser reads them otherwise. A listed
// document that becomes identical fails the test, so the list stays exact.
std::map<std::string, std::string> ReadDifferences() {
    std::map<std::string, std::string> reasons;
    std::istringstream lines(ReadFile(KELXML_TEST_DATA "/c14n-differences.tsv"));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (!line.empty() && line[0] != '#' && tab != std::string::npos)
            reasons[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return reasons;
}

TEST(CanonicalCorpus, MatchesXmllintByteForByte) {
    const ConformanceSuite& suite = Suite();
    if (!suite.folder) GTEST_SKIP() << SuiteMissing();
    const std::string xmllint = FindProgram("xmllint");
    if (xmllint.empty()) GTEST_SKIP() << "xmllint is not installed (Debian: libxml2-utils): nothing to compare with";
    ASSERT_EQ(suite.status, 0) << "could not unpack the suite";

    TempDir scratch;
    const std::string output = scratch.File("c14n");
    std::size_t compared = 0, identical = 0, notLoaded = 0, xmllintRefused = 0, bothRefused = 0;
    const std::map<std::string, std::string> differences = ReadDifferences();
    ASSERT_FALSE(differences.empty()) << "tests/data/c14n-differences.tsv is missing";
    std::map<std::string, std::size_t> excluded;
    std::string report;
    for (const Expected& e : suite.expected) {
        if (e.outcome != Outcome::ok && e.outcome != Outcome::warn && e.outcome != Outcome::error) {
            ++notLoaded;
            continue;
        }
        const std::string path = suite.root + "/" + e.path;
        // As format --c14n reads it: the DTD for its defaults and entities, no validation.
        XML::CKelXML doc;
        XML::sLoadOptions options;
        options.eMode = XML::E_LOAD_DTD_DEFAULTS;
        doc.Load(path.c_str(), options);
        std::string ours, oursWithout;
        const bool written = doc.GetCanonicalXML(doc.GetDocument(), true, ours) &&
                             doc.GetCanonicalXML(doc.GetDocument(), false, oursWithout);
        if (RunIn(suite.root, {xmllint, "--nonet", "--c14n", path}, output) != 0) {
            ++xmllintRefused;
            bothRefused += !written;
            continue;
        }
        if (!written) {
            report += e.id + " " + e.path + ": refused: " + Records(doc).back().strMessage + "\n";
            continue;
        }
        ++compared;
        const std::string theirs = ReadFile(output);
        const auto listed = differences.find(e.id);
        const std::string* exclusion = listed == differences.end() ? nullptr : &listed->second;
        if (ours == theirs && oursWithout == WithoutComments(theirs)) {
            ++identical;
            if (exclusion) report += e.id + ": listed (" + *exclusion + ") but identical\n";
            continue;
        }
        if (exclusion) {
            ++excluded[*exclusion];
            continue;
        }
        report += e.id + " " + e.path + ": " +
                  (ours != theirs ? FirstDifference(ours, theirs)
                                  : "without comments " + FirstDifference(oursWithout, WithoutComments(theirs))) +
                  "\n";
    }
    std::printf("[ c14n     ] %zu documents compared, %zu identical, %zu differ for a known reason:\n", compared,
                identical, compared - identical);
    for (const auto& [reason, count] : excluded) std::printf("[ c14n     ]   %zu: %s\n", count, reason.c_str());
    std::printf(
        "[ c14n     ] not compared: %zu the parser does not load, %zu xmllint refuses (%zu of them refused "
        "here too: relative namespace URIs)\n",
        notLoaded, xmllintRefused, bothRefused);
    EXPECT_EQ(report, "");
}

}  // namespace
