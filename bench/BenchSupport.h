// Shared pieces of the benchmarks: the generated documents, resident-memory probes, a child
// process runner, and the hand-written raw Xerces DOM code that is the baseline column.
#ifndef KELXML_BENCH_SUPPORT_H
#define KELXML_BENCH_SUPPORT_H

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// --- Documents -----------------------------------------------------------------------------
struct Document {
    std::string path;     // the file in DataDir()
    std::string text;     // its bytes (empty for the 50 MB file, which is only loaded from disk)
    std::size_t records;  // Record elements, or children of <Wide>
};
const Document& Config();
const Document& Records1MB();
const Document& Records50MB();
const Document& Wide(std::size_t children);

// --- Memory --------------------------------------------------------------------------------
// Current and peak resident set of this process, in KiB (VmRSS and VmHWM).
long RssKb();
long PeakRssKb();

// Runs this program again as "--child args..." and returns the "key value" lines it prints.
// Throws when the child fails.
std::map<std::string, double> RunChild(const std::vector<std::string>& args);
// Entry of such a child; returns the process status.
int ChildMain(int argc, char** argv);

// --- Raw Xerces baseline -------------------------------------------------------------------
// A name transcoded to XMLCh once, as hand-written code keeps its constants.
class XName {
public:
    explicit XName(const char* name);
    ~XName();
    XName(const XName&) = delete;
    XName& operator=(const XName&) = delete;
    operator const XMLCh*() const { return m_name; }

private:
    XMLCh* m_name;
};

// Collects diagnostics the way any error handler must (one message string each).
class RawErrors : public xercesc::HandlerBase {
public:
    void warning(const xercesc::SAXParseException& e) override { Add(e); }
    void error(const xercesc::SAXParseException& e) override { Add(e); }
    void fatalError(const xercesc::SAXParseException& e) override { Add(e); }
    void resetErrors() override { messages.clear(); }
    std::vector<std::string> messages;

private:
    void Add(const xercesc::SAXParseException& e);
};

// XercesDOMParser with the library's settings: automatic validation, namespaces, schema,
// full schema checking, an error handler and a security manager.
class RawParser {
public:
    RawParser();
    // Releases the previous document (the parser would otherwise keep every one) and parses.
    xercesc::DOMDocument* ParseFile(const char* file);
    xercesc::DOMDocument* ParseMemory(const std::string& text);
    xercesc::XercesDOMParser& parser() { return *m_parser; }

private:
    RawErrors m_errors;
    xercesc::SecurityManager m_security;
    std::unique_ptr<xercesc::XercesDOMParser> m_parser;
};

// Local (8-bit) form of 16-bit text, through XMLString::transcode. When RawAsciiShortcut()
// is set, pure-ASCII text is copied directly instead (the shortcut the library takes), so that
// the raw column can also be measured without the transcoder's cost.
std::string RawLocal(const XMLCh* text);
bool& RawAsciiShortcut();
// Calls use(const char*) with the local form of text.
template <class Use>
void WithLocal(const XMLCh* text, Use&& use) {
    if (RawAsciiShortcut()) {
        char buf[128];
        std::size_t i = 0;
        for (; text[i] != 0 && text[i] < 0x80 && i + 1 < sizeof buf; ++i) buf[i] = static_cast<char>(text[i]);
        if (text[i] == 0) {
            buf[i] = 0;
            use(static_cast<const char*>(buf));
            return;
        }
    }
    char* local = xercesc::XMLString::transcode(text);
    use(static_cast<const char*>(local));
    xercesc::XMLString::release(&local);
}
// The text of a node as the DOM defines it (text and CDATA below an element, in document
// order), gathered by an iterative walk into out without touching the document's heap.
void RawAppendText(const xercesc::DOMNode* node, std::basic_string<XMLCh>& out);
std::string RawText(const xercesc::DOMNode* node);
// First direct child named name; first element of that tag name below start (pre-order).
xercesc::DOMNode* RawFirstChild(const xercesc::DOMNode* parent, const XMLCh* name);
xercesc::DOMElement* RawFirstDescendant(const xercesc::DOMNode* start, const XMLCh* name);
// An attribute's value in local form; false when absent.
bool RawAttribute(const xercesc::DOMElement* element, const XMLCh* name, std::string& value);

// The Record elements of a records document, in order (raw walk; used to set up read cases).
std::vector<xercesc::DOMElement*> RawRecords(xercesc::DOMDocument* doc);

}  // namespace bench

#endif
