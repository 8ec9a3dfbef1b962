// The load budget: documents and grammars that amplify a few hundred bytes into gigabytes,
// minutes or a crash are refused with one record, in bounded memory, before the parser gets
// there; valid documents near the bounds still load; the caller can raise the bounds.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using kelxml_test::Records;
using kelxml_test::RunInLimitedChild;
using kelxml_test::TempDir;
using kelxml_test::WriteFile;

std::string Repeat(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

std::string Schema(const std::string& body) {
    return "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema'>" + body + "</xsd:schema>";
}

std::string Instance(const std::string& schema, const std::string& content = "") {
    return "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation='" + schema + "'>" +
           content + "</r>";
}

// Parameter entities that each hold ten references to the one before: 100 * 10^levels
// characters once the last is built.
std::string TenFold(const std::string& last, int levels) {
    std::string text = "<!ENTITY % p0 '" + std::string(100, 'x') + "'>\n";
    for (int i = 1; i <= levels; ++i)
        text += "<!ENTITY % p" + std::to_string(i) + " '" + Repeat("%p" + std::to_string(i - 1) + ";", 10) + "'>\n";
    return text + last;
}

struct Row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // name, content; the first is loaded
    const char* refusal;                                     // part of the last record; null: loads cleanly
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    rows.push_back(
        {"local DTD: parameter entities nested ten-fold into an entity value",
         {{"doc.xml", "<!DOCTYPE r SYSTEM 'pe.dtd'><r>&e;</r>"}, {"pe.dtd", TenFold("<!ENTITY e '%p8;'>", 8)}},
         "the DTD expands to more than 10000000 characters"});
    rows.push_back(
        {"external parameter entity building values",
         {{"doc.xml", "<!DOCTYPE r [<!ENTITY % ext SYSTEM 'ext.ent'> %ext;]><r/>"}, {"ext.ent", TenFold("", 6)}},
         "the DTD expands to more than 10000000 characters"});
    rows.push_back({"an internal parameter entity of 10 KB spliced 40,000 times",
                    {{"doc.xml", "<!DOCTYPE r [<!ENTITY % d '<!--" + std::string(10000, 'x') + "-->'>" +
                                     Repeat("%d;", 40000) + "]><r/>"}},
                    "the DTD expands to more than 10000000 characters"});
    rows.push_back({"one long entity under the expansion limit",
                    {{"doc.xml", "<!DOCTYPE r [<!ENTITY a '" + std::string(1000, 'x') + "'><!ENTITY b '" +
                                     Repeat("&a;", 100) + "'><!ENTITY c '" + Repeat("&b;", 100) + "'><!ENTITY d '" +
                                     Repeat("&c;", 100) + "'>]><r>&d;</r>"}},
                    "the entity 'd' expands to more than 10000000 characters"});
    rows.push_back({"a 10 KB entity used 40,040 times through a second one",
                    {{"doc.xml", "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY a '" + std::string(10000, 'x') +
                                     "'><!ENTITY b '" + Repeat("&a;", 40) + "'>]><r>" + Repeat("&b;", 1001) + "</r>"}},
                    "entity expansion and attribute defaults produced more than 10000000 characters"});
    rows.push_back({"the same in attribute values",
                    {{"doc.xml", "<!DOCTYPE r [<!ENTITY a '" + std::string(10000, 'x') + "'><!ENTITY b '" +
                                     Repeat("&a;", 40) + "'>]><r>" + Repeat("<e v='&b;'/>", 1001) + "</r>"}},
                    "entity expansion and attribute defaults produced more than 10000000 characters"});
    rows.push_back({"1000 attribute lists defaulting to a 10 KB entity",
                    {{"doc.xml", "<!DOCTYPE r [<!ENTITY a '" + std::string(10000, 'x') + "'>" +
                                     [] {
                                         std::string lists;
                                         for (int i = 0; i < 1000; ++i)
                                             lists += "<!ATTLIST r a" + std::to_string(i) + " CDATA '&a;'>";
                                         return lists;
                                     }() +
                                     "]><r/>"}},
                    "produced more than 10000000 characters"});
    rows.push_back({"4000 attribute lists of one attribute",
                    {{"doc.xml", "<!DOCTYPE r [" +
                                     [] {
                                         std::string lists;
                                         for (int i = 0; i < 4000; ++i)
                                             lists += "<!ATTLIST r a" + std::to_string(i) + " CDATA 'x'>";
                                         return lists;
                                     }() +
                                     "]><r/>"}},
                    "past the attribute cost bound of 100000000 comparisons"});
    rows.push_back({"a chain of 8000 entities",
                    {{"doc.xml", "<!DOCTYPE r [<!ENTITY e0 'x'>" +
                                     [] {
                                         std::string chain;
                                         for (int i = 1; i <= 8000; ++i)
                                             chain += "<!ENTITY e" + std::to_string(i) + " '&e" +
                                                      std::to_string(i - 1) + ";'>";
                                         return chain;
                                     }() +
                                     "]><r>&e8000;</r>"}},
                    "entities nested deeper than 64 levels"});
    rows.push_back({"schema: a group of five elements with maxOccurs 99999999999999",
                    {{"doc.xml", Instance("s.xsd")},
                     {"s.xsd", Schema("<xsd:group name='A'><xsd:sequence><xsd:element name='a'/><xsd:element "
                                      "name='b'/><xsd:element name='c'/><xsd:element name='d'/><xsd:element "
                                      "name='e'/></xsd:sequence></xsd:group><xsd:element name='r'><xsd:complexType>"
                                      "<xsd:sequence><xsd:group ref='A' minOccurs='0' maxOccurs='99999999999999'/>"
                                      "</xsd:sequence></xsd:complexType></xsd:element>")}},
                    "has more than 2000 particles once its occurrence bounds are unrolled"});
    rows.push_back({"schema: maxOccurs 100 over two elements of 10 to 99, in an included schema",
                    {{"doc.xml", Instance("s.xsd")},
                     {"s.xsd", Schema("<xsd:include schemaLocation='sub/t.xsd'/><xsd:element name='r' type='T'/>")},
                     {"sub/t.xsd", Schema("<xsd:complexType name='T'><xsd:sequence maxOccurs='100'><xsd:element "
                                          "name='a' minOccurs='10' maxOccurs='99'/><xsd:element name='b' "
                                          "minOccurs='10' maxOccurs='99'/></xsd:sequence></xsd:complexType>")}},
                    "the content model of type 'T' has more than 2000 particles"});
    rows.push_back(
        {"schema: pattern (a*)*b",
         {{"doc.xml", Instance("s.xsd", "a")},
          {"s.xsd", Schema("<xsd:element name='r'><xsd:simpleType><xsd:restriction base='xsd:string'>"
                           "<xsd:pattern value='(a*)*b'/></xsd:restriction></xsd:simpleType></xsd:element>")}},
         "the pattern '(a*)*b' repeats a group that can match nothing"});
    rows.push_back({"schema: 50,000 nested sequences",
                    {{"doc.xml", Instance("s.xsd", "<a/>")},
                     {"s.xsd", Schema("<xsd:element name='r'><xsd:complexType>" + Repeat("<xsd:sequence>", 50000) +
                                      "<xsd:element name='a'/>" + Repeat("</xsd:sequence>", 50000) +
                                      "</xsd:complexType></xsd:element>")}},
                    "elements nested deeper than 1000 levels"});
    rows.push_back(
        {"schema: a chain of 20,000 derived types",
         {{"doc.xml", Instance("s.xsd", "x")},
          {"s.xsd", Schema("<xsd:simpleType name='t0'><xsd:restriction base='xsd:string'/></xsd:simpleType>" +
                           [] {
                               std::string chain;
                               for (int i = 1; i < 20000; ++i)
                                   chain += "<xsd:simpleType name='t" + std::to_string(i) +
                                            "'><xsd:restriction base='t" + std::to_string(i - 1) +
                                            "'/></xsd:simpleType>";
                               return chain;
                           }() +
                           "<xsd:element name='r' type='t19999'/>")}},
         "is derived through more than 256 levels"});
    rows.push_back({"a valid element of 1500 attributes",
                    {{"doc.xml", "<r" +
                                     [] {
                                         std::string attributes;
                                         for (int i = 0; i < 1500; ++i) attributes += " a" + std::to_string(i) + "='v'";
                                         return attributes;
                                     }() +
                                     "/>"}},
                    nullptr});
    rows.push_back({"a valid DTD: conditional section, parameter entities, an external one in a sub-folder",
                    {{"doc.xml", "<!DOCTYPE r SYSTEM 'g.dtd'><r><a>x</a><a v='w'>y</a></r>"},
                     {"g.dtd",
                      "<!ENTITY % inc 'INCLUDE'><!ENTITY % model '(a)*'><![%inc;[<!ELEMENT r %model;>]]>"
                      "<!ELEMENT a (#PCDATA)><!ENTITY % ext SYSTEM 'sub/more.ent'>%ext;"},
                     {"sub/more.ent", "<?xml version='1.0' encoding='UTF-8'?><!ATTLIST a v CDATA 'default'>"}},
                    nullptr});
    rows.push_back({"a valid schema: a repeated group, a pattern, an included type",
                    {{"doc.xml", Instance("s.xsd", Repeat("<a>abab</a><b/>", 10))},
                     {"s.xsd", Schema("<xsd:include schemaLocation='sub/t.xsd'/><xsd:element name='r' type='T'/>")},
                     {"sub/t.xsd", Schema("<xsd:complexType name='T'><xsd:sequence maxOccurs='10'>"
                                          "<xsd:element name='a'><xsd:simpleType><xsd:restriction base='xsd:string'>"
                                          "<xsd:pattern value='(ab)+'/></xsd:restriction></xsd:simpleType>"
                                          "</xsd:element><xsd:element name='b' minOccurs='0' maxOccurs='99'/>"
                                          "</xsd:sequence></xsd:complexType>")}},
                    nullptr});
    return rows;
}

// Each row in a child process allowed 256 MiB more than it has and 60 s: the document is
// refused with one kind-3 record naming the bound (a validity error may come first), or loads
// cleanly; the same object then loads the next document.
TEST(Budget, AmplifyingDocumentsAndGrammarsAreRefusedInBoundedMemory) {
    if (kelxml_test::UnderAddressSanitizer())
        std::printf("[ note     ] under AddressSanitizer: no address-space limit, only the outcomes are checked\n");
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ::mkdir(dir.File("sub").c_str(), 0755);
        for (const auto& [name, content] : row.files) WriteFile(dir.File(name), content);
        const std::string path = dir.File(row.files.front().first);
        const std::string outcome = RunInLimitedChild(
            [&path] {
                XML::CKelXML doc;
                const bool loaded = doc.Load(path.c_str(), false);
                const auto records = Records(doc);
                std::string text = loaded ? "loaded" : "refused";
                text += "|" + std::to_string(records.size());
                if (!records.empty())
                    text += "|" + std::to_string(records.back().eType) + "|" + records.back().strMessage;
                return text + (doc.Load(static_cast<const void*>("<r/>"), 4) ? "|again" : "|broken");
            },
            std::size_t{256} << 20, 60);
        if (!row.refusal) {
            EXPECT_EQ(outcome, "loaded|0|again");
            continue;
        }
        EXPECT_EQ(outcome.rfind("refused|", 0), 0u) << outcome;
        EXPECT_NE(outcome.find("|3|"), std::string::npos) << outcome;
        EXPECT_NE(outcome.find(row.refusal), std::string::npos) << outcome;
        EXPECT_NE(outcome.find("|again"), std::string::npos) << outcome;
    }
}

// A pattern refused in a schema is refused from memory too: naming a schema turns validation on.
TEST(Budget, SchemaNamedByADocumentInMemoryIsJudgedToo) {
    TempDir dir;
    WriteFile(dir.File("s.xsd"), Schema("<xsd:element name='r'><xsd:simpleType><xsd:restriction base='xsd:string'>"
                                        "<xsd:pattern value='(a|)+b'/></xsd:restriction></xsd:simpleType>"
                                        "</xsd:element>"));
    XML::CKelXML doc;
    EXPECT_FALSE(kelxml_test::LoadText(doc, Instance(dir.File("s.xsd"), "a")));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_EXCEPTION);
    EXPECT_NE(Records(doc)[0].strMessage.find("repeats a group that can match nothing"), std::string::npos);
}

// The caller raises the bounds for documents it trusts, or lowers them; each object keeps its own.
TEST(Budget, LimitsCanBeRaisedPerObject) {
    const XML::sLimits defaults;
    XML::CKelXML doc;
    EXPECT_EQ(doc.GetLimits().maxEntityDepth, defaults.maxEntityDepth);
    EXPECT_EQ(defaults.maxExpandedCharacters, 10000000u);

    std::string chain = "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY e0 'x'>";
    for (int i = 1; i <= 100; ++i) chain += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
    chain += "]><r>&e100;</r>";
    std::string wide = "<r";
    for (int i = 0; i < 200; ++i) wide += " a" + std::to_string(i) + "='v'";
    wide += "/>";

    EXPECT_FALSE(kelxml_test::LoadText(doc, chain));
    XML::sLimits raised = defaults;
    raised.maxEntityDepth = 200;
    doc.SetLimits(raised);
    EXPECT_TRUE(kelxml_test::LoadText(doc, chain));
    doc.SetLimits(XML::sLimits::Huge());
    EXPECT_TRUE(kelxml_test::LoadText(doc, chain));

    XML::sLimits narrow = defaults;
    narrow.maxAttributeCost = 1000;
    doc.SetLimits(narrow);
    EXPECT_FALSE(kelxml_test::LoadText(doc, wide));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].strMessage,
              "an element with 200 attributes: past the attribute cost bound of 1000 comparisons");
    // A move carries them; a new object has the defaults.
    XML::CKelXML moved(std::move(doc));
    EXPECT_EQ(moved.GetLimits().maxAttributeCost, 1000u);
    EXPECT_FALSE(kelxml_test::LoadText(moved, wide));
    XML::CKelXML fresh;
    EXPECT_TRUE(kelxml_test::LoadText(fresh, wide));

    // The expansion count is a limit of its own.
    XML::sLimits counted = defaults;
    counted.maxEntityExpansions = 1000;
    XML::CKelXML expansions;
    expansions.SetLimits(counted);
    EXPECT_FALSE(kelxml_test::LoadText(
        expansions, "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY a 'xx'>]><r>" + Repeat("&a;", 2000) + "</r>"));
    ASSERT_FALSE(Records(expansions).empty());
    EXPECT_NE(Records(expansions).back().strMessage.find("'1000' entity expansions"), std::string::npos);
}

}  // namespace
