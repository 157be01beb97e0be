#pragma once
// A failure that apeplay reports as it is: the text is the whole one-line
// message after the program name, written for the person at the console.

#include <stdexcept>

namespace apeplay {

class PlayerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace apeplay
