// kelxml format: writes the document pretty-printed, unindented or in W3C Canonical XML, to
// standard output or a file.
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
            out = value == "-" ? "/dev/stdout" : value;
        }
    // --canonical: the older name of --unindented (the serializer's form, not W3C Canonical XML).
    const bool unindented = args.Has("--unindented") || args.Has("--canonical");
    const bool c14n = args.Has("--c14n"), c14nComments = args.Has("--c14n-comments");
    if (int(unindented) + int(c14n) + int(c14nComments) > 1)
        throw UsageError{"--unindented (--canonical), --c14n and --c14n-comments cannot be combined"};
    // Canonical XML includes the attributes a DTD defaults: it is made from the document with
    // its whole DTD read, not validated (validity is check's business); a DTD that cannot be
    // read is left out with a warning.
    XML::sLoadOptions options = ReadingOptions(args);
    if (c14n || c14nComments) {
        // The defaults come from the internal subset only unless reading is asked for, as for
        // every reading command: a DTD the document names may be any file of the machine.
        if (options.eResources == XML::E_RESOURCES_BY_MODE && options.eMode == XML::E_LOAD_WELL_FORMED)
            options.eResources = XML::E_RESOURCES_NONE;
        options.eMode = XML::E_LOAD_DTD_DEFAULTS;
    }
    XML::CKelXML xml;
    if (!Open(xml, file, options)) return kProblem;
    const std::size_t before = RecordCount(xml);
    std::cout.flush();
    const bool saved = c14n || c14nComments ? xml.SaveCanonicalXML(out.c_str(), c14nComments)
                                            : xml.Save(out.c_str(), unindented);
    if (saved) return kSuccess;
    PrintRecords(out, xml.GetErrors(), before);
    return kProblem;
}

}  // namespace kelxml
