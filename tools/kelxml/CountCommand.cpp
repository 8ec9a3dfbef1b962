// kelxml count: counts the elements NAME below the root element.
#include "Commands.h"
#include "Documents.h"
#include "Limits.h"

#include <XML/CKelXML.h>

#include <iostream>

namespace kelxml {

int Count(const Arguments& args) {
    args.ExpectPositional(2, "FILE NAME");
    const std::string& file = args.Positional()[0];
    const std::string& name = args.Positional()[1];
    if (name.empty()) throw UsageError{"NAME is empty"};
    if (IsXPath(args, name)) {
        XML::CKelXML loaded;
        if (!Open(loaded, file, ReadingOptions(args))) return kProblem;
        std::cout << SelectXPath(loaded, args, name).size() << '\n';
        return kSuccess;
    }
    // Counted as the file is read: no tree is kept.
    if (ReportUnreadable(file)) return kProblem;
    XML::CKelXML xml;
    xml.SetLimits(LoadLimits());
    unsigned long count = 0;
    xml.GetNbElementsInFile(StreamedName(file), ReadingOptions(args), name.c_str(), count);
    if (!Usable(xml, file, true)) return kProblem;
    std::cout << count << '\n';
    return kSuccess;
}

}  // namespace kelxml
