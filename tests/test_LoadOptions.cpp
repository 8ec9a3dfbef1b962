// Loads with options: plain, well-formed, against the caller's grammars, one object load after
// load (data/load_options.tsv), and the grammar cache (edits seen; shared across threads: test_Threads).
#include "TestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <unistd.h>

using namespace kelxml_test;

namespace {

TEST(LoadOptions, Table) {
    const Grammars dir;
    auto doc = std::make_unique<XML::CKelXML>();
    for (const auto& row : Table(KELXML_TEST_DATA "/load_options.tsv")) {
        if (row[0] == "file" || row[0] == "fifo") continue;
        SCOPED_TRACE(row[0]);
        ASSERT_EQ(row.size(), 6u);
        if (row[0][0] != '+') doc = std::make_unique<XML::CKelXML>();
        const XML::sLoadOptions options = Named(dir, row[2], nullptr, std::stoi(row[1]));
        const bool loaded = Load(*doc, row[5] == "-" ? "" : row[5], options);
        EXPECT_EQ(Verdict(*doc, loaded, row[3], row[4] == "-" ? "" : row[4]), "ok");
    }
}

// A fatal error ends the parse in well-formed mode too, at every load of the object.
TEST(LoadWellFormed, AFatalErrorEndsTheParse) {
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_WELL_FORMED;
    XML::CKelXML doc;
    for (const char* text : {"<!DOCTYPE a [<!ENTITY k 'K'>]><a>&unknown;<b/></a>",
                             "<!DOCTYPE a SYSTEM 'a.dtd'><a>&unknown;<b></a><c></d>", "<a><b></a><c></d>"}) {
        EXPECT_FALSE(Load(doc, text, options));
        const auto records = Records(doc);
        EXPECT_EQ(std::count_if(records.begin(), records.end(),
                                [](const XML::sError& r) { return r.eType == XML::E_FATAL_ERROR; }),
                  1)
            << Dump(doc);
    }
}

// A mode, braced or not, is the mode and never bValidate; a file name in a std::string or a path
// is its bytes as they are.
TEST(LoadOptions, ModesAndFileNamesOfEveryForm) {
    TempDir dir;
    const std::string file = dir.File("d\xC3\xA9.xml");
    WriteFile(file, "<!DOCTYPE r SYSTEM 'missing.dtd'><r/>");  // validated, it fails
    XML::CKelXML doc;
    EXPECT_TRUE(doc.Load(file.c_str(), {XML::E_LOAD_WELL_FORMED})) << Dump(doc);
    EXPECT_TRUE(doc.Load(std::filesystem::path(file), XML::E_LOAD_WELL_FORMED)) << Dump(doc);
    EXPECT_TRUE(doc.Load(file, {XML::E_LOAD_WELL_FORMED})) << Dump(doc);
    EXPECT_FALSE(doc.Load(file, {XML::E_LOAD_VALIDATE}));
    EXPECT_FALSE(doc.Load(file.c_str(), {XML::E_LOAD_WELL_FORMED, XML::E_LOAD_AUTO}));
    EXPECT_EQ(Dump(doc), "3: a load takes one mode: Load(file, {XML::E_LOAD_VALIDATE})\n");
    EXPECT_EQ(doc.GetDocument(), nullptr);
}

// Rewrites a grammar with the content of another, so that its stamp surely changes.
void Rewrite(const TempDir& dir, const char* name, const char* from) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    WriteFile(dir.File(name), ReadFile(dir.File(from)));
}

// A cached grammar is parsed once, and again after an edit of it, of a file it includes, or of
// the link that names it; an edited DTD default reaches the tree.
TEST(GrammarCache, ParsesOnceAndSeesEdits) {
    const Grammars dir;
    ASSERT_EQ(::symlink(dir.File("order.xsd").c_str(), dir.File("current.xsd").c_str()), 0);
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions options = Named(dir, "=current.xsd", cache);
    const std::string two = "<order><item qty='2'>a</item><item>b</item></order>";
    XML::CKelXML doc;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Load(doc, two, options)) << Dump(doc);
    EXPECT_EQ(cache->GetParseCount(), 1u);
    Rewrite(dir, "order.xsd", "order-1.xsd");
    EXPECT_FALSE(Load(doc, two, options));
    Rewrite(dir, "order.xsd", "order-5.xsd");
    EXPECT_TRUE(Load(doc, two, options)) << Dump(doc);
    Rewrite(dir, "types.xsd", "types-boolean.xsd");
    EXPECT_FALSE(Load(doc, two, options));
    EXPECT_EQ(cache->GetParseCount(), 4u);
    EXPECT_EQ(cache->GetGrammarCount(), 1u);
    ASSERT_EQ(::unlink(dir.File("current.xsd").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("order-1.xsd").c_str(), dir.File("current.xsd").c_str()), 0);
    EXPECT_EQ(Verdict(doc, Load(doc, "<order><item>a</item><item>b</item></order>", options), "1:", ""), "ok");
    const XML::sLoadOptions dtd = Named(dir, "dtd=list.dtd", cache);
    EXPECT_EQ(
        Verdict(doc, Load(doc, "<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>x</entry></list>", dtd), "ok", "kind=one"),
        "ok");
    Rewrite(dir, "list.dtd", "list-second.dtd");
    EXPECT_EQ(Verdict(doc, Load(doc, "<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>x</entry></list>", dtd), "ok",
                      "kind=second"),
              "ok");
}

}  // namespace
