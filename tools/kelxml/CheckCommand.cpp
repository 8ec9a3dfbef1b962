// kelxml check: parses each file (no tree is built) and lists every record, then a summary.
#include "Commands.h"
#include "Diagnostics.h"
#include "Documents.h"
#include "Jobs.h"

#include <XML/CKelXML.h>

#include <atomic>
#include <iostream>

namespace kelxml {

int Check(const Arguments& args) {
    if (args.Positional().empty()) throw UsageError{"expected at least one FILE"};
    const XML::sLoadOptions options = CheckingOptions(args);
    std::atomic<std::size_t> clean{0};
    std::atomic<std::size_t> records{0};
    // One object per thread for every file it checks: its parser is made once, and the grammars
    // the options name are parsed once for all (the options' shared cache).
    const std::vector<std::string>& files = args.Positional();
    ForEachFile(files, JobsOf(args), [&](std::size_t index, XML::CKelXML& xml) {
        const std::string& file = files[index];
        if (ValidateDocument(xml, file, options)) {
            ++clean;
            return;
        }
        if (ReportUnreadable(file)) {
            ++records;
            return;
        }
        const std::size_t printed = PrintRecords(file, xml.GetErrors(), 0, &options);
        if (printed == 0) Err() << DisplayName(file) << ": the document could not be loaded\n";
        records += printed;
    });
    const std::size_t count = files.size();
    std::cout << "checked " << count << (count == 1 ? " file: " : " files: ") << clean << " clean, " << count - clean
              << " with problems (" << records << (records == 1 ? " record)" : " records)") << '\n';
    return clean == count ? kSuccess : kProblem;
}

}  // namespace kelxml
