#pragma once

#include <boost/noncopyable.hpp>
#include <windows.h>

namespace oryx {

// Owner of a local memory block, the form in which the system hands out
// formatted message texts. Fixed blocks are their own address; movable ones
// are locked to get one, and any locks still held are undone before freeing.
class LocalMemory : boost::noncopyable {
public:
    LocalMemory(HLOCAL handle, bool movable);
    ~LocalMemory();

    void* lock();
    // True while the block stays locked; always false for fixed memory.
    bool unlock();
    UINT flags() const;
    void free();

private:
    static constexpr LONG fixedMemory = -1;

    HLOCAL handle;
    // fixedMemory, or the number of outstanding locks of a movable block.
    LONG lockCount;
};

} // namespace oryx
