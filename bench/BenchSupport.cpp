#include "BenchSupport.h"

#include "Generator.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

using namespace xercesc;

namespace bench {

// --- Documents -----------------------------------------------------------------------------

const Document& Config() {
    static const Document doc = [] {
        Document d;
        d.text = MakeConfig();
        d.path = EnsureFile("config-1k.xml", d.text);
        d.records = 0;
        return d;
    }();
    return doc;
}

const Document& Records1MB() {
    static const Document doc = [] {
        Document d;
        d.text = MakeRecords(1 << 20, d.records);
        d.path = EnsureFile("records-1m.xml", d.text);
        return d;
    }();
    return doc;
}

const Document& Records50MB() {
    static const Document doc = [] {
        Document d;
        std::string text = MakeRecords(50u << 20, d.records);
        d.path = EnsureFile("records-50m.xml", text);
        return d;
    }();
    return doc;
}

const Document& Wide(std::size_t children) {
    static std::map<std::size_t, Document> docs;
    auto it = docs.find(children);
    if (it == docs.end()) {
        Document d;
        d.text = MakeWide(children);
        d.path = EnsureFile("wide-" + std::to_string(children) + ".xml", d.text);
        d.records = children;
        it = docs.emplace(children, std::move(d)).first;
    }
    return it->second;
}

// --- Memory --------------------------------------------------------------------------------

namespace {
long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t len = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, len, key) == 0) return std::atol(line.c_str() + len);
    return -1;
}
}  // namespace

long RssKb() { return StatusKb("VmRSS:"); }
long PeakRssKb() { return StatusKb("VmHWM:"); }

std::map<std::string, double> RunChild(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv;
        static char self[] = "kelxml_bench", child[] = "--child";
        argv.push_back(self);
        argv.push_back(child);
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("child failed: " + args.front() + " " + args.at(1) + "\n" + out);
    std::map<std::string, double> values;
    std::istringstream lines(out);
    std::string key;
    double value;
    while (lines >> key >> value) values[key] = value;
    return values;
}

// --- Raw Xerces baseline -------------------------------------------------------------------

XName::XName(const char* name) : m_name(XMLString::transcode(name)) {}
XName::~XName() { XMLString::release(&m_name); }

void RawErrors::Add(const SAXParseException& e) {
    messages.push_back(RawLocal(e.getSystemId()) + ":" + std::to_string(e.getLineNumber()) + ":" +
                       std::to_string(e.getColumnNumber()) + ": " + RawLocal(e.getMessage()));
}

RawParser::RawParser() : m_parser(std::make_unique<XercesDOMParser>()) {
    m_parser->setValidationScheme(AbstractDOMParser::Val_Auto);
    m_parser->setDoNamespaces(true);
    m_parser->setDoSchema(true);
    m_parser->setValidationSchemaFullChecking(true);
    m_parser->setErrorHandler(&m_errors);
    m_parser->setSecurityManager(&m_security);
}

DOMDocument* RawParser::ParseFile(const char* file) {
    m_parser->resetDocumentPool();
    m_parser->parse(file);
    return m_parser->getDocument();
}

DOMDocument* RawParser::ParseMemory(const std::string& text) {
    m_parser->resetDocumentPool();
    const MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "mem", false);
    m_parser->parse(source);
    return m_parser->getDocument();
}

bool& RawAsciiShortcut() {
    static bool shortcut = false;
    return shortcut;
}

std::string RawLocal(const XMLCh* text) {
    if (!text) return std::string();
    if (RawAsciiShortcut()) {
        const XMLCh* end = text;
        while (*end != 0 && *end < 0x80) ++end;
        if (*end == 0) return std::string(text, end);
    }
    char* local = XMLString::transcode(text);
    std::string result(local ? local : "");
    XMLString::release(&local);
    return result;
}

void RawAppendText(const DOMNode* node, std::basic_string<XMLCh>& out) {
    switch (node->getNodeType()) {
    case DOMNode::ELEMENT_NODE:
    case DOMNode::ENTITY_REFERENCE_NODE:
    case DOMNode::DOCUMENT_FRAGMENT_NODE: break;
    case DOMNode::DOCUMENT_NODE:
    case DOMNode::DOCUMENT_TYPE_NODE: return;
    default:
        if (const XMLCh* value = node->getNodeValue()) out += value;
        return;
    }
    const DOMNode* n = node->getFirstChild();
    while (n) {
        const auto type = n->getNodeType();
        if (type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE) out += n->getNodeValue();
        if (const DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n != node && !n->getNextSibling()) n = n->getParentNode();
        if (n == node) break;
        n = n->getNextSibling();
    }
}

std::string RawText(const DOMNode* node) {
    std::basic_string<XMLCh> text;
    RawAppendText(node, text);
    return RawLocal(text.c_str());
}

DOMNode* RawFirstChild(const DOMNode* parent, const XMLCh* name) {
    for (DOMNode* n = parent->getFirstChild(); n; n = n->getNextSibling())
        if (XMLString::equals(n->getNodeName(), name)) return n;
    return nullptr;
}

DOMElement* RawFirstDescendant(const DOMNode* start, const XMLCh* name) {
    const DOMNode* n = start->getFirstChild();
    while (n) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), name))
            return const_cast<DOMElement*>(static_cast<const DOMElement*>(n));
        if (const DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n != start && !n->getNextSibling()) n = n->getParentNode();
        if (n == start) break;
        n = n->getNextSibling();
    }
    return nullptr;
}

bool RawAttribute(const DOMElement* element, const XMLCh* name, std::string& value) {
    const DOMAttr* attr = element->getAttributeNode(name);
    if (!attr) return false;
    value = RawLocal(attr->getValue());
    return true;
}

std::vector<DOMElement*> RawRecords(DOMDocument* doc) {
    const XName records("Records"), record("Record");
    std::vector<DOMElement*> result;
    DOMNode* list = RawFirstChild(doc->getDocumentElement(), records);
    for (DOMNode* n = list ? list->getFirstChild() : nullptr; n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), record))
            result.push_back(static_cast<DOMElement*>(n));
    return result;
}

}  // namespace bench
