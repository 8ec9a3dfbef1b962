// CError: the ordered list of what went wrong, oldest first.
#ifndef KELXML_CERROR_H
#define KELXML_CERROR_H

#include <XML/KelXMLExport.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace XML {

// Kind of a recorded error.
enum E_TYPE_ERROR : std::int32_t {
    E_WARNING = 0,      // parser warning while loading
    E_ERROR = 1,        // parser error while loading (a validity error, for instance)
    E_FATAL_ERROR = 2,  // parser fatal error while loading (not well-formed)
    E_EXCEPTION = 3,    // an exception of the parser library, caught by a member operation
    E_MISSING = 4       // something an operation needs is absent
};

// One record: its kind and its message in the local code page. A parser diagnostic (kinds 0-2
// while loading) also carries where it was found: the line and column (from 1) and the system
// identifier of the entity read (the file, a DTD, "toto" for memory); other records leave them
// 0, 0 and empty. The message text holds the same place in front of it; strText holds the
// parser's message alone (for other records, the same text as strMessage).
struct sError {
    sError() = default;
    // Not an aggregate, so that {kind, text} still names every field it needs to.
    sError(E_TYPE_ERROR type, std::string message, std::uint64_t line = 0, std::uint64_t column = 0,
           std::string systemId = std::string(), std::string text = std::string())
        : eType(type),
          strMessage(std::move(message)),
          nLine(line),
          nColumn(column),
          strSystemId(std::move(systemId)),
          strText(text.empty() ? strMessage : std::move(text)) {}

    E_TYPE_ERROR eType = E_WARNING;
    std::string strMessage;
    std::uint64_t nLine = 0;
    std::uint64_t nColumn = 0;
    std::string strSystemId;
    std::string strText;
};

class KELXML_EXPORT CError {
public:
    CError() = default;
    CError(const CError&) = default;
    CError& operator=(const CError&) = default;
    virtual ~CError();

    // Appends a record with a copy of msg; a null msg is recorded as the empty text.
    void AddError(E_TYPE_ERROR eType, const char* msg);
    // Appends record as it is, place included.
    void AddError(sError record);
    // Removes every record.
    void ResetError();
    // True when the list holds at least one record of any kind (warnings count).
    bool HasError() const;
    // True when it holds a fatal error or an exception: after a load, the document was not
    // well-formed, could not be read or was refused (what it holds, if any, is incomplete).
    bool HasFatalError() const;
    // Number of records of that kind.
    std::size_t GetErrorCount(E_TYPE_ERROR eType) const;
    // Copies the oldest record into out and returns true; false with out untouched when empty.
    bool GetFirstError(sError& out) const;
    // The oldest record's text, or the empty string when the list is empty.
    std::string GetFirstErrorString() const;

    // Number of records held.
    std::size_t GetErrorCount() const { return m_vErrors.size(); }
    // Every record, oldest first. The reference is valid as long as this list is.
    const std::vector<sError>& GetAllErrors() const { return m_vErrors; }

private:
    std::vector<sError> m_vErrors;
};

}  // namespace XML

#endif
