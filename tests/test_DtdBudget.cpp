// DtdBudget: what each entity of a DTD produces, computed before the parser reads it.
#include "TestSupport.h"

#include "XML/internal/DtdBudget.h"
#include "XML/internal/ResourceGate.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Judged as a load of the document named base judges it, reading any local file.
XML::internal::DtdVerdict JudgeAt(std::string_view document, bool whole, const XML::XStr& base,
                                  const XML::sLimits& limits) {
    XML::internal::ResourceGate gate(XML::E_RESOURCES_LOCAL, limits.maxExternalBytes, base.unicodeForm(),
                                     XML::XStr::ToLocal(base.unicodeForm()));
    return XML::internal::JudgeDtd(document, whole, base.unicodeForm(), limits, &gate);
}

std::string Judge(const std::string& document, const XML::sLimits& limits = {}) {
    return JudgeAt(document, true, XML::XStr("mem.xml"), limits).refusal;
}

// Small limits make every shape cheap to show. Building a value charges what parameter
// entities add to it, at every level; the whole may reach the budget plus twice the input.
XML::sLimits Small() {
    XML::sLimits limits;
    limits.maxExpandedCharacters = 1000;
    limits.maxEntityDepth = 4;
    return limits;
}

TEST(DtdBudget, CountsWhatEachEntityProduces) {
    struct Case {
        const char* name;
        std::string document;
        std::string refusal;  // empty: passes
    };
    const std::string x600(600, 'x');
    const Case cases[] = {
        {"no DTD", "<r>&amp;</r>", ""},
        {"an entity of 600 characters", "<!DOCTYPE r [<!ENTITY a '" + x600 + "'>]><r/>", ""},
        {"used twice in a second entity: 1200", "<!DOCTYPE r [<!ENTITY a '" + x600 + "'><!ENTITY b '&a;&a;'>]><r/>",
         "the entity 'b' expands to more than 1000 characters"},
        {"declared after its user: still counted", "<!DOCTYPE r [<!ENTITY b '&a;&a;'><!ENTITY a '" + x600 + "'>]><r/>",
         "the entity 'b' expands to more than 1000 characters"},
        {"the internal subset does not expand parameter entities in values (the parser refuses them)",
         "<!DOCTYPE r [<!ENTITY % a '" + x600 + "'><!ENTITY % b '%a;%a;'>]><r/>", ""},
        {"the first declaration wins",
         "<!DOCTYPE r [<!ENTITY a 'x'><!ENTITY a '" + x600 + "'><!ENTITY b '&a;&a;'>]><r/>", ""},
        {"four levels of references",
         "<!DOCTYPE r [<!ENTITY a 'x'><!ENTITY b '&a;'><!ENTITY c '&b;'>"
         "<!ENTITY d '&c;'>]><r/>",
         ""},
        {"five levels",
         "<!DOCTYPE r [<!ENTITY a 'x'><!ENTITY b '&a;'><!ENTITY c '&b;'><!ENTITY d '&c;'>"
         "<!ENTITY e '&d;'>]><r/>",
         "entities nested deeper than 4 levels"},
        {"a recursive entity is left to the parser", "<!DOCTYPE r [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><r/>", ""},
        {"attribute defaults", "<!DOCTYPE r [<!ENTITY a '" + x600 + "'><!ATTLIST r v CDATA '&a;' w CDATA '&a;'>]><r/>",
         "attribute defaults expand to more than 1000 characters"},
        {"parameter entities spliced again and again",
         "<!DOCTYPE r [<!ENTITY % d '<!-- " + x600 + " -->'>%d;%d;%d;%d;%d;]><r/>",
         "the DTD expands to more than 1000 characters"},
        {"an ignored section is not read", "<!DOCTYPE r [<![IGNORE[<!ENTITY a '" + x600 + x600 + "'>]]>]><r/>", ""},
        {"UTF-16 is read too", "", "the entity 'b' expands to more than 1000 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string document = c.document;
        if (document.empty()) {  // the "declared after" document in UTF-16 with a byte-order mark
            const std::string utf8 = cases[3].document;
            document = "\xFF\xFE";
            for (const char ch : utf8) document += std::string{ch, '\0'};
        }
        EXPECT_EQ(Judge(document, Small()), c.refusal);
    }
}

// An external subset and an external parameter entity are read from disk, relative to the
// file that names them; what is missing is left to the parser to report.
TEST(DtdBudget, ReadsExternalPartsAndAsksForMoreOfALongPrologue) {
    kelxml_test::TempDir dir;
    kelxml_test::WriteFile(dir.File("ext.dtd"), "<!ENTITY % more SYSTEM 'more.ent'>%more;<!ENTITY b '&a;&a;'>");
    kelxml_test::WriteFile(dir.File("more.ent"), "<?xml version='1.0'?><!ENTITY a '" + std::string(600, 'x') + "'>");
    const XML::XStr base(dir.File("doc.xml").c_str());
    const std::string document = "<!DOCTYPE r SYSTEM 'ext.dtd'><r/>";
    EXPECT_EQ(JudgeAt(document, true, base, Small()).refusal, "the entity 'b' expands to more than 1000 characters");
    XML::sLimits wider = Small();
    wider.maxExpandedCharacters = 2000;
    const auto verdict = JudgeAt(document, true, base, wider);
    EXPECT_EQ(verdict.refusal, "");
    EXPECT_GT(verdict.bytesRead, 600u);
    EXPECT_EQ(Judge("<!DOCTYPE r SYSTEM 'missing.dtd'><r/>", Small()), "");

    // In an external subset, parameter entities are expanded inside values as they are
    // declared, character references first.
    const std::string x600(600, 'x');
    kelxml_test::WriteFile(dir.File("built.dtd"), "<!ENTITY % a '" + x600 + "'><!ENTITY % b '%a;%a;'>");
    kelxml_test::WriteFile(dir.File("char.dtd"),
                           "<!ENTITY % a '" + x600 + "'><!ENTITY % b '&#37;a;'><!ENTITY c '%b;%b;'>");
    EXPECT_EQ(JudgeAt("<!DOCTYPE r SYSTEM 'built.dtd'><r/>", true, base, Small()).refusal,
              "the entity 'b' expands to more than 1000 characters");
    // Each level of inclusion is charged: the work bound comes first here.
    EXPECT_EQ(JudgeAt("<!DOCTYPE r SYSTEM 'char.dtd'><r/>", true, base, Small()).refusal,
              "the DTD expands to more than 1000 characters");
    EXPECT_TRUE(JudgeAt("<!DOCTYPE r [<!ENTITY a 'x'>", false, base, Small()).needMore);
    // An internal subset longer than the first 64 KiB read is read on.
    EXPECT_EQ(Judge("<!DOCTYPE r [<!--" + std::string(100000, '-') + "--><!ENTITY a '" + x600 +
                        "'><!ENTITY b '&a;&a;'>]><r/>",
                    Small()),
              "the entity 'b' expands to more than 1000 characters");
    EXPECT_FALSE(JudgeAt("<r>", false, base, Small()).needMore);
}

}  // namespace
