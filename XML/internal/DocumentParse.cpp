#include "XML/internal/DocumentParse.h"

#include <cstring>
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

bool RootNamesSchema(std::string_view head) {
    const std::string t = AsUtf8(head);
    std::size_t i = 0;
    const auto past = [&t, &i](const char* end) {
        const std::size_t at = t.find(end, i);
        i = at == std::string::npos ? t.size() : at + std::strlen(end);
    };
    while ((i = t.find('<', i)) != std::string::npos) {
        if (t.compare(i, 2, "<?") == 0) {
            past("?>");
        } else if (t.compare(i, 4, "<!--") == 0) {
            past("-->");
        } else if (t.compare(i, 9, "<!DOCTYPE") == 0) {
            const std::size_t subset = t.find('[', i), end = t.find('>', i);
            if (subset < end) i = subset, past("]");
            past(">");
        } else {
            break;
        }
    }
    if (i == std::string::npos) return false;
    // The start tag: up to the first '>' outside a quoted value.
    std::size_t end = i;
    for (char quote = 0; end < t.size() && (quote || t[end] != '>'); ++end)
        if (t[end] == '"' || t[end] == '\'') quote = quote == t[end] ? 0 : quote ? quote : t[end];
    const std::string tag = t.substr(i, end - i);
    for (const char* quote : {"\"", "'"}) {
        const std::size_t uri = tag.find(std::string(quote) + "http://www.w3.org/2001/XMLSchema-instance" + quote);
        const std::size_t colon = uri == std::string::npos ? uri : tag.rfind("xmlns:", uri);
        if (colon == std::string::npos) continue;
        std::size_t nameEnd = colon + 6;
        while (nameEnd < uri && tag[nameEnd] != '=' && tag[nameEnd] != ' ') ++nameEnd;
        const std::string prefix = tag.substr(colon + 6, nameEnd - colon - 6);
        if (tag.find(prefix + ":schemaLocation") != std::string::npos ||
            tag.find(prefix + ":noNamespaceSchemaLocation") != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace XML::internal
