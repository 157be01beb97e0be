#pragma once

#include <boost/noncopyable.hpp>
#include <windows.h>

#include "support/Lockable.h"

namespace oryx {

// A re-entrant in-process lock: the owning thread may lock again, and must
// unlock as often as it locked.
class CriticalSection : public Lockable, boost::noncopyable {
public:
    CriticalSection();
    ~CriticalSection();

    void lock() override;
    void unlock() override;

private:
    CRITICAL_SECTION section;
};

} // namespace oryx
