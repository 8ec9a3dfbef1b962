// kelxml format: writes each document pretty-printed, unindented or in W3C Canonical XML, to
// standard output or a file, or several documents into a folder (on -j N threads).
#include "Commands.h"
#include "Documents.h"
#include "Jobs.h"

#include <XML/CKelXML.h>

#include <atomic>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace kelxml {

namespace {

enum class Form { Pretty, Unindented, Canonical, CanonicalComments };

// Loads file into xml and writes it to out in form; kSuccess or kProblem (the records printed).
int FormatOne(XML::CKelXML& xml, const std::string& file, const std::string& out, Form form,
              const XML::sLoadOptions& options) {
    if (!Open(xml, file, options)) return kProblem;
    const std::size_t before = RecordCount(xml);
    const bool saved = form == Form::Canonical || form == Form::CanonicalComments
                           ? xml.SaveCanonicalXML(out.c_str(), form == Form::CanonicalComments)
                           : xml.Save(out.c_str(), form == Form::Unindented);
    if (saved) return kSuccess;
    PrintRecords(out, xml.GetErrors(), before);
    return kProblem;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where each file goes in folder: under its own last name, which no two files may share (the
// second would replace the first); standard input has none.
std::vector<std::string> TargetsIn(const std::string& folder, const std::vector<std::string>& files) {
    std::vector<std::string> targets;
    std::set<std::string> names;
    for (const std::string& file : files) {
        if (file == "-") throw UsageError{"standard input ('-') has no name to be written into a folder"};
        const std::string name = file.substr(file.find_last_of('/') + 1);
        if (name.empty() || name == "." || name == "..") throw UsageError{"'" + file + "' names no file"};
        if (!names.insert(name).second)
            throw UsageError{"two FILEs are named '" + name + "': both would be written to the same file"};
        std::string target = folder;
        if (target.back() != '/') target += '/';
        targets.push_back(target += name);
    }
    return targets;
}

}  // namespace

int Format(const Arguments& args) {
    const std::vector<std::string>& files = args.Positional();
    if (files.empty()) throw UsageError{"expected at least one FILE"};
    std::string out;
    for (const auto& [option, value] : args.Options())
        if (option == "-o") {
            if (value.empty()) throw UsageError{"-o needs a file name"};
            out = value;
        }
    // --canonical: the older name of --unindented (the serializer's form, not W3C Canonical XML).
    const bool unindented = args.Has("--unindented") || args.Has("--canonical");
    const bool c14n = args.Has("--c14n"), c14nComments = args.Has("--c14n-comments");
    if (int(unindented) + int(c14n) + int(c14nComments) > 1)
        throw UsageError{"--unindented (--canonical), --c14n and --c14n-comments cannot be combined"};
    const Form form = c14n           ? Form::Canonical
                      : c14nComments ? Form::CanonicalComments
                      : unindented   ? Form::Unindented
                                     : Form::Pretty;
    const std::size_t jobs = JobsOf(args);
    const bool intoFolder = !out.empty() && out != "-" && IsFolder(out);
    if (files.size() > 1 && !intoFolder)
        throw UsageError{"several FILEs are written with -o FOLDER, an existing folder"};
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
    if (!intoFolder) {
        XML::CKelXML xml;
        std::cout.flush();  // the library writes to /dev/stdout where the stream stands
        return FormatOne(xml, files[0], out.empty() || out == "-" ? "/dev/stdout" : out, form, options);
    }
    // Every target is known before the first is written: a usage error writes nothing.
    const std::vector<std::string> targets = TargetsIn(out, files);
    std::atomic<int> status{kSuccess};
    ForEachFile(files, jobs, [&](std::size_t index, XML::CKelXML& xml) {
        if (FormatOne(xml, files[index], targets[index], form, options) != kSuccess) status = kProblem;
    });
    return status;
}

}  // namespace kelxml
