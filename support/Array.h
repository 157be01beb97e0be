#pragma once

#include <algorithm>
#include <new>

#include <boost/noncopyable.hpp>

#include "support/FixedArray.h"

namespace oryx {

// A scratch buffer of a fixed element count that owns its block. resize()
// keeps the leading elements; the new tail is default-initialised.
template <typename T, typename A>
class Array : public FixedArray<T>, boost::noncopyable {
public:
    Array() = default;
    explicit Array(std::int32_t n) { resize(n); }
    virtual ~Array() { ::operator delete(this->data); }

    void resize(std::int32_t n)
    {
        if (n == this->count)
            return;
        T* block = static_cast<T*>(::operator new(sizeof(T) * static_cast<std::size_t>(n), std::nothrow));
        if (!block && n > 0)
            throw std::bad_alloc();
        std::copy_n(this->data, std::min(this->count, n), block);
        ::operator delete(this->data);
        this->data = block;
        this->count = n;
    }
};

} // namespace oryx
