// Transcode: text between the caller's local code page and the parser's UTF-16, at any length.
// The parser library's transcoder counts in 32-bit integers (it refuses 2^30 UTF-16 units or
// 2^31 bytes and answers null, which read as an empty text): longer texts are converted in
// pieces cut between characters, and a text that cannot be converted is reported as such.
// Internal to the library.
#ifndef KELXML_INTERNAL_TRANSCODE_H
#define KELXML_INTERNAL_TRANSCODE_H

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace XML::internal {

using XString = std::basic_string<XMLCh>;

// The longest piece given to the transcoder at once (bytes or UTF-16 units), well below its limits.
inline constexpr std::size_t kPiece = std::size_t(1) << 28;

// text (length bytes, no terminator needed) appended to out in UTF-16. False when the transcoder
// refuses it, or no cut between characters is found for a text longer than piece; out then holds
// part of it. Allocation failures throw.
bool AppendUtf16(const char* text, std::size_t length, XString& out, std::size_t piece = kPiece);
// text (length units) appended to out in the local code page; the same rules.
bool AppendLocal(const XMLCh* text, std::size_t length, std::string& out, std::size_t piece = kPiece);

// A caller's text in UTF-16, for a member operation (the text is read up to its first NUL by the
// DOM calls that take it): throws ConversionError when it cannot be converted.
XString To16(std::string_view text);

// Buffers for XStr, from the parser's memory manager (XMLString::release frees them): the
// converted text, or null when the source is null or cannot be converted. Allocation failures throw.
XMLCh* NewUtf16(const char* text);
char* NewLocal(const XMLCh* text);

// text = source in the local code page; null gives the empty text. False, text untouched, when
// it cannot be converted or memory runs out. Never throws.
bool ToLocal(const XMLCh* source, std::string& text) noexcept;
// Appends the UTF-8 bytes of one Unicode scalar value (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, char32_t code);

// Thrown when a caller's text cannot be converted (To16); what() is the message the operation
// records.
class ConversionError : public std::runtime_error {
public:
    ConversionError();
};

}  // namespace XML::internal

#endif
