// kelxml get: prints the text or attribute values of each node at PATH, in one file or several.
#include "Commands.h"
#include "Diagnostics.h"
#include "Documents.h"
#include "Jobs.h"
#include "Limits.h"

#include <XML/CKelXML.h>

#include <atomic>
#include <vector>

#include <xercesc/dom/DOM.hpp>

namespace kelxml {

namespace {

// Prints one line per visited node: its text, the requested attribute values, or both (text
// first), separated by tabs, after the file's prefix.
class PrintVisited : public XML::TFunctor {
public:
    PrintVisited(std::size_t attributeCount, bool text) : m_attributeCount(attributeCount), m_text(text) {}

    bool operator()(xercesc::DOMNode*, std::string, std::string text, std::string* attributeValues, void*) override {
        ++m_visited;
        // One line built in a buffer kept from record to record, written at once.
        m_line = m_prefix;
        if (m_text) AppendEscaped(m_line, text);
        for (std::size_t i = 0; i < m_attributeCount; ++i) {
            if (i || m_text) m_line += '\t';
            AppendEscaped(m_line, attributeValues[i]);
        }
        m_line += '\n';
        Out().write(m_line.data(), static_cast<std::streamsize>(m_line.size()));
        return true;
    }

    // Starts a file: the prefix of its lines, no node visited yet.
    void Start(std::string prefix) {
        m_prefix = std::move(prefix);
        m_visited = 0;
    }
    std::size_t Visited() const { return m_visited; }
    bool WantsText() const { return m_text; }

private:
    std::size_t m_attributeCount;
    bool m_text;
    std::string m_prefix;
    std::size_t m_visited = 0;
    std::string m_line;
};

int GetFrom(const Arguments& args, const std::string& file, const std::string& pathArgument,
            std::vector<std::string>& names, PrintVisited& printer) {
    const bool xpath = IsXPath(args, pathArgument);
    const std::string path = xpath ? pathArgument : NormalisePath(pathArgument);
    if (ReportUnreadable(file)) return kProblem;
    XML::CKelXML xml;
    xml.SetLimits(LoadLimits());
    if (xpath) {
        // An XPath needs the whole tree: the document is loaded, then each selected node printed.
        if (!Open(xml, file, ReadingOptions(args))) return kProblem;
        std::vector<std::string> values(names.size());
        for (xercesc::DOMNode* node : SelectXPath(xml, args, path)) {
            std::string text;
            XML::CKelXML::GetValue(node, text);
            for (std::size_t i = 0; i < names.size(); ++i)
                XML::CKelXML::GetAttributeValue(node, names[i].c_str(), values[i]);
            printer(node, std::string(), text, values.data(), nullptr);
        }
    } else {
        // Streamed from the parser's events: each record is printed as it ends, no node is built.
        XML::sWalkOptions walk;
        walk.strPath = path;
        walk.vAttributes = names;
        HoldSource(file);
        xml.StreamRecords(StreamedName(file), ReadingOptions(args), &printer, walk, printer.WantsText());
        if (!Usable(xml, file, true)) return kProblem;
    }
    if (printer.Visited() > 0) return kSuccess;
    ReportNothingAt(file, path);
    return kProblem;
}

}  // namespace

int Get(const Arguments& args) {
    const std::vector<std::string> files = FilesBeforeLast(args, "FILE... PATH");
    const std::string& path = args.Positional().back();
    std::vector<std::string> names;
    for (const auto& [option, value] : args.Options()) {
        if (option != "--attr") continue;
        if (value.empty()) throw UsageError{"--attr needs a NAME"};
        names.push_back(value);
    }
    std::atomic<int> status{kSuccess};
    ForEachFile(files, JobsOf(args), [&](std::size_t index, XML::CKelXML&) {
        PrintVisited printer(names.size(), names.empty() || args.Has("--text"));
        printer.Start(LinePrefix(files, files[index]));
        if (GetFrom(args, files[index], path, names, printer) != kSuccess) status = kProblem;
    });
    return status;
}

}  // namespace kelxml
