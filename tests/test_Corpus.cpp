// Conformance corpus: every document of the shared XML conformance suite loads through Load
// with the outcome the bare parser gives it (same configuration), from a file and from memory.
// The wrapper must neither lose nor invent a diagnostic, crash or leak on any of them.
#include "CorpusSupport.h"
#include "StreamCompare.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <sstream>

#include <sys/mman.h>
#include <unistd.h>

using namespace kelxml_test;

namespace {

// What one Load left behind, in the same terms.
struct Observed {
    Outcome outcome = Outcome::ok;
    unsigned warnings = 0, errors = 0, fatals = 0, others = 0;
    std::string first;
    bool result = false;
};

// A parser record reads "<systemId>, lig=<line> col=<col>, <message>".
std::string FirstDiagnostic(const XML::sError& record) {
    static const char kind[] = {'W', 'E', 'F'};
    const std::string& m = record.strMessage;
    const std::size_t lig = m.find(", lig=");
    const std::size_t col = lig == std::string::npos ? lig : m.find(" col=", lig);
    const std::size_t text = col == std::string::npos ? col : m.find(", ", col);
    if (text == std::string::npos || record.eType > XML::E_FATAL_ERROR) return "X " + m;
    return std::string(1, kind[record.eType]) + " " + m.substr(lig + 6, col - lig - 6) + ":" +
           m.substr(col + 5, text - col - 5) + " " + m.substr(text + 2);
}

Observed Classify(const XML::CKelXML& doc, bool result) {
    Observed seen;
    seen.result = result;
    for (const XML::sError& r : Records(doc)) {
        Outcome o = Outcome::other;
        switch (r.eType) {
        case XML::E_WARNING:
            ++seen.warnings;
            o = Outcome::warn;
            break;
        case XML::E_ERROR:
            ++seen.errors;
            o = Outcome::error;
            break;
        case XML::E_FATAL_ERROR:
            ++seen.fatals;
            o = Outcome::fatal;
            break;
        case XML::E_EXCEPTION: o = Outcome::exception; break;
        default: ++seen.others; break;
        }
        if (seen.first.empty()) seen.first = FirstDiagnostic(r);
        seen.outcome = std::max(seen.outcome, o);
    }
    return seen;
}

enum Form { kFile = 1, kMemory = 2, kBoth = 3 };

// Tests whose outcome under Load differs from the bare parser's on purpose. Each one names the
// outcome Load gives and why. An entry that no longer applies fails the test, so the list stays
// exact.
struct Deviation {
    const char* id;
    Form forms;
    Outcome outcome;
    const char* reason;
};
// None today. No test of the suite reaches the entity expansion limit (50,000), and the suite
// names network resources only as notations, unparsed entities and parsed entities it never
// references, none of which is fetched: refusing the network changes no outcome either.
const std::vector<Deviation> kDeviations = {};

const Deviation* FindDeviation(const std::string& id, Form form) {
    for (const Deviation& d : kDeviations)
        if (id == d.id && (d.forms & form)) return &d;
    return nullptr;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// The memory form has no base URI, so its relative references resolve against the working directory. From the
// document's folder they reach the same files as the file form, and both forms can be held to the same expectations:
// the tests below run it from there (WorkingDirectory).
class Corpus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const ConformanceSuite& suite = Suite();
        s_present = suite.folder != nullptr;
        s_status = suite.status;
        s_root = suite.root;
        s_expected = suite.expected;
    }

    void SetUp() override {
        if (!s_present) GTEST_SKIP() << SuiteMissing();
        ASSERT_EQ(s_status, 0) << "could not unpack the suite with " << KELXML_CMAKE_COMMAND;
        ASSERT_TRUE(FileExists(s_root + "/xmlconf.xml"));
        ASSERT_EQ(s_expected.size(), 2585u) << "xerces-expected.tsv is incomplete";
    }

    // Compares one load with the parser's expectation; returns the mismatch, or empty.
    static std::string Compare(const Expected& e, const Observed& seen, Form form, std::set<const Deviation*>& used) {
        std::ostringstream why;
        Outcome want = e.outcome;
        if (const Deviation* d = FindDeviation(e.id, form)) {
            used.insert(d);
            want = d->outcome;
        }
        if (seen.outcome != want) why << " outcome " << Name(seen.outcome) << " (parser: " << Name(want) << ")";
        if (seen.result != (seen.outcome == Outcome::ok)) why << " Load returned " << seen.result;
        if (seen.others) why << " " << seen.others << " record(s) of another kind";
        // Counts and first diagnostic only where the outcome is the parser's own.
        if (want == e.outcome && seen.outcome == want) {
            if (seen.warnings != e.warnings || seen.errors != e.errors || seen.fatals != e.fatals)
                why << " counts W/E/F " << seen.warnings << "/" << seen.errors << "/" << seen.fatals
                    << " (parser: " << e.warnings << "/" << e.errors << "/" << e.fatals << ")";
        }
        if (why.str().empty()) return {};
        return e.id + " " + e.path + ":" + why.str() + "; first record: " + seen.first + "\n";
    }

    // The first diagnostic itself: kind, position and message. The suite's folder is written
    // "$SUITE" in the parser's list; an exception there also names its class, our record does not.
    static std::string CompareFirst(const Expected& e, const Observed& seen, Form form, std::size_t& checked) {
        if (e.first.empty() || FindDeviation(e.id, form)) return {};
        std::string first = seen.first;
        Replace(first, s_root, "$SUITE");
        std::string want = e.first;
        if (form == kMemory) {
            // From memory the document is "toto"; its neighbours are found from the base given.
            Replace(want, "$SUITE/" + e.path, "toto");
        }
        if (want.rfind("X ", 0) == 0 && want.find(' ', 2) != std::string::npos) want.erase(2, want.find(' ', 2) - 1);
        ++checked;
        if (first == want) return {};
        return e.id + " " + e.path + ": first record " + first + " (parser: " + e.first + ")\n";
    }

    static std::string CheckDeviationsUsed(const std::set<const Deviation*>& used, Form form) {
        std::string stale;
        for (const Deviation& d : kDeviations)
            if ((d.forms & form) && !used.count(&d))
                stale += std::string(d.id) + ": listed as a deviation but loads as the parser does\n";
        return stale;
    }

    static bool s_present;
    static int s_status;
    static std::string s_root;
    static std::vector<Expected> s_expected;

    // Loads every document with load (which gives nothing when it cannot run) and compares each
    // outcome with the bare parser's; one failure lists every mismatch.
    template <class LoadFn>
    static void CheckForm(Form form, const char* label, LoadFn load) {
        std::string mismatches;
        std::set<const Deviation*> used;
        std::size_t matches = 0, firstChecked = 0;
        for (const Expected& e : s_expected) {
            const std::string path = s_root + "/" + e.path;
            const std::optional<Observed> seen = load(path);
            if (!seen) FAIL() << "cannot load " << path;
            std::string why = Compare(e, *seen, form, used);
            if (why.empty()) why = CompareFirst(e, *seen, form, firstChecked);
            if (why.empty()) ++matches;
            mismatches += why;
        }
        mismatches += CheckDeviationsUsed(used, form);
        EXPECT_EQ(mismatches, "");
        std::printf(
            "[ corpus   ] %s form: %zu documents, %zu match (first diagnostic compared on %zu), %zu deviations\n",
            label, s_expected.size(), matches, firstChecked, used.size());
    }
};

bool Corpus::s_present = false;
int Corpus::s_status = -1;
std::string Corpus::s_root;
std::vector<Expected> Corpus::s_expected;

}  // namespace

TEST_F(Corpus, FileFormMatchesTheParser) {
    CheckForm(kFile, "file", [](const std::string& path) -> std::optional<Observed> {
        XML::CKelXML doc;
        const bool result = doc.Load(path.c_str(), false);
        return Classify(doc, result);
    });
}

TEST_F(Corpus, MemoryFormMatchesTheParser) {
    CheckForm(kMemory, "memory", [](const std::string& path) -> std::optional<Observed> {
        XML::CKelXML doc;
        return Classify(doc, LoadText(doc, ReadFile(path), path));
    });
}

// Where two texts first differ (from the start of that line, both sides), or empty when equal.
std::string FirstDifference(const std::string& before, const std::string& after) {
    if (before == after) return {};
    const auto mismatch = std::mismatch(before.begin(), before.end(), after.begin(), after.end());
    const std::size_t at = static_cast<std::size_t>(mismatch.first - before.begin());
    const std::size_t line = at == 0 ? 0 : before.rfind('\n', at - 1) + 1;
    return "'" + before.substr(line, 100) + "' became '" + after.substr(line, 100) + "'";
}

// A file in memory that Save writes through /proc/self/fd/N: the corpus round trip would spend
// minutes in the flushes of thousands of atomic replaces.
class MemoryFile {
public:
    MemoryFile() : m_fd(::memfd_create("saved", MFD_CLOEXEC)) {}
    ~MemoryFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string Path() const { return "/proc/self/fd/" + std::to_string(m_fd); }
    // What was written since the last Take.
    std::string Take() {
        std::string bytes(static_cast<std::size_t>(::lseek(m_fd, 0, SEEK_END)), '\0');
        if (::pread(m_fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
        if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) bytes.clear();
        return bytes;
    }

private:
    int m_fd;
};

// Documents whose saved form loads with another outcome, each with why. An entry that no longer
// applies fails the test, so the list stays exact.
struct SaveDeviation {
    const char* id;
    Outcome reloads;
    const char* reason;
};
const char* const kNormalised =
    "an attribute value differed from its normalised form, which the DOM holds and Save writes";
const char* const kCharacterDataLeftOut =
    "the parser leaves character data that the content model forbids out of the DOM, so Save cannot write it";
const std::vector<SaveDeviation> kSaveDeviations = {
    {"inv-not-sa05", Outcome::ok, kNormalised},
    {"inv-not-sa06", Outcome::ok, kNormalised},
    {"inv-not-sa07", Outcome::ok, kNormalised},
    {"inv-not-sa08", Outcome::ok, kNormalised},
    {"inv-not-sa09", Outcome::ok, kNormalised},
    {"inv-not-sa10", Outcome::ok, kNormalised},
    {"inv-not-sa11", Outcome::ok, kNormalised},
    {"inv-not-sa12", Outcome::ok, kNormalised},
    {"inv-not-sa13", Outcome::ok, kNormalised},
    {"ibm-invalid-P32-ibm32i03.xml", Outcome::ok, kNormalised},
    {"el06", Outcome::ok, kCharacterDataLeftOut},
    {"ibm-invalid-P39-ibm39i01.xml", Outcome::ok, kCharacterDataLeftOut},
    {"ibm-invalid-P39-ibm39i02.xml", Outcome::ok, kCharacterDataLeftOut},
    {"rmt-e2e-15d", Outcome::ok, kCharacterDataLeftOut},
    {"rmt-e2e-15g", Outcome::ok, kCharacterDataLeftOut},
    {"rmt-046", Outcome::ok, kCharacterDataLeftOut},
    {"rmt-048", Outcome::ok, kCharacterDataLeftOut},
    {"rmt-e2e-61", Outcome::ok, "declared UTF-16 but read as UTF-8 (a warning): saved as UTF-8, declared so"},
    {"rmt-e3e-13", Outcome::ok, "a reference to an undeclared entity is not in the DOM, so Save cannot write it"},
    {"rmt-ns10-012", Outcome::fatal,
     "a namespace declaration typed NMTOKEN: the parser binds the prefix to the value before normalisation "
     "but the DOM holds it normalised, equal to another declaration's"},
};

// The root element and its first child element of a loaded document, each saved alone in every
// form: they load alone, with the canonical form they have in the document (in pretty form, the
// tree of the unindented form, indentation aside). Returns the mismatches.
std::string PartsLoadAlone(XML::CKelXML& doc, MemoryFile& saved, const std::string& name) {
    const xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement();
    const xercesc::DOMNode* child = root ? root->getFirstChild() : nullptr;
    while (child && child->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) child = child->getNextSibling();
    std::string mismatches;
    for (const xercesc::DOMNode* part : {static_cast<const xercesc::DOMNode*>(root), child}) {
        std::string canonical;
        if (!part || !doc.GetCanonicalXML(part, true, canonical)) continue;  // a relative namespace URI
        const std::string label = name + (part == root ? " root element" : " first child element");
        std::string unindented;
        for (const XML::E_SAVE_FORM form : {XML::E_SAVE_CANONICAL, XML::E_SAVE_AS_LOADED, XML::E_SAVE_PRETTY}) {
            const std::string where = label + " form " + std::to_string(form) + ": ";
            if (!doc.Save(saved.Path().c_str(), part, form)) {
                mismatches += where + "not saved: " + Records(doc).back().strMessage + "\n";
                continue;
            }
            const std::string bytes = saved.Take();
            XML::CKelXML back;
            const Observed seen = Classify(back, LoadText(back, bytes));
            std::string again;
            if (seen.outcome > Outcome::error || !back.GetCanonicalXML(back.GetDocument(), true, again)) {
                mismatches += where + "does not load alone: " + seen.first + "\n";
                continue;
            }
            const std::string tree = InformationOf(back.GetDocument(), true);
            if (form == XML::E_SAVE_CANONICAL) unindented = tree;
            if (form == XML::E_SAVE_PRETTY ? tree != unindented : again != canonical)
                mismatches += where + "loads with other information: " +
                              (form == XML::E_SAVE_PRETTY ? FirstDifference(unindented, tree)
                                                          : FirstDifference(canonical, again)) +
                              "\n";
        }
    }
    return mismatches;
}

// Every document that loads (ok, warning or error) is saved in each form and loaded again from
// its own folder, so that its relative references still resolve: same outcome, same
// information, and a second save gives the same bytes.
TEST_F(Corpus, EverySaveLoadsBackTheSame) {
    const std::pair<XML::E_SAVE_FORM, const char*> forms[] = {
        {XML::E_SAVE_PRETTY, "pretty"}, {XML::E_SAVE_CANONICAL, "canonical"}, {XML::E_SAVE_AS_LOADED, "as-loaded"}};
    MemoryFile saved;
    std::set<std::string> used;
    std::string mismatches;
    std::size_t documents = 0;
    for (const Expected& e : s_expected) {
        const std::string path = s_root + "/" + e.path;
        XML::CKelXML doc;
        const Observed first = Classify(doc, doc.Load(path.c_str(), false));
        if (first.outcome > Outcome::error || !doc.GetDocument()) continue;
        ++documents;
        for (const auto& [form, label] : forms) {
            const bool pretty = form == XML::E_SAVE_PRETTY;
            const auto fail = [&, label = label](const std::string& why) {
                mismatches += e.id + " " + e.path + " " + label + ": " + why + "\n";
            };
            if (!doc.Save(saved.Path().c_str(), form)) {
                fail("not saved: " + Records(doc).back().strMessage);
                continue;
            }
            const std::string bytes = saved.Take();
            XML::CKelXML back;
            const Observed again = Classify(back, LoadText(back, bytes, path));
            Outcome want = first.outcome;
            for (const SaveDeviation& d : kSaveDeviations)
                if (e.id == d.id) {
                    used.insert(d.id);
                    want = d.reloads;
                }
            if (again.outcome != want || want == Outcome::fatal) {
                if (again.outcome != want)
                    fail(std::string("reloads as ") + Name(again.outcome) + " (was " + Name(first.outcome) +
                         "); first record: " + (again.first.empty() ? first.first : again.first));
            } else if (const std::string why = FirstDifference(InformationOf(doc.GetDocument(), pretty),
                                                               InformationOf(back.GetDocument(), pretty));
                       !why.empty())
                fail("reloads with other information: " + why);
            else if (!back.Save(saved.Path().c_str(), form) || saved.Take() != bytes)
                fail("a second save differs");
        }
        // A document that does not reload whole (listed above) does not in part either.
        const bool reloads = std::none_of(kSaveDeviations.begin(), kSaveDeviations.end(), [&e](const SaveDeviation& d) {
            return e.id == d.id && d.reloads == Outcome::fatal;
        });
        if (reloads) mismatches += PartsLoadAlone(doc, saved, e.id + " " + e.path);
    }
    for (const SaveDeviation& d : kSaveDeviations)
        if (!used.count(d.id)) mismatches += std::string(d.id) + ": listed as a deviation but not met\n";
    EXPECT_EQ(mismatches, "");
    std::printf(
        "[ corpus   ] round trip: %zu documents loaded, each saved in 3 forms, its root element and first "
        "child element too\n",
        documents);
}

// The streaming walk on every document of the suite, for the root element and for the children
// named like its first element child: the same calls, verdicts and diagnostics as LoopElements
// on the loaded document (records compared subtree and all).
TEST_F(Corpus, StreamingMatchesLoopElements) {
    std::string mismatches;
    std::size_t walks = 0;
    for (const Expected& e : s_expected) {
        const std::string file = s_root + "/" + e.path;
        XML::CKelXML doc;
        doc.Load(file.c_str(), false);
        const xercesc::DOMElement* root = doc.GetDocument() ? doc.GetDocument()->getDocumentElement() : nullptr;
        const std::string rootName = root ? XML::XStr::ToLocal(root->getNodeName()) : "doc";
        // The root element itself, and the children named like its first element child.
        std::set<std::string> paths{rootName};
        for (const xercesc::DOMNode* child = root ? root->getFirstChild() : nullptr; child;
             child = child->getNextSibling())
            if (child->getNodeType() == xercesc::DOMNode::ELEMENT_NODE) {
                paths.insert(rootName + "\\" + XML::XStr::ToLocal(child->getNodeName()));
                break;
            }
        for (const std::string& path : paths) {
            const std::string why = CompareStream(
                file, "", WalkCase{path, {"id", "a"}, false, true, false, [](std::size_t i) { return i < 3; }});
            if (!why.empty()) mismatches += e.id + " " + e.path + ": " + why;
            ++walks;
        }
    }
    EXPECT_EQ(mismatches, "");
    std::printf("[ corpus   ] streaming: %zu walks on %zu documents\n", walks, s_expected.size());
}

// The count and Validate build no tree: over every document they give what the loaded tree holds,
// with the load's records and result.
TEST_F(Corpus, CountMatchesTheLoadedTree) {
    std::string mismatches;
    for (const Expected& e : s_expected) {
        const std::string path = s_root + "/" + e.path;
        XML::CKelXML loaded, counted;
        const bool result = loaded.Load(path.c_str(), false);
        unsigned int want = 0;
        if (result) XML::CKelXML::GetNbChildInNode(loaded.GetDocument()->getDocumentElement(), "*", want);
        unsigned long got = 0;
        const bool counts = counted.GetNbElementsInFile(path.c_str(), false, "*", got);
        std::string why;
        if (counts != result) why += " result " + std::to_string(counts);
        if (result && got != want) why += " count " + std::to_string(got) + " (tree: " + std::to_string(want) + ")";
        const auto load = Records(loaded), count = Records(counted);
        if (load.size() != count.size())
            why += " " + std::to_string(count.size()) + " records (load: " + std::to_string(load.size()) + ")";
        else
            for (std::size_t i = 0; i < load.size(); ++i)
                if (load[i].eType != count[i].eType || load[i].strMessage != count[i].strMessage)
                    why += " record " + count[i].strMessage + " (load: " + load[i].strMessage + ")";
        XML::CKelXML checked;  // Validate: the load's result and records, no tree
        if (checked.Validate(path.c_str(), {}) != result || Dump(checked) != Dump(loaded))
            why += " Validate:\n" + Dump(checked);
        if (!why.empty()) mismatches += e.id + " " + e.path + ":" + why + "\n";
    }
    EXPECT_EQ(mismatches, "");
}
