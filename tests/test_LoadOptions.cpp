// Loads with options: well-formed reading, validation against the caller's grammars, and the
// grammar cache (edits seen, sets kept apart, faulty grammars never kept, shared across threads).
#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <unistd.h>

using namespace kelxml_test;

namespace {

XML::sLoadOptions WellFormed() {
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_WELL_FORMED;
    return options;
}

XML::sLoadOptions Named(std::vector<XML::sSchemaFile> schemas, std::string dtd = {},
                        std::shared_ptr<XML::CGrammarCache> cache = nullptr) {
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
    options.vSchemas = std::move(schemas);
    options.strDTDFile = std::move(dtd);
    options.pGrammarCache = std::move(cache);
    return options;
}

bool LoadText(XML::CKelXML& doc, const std::string& text, const XML::sLoadOptions& options) {
    return doc.Load(static_cast<const void*>(text.data()), static_cast<unsigned int>(text.size()), options);
}

// The records of doc, one per line, for failure messages and substring checks.
std::string Listing(const XML::CKelXML& doc) {
    std::string text;
    for (const XML::sError& record : Records(doc))
        text += std::to_string(record.eType) + " " + record.strMessage + "\n";
    return text;
}

bool HasRecord(const XML::CKelXML& doc, XML::E_TYPE_ERROR kind, const std::string& part) {
    for (const XML::sError& record : Records(doc))
        if (record.eType == kind && record.strMessage.find(part) != std::string::npos) return true;
    return false;
}

std::string Attribute(const XML::CKelXML& doc, const char* element, const char* name) {
    std::string value;
    const xercesc::DOMNode* node = XML::CKelXML::GetFirstNode(doc.GetDocument()->getDocumentElement(), element);
    XML::CKelXML::GetAttributeValue(node, name, value);
    return value;
}

std::string Text(const XML::CKelXML& doc) {
    std::string text;
    XML::CKelXML::GetValue(doc.GetDocument()->getDocumentElement(), text);
    return text;
}

// Rewrites a file so that its stamp surely changes (a new size, and a later time).
void Rewrite(const std::string& path, const std::string& content) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    WriteFile(path, content);
}

const char kXsdHead[] = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'";

// An order schema without namespace, its item type in an included file.
std::string OrderSchema(const char* maxItems) {
    return std::string(kXsdHead) +
           "><xs:include schemaLocation='types.xsd'/>"
           "<xs:element name='order'><xs:complexType><xs:sequence>"
           "<xs:element name='item' type='itemType' maxOccurs='" +
           maxItems +
           "'/>"
           "</xs:sequence></xs:complexType></xs:element></xs:schema>";
}
std::string TypesSchema(const char* qtyType) {
    return std::string(kXsdHead) +
           "><xs:complexType name='itemType'><xs:simpleContent>"
           "<xs:extension base='xs:string'><xs:attribute name='qty' type='" +
           qtyType +
           "' default='1'/>"
           "</xs:extension></xs:simpleContent></xs:complexType></xs:schema>";
}

// Two namespaces: urn:a's root holds an element of urn:b, imported.
const char kSchemaA[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:a' xmlns:b='urn:b'"
    " elementFormDefault='qualified'><xs:import namespace='urn:b' schemaLocation='b.xsd'/>"
    "<xs:element name='doc'><xs:complexType><xs:sequence><xs:element ref='b:part'/></xs:sequence>"
    "</xs:complexType></xs:element></xs:schema>";
const char kSchemaB[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:b'>"
    "<xs:element name='part' type='xs:positiveInteger'/></xs:schema>";

const char kStrictDtd[] = "<!ELEMENT list (entry)*><!ELEMENT entry (#PCDATA)><!ATTLIST entry kind CDATA 'one'>";

// The grammars of these tests, written as files in a temporary folder.
struct Grammars {
    Grammars() {
        WriteFile(dir.File("order.xsd"), OrderSchema("2"));
        WriteFile(dir.File("types.xsd"), TypesSchema("xs:positiveInteger"));
        WriteFile(dir.File("a.xsd"), kSchemaA);
        WriteFile(dir.File("b.xsd"), kSchemaB);
        WriteFile(dir.File("list.dtd"), kStrictDtd);
        // A schema and a DTD that accept anything a document might bring along.
        WriteFile(dir.File("lax.xsd"), std::string(kXsdHead) + "><xs:element name='order'/></xs:schema>");
        WriteFile(dir.File("lax.dtd"), "<!ELEMENT list ANY><!ELEMENT entry ANY><!ELEMENT other ANY>");
    }
    std::string File(const char* name) const { return dir.File(name); }
    XML::sLoadOptions Order() const { return Named({{"", File("order.xsd")}}); }
    TempDir dir;
};

}  // namespace

// --- Well-formed reading -----------------------------------------------------------------

TEST(LoadWellFormed, DocumentsWhoseGrammarIsUnreachableLoad) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"network DTD", "<!DOCTYPE busconfig PUBLIC '-//x//EN' 'http://example.org/bus.dtd'><busconfig/>"},
        {"missing relative DTD", "<!DOCTYPE fontconfig SYSTEM 'urn:fonts.dtd'><fontconfig><dir>x</dir></fontconfig>"},
        {"DOCTYPE without declarations", "<!DOCTYPE svg><svg><g id='a'/><g id='a'/></svg>"},
        {"schema that would reject it",
         "<order xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation="
         "'http://example.org/no.xsd'><nothing/></order>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_TRUE(LoadText(doc, c.text, WellFormed())) << Listing(doc);
        ASSERT_NE(doc.GetDocument(), nullptr);
        EXPECT_NE(doc.GetDocument()->getDocumentElement(), nullptr);
    }
    // The same network DTD as before keeps the plain Load refusing it.
    XML::CKelXML plain;
    EXPECT_FALSE(LoadText(plain, cases[0].text));
}

TEST(LoadWellFormed, InternalSubsetStillGivesEntitiesAndDefaults) {
    XML::CKelXML doc;
    const std::string text =
        "<!DOCTYPE list SYSTEM 'http://example.org/list.dtd' ["
        "<!ENTITY who 'world'><!ATTLIST entry kind CDATA 'plain'>]>"
        "<list><entry>hello &who;</entry></list>";
    ASSERT_TRUE(LoadText(doc, text, WellFormed())) << Listing(doc);
    EXPECT_EQ(Text(doc), "hello world");
    EXPECT_EQ(Attribute(doc, "entry", "kind"), "plain");
}

TEST(LoadWellFormed, EntityOnlyTheUnreadDTDCouldDeclareIsReportedAndTheRestKept) {
    const std::string withSubset = "<!DOCTYPE list SYSTEM 'list.dtd' [<!ENTITY known 'K'>]>";
    const std::string withoutSubset = "<!DOCTYPE list SYSTEM 'list.dtd'>";
    for (const std::string& prolog : {withSubset, withoutSubset}) {
        SCOPED_TRACE(prolog);
        XML::CKelXML doc;
        const std::string text = prolog +
                                 "<list a='x&unknown;y'>\n<entry>1&unknown;2</entry><entry>after</entry></list>";
        EXPECT_FALSE(LoadText(doc, text, WellFormed()));
        const auto records = Records(doc);
        ASSERT_EQ(records.size(), 2u) << Listing(doc);
        for (const XML::sError& record : records) {
            EXPECT_EQ(record.eType, XML::E_WARNING);
            EXPECT_NE(record.strMessage.find("toto, lig="), std::string::npos) << record.strMessage;
            EXPECT_NE(record.strMessage.find("unknown"), std::string::npos) << record.strMessage;
        }
        unsigned int entries = 0;
        XML::CKelXML::GetNbChildInNode(doc.GetDocument()->getDocumentElement(), "entry", entries);
        EXPECT_EQ(entries, 2u);
        EXPECT_EQ(Text(doc), "\n12after");
        std::string attribute;
        XML::CKelXML::GetAttributeValue(doc.GetDocument()->getDocumentElement(), "a", attribute);
        EXPECT_EQ(attribute, "xy");
    }
}

TEST(LoadWellFormed, OtherFatalErrorsStillEndTheParse) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"undeclared entity, no external DTD", "<!DOCTYPE a [<!ENTITY k 'K'>]><a>&unknown;<b/></a>"},
        {"mismatched tag after an unread-DTD entity", "<!DOCTYPE a SYSTEM 'a.dtd'><a>&unknown;<b></a>"},
        {"not well-formed", "<!DOCTYPE a SYSTEM 'a.dtd'><a><b></a>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_FALSE(LoadText(doc, c.text, WellFormed()));
        size_t fatal = 0;
        for (const XML::sError& record : Records(doc)) fatal += record.eType == XML::E_FATAL_ERROR;
        EXPECT_EQ(fatal, 1u) << Listing(doc);
    }
    // The parser kept by the object stops at the first fatal error again on its next load.
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, cases[1].text, WellFormed()));
    EXPECT_FALSE(LoadText(doc, "<a><b></a><c></d>", WellFormed()));
    EXPECT_EQ(Records(doc).size(), 1u) << Listing(doc);
}

// --- Validation against the caller's grammars ------------------------------------------------

TEST(LoadNamedGrammars, InstancesAgainstSchemasWithIncludesImportsAndTwoNamespaces) {
    Grammars g;
    const XML::sLoadOptions order = g.Order();
    const XML::sLoadOptions twoNamespaces = Named({{"urn:a", g.File("a.xsd")}, {"urn:b", g.File("b.xsd")}});
    const XML::sLoadOptions importOnly = Named({{"", g.File("a.xsd")}});  // any namespace
    struct Case {
        const char* name;
        const XML::sLoadOptions& options;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"valid", order, "<order><item qty='3'>tea</item></order>", true},
        {"included type violated", order, "<order><item qty='0'>tea</item></order>", false},
        {"too many items", order, "<order><item>a</item><item>b</item><item>c</item></order>", false},
        {"unknown root", order, "<invoice/>", false},
        {"two namespaces, valid", twoNamespaces, "<doc xmlns='urn:a'><part xmlns='urn:b'>7</part></doc>", true},
        {"two namespaces, imported type violated", twoNamespaces,
         "<doc xmlns='urn:a'><part xmlns='urn:b'>-7</part></doc>", false},
        {"import followed from the named schema", importOnly, "<doc xmlns='urn:a'><part xmlns='urn:b'>7</part></doc>",
         true},
        {"namespace not named", order, "<doc xmlns='urn:a'><part xmlns='urn:b'>7</part></doc>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_EQ(LoadText(doc, c.text, c.options), c.valid) << Listing(doc);
        if (!c.valid) {
            EXPECT_TRUE(HasRecord(doc, XML::E_ERROR, "toto, lig=1 col=")) << Listing(doc);
        }
    }
    // The included file's default attribute reaches the tree.
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, "<order><item>tea</item></order>", order));
    EXPECT_EQ(Attribute(doc, "item", "qty"), "1");
}

TEST(LoadNamedGrammars, TheDocumentCannotChooseItsGrammar) {
    Grammars g;
    WriteFile(g.File("own.xml"),
              "<order xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
              " xsi:noNamespaceSchemaLocation='lax.xsd'><anything/></order>");
    WriteFile(g.File("own-dtd.xml"), "<!DOCTYPE list SYSTEM 'lax.dtd'><list><other/></list>");
    WriteFile(g.File("own-dtd-subset.xml"),
              "<!DOCTYPE list SYSTEM 'lax.dtd' [<!ENTITY e 'E'>]><list><entry>&e;</entry><other/></list>");
    // Each document is valid against the grammar it names itself.
    for (const char* name : {"own.xml", "own-dtd.xml", "own-dtd-subset.xml"}) {
        XML::CKelXML doc;
        EXPECT_TRUE(doc.Load(g.File(name).c_str(), true)) << name << "\n" << Listing(doc);
    }
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load(g.File("own.xml").c_str(), g.Order()));
    EXPECT_TRUE(HasRecord(doc, XML::E_ERROR, "own.xml, lig=1 col=")) << Listing(doc);
    // Validated against schemas only, a DOCTYPE's external subset is not read at all.
    EXPECT_TRUE(LoadText(doc,
                         "<!DOCTYPE order SYSTEM 'http://example.org/order.dtd' [<!ENTITY t 'tea'>]>"
                         "<order><item>&t;</item></order>",
                         g.Order()))
        << Listing(doc);
    EXPECT_EQ(Text(doc), "tea");
    const XML::sLoadOptions dtd = Named({}, g.File("list.dtd"));
    for (const char* name : {"own-dtd.xml", "own-dtd-subset.xml"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(doc.Load(g.File(name).c_str(), dtd));
        EXPECT_TRUE(HasRecord(doc, XML::E_ERROR, "'other'")) << Listing(doc);
    }
    // The named DTD's default, and the document's own internal entity, are both there.
    WriteFile(g.File("good.xml"), "<!DOCTYPE list SYSTEM 'lax.dtd' [<!ENTITY e 'E'>]><list><entry>&e;</entry></list>");
    ASSERT_TRUE(doc.Load(g.File("good.xml").c_str(), dtd)) << Listing(doc);
    EXPECT_EQ(Attribute(doc, "entry", "kind"), "one");
    EXPECT_EQ(Text(doc), "E");
}

TEST(LoadNamedGrammars, FaultsInTheGrammarNameTheGrammarFile) {
    Grammars g;
    WriteFile(g.File("broken.xsd"), std::string(kXsdHead) + "><xs:element name='order'></xs:schema>");
    WriteFile(g.File("wrongtype.xsd"), std::string(kXsdHead) + "><xs:element name='order' type='nosuch'/></xs:schema>");
    struct Case {
        const char* name;
        XML::sLoadOptions options;
        std::string expected;
    };
    const Case cases[] = {
        {"not well-formed", Named({{"", g.File("broken.xsd")}}), "broken.xsd, lig=1 col="},
        {"unknown type", Named({{"", g.File("wrongtype.xsd")}}), "wrongtype.xsd, lig=1 col="},
        {"missing file", Named({{"", g.File("nosuch.xsd")}}), "nosuch.xsd"},
        {"namespace not the one named", Named({{"urn:x", g.File("order.xsd")}}), "target namespace is ''"},
        {"network import", Named({{"urn:a", g.File("net.xsd")}}), "network access refused"},
    };
    WriteFile(g.File("net.xsd"),
              "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:a'>"
              "<xs:import namespace='urn:b' schemaLocation='http://example.org/b.xsd'/></xs:schema>");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_FALSE(LoadText(doc, "<order/>", c.options));
        const auto records = Records(doc);
        ASSERT_FALSE(records.empty());
        EXPECT_NE(records[0].strMessage.find(c.expected), std::string::npos) << Listing(doc);
    }
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, "<order/>", Named({})));
    EXPECT_EQ(Listing(doc), "4 no grammar named\n");
    EXPECT_EQ(doc.GetDocument(), nullptr);
}

TEST(LoadNamedGrammars, PlainLoadsAfterwardsFollowTheDocumentAgain) {
    Grammars g;
    WriteFile(g.File("own.xml"),
              "<order xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
              " xsi:noNamespaceSchemaLocation='lax.xsd'><anything/></order>");
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load(g.File("own.xml").c_str(), g.Order()));
    EXPECT_TRUE(doc.Load(g.File("own.xml").c_str(), false)) << Listing(doc);
    EXPECT_FALSE(doc.Load(g.File("own.xml").c_str(), g.Order()));
    XML::CKelXML moved(std::move(doc));
    EXPECT_FALSE(moved.Load(g.File("own.xml").c_str(), g.Order()));
}

// --- The grammar cache: what naive caching gets wrong ------------------------------------------

TEST(GrammarCache, ParsesOnceAndSeesEditsOfTheSchemaAndOfWhatItIncludes) {
    Grammars g;
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions options = Named({{"", g.File("order.xsd")}}, {}, cache);
    const std::string twoItems = "<order><item qty='2'>a</item><item>b</item></order>";
    XML::CKelXML doc;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(LoadText(doc, twoItems, options)) << Listing(doc);
    EXPECT_EQ(cache->GetParseCount(), 1u);
    EXPECT_EQ(cache->GetGrammarCount(), 1u);

    Rewrite(g.File("order.xsd"), OrderSchema("1"));
    EXPECT_FALSE(LoadText(doc, twoItems, options));
    Rewrite(g.File("order.xsd"), OrderSchema("5"));
    EXPECT_TRUE(LoadText(doc, twoItems, options)) << Listing(doc);
    Rewrite(g.File("types.xsd"), TypesSchema("xs:boolean"));
    EXPECT_FALSE(LoadText(doc, twoItems, options));
    EXPECT_EQ(cache->GetParseCount(), 4u);
    EXPECT_EQ(cache->GetGrammarCount(), 1u);
}

// A grammar named through a link: moving the link to another file is an edit of the grammar.
TEST(GrammarCache, FollowsALinkMovedToAnotherFile) {
    Grammars g;
    Rewrite(g.File("strict.xsd"), OrderSchema("1"));
    const std::string link = g.File("current.xsd");
    ASSERT_EQ(::symlink(g.File("order.xsd").c_str(), link.c_str()), 0);
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions options = Named({{"", link}}, {}, cache);
    const std::string twoItems = "<order><item qty='2'>a</item><item>b</item></order>";
    XML::CKelXML doc;
    EXPECT_TRUE(LoadText(doc, twoItems, options)) << Listing(doc);
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(g.File("strict.xsd").c_str(), link.c_str()), 0);
    EXPECT_FALSE(LoadText(doc, twoItems, options));
}

TEST(GrammarCache, SchemasWithoutNamespaceDoNotCollide) {
    Grammars g;
    WriteFile(g.File("one.xsd"), std::string(kXsdHead) + "><xs:element name='v' type='xs:int'/></xs:schema>");
    WriteFile(g.File("two.xsd"), std::string(kXsdHead) + "><xs:element name='v' type='xs:boolean'/></xs:schema>");
    const XML::sLoadOptions one = Named({{"", g.File("one.xsd")}});
    const XML::sLoadOptions two = Named({{"", g.File("two.xsd")}});
    XML::CKelXML doc;
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(LoadText(doc, "<v>12</v>", one)) << Listing(doc);
        EXPECT_FALSE(LoadText(doc, "<v>12</v>", two));
        EXPECT_TRUE(LoadText(doc, "<v>true</v>", two)) << Listing(doc);
        EXPECT_FALSE(LoadText(doc, "<v>true</v>", one));
    }
}

TEST(GrammarCache, AGrammarWithDiagnosticsIsReportedAtEveryLoadAndNeverKept) {
    Grammars g;
    // Two particles for the same element: not deterministic (unique particle attribution).
    WriteFile(g.File("upa.xsd"), std::string(kXsdHead) +
                                     "><xs:element name='r'><xs:complexType><xs:choice>"
                                     "<xs:sequence><xs:element name='x'/><xs:element name='y'/></xs:sequence>"
                                     "<xs:sequence><xs:element name='x'/><xs:element name='z'/></xs:sequence>"
                                     "</xs:choice></xs:complexType></xs:element></xs:schema>");
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions options = Named({{"", g.File("upa.xsd")}}, {}, cache);
    XML::CKelXML doc;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(LoadText(doc, "<r><x/><y/></r>", options));
        EXPECT_TRUE(HasRecord(doc, XML::E_ERROR, "upa.xsd, lig=")) << Listing(doc);
        EXPECT_TRUE(HasRecord(doc, XML::E_ERROR, "unique particle attribution")) << Listing(doc);
    }
    EXPECT_EQ(cache->GetGrammarCount(), 0u);
    EXPECT_EQ(cache->GetParseCount(), 2u);
}

TEST(GrammarCache, EditedDTDDefaultReachesTheTree) {
    Grammars g;
    WriteFile(g.File("list.xml"), "<!DOCTYPE list SYSTEM 'other.dtd'><list><entry>x</entry></list>");
    const XML::sLoadOptions options = Named({}, g.File("list.dtd"));
    XML::CKelXML doc;
    ASSERT_TRUE(doc.Load(g.File("list.xml").c_str(), options)) << Listing(doc);
    EXPECT_EQ(Attribute(doc, "entry", "kind"), "one");
    Rewrite(g.File("list.dtd"),
            "<!ELEMENT list (entry)*><!ELEMENT entry (#PCDATA)><!ATTLIST entry kind CDATA 'second'>");
    ASSERT_TRUE(doc.Load(g.File("list.xml").c_str(), options)) << Listing(doc);
    EXPECT_EQ(Attribute(doc, "entry", "kind"), "second");
}

TEST(GrammarCache, OneGrammarSharedByThreads) {
    Grammars g;
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions schemas = Named({{"urn:a", g.File("a.xsd")}, {"urn:b", g.File("b.xsd")}}, {}, cache);
    const XML::sLoadOptions dtd = Named({}, g.File("list.dtd"), cache);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            XML::CKelXML doc;
            for (int i = 0; i < 40; ++i) {
                const bool valid = (i + t) % 2 == 0;
                const std::string text = std::string("<doc xmlns='urn:a'><part xmlns='urn:b'>") + (valid ? "7" : "-7") +
                                         "</part></doc>";
                if (LoadText(doc, text, schemas) != valid) ++wrong;
                const std::string list = std::string("<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>a</entry>") +
                                         (valid ? "" : "<other/>") + "</list>";
                if (LoadText(doc, list, dtd) != valid || Attribute(doc, "entry", "kind") != "one") ++wrong;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(cache->GetParseCount(), 2u);
}

TEST(LoadWellFormed, ExternalParameterEntitiesAreNotReadEither) {
    for (const char* location : {"http://example.org/ext.ent", "missing.ent"}) {
        SCOPED_TRACE(location);
        XML::CKelXML doc;
        const std::string text = std::string("<!DOCTYPE a [<!ENTITY % ext SYSTEM '") + location +
                                 "'>%ext;<!ENTITY known 'K'>]><a>&known;&fromExt;.</a>";
        EXPECT_FALSE(LoadText(doc, text, WellFormed()));
        const auto records = Records(doc);
        ASSERT_EQ(records.size(), 1u) << Listing(doc);
        EXPECT_EQ(records[0].eType, XML::E_WARNING);
        EXPECT_NE(records[0].strMessage.find("fromExt"), std::string::npos) << Listing(doc);
        EXPECT_EQ(Text(doc), "K.");
    }
}

TEST(LoadOptions, LimitsHoldInEveryMode) {
    Grammars g;
    WriteFile(g.File("r.xsd"), std::string(kXsdHead) + "><xs:element name='r'/></xs:schema>");
    std::string laughs = "<!DOCTYPE r [<!ENTITY a0 'ha'>";
    for (int level = 1; level < 10; ++level) {
        laughs += "<!ENTITY a" + std::to_string(level) + " '";
        for (int i = 0; i < 10; ++i) laughs += "&a" + std::to_string(level - 1) + ";";
        laughs += "'>";
    }
    laughs += "]><r>&a9;</r>";
    std::string deep;
    for (int i = 0; i < 1001; ++i) deep += "<r>";
    for (int i = 0; i < 1001; ++i) deep += "</r>";
    for (const XML::sLoadOptions& options : {WellFormed(), Named({{"", g.File("r.xsd")}})}) {
        SCOPED_TRACE(options.eMode);
        XML::CKelXML doc;
        EXPECT_FALSE(LoadText(doc, laughs, options));
        EXPECT_TRUE(HasRecord(doc, XML::E_EXCEPTION, "expands to more than")) << Listing(doc);
        EXPECT_FALSE(LoadText(doc, deep, options));
        EXPECT_TRUE(HasRecord(doc, XML::E_EXCEPTION, "deeper than 1000")) << Listing(doc);
    }
}
