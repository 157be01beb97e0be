#pragma once

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <objbase.h>

// The GUID a braced registry text stands for, through the platform's own
// parser rather than the code under test.
inline GUID guidOf(const char* text)
{
    GUID guid;
    EXPECT_EQ(CLSIDFromString(std::wstring(text, text + std::strlen(text)).c_str(), &guid), S_OK) << text;
    return guid;
}
