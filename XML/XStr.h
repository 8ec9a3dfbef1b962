// XStr: holds one string converted, once, between the local 8-bit code page
// and the parser's 16-bit XMLCh form.
#ifndef KELXML_XSTR_H
#define KELXML_XSTR_H

#include <XML/KelXMLExport.h>

#include <xercesc/util/XercesDefs.hpp>

#include <string>

namespace XML {

class KELXML_EXPORT XStr {
public:
    // Converts 16-bit text to the local code page; unicodeForm() is then null.
    // A null source, or one that cannot be converted, gives a null localForm().
    explicit XStr(const XMLCh* const toTranscode);
    // Converts local text to XMLCh, at any length; localForm() is then null.
    // A null source, or one that cannot be converted, gives a null unicodeForm().
    explicit XStr(const char* const toTranscode);

    // Copies duplicate the converted text, so each holder owns its own buffer.
    XStr(const XStr& other);
    XStr& operator=(const XStr& other);
    // Moves hand the buffer over and leave the source empty.
    XStr(XStr&& other) noexcept;
    XStr& operator=(XStr&& other) noexcept;

    // Releases the converted buffer through the parser library.
    ~XStr();

    // The local-code-page text, owned by this holder (null when made from char text).
    const char* localForm() const { return m_pLocal; }
    // The XMLCh text, owned by this holder (null when made from XMLCh text).
    const XMLCh* unicodeForm() const { return m_pUnicode; }

    // Converts 16-bit text to a local std::string; null, or text that cannot be converted,
    // gives the empty string.
    static std::string ToLocal(const XMLCh* text);

private:
    XStr() noexcept = default;
    void Release() noexcept;

    char* m_pLocal = nullptr;
    XMLCh* m_pUnicode = nullptr;
};

}  // namespace XML

#endif
