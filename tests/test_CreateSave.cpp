// Creating documents, saving them (pretty, canonical, atomically), and the object's ownership.
#include "TestSupport.h"

#include "XML/internal/Messages.h"

#include <xercesc/framework/LocalFileFormatTarget.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelxml_test;
using namespace xercesc;

namespace {

// What the serializer writes for a file target, as a plain Xerces program would do it.
std::string RawSerialise(const DOMNode* node, bool canonical, const std::string& path) {
    DOMImplementation* impl = node->getOwnerDocument() ? node->getOwnerDocument()->getImplementation()
                                                       : static_cast<const DOMDocument*>(node)->getImplementation();
    DOMLSSerializer* serializer = impl->createLSSerializer();
    DOMConfiguration* config = serializer->getDomConfig();
    const auto set = [config](const XMLCh* name, bool value) {
        if (config->canSetParameter(name, value)) config->setParameter(name, value);
    };
    if (canonical) {
        set(XMLUni::fgDOMWRTCanonicalForm, true);
    } else {
        set(XMLUni::fgDOMWRTFormatPrettyPrint, true);
        set(XMLUni::fgDOMWRTWhitespaceInElementContent, false);
    }
    {
        LocalFileFormatTarget target(path.c_str());
        DOMLSOutput* output = impl->createLSOutput();
        output->setByteStream(&target);
        serializer->write(node, output);
        output->release();
    }
    serializer->release();
    return ReadFile(path);
}

const char kRich[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<!-- head -->\n<config version='2'><name q='a &quot;b&quot; &amp; c'>caf\xC3\xA9</name>"
    "<list><item id='1'/><item id='2'>two<![CDATA[<raw>]]></item></list></config>\n";

}  // namespace

TEST(Save, WithoutDocumentRecordsAndWritesNothing) {
    TempDir dir;
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Save(dir.File("none.xml").c_str(), false));
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eType, XML::E_MISSING);
    EXPECT_EQ(records[0].strMessage, "DOMDOCUMENT undefined");
    EXPECT_TRUE(dir.List().empty());
}

TEST(CreateDoc, RoundTripThroughSaveAndLoad) {
    TempDir dir;
    const std::string file = dir.File("new.xml");
    XML::CKelXML doc;
    ASSERT_FALSE(LoadText(doc, "<a>"));  // leaves records that CreateDoc must drop
    ASSERT_TRUE(doc.CreateDoc("settings"));
    EXPECT_TRUE(Records(doc).empty());
    ASSERT_TRUE(doc.Save(file.c_str(), false));
    EXPECT_EQ(ReadFile(file), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n<settings/>\n");
    XML::CKelXML back;
    ASSERT_TRUE(back.Load(file.c_str(), false));
    const DOMElement* root = back.GetDocument()->getDocumentElement();
    EXPECT_EQ(XML::XStr::ToLocal(root->getNodeName()), "settings");
    EXPECT_EQ(root->getFirstChild(), nullptr);
}

TEST(CreateDoc, InvalidOrMissingNameLeavesNoDocument) {
    for (const char* name : {"1bad", "", "a b", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(name ? name : "(null)");
        XML::CKelXML doc;
        ASSERT_TRUE(doc.CreateDoc("first"));
        EXPECT_FALSE(doc.CreateDoc(name));
        EXPECT_EQ(doc.GetDocument(), nullptr);
        const auto records = Records(doc);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].eType, name ? XML::E_EXCEPTION : XML::E_MISSING);
        EXPECT_FALSE(records[0].strMessage.empty());
    }
}

TEST(CreateDoc, ReplacedDocumentsAreReleased) {
    // Run under the leak checker: every replaced document must be given back.
    XML::CKelXML doc;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.CreateDoc("r"));
    ASSERT_TRUE(LoadText(doc, "<loaded/>"));
    ASSERT_TRUE(doc.CreateDoc("again"));
}

// Canonical form is the serializer's defaults, byte for byte; pretty form indents by two spaces,
// one line per element of element-only content, without blank lines.
TEST(Save, CanonicalIsTheSerializerDefaultsAndPrettyIndents) {
    TempDir dir;
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, kRich));
    const DOMElement* list = static_cast<DOMElement*>(doc.GetDocument()->getDocumentElement()->getLastChild());
    struct Case {
        const char* name;
        const DOMNode* node;
        bool canonical;
        const char* expected;  // null: what the serializer writes
    };
    const Case cases[] = {
        {"pretty", doc.GetDocument(), false,
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n<!-- head -->\n<config version=\"2\">\n"
         "  <name q=\"a &quot;b&quot; &amp; c\">caf\xC3\xA9</name>\n  <list>\n    <item id=\"1\"/>\n"
         "    <item id=\"2\">two<![CDATA[<raw>]]></item>\n  </list>\n</config>\n"},
        {"canonical", doc.GetDocument(), true, nullptr},
        {"element", list, false, "<list>\n  <item id=\"1\"/>\n  <item id=\"2\">two<![CDATA[<raw>]]></item>\n</list>"},
        {"element-canonical", list, true, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mine = dir.File(std::string(c.name) + ".xml");
        ASSERT_TRUE(doc.Save(mine.c_str(), c.node, c.canonical));
        const std::string expected = c.expected
                                         ? c.expected
                                         : RawSerialise(c.node, c.canonical, dir.File(std::string(c.name) + ".raw"));
        EXPECT_EQ(ReadFile(mine), expected);
    }
    EXPECT_TRUE(Records(doc).empty());
}

TEST(Save, FailuresAreRecordedNotThrown) {
    TempDir dir;
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("r"));
    const std::string paths[] = {dir.File("missing/dir/out.xml"), "/dev/full", dir.path()};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(doc.Save(path.c_str(), false));
        const auto records = Records(doc);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back().eType, XML::E_EXCEPTION);
        EXPECT_NE(records.back().strMessage.find(path), std::string::npos) << records.back().strMessage;
    }
    EXPECT_FALSE(doc.Save(nullptr, false));
    EXPECT_FALSE(doc.Save(dir.File("x.xml").c_str(), nullptr, false));
    EXPECT_EQ(Records(doc).back().eType, XML::E_MISSING);
    EXPECT_TRUE(dir.List().empty());  // no temporary file left behind
}

TEST(Save, ReplacesAtomicallyKeepingModeAndLinks) {
    TempDir dir;
    const std::string target = dir.File("target.xml");
    const std::string link = dir.File("link.xml");
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("target.xml", link.c_str()), 0);
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("fresh"));
    ASSERT_TRUE(doc.Save(link.c_str(), false));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(ReadFile(target).find("<fresh/>"), std::string::npos);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"link.xml", "target.xml"}));
}

TEST(Save, DiskFullHalfWayKeepsTheOldFile) {
    TempDir dir;
    const std::string target = dir.File("big.xml");
    const std::string previous = "<previous/>\n";
    WriteFile(target, previous);
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("big"));
    DOMElement* root = doc.GetDocument()->getDocumentElement();
    const XML::XStr text(std::string(200000, 'x').c_str());
    root->setTextContent(text.unicodeForm());
    // A child process with a small file-size limit: its writes fail with EFBIG.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool saved = doc.Save(target.c_str(), false);
        const auto records = Records(doc);
        const bool recorded = !records.empty() && records.back().eType == XML::E_EXCEPTION;
        ::_exit(!saved && recorded ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(target), previous);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"big.xml"});
}

TEST(CKelXML, MovesTransferEverything) {
    XML::CKelXML source;
    ASSERT_TRUE(source.CreateDoc("moved"));
    DOMDocument* document = source.GetDocument();
    XML::CKelXML target(std::move(source));
    EXPECT_EQ(target.GetDocument(), document);
    EXPECT_EQ(source.GetDocument(), nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(source.GetErrors(), nullptr);    // NOLINT(bugprone-use-after-move)

    XML::CKelXML other;
    ASSERT_TRUE(LoadText(other, "<loaded/>"));
    other = std::move(target);  // the loaded document is released, the created one taken over
    EXPECT_EQ(other.GetDocument(), document);
    EXPECT_TRUE(other.Save("/dev/null", false));
    static_assert(!std::is_copy_constructible_v<XML::CKelXML>);
    static_assert(!std::is_copy_assignable_v<XML::CKelXML>);
}

TEST(CKelXML, NewObjectHasNothing) {
    const XML::CKelXML doc;
    EXPECT_EQ(doc.GetDocument(), nullptr);
    EXPECT_EQ(doc.GetErrors(), nullptr);
}

// Only regular files are replaced, and only /dev/null and the process's own streams are written
// in place: a FIFO, even one of the saving user's own, is refused at once, with or without a reader.
TEST(Save, NonRegularTargetsAreRefused) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("piped"));
    // Without a reader, opening the pipe would block: in a child, bounded.
    EXPECT_EQ(RunInChild([&] { return std::string(doc.Save(fifo.c_str(), false) ? "saved" : "refused"); }, 10),
              "refused");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(doc.Save(fifo.c_str(), true));
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "something was written into the pipe";
    ::close(reader);
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u) << Dump(doc);
    EXPECT_EQ(records[0].strMessage,
              "unable to save '" + fifo + "': refused '" + fifo + "': " + XML::internal::msg::kNotRegularFile);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"pipe"});  // still the pipe, nothing beside it
    EXPECT_TRUE(doc.Save("/dev/null", false));
}

TEST(Save, OwnStreamPathsWriteWhereTheStreamStands) {
    // A redirected stdout is a regular file: replacing it, or writing it from offset 0, would
    // destroy what the program had already written there.
    TempDir dir;
    const std::string log = dir.File("log.txt");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "before\n", 7), 7);
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("streamed"));
    EXPECT_TRUE(doc.Save(("/dev/fd/" + std::to_string(fd)).c_str(), false));
    EXPECT_TRUE(doc.Save(("/proc/self/fd/" + std::to_string(fd)).c_str(), true));
    ::close(fd);
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.rfind("before\n<?xml", 0), 0u) << text;
    EXPECT_NE(text.find("<streamed/>", text.find("<streamed/>") + 1), std::string::npos) << text;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"log.txt"});
}

// Before the library starts, and for an object that outlives its stop: a record, never a crash.
TEST(LibraryStart, OperationsOutsideARunAreRefused) {
    const std::string outcome = RunInChild(
        [] {
            XML::CKelXML::TerminateXmlAPI();  // the test program's own start
            XML::CKelXML before;
            if (before.LoadFromMemory("<a/>") || before.CreateDoc("a") || XML::CKelXML::IsXmlAPIStarted())
                return std::string("ran without the library");
            if (Dump(before).find("not started") == std::string::npos) return "no record: " + Dump(before);
            XML::CKelXML outlives;
            {
                const XML::CXmlLibrary library;
                if (!library.IsStarted() || !outlives.LoadFromMemory("<a><b/></a>")) return std::string("no load");
            }
            if (outlives.GetRootNode("a") || outlives.Save("/dev/null", false)) return std::string("used after stop");
            const XML::CXmlLibrary again;
            return outlives.LoadFromMemory("<c/>") && outlives.GetRootNode("c") ? std::string("ok")
                                                                                : "not usable again: " + Dump(outlives);
        },
        30);
    EXPECT_EQ(outcome, "ok");
}
