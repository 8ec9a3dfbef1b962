// Loading: what the edges of the API show. Load outcomes, record lists and one object loading
// after another are rows of data/load_options.tsv.
#include "TestSupport.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelxml_test;

TEST(Load, MissingFileIsAFatalRecordWithoutDocument) {
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load("/nonexistent/dir/file.xml", false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
    EXPECT_EQ(Verdict(doc, false, "2:/nonexistent/dir/file.xml", ""), "ok");
    EXPECT_EQ(Verdict(doc, LoadText(doc, "<a>ok</a>"), "ok", "ok"), "ok");
}

TEST(Load, NullArgumentsGiveOneRecord) {
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, "<a/>"));
    EXPECT_FALSE(doc.Load(static_cast<const char*>(nullptr), false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
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

namespace {

// Writes text into the FIFO pipe once a reader opens it, after delay; gives up after 5 s without
// one (rather than hang the test when the load never opened it) and when the reader goes.
std::thread WriteLater(const std::string& pipe, std::string text, std::chrono::milliseconds delay) {
    return std::thread([pipe, text = std::move(text), delay] {
        sigset_t broken;
        sigemptyset(&broken);
        sigaddset(&broken, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &broken, nullptr);  // a reader that stops early: EPIPE, not a signal
        std::this_thread::sleep_for(delay);
        for (int tries = 0; tries < 500; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) continue;
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            for (std::size_t done = 0; done < text.size();) {
                const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fd);
            return;
        }
    });
}

}  // namespace

// A name is opened once, without blocking; what it is then decides: a FIFO is the caller's
// stream, read once its writer comes; a folder is not opened.
TEST(Load, NamedPipeWaitsForItsWriterAndAFolderIsRefused) {
    TempDir dir;
    const std::string pipe = dir.File("pipe.xml");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::thread writer = WriteLater(pipe, "<a>late</a>", std::chrono::milliseconds(200));
    XML::CKelXML doc;
    const bool loaded = doc.Load(pipe.c_str(), false);
    writer.join();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(XML::XStr::ToLocal(doc.GetDocument()->getDocumentElement()->getTextContent()), "late");
    EXPECT_FALSE(doc.Load(dir.path().c_str(), false));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_NE(Records(doc)[0].strMessage.find("unable to open"), std::string::npos) << Records(doc)[0].strMessage;
    EXPECT_EQ(doc.GetDocument(), nullptr);
}

// A pipe's DTD is judged before the parse as a file's is, from what was read up to its end.
TEST(Load, PipedDtdIsJudgedBeforeTheParse) {
    TempDir dir;
    const std::string pipe = dir.File("pipe.xml");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string names = "x";
    for (int i = 0; i < 20000; ++i) names += "|v" + std::to_string(i);
    const std::string text = "<!DOCTYPE r [<!ELEMENT r EMPTY><!ATTLIST r a (" + names + ") #IMPLIED>]><r a='x'/>";
    std::thread writer = WriteLater(pipe, text, std::chrono::milliseconds(0));
    XML::CKelXML doc;
    const bool loaded = doc.Load(pipe.c_str(), true);
    writer.join();
    EXPECT_FALSE(loaded);
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_NE(Records(doc)[0].strMessage.find("enumerated attribute types in the DTD need more than"),
              std::string::npos)
        << Records(doc)[0].strMessage;
}
