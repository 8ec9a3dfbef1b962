#include "XML/internal/DocumentParse.h"

#include <fstream>

#include <sys/stat.h>

namespace XML::internal {

using namespace xercesc;

// Reads back bytes of a document parsed from memory.
SourceKeepingParser::ByteReader BytesOf(const char* data, std::size_t size) {
    return [data, size](std::uint64_t offset, std::size_t length, std::string& bytes) {
        if (offset > size || length > size - offset) return false;
        bytes.assign(data + offset, length);
        return true;
    };
}

// Reads the bytes of a file, opened at each call.
SourceKeepingParser::ByteReader FileBytes(const char* file) {
    return [name = std::string(file)](std::uint64_t offset, std::size_t length, std::string& bytes) {
        std::ifstream in(name, std::ios::binary);
        bytes.resize(length);
        return in.seekg(static_cast<std::streamoff>(offset)) &&
               in.read(bytes.data(), static_cast<std::streamsize>(length));
    };
}

// What a load may read besides the document: the options' own rule, or the mode's.
E_RESOURCE_ACCESS AccessOf(const sLoadOptions& options) {
    if (options.eResources != E_RESOURCES_BY_MODE) return options.eResources;
    return options.eMode == E_LOAD_WELL_FORMED ? E_RESOURCES_NONE : E_RESOURCES_LOCAL;
}

// The size of the file the parser will read for name (a path or a file: URL); 0 when unknown.
// regular tells whether it can be read twice (a pipe cannot).
std::size_t FileSize(const char* name, bool& regular) {
    struct stat info {};
    std::string path = name;
    XMLURL url(XMLPlatformUtils::fgMemoryManager);
    bool found = ::stat(path.c_str(), &info) == 0;
    if (!found && XMLURL::parse(XStr(name).unicodeForm(), url) && url.getProtocol() == XMLURL::File) {
        path = XStr::ToLocal(url.getPath());
        found = ::stat(path.c_str(), &info) == 0;
    }
    regular = found && S_ISREG(info.st_mode);
    return regular ? static_cast<std::size_t>(info.st_size) : 0;
}

// Judges the DTD of the opened file, reading only as much of it as its DOCTYPE needs.
DtdVerdict JudgeFileDtd(OpenedFile& file, const XMLCh* id, const sLimits& limits, ResourceGate& gate) {
    DtdVerdict verdict;
    for (std::size_t want = std::size_t{64} << 10;; want *= 8) {
        std::string why;
        if (!file.ReadHead(want, why)) return {};  // the parser reports it
        verdict = JudgeDtd(file.Head(), file.AtEnd(), id, limits, &gate);
        if (!verdict.needMore || file.AtEnd()) return verdict;
    }
}

}  // namespace XML::internal
