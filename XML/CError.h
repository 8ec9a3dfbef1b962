// CError: the ordered list of what went wrong, oldest first.
#ifndef KELXML_CERROR_H
#define KELXML_CERROR_H

#include <XML/KelXMLExport.h>

#include <cstddef>
#include <cstdint>
#include <string>
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

// One record: its kind and its message in the local code page.
struct sError {
    E_TYPE_ERROR eType = E_WARNING;
    std::string strMessage;
};

class KELXML_EXPORT CError {
public:
    CError() = default;
    CError(const CError&) = default;
    CError& operator=(const CError&) = default;
    virtual ~CError();

    // Appends a record with a copy of msg; a null msg is recorded as the empty text.
    void AddError(E_TYPE_ERROR eType, const char* msg);
    // Removes every record.
    void ResetError();
    // True when the list holds at least one record of any kind (warnings count).
    bool HasError() const;
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

} // namespace XML

#endif
