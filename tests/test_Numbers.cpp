// Numbers both ways through a document: the typed writers, the checked reads, and the string load.
#include "TestSupport.h"

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

using namespace kelxml_test;

namespace {

std::string TextOfChild(xercesc::DOMNode* parent, const char* name) {
    std::string text = "(absent)";
    XML::CKelXML::GetChildValue(parent, name, text);
    return text;
}

std::string AttributeOf(xercesc::DOMElement* element, const char* name) {
    std::string text;
    XML::CKelXML::GetAttributeValue(element, name, text);
    return text;
}

}  // namespace

TEST(Numbers, WritersPickTheNumberFormAndWriteItsText) {
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("r"));
    xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement();
    const std::vector<int> items(3);
    const short small = -7;
    const float third = 1.0f / 3;
    EXPECT_TRUE(doc.AddChildNodeValue(root, "delta", -3));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "count", 0));  // a literal 0 is a number here, not a null text
    EXPECT_TRUE(doc.AddChildNodeValue(root, "size", items.size()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "big", 18446744073709551615ull));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "low", std::numeric_limits<long long>::min()));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "ratio", 0.1));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "third", third));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "flag", true));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "short", small));
    EXPECT_TRUE(doc.AddChildNodeValue(root, "unsigned", 5u));  // the unsigned int form, as before
    EXPECT_TRUE(doc.AddChildNodeValue(root, "text", "0"));
    EXPECT_FALSE(doc.AddChildNodeValue(root, "null", nullptr));  // still the text form: recorded
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"delta", "-3"},
        {"count", "0"},
        {"size", "3"},
        {"big", "18446744073709551615"},
        {"low", "-9223372036854775808"},
        {"ratio", "0.1"},
        {"third", "0.33333334"},
        {"flag", "true"},
        {"short", "-7"},
        {"unsigned", "5"},
        {"text", "0"},
        {"null", "(absent)"},
    };
    for (const Case& c : cases) EXPECT_EQ(TextOfChild(root, c.name), c.text) << c.name;
    float back = 0;
    EXPECT_TRUE(XML::CKelXML::GetChildValueChecked(root, "third", back));
    EXPECT_EQ(back, third);  // the float's shortest text reads back to the same float

    EXPECT_NE(doc.AddNewAttribute("n", -3, root), nullptr);
    EXPECT_NE(doc.AddNewAttribute("zero", 0, root), nullptr);
    EXPECT_NE(doc.AddNewAttribute("on", false, root), nullptr);
    EXPECT_NE(doc.AddNewAttribute("text", "yes", root), nullptr);  // a literal stays text, not a bool
    EXPECT_NE(doc.ModifyAttribute("n", 2.5, root), nullptr);
    EXPECT_EQ(doc.ModifyAttribute("absent", 1, root), nullptr);
    EXPECT_EQ(AttributeOf(root, "n"), "2.5");
    EXPECT_EQ(AttributeOf(root, "zero"), "0");
    EXPECT_EQ(AttributeOf(root, "on"), "false");
    EXPECT_EQ(AttributeOf(root, "text"), "yes");
    EXPECT_EQ(AttributeOf(root, "absent"), "");
}

TEST(Numbers, CheckedReadsOfElementsAndAttributesTakeWholeValuesOnly) {
    struct Case {
        const char* text;
        bool asInt;
        int intValue;
        bool asBool;
        bool boolValue;
    };
    const Case cases[] = {
        {"8", true, 8, false, false},
        {"eight", false, 0, false, false},
        {"12abc", false, 0, false, false},
        {"99999999999", false, 0, false, false},
        {"\n  -42\n", true, -42, false, false},
        {"yes", false, 0, false, false},
        {"true", false, 0, true, true},
        {"0", true, 0, true, false},
        {"1", true, 1, true, true},
        {"", false, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        Loaded in(std::string("<r v='") + c.text + "'><v>" + c.text + "</v></r>");
        int fromElement = 77, fromAttribute = 77;
        EXPECT_EQ(XML::CKelXML::GetChildValueChecked(in.root, "v", fromElement), c.asInt);
        EXPECT_EQ(XML::CKelXML::GetAttributeValueChecked(in.root, "v", fromAttribute), c.asInt);
        EXPECT_EQ(fromElement, c.asInt ? c.intValue : 77);
        EXPECT_EQ(fromAttribute, fromElement);
        bool flag = !c.boolValue;
        EXPECT_EQ(XML::CKelXML::GetChildValueChecked(in.root, "v", flag), c.asBool);
        EXPECT_EQ(flag, c.asBool ? c.boolValue : !c.boolValue);
        flag = !c.boolValue;
        EXPECT_EQ(XML::CKelXML::GetAttributeValueChecked(in.root, "v", flag), c.asBool);
        EXPECT_EQ(flag, c.asBool ? c.boolValue : !c.boolValue);
    }
}

TEST(Numbers, CheckedReadsOfEveryTypeAndMissingPlaces) {
    Loaded in("<r big='99999999999' neg='-5' f='2.5' attr='1'><u>4294967295</u><d>1e-3</d></r>");
    long l = 0;
    long long ll = 0;
    unsigned int u = 0;
    unsigned long ul = 9;
    unsigned long long ull = 0;
    float f = 0;
    double d = 0;
    EXPECT_TRUE(XML::CKelXML::GetAttributeValueChecked(in.root, "big", l));
    EXPECT_EQ(l, 99999999999L);
    EXPECT_TRUE(XML::CKelXML::GetAttributeValueChecked(in.root, "big", ll));
    EXPECT_FALSE(XML::CKelXML::GetAttributeValueChecked(in.root, "big", u));
    EXPECT_FALSE(XML::CKelXML::GetAttributeValueChecked(in.root, "neg", ul));
    EXPECT_EQ(ul, 9u);
    EXPECT_TRUE(XML::CKelXML::GetChildValueChecked(in.root, "u", u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_TRUE(XML::CKelXML::GetChildValueChecked(in.root, "u", ull));
    EXPECT_TRUE(XML::CKelXML::GetAttributeValueChecked(in.root, "f", f));
    EXPECT_EQ(f, 2.5f);
    EXPECT_TRUE(XML::CKelXML::GetChildValueChecked(in.root, "d", d));
    EXPECT_EQ(d, 0.001);
    int untouched = 5;
    EXPECT_FALSE(XML::CKelXML::GetChildValueChecked(in.root, "absent", untouched));
    EXPECT_FALSE(XML::CKelXML::GetAttributeValueChecked(in.root, "absent", untouched));
    EXPECT_FALSE(XML::CKelXML::GetChildValueChecked(nullptr, "u", untouched));
    EXPECT_FALSE(XML::CKelXML::GetAttributeValueChecked(in.root, nullptr, untouched));
    EXPECT_FALSE(XML::CKelXML::GetChildValueChecked(in.root, nullptr, untouched));
    EXPECT_EQ(untouched, 5);
    int cLibrary = 0;  // the C-library forms keep reading as they did
    EXPECT_TRUE(XML::CKelXML::GetAttributeValue(in.root, "big", cLibrary));
}

TEST(Numbers, LoadFromMemoryTakesAStringAndValidatesOnRequest) {
    const std::string text = "<!DOCTYPE a [<!ELEMENT a EMPTY>]><a><b/></a>";  // invalid, well-formed
    XML::CKelXML doc;
    EXPECT_FALSE(doc.LoadFromMemory(text));
    ASSERT_FALSE(Records(doc).empty());
    EXPECT_EQ(Records(doc)[0].eType, XML::E_ERROR);
    EXPECT_EQ(Records(doc)[0].strSystemId, "toto");
    EXPECT_TRUE(doc.LoadFromMemory("<a>1</a>"));
    EXPECT_TRUE(Records(doc).empty());
    EXPECT_FALSE(doc.LoadFromMemory("<a/>", true));  // always validate: no grammar is an error
    EXPECT_FALSE(doc.LoadFromMemory(std::string_view()));
    EXPECT_EQ(Records(doc).at(0).eType, XML::E_FATAL_ERROR);
    const std::string twoRoots = "<a>x</a><b/>";  // the view's size counts, not a terminator
    EXPECT_FALSE(doc.LoadFromMemory(twoRoots));
    EXPECT_TRUE(doc.LoadFromMemory(std::string_view(twoRoots.data(), 8)));
}
