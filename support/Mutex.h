#pragma once

#include "support/Lockable.h"
#include "support/WindowsHandle.h"

namespace oryx {

// An unnamed kernel mutex, re-entrant for its owner. Unlike a critical
// section it can be waited for together with other handles, and a mutex
// left by a thread that ended while owning it is taken over by the next
// locker rather than reported.
class Mutex : public WindowsHandle, public Lockable {
public:
    explicit Mutex(bool initiallyOwned);

    void lock() override;
    void unlock() override;
};

} // namespace oryx
