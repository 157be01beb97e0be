#include "support/CriticalSection.h"

namespace oryx {

CriticalSection::CriticalSection()
{
    InitializeCriticalSection(&section);
}

CriticalSection::~CriticalSection()
{
    DeleteCriticalSection(&section);
}

void CriticalSection::lock()
{
    EnterCriticalSection(&section);
}

void CriticalSection::unlock()
{
    LeaveCriticalSection(&section);
}

} // namespace oryx
