// ResourceGate: what a load reads besides its document, and that nothing reaches the network.
// The rows are in data/resources.tsv; each load runs in a child process bounded in time and
// memory, so that a blocked read or an unbounded one fails its row.
#include "TestSupport.h"

#include <XML/XStr.h>

#include <xercesc/dom/DOM.hpp>

#include <csignal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelxml_test;

namespace {

constexpr const char* kSecret = "CANARY-7f3a";

// A TCP socket listening on 127.0.0.1 that never answers: a connection waits in its backlog,
// where Connections() finds it (and a client waiting for an answer runs out of time).
class Listener {
public:
    Listener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* const any = reinterpret_cast<sockaddr*>(&address);
        if (::bind(m_fd, any, length) != 0 || ::listen(m_fd, 512) != 0 || ::getsockname(m_fd, any, &length) != 0)
            throw std::runtime_error("no listener");
        hostPort = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~Listener() { ::close(m_fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int Connections() const {
        int count = 0;
        for (int client; (client = ::accept(m_fd, nullptr, nullptr)) >= 0; ++count) ::close(client);
        return count;
    }
    std::string hostPort;

private:
    const int m_fd;
};

class ResourceGate : public ::testing::Test {
protected:
    // The parser's network client honours proxy variables: a proxy would hide a connection.
    static void SetUpTestSuite() {
        for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "FTP_PROXY", "ALL_PROXY"})
            ::unsetenv(name);
    }
    void SetUp() override {
        WriteFile(m_root.File("secret.txt"), kSecret);
        ASSERT_EQ(::mkdir(m_root.File("doc").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
        WriteFile(Path("inside.ent"), "inside-text");
        WriteFile(Path("big.ent"), std::string(3 << 20, 'x'));
        ASSERT_EQ(::symlink(m_root.File("secret.txt").c_str(), Path("link.ent").c_str()), 0);
        ASSERT_EQ(::symlink("inside.ent", Path("near.ent").c_str()), 0);
        // chainN: N links to inside.ent, as many as the kernel follows at N = 40
        for (int n = 1; n <= 41; ++n)
            ASSERT_EQ(::symlink(n == 1 ? "inside.ent" : ("chain" + std::to_string(n - 1)).c_str(),
                                Path("chain" + std::to_string(n)).c_str()),
                      0);
        ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    }
    void TearDown() override { EXPECT_EQ(m_listener.Connections(), 0); }
    std::string Path(const std::string& name) const { return m_root.File("doc/" + name); }
    TempDir m_root;  // the secret, and the document's folder doc/
    Listener m_listener;
};

TEST_F(ResourceGate, Table) {
    XML::sLimits limits;
    limits.maxExternalBytes = 1 << 20;
    limits.maxDiagnostics = 1000;
    limits.maxDistinctNames = 5000;
    const std::string file = Path("doc.xml");
    for (const auto& row : Table(KELXML_TEST_DATA "/resources.tsv")) {
        std::string all;
        for (const std::string& field : row) all += field;
        const std::vector<std::string> schemes = {"http", "https", "ftp", "HTTP", "file"};
        for (std::size_t s = 0; s < (all.find("{U}") != std::string::npos ? schemes.size() : 1); ++s) {
            const auto fill = [&](const std::string& text) {
                return Replace(Replace(Replace(Replace(text, "{U}", schemes[s] + "://" + m_listener.hostPort), "{H}",
                                               m_listener.hostPort),
                                       "{D}", m_root.File("doc")),
                               "{S}", m_root.File("secret.txt"));
            };
            if (row[0] == "file") {
                WriteFile(Path(row[1]), fill(row[2]));
                continue;
            }
            if (row[0] == "run") {  // a shell command preparing the folder as another user might
                ASSERT_EQ(std::system(fill(row[1]).c_str()), 0) << row[1];
                continue;
            }
            for (std::size_t i = 7; i < row.size(); ++i)
                WriteFile(Path(row[i].substr(0, row[i].find('='))), fill(row[i].substr(row[i].find('=') + 1)));
            const std::string text = fill(row[6]), holds = row[5] == "-" ? "" : row[5];
            WriteFile(file, text);
            XML::sLoadOptions options;
            options.eMode = static_cast<XML::E_LOAD_MODE>(std::stoi(row[2]));
            options.eResources = static_cast<XML::E_RESOURCE_ACCESS>(std::stoi(row[3]));
            for (const char form : row[1]) {
                SCOPED_TRACE(row[0] + ", " + schemes[s] + ", form " + form);
                options.strBaseURI = form == 'm' ? file : "";
                const std::string outcome = RunInChild(
                    [&] {
                        XML::CKelXML doc;
                        doc.SetLimits(limits);
                        unsigned long count = 0;
                        const bool loaded = form == 'f'   ? doc.Load(file.c_str(), options)
                                            : form == 's' ? doc.GetNbElementsInFile(file.c_str(), options, "*", count)
                                                          : doc.LoadFromMemory(text, options);
                        const std::string seen = Dump(doc) +
                                                 (doc.GetDocument() ? InformationOf(doc.GetDocument(), false) : "");
                        if (holds != kSecret && seen.find(kSecret) != std::string::npos) return "read: " + seen;
                        return Verdict(doc, loaded, fill(row[4]), holds);
                    },
                    30, std::size_t{256} << 20);
                EXPECT_EQ(outcome, "ok");
            }
        }
    }
}

// A file name that is a network URL is refused as well; a file: URL names a local file.
TEST_F(ResourceGate, NetworkUrlAsFileNameIsRefused) {
    for (const char* scheme : {"http", "https", "ftp"}) {
        const std::string url = std::string(scheme) + "://" + m_listener.hostPort + "/doc.xml";
        XML::CKelXML doc;
        EXPECT_EQ(Verdict(doc, doc.Load(url.c_str(), false), "3:" + url, ""), "ok");
        EXPECT_EQ(doc.GetDocument(), nullptr);
    }
    WriteFile(Path("doc.xml"), "<r/>");
    XML::CKelXML doc;
    EXPECT_TRUE(doc.Load(("file://" + Path("doc.xml")).c_str(), false)) << Dump(doc);
}

}  // namespace

// The document is opened once, by its name's own bytes: the kept subset and the token-list values
// (a tab written as a reference stays a tab) come from that descriptor, and a name that is not
// UTF-8 never becomes its neighbour's (inotify counts every open of either file).
TEST_F(ResourceGate, DocumentOpenedOnceByItsOwnName) {
    std::string text =
        "<!DOCTYPE r [<!ELEMENT r (e*)><!ELEMENT e EMPTY><!ATTLIST e t NMTOKENS #IMPLIED><!ENTITY c 'd'>]><r>";
    for (int i = 0; i < 300; ++i) text += "<e t='&#32;a" + std::to_string(i) + "&#9;b'/>";
    text += "</r>";
    const std::string victim = Path("report-\xff.xml"), other = Path("report-\xef\xbf\xbd.xml");
    WriteFile(victim, text);
    WriteFile(other, "<r><e t='attacker'/></r>");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const int watched[] = {::inotify_add_watch(watch, victim.c_str(), IN_OPEN),
                           ::inotify_add_watch(watch, other.c_str(), IN_OPEN)};
    XML::CKelXML xml;
    ASSERT_TRUE(xml.Load(victim.c_str(), false)) << Dump(xml);
    int opens[2] = {0, 0};
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            opens[event->wd == watched[0] ? 0 : 1] += 1;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    ::close(watch);
    EXPECT_EQ(opens[0], 1);
    EXPECT_EQ(opens[1], 0);
    const auto* last = static_cast<const xercesc::DOMElement*>(xml.GetDocument()->getDocumentElement()->getLastChild());
    EXPECT_EQ(XML::XStr::ToLocal(last->getAttribute(u"t")), "a299\tb");
    ASSERT_TRUE(xml.Save(victim.c_str(), XML::E_SAVE_AS_LOADED));
    EXPECT_NE(ReadFile(victim).find("<!ENTITY c 'd'>"), std::string::npos);
    EXPECT_EQ(ReadFile(other), "<r><e t='attacker'/></r>");
}

// A folder on the way swapped for a link out of the folder and back, by its owner (nobody), all
// through the loads: the walk from the folder's descriptor never leads out.
TEST_F(ResourceGate, FolderSwappedForALinkDuringLoads) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as nobody";
    ASSERT_EQ(::mkdir(m_root.File("outside").c_str(), 0755), 0);
    WriteFile(m_root.File("outside/x.ent"), kSecret);
    ASSERT_EQ(::mkdir(Path("sw").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(Path("sw/d").c_str(), 0755), 0);
    WriteFile(Path("sw/d/x.ent"), "inside-text");
    ASSERT_EQ(::symlink(m_root.File("outside").c_str(), Path("sw/e").c_str()), 0);
    for (const char* name : {"sw", "sw/d", "sw/e"}) ASSERT_EQ(::lchown(Path(name).c_str(), 65534, 65534), 0);
    // Held open: nobody may not pass the test's private folders above it.
    const int sw = ::open(Path("sw").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const pid_t swapper = ::fork();
    if (swapper == 0) {
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            while (::syscall(SYS_renameat2, sw, "d", sw, "e", 2 /* RENAME_EXCHANGE */) == 0) {
            }
        ::_exit(1);
    }
    ::close(sw);
    XML::sLoadOptions options;
    options.eResources = XML::E_RESOURCES_DOCUMENT_TREE;
    WriteFile(Path("doc.xml"), "<!DOCTYPE a [<!ELEMENT a ANY><!ENTITY x SYSTEM 'sw/d/x.ent'>]><a>&x;</a>");
    int inside = 0;
    for (int i = 0; i < 300; ++i) {
        XML::CKelXML xml;
        xml.Load(Path("doc.xml").c_str(), options);
        const std::string seen = Dump(xml) + (xml.GetDocument() ? InformationOf(xml.GetDocument(), false) : "");
        ASSERT_EQ(seen.find(kSecret), std::string::npos) << "load " << i << ": " << seen;
        inside += seen.find("inside-text") != std::string::npos;
    }
    int status = 0;
    EXPECT_EQ(::waitpid(swapper, &status, WNOHANG), 0) << "the swapper stopped";
    ::kill(swapper, SIGKILL);
    ::waitpid(swapper, nullptr, 0);
    EXPECT_GT(inside, 0);  // the swap leaves the folder in place part of the time
}
