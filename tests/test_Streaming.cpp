// Streaming walk and count: the same calls, verdicts and diagnostics as LoopElements and
// GetNbChildInNode on the loaded document, across paths, stop flags and document shapes; a fatal
// error part-way; a functor that throws (a record); a stop that leaves the rest of the file unread.
#include "StreamCompare.h"

#include <XML/CXPath.h>

#include <climits>
#include <set>
#include <stdexcept>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;

namespace {

// Every node kind the path rule meets: elements, a PI and a comment named like the records,
// text, CDATA, entity references, namespaces, defaulted attributes, token types whose values the
// document keeps otherwise than the parser gives them, a second "box" that is never searched,
// records nested in records.
const std::string kMixed = R"(<?xml version="1.0"?>
<!DOCTYPE root [
  <!ENTITY who "Zoë &amp; co">
  <!ENTITY block "<rec id='e1'>in entity</rec>">
  <!ATTLIST rec kind CDATA "plain" e (x|y) #IMPLIED t NMTOKENS #IMPLIED>
]>
<root xmlns:p="urn:p" a="1">
  <?rec not an element?>
  <box>
    <rec id="1" year="2001">one <b>bold</b> &who;</rec>
    <!-- rec -->
    <rec id="2">two<![CDATA[ <raw> ]]></rec>
    text between
    <rec year="2003" kind="special"><rec id="inner">nested</rec></rec>
    &block;
    <p:rec id="4">prefixed</p:rec>
    <?rec a processing instruction?>
    <rec id="" year="">empty values</rec>
    <rec id="7" e=" x " t="a&#9;b"/>
  </box>
  <box><rec id="never">second box</rec></box>
  <other><deep><rec id="x"/></deep></other>
</root>
)";

// Records with whitespace between them, and back to back without any.
std::string Records(std::size_t count, bool spaced) {
    std::string s =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE cat [<!ENTITY sign \"&#x2713;\"><!ATTLIST r k CDATA \"d\">]>\n"
        "<cat><head>h</head><list>";
    for (std::size_t i = 0; i < count; ++i) {
        if (spaced) s += "\n  ";
        s += "<r id=\"" + std::to_string(i) + "\"" + (i % 3 ? " k=\"x\"" : "") + "><n>" + std::to_string(i * 7) +
             "</n>" + (i % 5 ? "" : "&sign;") + "<v a=\"" + std::to_string(i % 11) + "\">v</v></r>";
        if (i % 4 == 0) s += "<!-- c -->";
    }
    return s + "</list><tail/></cat>\n";
}

// Paths that reach records, walked with every combination of the stop flags (the last four start
// below the root element, as a loop on the loaded root element takes them); paths that reach
// nothing, walked once.
const std::vector<std::string> kMixedPaths = {
    "root",
    "root\\box\\rec",
    "root\\box\\p:rec",
    "root\\box\\#text",
    "root\\box\\#comment",
    "root\\rec",
    "root\\box\\block",
    "root\\other\\deep\\rec",
    "root\\box\\rec\\rec",
    "root\\box",
    "box\\rec",
    "other\\deep\\rec",
    "rec",
    "box",
};
const std::vector<std::string> kEmptyPaths = {"root\\nothing\\rec", "wrong\\box\\rec", "", "root\\\\rec",
                                              "root\\box\\"};

// Alternating verdicts (false, true, ...): each stop flag ends some walk, at a different call.
bool Alternating(std::size_t i) { return i % 2 == 1; }

void CompareAll(const std::string& bytes, const std::vector<std::vector<std::string>>& attributeSets) {
    std::string mismatches;
    std::size_t cases = 0;
    for (const std::string& path : kMixedPaths)
        for (const auto& attributes : attributeSets)
            for (int flags = 0; flags < 8; ++flags) {
                WalkCase c{path, attributes, (flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0, Alternating};
                mismatches += CompareStream("", bytes, c);
                ++cases;
            }
    for (const std::string& path : kEmptyPaths)
        mismatches += CompareStream("", bytes, WalkCase{path, {"id"}, true, true, true, Alternating});
    EXPECT_EQ(mismatches, "") << cases << " cases";
}

}  // namespace

TEST(Streaming, MatchesLoopElementsOnEveryKindOfNode) {
    CompareAll(kMixed, {{}, {"year", "id", "kind", "e", "t"}});
    // Its DTD after a comment and a processing instruction: the token types are still declared.
    std::string late = kMixed;
    late.insert(late.find("<!DOCTYPE"), "<!-- first --><?pi x?>\n");
    CompareAll(late, {std::vector<std::string>{"t"}});
}

// Large enough that the document is renewed many times while records stream through it, with
// entity references and defaulted attributes on both sides of each renewal.
TEST(Streaming, MatchesLoopElementsAcrossDocumentRenewals) {
    TempDir dir;
    for (const bool spaced : {true, false}) {
        const std::string file = dir.File(spaced ? "spaced.xml" : "packed.xml");
        WriteFile(file, Records(2500, spaced));
        std::string mismatches;
        mismatches += CompareStream(file, "", WalkCase{"cat\\list\\r", {"k", "id"}, false, false, false, nullptr});
        mismatches += CompareStream(
            file, "", WalkCase{"cat\\list\\r", {"id"}, true, false, false, [](std::size_t i) { return i == 2200; }});
        EXPECT_EQ(mismatches, "") << file;
        // The records come from more than one document: the walk renewed the one it grows.
        std::set<const xercesc::DOMDocument*> owners;
        XML::CKelXML doc;
        doc.StreamElements(file.c_str(), {}, {"cat/list/r"},
                           [&owners](xercesc::DOMNode* node) { owners.insert(node->getOwnerDocument()); });
        EXPECT_GT(owners.size(), 1U) << file;
    }
}

TEST(Streaming, CountMatchesGetNbChildInNode) {
    TempDir dir;
    const std::string mixed = dir.File("mixed.xml");
    const std::string records = dir.File("records.xml");
    WriteFile(mixed, kMixed);
    WriteFile(records, Records(2000, true));
    for (const auto& [file, names] : std::vector<std::pair<std::string, std::vector<const char*>>>{
             {mixed, {"*", "rec", "p:rec", "root", "b", "absent"}}, {records, {"*", "r", "v", "cat"}}}) {
        XML::CKelXML loaded;
        loaded.Load(file.c_str(), false);
        for (const char* name : names) {
            unsigned int want = 0;
            XML::CKelXML::GetNbChildInNode(loaded.GetDocument()->getDocumentElement(), name, want);
            XML::CKelXML streamed;
            unsigned long got = 0;
            EXPECT_EQ(streamed.GetNbElementsInFile(file.c_str(), false, name, got), Records(loaded).empty())
                << file << ' ' << name;
            EXPECT_EQ(Records(streamed).size(), Records(loaded).size());
            EXPECT_EQ(got, want) << file << ' ' << name;
        }
    }
}

// Diagnostics as Load gives them: validity errors, a limit refused part-way, a fatal error
// part-way (the records before it are visited, none after).
TEST(Streaming, DiagnosticsMatchLoad) {
    const std::string invalid =
        "<?xml version=\"1.0\"?><!DOCTYPE l [<!ELEMENT l (i)*><!ELEMENT i EMPTY>"
        "<!ATTLIST i n CDATA #REQUIRED>]><l><i n=\"1\"/><i/><j/><i n=\"3\"/></l>";
    std::string deep = "<l><i n=\"1\"/>";
    for (int i = 0; i < 1001; ++i) deep += "<d>";
    const std::string broken = "<l>\n<i n=\"1\"/>\n<i n=\"2\">x</i>\n<i n=\"3\"></j>\n<i n=\"4\"/></l>";
    std::string mismatches;
    for (const std::string& text : {invalid, deep, broken}) {
        for (const char* path : {"l\\i", "l"})
            mismatches += CompareStream("", text, WalkCase{path, {"n"}, false, false, false, nullptr});
    }
    EXPECT_EQ(mismatches, "");

    XML::CKelXML doc;
    CallLog log(1);
    std::string name = "n";
    bool verdict = false;
    EXPECT_FALSE(doc.StreamElements(static_cast<const void*>(broken.data()), static_cast<unsigned int>(broken.size()),
                                    &log, "l\\i", &name, 1, nullptr, false, false, false, &verdict));
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_TRUE(verdict);
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eType, XML::E_FATAL_ERROR);
    EXPECT_NE(records[0].strMessage.find("toto, lig=4 col="), std::string::npos) << records[0].strMessage;

    // Past the depth limit: the record before it is visited, the refusal recorded as Load records it.
    CallLog before(0);
    EXPECT_FALSE(doc.StreamElements(static_cast<const void*>(deep.data()), static_cast<unsigned int>(deep.size()),
                                    &before, "l\\i", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(before.calls.size(), 1u);
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_EXCEPTION);
}

namespace {

struct Thrower : XML::TFunctor {
    bool operator()(xercesc::DOMNode*, std::string, std::string text, std::string*, void*) override {
        if (text == "2") throw std::runtime_error("functor failed at 2");
        ++calls;
        return true;
    }
    int calls = 0;
};

}  // namespace

TEST(Streaming, FunctorExceptionIsARecordAndTheObjectStaysUsable) {
    TempDir dir;
    const std::string file = dir.File("r.xml");
    WriteFile(file, "<l><i>1</i><i>2</i><i>3</i></l>");
    XML::CKelXML doc;
    Thrower thrower;
    bool verdict = true;
    EXPECT_FALSE(
        doc.StreamElements(file.c_str(), false, &thrower, "l\\i", nullptr, 0, nullptr, false, false, false, &verdict));
    EXPECT_EQ(thrower.calls, 1);
    EXPECT_EQ(Dump(doc), "3: functor failed at 2\n");
    // The callable forms too, with or without a node.
    const auto fail = [](const auto&...) -> bool { throw std::runtime_error("callable failed"); };
    EXPECT_FALSE(doc.StreamRecords(file.c_str(), {}, {"i"}, fail));
    EXPECT_EQ(Dump(doc), "3: callable failed\n");
    EXPECT_FALSE(doc.StreamElements(file.c_str(), {}, {"i"}, fail));
    EXPECT_EQ(Dump(doc), "3: callable failed\n");
    // The same object streams and loads again.
    CallLog log(0);
    EXPECT_TRUE(doc.StreamElements(file.c_str(), false, &log, "l\\i", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(log.calls.size(), 3u);
    EXPECT_TRUE(doc.Load(file.c_str(), false));
    EXPECT_NE(doc.GetDocument(), nullptr);
}

namespace {

// Calls back into the object that walks: each call must be refused, never free the walk's nodes.
struct ReEnter : XML::TFunctor {
    explicit ReEnter(XML::CKelXML& walker, std::string file) : doc(walker), name(std::move(file)) {}
    bool operator()(xercesc::DOMNode*, std::string, std::string, std::string*, void*) override {
        unsigned long count = 0;
        refused += !doc.CreateDoc("x") + !doc.LoadFromMemory("<y/>") +
                   !doc.GetNbElementsInFile(name.c_str(), false, "i", count) +
                   !doc.StreamElements(name.c_str(), false, this, "l\\i", nullptr, 0, nullptr, false, false, false) +
                   !doc.StreamElements(static_cast<const void*>(nullptr), 0, this, "l\\i", nullptr, 0, nullptr, false,
                                       false, false);
        return true;
    }
    XML::CKelXML& doc;
    std::string name;
    int refused = 0;
};

}  // namespace

TEST(Streaming, CallbacksCannotReplaceWhatIsWalked) {
    TempDir dir;
    const std::string file = dir.File("r.xml");
    WriteFile(file, "<l><i>1</i><i>2</i></l>");
    XML::CKelXML doc;
    ReEnter reEnter(doc, file);
    EXPECT_FALSE(doc.StreamElements(file.c_str(), false, &reEnter, "l\\i", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(reEnter.refused, 10);
    EXPECT_NE(Dump(doc).find("cannot load, create or walk another during the walk"), std::string::npos) << Dump(doc);
    EXPECT_TRUE(doc.LoadFromMemory("<after/>"));
}

// A stop ends the parse: the malformed end of the file, far beyond the parser's read-ahead, is
// never read, so nothing is recorded.
TEST(Streaming, StopLeavesTheRestUnread) {
    TempDir dir;
    const std::string file = dir.File("r.xml");
    std::string text = "<cat><list>";
    for (int i = 0; i < 20000; ++i) text += "<r>" + std::to_string(i) + "</r>\n";
    WriteFile(file, text + "</list></cat>\n<garbage");
    XML::CKelXML doc;
    CallLog log(0, [](std::size_t) { return true; });
    bool verdict = false;
    EXPECT_TRUE(doc.StreamElements(file.c_str(), false, &log, "cat\\list\\r", nullptr, 0, nullptr, true, false, false,
                                   &verdict));
    EXPECT_TRUE(verdict);
    EXPECT_EQ(log.calls.size(), 1u);
    EXPECT_TRUE(Records(doc).empty());
    EXPECT_EQ(doc.GetDocument(), nullptr);
    // Without a stop the walk reaches the end and its fatal error.
    CallLog all(0);
    EXPECT_FALSE(
        doc.StreamElements(file.c_str(), false, &all, "cat\\list\\r", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(all.calls.size(), 20000u);
    ASSERT_FALSE(Records(doc).empty());
    EXPECT_EQ(Records(doc).back().eType, XML::E_FATAL_ERROR);
}

TEST(Streaming, MissingArgumentsAreRecorded) {
    CallLog log(0);
    struct Case {
        const char* file;
        XML::TFunctor* functor;
        int attributeCount;
        const char* message;
    };
    for (const Case& c :
         {Case{nullptr, &log, 0, "file name undefined"}, Case{KELXML_SAMPLE, nullptr, 0, "functor undefined"},
          Case{KELXML_SAMPLE, &log, 2, "attribute names undefined"}}) {
        XML::CKelXML doc;
        EXPECT_FALSE(doc.StreamElements(c.file, false, c.functor, "catalog", nullptr, c.attributeCount, nullptr, false,
                                        false, false));
        const auto records = Records(doc);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].eType, XML::E_MISSING);
        EXPECT_EQ(records[0].strMessage, c.message);
    }
    XML::CKelXML doc;
    std::string name = "id";  // a count past the bound is refused before the names are read
    EXPECT_FALSE(
        doc.StreamElements(KELXML_SAMPLE, false, &log, "catalog", &name, INT_MAX, nullptr, false, false, false));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_EXCEPTION);
    unsigned long count = 5;
    EXPECT_FALSE(doc.GetNbElementsInFile(KELXML_SAMPLE, false, nullptr, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(doc.StreamElements(static_cast<const void*>(nullptr), 0, &log, "catalog", nullptr, 0, nullptr, false,
                                    false, false));
    EXPECT_EQ(log.calls.size(), 0u);
}

// An XPath filter decides which records reach the callable and the count; skipped records
// leave the verdict and the stop flags alone.
TEST(Streaming, XPathFilterSelectsRecords) {
    TempDir dir;
    const std::string file = dir.File("p.xml");
    WriteFile(file,
              "<shop><item id='1'><price>50</price></item><item id='2'><price>150</price></item>"
              "<item id='3'><price>120</price></item><item id='4'/></shop>");
    const XML::CXPath dear("price > 100");
    XML::sWalkOptions walk{"shop/item", {"id"}, false, true, false, &dear};
    std::string ids;
    XML::CKelXML doc;
    bool verdict = false;
    EXPECT_TRUE(doc.StreamElements(
        file.c_str(), {}, walk,
        [&](xercesc::DOMNode*, const std::string&, const std::vector<std::string>& v) {
            ids += v[0];
            return v[0] != "3";  // stopOnFalse: the walk ends at 3
        },
        &verdict));
    EXPECT_EQ(ids, "23");
    EXPECT_FALSE(verdict);
    unsigned long count = 0;
    EXPECT_TRUE(doc.GetNbElementsInFile(file.c_str(), {}, walk, count));
    EXPECT_EQ(count, 2u);
    Loaded loaded(ReadFile(file));
    ids.clear();
    EXPECT_TRUE(XML::CKelXML::LoopElements(loaded.doc.GetDocument(), {"shop/item", {"id"}, false, false, false, &dear},
                                           [&](xercesc::DOMNode*, const std::string&, const auto& v) {
                                               ids += v[0];
                                               return true;
                                           }));
    EXPECT_EQ(ids, "23");
    // A filter that is not compiled: false, nothing called, the filter's reason recorded.
    const XML::CXPath typo("price => 100"), never;
    for (const XML::CXPath* filter : {&typo, &never}) {
        walk.pFilter = filter;
        const auto call = [&](const auto&...) { ids += "called"; };
        const std::string reason = filter == &typo ? "3: XPath expression error at column 8" : "3: the walk's XPath";
        EXPECT_FALSE(doc.StreamElements(file.c_str(), {}, walk, call));
        EXPECT_EQ(Dump(doc).rfind(reason, 0), 0u) << Dump(doc);
        EXPECT_FALSE(doc.StreamRecords(file.c_str(), {}, walk, call));
        EXPECT_EQ(Dump(doc).rfind(reason, 0), 0u) << Dump(doc);
        EXPECT_FALSE(doc.GetNbElementsInFile(file.c_str(), {}, walk, count));
        EXPECT_FALSE(XML::CKelXML::LoopElements(loaded.doc.GetDocument(), walk, call));
    }
    EXPECT_EQ(ids, "23");
}
