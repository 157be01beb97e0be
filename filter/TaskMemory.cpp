#include "filter/TaskMemory.h"

#include <cstring>
#include <new>

#include <objbase.h>

void* taskAllocate(std::size_t size)
{
    void* const block = CoTaskMemAlloc(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

wchar_t* taskStringCopy(const std::wstring& text)
{
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* const copy = static_cast<wchar_t*>(taskAllocate(bytes));
    std::memcpy(copy, text.c_str(), bytes);
    return copy;
}
