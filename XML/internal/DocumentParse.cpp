#include "XML/internal/DocumentParse.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace XML::internal {

using namespace xercesc;

// Reads back bytes of a document parsed from memory.
ByteReader BytesOf(const char* data, std::size_t size) {
    return [data, size](std::uint64_t offset, std::size_t length, std::string& bytes) {
        if (offset > size || length > size - offset) return false;
        bytes.assign(data + offset, length);
        return true;
    };
}

// What a load may read besides the document: the options' own rule, or the mode's.
E_RESOURCE_ACCESS AccessOf(const sLoadOptions& options) {
    if (options.eResources != E_RESOURCES_BY_MODE) return options.eResources;
    return options.eMode == E_LOAD_WELL_FORMED ? E_RESOURCES_NONE : E_RESOURCES_LOCAL;
}

void OpenDocument(const std::string& path, OpenedDocument& document, bool inFolder) {
    const std::size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // The name is looked at once: what it is when opened decides. O_NONBLOCK: the open itself
    // never waits for a FIFO's writer.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = -1;
    if (inFolder) {
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        document.folder.Reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (document.folder.get() >= 0 && !base.empty()) fd = ::openat(document.folder.get(), base.c_str(), kFlags);
    } else if (!base.empty()) {
        fd = ::open(path.c_str(), kFlags);
    }
    std::string why;
    document.open = document.file.Adopt(fd, why, true);
    document.regular = document.open && S_ISREG(document.file.Status().st_mode);
    if (document.file.Refused()) document.refusal = why;
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

DtdVerdict JudgeStreamDtd(OpenedFile& file, const XMLCh* id, const sLimits& limits, ResourceGate& gate) {
    DtdVerdict verdict;
    std::size_t judged = 0;
    for (;;) {
        std::string why;
        const long got = file.ReadMore(why);
        if (got < 0) return {};  // the parser reports it
        // Judged again once what was read doubled, or when the writer paused (so that a slow
        // writer's records are not held back for more of the stream than the DOCTYPE) and an
        // eighth more came: a writer that trickles cannot make the judging quadratic.
        const bool paused = static_cast<std::size_t>(got) < OpenedFile::kChunk;
        const std::size_t size = file.Head().size();
        if (!file.AtEnd() && size < 2 * judged && !(paused && size > judged + judged / 8)) continue;
        judged = size;
        verdict = JudgeDtd(file.Head(), file.AtEnd(), id, limits, &gate);
        if (!verdict.needMore || file.AtEnd()) return verdict;
        // What is read ahead is held: a stream whose DOCTYPE never ends must not fill memory.
        const std::size_t most = std::max(limits.maxExpandedCharacters, limits.maxExternalBytes);
        if (file.Head().size() > most) {
            verdict.refusal = "the prolog and DOCTYPE of a stream run past " + std::to_string(most) + " bytes";
            return verdict;
        }
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
        if (t[end] == '"' || t[end] == '\'') quote = quote == t[end] ? '\0' : (quote ? quote : t[end]);
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
