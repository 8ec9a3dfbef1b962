// kelxml count: counts the elements NAME below the root element, in one file or several.
#include "Commands.h"
#include "Diagnostics.h"
#include "Documents.h"
#include "Jobs.h"
#include "Limits.h"

#include <XML/CKelXML.h>

#include <atomic>

namespace kelxml {

namespace {

int CountIn(const Arguments& args, const std::string& file, const std::string& name, const std::string& prefix) {
    if (IsXPath(args, name)) {
        XML::CKelXML loaded;
        if (!Open(loaded, file, ReadingOptions(args))) return kProblem;
        const std::size_t count = SelectXPath(loaded, args, name).size();  // a usage error prints nothing
        Out() << prefix << count << '\n';
        return kSuccess;
    }
    // Counted as the file is read: no tree is kept.
    if (ReportUnreadable(file)) return kProblem;
    XML::CKelXML xml;
    xml.SetLimits(LoadLimits());
    unsigned long count = 0;
    HoldSource(file);
    xml.GetNbElementsInFile(StreamedName(file), ReadingOptions(args), name.c_str(), count);
    if (!Usable(xml, file, true)) return kProblem;
    Out() << prefix << count << '\n';
    return kSuccess;
}

}  // namespace

int Count(const Arguments& args) {
    const std::vector<std::string> files = FilesBeforeLast(args, "FILE... NAME");
    const std::string& name = args.Positional().back();
    if (name.empty()) throw UsageError{"NAME is empty"};
    std::atomic<int> status{kSuccess};
    ForEachFile(files, JobsOf(args), [&](std::size_t index, XML::CKelXML&) {
        if (CountIn(args, files[index], name, LinePrefix(files, files[index])) != kSuccess) status = kProblem;
    });
    return status;
}

}  // namespace kelxml
