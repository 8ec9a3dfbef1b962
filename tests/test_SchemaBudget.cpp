// SchemaBudget: schema documents judged before the validator compiles them.
#include "TestSupport.h"

#include "XML/internal/SchemaBudget.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using XML::internal::PatternRefusal;
using XML::internal::SchemaBudget;

TEST(SchemaBudget, PatternsThatRepeatAnEmptyMatchAreRefused) {
    for (const char* pattern : {"(a*)*b", "(a?)+", "(a|)*", "()*", "(a|b?){2,}", "x((a*)(b?)){3}", "((a*))*"}) {
        SCOPED_TRACE(pattern);
        EXPECT_NE(PatternRefusal(pattern).find("repeats a group that can match nothing"), std::string::npos);
    }
    for (const char* pattern : {"(ab)*c", "(a+|b)*", "[()*]*", "\\(*", "(a*)?", "\\p{L}*(a|b){0,3}", "(a*b)+",
                                "[a-z-[aeiou]]+", "((a)|(b))*", "(a*){1}"}) {
        SCOPED_TRACE(pattern);
        EXPECT_EQ(PatternRefusal(pattern), "");
    }
    EXPECT_NE(PatternRefusal(std::string(300, '(') + std::string(300, ')')).find("nests more than 256 groups"),
              std::string::npos);
}

// For a value of 256 characters or less the matcher recurses without allocating: a pattern
// whose levels could then exceed the stack a small thread has is refused (alternatives nested in
// a repetition); bounded repetitions are counted as such.
TEST(SchemaBudget, PatternsTooDeepForShortValuesAreRefused) {
    for (const char* pattern : {"((a|b)|c)+d", "(a|(b|c))*", "((a|b){1,3})+", "(x|(a|b)y?)+"}) {
        SCOPED_TRACE(pattern);
        EXPECT_NE(PatternRefusal(pattern).find("may take the matcher"), std::string::npos);
    }
    for (const char* pattern : {"(a|b)+c", "(ab|cd)+", "(a|b){200}", "[0-9]{1000}", "((a|b)(a|b))+", "(a|b)?x"}) {
        SCOPED_TRACE(pattern);
        EXPECT_EQ(PatternRefusal(pattern), "");
    }
}

std::string Schema(const std::string& body) {
    return "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema'>" + body + "</xsd:schema>";
}

// Occurrence bounds unrolled the way the validator does: a repeated group is copied once per
// occurrence with all it holds; an element alone keeps one repeating particle.
TEST(SchemaBudget, UnrolledParticlesAreCountedAcrossDocuments) {
    XML::sLimits limits;
    limits.maxContentModelParticles = 100;
    const XML::XStr id("s.xsd");
    struct Case {
        const char* name;
        std::string schema;
        bool refused;
    };
    const auto type = [](const std::string& particle) {
        return Schema("<xsd:complexType name='T'>" + particle + "</xsd:complexType>");
    };
    const Case cases[] = {
        {"an element with maxOccurs 10^6",
         type("<xsd:sequence><xsd:element name='a' maxOccurs='1000000'/>"
              "</xsd:sequence>"),
         false},
        {"50 copies of two elements",
         type("<xsd:sequence maxOccurs='50'><xsd:element name='a'/>"
              "<xsd:element name='b'/></xsd:sequence>"),
         false},
        {"51 copies of two elements",
         type("<xsd:sequence maxOccurs='51'><xsd:element name='a'/>"
              "<xsd:element name='b'/></xsd:sequence>"),
         true},
        {"an element of 60 inside a group of 2",
         type("<xsd:choice maxOccurs='2'><xsd:element name='a' "
              "maxOccurs='60'/></xsd:choice>"),
         true},
        {"unbounded with minOccurs 3",
         type("<xsd:sequence minOccurs='3' maxOccurs='unbounded'>"
              "<xsd:element name='a'/></xsd:sequence>"),
         false},
        {"a saturating bound",
         type("<xsd:sequence maxOccurs='99999999999999999999999'><xsd:element name='a'/>"
              "</xsd:sequence>"),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SchemaBudget budget(limits);
        EXPECT_EQ(!budget.Add(c.schema, id.unicodeForm()).empty(), c.refused);
    }
    // A group from one document used by a type of another, and an extension adding its base.
    SchemaBudget budget(limits);
    EXPECT_EQ(budget.Add(Schema("<xsd:complexType name='T'><xsd:sequence><xsd:group ref='p:G' maxOccurs='45'/>"
                                "</xsd:sequence></xsd:complexType><xsd:complexType name='U'><xsd:complexContent>"
                                "<xsd:extension base='T'><xsd:sequence maxOccurs='20'><xsd:element name='c'/>"
                                "</xsd:sequence></xsd:extension></xsd:complexContent></xsd:complexType>"),
                         id.unicodeForm()),
              "");
    EXPECT_EQ(budget.Add(Schema("<xsd:group name='G'><xsd:sequence><xsd:element name='a'/><xsd:element name='b'/>"
                                "</xsd:sequence></xsd:group>"),
                         id.unicodeForm()),
              "schema 's.xsd': the content model of type 'U' has more than 100 particles once its occurrence "
              "bounds are unrolled");
}

TEST(SchemaBudget, DerivationChainsAndDocumentsAreBounded) {
    XML::sLimits limits;
    limits.maxDerivationDepth = 10;
    limits.maxDepth = 20;
    const XML::XStr id("s.xsd");
    const auto chain = [](int length) {
        std::string types = "<xsd:simpleType name='t0'><xsd:restriction base='xsd:string'/></xsd:simpleType>";
        for (int i = 1; i < length; ++i)
            types += "<xsd:complexType name='t" + std::to_string(i) + "'><xsd:simpleContent><xsd:extension base='t" +
                     std::to_string(i - 1) + "'/></xsd:simpleContent></xsd:complexType>";
        return Schema(types);
    };
    EXPECT_EQ(SchemaBudget(limits).Add(chain(10), id.unicodeForm()), "");
    EXPECT_EQ(SchemaBudget(limits).Add(chain(11), id.unicodeForm()),
              "schema 's.xsd': type 't10' is derived through more than 10 levels");
    std::string deep;
    for (int i = 0; i < 25; ++i) deep += "<xsd:sequence>";
    EXPECT_EQ(SchemaBudget(limits).Add(Schema(deep), id.unicodeForm()),
              "schema 's.xsd': elements nested deeper than 20 levels");
    // Not well-formed: left to the validator, which reports it in its own words.
    EXPECT_EQ(SchemaBudget(limits).Add("<xsd:schema", id.unicodeForm()), "");
}

}  // namespace
