// Loading from files and memory: results, records, replacement of the list and the document.
#include "TestSupport.h"

#include <cstring>
#include <memory>

using namespace kelxml_test;

namespace {
const char kWellFormed[] = "<?xml version='1.0'?>\n<config><port>80</port></config>\n";
const char kWarningOnly[] =
    "<!DOCTYPE a [<!ELEMENT a EMPTY><!ATTLIST b x CDATA #IMPLIED>]><a/>";  // undeclared element in ATTLIST
const char kSchema[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
    "<xs:element name='n' type='xs:int'/></xs:schema>";
}  // namespace

TEST(Load, WellFormedWithoutGrammarSucceedsFromFileAndMemory) {
    TempDir dir;
    const std::string file = dir.File("ok.xml");
    WriteFile(file, kWellFormed);
    XML::CKelXML doc;
    EXPECT_TRUE(doc.Load(file.c_str(), false));
    ASSERT_NE(doc.GetErrors(), nullptr);
    EXPECT_FALSE(doc.GetErrors()->HasError());
    ASSERT_NE(doc.GetDocument(), nullptr);
    EXPECT_TRUE(LoadText(doc, kWellFormed));
    EXPECT_TRUE(Records(doc).empty());
}

TEST(Load, OutcomeTable) {
    struct Case {
        const char* name;
        std::string text;
        bool result;
        bool hasDocument;
        XML::E_TYPE_ERROR firstKind;
    };
    const Case cases[] = {
        {"warning only", kWarningOnly, false, true, XML::E_WARNING},
        {"not well-formed", "<a><b></a>", false, true, XML::E_FATAL_ERROR},
        {"empty buffer", "", false, true, XML::E_FATAL_ERROR},  // an empty document, without root
        {"no root element", "<?xml version='1.0'?>", false, true, XML::E_FATAL_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_EQ(LoadText(doc, c.text), c.result);
        EXPECT_EQ(doc.GetDocument() != nullptr, c.hasDocument);
        const auto records = Records(doc);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].eType, c.firstKind);
        EXPECT_EQ(records[0].strMessage.rfind("toto, lig=", 0), 0u) << records[0].strMessage;
    }
}

TEST(Load, EveryLoadStartsAFreshList) {
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, "<a>"));
    EXPECT_FALSE(Records(doc).empty());
    EXPECT_TRUE(LoadText(doc, "<b/>"));
    EXPECT_TRUE(Records(doc).empty());  // the earlier records are gone with the earlier list
    EXPECT_FALSE(LoadText(doc, kWarningOnly));
    EXPECT_EQ(Records(doc).size(), 1u);
    const XMLCh* rootName = doc.GetDocument()->getDocumentElement()->getNodeName();
    EXPECT_EQ(XML::XStr::ToLocal(rootName), "a");
}

TEST(Load, ValidationSchemes) {
    TempDir dir;
    WriteFile(dir.File("n.xsd"), kSchema);
    const std::string breaks = dir.File("breaks.xml");
    WriteFile(breaks,
              "<n xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
              "xsi:noNamespaceSchemaLocation='n.xsd'>twelve</n>");
    const std::string plain = dir.File("plain.xml");
    WriteFile(plain, "<n>12</n>");

    XML::CKelXML doc;
    // Without bValidate a document that names its schema is still checked against it.
    EXPECT_FALSE(doc.Load(breaks.c_str(), false));
    ASSERT_FALSE(Records(doc).empty());
    EXPECT_EQ(Records(doc)[0].eType, XML::E_ERROR);
    // A document without grammar passes without bValidate, and fails with it.
    EXPECT_TRUE(doc.Load(plain.c_str(), false));
    EXPECT_FALSE(doc.Load(plain.c_str(), true));
    ASSERT_FALSE(Records(doc).empty());
    EXPECT_EQ(Records(doc)[0].eType, XML::E_ERROR);
}

TEST(Load, MissingFileIsAFatalRecordWithoutDocument) {
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load("/nonexistent/dir/file.xml", false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eType, XML::E_FATAL_ERROR);
    EXPECT_NE(records[0].strMessage.find("/nonexistent/dir/file.xml"), std::string::npos);
}

TEST(Load, NullArgumentsGiveOneRecord) {
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, "<a/>"));
    EXPECT_FALSE(doc.Load(static_cast<const char*>(nullptr), false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_MISSING);
    EXPECT_FALSE(doc.Load(static_cast<const void*>(nullptr), 10u));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_MISSING);
}

TEST(Load, MemoryBufferIsOnlyReadAndMayBeFreedAfterwards) {
    const std::string text = "<r a='1'>caf\xC3\xA9</r>";
    auto buffer = std::make_unique<char[]>(text.size());
    std::memcpy(buffer.get(), text.data(), text.size());
    XML::CKelXML doc;
    ASSERT_TRUE(doc.Load(static_cast<const void*>(buffer.get()), static_cast<unsigned int>(text.size())));
    EXPECT_EQ(std::string(buffer.get(), text.size()), text);
    buffer.reset();  // the document must not refer to the caller's bytes
    EXPECT_EQ(XML::XStr::ToLocal(doc.GetDocument()->getDocumentElement()->getTextContent()), "caf\xC3\xA9");
}

// One object keeps its parser from load to load; every load must still come out exactly as on a
// new object: nothing of the previous document (entities, declarations, IDs, schema, the
// validation scheme, a fatal error, a missing file) may carry over.
TEST(Load, ALoadAfterAnotherComesOutAsOnANewObject) {
    const std::string withIds =
        "<!DOCTYPE a [<!ELEMENT a (b*)><!ELEMENT b EMPTY><!ATTLIST b id ID #REQUIRED>]><a><b id='x'/></a>";
    struct Case {
        const char* name;
        std::string first;  // empty: a missing file
        bool firstValidates;
        std::string second;
        bool secondValidates;
    };
    const Case cases[] = {
        {"entity declared only before", "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", false, "<a>&e;</a>", false},
        {"declarations only before", "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]><a><b/></a>", false,
         "<a><c/></a>", false},
        {"same IDs again", withIds, false, withIds, false},
        {"schema only before",
         "<n xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation='n.xsd'>1</n>", false,
         "<n>twelve</n>", false},
        {"always, then automatic", "<n>12</n>", true, "<n>12</n>", false},
        {"automatic, then always", "<n>12</n>", false, "<n>12</n>", true},
        {"fatal error before", "<a><b></a>", false, "<a>ok</a>", false},
        {"missing file before", "", false, "<a>ok</a>", false},
        {"warning, then the same", kWarningOnly, false, kWarningOnly, false},
    };
    TempDir dir;
    WriteFile(dir.File("n.xsd"), kSchema);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string first = c.first.empty() ? dir.File("missing.xml") : dir.File("first.xml");
        const std::string second = dir.File("second.xml");
        if (!c.first.empty()) WriteFile(first, c.first);
        WriteFile(second, c.second);

        XML::CKelXML reused;
        reused.Load(first.c_str(), c.firstValidates);
        const bool got = reused.Load(second.c_str(), c.secondValidates);
        XML::CKelXML fresh;
        const bool expected = fresh.Load(second.c_str(), c.secondValidates);

        EXPECT_EQ(got, expected);
        const auto gotRecords = Records(reused), expectedRecords = Records(fresh);
        ASSERT_EQ(gotRecords.size(), expectedRecords.size());
        for (std::size_t i = 0; i < gotRecords.size(); ++i) {
            EXPECT_EQ(gotRecords[i].eType, expectedRecords[i].eType);
            EXPECT_EQ(gotRecords[i].strMessage, expectedRecords[i].strMessage);
        }
        ASSERT_EQ(reused.GetDocument() != nullptr, fresh.GetDocument() != nullptr);
        if (fresh.GetDocument() && fresh.GetDocument()->getDocumentElement()) {
            EXPECT_EQ(XML::XStr::ToLocal(reused.GetDocument()->getDocumentElement()->getTextContent()),
                      XML::XStr::ToLocal(fresh.GetDocument()->getDocumentElement()->getTextContent()));
        }
    }
}
