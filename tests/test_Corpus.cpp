// Conformance corpus: every document of the shared XML conformance suite loads through Load with
// the outcome the bare parser gives it (same configuration), from a file and from memory; saves,
// streams and counts as its loaded tree says.
#include "CorpusSupport.h"
#include "StreamCompare.h"

#include <map>
#include <set>
#include <sstream>

#include <sys/mman.h>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;
using namespace xercesc;

namespace {

// What one Load recorded: the worst kind, the number of records per Outcome, the first record as
// "W|E|F line:col message" (a parser record reads "<systemId>, lig=<line> col=<col>, <message>").
struct Observed {
    Outcome outcome = Outcome::ok;
    unsigned counts[6] = {};
    std::string first;
};

Observed Classify(const XML::CKelXML& doc) {
    Observed seen;
    for (const XML::sError& r : Records(doc)) {
        const Outcome o = r.eType <= XML::E_EXCEPTION ? static_cast<Outcome>(r.eType + 1) : Outcome::other;
        ++seen.counts[static_cast<int>(o)];
        seen.outcome = std::max(seen.outcome, o);
        if (!seen.first.empty()) continue;
        const std::string& m = r.strMessage;
        const std::size_t lig = m.find(", lig="), col = m.find(" col=", lig), text = m.find(", ", col);
        seen.first = lig == std::string::npos || text == std::string::npos || r.eType > XML::E_FATAL_ERROR
                         ? "X " + m
                         : std::string(1, "WEF"[r.eType]) + " " + m.substr(lig + 6, col - lig - 6) + ":" +
                               m.substr(col + 5, text - col - 5) + " " + m.substr(text + 2);
    }
    return seen;
}

// A file in memory that Save writes in place through /proc/self/fd/N: the round trip would spend
// minutes in the flushes of thousands of atomic replaces.
struct MemoryFile {
    const int fd = ::memfd_create("saved", MFD_CLOEXEC);
    ~MemoryFile() { ::close(fd); }
    // What Save wrote of node (null: the document) in form; empty when refused.
    std::string Save(XML::CKelXML& doc, const DOMNode* node, XML::E_SAVE_FORM form) const {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        if (!(node ? doc.Save(path.c_str(), node, form) : doc.Save(path.c_str(), form))) return {};
        std::string bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
        const bool read = ::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
        return read && ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 ? bytes : std::string();
    }
};

class Corpus : public ::testing::Test {
protected:
    void SetUp() override {
        if (!suite.folder) GTEST_SKIP() << SuiteMissing();
        ASSERT_EQ(suite.status, 0) << "could not unpack the suite with " << KELXML_CMAKE_COMMAND;
        ASSERT_EQ(suite.expected.size(), 2585u) << "xerces-expected.tsv is incomplete";
    }
    const ConformanceSuite& suite = Suite();
};

}  // namespace

// From a file, and from memory with the file as base (its relative references resolve the same):
// the parser's outcome, Load's result, the count of each kind and the first record.
TEST_F(Corpus, LoadMatchesTheParser) {
    std::string mismatches;
    for (const bool memory : {false, true})
        for (const Expected& e : suite.expected) {
            const std::string path = suite.root + "/" + e.path;
            XML::CKelXML doc;
            const bool result = memory ? LoadText(doc, ReadFile(path), path) : doc.Load(path.c_str(), false);
            const Observed seen = Classify(doc);
            std::string first = seen.first, want = e.first;
            first = Replace(first, suite.root, "$SUITE");
            if (memory) want = Replace(want, "$SUITE/" + e.path, "toto");  // a document from memory is "toto"
            // The parser's list names an exception's class; our record does not.
            if (want.rfind("X ", 0) == 0 && want.find(' ', 2) != std::string::npos)
                want.erase(2, want.find(' ', 2) - 1);
            std::ostringstream got, wanted;
            got << Name(seen.outcome) << ' ' << result << ' ' << seen.counts[1] << '/' << seen.counts[2] << '/'
                << seen.counts[3] << '/' << seen.counts[5] << ' ' << first;
            wanted << Name(e.outcome) << ' ' << (e.outcome == Outcome::ok) << ' ' << e.warnings << '/' << e.errors
                   << '/' << e.fatals << "/0 " << want;
            if (got.str() != wanted.str())
                mismatches += e.id + (memory ? " memory: " : " file: ") + got.str() + " (parser: " + wanted.str() +
                              ")\n";
        }
    EXPECT_EQ(mismatches, "");
}

// Every document that loads (ok, warning or error) is saved in each form and loaded again from its
// own folder: the same outcome (or the one tests/data/corpus-save-differences.tsv gives, with why),
// the same information, the same bytes at a second save. Its root element and first child element,
// saved alone in each form, load alone with the canonical form they have in the document (in pretty
// form, the tree of the unindented form, indentation aside).
TEST_F(Corpus, EverySaveLoadsBackTheSame) {
    const XML::E_SAVE_FORM forms[] = {XML::E_SAVE_CANONICAL, XML::E_SAVE_AS_LOADED, XML::E_SAVE_PRETTY};
    const char* const formNames[] = {"pretty", "canonical", "as-loaded"};  // the order of E_SAVE_FORM
    std::map<std::string, std::vector<std::string>> listed;
    for (const auto& row : ReadRows(KELXML_TEST_DATA "/corpus-save-differences.tsv")) listed[row.at(0)] = row;
    std::set<std::string> met;
    const MemoryFile saved;
    std::string mismatches;
    for (const Expected& e : suite.expected) {
        const std::string path = suite.root + "/" + e.path;
        XML::CKelXML doc;
        doc.Load(path.c_str(), false);
        const Outcome outcome = Classify(doc).outcome;
        if (outcome > Outcome::error || !doc.GetDocument()) continue;
        const auto row = listed.find(e.id);
        const std::string want = row == listed.end() ? Name(outcome) : (met.insert(e.id), row->second.at(1));
        const auto fail = [&](XML::E_SAVE_FORM form, const std::string& what) {
            mismatches += e.id + " " + e.path + " form " + std::to_string(form) + ": " + what + "\n";
        };
        for (const XML::E_SAVE_FORM form : forms) {
            // A row holds for the forms its fourth column names, for all without one.
            const bool differs = row != listed.end() &&
                                 (row->second.size() < 4 || row->second[3].find(formNames[form]) != std::string::npos);
            const std::string wantHere = differs ? row->second.at(1) : Name(outcome);
            const bool pretty = form == XML::E_SAVE_PRETTY;
            const std::string bytes = saved.Save(doc, nullptr, form);
            XML::CKelXML back;
            LoadText(back, bytes, path);
            const Observed again = Classify(back);
            if (Name(again.outcome) != wantHere)
                fail(form, std::string("reloads as ") + Name(again.outcome) + ": " + again.first);
            else if (wantHere != "fatal" &&
                     InformationOf(doc.GetDocument(), pretty) != InformationOf(back.GetDocument(), pretty))
                fail(form, "reloads with other information");
            else if (wantHere != "fatal" && saved.Save(back, nullptr, form) != bytes)
                fail(form, "a second save differs");
        }
        if (want == "fatal") continue;  // what does not reload whole does not in part either
        const DOMElement* root = doc.GetDocument()->getDocumentElement();
        const DOMNode* child = root->getFirstChild();
        while (child && child->getNodeType() != DOMNode::ELEMENT_NODE) child = child->getNextSibling();
        for (const DOMNode* part : {static_cast<const DOMNode*>(root), child}) {
            std::string canonical, unindented;
            if (!part || !doc.GetCanonicalXML(part, true, canonical)) continue;  // a relative namespace URI
            for (const XML::E_SAVE_FORM form : forms) {
                XML::CKelXML back;
                LoadText(back, saved.Save(doc, part, form));
                std::string again;
                const bool alone = Classify(back).outcome <= Outcome::error &&
                                   back.GetCanonicalXML(back.GetDocument(), true, again);
                const std::string tree = alone ? InformationOf(back.GetDocument(), true) : "";
                if (form == XML::E_SAVE_CANONICAL) unindented = tree;
                if (!alone || (form == XML::E_SAVE_PRETTY ? tree != unindented : again != canonical))
                    fail(form, std::string(part == root ? "root" : "child") + " loads otherwise alone");
            }
        }
    }
    for (const auto& [id, outcome] : listed)
        if (!met.count(id)) mismatches += id + ": listed in corpus-save-differences.tsv but not met\n";
    EXPECT_EQ(mismatches, "");
}

// The walks that build no tree, on every document: the streaming walk (for the root element and
// for the children named like its first element child) makes the calls, verdicts and records of
// LoopElements on the loaded document; the count gives what the loaded tree holds, with the load's
// records and result; Validate gives the load's result and records without a tree.
TEST_F(Corpus, WalksWithoutATreeMatchTheLoadedTree) {
    std::string mismatches;
    for (const Expected& e : suite.expected) {
        const std::string file = suite.root + "/" + e.path;
        XML::CKelXML loaded, counted;
        const bool result = loaded.Load(file.c_str(), false);
        const DOMElement* root = loaded.GetDocument() ? loaded.GetDocument()->getDocumentElement() : nullptr;
        const std::string rootName = root ? XML::XStr::ToLocal(root->getNodeName()) : "doc";
        std::set<std::string> paths{rootName};
        const DOMNode* child = root ? root->getFirstChild() : nullptr;
        while (child && child->getNodeType() != DOMNode::ELEMENT_NODE) child = child->getNextSibling();
        if (child) paths.insert(rootName + "\\" + XML::XStr::ToLocal(child->getNodeName()));
        for (const std::string& path : paths)
            if (const std::string why = CompareStream(
                    file, "", WalkCase{path, {"id", "a"}, false, true, false, [](std::size_t i) { return i < 3; }});
                !why.empty())
                mismatches += e.id + ": " + why;

        unsigned int want = 0;
        if (result) XML::CKelXML::GetNbChildInNode(root, "*", want);
        unsigned long got = 0;
        const bool counts = counted.GetNbElementsInFile(file.c_str(), false, "*", got);
        if (counts != result || (result && got != want) || Dump(counted) != Dump(loaded))
            mismatches += e.id + " count " + std::to_string(counts) + " " + std::to_string(got) + " (load " +
                          std::to_string(result) + " " + std::to_string(want) + ") " + Dump(counted) + "\n";
        XML::CKelXML checked;
        if (checked.Validate(file.c_str(), {}) != result || Dump(checked) != Dump(loaded))
            mismatches += e.id + " Validate:\n" + Dump(checked);
    }
    EXPECT_EQ(mismatches, "");
}
