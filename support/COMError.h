#pragma once

#include <stdexcept>
#include <string>

#include "support/HRESULTHolder.h"

namespace oryx {

// A failing HRESULT. The text is fixed at construction: the caller's message,
// then ": " and the HRESULT's description.
class COMError : public std::runtime_error, public HRESULTHolder {
public:
    explicit COMError(HRESULT hr);
    COMError(HRESULT hr, const std::string& message);

    HRESULT hresult() const override;
};

} // namespace oryx
