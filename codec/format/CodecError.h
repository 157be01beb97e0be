// The exception the codec core raises; the C interface turns it into its
// error code (the APE_ERROR_* values of apecodec.h).
#pragma once

#include <stdexcept>

namespace ape {

class CodecError : public std::runtime_error {
public:
    CodecError(int code, const char* what) : std::runtime_error(what), errorCode(code) {}
    int code() const { return errorCode; }

private:
    int errorCode;
};

} // namespace ape
