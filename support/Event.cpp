#include "support/Event.h"

#include "support/WindowsError.h"

namespace oryx {

Event::Event(bool manualReset, bool initiallySet)
{
    const HANDLE event = CreateEventA(nullptr, manualReset, initiallySet, nullptr);
    if (!event)
        throw WindowsError("Error in CreateEvent");
    adopt(event);
}

void Event::set()
{
    if (!SetEvent(handle()))
        throw WindowsError("Error in SetEvent");
}

void Event::clear()
{
    if (!ResetEvent(handle()))
        throw WindowsError("Error in ResetEvent");
}

} // namespace oryx
