// Diagnostics: how kelxml shows a record of the error list. A parser diagnostic reads
//   FILE:LINE:COLUMN: KIND: MESSAGE
// (the form compilers use, which editors turn into links), followed, where the source can be
// read again, by its line and a caret under the column; any other record reads FILE: KIND: MESSAGE.
#ifndef KELXML_TOOL_DIAGNOSTICS_H
#define KELXML_TOOL_DIAGNOSTICS_H

#include <XML/CError.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kelxml {

// The name FILE is shown by: "<stdin>" for "-".
std::string DisplayName(const std::string& file);

// The message of a record without the "<id>, lig=N col=M, " the library puts in front of a
// parser diagnostic, recognised from the record's own place fields (never guessed from the
// text); the whole text when it does not start that way.
std::string MessageOf(const XML::sError& record);

// The line of source text and a caret under column (from 1, counted in UTF-16 units as the
// parser counts), as two lines each starting with two spaces. Tabs are kept, so the caret lines
// up under them; control characters and bytes that are not UTF-8 show as '?'; a long line is
// cut to a window around the column, marked "..." (also where the line given is itself only
// part of the source line: startWasCut, endWasCut). Empty when the column is past the line's end.
std::string Excerpt(std::string_view line, std::uint64_t column, bool endWasCut = false, bool startWasCut = false);

// Takes hold of file now, before it is loaded, for the excerpts of its diagnostics: a regular
// file only, by a path descriptor (a FIFO is not opened for reading, so its writer is left to the
// load). The excerpts open that very file through it, never the name again, so that a link or
// FIFO put in its place after the load is neither read nor waited on.
void HoldSource(const std::string& file);
// A descriptor HoldSource opened, or one an excerpt reads.
struct HeldFile {
    explicit HeldFile(int descriptor) : fd(descriptor) {}
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile();
    const int fd;
};

// Numbered lines of a text read again: a regular file held by HoldSource (anything else, a pipe
// or device, a file not held, is not reread) or bytes in memory. Lines end at LF, CR or CR LF,
// as the parser counts them.
class SourceText {
public:
    static constexpr std::size_t kMaxLineBytes = std::size_t{64} * 1024;

    // A file held by HoldSource; any other has no lines.
    static std::unique_ptr<SourceText> FromFile(const std::string& path);
    // Bytes that outlive the object.
    static std::unique_ptr<SourceText> FromBytes(std::string_view bytes);

    // Line number (from 1) from its character at column start on (counted as the parser
    // counts), at most kMaxLineBytes of it (cut tells whether there was more). False when the
    // text has no such line. Reading forward is linear over a whole run of diagnostics; the
    // line read last is read again from its start (many diagnostics on one long line), any
    // other earlier line from the top.
    // At most length characters from start are kept.
    bool Line(std::uint64_t number, std::string& text, bool& cut, std::uint64_t start = 1,
              std::uint64_t length = UINT64_MAX);

private:
    SourceText() = default;
    bool Next(char& c);
    void Rewind();
    // Goes back to byte offset, at the start of line (after a CR when afterCR).
    void Seek(std::uint64_t offset, std::uint64_t line, bool afterCR);

    std::string_view m_bytes;
    std::shared_ptr<const HeldFile> m_file;  // closed by its last holder
    bool m_isFile = false;
    std::vector<char> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::uint64_t m_line = 1;    // the line the next byte belongs to
    bool m_afterCR = false;      // a LF right after a CR ends no second line
    std::uint64_t m_offset = 0;  // bytes read
    // Where the line read last starts.
    std::uint64_t m_markLine = 0;
    std::uint64_t m_markOffset = 0;
    bool m_markAfterCR = false;
};

// Prints the records of one document (control bytes and broken UTF-8 of a message as '?'), reading its source again
// for the excerpts. file is the FILE argument ("-": standard input, whose bytes stdinBytes holds). Only the document
// and the grammar files the user named are ever shown: a line of any other file a diagnostic names (an entity, a DTD
// or schema the document names, which may be any file of the machine) is not.
class DiagnosticPrinter {
public:
    DiagnosticPrinter(std::ostream& out, std::string file, std::string_view stdinBytes = std::string_view(),
                      std::vector<std::string> grammars = {});
    void Print(const XML::sError& record);

private:
    // Where a diagnostic with that system identifier was found: the FILE argument when it is
    // the document itself; the source to read its line from (null when none).
    std::string Place(const std::string& systemId, SourceText*& source);

    std::ostream& m_out;
    std::string m_file;
    std::string_view m_stdin;
    std::vector<std::string> m_grammars;
    std::map<std::string, std::unique_ptr<SourceText>> m_sources;
};

}  // namespace kelxml

#endif
