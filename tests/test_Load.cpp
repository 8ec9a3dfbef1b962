// Loading: what the edges of the API show. Load outcomes, record lists and one object loading
// after another are rows of data/load_options.tsv.
#include "TestSupport.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

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

// A pipe whose write end this test holds, named /dev/fd/N for the load; text is written by a
// thread after delay (a reader that stops early gives it EPIPE, not a signal).
class HeldPipe {
public:
    HeldPipe(std::string text, std::chrono::milliseconds delay) {
        if (::pipe(m_fds) != 0) m_fds[0] = m_fds[1] = -1;
        m_writer = std::thread([this, text = std::move(text), delay] {
            sigset_t broken;
            sigemptyset(&broken);
            sigaddset(&broken, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &broken, nullptr);
            std::this_thread::sleep_for(delay);
            for (std::size_t done = 0; done < text.size();) {
                const ssize_t n = ::write(m_fds[1], text.data() + done, text.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(m_fds[1]);
        });
    }
    ~HeldPipe() {
        ::close(m_fds[0]);  // a writer still writing gets EPIPE
        m_writer.join();
    }
    HeldPipe(const HeldPipe&) = delete;
    HeldPipe& operator=(const HeldPipe&) = delete;
    std::string Name() const { return "/dev/fd/" + std::to_string(m_fds[0]); }

private:
    int m_fds[2] = {-1, -1};
    std::thread m_writer;
};

}  // namespace

// A name is opened once, without blocking; what it is then decides: a pipe is read as it comes
// while a writer holds it, a FIFO nobody writes to reads as ended at once (a trap in a shared
// folder cannot block a load), a folder is not opened.
TEST(Load, PipeIsReadWhileAWriterHoldsItAndNeverWaitedForOtherwise) {
    XML::CKelXML doc;
    {
        const HeldPipe pipe("<a>late</a>", std::chrono::milliseconds(200));
        ASSERT_TRUE(doc.Load(pipe.Name().c_str(), false)) << Records(doc).size();
    }
    EXPECT_EQ(XML::XStr::ToLocal(doc.GetDocument()->getDocumentElement()->getTextContent()), "late");
    TempDir dir;
    const std::string fifo = dir.File("fifo.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(doc.Load(fifo.c_str(), false));
    EXPECT_EQ(Records(doc).size(), 1u);
    EXPECT_FALSE(doc.Load(dir.path().c_str(), false));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_NE(Records(doc)[0].strMessage.find("unable to open"), std::string::npos) << Records(doc)[0].strMessage;
    EXPECT_EQ(doc.GetDocument(), nullptr);
}

// A pipe's DTD is judged before the parse as a file's is, from what was read up to its end.
TEST(Load, PipedDtdIsJudgedBeforeTheParse) {
    std::string names = "x";
    for (int i = 0; i < 20000; ++i) names += "|v" + std::to_string(i);
    XML::CKelXML doc;
    {
        const HeldPipe pipe("<!DOCTYPE r [<!ELEMENT r EMPTY><!ATTLIST r a (" + names + ") #IMPLIED>]><r a='x'/>",
                            std::chrono::milliseconds(0));
        EXPECT_FALSE(doc.Load(pipe.Name().c_str(), true));
    }
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_NE(Records(doc)[0].strMessage.find("enumerated attribute types in the DTD need more than"),
              std::string::npos)
        << Records(doc)[0].strMessage;
}
