// Loads with options: plain, well-formed, against the caller's grammars, one object load after
// load (data/load_options.tsv), and the grammar cache (edits seen; shared across threads: test_Threads).
#include "TestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
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
    // The memory forms take the mode the same ways.
    const std::string bytes = ReadFile(file);
    EXPECT_TRUE(doc.LoadFromMemory(bytes, {XML::E_LOAD_WELL_FORMED}) &&
                doc.LoadFromMemory(bytes, XML::E_LOAD_WELL_FORMED));
    EXPECT_FALSE(doc.LoadFromMemory(bytes, {XML::E_LOAD_VALIDATE}) || doc.LoadFromMemory(bytes, XML::E_LOAD_VALIDATE));
    EXPECT_FALSE(doc.LoadFromMemory(bytes, {XML::E_LOAD_WELL_FORMED, XML::E_LOAD_AUTO}) || doc.GetDocument());
    // No bytes at all are an empty document, never a missing file name.
    EXPECT_FALSE(doc.ValidateFromMemory({}, {}) || doc.LoadFromMemory(std::string_view(), XML::sLoadOptions{}) ||
                 doc.StreamRecordsFromMemory({}, {}, {"r"}, [](const std::vector<std::string>&) {}));
    EXPECT_EQ(Records(doc).front().eType, XML::E_FATAL_ERROR) << Dump(doc);
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
    {  // a relative name through a link: the link moved, the set is parsed again
        const std::unique_ptr<char, decltype(&std::free)> before(::getcwd(nullptr, 0), &std::free);
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        XML::sLoadOptions relative = options;
        relative.vSchemas[0].strFile = "current.xsd";
        cache->Clear();  // the set is made from the relative name
        const std::size_t parses = cache->GetParseCount();
        for (int i = 0; i < 2; ++i) Load(doc, two, relative);
        EXPECT_EQ(cache->GetParseCount(), parses + 1);
        ASSERT_EQ(::unlink("current.xsd"), 0);
        ASSERT_EQ(::symlink("order.xsd", "current.xsd"), 0);
        Load(doc, two, relative);
        EXPECT_EQ(cache->GetParseCount(), parses + 2);
        ASSERT_EQ(::chdir(before.get()), 0);
    }
    const XML::sLoadOptions dtd = Named(dir, "dtd=list.dtd", cache);
    EXPECT_EQ(
        Verdict(doc, Load(doc, "<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>x</entry></list>", dtd), "ok", "kind=one"),
        "ok");
    Rewrite(dir, "list.dtd", "list-second.dtd");
    EXPECT_EQ(Verdict(doc, Load(doc, "<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>x</entry></list>", dtd), "ok",
                      "kind=second"),
              "ok");
}

// The sized entry points: a caller's older layout gives its own fields and the defaults for the
// rest; a size that covers no whole field, or more than the library knows, is refused
// (data/options_layout.tsv).
template <class T>
void Marked(T& options, std::size_t size) {  // every field the size covers set to 7 (none defaults to it)
    std::vector<std::size_t> fields(sizeof(T) / sizeof(std::size_t), 7);
    std::memcpy(static_cast<void*>(&options), fields.data(), std::min(size, sizeof(T)));
}
template <class T>
std::string FieldsAfter(const T& taken, std::size_t size) {  // "ok" when the fields follow the rule
    std::vector<std::size_t> got(sizeof(T) / sizeof(std::size_t)), defaults(got.size());
    const T fresh{};
    std::memcpy(got.data(), static_cast<const void*>(&taken), sizeof(T));
    std::memcpy(defaults.data(), static_cast<const void*>(&fresh), sizeof(T));
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != (i * sizeof(std::size_t) < size ? 7 : defaults[i])) return "field " + std::to_string(i);
    return "ok";
}
template <class T>
std::size_t SizeOf(const std::string& text) {
    if (text.rfind("all", 0) != 0) return std::stoul(text);
    return sizeof(T) + (text.size() > 3 ? std::stol(text.substr(3)) : 0);
}

TEST(OptionsLayout, Table) {
    const std::string kRefused = "3: options structure of a size this library does not know\n";
    const std::string file = KELXML_TEST_DATA "/hand-indented.xml";
    for (const auto& row : Table(KELXML_TEST_DATA "/options_layout.tsv")) {
        SCOPED_TRACE(row[0] + " " + row[1]);
        ASSERT_EQ(row.size(), 3u);
        const bool ok = row[2] == "ok";
        std::string result;
        if (row[0] == "sLimits") {
            const std::size_t size = SizeOf<XML::sLimits>(row[1]);
            XML::sLimits given[2];  // room for a newer caller's longer layout
            Marked(given[0], size);
            XML::CKelXML doc;
            doc.SetLimitsSized({given, size});
            result = ok ? FieldsAfter(doc.GetLimits(), size) : FieldsAfter(doc.GetLimits(), 0);
            EXPECT_EQ(Dump(doc), ok ? "" : kRefused);
        } else if (row[0] == "sXPathLimits") {
            const std::size_t size = SizeOf<XML::sXPathLimits>(row[1]);
            XML::sXPathLimits given[2];
            Marked(given[0], size);
            XML::CXPath xpath;
            xpath.SetLimitsSized({given, size});
            result = FieldsAfter(xpath.GetLimits(), ok ? size : 0);
            EXPECT_EQ(xpath.GetErrors()->GetAllErrors().size(), ok ? 0u : 1u);
        } else if (row[0] == "sBatchOptions") {
            const std::size_t size = SizeOf<XML::sBatchOptions>(row[1]);
            XML::sBatchOptions given[2];
            Marked(given[0], size);
            given[0].nThreads = 1;
            try {
                auto look = [&](std::size_t, XML::CKelXML& xml) {
                    XML::sBatchOptions seen;
                    seen.nThreads = 7;
                    seen.limits = xml.GetLimits();
                    result = FieldsAfter(seen, size);
                };
                XML::CKelXML::ForEachFileSized({file}, {given, size}, XML::detail::TaskOf(look));
            } catch (const std::invalid_argument& refusal) {
                result = ok ? refusal.what() : "ok";
            }
        } else if (row[0] == "sLoadOptions") {
            const XML::sLoadOptions given[2];
            XML::CKelXML doc;
            const bool loaded = doc.LoadSized(file.c_str(), {given, SizeOf<XML::sLoadOptions>(row[1])});
            result = loaded == ok && (ok || Dump(doc) == kRefused) ? "ok" : Dump(doc);
        } else {
            const XML::sWalkOptions given[2] = {{"user"}, {}};
            const Loaded doc("<users><user/><user/></users>");
            int calls = 0;
            const auto count = [&calls](xercesc::DOMNode*) { ++calls; };
            XML::detail::NodeFunctor<decltype(count)> functor(count, 0);
            XML::CKelXML::LoopElementsSized(&functor, doc.root, {given, SizeOf<XML::sWalkOptions>(row[1])}, false);
            result = (calls > 0) == ok ? "ok" : std::to_string(calls) + " calls";
        }
        EXPECT_EQ(result, "ok");
    }
}

}  // namespace
