#pragma once

#include "com/InternalUnknown.h"

namespace oryx {

// The creation function of a class table record for a creatable class T
// (ClassInfo::create = CreateInstanceImpl<T>::createInstance). T derives
// from this empty base and from IUnknownImpl, and has a constructor taking
// the outer unknown.
template <typename T>
class CreateInstanceImpl {
public:
    // A new T with reference count 0, as its non-delegating unknown. An
    // allocation failure raises std::bad_alloc; when T's constructor raises,
    // the memory is freed and the exception propagates.
    static InternalUnknown* createInstance(IUnknown* outer) { return new T(outer); }

protected:
    ~CreateInstanceImpl() = default;
};

} // namespace oryx
