// kelxml get: prints the text or attribute values of each node at PATH.
#include "Commands.h"
#include "Documents.h"
#include "Limits.h"

#include <XML/CKelXML.h>

#include <iostream>
#include <vector>

namespace kelxml {

namespace {

// Prints one line per visited node: its text or the requested attribute values.
class PrintVisited : public XML::TFunctor {
public:
    explicit PrintVisited(std::size_t attributeCount) : m_attributeCount(attributeCount) {}

    bool operator()(xercesc::DOMNode*, std::string, std::string text, std::string* attributeValues, void*) override {
        ++m_visited;
        // One line built in a buffer kept from record to record, written at once.
        m_line.clear();
        if (m_attributeCount == 0) AppendEscaped(m_line, text);
        for (std::size_t i = 0; i < m_attributeCount; ++i) {
            if (i) m_line += '\t';
            AppendEscaped(m_line, attributeValues[i]);
        }
        m_line += '\n';
        std::cout.write(m_line.data(), static_cast<std::streamsize>(m_line.size()));
        return true;
    }

    std::size_t Visited() const { return m_visited; }

private:
    std::size_t m_attributeCount;
    std::size_t m_visited = 0;
    std::string m_line;
};

}  // namespace

int Get(const Arguments& args) {
    args.ExpectPositional(2, "FILE PATH");
    const std::string& file = args.Positional()[0];
    const std::string path = IsXPath(args, args.Positional()[1]) ? args.Positional()[1]
                                                                 : NormalisePath(args.Positional()[1]);
    std::vector<std::string> names;
    for (const auto& [option, value] : args.Options()) {
        if (option != "--attr") continue;
        if (value.empty()) throw UsageError{"--attr needs a NAME"};
        names.push_back(value);
    }
    if (ReportUnreadable(file)) return kProblem;
    XML::CKelXML xml;
    xml.SetLimits(LoadLimits());
    PrintVisited printer(names.size());
    if (IsXPath(args, args.Positional()[1])) {
        // An XPath needs the whole tree: the document is loaded, then each selected node printed.
        if (!Open(xml, file, ReadingOptions(args))) return kProblem;
        std::vector<std::string> values(names.size());
        for (xercesc::DOMNode* node : SelectXPath(xml, args, args.Positional()[1])) {
            std::string text;
            XML::CKelXML::GetValue(node, text);
            for (std::size_t i = 0; i < names.size(); ++i)
                XML::CKelXML::GetAttributeValue(node, names[i].c_str(), values[i]);
            printer(node, std::string(), text, values.data(), nullptr);
        }
        if (printer.Visited() > 0) return kSuccess;
        ReportNothingAt(file, args.Positional()[1]);
        return kProblem;
    }
    // Streamed from the parser's events: each record is printed as it ends, no node is built.
    XML::sWalkOptions walk;
    walk.strPath = path;
    walk.vAttributes = names;
    xml.StreamRecords(StreamedName(file), ReadingOptions(args), &printer, walk, names.empty());
    if (!Usable(xml, file, true)) return kProblem;
    if (printer.Visited() == 0) {
        ReportNothingAt(file, path);
        return kProblem;
    }
    return kSuccess;
}

}  // namespace kelxml
