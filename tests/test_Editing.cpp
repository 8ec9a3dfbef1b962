// Editing: new elements, attributes, removal, the records of failures, and save/load round trips.
#include "TestSupport.h"

#include <climits>
#include <functional>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;
using namespace xercesc;
using XML::CKelXML;

namespace {

std::string Local(const XMLCh* text) { return XML::XStr::ToLocal(text); }

// A compact picture of a small tree: names, attributes and text, to tell whether it changed.
std::string Shape(const DOMNode* node) {
    if (!node) return "(null)";
    if (node->getNodeType() == DOMNode::TEXT_NODE) return "'" + Local(node->getNodeValue()) + "'";
    std::string shape = Local(node->getNodeName());
    if (const DOMNamedNodeMap* attributes = node->getAttributes()) {
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i)
            shape += " " + Local(attributes->item(i)->getNodeName()) + "=" + Local(attributes->item(i)->getNodeValue());
    }
    shape += "(";
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) shape += Shape(child);
    return shape + ")";
}

std::string Text(const DOMNode* node) {
    std::string text = "(null)";
    CKelXML::GetValue(node, text);
    return text;
}

std::string Attribute(const DOMNode* node, const char* name) {
    std::string value = "(missing)";
    CKelXML::GetAttributeValue(node, name, &value);
    return value;
}

void ExpectOneRecord(const CKelXML& doc, XML::E_TYPE_ERROR kind, const char* message = nullptr) {
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eType, kind);
    if (message) {
        EXPECT_EQ(records[0].strMessage, message);
    } else {
        EXPECT_FALSE(records[0].strMessage.empty());
    }
}

}  // namespace

// --- Records of missing things -------------------------------------------------------------------

TEST(Editing, WithoutDocumentOnlyThatIsRecordedInAListMadeOnDemand) {
    Loaded other("<o/>");
    const std::string before = Shape(other.root);
    for (DOMElement* parent : {other.root, static_cast<DOMElement*>(nullptr)}) {
        const std::pair<const char*, std::function<bool(CKelXML&)>> ops[] = {
            {"empty element", [&](CKelXML& d) { return d.AddNewElementNode("n", parent) != nullptr; }},
            {"element with text", [&](CKelXML& d) { return d.AddNewElementNode("n", "t", parent) != nullptr; }},
            {"child text", [&](CKelXML& d) { return d.AddChildNodeValue(parent, "n", "t"); }},
            {"child number", [&](CKelXML& d) { return d.AddChildNodeValue(parent, "n", 7u); }},
            {"null name", [&](CKelXML& d) { return d.AddChildNodeValue(parent, nullptr, "t"); }},
            {"null text", [&](CKelXML& d) { return d.AddChildNodeValue(parent, "n", nullptr); }},
            {"attribute", [&](CKelXML& d) { return d.AddNewAttribute("a", "v", parent) != nullptr; }},
        };
        for (const auto& [label, op] : ops) {
            SCOPED_TRACE(std::string(label) + (parent ? "" : ", null parent"));
            CKelXML none;
            ASSERT_EQ(none.GetErrors(), nullptr);
            EXPECT_FALSE(op(none));
            ExpectOneRecord(none, XML::E_MISSING, "DOMDOCUMENT undefined");
        }
    }
    EXPECT_EQ(Shape(other.root), before);
}

TEST(Editing, MissingParentChildOrNameIsRecordedOnce) {
    struct Case {
        const char* label;
        std::function<bool(CKelXML&, DOMElement*)> op;
        const char* message;  // null: any non-empty message
    };
    const Case cases[] = {
        {"element", [](CKelXML& d, DOMElement*) { return d.AddNewElementNode("n", nullptr); }, "ParentNode undefined"},
        {"element text", [](CKelXML& d, DOMElement*) { return d.AddNewElementNode("n", "t", nullptr); },
         "ParentNode undefined"},
        {"child text", [](CKelXML& d, DOMElement*) { return d.AddChildNodeValue(nullptr, "n", "t"); },
         "ParentNode undefined"},
        {"child number", [](CKelXML& d, DOMElement*) { return d.AddChildNodeValue(nullptr, "n", 1u); },
         "ParentNode undefined"},
        {"child, all null", [](CKelXML& d, DOMElement*) { return d.AddChildNodeValue(nullptr, nullptr, nullptr); },
         "ParentNode undefined"},
        {"attribute", [](CKelXML& d, DOMElement*) { return d.AddNewAttribute("a", "v", nullptr); },
         "ParentNode undefined"},
        {"modify", [](CKelXML& d, DOMElement*) { return d.ModifyAttribute("a", "v", nullptr); },
         "ParentNode undefined"},
        {"remove both null", [](CKelXML& d, DOMElement*) { return d.RemoveChildNode(nullptr, nullptr); },
         "ParentNode undefined"},
        {"remove null parent", [](CKelXML& d, DOMElement* r) { return d.RemoveChildNode(nullptr, r); },
         "ParentNode undefined"},
        {"remove null child", [](CKelXML& d, DOMElement* r) { return d.RemoveChildNode(r, nullptr); },
         "oldChild undefined"},
        {"modify missing", [](CKelXML& d, DOMElement* r) { return d.ModifyAttribute("zz", "v", r); },
         "unable to find attribute Node with name specified"},
        {"null name", [](CKelXML& d, DOMElement* r) { return d.AddChildNodeValue(r, nullptr, "t"); }, nullptr},
        {"null text", [](CKelXML& d, DOMElement* r) { return d.AddChildNodeValue(r, "n", nullptr); }, nullptr},
        {"null name, number", [](CKelXML& d, DOMElement* r) { return d.AddChildNodeValue(r, nullptr, 3u); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CKelXML doc;
        ASSERT_TRUE(doc.CreateDoc("r"));
        DOMElement* root = doc.GetDocument()->getDocumentElement();
        ASSERT_NE(doc.AddNewAttribute("a", "1", root), nullptr);
        const std::string before = Shape(doc.GetDocument());
        EXPECT_FALSE(c.op(doc, root));
        ExpectOneRecord(doc, XML::E_MISSING, c.message);
        EXPECT_EQ(Shape(doc.GetDocument()), before);
    }
}

// --- Exceptions of the DOM -------------------------------------------------------------------------

TEST(Editing, RefusalsOfTheDomAreKindThreeAndChangeNothing) {
    Loaded other("<o><p/></o>");
    struct Tree {
        CKelXML doc;
        DOMElement *root, *child, *grandchild;
    };
    struct Case {
        const char* label;
        std::function<bool(Tree&)> op;
    };
    const Case cases[] = {
        {"empty element name", [](Tree& t) { return t.doc.AddNewElementNode("", t.root); }},
        {"digit first", [](Tree& t) { return t.doc.AddNewElementNode("1bad", t.root); }},
        {"space in name, with text", [](Tree& t) { return t.doc.AddNewElementNode("a b", "t", t.root); }},
        {"markup in child name", [](Tree& t) { return t.doc.AddChildNodeValue(t.root, "<x>", "t"); }},
        {"parent of another document", [&](Tree& t) { return t.doc.AddNewElementNode("x", other.root); }},
        {"second root element", [](Tree& t) { return t.doc.AddNewElementNode("x", t.doc.GetDocument()); }},
        {"text parent", [](Tree& t) { return t.doc.AddNewElementNode("x", t.child->getFirstChild()); }},
        {"empty attribute name", [](Tree& t) { return t.doc.AddNewAttribute("", "v", t.root); }},
        {"bad attribute name", [](Tree& t) { return t.doc.AddNewAttribute("a=b", "v", t.root); }},
        {"attribute on another document", [&](Tree& t) { return t.doc.AddNewAttribute("a", "v", other.root); }},
        {"remove grandchild", [](Tree& t) { return t.doc.RemoveChildNode(t.root, t.grandchild); }},
        {"remove parent from child", [](Tree& t) { return t.doc.RemoveChildNode(t.child, t.root); }},
        {"remove attribute",
         [](Tree& t) { return t.doc.RemoveChildNode(t.root, t.root->getAttributeNode(XML::XStr("a").unicodeForm())); }},
        {"remove from another document", [&](Tree& t) { return t.doc.RemoveChildNode(other.root, t.child); }},
        {"comment holding --", [](Tree& t) { return t.doc.AddNewCommentNode(t.root, "a--b"); }},
        {"comment ending in -", [](Tree& t) { return t.doc.AddNewCommentNode(t.root, "a-"); }},
        {"comment under text", [](Tree& t) { return t.doc.AddNewCommentNode(t.child->getFirstChild(), "c"); }},
        {"comment in another document", [&](Tree& t) { return t.doc.AddNewCommentNode(other.root, "c"); }},
        {"instruction holding ?>", [](Tree& t) { return t.doc.AddNewPINode(t.root, "t", "a?>b"); }},
        {"instruction named XmL", [](Tree& t) { return t.doc.AddNewPINode(t.root, "XmL", "d"); }},
        {"instruction target not a name", [](Tree& t) { return t.doc.AddNewPINode(t.root, "1t", "d"); }},
        {"instruction without target", [](Tree& t) { return t.doc.AddNewPINode(t.doc.GetDocument(), "", "d"); }},
        {"namespaced attribute without prefix",
         [](Tree& t) { return t.doc.AddNewAttributeNS(t.root, "urn:y", "b", "v"); }},
        {"attribute prefix bound elsewhere",
         [](Tree& t) { return t.doc.AddNewAttributeNS(t.root, "urn:y", "x:b", "v"); }},
    };
    const std::string otherBefore = Shape(other.doc.GetDocument());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Tree t;
        ASSERT_TRUE(t.doc.CreateDoc("r"));
        t.root = t.doc.GetDocument()->getDocumentElement();
        t.doc.AddNewAttribute("a", "1", t.root);
        t.doc.AddNewAttribute("xmlns:x", "urn:x", t.root);
        t.child = t.doc.AddNewElementNode("c", "text", t.root);
        t.grandchild = t.doc.AddNewElementNode("g", t.child);
        ASSERT_NE(t.grandchild, nullptr);
        const std::string before = Shape(t.doc.GetDocument());
        EXPECT_FALSE(c.op(t));
        ExpectOneRecord(t.doc, XML::E_EXCEPTION);
        EXPECT_EQ(Shape(t.doc.GetDocument()), before);
        EXPECT_EQ(Shape(other.doc.GetDocument()), otherBefore);
    }
}

// --- Elements -------------------------------------------------------------------------------------

TEST(AddElements, AppendInCallOrderWithTheirText) {
    Loaded l("<r><first/></r>");
    DOMElement* empty = l.doc.AddNewElementNode("x", l.root);
    DOMElement* texted = l.doc.AddNewElementNode("x", "a \"b\" & <c> caf\xC3\xA9", l.root);
    ASSERT_TRUE(empty && texted);
    EXPECT_TRUE(l.doc.AddChildNodeValue(texted, "inner", "!"));
    EXPECT_TRUE(l.doc.AddChildNodeValue(l.root, "caf\xC3\xA9", "non-ASCII name"));
    EXPECT_EQ(Shape(l.root), "r(first()x()x('a \"b\" & <c> caf\xC3\xA9'inner('!'))caf\xC3\xA9('non-ASCII name'))");
    EXPECT_EQ(Text(texted), "a \"b\" & <c> caf\xC3\xA9!");
    DOMElement* blank = l.doc.AddNewElementNode("blank", "", l.root);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->getParentNode(), l.root);
    EXPECT_EQ(Text(blank), "");
    // Comments and processing instructions, in the root element and beside it.
    EXPECT_TRUE(l.doc.AddNewCommentNode(l.root, " note - caf\xC3\xA9 ") && l.doc.AddNewPINode(l.root, "pi", "") &&
                l.doc.AddNewPINode(l.doc.GetDocument(), "style", "href='a.css'") &&
                l.doc.AddNewCommentNode(l.doc.GetDocument(), ""));
    std::string c14n;
    ASSERT_TRUE(l.doc.GetCanonicalXML(l.doc.GetDocument(), true, c14n));
    EXPECT_EQ(c14n.substr(c14n.find("<blank>")),
              "<blank></blank><!-- note - caf\xC3\xA9 --><?pi?></r>\n<?style href='a.css'?>\n<!---->");
    EXPECT_TRUE(Records(l.doc).empty());
}

// --- Attributes -----------------------------------------------------------------------------------

TEST(Attributes, AddReplacesModifyChangesOnly) {
    Loaded l("<r a='1'><c/></r>");
    DOMAttr* added = l.doc.AddNewAttribute("a", "2", l.root);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added, l.root->getAttributeNode(XML::XStr("a").unicodeForm()));
    EXPECT_EQ(l.root->getAttributes()->getLength(), 1u);
    EXPECT_EQ(Attribute(l.root, "a"), "2");

    DOMAttr* modified = l.doc.ModifyAttribute("a", "", l.root);
    EXPECT_EQ(modified, added);
    EXPECT_EQ(modified->getOwnerElement(), l.root);
    EXPECT_EQ(Attribute(l.root, "a"), "");
    EXPECT_EQ(l.doc.ModifyAttribute("a", "q\"&<'", l.root), added);
    EXPECT_EQ(Attribute(l.root, "a"), "q\"&<'");
    EXPECT_TRUE(Records(l.doc).empty());

    DOMElement* c = static_cast<DOMElement*>(CKelXML::GetNode(l.root, "c"));
    EXPECT_EQ(l.doc.ModifyAttribute("a", "x", c), nullptr);
    EXPECT_EQ(Attribute(c, "a"), "(missing)");
    ExpectOneRecord(l.doc, XML::E_MISSING, "unable to find attribute Node with name specified");

    CKelXML none;  // no document needed to change an existing attribute
    EXPECT_EQ(none.ModifyAttribute("a", "z", l.root), added);
    EXPECT_EQ(Attribute(l.root, "a"), "z");
    EXPECT_EQ(none.GetErrors(), nullptr);
}

TEST(Attributes, SetAttributeValueChangesExistingOnlyAndRecordsNothing) {
    Loaded l("<r a='1'>text</r>");
    struct Case {
        const char* label;
        const DOMNode* node;
        const char* name;
        const char* value;
        bool result;
    };
    const Case cases[] = {
        {"null node", nullptr, "a", "v", false},
        {"text node", l.root->getFirstChild(), "a", "v", false},
        {"document node", l.doc.GetDocument(), "a", "v", false},
        {"missing attribute", l.root, "b", "v", false},
        {"null name", l.root, nullptr, "v", false},
        {"null value", l.root, "a", nullptr, false},
        {"existing", l.root, "a", "caf\xC3\xA9 & \"q\"", true},
        {"empty value", l.root, "a", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string before = Attribute(l.root, "a");
        EXPECT_EQ(CKelXML::SetAttributeValue(c.node, c.name, c.value), c.result);
        EXPECT_EQ(Attribute(l.root, "a"), c.result ? std::string(c.value) : before);
        EXPECT_EQ(Attribute(l.root, "b"), "(missing)");
    }
    EXPECT_TRUE(Records(l.doc).empty());
}

// --- Removal --------------------------------------------------------------------------------------

TEST(RemoveChildNode, DetachesWithSubtreeOnce) {
    Loaded l("<r><a/><b k='v'>t<g/></b><c/></r>");
    DOMNode* b = CKelXML::GetNode(l.root, "b");
    DOMNode* removed = l.doc.RemoveChildNode(l.root, b);
    EXPECT_EQ(removed, b);
    EXPECT_EQ(Shape(l.root), "r(a()c())");
    EXPECT_EQ(b->getParentNode(), nullptr);
    EXPECT_EQ(Shape(b), "b k=v('t'g())");
    EXPECT_TRUE(Records(l.doc).empty());

    EXPECT_EQ(l.doc.RemoveChildNode(l.root, b), nullptr);
    ExpectOneRecord(l.doc, XML::E_EXCEPTION);
    removed->release();  // a detached node is the caller's to release

    EXPECT_EQ(l.doc.RemoveChildNode(l.doc.GetDocument(), l.root), l.root);
    EXPECT_EQ(l.doc.GetDocument()->getDocumentElement(), nullptr);
    EXPECT_EQ(l.doc.GetRootNode("r"), nullptr);
}

TEST(RemoveChildNode, WorksForAnObjectWithoutDocument) {
    Loaded l("<r><a/><b/></r>");
    CKelXML none;
    DOMNode* a = CKelXML::GetNode(l.root, "a");
    EXPECT_EQ(none.RemoveChildNode(l.root, a), a);
    EXPECT_EQ(Shape(l.root), "r(b())");
    EXPECT_EQ(none.GetErrors(), nullptr);
    EXPECT_EQ(none.RemoveChildNode(l.root, a), nullptr);
    ExpectOneRecord(none, XML::E_EXCEPTION);
}

// --- Round trips ----------------------------------------------------------------------------------

TEST(EditingRoundTrip, SavedAndLoadedBackExactly) {
    const std::string tricky = "a \"quoted\" & <tag> 'apos' ]]> caf\xC3\xA9 \xF0\x9F\x98\x80";
    const std::string spaced = "  two  words\nnext line ";
    const std::string controls = "l1\nl2\tt\rc  two ";
    for (const bool canonical : {false, true}) {
        SCOPED_TRACE(canonical ? "canonical" : "pretty");
        TempDir dir;
        const std::string file = dir.File("edited.xml");
        {
            CKelXML doc;
            ASSERT_TRUE(doc.CreateDoc("config"));
            DOMElement* root = static_cast<DOMElement*>(doc.GetRootNode("config"));
            DOMElement* name = doc.AddNewElementNode("name", tricky, root);
            ASSERT_NE(name, nullptr);
            ASSERT_NE(doc.AddNewAttribute("q", tricky, name), nullptr);
            ASSERT_NE(doc.AddNewAttribute("mod", "before", name), nullptr);
            ASSERT_NE(doc.ModifyAttribute("mod", "after & <done>", name), nullptr);
            ASSERT_NE(doc.AddNewAttribute("set", "old", name), nullptr);
            ASSERT_NE(doc.AddNewAttribute("ws", controls, name), nullptr);
            ASSERT_TRUE(CKelXML::SetAttributeValue(name, "set", "new \xC3\xA9"));
            DOMElement* list = doc.AddNewElementNode("list", root);
            ASSERT_TRUE(doc.AddChildNodeValue(list, "item", "first"));
            ASSERT_TRUE(doc.AddChildNodeValue(list, "gone", "x"));
            ASSERT_TRUE(doc.AddChildNodeValue(list, "item", 0u));
            ASSERT_TRUE(doc.AddChildNodeValue(list, "item", UINT_MAX));
            ASSERT_NE(doc.RemoveChildNode(list, CKelXML::GetNode(list, "gone")), nullptr);
            ASSERT_TRUE(doc.AddChildNodeValue(root, "spaced", (spaced + controls).c_str()));
            ASSERT_TRUE(doc.AddChildNodeValue(root, "caf\xC3\xA9", ""));
            EXPECT_TRUE(Records(doc).empty());
            ASSERT_TRUE(doc.Save(file.c_str(), canonical));
        }
        CKelXML back;
        ASSERT_TRUE(back.Load(file.c_str(), false)) << ReadFile(file);
        const DOMNode* root = back.GetRootNode("config");
        ASSERT_NE(root, nullptr);
        const DOMNode* name = CKelXML::GetNode(const_cast<DOMNode*>(root), "name");
        EXPECT_EQ(Text(name), tricky);
        EXPECT_EQ(Attribute(name, "q"), tricky);
        EXPECT_EQ(Attribute(name, "mod"), "after & <done>");
        EXPECT_EQ(Attribute(name, "set"), "new \xC3\xA9");
        EXPECT_EQ(Attribute(name, "ws"), controls);
        EXPECT_EQ(name->getAttributes()->getLength(), 4u);
        std::vector<std::string> items;
        EXPECT_TRUE(CKelXML::GetArrayOfTagValues(root, "item", items));
        EXPECT_EQ(items, (std::vector<std::string>{"first", "0", "4294967295"}));
        unsigned count = 99;
        EXPECT_TRUE(CKelXML::GetNbChildInNode(root, "gone", count));
        EXPECT_EQ(count, 0u);
        std::string text;
        EXPECT_TRUE(CKelXML::GetChildValue(root, "spaced", text));
        EXPECT_EQ(text, spaced + controls);
        text = "stale";
        EXPECT_TRUE(CKelXML::GetChildValue(root, "caf\xC3\xA9", text));
        EXPECT_EQ(text, "");
        std::string order;
        for (const DOMNode* child = root->getFirstChild(); child; child = child->getNextSibling())
            if (child->getNodeType() == DOMNode::ELEMENT_NODE) order += Local(child->getNodeName()) + ";";
        EXPECT_EQ(order, "name;list;spaced;caf\xC3\xA9;");
    }
}

// --- Inserting into a layout made by hand -------------------------------------------------------

// Each insertion saved as loaded gives the file with one new line, indented as its neighbour.
TEST(InsertElements, SavedAsLoadedTheFileGainsOneIndentedLine) {
    using Op = std::function<DOMElement*(CKelXML&, DOMElement * users, DOMElement * bob)>;
    const auto role = [](DOMElement* bob) { return CKelXML::GetNode(bob, "role"); };
    const struct {
        const char* label;
        Op op;
        const char* anchor;  // the new line goes before this text of the file
        const char* line;
    } cases[] = {
        {"before", [](CKelXML& d, DOMElement*, DOMElement* bob) { return d.InsertNewElementNodeBefore(bob, "new"); },
         "\n   <user name=\"bob\">", "\n   <new/>"},
        {"after",
         [&](CKelXML& d, DOMElement*, DOMElement* bob) { return d.InsertNewElementNodeAfter(role(bob), "t", "a&b"); },
         "\n   </user>", "\n\t<t>a&amp;b</t>"},
        {"first", [](CKelXML& d, DOMElement* users, DOMElement*) { return d.InsertNewElementNodeAt(users, 0, "new"); },
         "\n   <user name=\"ann\"/>", "\n   <new/>"},
        {"past the last",
         [](CKelXML& d, DOMElement* users, DOMElement*) { return d.InsertNewElementNodeAt(users, 9, "new"); },
         "\n</users>", "\n   <new/>"},
        {"appended", [](CKelXML& d, DOMElement*, DOMElement* bob) { return d.AddNewElementNode("new", bob); },
         "\n   </user>", "\n\t<new/>"},
    };
    const std::string original = ReadFile(std::string(KELXML_TEST_DATA) + "/hand-indented.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string file = dir.File("users.xml");
        CKelXML doc;
        ASSERT_TRUE(LoadText(doc, original));
        DOMElement* users = doc.GetDocument()->getDocumentElement();
        ASSERT_NE(c.op(doc, users, static_cast<DOMElement*>(XML::CXPath("user[2]").SelectNode(users))), nullptr);
        ASSERT_TRUE(doc.Save(file.c_str(), XML::E_SAVE_AS_LOADED)) << Dump(doc);
        std::string expected = original;
        expected.insert(expected.find(c.anchor), c.line);
        EXPECT_EQ(ReadFile(file), expected);
    }
}

TEST(InsertElements, RefusedNodesAreRecordedAndChangeNothing) {
    Loaded other("<o><p/></o>");
    const struct {
        const char* label;
        std::function<DOMElement*(CKelXML&, DOMElement*)> op;
        XML::E_TYPE_ERROR kind;
        const char* message;  // null: the DOM's own
    } cases[] = {
        {"null sibling", [](CKelXML& d, DOMElement*) { return d.InsertNewElementNodeBefore(nullptr, "n"); },
         XML::E_MISSING, "sibling node undefined"},
        {"null parent", [](CKelXML& d, DOMElement*) { return d.InsertNewElementNodeAt(nullptr, 0, "n"); },
         XML::E_MISSING, "ParentNode undefined"},
        {"null name", [](CKelXML& d, DOMElement* a) { return d.InsertNewElementNodeAfter(a, nullptr); }, XML::E_MISSING,
         "element name undefined"},
        {"text sibling", [](CKelXML& d, DOMElement* a) { return d.InsertNewElementNodeAfter(a->getFirstChild(), "n"); },
         XML::E_EXCEPTION, "node is not an element of this document"},
        {"foreign sibling", [&](CKelXML& d, DOMElement*) { return d.InsertNewElementNodeBefore(other.root, "n"); },
         XML::E_EXCEPTION, "node is not an element of this document"},
        {"document as parent",
         [](CKelXML& d, DOMElement*) { return d.InsertNewElementNodeAt(d.GetDocument(), 0, "n"); }, XML::E_EXCEPTION,
         "node is not an element of this document"},
        {"beside the root",
         [](CKelXML& d, DOMElement*) {
             return d.InsertNewElementNodeAfter(d.GetDocument()->getDocumentElement(), "n");
         },
         XML::E_EXCEPTION, nullptr},
        {"bad name", [](CKelXML& d, DOMElement* a) { return d.InsertNewElementNodeBefore(a, "1bad", "t"); },
         XML::E_EXCEPTION, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Loaded l("<r>\n  <a>t</a>\n</r>");
        DOMElement* a = static_cast<DOMElement*>(CKelXML::GetNode(l.root, "a"));
        const std::string before = Shape(l.doc.GetDocument());
        EXPECT_EQ(c.op(l.doc, a), nullptr);
        ExpectOneRecord(l.doc, c.kind, c.message);
        EXPECT_EQ(Shape(l.doc.GetDocument()), before);
    }
}
