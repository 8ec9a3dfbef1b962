// The error list, and the records the parser's error handler makes of diagnostics.
#include "TestSupport.h"

using namespace kelxml_test;
using XML::CError;
using XML::sError;

TEST(CError, EmptyListReportsNothingAndLeavesOutputAlone) {
    const CError list;
    EXPECT_FALSE(list.HasError());
    sError out{XML::E_MISSING, "untouched"};
    EXPECT_FALSE(list.GetFirstError(out));
    EXPECT_EQ(out.eType, XML::E_MISSING);
    EXPECT_EQ(out.strMessage, "untouched");
    EXPECT_EQ(list.GetFirstErrorString(), "");
}

TEST(CError, FirstIsOldestAndStays) {
    CError list;
    list.AddError(XML::E_WARNING, "careful");
    list.AddError(XML::E_FATAL_ERROR, "broken");
    list.AddError(XML::E_MISSING, nullptr);
    list.AddError(XML::E_ERROR, "");
    ASSERT_TRUE(list.HasError());
    for (int i = 0; i < 2; ++i) {
        sError out;
        ASSERT_TRUE(list.GetFirstError(out));
        EXPECT_EQ(out.eType, XML::E_WARNING);
        EXPECT_EQ(out.strMessage, "careful");
    }
    ASSERT_EQ(list.GetErrorCount(), 4u);
    EXPECT_EQ(list.GetAllErrors()[2].strMessage, "");  // a null text is an empty record
    EXPECT_EQ(list.GetAllErrors()[3].eType, XML::E_ERROR);
    list.ResetError();
    EXPECT_FALSE(list.HasError());
    EXPECT_EQ(list.GetFirstErrorString(), "");
}

// Diagnostics: "<system id>, lig=<line> col=<column>, <message>", with the kind of the callback.
TEST(HandlerError, DiagnosticNamesDocumentLineAndColumn) {
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, "<a>\n <b>\n   </c>\n</a>"));
    const auto records = Records(doc);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].eType, XML::E_FATAL_ERROR);
    EXPECT_EQ(records[0].strMessage, "toto, lig=3 col=6, expected end of tag 'b'");
}

TEST(HandlerError, FileDiagnosticsCarryTheFileNameAndKinds) {
    TempDir dir;
    const std::string dtd = dir.File("d.dtd");
    WriteFile(dtd, "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n");
    const std::string file = dir.File("invalid.xml");
    WriteFile(file, "<?xml version='1.0'?>\n<!DOCTYPE a SYSTEM 'd.dtd'>\n<a><c/></a>\n");
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load(file.c_str(), false));
    const auto records = Records(doc);
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
        EXPECT_EQ(r.eType, XML::E_ERROR) << r.strMessage;  // validity errors, not fatal
        EXPECT_EQ(r.strMessage.rfind(file + ", lig=3 col=", 0), 0u) << r.strMessage;
        EXPECT_EQ(r.strMessage.find('\n'), std::string::npos);
    }
    EXPECT_NE(doc.GetDocument(), nullptr);  // the document is built all the same
}

// The place of a parser diagnostic is in fields of its own, and the text keeps its old form.
TEST(HandlerError, DiagnosticPlaceIsInFieldsOfItsOwn) {
    TempDir dir;
    const std::string dtd = dir.File("d.dtd");
    WriteFile(dtd, "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n<!ELEMENT >\n");
    const std::string file = dir.File("f.xml");
    struct Case {
        const char* name;
        bool fromFile;
        std::string text;
        std::string systemId;  // empty: the file's own
        std::uint64_t line, column;
    };
    const Case cases[] = {
        {"memory", false, "<a>\n <b>\n   </c>\n</a>", "toto", 3, 6},
        {"file", true, "<a>\n\t<b>x</c>\n</a>\n", "", 2, 8},
        {"external subset", true, "<!DOCTYPE a SYSTEM 'd.dtd'>\n<a/>\n", dtd, 3, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        if (c.fromFile) WriteFile(file, c.text);
        EXPECT_FALSE(c.fromFile ? doc.Load(file.c_str(), false) : LoadText(doc, c.text));
        const auto records = Records(doc);
        ASSERT_FALSE(records.empty());
        const XML::sError& r = records[0];
        const std::string id = c.systemId.empty() ? file : c.systemId;
        EXPECT_EQ(r.strSystemId, id);
        if (c.line) {
            EXPECT_EQ(r.nLine, c.line);
            EXPECT_EQ(r.nColumn, c.column);
        }
        const std::string prefix = id + ", lig=" + std::to_string(r.nLine) + " col=" + std::to_string(r.nColumn) + ", ";
        EXPECT_EQ(r.strMessage.rfind(prefix, 0), 0u) << r.strMessage;
        XML::sError first;
        ASSERT_TRUE(doc.GetErrors()->GetFirstError(first));
        EXPECT_EQ(first.nLine, r.nLine);
        EXPECT_EQ(first.strSystemId, r.strSystemId);
    }
}

TEST(HandlerError, OtherRecordsHaveNoPlace) {
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Save("/nonexistent-dir/x.xml", false));  // no document: kind 4
    EXPECT_EQ(doc.AddNewElementNode("x", nullptr), nullptr);
    ASSERT_GE(Records(doc).size(), 2u);
    for (const XML::sError& r : Records(doc)) {
        EXPECT_EQ(r.nLine, 0u);
        EXPECT_EQ(r.nColumn, 0u);
        EXPECT_EQ(r.strSystemId, "");
    }
    CError list;
    list.AddError(XML::sError{XML::E_ERROR, "placed", 7, 9, "f.xml"});
    EXPECT_EQ(list.GetAllErrors()[0].nColumn, 9u);
    EXPECT_EQ(list.GetFirstErrorString(), "placed");
}
