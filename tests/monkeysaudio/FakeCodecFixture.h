#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/monkeysaudio/CodecPlacement.h"
#include "tests/monkeysaudio/fakecodec/FakeCodecControl.h"

// A fake codec beside the module, the sound one unless a derived fixture
// names another variant, kept mapped by a reference of the test's own so that
// its control block can still be read after the objects under test have
// released theirs.
class FakeCodecFixture : public testing::Test {
protected:
    explicit FakeCodecFixture(const std::string& variant = "sound")
        : placement(std::string("fake-") + testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        placement.placeBesideModule(CodecPlacement::fakeCodec(variant));
        observer = LoadLibraryA((placement.moduleDirectory() + "\\MACDllC.dll").c_str());
        if (observer) {
            auto controlBlock = reinterpret_cast<FakeCodecControlFunction>(
                reinterpret_cast<void*>(GetProcAddress(observer, "FakeCodecControlBlock")));
            control = controlBlock ? controlBlock() : nullptr;
        }
    }

    ~FakeCodecFixture() override
    {
        if (observer)
            FreeLibrary(observer);
    }

    void SetUp() override { ASSERT_NE(control, nullptr) << "the fake codec could not be observed"; }

    CodecPlacement placement;
    HMODULE observer = nullptr;
    FakeCodecControl* control = nullptr;
};
