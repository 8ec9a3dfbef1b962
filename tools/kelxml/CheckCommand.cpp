// kelxml check: parses each file (no tree is built) and lists every record, then a summary.
#include "Commands.h"
#include "Diagnostics.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <iostream>

namespace kelxml {

int Check(const Arguments& args) {
    if (args.Positional().empty()) throw UsageError{"expected at least one FILE"};
    const XML::sLoadOptions options = CheckingOptions(args);
    std::size_t clean = 0;
    std::size_t records = 0;
    // One object for every file: its parser, and the grammars the options name, are made once.
    XML::CKelXML xml;
    for (const std::string& file : args.Positional()) {
        if (ValidateDocument(xml, file, options)) {
            ++clean;
            continue;
        }
        if (ReportUnreadable(file)) {
            ++records;
            continue;
        }
        const std::size_t printed = PrintRecords(file, xml.GetErrors(), 0, &options);
        if (printed == 0) std::cerr << DisplayName(file) << ": the document could not be loaded\n";
        records += printed;
    }
    const std::size_t files = args.Positional().size();
    std::cout << "checked " << files << (files == 1 ? " file: " : " files: ") << clean << " clean, " << files - clean
              << " with problems (" << records << (records == 1 ? " record)" : " records)") << '\n';
    return clean == files ? kSuccess : kProblem;
}

}  // namespace kelxml
