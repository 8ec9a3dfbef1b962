// How kelxml shows records: the message without its place, the excerpt with its caret.
#include "Diagnostics.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelxml;

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

// Holding a source opens nothing for reading: a FIFO's writer, waiting in its open for the load,
// is not woken by the look and then left without a reader (its bytes lost, the load then empty).
TEST(ToolDiagnostics, HoldingAFifoLeavesItsWriterWaiting) {
    kelxml_test::TempDir root;
    const std::string fifo = root.File("doc.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);  // waits for a reader
        opened = true;
        if (fd >= 0) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the writer waits in its open
    HoldSource(fifo);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(opened);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // lets the writer go
    writer.join();
    ::close(reader);
}

// The excerpt reads the file held open before the load: a FIFO or a link to a secret put in its
// place afterwards is neither waited on (the child would run out of time) nor read.
TEST(ToolDiagnostics, ExcerptReadsTheFileHeldBeforeTheLoad) {
    kelxml_test::TempDir root;
    const std::string file = root.File("doc.xml"), secret = root.File("secret");
    kelxml_test::WriteFile(secret, "one\nSECRET-LINE\n");
    for (const std::string swap : {"fifo", "link"}) {
        kelxml_test::WriteFile(file, "<r>\n<a></b>\n</r>\n");
        const std::string shown = kelxml_test::RunInChild(
            [&] {
                HoldSource(file);
                const bool swapped = std::rename(file.c_str(), (file + ".old").c_str()) == 0 &&
                                     (swap == "fifo" ? ::mkfifo(file.c_str(), 0600)
                                                     : ::symlink(secret.c_str(), file.c_str())) == 0;
                std::ostringstream out;
                DiagnosticPrinter(out, file).Print({XML::E_FATAL_ERROR, "bad", 2, 6, file});
                return swapped ? out.str() : std::string("not swapped");
            },
            10);
        EXPECT_NE(shown.find("  <a></b>\n"), std::string::npos) << swap << ": " << shown;
        EXPECT_EQ(shown.find("SECRET"), std::string::npos) << swap;
        std::remove(file.c_str());
    }
}
