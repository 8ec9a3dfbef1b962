#include "Documents.h"

#include "Diagnostics.h"
#include "Limits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace kelxml {

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

const char* KindName(XML::E_TYPE_ERROR kind) {
    switch (kind) {
    case XML::E_WARNING: return "warning";
    case XML::E_ERROR: return "error";
    case XML::E_FATAL_ERROR: return "fatal";
    case XML::E_EXCEPTION: return "exception";
    case XML::E_MISSING: return "missing";
    }
    return "unknown";
}

std::size_t PrintRecords(const std::string& file, const XML::CError* errors, std::size_t first) {
    if (!errors) return 0;
    const auto& records = errors->GetAllErrors();
    DiagnosticPrinter printer(std::cerr, file, file == "-" ? std::string_view(StandardInput()) : std::string_view());
    for (std::size_t i = first; i < records.size(); ++i) printer.Print(records[i]);
    return records.size() > first ? records.size() - first : 0;
}

std::size_t RecordCount(const XML::CKelXML& xml) { return xml.GetErrors() ? xml.GetErrors()->GetErrorCount() : 0; }

const std::string& StandardInput() {
    static const std::string bytes = [] {
        std::string read;
        char buffer[64 * 1024];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) read.append(buffer, n);
        return read;
    }();
    return bytes;
}

bool LoadDocument(XML::CKelXML& xml, const std::string& file, bool validate) {
    xml.SetLimits(LoadLimits());
    if (file == "-") return xml.LoadFromMemory(StandardInput(), validate);
    return xml.Load(file.c_str(), validate);
}

bool ReportUnreadable(const std::string& file) {
    if (file == "-") return false;
    struct stat info {};
    int error = 0;
    const bool found = ::stat(file.c_str(), &info) == 0;
    if (found && S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!found || ::access(file.c_str(), R_OK) != 0)  // errno of whichever failed
        error = errno;
    if (error == 0) return false;
    std::cerr << file << ": fatal: cannot read: " << std::strerror(error) << '\n';
    return true;
}

bool Open(XML::CKelXML& xml, const std::string& file) {
    if (LoadDocument(xml, file, false)) return true;
    if (!xml.GetDocument() && ReportUnreadable(file)) return false;
    PrintRecords(file, xml.GetErrors());
    bool usable = xml.GetDocument() != nullptr;
    if (const XML::CError* errors = xml.GetErrors())
        for (const XML::sError& record : errors->GetAllErrors())
            if (record.eType >= XML::E_FATAL_ERROR) usable = false;
    if (!usable) std::cerr << DisplayName(file) << ": the document could not be loaded\n";
    return usable;
}

// Paths start at the root element rather than the document node: a document type
// declaration carries the root's name too and, coming first, would be taken for it.
// The root element when the path's first name is its own, else null; rest = the remaining path.
xercesc::DOMNode* RootOf(XML::CKelXML& xml, const std::string& path, std::string& rest) {
    const std::size_t slash = path.find('\\');
    const std::string first = path.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    xercesc::DOMElement* root = xml.GetDocument()->getDocumentElement();
    if (!root || XML::XStr::ToLocal(root->getNodeName()) != first) return nullptr;
    return root;
}

// The first node at the end of path, going down one first child at a time: the library's
// own walk, stopped at its first node.
xercesc::DOMNode* FindFirst(XML::CKelXML& xml, const std::string& path) {
    std::string rest;
    xercesc::DOMNode* root = RootOf(xml, path, rest);
    if (!root || rest.empty()) return root;
    struct First : XML::TFunctor {
        xercesc::DOMNode* node = nullptr;
        bool operator()(xercesc::DOMNode* visited, std::string, std::string, std::string*, void*) override {
            node = visited;
            return true;
        }
    } first;
    XML::CKelXML::LoopElements(&first, root, rest, nullptr, 0, nullptr, true, false, false);
    return first.node;
}

void ReportNothingAt(const std::string& file, const std::string& path) {
    std::cerr << DisplayName(file) << ": nothing at path '" << path << "'\n";
}

} // namespace kelxml
