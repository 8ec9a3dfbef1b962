#include "TestSupport.h"

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kelxml_test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelxml-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::List() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool FileExists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::vector<XML::sError> Records(const XML::CKelXML& doc) {
    return doc.GetErrors() ? doc.GetErrors()->GetAllErrors() : std::vector<XML::sError>{};
}

bool LoadText(XML::CKelXML& doc, const std::string& text, const std::string& base) {
    if (base.empty()) return doc.Load(static_cast<const void*>(text.data()), static_cast<unsigned int>(text.size()));
    XML::sLoadOptions options;
    options.strBaseURI = base;
    return doc.LoadFromMemory(text, options);
}

bool Load(XML::CKelXML& doc, const std::string& text, const XML::sLoadOptions& options) {
    return doc.LoadFromMemory(text, options);
}

Grammars::Grammars() {
    for (const auto& row : Table(KELXML_TEST_DATA "/load_options.tsv")) {
        if (row[0] == "file") WriteFile(File(row[1]), row[2]);
        if (row[0] == "fifo") ::mkfifo(File(row[1]).c_str(), 0600);
    }
}

XML::sLoadOptions Named(const TempDir& dir, const std::string& grammars, std::shared_ptr<XML::CGrammarCache> cache,
                        int mode) {
    XML::sLoadOptions options;
    options.eMode = static_cast<XML::E_LOAD_MODE>(mode);
    options.pGrammarCache = std::move(cache);
    options.strBaseURI = dir.File("doc.xml");
    std::istringstream words(grammars == "-" ? "" : grammars);
    for (std::string word; words >> word;) {
        const std::string ns = word.substr(0, word.find('=')), file = dir.File(word.substr(word.find('=') + 1));
        if (ns == "dtd")
            options.strDTDFile = file;
        else
            options.vSchemas.push_back({ns, file});
    }
    return options;
}

std::string Dump(const XML::CKelXML& doc) {
    std::string text;
    for (const XML::sError& record : Records(doc))
        text += std::to_string(record.eType) + ": " + record.strMessage + "\n";
    return text;
}

bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

std::string RunInChild(const std::function<std::string()>& body, int seconds, std::size_t extraBytes) {
    // No address-space limit under the sanitizer, and a fork copies its shadow mappings: slow.
    if (extraBytes && UnderAddressSanitizer()) return body();
    int channel[2];
    if (::pipe(channel) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        ::close(channel[0]);
        std::string outcome;
        try {
            long pages = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + extraBytes;
            const rlimit rl{limit, limit};
            outcome = extraBytes && (pages <= 0 || ::setrlimit(RLIMIT_AS, &rl) != 0) ? "setrlimit failed" : body();
        } catch (...) {
            outcome = "exception escaped";
        }
        const bool written = ::write(channel[1], outcome.data(), outcome.size()) ==
                             static_cast<ssize_t>(outcome.size());
        _exit(written ? 0 : 5);
    }
    ::close(channel[1]);
    std::string outcome;
    char buffer[4096];
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        pollfd p{channel[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n > 0) outcome.append(buffer, static_cast<std::size_t>(n));
        ended = n <= 0;
    }
    ::close(channel[0]);
    if (!ended) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!ended) return "timeout";
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) return "exit " + std::to_string(WEXITSTATUS(status));
    return outcome;
}

std::string Replace(std::string text, const std::string& mark, const std::string& value) {
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}

std::string Expand(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t colon = i + 1;
        while (colon < text.size() && std::isdigit(static_cast<unsigned char>(text[colon]))) ++colon;
        if (text[i] != '{' || colon == i + 1 || colon >= text.size() || text[colon] != ':') {
            const bool lineBreak = text.compare(i, 2, "\\n") == 0;
            out += lineBreak ? '\n' : text[i];
            i += lineBreak;
            continue;
        }
        std::size_t end = colon + 1;
        for (int depth = 1; end < text.size() && (depth += (text[end] == '{') - (text[end] == '}')) > 0;) ++end;
        const std::string part = text.substr(colon + 1, end - colon - 1);
        const long copies = std::stol(text.substr(i + 1, colon - i - 1));
        const bool numbered = part.find('$') != std::string::npos;
        const std::string fixed = numbered ? std::string() : Expand(part);
        for (long n = 1; n <= copies; ++n)
            out += numbered ? Expand(Replace(Replace(part, "$i", std::to_string(n)), "$j", std::to_string(n - 1)))
                            : fixed;
        i = end;
    }
    return out;
}

std::vector<std::vector<std::string>> Table(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(ReadFile(path));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        rows.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) rows.back().push_back(Expand(field));
    }
    EXPECT_FALSE(rows.empty()) << "no rows in " << path;
    return rows;
}

std::string Verdict(const XML::CKelXML& doc, bool loaded, const std::string& expected, const std::string& holds) {
    // "=K:text": that record is the only one.
    const bool only = !expected.empty() && expected[0] == '=';
    const std::string result = only ? expected.substr(1) : expected;
    const std::size_t colon = result.find(':');
    bool met = result == "ok" && loaded && Records(doc).empty();
    for (const XML::sError& record : Records(doc))
        met = met ||
              (!loaded && colon != std::string::npos &&
               (result.compare(0, colon, "*") == 0 || result.compare(0, colon, std::to_string(record.eType)) == 0) &&
               record.strMessage.find(result.substr(colon + 1)) != std::string::npos);
    met = met && !(only && Records(doc).size() != 1);
    const xercesc::DOMDocument* dom = doc.GetDocument();
    std::string information;
    if (dom && dom->getDocumentElement()) {
        information = InformationOf(dom, false) + XML::XStr::ToLocal(dom->getDocumentElement()->getTextContent());
        const xercesc::DOMNodeList* elements = dom->getElementsByTagName(XML::XStr("*").unicodeForm());
        for (XMLSize_t i = 0, count = elements->getLength(); i < count; ++i)
            for (const auto& [name, value] : XML::CKelXML::GetAttributes(elements->item(i)))
                information += " " + name + "=" + value;
    }
    if (met && information.find(holds) != std::string::npos) return "ok";
    return std::string(loaded ? "loaded" : "not loaded") + "\n" + Dump(doc).substr(0, 1000) +
           information.substr(0, 300);
}

std::string SharedDir() {
    const fs::path dir(KELXML_SHARED_DIR);
    return fs::exists(dir / "corpus") ? fs::canonical(dir).string() : std::string();
}

namespace {

using namespace xercesc;

std::string Local(const XMLCh* text) { return text ? XML::XStr::ToLocal(text) : std::string("(null)"); }

bool Blank(const XMLCh* text) {
    for (const XMLCh* p = text; p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
    return true;
}

// Whitespace-only text of this element is layout: it holds markup and no other text, and no
// xml:space="preserve" is in force.
bool LayoutOnly(const DOMNode* element) {
    const XML::XStr spaceName("xml:space");
    for (const DOMNode* n = element; n && n->getNodeType() == DOMNode::ELEMENT_NODE; n = n->getParentNode()) {
        const XMLCh* space = static_cast<const DOMElement*>(n)->getAttribute(spaceName.unicodeForm());
        if (space && *space) {
            if (XML::XStr::ToLocal(space) == "preserve") return false;
            break;
        }
    }
    bool markup = false;
    for (const DOMNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
        const auto type = child->getNodeType();
        if (type == DOMNode::TEXT_NODE && !Blank(child->getNodeValue())) return false;
        if (type == DOMNode::CDATA_SECTION_NODE || type == DOMNode::ENTITY_REFERENCE_NODE) return false;
        markup = markup || type != DOMNode::TEXT_NODE;
    }
    return markup;
}

void DescribeNode(const DOMNode* node, std::size_t depth, std::ostringstream& out) {
    out << std::string(depth, ' ');
    switch (node->getNodeType()) {
    case DOMNode::ELEMENT_NODE: {
        out << "E " << Local(node->getNodeName());
        std::vector<std::string> attributes;
        const DOMNamedNodeMap* map = node->getAttributes();
        for (XMLSize_t i = 0; map && i < map->getLength(); ++i) {
            const auto* a = static_cast<const DOMAttr*>(map->item(i));
            if (a->getSpecified()) attributes.push_back(Local(a->getName()) + "=" + Local(a->getValue()));
        }
        std::sort(attributes.begin(), attributes.end());
        for (const std::string& a : attributes) out << " [" << a << "]";
        break;
    }
    case DOMNode::DOCUMENT_TYPE_NODE: {
        const auto* t = static_cast<const DOMDocumentType*>(node);
        out << "D " << Local(t->getName()) << " " << Local(t->getPublicId()) << " " << Local(t->getSystemId()) << " ["
            << Local(t->getInternalSubset()) << "]";
        break;
    }
    default: out << node->getNodeType() << " " << Local(node->getNodeName()) << " " << Local(node->getNodeValue());
    }
    out << "\n";
}

}  // namespace

std::string InformationOf(const DOMNode* top, bool dropIndentation) {
    std::ostringstream out;
    std::vector<std::pair<const DOMNode*, std::size_t>> pending{{top, 0}};
    std::vector<const DOMNode*> children;
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        DescribeNode(node, depth, out);
        const bool layout = dropIndentation && node->getNodeType() == DOMNode::ELEMENT_NODE && LayoutOnly(node);
        children.clear();
        for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling())
            if (!layout || child->getNodeType() != DOMNode::TEXT_NODE) children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back({*it, depth + 1});
    }
    return out.str();
}

}  // namespace kelxml_test
