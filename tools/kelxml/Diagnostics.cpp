#include "Diagnostics.h"

#include "Documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

namespace kelxml {

namespace {

constexpr std::size_t kBefore = 60;  // characters shown before the column of a long line
constexpr std::size_t kAfter = 20;   // and after it
constexpr const char* kIndent = "  ";
// The name the library gives a document loaded from memory.
constexpr const char* kMemoryDocumentId = "toto";

// One character of a source line: its bytes, the UTF-16 units the parser counts for it, and
// what is shown for it.
struct Glyph {
    std::string_view bytes;
    unsigned units;
    bool printable;
};

// The length of the UTF-8 sequence at the start of text, 0 when it is not one.
std::size_t SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return length;
}

std::vector<Glyph> Glyphs(std::string_view line) {
    std::vector<Glyph> glyphs;
    while (!line.empty()) {
        const std::size_t length = SequenceLength(line);
        const std::string_view bytes = line.substr(0, length ? length : 1);
        const unsigned char lead = static_cast<unsigned char>(bytes[0]);
        // C0 and C1 controls, DEL and broken sequences would move or garble the terminal.
        const bool c1 = length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0;
        const bool printable = length != 0 && !c1 && (lead >= 0x20 || lead == '\t') && lead != 0x7F;
        glyphs.push_back({bytes, length == 4 ? 2u : 1u, printable});
        line.remove_prefix(bytes.size());
    }
    return glyphs;
}

// The text with '?' for what Glyphs would not show: one line, no control bytes.
std::string Printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const Glyph& glyph : Glyphs(text)) shown += glyph.printable ? glyph.bytes : std::string_view("?");
    return shown;
}

// The files HoldSource opened, by the name given: the last kHeld of them (a check of thousands
// of files shows each one's diagnostics right after its load), closed when the tool exits. The
// jobs of -j N hold and look up files at once: the lock keeps the table whole.
constexpr std::size_t kHeld = 32;
struct HeldFiles {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<const HeldFile>> open;
    std::vector<std::string> order;
};

HeldFiles& Held() {
    static HeldFiles files;
    return files;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    const std::filesystem::path absolute = std::filesystem::absolute(a, error);
    return !error && absolute.lexically_normal() == std::filesystem::path(b).lexically_normal();
}

}  // namespace

HeldFile::~HeldFile() { ::close(fd); }

std::string DisplayName(const std::string& file) { return file == "-" ? "<stdin>" : file; }

std::string MessageOf(const XML::sError& record) {
    if (record.eType > XML::E_FATAL_ERROR) return record.strMessage;
    // The library writes the place with 32-bit numbers.
    const std::string prefix = record.strSystemId + ", lig=" + std::to_string(static_cast<std::int32_t>(record.nLine)) +
                               " col=" + std::to_string(static_cast<std::int32_t>(record.nColumn)) + ", ";
    if (record.strMessage.compare(0, prefix.size(), prefix) != 0) return record.strMessage;
    return record.strMessage.substr(prefix.size());
}

std::string Excerpt(std::string_view line, std::uint64_t column, bool endWasCut, bool startWasCut) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (column == 0) return std::string();
    const std::vector<Glyph> glyphs = Glyphs(line);
    // The character the column falls on (glyphs.size(): just past the end of the line).
    std::size_t at = 0;
    std::uint64_t units = 1;  // the column glyphs[at] starts at
    for (; at < glyphs.size() && units + glyphs[at].units <= column; ++at) units += glyphs[at].units;
    if (at == glyphs.size() && units < column) return std::string();  // past the end
    const std::size_t first = at > kBefore ? at - kBefore : 0;
    const std::size_t last = std::min(glyphs.size(), at + kAfter);
    std::string text = kIndent;
    std::string caret = kIndent;
    if (first > 0 || startWasCut) {
        text += "...";
        caret += "   ";
    }
    for (std::size_t i = first; i < last; ++i) {
        text += glyphs[i].printable ? std::string(glyphs[i].bytes) : std::string("?");
        if (i < at) caret += glyphs[i].bytes == "\t" ? '\t' : ' ';
    }
    if (last < glyphs.size() || endWasCut) text += "...";
    return text + '\n' + caret + "^\n";
}

void HoldSource(const std::string& file) {
    if (file == "-") return;
    HeldFiles& held = Held();
    {
        const std::lock_guard<std::mutex> guard(held.lock);
        if (held.open.count(file)) return;
    }
    // Opened outside the lock: the jobs of -j N would otherwise queue behind each other's opens.
    // A path descriptor: nothing is opened for reading, so a FIFO's writer waiting for the load
    // is not woken (and then cut off) by this look.
    const int fd = ::open(file.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return;
    auto opened = std::make_shared<const HeldFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
    std::shared_ptr<const HeldFile> dropped;  // closed once the lock is let go
    const std::lock_guard<std::mutex> guard(held.lock);
    if (held.open.count(file)) return;
    if (held.order.size() == kHeld) {
        dropped = std::move(held.open[held.order.front()]);
        held.open.erase(held.order.front());
        held.order.erase(held.order.begin());
    }
    held.open.emplace(file, std::move(opened));
    held.order.push_back(file);
}

std::unique_ptr<SourceText> SourceText::FromFile(const std::string& path) {
    std::unique_ptr<SourceText> source(new SourceText());
    source->m_isFile = true;
    HeldFiles& held = Held();
    const std::lock_guard<std::mutex> guard(held.lock);
    if (const auto found = held.open.find(path); found != held.open.end()) {
        // The very file held, opened for reading through its path descriptor (whatever its name
        // now leads to).
        const std::string self = "/proc/self/fd/" + std::to_string(found->second->fd);
        const int fd = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) source->m_file = std::make_shared<const HeldFile>(fd);
    }
    source->m_buffer.resize(std::size_t{64} * 1024);
    return source;
}

std::unique_ptr<SourceText> SourceText::FromBytes(std::string_view bytes) {
    std::unique_ptr<SourceText> source(new SourceText());
    source->m_bytes = bytes;
    return source;
}

bool SourceText::Next(char& c) {
    if (!m_isFile) {
        if (m_pos >= m_bytes.size()) return false;
        c = m_bytes[m_pos++];
        ++m_offset;
        return true;
    }
    if (m_pos == m_len) {
        if (!m_file) return false;
        ssize_t n = 0;
        while ((n = ::pread(m_file->fd, m_buffer.data(), m_buffer.size(), static_cast<off_t>(m_offset))) < 0 &&
               errno == EINTR) {
        }
        m_len = n > 0 ? static_cast<std::size_t>(n) : 0;
        m_pos = 0;
        if (m_len == 0) return false;
    }
    c = m_buffer[m_pos++];
    ++m_offset;
    return true;
}

void SourceText::Rewind() { Seek(0, 1, false); }

void SourceText::Seek(std::uint64_t offset, std::uint64_t line, bool afterCR) {
    m_line = line;
    m_afterCR = afterCR;
    m_offset = offset;
    if (!m_isFile) {
        m_pos = static_cast<std::size_t>(offset);
        return;
    }
    m_pos = m_len = 0;
}

bool SourceText::Line(std::uint64_t number, std::string& text, bool& cut, std::uint64_t start, std::uint64_t length) {
    if (number == 0) return false;
    if (number == m_markLine)
        Seek(m_markOffset, m_markLine, m_markAfterCR);
    else if (number < m_line)
        Rewind();
    text.clear();
    cut = false;
    bool any = false;        // a line exists once one of its bytes, or its end, is there
    std::uint64_t next = 1;  // the column of the next character of the line
    bool kept = false;       // whether the character being read is kept
    for (char c; Next(c);) {
        if (m_line == number && m_markLine != number) {
            m_markLine = number;
            m_markOffset = m_offset - 1;
            m_markAfterCR = m_afterCR;
        }
        const bool skip = m_afterCR && c == '\n';
        m_afterCR = c == '\r';
        if (skip) continue;
        if (m_line == number) any = true;
        if (c == '\n' || c == '\r') {
            if (m_line++ == number) return true;
            continue;
        }
        if (m_line != number) continue;
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) {  // a character starts: one column, two beyond the BMP
            kept = next >= start;
            next += byte >= 0xF0 ? 2 : 1;
        }
        if (!kept) continue;
        if (next - start > length) {  // enough: the rest of the line is not needed
            cut = true;
            return true;
        }
        if (text.size() < kMaxLineBytes)
            text += c;
        else
            cut = true;
    }
    if (m_line == number && any) {
        ++m_line;  // the last line, without an end
        return true;
    }
    return false;
}

DiagnosticPrinter::DiagnosticPrinter(std::ostream& out, std::string file, std::string_view stdinBytes,
                                     std::vector<std::string> grammars)
    : m_out(out), m_file(std::move(file)), m_stdin(stdinBytes), m_grammars(std::move(grammars)) {}

std::string DiagnosticPrinter::Place(const std::string& systemId, SourceText*& source) {
    const bool fromStdin = m_file == "-";
    std::string key;
    std::string name;
    if (fromStdin ? systemId == kMemoryDocumentId : SameFile(m_file, systemId)) {
        key = m_file;
        name = DisplayName(m_file);
    } else {
        // Another entity: a DTD, an external entity, a schema. Shown only when the user named it.
        key = name = systemId.rfind("file://", 0) == 0 ? systemId.substr(7) : systemId;
        const auto named = std::find_if(m_grammars.begin(), m_grammars.end(),
                                        [&key](const std::string& grammar) { return SameFile(grammar, key); });
        if (named == m_grammars.end()) {
            source = nullptr;
            return name;
        }
        key = *named;  // held under the name the user gave
    }
    auto found = m_sources.find(key);
    if (found == m_sources.end()) {
        std::unique_ptr<SourceText> text = key == "-" ? SourceText::FromBytes(m_stdin) : SourceText::FromFile(key);
        found = m_sources.emplace(key, std::move(text)).first;
    }
    source = found->second.get();
    return name;
}

void DiagnosticPrinter::Print(const XML::sError& record) {
    // A message may quote the bytes it refuses.
    const std::string message = Printable(MessageOf(record));
    if (record.eType > XML::E_FATAL_ERROR || record.nLine == 0 || record.strSystemId.empty()) {
        m_out << DisplayName(m_file) << ": " << KindName(record.eType) << ": " << message << '\n';
        return;
    }
    SourceText* source = nullptr;
    const std::string name = Place(record.strSystemId, source);
    m_out << name << ':' << record.nLine << ':' << record.nColumn << ": " << KindName(record.eType) << ": " << message
          << '\n';
    // A long line is read from a little before the column on.
    const std::uint64_t start = record.nColumn > 2 * kBefore ? record.nColumn - 2 * kBefore : 1;
    std::string line;
    bool cut = false;
    if (source && source->Line(record.nLine, line, cut, start, record.nColumn - start + 1 + 2 * kAfter))
        m_out << Excerpt(line, record.nColumn - start + 1, cut, start > 1);
}

}  // namespace kelxml
