#pragma once

#include "support/WindowsHandle.h"

namespace oryx {

// An unnamed kernel event. A manual-reset event stays set until clear(); an
// automatic one is cleared by the one wait it releases.
class Event : public WindowsHandle {
public:
    Event(bool manualReset, bool initiallySet);

    void set();
    void clear();
};

} // namespace oryx
