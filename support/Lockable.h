#pragma once

namespace oryx {

// Anything that can be locked and unlocked, so that AutoLock can guard a
// critical section or a kernel mutex alike. Subclasses supply both
// operations. Objects are never destroyed through this interface, hence the
// protected, non-virtual destructor.
class Lockable {
public:
    virtual void lock() = 0;
    virtual void unlock() = 0;

protected:
    ~Lockable() = default;
};

} // namespace oryx
