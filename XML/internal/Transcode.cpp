// Transcode: conversions between the local code page and UTF-16 of any length (see Transcode.h):
// ASCII directly, the rest through the parser library's transcoder, piece by piece.
#include "XML/internal/Transcode.h"

#include "XML/internal/Messages.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>
#include <type_traits>
#include <utility>

using xercesc::XMLPlatformUtils;
using xercesc::XMLString;

namespace XML::internal {

namespace {

// A buffer the transcoder returned, released on every path.
template <class Char>
class Transcoded {
public:
    explicit Transcoded(Char* text) noexcept : m_text(text) {}
    ~Transcoded() {
        if (m_text) XMLString::release(&m_text, XMLPlatformUtils::fgMemoryManager);
    }
    Transcoded(const Transcoded&) = delete;
    Transcoded& operator=(const Transcoded&) = delete;
    const Char* get() const noexcept { return m_text; }

private:
    Char* m_text;
};

template <class Char>
bool IsAscii(const Char* text, std::size_t length) {
    using Unit = std::make_unsigned_t<Char>;
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<Unit>(text[i]) >= 0x80) return false;
    }
    return true;
}

// Whether the local code page is UTF-8, as on nearly every system today: asked once.
bool LocalIsUtf8() {
    static const bool utf8 = [] {
        try {
            const Transcoded<XMLCh> wide(XMLString::transcode("\xC3\xA9", XMLPlatformUtils::fgMemoryManager));
            return wide.get() && wide.get()[0] == 0xE9 && wide.get()[1] == 0;
        } catch (...) {
            return false;
        }
    }();
    return utf8;
}

// Whether a local text may be cut before byte p (0 < p): in UTF-8, anywhere but before a
// continuation byte. In the other code pages (EUC, Shift_JIS, Big5, GB18030, single-byte ones)
// between two ASCII bytes: none of them has a character that goes on after an ASCII byte with
// another one.
bool CutsLocal(const char* text, std::size_t p) {
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (LocalIsUtf8()) return (byte(p) & 0xC0) != 0x80;
    return byte(p - 1) < 0x80 && byte(p) < 0x80;
}

// Whether a UTF-16 text may be cut before unit p: anywhere but inside a surrogate pair.
bool CutsUtf16(const XMLCh* text, std::size_t p) { return text[p] < 0xDC00 || text[p] > 0xDFFF; }

// Converts text[0, length) piece by piece, none longer than piece, each cut where cuts allows.
// Room(n) gives the place of the next n converted units (null: no room). False when the
// transcoder refuses a piece, or a piece has no cut.
template <class From, class To, class Cuts, class Room>
bool ConvertPieces(const From* text, std::size_t length, std::size_t piece, Cuts cuts, Room&& room) {
    std::basic_string<From> scratch;  // the transcoder wants a terminated piece
    for (std::size_t start = 0; start < length;) {
        std::size_t end = length;
        if (length - start > piece) {
            for (end = start + piece; end > start && !cuts(text, end);) --end;
            if (end == start) return false;
        }
        const std::size_t count = end - start;
        if (IsAscii(text + start, count)) {
            To* out = room(count);
            if (!out) return false;
            for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<To>(text[start + i]);
        } else {
            scratch.assign(text + start, count);
            const Transcoded<To> converted(XMLString::transcode(scratch.c_str(), XMLPlatformUtils::fgMemoryManager));
            if (!converted.get()) return false;
            const std::size_t units = std::char_traits<To>::length(converted.get());
            To* out = room(units);
            if (!out) return false;
            std::char_traits<To>::copy(out, converted.get(), units);
        }
        start = end;
    }
    return true;
}

// Room at the end of a string, which grows by n.
template <class Char>
auto GrowingRoom(std::basic_string<Char>& out) {
    return [&out](std::size_t n) {
        out.resize(out.size() + n);
        return &out[out.size() - n];
    };
}

// A buffer from the parser's memory manager, released unless handed over.
template <class Char>
class ManagedBuffer {
public:
    explicit ManagedBuffer(std::size_t units)
        : m_text(static_cast<Char*>(XMLPlatformUtils::fgMemoryManager->allocate((units + 1) * sizeof(Char)))),
          m_capacity(units) {}
    ~ManagedBuffer() {
        if (m_text) XMLPlatformUtils::fgMemoryManager->deallocate(m_text);
    }
    ManagedBuffer(const ManagedBuffer&) = delete;
    ManagedBuffer& operator=(const ManagedBuffer&) = delete;
    Char* Room(std::size_t n) {
        if (m_capacity - m_used < n) return nullptr;
        m_used += n;
        return m_text + m_used - n;
    }
    Char* Release() {
        m_text[m_used] = 0;
        return std::exchange(m_text, nullptr);
    }

private:
    Char* m_text;
    std::size_t m_capacity;
    std::size_t m_used = 0;
};

}  // namespace

bool AppendUtf16(const char* text, std::size_t length, XString& out, std::size_t piece) {
    out.reserve(out.size() + length);  // as many units as bytes at most
    return ConvertPieces<char, XMLCh>(text, length, piece, CutsLocal, GrowingRoom(out));
}

bool AppendLocal(const XMLCh* text, std::size_t length, std::string& out, std::size_t piece) {
    out.reserve(out.size() + length);  // as many bytes as units at least
    return ConvertPieces<XMLCh, char>(text, length, piece, CutsUtf16, GrowingRoom(out));
}

XMLCh* NewUtf16(const char* text) {
    if (!text) return nullptr;
    const std::size_t length = std::strlen(text);
    // No local code page gives more UTF-16 units than it has bytes.
    ManagedBuffer<XMLCh> buffer(length);
    const bool ok = ConvertPieces<char, XMLCh>(text, length, kPiece, CutsLocal,
                                               [&buffer](std::size_t n) { return buffer.Room(n); });
    return ok ? buffer.Release() : nullptr;
}

XString To16(std::string_view text) {
    XString converted;
    if (!AppendUtf16(text.data(), text.size(), converted)) throw ConversionError();
    return converted;
}

char* NewLocal(const XMLCh* text) {
    if (!text) return nullptr;
    std::string local;
    if (!AppendLocal(text, XMLString::stringLen(text), local)) return nullptr;
    ManagedBuffer<char> buffer(local.size());
    std::memcpy(buffer.Room(local.size()), local.data(), local.size());
    return buffer.Release();
}

bool ToLocal(const XMLCh* source, std::string& text) noexcept {
    try {
        std::string local;
        if (source && !AppendLocal(source, XMLString::stringLen(source), local)) return false;
        text = std::move(local);
        return true;
    } catch (...) {
        return false;
    }
}

ConversionError::ConversionError() : std::runtime_error(msg::kUnconvertibleText) {}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((code >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace XML::internal
