// Save writes back what Load read: the internal subset, encodings, grammar defaults, a stable
// pretty form, small diffs for small edits, and no dependence on the depth of the tree.
#include "TestSupport.h"

#include <xercesc/dom/DOM.hpp>

#include <functional>

#include <pthread.h>

using namespace kelxml_test;
using namespace xercesc;

namespace {

const std::pair<XML::E_SAVE_FORM, const char*> kForms[] = {
    {XML::E_SAVE_PRETTY, "pretty"}, {XML::E_SAVE_CANONICAL, "canonical"}, {XML::E_SAVE_AS_LOADED, "as-loaded"}};

// Saves doc's document into dir and returns the bytes; empty (with a test failure) when refused.
std::string Saved(XML::CKelXML& doc, XML::E_SAVE_FORM form, const TempDir& dir, const char* name = "saved.xml") {
    const std::string file = dir.File(name);
    if (!doc.Save(file.c_str(), form)) {
        ADD_FAILURE() << "not saved: " << (Records(doc).empty() ? "" : Records(doc).back().strMessage);
        return {};
    }
    return ReadFile(file);
}

// Loads file; the number of records it left (-1 when there is no document).
int LoadFile(XML::CKelXML& doc, const std::string& file) {
    doc.Load(file.c_str(), false);
    return doc.GetDocument() ? static_cast<int>(Records(doc).size()) : -1;
}

// Saves in form, loads the result, and checks it holds the same and saves to the same bytes.
// Returns the first save's bytes.
std::string CheckRoundTrip(const std::string& original, XML::E_SAVE_FORM form, const TempDir& dir) {
    WriteFile(dir.File("in.xml"), original);
    XML::CKelXML doc;
    const int records = LoadFile(doc, dir.File("in.xml"));
    EXPECT_GE(records, 0) << original;
    if (records < 0) return {};
    const std::string first = Saved(doc, form, dir);
    XML::CKelXML back;
    EXPECT_EQ(LoadFile(back, dir.File("saved.xml")), records) << first;
    if (!back.GetDocument()) return first;
    const bool pretty = form == XML::E_SAVE_PRETTY;
    EXPECT_EQ(InformationOf(back.GetDocument(), pretty), InformationOf(doc.GetDocument(), pretty)) << first;
    EXPECT_EQ(Saved(back, form, dir, "again.xml"), first);
    return first;
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

std::string Ucs4(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) bytes += std::string(3, '\0') + c;
    return bytes;
}

}  // namespace

// The DOM rebuilds the internal subset from its declarations; Save writes it as the document
// had it, so entity values, parameter entities and comments stay as written at every save.
TEST(SaveRoundTrip, InternalSubsetStaysAsWritten) {
    const char* const subsets[] = {
        "<!ELEMENT a (#PCDATA)> <!ATTLIST a n CDATA #IMPLIED> <!ENTITY lt2 \"&#38;#60;\"> <!-- c -->",
        "<!ENTITY % e \"<!ELEMENT a (#PCDATA)>\"> %e;",
        "\n  <!ENTITY m \"<b>&#38;amp;</b>\">\n  <!ENTITY % ext SYSTEM \"ext.dtd\">\n  %ext;\n",
        "",
    };
    TempDir dir;
    WriteFile(dir.File("ext.dtd"), "<![INCLUDE[<!ATTLIST a n CDATA 'd'>]]><![IGNORE[<!ELEMENT x ANY>]]>");
    for (const char* subset : subsets) {
        const std::string text = std::string("<!DOCTYPE a [") + subset + "]>\n<a>x&lt;y</a>\n";
        for (const auto& [form, label] : kForms) {
            SCOPED_TRACE(std::string(label) + ": " + subset);
            const std::string saved = CheckRoundTrip(text, form, dir);
            EXPECT_NE(saved.find(std::string("[") + subset + "]>"), std::string::npos) << saved;
        }
    }
    // The entity whose value is a character reference to '<' is written as a reference.
    WriteFile(dir.File("lt2.xml"), std::string("<!DOCTYPE a [") + subsets[0] + "]><a>x&lt2;y</a>");
    XML::CKelXML doc;
    ASSERT_EQ(LoadFile(doc, dir.File("lt2.xml")), 0);
    const std::string saved = Saved(doc, XML::E_SAVE_AS_LOADED, dir);
    EXPECT_NE(saved.find("<a>x&lt2;y</a>"), std::string::npos) << saved;
    XML::CKelXML back;
    ASSERT_EQ(LoadFile(back, dir.File("saved.xml")), 0);
    std::string text;
    XML::CKelXML::GetValue(back.GetDocument()->getDocumentElement(), text);
    EXPECT_EQ(text, "x<y");
}

// UTF-16 is written as UTF-16 with its byte order mark and a name parsers know; UCS-4 as UTF-8.
TEST(SaveEncoding, EveryDocumentReadsBack) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string opens;  // first bytes of the saved document
    };
    const Case cases[] = {
        {"UTF-16LE, no declaration", Utf16("<a/>", false), Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"", false)},
        {"UTF-16BE, declared", Utf16("<?xml version='1.0' encoding='UTF-16'?><a/>", true),
         Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"", true)},
        {"UCS-4", Ucs4("<?xml version='1.0' encoding='UCS-4'?><a/>"), "<?xml version=\"1.0\" encoding=\"UTF-8\""},
        {"ISO-8859-1", "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.File("in.xml"), c.bytes);
        XML::CKelXML doc;
        ASSERT_EQ(LoadFile(doc, dir.File("in.xml")), 0) << (Records(doc).empty() ? "" : Records(doc)[0].strMessage);
        DOMElement* root = doc.GetDocument()->getDocumentElement();
        ASSERT_NE(doc.AddNewAttribute("x", "1", root), nullptr);
        const std::string saved = Saved(doc, XML::E_SAVE_PRETTY, dir);
        EXPECT_EQ(saved.substr(0, c.opens.size()), c.opens);
        XML::CKelXML back;
        ASSERT_EQ(LoadFile(back, dir.File("saved.xml")), 0)
            << (Records(back).empty() ? "" : Records(back)[0].strMessage);
        std::string value;
        EXPECT_TRUE(XML::CKelXML::GetAttributeValue(back.GetDocument()->getDocumentElement(), "x", value));
        EXPECT_EQ(value, "1");
        EXPECT_EQ(InformationOf(back.GetDocument(), true), InformationOf(doc.GetDocument(), true));
        for (const auto& [form, label] : kForms) {
            SCOPED_TRACE(label);
            CheckRoundTrip(c.bytes, form, dir);
        }
    }
}

// A character the encoding cannot hold becomes a reference where XML allows one; elsewhere
// the save is refused with a record and the old file stays.
TEST(SaveEncoding, UnwritableCharactersAreReferencedOrRefused) {
    TempDir dir;
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, "<?xml version='1.0' encoding='ISO-8859-1'?><a/>"));
    DOMElement* root = doc.GetDocument()->getDocumentElement();
    ASSERT_NE(doc.AddNewAttribute("v", "\xC4\x80\t<\"", root), nullptr);  // U+0100
    ASSERT_TRUE(doc.AddChildNodeValue(root, "t", "\xC5\x93\r&"));         // U+0153
    const std::string saved = Saved(doc, XML::E_SAVE_CANONICAL, dir);
    EXPECT_NE(saved.find("v=\"&#x100;&#x9;&lt;&quot;\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("<t>&#x153;&#xD;&amp;</t>"), std::string::npos) << saved;
    XML::CKelXML back;
    ASSERT_EQ(LoadFile(back, dir.File("saved.xml")), 0);
    EXPECT_EQ(InformationOf(back.GetDocument(), false), InformationOf(doc.GetDocument(), false));

    struct Refused {
        const char* what;
        std::function<DOMNode*(DOMDocument*)> make;
    };
    const XML::XStr nonLatin("\xC4\x80"), dashes("a--b"), end("x?>y"), target("pi");
    const XMLCh lone[] = {0xD800, 0};
    const Refused refused[] = {
        {"a comment it cannot hold", [&](DOMDocument* d) { return d->createComment(nonLatin.unicodeForm()); }},
        {"a comment with --", [&](DOMDocument* d) { return d->createComment(dashes.unicodeForm()); }},
        {"a PI with ?>",
         [&](DOMDocument* d) { return d->createProcessingInstruction(target.unicodeForm(), end.unicodeForm()); }},
        {"an unpaired surrogate", [&](DOMDocument* d) { return d->createTextNode(lone); }},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.what);
        WriteFile(dir.File("old.xml"), "old");
        DOMNode* node = root->appendChild(r.make(doc.GetDocument()));
        EXPECT_FALSE(doc.Save(dir.File("old.xml").c_str(), false));
        EXPECT_EQ(Records(doc).back().eType, XML::E_EXCEPTION);
        EXPECT_EQ(ReadFile(dir.File("old.xml")), "old");
        root->removeChild(node)->release();
    }
}

// A grammar's default is left out: the grammar gives it again on load, and where it would not
// hold (a QName whose prefix only the schema declares) it is not written into the document.
TEST(SaveDefaults, GrammarDefaultsAreNotWritten) {
    TempDir dir;
    WriteFile(dir.File("s.xsd"),
              "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' xmlns:z='urn:z'><xs:element name='a'>"
              "<xs:complexType><xs:attribute name='q' type='xs:QName' default='z:a'/></xs:complexType>"
              "</xs:element></xs:schema>");
    const std::string schema =
        "<a xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation='s.xsd'/>";
    const std::string dtd = "<!DOCTYPE a [<!ELEMENT a EMPTY><!ATTLIST a d CDATA 'dv'>]><a/>";
    for (const std::string& text : {schema, dtd}) {
        for (const auto& [form, label] : kForms) {
            SCOPED_TRACE(std::string(label) + ": " + text);
            const std::string saved = CheckRoundTrip(text, form, dir);
            EXPECT_EQ(saved.find(" q="), std::string::npos) << saved;
            EXPECT_EQ(saved.find(" d="), std::string::npos) << saved;
        }
    }
}

// Pretty form replaces whitespace between elements by its own indentation, keeps mixed content,
// xml:space="preserve", whitespace-only leaves and the written attribute order, and is a fixed point.
TEST(SavePretty, IndentsOnceAndKeepsContent) {
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";
    const std::pair<const char*, const char*> cases[] = {
        {"<a><b>1</b><c x=\"1\"/></a>", "<a>\n  <b>1</b>\n  <c x=\"1\"/>\n</a>\n"},
        {"<a>\n\n<!-- c -->\n\n   <b/>  <?p d?></a>", "<a>\n  <!-- c -->\n  <b/>\n  <?p d?>\n</a>\n"},
        {"<p>Some <b>bold</b>\n <i> text</i></p>", "<p>Some <b>bold</b>\n <i> text</i></p>\n"},
        {"<a xml:space=\"preserve\"> <b> <c/> </b> </a>", "<a xml:space=\"preserve\"> <b> <c/> </b> </a>\n"},
        {"<a>  </a>", "<a>  </a>\n"},
        {"<a z=\"1\" a=\"2\" m=\"3\"/>", "<a z=\"1\" a=\"2\" m=\"3\"/>\n"},
        // Elements of one name written in several orders, and the same order under another name.
        {"<r><e z=\"\" y=\"\"/><f z=\"\" y=\"\"/><e y=\"\" z=\"\"/><e z=\"\" x=\"\" y=\"\"/><e z=\"\" y=\"\"/></r>",
         "<r>\n  <e z=\"\" y=\"\"/>\n  <f z=\"\" y=\"\"/>\n  <e y=\"\" z=\"\"/>\n  <e z=\"\" x=\"\" y=\"\"/>\n  <e "
         "z=\"\" "
         "y=\"\"/>\n</r>\n"},
        {"<a><b><c/></b><d><![CDATA[ x ]]></d></a>", "<a>\n  <b>\n    <c/>\n  </b>\n  <d><![CDATA[ x ]]></d>\n</a>\n"},
    };
    TempDir dir;
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(CheckRoundTrip(input, XML::E_SAVE_PRETTY, dir), declaration + expected);
    }
}

// As loaded, nothing but the edit changes: on a hand-indented file, one attribute changes one
// line; on a file in pretty form, saving without an edit changes no byte.
TEST(SaveAsLoaded, OnlyTheEditedLineChanges) {
    const std::string hand =
        "<?xml version='1.0'?>\n"
        "<!DOCTYPE config [\n  <!ENTITY owner \"me\">\n  <!ELEMENT config ANY>\n  <!ELEMENT server ANY>\n"
        "  <!ELEMENT empty EMPTY>\n  <!ATTLIST config version CDATA #IMPLIED>\n"
        "  <!ATTLIST server name CDATA #IMPLIED port CDATA #IMPLIED>\n]>\n"
        "<config   version='2'>\n"
        "    <!-- servers -->\n"
        "    <server name=\"a\" port=\"80\"/>\n"
        "    <server port=\"81\"   name=\"b\">&owner;</server>\n"
        "\t<empty></empty>\n"
        "</config>\n";
    TempDir dir;
    WriteFile(dir.File("hand.xml"), hand);
    XML::CKelXML doc;
    ASSERT_EQ(LoadFile(doc, dir.File("hand.xml")), 0);
    DOMNode* second = XML::CKelXML::GetFirstNode(doc.GetDocument()->getDocumentElement(), "server")->getNextSibling();
    second = second->getNextSibling();
    ASSERT_NE(doc.ModifyAttribute("port", "82", static_cast<DOMElement*>(second)), nullptr);
    const std::string saved = Saved(doc, XML::E_SAVE_AS_LOADED, dir);
    std::string expected = hand;
    expected.replace(expected.find("<server port=\"81\"   name=\"b\">"), 29, "<server port=\"82\" name=\"b\">");
    expected.replace(expected.find("<config   version='2'>"), 22, "<config version=\"2\">");
    expected.replace(expected.find("<empty></empty>"), 15, "<empty/>");
    EXPECT_EQ(saved, expected);

    const std::string pretty = CheckRoundTrip(hand, XML::E_SAVE_PRETTY, dir);
    WriteFile(dir.File("pretty.xml"), pretty);
    XML::CKelXML again;
    ASSERT_EQ(LoadFile(again, dir.File("pretty.xml")), 0);
    EXPECT_EQ(Saved(again, XML::E_SAVE_AS_LOADED, dir), pretty);
}

// The serializer keeps no frame per level: the deepest tree Load accepts saves on a thread with a
// 128 KiB stack, in every form.
TEST(SaveDeep, DeepestLoadableTreeSavesOnASmallStack) {
    std::string text;
    for (int i = 0; i < 999; ++i) text += "<d>";
    text += "x";
    for (int i = 0; i < 999; ++i) text += "</d>";
    TempDir dir;
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, text));
    struct Job {
        XML::CKelXML* doc;
        std::string file;
        bool saved[3];
    } job{&doc, dir.File("deep.xml"), {}};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* arg) -> void* {
                      auto* j = static_cast<Job*>(arg);
                      for (int f = 0; f < 3; ++f)
                          j->saved[f] = j->doc->Save(j->file.c_str(), static_cast<XML::E_SAVE_FORM>(f));
                      return nullptr;
                  },
                  &job),
              0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    for (int f = 0; f < 3; ++f) EXPECT_TRUE(job.saved[f]) << f;
    XML::CKelXML back;
    EXPECT_EQ(LoadFile(back, job.file), 0);
    // Indentation stops at a fixed depth: the pretty form stays a small multiple of the input.
    ASSERT_TRUE(doc.Save(job.file.c_str(), XML::E_SAVE_PRETTY));
    EXPECT_LT(ReadFile(job.file).size(), 3 * text.size());
}

// A part of a document is saved as it stands in its document, to load alone with the same
// information: entity references as their text, the attributes its DTD defaults, the namespaces
// and xml:* attributes it inherits on its top element. The whole document keeps its references.
TEST(SavePart, LoadsAloneWithTheSameInformation) {
    const struct {
        const char* document;
        const char* part;
        const char* expected;  // unindented
    } cases[] = {
        {"<!DOCTYPE r [<!ENTITY e 'ent'><!ENTITY n '<b>&e;</b>'>]><r><a>t&e;&n;</a></r>", "a", "<a>tent<b>ent</b></a>"},
        {"<!DOCTYPE r [<!ATTLIST a d CDATA 'v'>]><r><a/></r>", "a", "<a d=\"v\"/>"},
        {"<r xmlns='urn:d' xmlns:p='urn:p' xml:lang='fr'><s xml:lang='de'><p:a p:x='1' xml:space='preserve'/></s></r>",
         "p:a", "<p:a p:x=\"1\" xml:space=\"preserve\" xml:lang=\"de\" xmlns=\"urn:d\" xmlns:p=\"urn:p\"/>"},
        {"<!DOCTYPE doc [<!ATTLIST doc xmlns:tst CDATA #FIXED 'urn:t' tst:att (0|1) '1'>]><doc/>", "doc",
         "<doc tst:att=\"1\" xmlns:tst=\"urn:t\"/>"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        XML::CKelXML doc;
        LoadText(doc, c.document);
        const DOMNode* part = doc.GetDocument()->getElementsByTagName(XML::XStr(c.part).unicodeForm())->item(0);
        ASSERT_NE(part, nullptr) << c.document;
        std::string canonical;
        ASSERT_TRUE(doc.GetCanonicalXML(part, false, canonical));
        for (const auto& [form, label] : kForms) {
            SCOPED_TRACE(std::string(label) + ": " + c.document);
            ASSERT_TRUE(doc.Save(dir.File("part.xml").c_str(), part, form));
            if (form == XML::E_SAVE_CANONICAL) {
                EXPECT_EQ(ReadFile(dir.File("part.xml")), c.expected);
            }
            XML::CKelXML back;
            EXPECT_EQ(LoadFile(back, dir.File("part.xml")), 0) << ReadFile(dir.File("part.xml"));
            std::string again;
            EXPECT_TRUE(back.GetDocument() && back.GetCanonicalXML(back.GetDocument(), false, again));
            EXPECT_EQ(again, canonical);
        }
    }
}
