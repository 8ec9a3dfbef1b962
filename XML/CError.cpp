#include "XML/CError.h"

#include <algorithm>
#include <utility>

namespace XML {

CError::~CError() = default;

void CError::AddError(E_TYPE_ERROR eType, const char* msg) {
    m_vErrors.push_back(sError{eType, msg ? std::string(msg) : std::string()});
}

void CError::AddError(sError record) { m_vErrors.push_back(std::move(record)); }

void CError::ResetError() { m_vErrors.clear(); }

bool CError::HasError() const { return !m_vErrors.empty(); }

bool CError::HasFatalError() const { return GetErrorCount(E_FATAL_ERROR) + GetErrorCount(E_EXCEPTION) > 0; }

std::size_t CError::GetErrorCount(E_TYPE_ERROR eType) const {
    return static_cast<std::size_t>(
        std::count_if(m_vErrors.begin(), m_vErrors.end(), [eType](const sError& e) { return e.eType == eType; }));
}

bool CError::GetFirstError(sError& out) const {
    if (m_vErrors.empty()) return false;
    out = m_vErrors.front();
    return true;
}

std::string CError::GetFirstErrorString() const {
    return m_vErrors.empty() ? std::string() : m_vErrors.front().strMessage;
}

}  // namespace XML
