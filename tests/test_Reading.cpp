// Reading: lookups, counts, element text, attributes, iteration and the child dictionary.
#include "TestSupport.h"

#include <climits>
#include <cstring>
#include <stdexcept>

using namespace kelxml_test;
using namespace xercesc;
using XML::CKelXML;

namespace {

std::string NameOf(const DOMNode* node) { return node ? XML::XStr::ToLocal(node->getNodeName()) : "(null)"; }
std::string TextOf(const DOMNode* node) {
    std::string text = "(null)";
    CKelXML::GetValue(node, text);
    return text;
}
DOMElement* Child(const DOMNode* parent, const char* name) {
    return static_cast<DOMElement*>(CKelXML::GetNode(const_cast<DOMNode*>(parent), name));
}
// One typed read into a value that starts as start: (result, value afterwards).
template <class T>
std::pair<bool, T> Attr(const DOMNode* node, const char* name, T start) {
    const bool ok = CKelXML::GetAttributeValue(node, name, start);
    return {ok, start};
}
template <class T>
std::pair<bool, T> ChildValue(const DOMNode* node, const char* name, T start) {
    const bool ok = CKelXML::GetChildValue(node, name, start);
    return {ok, start};
}
template <class T>
std::pair<bool, T> Is(bool ok, T value) {
    return {ok, value};
}

}  // namespace

// --- Lookup --------------------------------------------------------------------------------

TEST(GetRootNode, FailuresAreRecordedOnDemandAndMissesAreNot) {
    CKelXML none;
    ASSERT_EQ(none.GetErrors(), nullptr);
    EXPECT_EQ(none.GetRootNode("a"), nullptr);
    ASSERT_EQ(Records(none).size(), 1u);
    EXPECT_EQ(Records(none)[0].eType, XML::E_MISSING);
    EXPECT_EQ(Records(none)[0].strMessage, "DOMDOCUMENT undefined");

    CKelXML empty;
    EXPECT_FALSE(LoadText(empty, ""));  // a document without any child
    const std::size_t before = Records(empty).size();
    EXPECT_EQ(empty.GetRootNode("a"), nullptr);
    ASSERT_EQ(Records(empty).size(), before + 1);
    EXPECT_EQ(Records(empty).back().eType, XML::E_MISSING);
    EXPECT_EQ(Records(empty).back().strMessage, "none child node in DOMDocument");

    Loaded loaded("<a/>");
    EXPECT_EQ(loaded.doc.GetRootNode("A"), nullptr);
    EXPECT_EQ(loaded.doc.GetRootNode(""), nullptr);
    EXPECT_TRUE(Records(loaded.doc).empty());
}

TEST(GetRootNode, FindsTheFirstTopLevelNodeOfAnyKind) {
    Loaded dtd("<!DOCTYPE cfg [<!ELEMENT cfg ANY>]><cfg/><!--after-->");
    // The document type bears the root element's name: the root element is what is meant.
    EXPECT_EQ(dtd.doc.GetRootNode("cfg"), dtd.root);
    EXPECT_EQ(TextOf(dtd.doc.GetRootNode("#comment")), "after");

    Loaded before("<?pi x?><!--first--><r/><!--second-->");
    EXPECT_EQ(TextOf(before.doc.GetRootNode("#comment")), "first");
    EXPECT_EQ(before.doc.GetRootNode("pi")->getNodeType(), DOMNode::PROCESSING_INSTRUCTION_NODE);
    EXPECT_EQ(before.doc.GetRootNode("r"), before.root);
}

TEST(ChildLookup, GetNodeAndGetFirstSubNodeAgreeAndDoNotDescend) {
    const std::string longName(100, 'n');
    Loaded l(
        "<r xmlns:p='urn:p'><p:item/><Item>I</Item>text<b><c/></b><!--note--><?target d?>"
        "<![CDATA[cd]]><Item>second</Item><cafe>e</cafe><caf\xC3\xA9>\xC3\xA9</caf\xC3\xA9><" +
        longName + ">long</" + longName + "></r>");
    struct Case {
        const char* name;
        const char* found;  // expected text of the match, null for no match
    };
    const Case cases[] = {{"Item", "I"},
                          {"item", nullptr},
                          {"p:item", ""},
                          {"c", nullptr},
                          {"#text", "text"},
                          {"#comment", "note"},
                          {"target", "d"},
                          {"#cdata-section", "cd"},
                          {"", nullptr},
                          {"Item ", nullptr},
                          {"cafe", "e"},
                          {"caf", nullptr},
                          {"caf\xC3\xA9", "\xC3\xA9"},
                          {"caf\xC3", nullptr},
                          {longName.c_str(), "long"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DOMNode* viaWalk = CKelXML::GetNode(l.root, c.name);
        EXPECT_EQ(CKelXML::GetFirstSubNode(l.root, c.name), viaWalk);
        if (c.found) {
            EXPECT_EQ(NameOf(viaWalk), c.name);
            EXPECT_EQ(TextOf(viaWalk), c.found);
        } else {
            EXPECT_EQ(viaWalk, nullptr);
        }
    }
    EXPECT_EQ(CKelXML::GetNode(nullptr, "b"), nullptr);
    EXPECT_EQ(CKelXML::GetFirstSubNode(nullptr, "b"), nullptr);
    EXPECT_EQ(CKelXML::GetNode(l.root, nullptr), nullptr);
    EXPECT_EQ(CKelXML::GetFirstSubNode(l.root, nullptr), nullptr);
}

TEST(GetFirstNode, PreOrderBelowTheStartElementOnly) {
    Loaded l("<r><a id='1'>t<b/><a id='2'/></a><a id='3'/><c/></r>");
    DOMElement* a1 = Child(l.root, "a");
    DOMNode* a2 = CKelXML::GetFirstNode(a1, "a");
    std::string id;
    EXPECT_TRUE(CKelXML::GetAttributeValue(a2, "id", id));
    EXPECT_EQ(id, "2");
    EXPECT_EQ(CKelXML::GetFirstNode(l.root, "*"), a1);
    EXPECT_EQ(CKelXML::GetFirstNode(a1, "*"), CKelXML::GetNode(a1, "b"));
    EXPECT_EQ(CKelXML::GetFirstNode(l.root, "b"), CKelXML::GetNode(a1, "b"));  // nested before later sibling
    EXPECT_EQ(CKelXML::GetFirstNode(l.root, "r"), nullptr);
    EXPECT_EQ(CKelXML::GetFirstNode(l.root, "A"), nullptr);
    EXPECT_EQ(CKelXML::GetFirstNode(nullptr, "a"), nullptr);
    EXPECT_EQ(CKelXML::GetFirstNode(l.doc.GetDocument(), "a"), nullptr);
    EXPECT_EQ(CKelXML::GetFirstNode(a1->getFirstChild(), "a"), nullptr);  // text node
    EXPECT_EQ(CKelXML::GetFirstNode(l.root, nullptr), nullptr);
}

TEST(Names, LongAndNonAsciiNamesInEveryKindOfSearch) {
    const std::string longName(64, 'L'), longer(65, 'L');
    for (const std::string& name : {std::string("caf\xC3\xA9"), longName, std::string(200, 'M')}) {
        SCOPED_TRACE(name.size());
        Loaded l("<r><x><" + name + " " + name + "='v'>t</" + name + "></x><" + longer + "/><" + name + "/></r>");
        const DOMNode* found = CKelXML::GetFirstNode(l.root, name.c_str());
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(NameOf(found), name);
        unsigned count = 0;
        EXPECT_TRUE(CKelXML::GetNbChildInNode(l.root, name.c_str(), count));
        EXPECT_EQ(count, 2u);
        EXPECT_TRUE(CKelXML::GetNbChildInNodeWithoutRecursive(l.root, name.c_str(), count));
        EXPECT_EQ(count, 1u);
        std::string value;
        EXPECT_TRUE(CKelXML::GetAttributeValue(found, name.c_str(), value));
        EXPECT_EQ(value, "v");
        EXPECT_TRUE(CKelXML::GetChildValue(l.root, name.c_str(), value));
        EXPECT_EQ(value, "t");
    }
}

// --- Counting -------------------------------------------------------------------------------

TEST(Counting, RecursiveAndDirectCounts) {
    Loaded l("<a><?b pi?><b><b/></b><!--c-->t<x><b/></x><b/><B/></a>");
    const DOMNode* innerB = CKelXML::GetFirstNode(CKelXML::GetFirstNode(l.root, "b"), "b");
    struct Case {
        const char* label;
        const DOMNode* node;
        const char* name;
        bool ok;
        unsigned deep, direct;
    };
    const Case cases[] = {
        {"b under a", l.root, "b", true, 4, 2},
        {"case differs", l.root, "B", true, 1, 1},
        {"star", l.root, "*", true, 6, 0},
        {"own name not counted", innerB, "b", true, 0, 0},
        {"none", l.root, "zz", true, 0, 0},
        {"document node", l.doc.GetDocument(), "b", false, 0, 0},
        {"text node", l.root->getChildNodes()->item(3), "b", false, 0, 0},
        {"null node", nullptr, "b", false, 0, 0},
        {"null name", l.root, nullptr, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        unsigned count = 99;
        EXPECT_EQ(CKelXML::GetNbChildInNode(c.node, c.name, count), c.ok);
        EXPECT_EQ(count, c.deep);
        count = 99;
        EXPECT_EQ(CKelXML::GetNbChildInNodeWithoutRecursive(c.node, c.name, count), c.ok);
        EXPECT_EQ(count, c.direct);
    }
}

// --- Element text ----------------------------------------------------------------------------

TEST(GetValue, TextOfEveryKindOfNode) {
    struct Case {
        const char* xml;  // the root's first child is read
        std::string text;
    };
    const Case cases[] = {
        {"<r><v/></r>", ""},
        {"<r><v></v></r>", ""},
        {"<r><v>1<n>2</n>3</v></r>", "123"},
        {"<r><v>a<!--no-->b<?pi no?>c</v></r>", "abc"},
        {"<r><v> a\n\tb </v></r>", " a\n\tb "},
        {"<r><v>x<![CDATA[<y>&]]>&amp;&lt;&#x41;</v></r>", "x<y>&&<A"},
        {"<r><v>caf\xC3\xA9 \xF0\x9F\x98\x80</v></r>", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"<r>plain</r>", "plain"},
        {"<r><!-- c --></r>", " c "},
        {"<r><?t data?></r>", "data"},
        {"<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT v (#PCDATA)><!ENTITY e 'ent'>]><r><v>a&e;b</v></r>", "aentb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        Loaded l(c.xml);
        std::string text = "stale";
        EXPECT_TRUE(CKelXML::GetValue(l.root->getFirstChild(), text));
        EXPECT_EQ(text, c.text);
    }
    Loaded l("<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA #IMPLIED>]><r a='v &amp; w'>x</r>");
    EXPECT_EQ(TextOf(l.root->getAttributeNode(XML::XStr("a").unicodeForm())), "v & w");
    EXPECT_EQ(TextOf(l.doc.GetDocument()), "");
    EXPECT_EQ(TextOf(l.doc.GetDocument()->getDoctype()), "");
    std::string untouched = "keep";
    EXPECT_FALSE(CKelXML::GetValue(nullptr, untouched));
    EXPECT_EQ(untouched, "keep");
}

TEST(GetValue, WideTextHasOneCharacterPerUnicodeCharacter) {
    Loaded l("<r><a>plain ASCII</a><u>caf\xC3\xA9</u><s>x\xF0\x9F\x98\x80y</s><e/></r>");
    struct Case {
        const char* name;
        std::wstring text;
    };
    const Case cases[] = {{"a", L"plain ASCII"},
                          {"u", std::wstring{L'c', L'a', L'f', wchar_t(0xE9)}},
                          {"s", std::wstring{L'x', wchar_t(0x1F600), L'y'}},
                          {"e", L""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring text = L"stale";
        EXPECT_TRUE(CKelXML::GetValue(Child(l.root, c.name), text));
        EXPECT_EQ(text, c.text);
    }
    std::wstring text = L"stale";
    EXPECT_TRUE(CKelXML::GetValue(l.doc.GetDocument(), text));
    EXPECT_EQ(text, L"");
    text = L"keep";
    EXPECT_FALSE(CKelXML::GetValue(static_cast<const DOMNode*>(nullptr), text));
    EXPECT_EQ(text, L"keep");
}

TEST(GetValue, NamedChildResultTellsWhetherTheOutputIsNonEmpty) {
    Loaded l("<r><a>1</a><e/><!--c--><a>2</a></r>");
    struct Case {
        const char* name;
        std::string before;
        bool result;
        std::string after;
    };
    const Case cases[] = {
        {"a", "", true, "1"},       {"#comment", "x", true, "c"},
        {"e", "full", false, ""},   {"missing", "full", true, "full"},
        {"missing", "", false, ""}, {"A", "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (" / " + c.before));
        std::string text = c.before;
        EXPECT_EQ(CKelXML::GetValue(l.root, c.name, &text), c.result);
        EXPECT_EQ(text, c.after);
    }
    EXPECT_FALSE(CKelXML::GetValue(l.root, "a", nullptr));
    std::string text = "keep";
    CKelXML::GetValue(nullptr, "a", &text);
    EXPECT_EQ(text, "keep");
}

TEST(GetChildValue, ConversionsOfElementText) {
    struct Case {
        const char* text;
        bool boolean;
        int integer;
        float real;
    };
    const Case cases[] = {
        {"true", true, 0, 0.0f},   {"false", false, 0, 0.0f},  {"TRUE", false, 0, 0.0f},  {" true", false, 0, 0.0f},
        {"1", true, 1, 1.0f},      {"2", true, 2, 2.0f},       {"-1", false, -1, -1.0f},  {"", false, 0, 0.0f},
        {" 42 ", true, 42, 42.0f}, {"12abc", true, 12, 12.0f}, {"0x10", false, 0, 16.0f}, {"2.5", true, 2, 2.5f},
        {"1e3", true, 1, 1000.0f}, {"abc", false, 0, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Loaded l(std::string("<r><x><y/></x><v>") + c.text + "</v></r>");
        EXPECT_EQ(ChildValue(l.root, "v", std::string("stale")), Is(true, std::string(c.text)));
        EXPECT_EQ(ChildValue(l.root, "v", !c.boolean), Is(true, c.boolean));
        EXPECT_EQ(ChildValue(l.root, "v", -99), Is(true, c.integer));
        EXPECT_EQ(ChildValue(l.root, "v", -99.0f), Is(true, c.real));
    }
}

TEST(GetChildValue, FindsTheFirstElementInDocumentOrderAndFailsUntouched) {
    Loaded l("<r><x><v>deep</v></x><v>7</v></r>");
    EXPECT_EQ(ChildValue(l.root, "v", std::string()), Is(true, std::string("deep")));
    const DOMNode* nodes[] = {nullptr, l.doc.GetDocument(), l.root, Child(l.root, "v")->getFirstChild()};
    for (const DOMNode* node : nodes) {
        for (const char* name : {"missing", "v", static_cast<const char*>(nullptr)}) {
            if (node == l.root && name && *name == 'v') continue;
            SCOPED_TRACE(NameOf(node) + " / " + (name ? name : "(null)"));
            EXPECT_EQ(ChildValue(node, name, std::string("keep")), Is(false, std::string("keep")));
            EXPECT_EQ(ChildValue(node, name, 5), Is(false, 5));
            EXPECT_EQ(ChildValue(node, name, 5.5f), Is(false, 5.5f));
            EXPECT_EQ(ChildValue(node, name, true), Is(false, true));
        }
    }
}

TEST(GetArrayOfTagValues, AppendsNonEmptyTextsInDocumentOrder) {
    Loaded l("<r><v>a</v><v/><x><v>b</v></x><v> </v></r>");
    std::vector<std::string> values{"pre"};
    EXPECT_TRUE(CKelXML::GetArrayOfTagValues(l.root, "v", values));
    EXPECT_TRUE(CKelXML::GetArrayOfTagValues(l.root, "v", values));
    EXPECT_EQ(values, (std::vector<std::string>{"pre", "a", "b", " ", "a", "b", " "}));
    values = {"keep"};
    EXPECT_FALSE(CKelXML::GetArrayOfTagValues(l.root, "zz", values));
    EXPECT_FALSE(CKelXML::GetArrayOfTagValues(Child(l.root, "x"), "y", values));
    EXPECT_FALSE(CKelXML::GetArrayOfTagValues(l.doc.GetDocument(), "v", values));
    EXPECT_FALSE(CKelXML::GetArrayOfTagValues(nullptr, "v", values));
    EXPECT_FALSE(CKelXML::GetArrayOfTagValues(l.root, nullptr, values));
    EXPECT_EQ(values, std::vector<std::string>{"keep"});
}

// --- Attributes -------------------------------------------------------------------------------

TEST(GetAttributeValue, NumericAndBooleanForms) {
    struct Case {
        const char* value;
        bool b;
        int i;
        long l;
        unsigned long ul;
        unsigned ui;
        unsigned short us;
        float f;
    };
    const Case cases[] = {
        {"true", true, 0, 0, 0, 0, 0, 0.0f},
        {"false", false, 0, 0, 0, 0, 0, 0.0f},
        {"TRUE", false, 0, 0, 0, 0, 0, 0.0f},
        {"", false, 0, 0, 0, 0, 0, 0.0f},
        {"-1", true, -1, -1, ULONG_MAX, UINT_MAX, 65535, -1.0f},
        {"0x1F", false, 0, 0, 31, 31, 0, 31.0f},
        {"010", true, 10, 10, 8, 8, 10, 10.0f},
        {"70000", true, 70000, 70000, 70000, 70000, 4464, 70000.0f},
        {" 42abc", true, 42, 42, 42, 42, 42, 42.0f},
        {"2.5", true, 2, 2, 2, 2, 2, 2.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Loaded doc(std::string("<e v='") + c.value + "'/>");
        const DOMNode* e = doc.root;
        EXPECT_EQ(Attr(e, "v", !c.b), Is(true, c.b));
        EXPECT_EQ(Attr(e, "v", -7), Is(true, c.i));
        EXPECT_EQ(Attr(e, "v", -7L), Is(true, c.l));
        EXPECT_EQ(Attr(e, "v", 7UL), Is(true, c.ul));
        EXPECT_EQ(Attr(e, "v", 7U), Is(true, c.ui));
        EXPECT_EQ(Attr(e, "v", static_cast<unsigned short>(7)), Is(true, c.us));
        EXPECT_EQ(Attr(e, "v", -7.0f), Is(true, c.f));
        EXPECT_EQ(Attr(e, "v", std::string("stale")), Is(true, std::string(c.value)));
    }
}

TEST(GetAttributeValue, TextForms) {
    Loaded l("<e s='a &quot;q&quot; &amp; &lt;b&gt; &apos;' u='caf\xC3\xA9' empty=''/>");
    std::string s = "stale";
    EXPECT_TRUE(CKelXML::GetAttributeValue(l.root, "s", s));
    EXPECT_EQ(s, "a \"q\" & <b> '");
    EXPECT_TRUE(CKelXML::GetAttributeValue(l.root, "u", &s));
    EXPECT_EQ(s, "caf\xC3\xA9");
    EXPECT_TRUE(CKelXML::GetAttributeValue(l.root, "empty", s));
    EXPECT_EQ(s, "");
    s = "x";
    EXPECT_TRUE(CKelXML::GetAttributeValue(l.root, "empty", &s));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "u", static_cast<std::string*>(nullptr)));
}

TEST(GetAttributeValue, CharBufferNeverWritesPastSize) {
    Loaded l("<e v='abc' u='caf\xC3\xA9'/>");
    struct Case {
        const char* name;
        int size;
        bool ok;
        const char* expected;
    };  // expected null: all zero
    const Case cases[] = {
        {"v", 4, true, "abc"},          {"v", 8, true, "abc"},         {"v", 3, false, nullptr},
        {"v", 1, false, nullptr},       {"u", 6, true, "caf\xC3\xA9"}, {"u", 5, false, nullptr},
        {"missing", 8, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.size));
        char buffer[16];
        std::memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(CKelXML::GetAttributeValue(l.root, c.name, buffer, c.size), c.ok);
        for (int k = 0; k < c.size; ++k) {
            const std::size_t len = c.expected ? std::strlen(c.expected) : 0;
            const char want = static_cast<std::size_t>(k) < len ? c.expected[k] : '\0';
            EXPECT_EQ(buffer[k], want) << "byte " << k;
        }
        for (std::size_t k = static_cast<std::size_t>(c.size); k < sizeof buffer; ++k) EXPECT_EQ(buffer[k], 'X');
    }
    char buffer[4] = {'X', 'X', 'X', 'X'};
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "v", buffer, 0));
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "v", buffer, -1));
    EXPECT_EQ(std::string(buffer, 4), "XXXX");
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "v", static_cast<char*>(nullptr), 4));
}

TEST(GetAttributeValue, EveryFormFailsOnNodesWithoutTheAttribute) {
    Loaded l("<r v='1'>text<!--c--></r>");
    const DOMNode* nodes[] = {l.root, l.root->getFirstChild(), l.root->getLastChild(), l.doc.GetDocument(), nullptr};
    for (const DOMNode* node : nodes) {
        for (const char* name : {"missing", "V", static_cast<const char*>(nullptr), "v"}) {
            if (node == l.root && name && std::strcmp(name, "v") == 0) continue;
            SCOPED_TRACE(NameOf(node) + " / " + (name ? name : "(null)"));
            EXPECT_EQ(Attr(node, name, true), Is(false, true));
            EXPECT_EQ(Attr(node, name, 3), Is(false, 3));
            EXPECT_EQ(Attr(node, name, 3L), Is(false, 3L));
            EXPECT_EQ(Attr(node, name, 3UL), Is(false, 3UL));
            EXPECT_EQ(Attr(node, name, 3U), Is(false, 3U));
            EXPECT_EQ(Attr(node, name, static_cast<unsigned short>(3)), Is(false, static_cast<unsigned short>(3)));
            EXPECT_EQ(Attr(node, name, 3.0f), Is(false, 3.0f));
            EXPECT_EQ(Attr(node, name, std::string("keep")), Is(false, std::string()));
            std::string kept = "keep";
            EXPECT_TRUE(CKelXML::GetAttributeValue(node, name, &kept));  // untouched and non-empty
            EXPECT_EQ(kept, "keep");
            char buffer[4] = {'X', 'X', 'X', 'X'};
            EXPECT_FALSE(CKelXML::GetAttributeValue(node, name, buffer, 4));
            EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0'));
            EXPECT_FALSE(CKelXML::HasAttributeSpecificValue(node, name, ""));
        }
    }
}

TEST(GetAttributeValues, StopOnMissingOrSkip) {
    Loaded l("<e a='1' c=''/>");
    const std::string names[] = {"a", "b", "c"};
    std::string values[] = {"x", "y", "z"};
    using Strings = std::vector<std::string>;
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, names, values, 3, true));
    EXPECT_EQ(Strings(values, values + 3), (Strings{"1", "y", "z"}));
    values[0] = "x";
    EXPECT_TRUE(CKelXML::GetAttributeValues(l.root, names, values, 3, false));
    EXPECT_EQ(Strings(values, values + 3), (Strings{"1", "y", ""}));
    EXPECT_TRUE(CKelXML::GetAttributeValues(l.root, nullptr, nullptr, 0, true));
    EXPECT_TRUE(CKelXML::GetAttributeValues(l.root, names, values, -1, true));
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, nullptr, values, 2, false));
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, names, nullptr, 2, false));
}

TEST(HasAttributeSpecificValue, ExactWholeValue) {
    Loaded l("<e v='Value' empty='' amp='a&amp;b'/>");
    struct Case {
        const char* name;
        const char* expected;
        bool result;
    };
    const Case cases[] = {{"v", "Value", true},     {"v", "value", false},     {"v", "Val", false},
                          {"v", "Value ", false},   {"empty", "", true},       {"missing", "", false},
                          {"amp", "a&b", true},     {"amp", "a&amp;b", false}, {"v", nullptr, false},
                          {nullptr, "Value", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " = " + (c.expected ? c.expected : "(null)"));
        EXPECT_EQ(CKelXML::HasAttributeSpecificValue(l.root, c.name, c.expected), c.result);
    }
}

// --- Iteration ------------------------------------------------------------------------------------

namespace {

// Records every call and answers from a script (the last answer repeats).
class Recorder : public XML::TFunctor {
public:
    struct Call {
        DOMNode* node;
        std::string tag, text;
        std::vector<std::string> attributes;
        void* userData;
    };
    explicit Recorder(std::vector<bool> verdicts = {true}, int attributeCount = 0)
        : m_verdicts(std::move(verdicts)), m_count(attributeCount) {}
    bool operator()(DOMNode* node, std::string tag, std::string text, std::string* values, void* user) override {
        EXPECT_NE(values, nullptr);
        calls.push_back({node, tag, text, std::vector<std::string>(values, values + m_count), user});
        return m_verdicts[std::min(calls.size(), m_verdicts.size()) - 1];
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Call& c : calls) texts.push_back(c.text);
        return texts;
    }
    std::vector<Call> calls;

private:
    std::vector<bool> m_verdicts;
    int m_count;
};

}  // namespace

TEST(LoopElements, PathsFollowTheFirstChildOfEachName) {
    Loaded l("<r><a><b><c>1</c><x/><c>2</c></b><b><c>no</c></b></a><a><b><c>no</c></b></a><c>top</c></r>");
    struct Case {
        std::string path;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"c", {"top"}},    {"a\\b\\c", {"1", "2"}}, {"a\\b", {"12", "no"}}, {"", {}},        {"a\\b\\", {}},
        {"\\a\\b\\c", {}}, {"a\\\\b\\c", {}},       {"x\\c", {}},           {"A\\b\\c", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Recorder recorder;
        EXPECT_EQ(CKelXML::LoopElements(&recorder, l.root, c.path, nullptr, 0, nullptr, false, false, false),
                  !c.texts.empty());
        EXPECT_EQ(recorder.Texts(), c.texts);
        for (const auto& call : recorder.calls) EXPECT_EQ(call.tag, NameOf(call.node));
    }
}

TEST(LoopElements, StopFlagsAndTheLastVerdict) {
    Loaded l("<r><i>1</i>text<!--c--><o/><i>2</i><i>3</i></r>");
    struct Case {
        std::vector<bool> verdicts;
        bool stopOnTrue, stopOnFalse;
        std::size_t calls;
        bool result;
    };
    const Case cases[] = {
        {{true, false, true}, false, false, 3, true},
        {{true, false, false}, false, false, 3, false},
        {{false, true, false}, true, false, 2, true},
        {{true, false, true}, false, true, 2, false},
        {{false, false, false}, true, false, 3, false},
        {{true, true, true}, false, true, 3, true},
        {{true}, true, true, 1, true},
        {{false}, true, true, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.calls << " calls, stops " << c.stopOnTrue << c.stopOnFalse);
        Recorder recorder(c.verdicts);
        EXPECT_EQ(
            CKelXML::LoopElements(&recorder, l.root, "i", nullptr, 0, nullptr, c.stopOnTrue, c.stopOnFalse, false),
            c.result);
        EXPECT_EQ(recorder.calls.size(), c.calls);
    }
}

TEST(LoopElements, AttributesTextAndUserData) {
    Loaded l("<r><i id='1' k='x'>one<b>!</b></i><!--c-->t<i k=''>two</i><?i pi?><i id='3' k='z'/></r>");
    std::string names[] = {"id", "k"};
    int user = 0;
    Recorder all({true}, 2);
    EXPECT_TRUE(CKelXML::LoopElements(&all, l.root, "i", names, 2, &user, false, false, false));
    ASSERT_EQ(all.calls.size(), 4u);
    EXPECT_EQ(all.Texts(), (std::vector<std::string>{"one!", "two", "pi", ""}));
    EXPECT_EQ(all.calls[0].attributes, (std::vector<std::string>{"1", "x"}));
    EXPECT_EQ(all.calls[1].attributes, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(all.calls[2].node->getNodeType(), DOMNode::PROCESSING_INSTRUCTION_NODE);
    EXPECT_EQ(all.calls[2].attributes, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(all.calls[3].attributes, (std::vector<std::string>{"3", "z"}));
    for (const auto& call : all.calls) EXPECT_EQ(call.userData, &user);

    Recorder stopping({true}, 2);
    EXPECT_FALSE(CKelXML::LoopElements(&stopping, l.root, "i", names, 2, nullptr, false, false, true));
    EXPECT_EQ(stopping.Texts(), std::vector<std::string>{"one!"});
    Recorder presentButEmpty({true}, 1);  // k='' counts as present
    EXPECT_TRUE(CKelXML::LoopElements(&presentButEmpty, l.root, "i", names + 1, 1, nullptr, false, false, false));
    EXPECT_EQ(presentButEmpty.calls.size(), 4u);
}

TEST(LoopElements, NullArgumentsAndThrowingCallbacks) {
    Loaded l("<r><i/><i/></r>");
    Recorder recorder;
    EXPECT_FALSE(CKelXML::LoopElements(nullptr, l.root, "i", nullptr, 0, nullptr, false, false, false));
    EXPECT_FALSE(CKelXML::LoopElements(&recorder, nullptr, "i", nullptr, 0, nullptr, false, false, false));
    EXPECT_FALSE(CKelXML::LoopElements(&recorder, l.root, "i", nullptr, 2, nullptr, false, false, false));
    EXPECT_TRUE(recorder.calls.empty());

    struct Thrower : XML::TFunctor {
        bool operator()(DOMNode*, std::string, std::string, std::string*, void*) override {
            throw std::runtime_error("callback");
        }
    } thrower;
    std::string names[] = {"a"};
    EXPECT_THROW(CKelXML::LoopElements(&thrower, l.root, "i", names, 1, nullptr, false, false, false),
                 std::runtime_error);
}

TEST(LoopElements, NextSiblingIsTakenAfterTheCallback) {
    // The callback inserts a sibling right after the first node and detaches that one when it
    // is visited: the walk goes on with the node that followed it.
    struct Editor : XML::TFunctor {
        bool operator()(DOMNode* node, std::string, std::string text, std::string*, void*) override {
            texts.push_back(text);
            if (text == "1") {
                DOMElement* added = node->getOwnerDocument()->createElement(XML::XStr("i").unicodeForm());
                added->setTextContent(XML::XStr("added").unicodeForm());
                node->getParentNode()->insertBefore(added, node->getNextSibling());
            } else if (text == "added") {
                node->getParentNode()->removeChild(node);
            }
            return true;
        }
        std::vector<std::string> texts;
    } editor;
    Loaded l("<r><i>1</i><i>2</i></r>");
    EXPECT_TRUE(CKelXML::LoopElements(&editor, l.root, "i", nullptr, 0, nullptr, false, false, false));
    EXPECT_EQ(editor.texts, (std::vector<std::string>{"1", "added", "2"}));
}

// --- Dictionary ------------------------------------------------------------------------------------

TEST(Dictionary, EveryChildByNameLaterOnesWin) {
    Loaded l(
        "<r at='no'>\n <a x='no'>1</a>\n <b>2<n>3</n></b>\n"
        " <a>4</a><!--note--><e/>\n</r>");
    std::map<std::string, std::string> dictionary{{"keep", "k"}, {"a", "old"}};
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(l.root, dictionary));
    const std::map<std::string, std::string> expected{{"keep", "k"},   {"a", "4"},           {"b", "23"},
                                                      {"#text", "\n"}, {"#comment", "note"}, {"e", ""}};
    EXPECT_EQ(dictionary, expected);

    Loaded typed("<!DOCTYPE r [<!ELEMENT r (#PCDATA)>]><r>x</r><!--c-->");
    std::map<std::string, std::string> top;
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(typed.doc.GetDocument(), top));
    // The document type (no text) and the root element share the name r: the later one wins.
    EXPECT_EQ(top, (std::map<std::string, std::string>{{"r", "x"}, {"#comment", "c"}}));
    top.clear();
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(typed.doc.GetDocument()->getDoctype(), top));
    EXPECT_TRUE(top.empty());

    std::map<std::string, std::string> unchanged{{"k", "v"}};
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(CKelXML::GetNode(l.root, "e"), unchanged));
    EXPECT_FALSE(CKelXML::o_GetDictionaryFromNode(nullptr, unchanged));
    EXPECT_EQ(unchanged, (std::map<std::string, std::string>{{"k", "v"}}));
}

// --- Depth ---------------------------------------------------------------------------------------

TEST(DeepDocument, ReadsWithoutRecursion) {
    // Built with the DOM, bottom up: appending under a detached chain costs nothing per level,
    // whereas the namespace-aware parser takes time quadratic in the depth.
    constexpr unsigned kDepth = 200000;
    CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("root"));
    DOMDocument* dom = doc.GetDocument();
    const XML::XStr d("d"), leafName("leaf"), x("x");
    DOMElement* top = dom->createElement(leafName.unicodeForm());
    top->appendChild(dom->createTextNode(x.unicodeForm()));
    for (unsigned i = 0; i < kDepth; ++i) {
        DOMElement* parent = dom->createElement(d.unicodeForm());
        parent->appendChild(top);
        top = parent;
    }
    DOMElement* root = dom->getDocumentElement();
    root->appendChild(top);

    const DOMNode* leaf = CKelXML::GetFirstNode(root, "leaf");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(TextOf(leaf), "x");
    unsigned count = 0;
    EXPECT_TRUE(CKelXML::GetNbChildInNode(root, "d", count));
    EXPECT_EQ(count, kDepth);
    EXPECT_TRUE(CKelXML::GetNbChildInNode(root, "*", count));
    EXPECT_EQ(count, kDepth + 1);
    EXPECT_EQ(TextOf(root), "x");
    std::wstring wide;
    EXPECT_TRUE(CKelXML::GetValue(root, wide));
    EXPECT_EQ(wide, L"x");
    std::vector<std::string> values;
    EXPECT_TRUE(CKelXML::GetArrayOfTagValues(root, "leaf", values));
    EXPECT_EQ(values, std::vector<std::string>{"x"});
    std::map<std::string, std::string> dictionary;
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(root, dictionary));
    EXPECT_EQ(dictionary["d"], "x");
}

// Reads with a default: the value when it is wholly one of the type, else the default, and a
// way to tell; the direct-child form does not descend.
TEST(ValueOr, DefaultsForMissingAndJunk) {
    Loaded l(
        "<cfg port='8080' debug='yes'><cache><port>99</port></cache><port>81</port><name>srv</name>"
        "<ratio>x1.5</ratio></cfg>");
    bool read = true;
    EXPECT_EQ(XML::CKelXML::GetChildValueOr(l.root, "port", 80), 99);  // the first below, at any depth
    EXPECT_EQ(XML::CKelXML::GetDirectChildValueOr(l.root, "port", 80), 81);
    EXPECT_EQ(XML::CKelXML::GetChildValueOr(l.root, "missing", 80, &read), 80);
    EXPECT_FALSE(read);
    EXPECT_EQ(XML::CKelXML::GetChildValueOr(l.root, "ratio", 2.5, &read), 2.5);
    EXPECT_FALSE(read);
    EXPECT_EQ(XML::CKelXML::GetChildValueOr(l.root, "name", "none", &read), "srv");
    EXPECT_TRUE(read);
    EXPECT_EQ(XML::CKelXML::GetAttributeValueOr(l.root, "port", 0u), 8080u);
    EXPECT_EQ(XML::CKelXML::GetAttributeValueOr(l.root, "debug", false, &read), false);
    EXPECT_FALSE(read);
    EXPECT_EQ(XML::CKelXML::GetAttributeValueOr(l.root, "user", std::string("nobody")), "nobody");
    EXPECT_EQ(XML::CKelXML::GetDirectChildValueOr(nullptr, "port", 7), 7);
    EXPECT_EQ(XML::CKelXML::GetValueOr(l.root->getAttributeNode(XML::XStr("port").unicodeForm()), 0), 8080);
    EXPECT_EQ(XML::CKelXML::GetValueOr(XML::CKelXML::GetNode(l.root, "name"), "none"), "srv");
    EXPECT_EQ(XML::CKelXML::GetValueOr(nullptr, "none", &read), "none");
    EXPECT_FALSE(read);
}

// Walks with a callable and named settings, and the range forms, agree with the TFunctor walk.
TEST(CallableWalks, LambdasAndRanges) {
    Loaded l("<cat><recs><rec id='1' y='2001'>a</rec><rec id='2'>b</rec><other/><rec id='3'>c</rec></recs></cat>");
    std::vector<std::string> seen;
    EXPECT_TRUE(XML::CKelXML::LoopElements(l.root, {"recs/rec", {"id", "y"}},
                                           [&](xercesc::DOMNode*, const std::string& text, const auto& values) {
                                               seen.push_back(text + values[0] + values[1]);
                                               return true;
                                           }));
    EXPECT_EQ(seen, (std::vector<std::string>{"a12001", "b2", "c3"}));
    int calls = 0;
    XML::sWalkOptions stopAtSecond{"recs\\rec", {}, false, true, false};
    EXPECT_FALSE(XML::CKelXML::LoopElements(l.root, stopAtSecond, [&](xercesc::DOMNode*) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    // A callable that returns nothing counts as true: stopOnTrue ends the walk at the first.
    EXPECT_TRUE(XML::CKelXML::LoopElements(l.root, {"recs/rec", {}, true}, [&](xercesc::DOMNode*) { ++calls; }));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(XML::CKelXML::GetElements(l.root, "recs/rec").size(), 3u);
    const auto attributes = XML::CKelXML::GetAttributes(XML::CKelXML::GetElements(l.root, "recs/rec")[0]);
    EXPECT_EQ(attributes, (std::vector<std::pair<std::string, std::string>>{{"id", "1"}, {"y", "2001"}}));

    TempDir dir;
    WriteFile(dir.File("c.xml"), "<cat><recs><rec id='1'/><rec id='2'/></recs></cat>");
    XML::CKelXML streamer;
    std::string ids;
    EXPECT_TRUE(streamer.StreamElements(dir.File("c.xml").c_str(), {}, {"cat/recs/rec", {"id"}},
                                        [&](xercesc::DOMNode*, const std::string&, const auto& values) {
                                            ids += values[0];
                                            return true;
                                        }));
    EXPECT_EQ(ids, "12");
}
