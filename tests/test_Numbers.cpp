// Numbers written into a document by type (the reads are rows of tests/data/reads.txt), the
// written text reading back to the same value, and the string load.
#include "TestSupport.h"

#include <cmath>
#include <limits>
#include <string_view>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;

TEST(Numbers, WritersPickTheFormOfTheArgumentsType) {
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("r"));
    xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement();
    const short small = -7;
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", 0));  // a literal 0 is a number here, not a null text
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", std::vector<int>(3).size()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", std::numeric_limits<long long>::min()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", 1.0f / 3));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", true));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", small));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", 5u));  // the unsigned int form, as before
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", std::numeric_limits<unsigned long long>::max()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", -std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", std::nan("")));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "v", 1e21));
    EXPECT_FALSE(doc.AddChildNodeValue(root, "v", nullptr));       // still the text form: recorded
    EXPECT_NE(doc.AddNewAttribute("text", "yes", root), nullptr);  // a literal stays text, not a bool
    EXPECT_NE(doc.AddNewAttribute("n", -3, root), nullptr);
    EXPECT_NE(doc.ModifyAttribute("n", 2.5, root), nullptr);
    EXPECT_EQ(doc.ModifyAttribute("absent", 1, root), nullptr);
    std::vector<std::string> texts;
    XML::CKelXML::GetArrayOfTagValues(root, "v", texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"0", "3", "-9223372036854775808", "0.33333334", "true", "-7", "5",
                                               "18446744073709551615", "-INF", "NaN", "1e+21"}));
    EXPECT_EQ(XML::CKelXML::GetAttributes(root),
              (std::vector<std::pair<std::string, std::string>>{{"n", "2.5"}, {"text", "yes"}}));
}

TEST(Numbers, WrittenTextReadsBackToTheSameValue) {
    for (const double d : {0.1, 1.0 / 3, -2.5e-300, 123456789.125, std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(), -0.0}) {
        Loaded in("<r><v>" + XML::CKelXML::ValueText(d) + "</v></r>");
        double back = 1;
        ASSERT_TRUE(XML::CKelXML::GetChildValueChecked(in.root, "v", back)) << XML::CKelXML::ValueText(d);
        EXPECT_TRUE(back == d && std::signbit(back) == std::signbit(d)) << XML::CKelXML::ValueText(d);
    }
    Loaded third("<r><v>" + XML::CKelXML::ValueText(1.0f / 3) + "</v></r>");
    float back = 0;
    EXPECT_TRUE(XML::CKelXML::GetChildValueChecked(third.root, "v", back) && back == 1.0f / 3);
}

TEST(Numbers, LoadFromMemoryTakesAStringAndValidatesOnRequest) {
    XML::CKelXML doc;
    EXPECT_FALSE(doc.LoadFromMemory("<!DOCTYPE a [<!ELEMENT a EMPTY>]><a><b/></a>"));  // invalid, well-formed
    EXPECT_EQ(Records(doc).at(0).eType, XML::E_ERROR);
    EXPECT_EQ(Records(doc)[0].strSystemId, "toto");
    EXPECT_TRUE(doc.LoadFromMemory("<a>1</a>") && Records(doc).empty());
    EXPECT_FALSE(doc.LoadFromMemory("<a/>", true));  // always validate: no grammar is an error
    EXPECT_FALSE(doc.LoadFromMemory(std::string_view()));
    EXPECT_EQ(Records(doc).at(0).eType, XML::E_FATAL_ERROR);
    const std::string twoRoots = "<a>x</a><b/>";  // the view's size counts, not a terminator
    EXPECT_FALSE(doc.LoadFromMemory(twoRoots));
    EXPECT_TRUE(doc.LoadFromMemory(std::string_view(twoRoots.data(), 8)));
}
