#include "support/AutoLock.h"

#include <exception>

namespace oryx {

AutoLock::AutoLock(Lockable& lockable) : held(nullptr)
{
    lockable.lock();
    held = &lockable;
}

AutoLock::~AutoLock()
{
    try {
        release();
    } catch (const std::exception&) {
        // Nothing to tell from a destructor; the lock is forgotten either way.
    }
}

void AutoLock::release()
{
    if (!held)
        return;
    Lockable* lockable = held;
    // Forgotten first: a failed unlock must not be retried by the destructor.
    held = nullptr;
    lockable->unlock();
}

} // namespace oryx
