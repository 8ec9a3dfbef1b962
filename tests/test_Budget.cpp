// The load budget: documents and grammars that amplify a few bytes into gigabytes, minutes or a
// crash are refused with a record, in bounded memory; documents near the bounds still load; the
// caller can move the bounds. The rows are in data/load_limits.tsv.
#include "TestSupport.h"

#include <map>
#include <sstream>

#include <sys/stat.h>

using namespace kelxml_test;

namespace {

const std::map<std::string, std::size_t XML::sLimits::*> kLimits = {
    {"maxDepth", &XML::sLimits::maxDepth},
    {"maxAttributeCost", &XML::sLimits::maxAttributeCost},
    {"maxAttributeLength", &XML::sLimits::maxAttributeLength},
    {"maxExpandedNodes", &XML::sLimits::maxExpandedNodes},
    {"maxEntityExpansions", &XML::sLimits::maxEntityExpansions},
    {"maxExpandedCharacters", &XML::sLimits::maxExpandedCharacters},
    {"maxEntityDepth", &XML::sLimits::maxEntityDepth},
    {"maxContentModelParticles", &XML::sLimits::maxContentModelParticles},
    {"maxDerivationDepth", &XML::sLimits::maxDerivationDepth},
    {"maxEnumerationComparisons", &XML::sLimits::maxEnumerationComparisons},
};

// Each row in a child process allowed 256 MiB more than it has and 60 s; the same object then
// loads the next document.
TEST(Budget, LimitsTable) {
    for (const auto& row : Table(KELXML_TEST_DATA "/load_limits.tsv")) {
        SCOPED_TRACE(row[0]);
        ASSERT_GE(row.size(), 5u);
        TempDir dir;
        ::mkdir(dir.File("sub").c_str(), 0755);
        std::string document = row[4];
        for (std::size_t i = 5; i < row.size(); ++i)
            WriteFile(dir.File(row[i].substr(0, row[i].find('='))), row[i].substr(row[i].find('=') + 1));
        XML::sLimits limits;
        XML::sLoadOptions options;
        bool memory = false, stream = false;
        std::istringstream words(row[1]);
        for (std::string word; words >> word;) {
            const std::size_t equals = word.find('=');
            if (equals != std::string::npos)
                limits.*kLimits.at(word.substr(0, equals)) = std::stoul(word.substr(equals + 1));
            if (word == "huge") limits = XML::sLimits::Huge();
            if (word == "wf") options.eMode = XML::E_LOAD_WELL_FORMED;
            if (word == "named") options.vSchemas.push_back({"", dir.File("s.xsd")});
            if (word == "named") options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
            if (word == "utf16" || word == "utf16be") {  // the document in UTF-16 with a byte-order mark
                const bool big = word == "utf16be";
                std::string wide = big ? "\xFE\xFF" : "\xFF\xFE";
                for (const char c : document) wide += big ? std::string{'\0', c} : std::string{c, '\0'};
                document = wide;
            }
            memory = memory || word == "memory";
            stream = stream || word == "stream";
        }
        WriteFile(dir.File("doc.xml"), document);
        options.strBaseURI = dir.File("doc.xml");
        const std::string outcome = RunInChild(
            [&] {
                XML::CKelXML doc;
                doc.SetLimits(limits);
                const std::string file = dir.File("doc.xml");
                const bool loaded = stream   ? memory ? doc.ValidateFromMemory(document, options)
                                                      : doc.Validate(file.c_str(), options)
                                      : memory ? doc.LoadFromMemory(document, options)
                                             : doc.Load(file.c_str(), options);
                const std::string verdict = Verdict(doc, loaded, row[2], row[3] == "-" ? "" : row[3]);
                return verdict + (doc.Load(static_cast<const void*>("<r/>"), 4) ? "" : " and broken");
            },
            60, std::size_t{256} << 20);
        EXPECT_EQ(outcome, "ok");
    }
}

// Each object keeps its own bounds; a move carries them.
TEST(Budget, LimitsBelongToTheObject) {
    XML::sLimits narrow;
    narrow.maxAttributeCost = 1000;
    XML::CKelXML doc, fresh;
    doc.SetLimits(narrow);
    XML::CKelXML moved(std::move(doc));
    const std::string wide = Expand("<r{200: a$i='v'}/>");
    EXPECT_FALSE(LoadText(moved, wide));
    EXPECT_TRUE(LoadText(fresh, wide));
    // The source is left as a new object: the default bounds, and it loads again.
    EXPECT_EQ(doc.GetLimits().maxAttributeCost, XML::sLimits{}.maxAttributeCost);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(LoadText(doc, wide));
}

}  // namespace
