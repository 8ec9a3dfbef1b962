// How kelxml shows records: the message without its place, the excerpt with its caret, the
// source lines read again.
#include "Diagnostics.h"

#include "TestSupport.h"

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace kelxml;
using namespace kelxml_test;

TEST(ToolDiagnostics, MessageLosesOnlyThePlaceItsFieldsDescribe) {
    struct Case {
        XML::sError record;
        const char* message;
    };
    const Case cases[] = {
        {{XML::E_FATAL_ERROR, "/d/f.xml, lig=6 col=27, expected end", 6, 27, "/d/f.xml"}, "expected end"},
        {{XML::E_ERROR, "toto, lig=1 col=2, a, lig=1 col=2, b", 1, 2, "toto"}, "a, lig=1 col=2, b"},
        {{XML::E_FATAL_ERROR, ", lig=0 col=0, unable to read", 0, 0, ""}, "unable to read"},
        // The fields do not describe the text: it is shown whole.
        {{XML::E_WARNING, "/d/f.xml, lig=6 col=27, x", 6, 28, "/d/f.xml"}, "/d/f.xml, lig=6 col=27, x"},
        {{XML::E_EXCEPTION, "toto, lig=1 col=1, x", 1, 1, "toto"}, "toto, lig=1 col=1, x"},
        {{XML::E_MISSING, "DOMDOCUMENT undefined"}, "DOMDOCUMENT undefined"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.record), c.message) << c.record.strMessage;
}

TEST(ToolDiagnostics, ExcerptPutsTheCaretUnderTheColumn) {
    struct Case {
        const char* name;
        std::string line;
        std::uint64_t column;
        std::string expected;
    };
    const std::string longLine = std::string(100, 'a') + "X" + std::string(100, 'b');
    const Case cases[] = {
        {"first column", "<a>", 1, "  <a>\n  ^\n"},
        {"just past the end", "<a>", 4, "  <a>\n     ^\n"},
        {"beyond the end", "<a>", 9, ""},
        {"no column", "<a>", 0, ""},
        {"tabs kept", "\t\t<b>", 3, "  \t\t<b>\n  \t\t^\n"},
        {"carriage return dropped", "<a>\r", 4, "  <a>\n     ^\n"},
        {"two-byte characters", "\xC3\xA9\xC3\xA9x", 3, "  \xC3\xA9\xC3\xA9x\n    ^\n"},
        // A character outside the BMP is two columns for the parser and one on the screen.
        {"four-byte character", "\xF0\x9F\x98\x80x", 3, "  \xF0\x9F\x98\x80x\n   ^\n"},
        {"control bytes and broken UTF-8", std::string("a\x01\xFF\xC3x", 5), 5, "  a???x\n      ^\n"},
        {"long line", longLine, 101,
         "  ..." + std::string(60, 'a') + "X" + std::string(19, 'b') + "...\n  " + std::string(63, ' ') + "^\n"},
        {"cut line", "abc", 1, "  abc...\n  ^\n"},
        {"cut start", "abc", 2, "  ...abc\n      ^\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        EXPECT_EQ(Excerpt(c.line, c.column, name == "cut line", name == "cut start"), c.expected);
    }
}

TEST(ToolDiagnostics, SourceLinesCountEveryLineEnd) {
    const std::string text = "one\ntwo\r\nthree\rfour";
    TempDir dir;
    WriteFile(dir.File("f.xml"), text);
    std::vector<std::unique_ptr<SourceText>> sources;
    sources.push_back(SourceText::FromBytes(text));
    sources.push_back(SourceText::FromFile(dir.File("f.xml")));
    for (const auto& source : sources) {
        std::string line;
        bool cut = true;
        for (const auto& [number, expected] :
             std::vector<std::pair<int, std::string>>{{2, "two"}, {4, "four"}, {1, "one"}, {3, "three"}}) {
            ASSERT_TRUE(source->Line(number, line, cut)) << number;
            EXPECT_EQ(line, expected);
            EXPECT_FALSE(cut);
        }
        EXPECT_FALSE(source->Line(5, line, cut));
        EXPECT_FALSE(source->Line(0, line, cut));
    }
    const std::string ending = "a\n";  // the line after the last end does not exist
    std::string line;
    bool cut = false;
    EXPECT_FALSE(SourceText::FromBytes(ending)->Line(2, line, cut));
    const std::string huge(SourceText::kMaxLineBytes + 10, 'x');
    ASSERT_TRUE(SourceText::FromBytes(huge)->Line(1, line, cut));
    EXPECT_EQ(line.size(), SourceText::kMaxLineBytes);
    EXPECT_TRUE(cut);
    // From a column on: the characters before it are skipped, a four-byte one counting two.
    const std::string wide =
        "a\xF0\x9F\x98\x80"
        "bc\xC3\xA9"
        "d";
    ASSERT_TRUE(SourceText::FromBytes(wide)->Line(1, line, cut, 4));
    EXPECT_EQ(line,
              "bc\xC3\xA9"
              "d");
    ASSERT_TRUE(SourceText::FromBytes(wide)->Line(1, line, cut, 7));
    EXPECT_EQ(line, "d");
    ASSERT_TRUE(SourceText::FromBytes(huge)->Line(1, line, cut, SourceText::kMaxLineBytes + 5));
    EXPECT_EQ(line, "xxxxxx");
    EXPECT_FALSE(cut);
    EXPECT_FALSE(SourceText::FromFile(dir.File("absent.xml"))->Line(1, line, cut));
    EXPECT_FALSE(SourceText::FromFile(dir.path())->Line(1, line, cut));  // a folder is no text
}

TEST(ToolDiagnostics, PrinterNamesTheFileOncePerRecord) {
    TempDir dir;
    const std::string file = dir.File("d.xml");
    WriteFile(file, "<a>\n <b>\n</a>\n");
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load(file.c_str(), false));
    std::ostringstream out;
    DiagnosticPrinter printer(out, file);
    for (const XML::sError& record : Records(doc)) printer.Print(record);
    printer.Print(XML::sError(XML::E_EXCEPTION, "unable to save"));
    printer.Print(XML::sError(XML::E_ERROR, "byte '\xFF'\nsecond line\x1B[2J"));
    EXPECT_EQ(out.str(), file + ":3:3: fatal: expected end of tag 'b'\n  </a>\n    ^\n" + file +
                             ": exception: unable to save\n" + file + ": error: byte '?'?second line?[2J\n");
}
