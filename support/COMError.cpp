#include "support/COMError.h"

#include "support/Diagnostics.h"

namespace oryx {

namespace {

std::string compose(HRESULT hr, const std::string& message)
{
    const std::string description = describeHRESULT(hr);
    return message.empty() ? description : message + ": " + description;
}

} // namespace

COMError::COMError(HRESULT hr) : COMError(hr, std::string())
{
}

COMError::COMError(HRESULT hr, const std::string& message)
    : std::runtime_error(compose(hr, message)), HRESULTHolder(static_cast<std::uint32_t>(hr))
{
}

HRESULT COMError::hresult() const
{
    return static_cast<HRESULT>(code);
}

} // namespace oryx
