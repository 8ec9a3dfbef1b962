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
