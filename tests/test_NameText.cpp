// Names and text between the DOM's 16-bit strings and the local code page.
#include "TestSupport.h"

#include "XML/internal/NameText.h"

#include <climits>
#include <string>

using namespace XML::internal;
using kelxml_test::Loaded;

TEST(NameText, NameIsComparesWholeNamesAsciiAndNot) {
    Loaded in("<r><caf\xC3\xA9/><ab/><p:q xmlns:p='u'/></r>");
    const xercesc::DOMNode* cafe = in.root->getFirstChild();
    const xercesc::DOMNode* ab = cafe->getNextSibling();
    const xercesc::DOMNode* pq = ab->getNextSibling();
    EXPECT_TRUE(NameIs(cafe, "caf\xC3\xA9"));
    EXPECT_FALSE(NameIs(cafe, "caf"));
    EXPECT_TRUE(NameIs(ab, "ab"));
    EXPECT_FALSE(NameIs(ab, "a"));
    EXPECT_FALSE(NameIs(ab, "abc"));
    EXPECT_TRUE(NameIs(pq, "p:q"));
    EXPECT_FALSE(NameIs(pq, "q"));
}

TEST(NameText, Name16WidensShortAndLongNames) {
    const std::string longName(200, 'n');
    for (const std::string& name : {std::string("a"), longName, std::string("\xC3\xA9t\xC3\xA9")}) {
        const Name16 wide(name.c_str());
        EXPECT_EQ(XML::XStr::ToLocal(wide.get()), name);
    }
}

TEST(NameText, TextOfGathersTextAndCdataButNotCommentsOrPIs) {
    Loaded in("<r>a<![CDATA[<b>]]><x>c<!--no--><?pi no?>d</x>e</r>");
    std::string text;
    EXPECT_TRUE(TextOf(in.root, text));
    EXPECT_EQ(text, "a<b>cde");
    XString scratch;
    const xercesc::DOMNode* x = in.root->getFirstChild()->getNextSibling()->getNextSibling();
    EXPECT_EQ(XML::XStr::ToLocal(Text16(x, scratch)), "cd");
    EXPECT_TRUE(TextOf(in.doc.GetDocument(), text));
    EXPECT_EQ(text, "");
}

TEST(NameText, AttributesAndBooleanRules) {
    Loaded in("<r a='1' e=''/>");
    std::string text = "kept";
    EXPECT_FALSE(AttributeText(in.root, "missing", text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(AttributeText(in.root, "e", text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(Attribute16(in.root->getFirstChild(), "a"), nullptr);
    const struct {
        const char* text;
        bool element, attribute;
    } cases[] = {{"true", true, true}, {"false", false, false}, {"2", true, true}, {"-1", false, true},
                 {"0", false, false},  {"yes", false, false},   {"", false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(ElementTextIsTrue(c.text), c.element) << c.text;
        EXPECT_EQ(AttributeTextIsTrue(c.text), c.attribute) << c.text;
    }
}

TEST(NameText, WidenJoinsSurrogatePairs) {
    const XMLCh text[] = {0x41, 0xD83D, 0xDE00, 0xE9, 0};
    const std::wstring wide = Widen(text);
    if (sizeof(wchar_t) >= 4) {
        EXPECT_EQ(wide, std::wstring(L"A\U0001F600\u00E9"));
    } else {
        EXPECT_EQ(wide.size(), 4u);
    }
}
