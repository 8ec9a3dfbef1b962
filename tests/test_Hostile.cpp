// Hostile documents: references to the network, entity expansion, extreme nesting and sizes.
#include "TestSupport.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelxml_test;

namespace {

// A TCP listener on 127.0.0.1 that accepts, reads the request line and hangs up, so that a
// client that does connect fails at once instead of waiting. Connections() stops it and
// counts every connection, including those still waiting in the backlog.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0) throw std::runtime_error("socket failed");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_fd, 64) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(m_fd);
            throw std::runtime_error("listen failed");
        }
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Listener() {
        Stop();
        ::close(m_fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }

    int Connections() {
        Stop();
        while (AcceptOne()) {
        }
        return m_count;
    }
    std::string Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    void Run() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) AcceptOne();
        }
    }
    bool AcceptOne() {
        const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return false;
        ++m_count;
        pollfd p{client, POLLIN, 0};
        char buffer[256] = {};
        if (::poll(&p, 1, 200) > 0) {
            const ssize_t n = ::read(client, buffer, sizeof buffer - 1);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (n > 0) m_requests += std::string(buffer, static_cast<std::size_t>(n)).substr(0, 80) + "|";
        }
        ::close(client);
        return true;
    }

    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::mutex m_mutex;
    std::string m_requests;
    std::thread m_thread;
};

// Replaces every "{K}" in text by value.
std::string Fill(std::string text, const std::string& key, const std::string& value) {
    const std::string mark = "{" + key + "}";
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}

bool AnyRecordContains(const XML::CKelXML& doc, const std::string& part) {
    for (const XML::sError& record : Records(doc))
        if (record.strMessage.find(part) != std::string::npos) return true;
    return false;
}

const char kXsi[] = "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'";
const char kXs[] = "xmlns:xs='http://www.w3.org/2001/XMLSchema'";

// The network client of the parser library honours proxy variables; a proxy would take the
// connection away from the listener and hide it.
class NoProxy : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "FTP_PROXY", "ALL_PROXY"})
            ::unsetenv(name);
    }
};

using Network = NoProxy;

// Proves the listener sees what a parser without this library's resolver does: the same kind
// of document fetches its DTD.
TEST_F(Network, ListenerSeesAPlainParserFetchItsDtd) {
    if (!xercesc::XMLPlatformUtils::fgNetAccessor)
        GTEST_SKIP() << "this build of the parser library has no network client to compare with";
    Listener listener;
    const std::string text = "<!DOCTYPE r SYSTEM 'http://" + listener.HostPort() + "/evil.dtd'><r/>";
    {
        xercesc::XercesDOMParser parser;
        const xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "mem");
        try {
            parser.parse(source);
        } catch (...) {
        }
    }
    EXPECT_GE(listener.Connections(), 1);
    EXPECT_NE(listener.Requests().find("GET /evil.dtd"), std::string::npos) << listener.Requests();
}

// Every way a document can name an external resource, through every scheme that would leave
// the machine, in the file form (with and without validation) and the memory form.
TEST_F(Network, NoReferenceEverConnects) {
    struct Case {
        const char* name;
        const char* document;                                    // {U}: scheme://host:port, {D}: the folder
        std::vector<std::pair<const char*, const char*>> files;  // local files the document uses
    };
    const std::string xsi = kXsi, xs = kXs;
    const Case cases[] = {
        {"external DTD", "<!DOCTYPE r SYSTEM '{U}/a.dtd'><r/>", {}},
        {"external DTD with public id", "<!DOCTYPE r PUBLIC '-//K//DTD R//EN' '{U}/a.dtd'><r/>", {}},
        {"external general entity", "<!DOCTYPE r [<!ENTITY e SYSTEM '{U}/e.xml'>]><r>&e;</r>", {}},
        {"external parameter entity", "<!DOCTYPE r [<!ENTITY % p SYSTEM '{U}/p.ent'> %p;]><r/>", {}},
        {"entity declared by a local DTD",
         "<!DOCTYPE r SYSTEM '{D}/net.dtd'><r/>",
         {{"net.dtd", "<!ELEMENT r EMPTY><!ENTITY % p SYSTEM '{U}/p.ent'> %p;"}}},
        {"no-namespace schema", "<r {XSI} xsi:noNamespaceSchemaLocation='{U}/s.xsd'/>", {}},
        {"namespace schema", "<r xmlns='urn:k' {XSI} xsi:schemaLocation='urn:k {U}/s.xsd'/>", {}},
        {"schema include",
         "<r {XSI} xsi:noNamespaceSchemaLocation='{D}/inc.xsd'/>",
         {{"inc.xsd",
           "<xs:schema {XS}><xs:include schemaLocation='{U}/inc.xsd'/>"
           "<xs:element name='r'/></xs:schema>"}}},
        {"schema import",
         "<r {XSI} xsi:noNamespaceSchemaLocation='{D}/imp.xsd'/>",
         {{"imp.xsd",
           "<xs:schema {XS}><xs:import namespace='urn:i' schemaLocation='{U}/imp.xsd'/>"
           "<xs:element name='r'/></xs:schema>"}}},
        {"schema redefine",
         "<r {XSI} xsi:noNamespaceSchemaLocation='{D}/red.xsd'/>",
         {{"red.xsd",
           "<xs:schema {XS}><xs:redefine schemaLocation='{U}/red.xsd'/>"
           "<xs:element name='r'/></xs:schema>"}}},
        {"DTD of a schema document",
         "<r {XSI} xsi:noNamespaceSchemaLocation='{D}/dtd.xsd'/>",
         {{"dtd.xsd",
           "<!DOCTYPE xs:schema SYSTEM '{U}/XMLSchema.dtd'>"
           "<xs:schema {XS}><xs:element name='r'/></xs:schema>"}}},
    };
    int loads = 0;
    for (const char* scheme : {"http", "https", "ftp", "HTTP", "file"}) {
        for (const Case& c : cases) {
            TempDir dir;
            Listener listener;
            const std::string base = std::string(scheme) + "://" + listener.HostPort();
            const auto fill = [&](const char* text) {
                return Fill(Fill(Fill(Fill(text, "U", base), "D", dir.path()), "XSI", xsi), "XS", xs);
            };
            for (const auto& file : c.files) WriteFile(dir.File(file.first), fill(file.second));
            const std::string text = fill(c.document);
            WriteFile(dir.File("doc.xml"), text);
            // The record names the resource: its host, port and path, whatever the scheme's case.
            const std::string named = listener.HostPort() + "/";
            for (int form = 0; form < 3; ++form) {
                SCOPED_TRACE(std::string(scheme) + ", " + c.name + ", form " + std::to_string(form));
                XML::CKelXML doc;
                const bool loaded = form == 2 ? LoadText(doc, text) : doc.Load(dir.File("doc.xml").c_str(), form == 1);
                ++loads;
                EXPECT_FALSE(loaded);
                EXPECT_TRUE(AnyRecordContains(doc, named)) << Dump(doc);
            }
            EXPECT_EQ(listener.Connections(), 0) << listener.Requests();
        }
    }
    EXPECT_EQ(loads, 5 * 11 * 3);
}

// The file name given to Load is no way around it either: the parser would fetch a URL.
TEST_F(Network, FileNameThatIsANetworkUrlIsRefused) {
    Listener listener;
    for (const char* scheme : {"http", "https", "ftp"}) {
        const std::string url = std::string(scheme) + "://" + listener.HostPort() + "/doc.xml";
        for (const bool validate : {false, true}) {
            XML::CKelXML doc;
            EXPECT_FALSE(doc.Load(url.c_str(), validate));
            const auto records = Records(doc);
            ASSERT_EQ(records.size(), 1u) << Dump(doc);
            EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
            EXPECT_NE(records[0].strMessage.find(url), std::string::npos) << records[0].strMessage;
            EXPECT_EQ(doc.GetDocument(), nullptr);
        }
    }
    EXPECT_EQ(listener.Connections(), 0) << listener.Requests();
    // A file: URL still names a local file.
    TempDir dir;
    WriteFile(dir.File("doc.xml"), "<r/>");
    XML::CKelXML doc;
    EXPECT_TRUE(doc.Load(("file://" + dir.File("doc.xml")).c_str(), false)) << Dump(doc);
}

// Local grammars keep working: relative references resolve against the document that makes
// them (a DTD in a sub-folder finds its own neighbours), absolute paths and file: URLs open,
// and validation reports what it always did.
TEST_F(Network, LocalGrammarsStillResolveAndValidate) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    WriteFile(dir.File("sub/r.dtd"), "<!ENTITY % more SYSTEM 'more.ent'> %more; <!ELEMENT r (n*)>");
    WriteFile(dir.File("sub/more.ent"), "<!ELEMENT n (#PCDATA)><!ENTITY greeting SYSTEM 'greeting.xml'>");
    WriteFile(dir.File("sub/greeting.xml"), "<n>hello</n>");
    WriteFile(dir.File("sub/s.xsd"), std::string("<xs:schema ") + kXs +
                                         "><xs:include schemaLocation='types.xsd'/>"
                                         "<xs:element name='r'><xs:complexType><xs:sequence>"
                                         "<xs:element name='n' type='small' maxOccurs='unbounded'/>"
                                         "</xs:sequence></xs:complexType></xs:element></xs:schema>");
    WriteFile(dir.File("sub/types.xsd"), std::string("<xs:schema ") + kXs +
                                             "><xs:simpleType name='small'>"
                                             "<xs:restriction base='xs:int'><xs:maxInclusive value='9'/>"
                                             "</xs:restriction></xs:simpleType></xs:schema>");
    struct Case {
        const char* name;
        std::string document;
        bool loads;
        XML::E_TYPE_ERROR firstKind;
    };
    const std::string d = dir.path();
    const std::string xsi = std::string("<r ") + kXsi + " xsi:noNamespaceSchemaLocation=";
    const Case cases[] = {
        {"relative DTD, valid", "<!DOCTYPE r SYSTEM 'sub/r.dtd'><r>&greeting;<n>2</n></r>", true, XML::E_WARNING},
        {"relative DTD, invalid", "<!DOCTYPE r SYSTEM 'sub/r.dtd'><r><x/></r>", false, XML::E_ERROR},
        {"absolute DTD path", "<!DOCTYPE r SYSTEM '" + d + "/sub/r.dtd'><r>&greeting;</r>", true, XML::E_WARNING},
        {"file URL", "<!DOCTYPE r SYSTEM 'file://" + d + "/sub/r.dtd'><r/>", true, XML::E_WARNING},
        {"file URL on localhost", "<!DOCTYPE r SYSTEM 'file://localhost" + d + "/sub/r.dtd'><r/>", true,
         XML::E_WARNING},
        {"relative schema, valid", xsi + "'sub/s.xsd'><n>3</n></r>", true, XML::E_WARNING},
        {"relative schema, invalid", xsi + "'sub/s.xsd'><n>30</n></r>", false, XML::E_ERROR},
        {"absolute schema path, invalid", xsi + "'" + d + "/sub/s.xsd'><n>x</n></r>", false, XML::E_ERROR},
    };
    for (const Case& c : cases) {
        WriteFile(dir.File("doc.xml"), c.document);
        for (int form = 0; form < 3; ++form) {
            SCOPED_TRACE(std::string(c.name) + ", form " + std::to_string(form));
            XML::CKelXML doc;
            bool loaded;
            if (form == 2) {
                // The memory form resolves relative references against the base it is given.
                loaded = LoadText(doc, c.document, d + "/");
            } else {
                loaded = doc.Load(dir.File("doc.xml").c_str(), form == 1);
            }
            EXPECT_EQ(loaded, c.loads) << Dump(doc);
            const auto records = Records(doc);
            if (c.loads) {
                EXPECT_TRUE(records.empty()) << Dump(doc);
            } else {
                ASSERT_FALSE(records.empty());
                EXPECT_EQ(records[0].eType, c.firstKind) << Dump(doc);
            }
            ASSERT_NE(doc.GetDocument(), nullptr);
        }
    }
    // The entity from the DTD's own folder was really read.
    XML::CKelXML doc;
    WriteFile(dir.File("doc.xml"), cases[0].document);
    ASSERT_TRUE(doc.Load(dir.File("doc.xml").c_str(), true));
    std::string text;
    EXPECT_TRUE(XML::CKelXML::GetChildValue(doc.GetDocument()->getDocumentElement(), "n", text));
    EXPECT_EQ(text, "hello");
}

// --- Entity expansion -------------------------------------------------------------------------

// Ten levels of ten references each: 10^9 copies of "ha" if nothing stops it.
std::string Laughs(const std::string& use) {
    std::string text = "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ATTLIST r v CDATA #IMPLIED><!ENTITY a0 'ha'>";
    for (int level = 1; level < 10; ++level) {
        text += "<!ENTITY a" + std::to_string(level) + " '";
        for (int i = 0; i < 10; ++i) text += "&a" + std::to_string(level - 1) + ";";
        text += "'>";
    }
    return text + "]>" + use;
}

// Refused with one kind-3 record naming the bound, before the parser expands anything.
void ExpectRefusal(const std::string& text, const std::string& refusal) {
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, text));
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), 1u) << Dump(doc);
    EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
    EXPECT_EQ(records[0].strMessage, refusal);
}

// Ten levels of ten references: the DTD is judged before the parser reads it, and the entity
// whose output first passes 10 million characters is named.
TEST(EntityExpansion, BillionLaughsIsRefusedBeforeParsing) {
    ExpectRefusal(Laughs("<r>&a9;</r>"), "the entity 'a7' expands to more than 10000000 characters");
    ExpectRefusal(Laughs("<r v='&a9;'/>"), "the entity 'a7' expands to more than 10000000 characters");
}

// One 1 KB entity used 60,000 times: 60 MB of text from a 180 KB document. The characters the
// parser hands to the document are counted and stop it at 10 million beyond the input's size.
TEST(EntityExpansion, QuadraticBlowUpStopsAtTheCharacterBudget) {
    std::string text = "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY a '" + std::string(1024, 'x') + "'>]><r>";
    for (int i = 0; i < 60000; ++i) text += "&a;";
    ExpectRefusal(text + "</r>", "entity expansion and attribute defaults produced more than 10000000 characters");
}

// Under the limit nothing changes: entities expand as declared.
TEST(EntityExpansion, OrdinaryEntitiesExpand) {
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc,
                         "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY e 'ab'><!ENTITY f '&e;&e;'>]>"
                         "<r>&f;&amp;&#x41;</r>"))
        << Dump(doc);
    std::string text;
    EXPECT_TRUE(XML::CKelXML::GetValue(doc.GetDocument()->getDocumentElement(), text));
    EXPECT_EQ(text, "abab&A");
}

// --- Nesting and sizes ------------------------------------------------------------------------

std::string Nested(std::size_t depth) {
    std::string text;
    text.reserve(depth * 7 + 8);
    for (std::size_t i = 0; i < depth; ++i) text += "<a>";
    text += "leaf";
    for (std::size_t i = 0; i < depth; ++i) text += "</a>";
    return text;
}

// The parser's namespace lookup walks every open element, so depth is bounded: a document at
// the bound loads and reads, one level more is refused at once, with a record, whatever its size.
TEST(Nesting, DepthIsBoundedWithARecord) {
    const std::size_t limit = 1000;
    {
        XML::CKelXML doc;
        ASSERT_TRUE(LoadText(doc, Nested(limit))) << Dump(doc);
        unsigned count = 0;
        EXPECT_TRUE(XML::CKelXML::GetNbChildInNode(doc.GetDocument()->getDocumentElement(), "a", count));
        EXPECT_EQ(count, limit - 1);
        std::string text;
        EXPECT_TRUE(XML::CKelXML::GetValue(doc.GetDocument()->getDocumentElement(), text));
        EXPECT_EQ(text, "leaf");
        TempDir dir;
        EXPECT_TRUE(doc.Save(dir.File("deep.xml").c_str(), false));
        XML::CKelXML again;
        EXPECT_TRUE(again.Load(dir.File("deep.xml").c_str(), false)) << Dump(again);
    }
    for (const std::size_t depth : {limit + 1, std::size_t{300000}}) {
        SCOPED_TRACE(depth);
        XML::CKelXML doc;
        EXPECT_FALSE(LoadText(doc, Nested(depth)));
        const auto records = Records(doc);
        ASSERT_EQ(records.size(), 1u) << Dump(doc);
        EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
        EXPECT_EQ(records[0].strMessage, "elements nested deeper than 1000 levels");
        // The object stays usable.
        EXPECT_TRUE(LoadText(doc, "<r/>"));
    }
    // Empty elements do not count as open ones.
    std::string wide = "<r>";
    for (int i = 0; i < 5000; ++i) wide += "<e/>";
    XML::CKelXML doc;
    EXPECT_TRUE(LoadText(doc, wide + "</r>")) << Dump(doc);
}

// The DOM checks each new attribute against all earlier ones: their cost is bounded, not their
// count. Each prefix lookup reads every namespace declaration in scope: bounded like depth,
// and only what is in scope counts (siblings' declarations do not add up).
TEST(Nesting, AttributesAndNamespaceDeclarationsAreBounded) {
    const auto attributes = [](int count, const char* pattern) {
        std::string text;
        char one[64];
        for (int i = 0; i < count; ++i) {
            std::snprintf(one, sizeof one, pattern, i, i);
            text += one;
        }
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
        const char* refusal;  // null: loads
    };
    std::string nestedDeclarations, tooManyNested;
    for (int i = 0; i < 500; ++i) nestedDeclarations += "<e" + attributes(2, " xmlns:p%d='urn:%d'") + ">";
    tooManyNested = nestedDeclarations + "<e xmlns='urn:one-more'/>";
    for (int i = 0; i < 500; ++i) {
        nestedDeclarations += "</e>";
        tooManyNested += "</e>";
    }
    std::string siblings = "<r>";
    for (int i = 0; i < 1200; ++i) siblings += "<p:e xmlns:p='urn:p' xmlns='urn:d'/>";
    const Case cases[] = {
        {"1001 attributes", "<r" + attributes(1001, " a%d='%d'") + "/>", nullptr},
        {"14,000 attributes", "<r" + attributes(14000, " a%d='%d'") + "/>", nullptr},
        {"20,000 attributes", "<r" + attributes(20000, " a%d='%d'") + "/>",
         "an element with 20000 attributes: past the attribute cost bound of 100000000 comparisons"},
        {"1000 declarations on one element", "<r" + attributes(1000, " xmlns:p%d='urn:%d'") + "/>", nullptr},
        {"1000 declarations over 500 levels", nestedDeclarations, nullptr},
        {"1001 declarations in scope", tooManyNested, "more than 1000 namespace declarations in scope"},
        {"1200 siblings declaring twice each", siblings + "</r>", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_EQ(LoadText(doc, c.text), c.refusal == nullptr) << Dump(doc);
        if (c.refusal) {
            const auto records = Records(doc);
            ASSERT_EQ(records.size(), 1u) << Dump(doc);
            EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
            EXPECT_EQ(records[0].strMessage, c.refusal);
        }
    }
}

// DTD content models are judged before the validator compiles them: it recurses once per
// level, and builds an automaton exponential in the size of a model that is not deterministic.
TEST(Nesting, ContentModelsAreBounded) {
    const auto dtd = [](const std::string& model, const std::string& content) {
        return "<!DOCTYPE r [<!ELEMENT r " + model + "><!ELEMENT a EMPTY><!ELEMENT b EMPTY><!ELEMENT c EMPTY>]><r>" +
               content + "</r>";
    };
    std::string nested, ambiguous = "((a|b)*,a", deterministic = "(c";
    for (int i = 0; i < 20000; ++i) nested += "(";
    nested += "a";
    for (int i = 0; i < 20000; ++i) nested += ",a)";
    for (int i = 0; i < 20; ++i) ambiguous += ",(a|b)";  // 2^20 states once compiled
    ambiguous += ")";
    std::string thirty;
    for (int i = 0; i < 30; ++i) {
        deterministic += ",(a|b)";
        thirty += i % 2 ? "<a/>" : "<b/>";
    }
    deterministic += ")";
    struct Case {
        const char* name;
        std::string text;
        bool loads;
        const char* refusal;  // the only record, or null
    };
    const Case cases[] = {
        {"model nested 20,000 levels", dtd(nested, "<a/>"), false,
         "the content model of element 'r' is nested deeper than 1000 levels"},
        {"ambiguous model of 43 particles", dtd(ambiguous, ""), false,
         "the content model of element 'r' is not deterministic and has more than 16 particles"},
        {"deterministic model of 61 particles, valid", dtd(deterministic, "<c/>" + thirty), true, nullptr},
        {"small ambiguous model, as before", dtd("((a,b)|(a,c))", "<a/><c/>"), true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::CKelXML doc;
        EXPECT_EQ(LoadText(doc, c.text), c.loads) << Dump(doc);
        if (c.refusal) {
            const auto records = Records(doc);
            ASSERT_EQ(records.size(), 1u) << Dump(doc);
            EXPECT_EQ(records[0].eType, XML::E_EXCEPTION);
            EXPECT_EQ(records[0].strMessage, c.refusal);
        }
    }
    // A deterministic model still validates.
    XML::CKelXML doc;
    EXPECT_FALSE(LoadText(doc, dtd(deterministic, "<a/><c/>")));
    ASSERT_FALSE(Records(doc).empty());
    EXPECT_EQ(Records(doc)[0].eType, XML::E_ERROR) << Dump(doc);
}

// Save refuses what Load would refuse, counting from the node it is given, so that what it
// writes loads again.
TEST(Nesting, SaveRefusesATreeDeeperThanTheBound) {
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("root"));
    xercesc::DOMDocument* dom = doc.GetDocument();
    const XML::XStr name("d"), text("x");
    // Built bottom up, as a detached chain: appending costs nothing per level.
    xercesc::DOMElement* top = dom->createElement(name.unicodeForm());
    top->appendChild(dom->createTextNode(text.unicodeForm()));
    xercesc::DOMElement* shallow = nullptr;
    for (int level = 1; level < 300000; ++level) {
        xercesc::DOMElement* parent = dom->createElement(name.unicodeForm());
        parent->appendChild(top);
        top = parent;
        if (level == 998) shallow = top;  // 999 levels of elements from here down
    }
    xercesc::DOMElement* root = dom->getDocumentElement();
    root->appendChild(dom->createElement(name.unicodeForm()));  // a shallow sibling first
    root->appendChild(top);
    TempDir dir;
    for (const bool canonical : {false, true}) {
        EXPECT_FALSE(doc.Save(dir.File("deep.xml").c_str(), canonical));
        EXPECT_EQ(Records(doc).back().eType, XML::E_EXCEPTION);
        EXPECT_EQ(Records(doc).back().strMessage, "elements nested deeper than 1000 levels cannot be saved");
    }
    EXPECT_TRUE(dir.List().empty());
    ASSERT_TRUE(doc.Save(dir.File("part.xml").c_str(), shallow, false)) << Dump(doc);
    XML::CKelXML part;
    EXPECT_TRUE(part.Load(dir.File("part.xml").c_str(), false)) << Dump(part);
    // One more level above it, 1000 in all, still saves.
    ASSERT_TRUE(doc.Save(dir.File("part.xml").c_str(), shallow->getParentNode(), true)) << Dump(doc);
    EXPECT_TRUE(part.Load(dir.File("part.xml").c_str(), false)) << Dump(part);
    EXPECT_FALSE(doc.Save(dir.File("part.xml").c_str(), shallow->getParentNode()->getParentNode(), true));
}

// Names and values far beyond anything ordinary load, read back whole and save.
TEST(Sizes, VeryLongNamesAndValues) {
    const std::string name = "n" + std::string(256 << 10, 'x');  // 256 KiB element and attribute name
    const std::string value(4 << 20, 'v');                       // 4 MiB attribute value and text
    const std::string text = "<r><" + name + " " + name + "='" + value + "'>" + value + "</" + name + "><!--" + value +
                             "--><?" + name + " " + value + "?></r>";
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, text)) << Dump(doc).substr(0, 500);
    xercesc::DOMNode* element = XML::CKelXML::GetNode(doc.GetDocument()->getDocumentElement(), name.c_str());
    ASSERT_NE(element, nullptr);
    std::string read;
    EXPECT_TRUE(XML::CKelXML::GetAttributeValue(element, name.c_str(), read));
    EXPECT_EQ(read.size(), value.size());
    EXPECT_EQ(read, value);
    read.clear();
    EXPECT_TRUE(XML::CKelXML::GetValue(element, read));
    EXPECT_EQ(read, value);
    TempDir dir;
    ASSERT_TRUE(doc.Save(dir.File("big.xml").c_str(), true));
    XML::CKelXML again;
    ASSERT_TRUE(again.Load(dir.File("big.xml").c_str(), false)) << Dump(again).substr(0, 500);
    read.clear();
    EXPECT_TRUE(XML::CKelXML::GetValue(again.GetDocument()->getDocumentElement(), read));
    EXPECT_EQ(read, value);
}

#if defined(__SANITIZE_ADDRESS__)
#define KELXML_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELXML_UNDER_ASAN 1
#endif
#endif

// A 1 GiB text node in a process allowed 512 MiB beyond the document itself: the allocation
// fails inside the parser, and Load reports it instead of crashing. Run in a child process so
// that the address-space limit touches nothing else.
TEST(Sizes, GibibyteTextNodeOutOfMemoryIsAFailedLoad) {
#ifdef KELXML_UNDER_ASAN
    GTEST_SKIP() << "the address sanitizer reserves terabytes of address space: no RLIMIT_AS under it";
#else
    constexpr std::size_t kText = std::size_t{1} << 30;
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        const auto report = [&](const std::string& line) {
            if (::write(channel[1], line.data(), line.size()) < 0) _exit(5);
            _exit(0);
        };
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        if (pages <= 0) report("no /proc/self/statm");
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + kText +
                             (rlim_t{512} << 20);
        const rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_AS, &rl) != 0) report("setrlimit failed");
        std::string text;
        try {
            text.reserve(kText + 8);
            text = "<r>";
            text.append(kText, 'x');
            text += "</r>";
        } catch (...) {
            report("no room for the document itself");
        }
        std::string outcome;
        {
            XML::CKelXML doc;
            const bool loaded = LoadText(doc, text);
            const auto records = Records(doc);
            outcome = std::string(loaded ? "loaded" : "failed") + "|" + std::to_string(records.size());
            if (!records.empty()) outcome += "|" + std::to_string(records[0].eType) + "|" + records[0].strMessage;
        }
        // Still working after the failure.
        XML::CKelXML small;
        outcome += small.Load(static_cast<const void*>("<r/>"), 4) ? "|again" : "|broken";
        report(outcome);
    }
    ::close(channel[1]);
    std::string outcome;
    char buffer[512];
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        pollfd p{channel[0], POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) continue;
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n > 0) outcome.append(buffer, static_cast<std::size_t>(n));
        ended = n == 0;
    }
    ::close(channel[0]);
    if (!ended) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(ended) << "the child did not finish in two minutes";
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(outcome.rfind("failed|1|3|out of memory|", 0), 0u) << outcome;
    EXPECT_NE(outcome.find("|again"), std::string::npos) << outcome;
#endif
}

}  // namespace
