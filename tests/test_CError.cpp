// The error list, and the records the parser's error handler makes of diagnostics.
#include "TestSupport.h"

using namespace kelxml_test;
using XML::CError;
using XML::sError;

TEST(CError, FirstIsOldestAndStaysAndAnEmptyListLeavesOutputAlone) {
    CError list;
    sError out{XML::E_MISSING, "untouched"};
    EXPECT_FALSE(list.HasError() || list.GetFirstError(out));
    EXPECT_EQ(out.strMessage + list.GetFirstErrorString(), "untouched");
    list.AddError(XML::E_WARNING, "careful");
    list.AddError(XML::E_FATAL_ERROR, nullptr);  // a null text is an empty record
    list.AddError(sError{XML::E_EXCEPTION, "placed", 7, 9, "f.xml"});
    ASSERT_TRUE(list.HasError() && list.GetFirstError(out) && list.GetFirstError(out));
    EXPECT_EQ(out.eType, XML::E_WARNING);
    EXPECT_EQ(list.GetFirstErrorString(), "careful");
    EXPECT_EQ(list.GetAllErrors()[1].strMessage, "");
    EXPECT_EQ(list.GetAllErrors()[2].nColumn, 9u);
    EXPECT_TRUE(list.HasFatalError());
    EXPECT_EQ(list.GetErrorCount(XML::E_WARNING) * 10 + list.GetErrorCount(), 13u);
    list.ResetError();
    EXPECT_FALSE(list.HasError() || list.HasFatalError());
    list.AddError(XML::E_ERROR, "not fatal");
    EXPECT_FALSE(list.HasFatalError());
}

// A diagnostic's place is in fields of its own, and the text is "<system id>, lig=L col=C, <message>".
TEST(HandlerError, DiagnosticsNameDocumentLineAndColumn) {
    TempDir dir;
    const std::string dtd = dir.File("d.dtd"), file = dir.File("f.xml");
    WriteFile(dtd, "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n<!ELEMENT >\n");
    struct Case {
        bool fromFile;
        std::string text, systemId, message;  // systemId empty: the file's own
        XML::E_TYPE_ERROR type;
    };
    const Case cases[] = {
        {false, "<a>\n <b>\n   </c>\n</a>", "toto", "toto, lig=3 col=6, expected end of tag 'b'", XML::E_FATAL_ERROR},
        {true, "<a>\n\t<b>x</c>\n</a>\n", "", ", lig=2 col=8, ", XML::E_FATAL_ERROR},
        {true, "<!DOCTYPE a SYSTEM 'd.dtd'>\n<a/>\n", dtd, dtd + ", lig=3 col=11, ", XML::E_FATAL_ERROR},
        {true, "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]>\n<a><c/></a>\n", "", ", lig=2 col=", XML::E_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        XML::CKelXML doc;
        if (c.fromFile) WriteFile(file, c.text);
        EXPECT_FALSE(c.fromFile ? doc.Load(file.c_str(), false) : LoadText(doc, c.text));
        const auto records = Records(doc);
        ASSERT_FALSE(records.empty());
        const sError& r = records[0];
        const std::string id = c.systemId.empty() ? file : c.systemId;
        EXPECT_EQ(r.eType, c.type);
        EXPECT_EQ(r.strSystemId, id);
        EXPECT_EQ(r.strMessage.rfind(c.systemId.empty() ? file + c.message : c.message, 0), 0u) << r.strMessage;
        EXPECT_EQ(
            r.strMessage.rfind(id + ", lig=" + std::to_string(r.nLine) + " col=" + std::to_string(r.nColumn) + ", ", 0),
            0u);
        EXPECT_EQ(r.strMessage.find('\n'), std::string::npos);
    }
    XML::CKelXML none;  // other records have no place
    EXPECT_FALSE(none.Save("/nonexistent-dir/x.xml", false));
    ASSERT_EQ(Records(none).size(), 1u);
    EXPECT_EQ(Records(none)[0].nLine + Records(none)[0].nColumn, 0u);
    EXPECT_EQ(Records(none)[0].strSystemId, "");
}
