// kelxml format: writes the document pretty-printed or canonical, to standard output or a file.
#include "Commands.h"
#include "Documents.h"

#include <XML/CKelXML.h>

#include <string>

#include <iostream>

namespace kelxml {

int Format(const Arguments& args) {
    args.ExpectPositional(1, "FILE");
    const std::string& file = args.Positional()[0];
    std::string out = "/dev/stdout";  // the library writes there where the stream stands
    for (const auto& [option, value] : args.Options())
        if (option == "-o") {
            if (value.empty()) throw UsageError{"-o needs a file name"};
            out = value;
        }
    const bool canonical = args.Has("--canonical");
    XML::CKelXML xml;
    if (!Open(xml, file)) return kProblem;
    const std::size_t before = RecordCount(xml);
    std::cout.flush();
    if (xml.Save(out.c_str(), canonical)) return kSuccess;
    PrintRecords(out, xml.GetErrors(), before);
    return kProblem;
}

} // namespace kelxml
