#pragma once

#include <cstddef>
#include <string>

// Task memory: what COM callers free with CoTaskMemFree.

// CoTaskMemAlloc, raising std::bad_alloc instead of returning null.
void* taskAllocate(std::size_t size);
// A task-memory copy of `text` with its terminating NUL.
wchar_t* taskStringCopy(const std::wstring& text);
