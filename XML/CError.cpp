#include "XML/CError.h"

#include <utility>

namespace XML {

CError::~CError() = default;

void CError::AddError(E_TYPE_ERROR eType, const char* msg) {
    m_vErrors.push_back(sError{eType, msg ? std::string(msg) : std::string()});
}

void CError::AddError(sError record) { m_vErrors.push_back(std::move(record)); }

void CError::ResetError() { m_vErrors.clear(); }

bool CError::HasError() const { return !m_vErrors.empty(); }

bool CError::GetFirstError(sError& out) const {
    if (m_vErrors.empty()) return false;
    out = m_vErrors.front();
    return true;
}

std::string CError::GetFirstErrorString() const {
    return m_vErrors.empty() ? std::string() : m_vErrors.front().strMessage;
}

}  // namespace XML
