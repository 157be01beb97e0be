#pragma once

#include <boost/noncopyable.hpp>

#include "support/Lockable.h"

namespace oryx {

// Holds a lock for a scope. release() gives it up early (and reports an
// unlock failure); the destructor gives up whatever is still held and, as
// destructors must, swallows the failure.
class AutoLock : boost::noncopyable {
public:
    // When lock() raises, nothing is held.
    explicit AutoLock(Lockable& lockable);
    virtual ~AutoLock();

    void release();

private:
    Lockable* held;
};

} // namespace oryx
