#pragma once
// Everything the encoder refuses (input it cannot represent, a residual the
// coder cannot carry, a stereo width conflict) is reported as this exception,
// with a message fit to show the user on one line.

#include <stdexcept>
#include <string>

namespace ape {

class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace ape
