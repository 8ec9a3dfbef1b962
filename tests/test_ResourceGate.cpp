// ResourceGate: what a load reads besides its document, and that nothing reaches the network.
// The rows are in data/resources.tsv; each load runs in a child process bounded in time and
// memory, so that a blocked read or an unbounded one fails its row.
#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
                                                          : doc.Load(static_cast<const void*>(text.data()),
                                                                     static_cast<unsigned int>(text.size()), options);
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
