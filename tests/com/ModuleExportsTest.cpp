// The real module, loaded the way a host loads it: its export table, the
// calling convention of DllGetClassInfos, and the entry points over the
// module's own class table.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "com/ClassInfo.h"
#include "tests/common/GuidText.h"
#include "support/Library.h"
#include "support/RegistryKey.h"
#include "support/VendorKey.h"
#include "tests/common/RegistryProbe.h"
#include "tests/monkeysaudio/SourceRegistrationScope.h"
#include "tests/support/VendorKeyScope.h"

namespace {

// {A1B2C3D4-E5F6-4A0B-9C8D-7E6F5A4B3C2D}, served by no module.
constexpr CLSID CLSID_NotServed = {0xa1b2c3d4, 0xe5f6, 0x4a0b, {0x9c, 0x8d, 0x7e, 0x6f, 0x5a, 0x4b, 0x3c, 0x2d}};

class Module : public testing::Test {
protected:
    oryx::Library module{APESRC_MODULE_PATH, true};

    std::vector<std::string> exportedNames() const
    {
        const auto* base = reinterpret_cast<const BYTE*>(module.handle());
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
        const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        std::vector<std::string> result;
        for (DWORD i = 0; i < exports->NumberOfNames; ++i)
            result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
        return result;
    }
};

TEST_F(Module, ExportsExactlyTheFiveEntryPointsUndecorated)
{
    const std::vector<std::string> expected = {"DllCanUnloadNow", "DllGetClassInfos", "DllGetClassObject",
                                               "DllRegisterServer", "DllUnregisterServer"};
    std::vector<std::string> names = exportedNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
}

// A cdecl callee leaves its arguments for the caller to remove; a stdcall
// one would have removed them itself. The stack pointer right after the
// call tells which. x64 has one calling convention, so there the call is
// an ordinary one. Either way the table comes back in its published layout:
// field n at n pointer widths.
TEST_F(Module, DllGetClassInfosHandsOutTheTableInItsPublishedLayout)
{
    void* const function = reinterpret_cast<void*>(module.procAddress("DllGetClassInfos"));
    const oryx::ClassInfo* infos = reinterpret_cast<const oryx::ClassInfo*>(1);
    std::uint32_t count = 99;
#if defined(__i386__)
    // The function and its arguments, then the stack pointer before and after.
    std::uintptr_t frame[5] = {reinterpret_cast<std::uintptr_t>(function), reinterpret_cast<std::uintptr_t>(&infos),
                               reinterpret_cast<std::uintptr_t>(&count), 0, 0};
    asm volatile("movl %%esp, 12(%0)\n\t"
                 "pushl 8(%0)\n\t"
                 "pushl 4(%0)\n\t"
                 "call *(%0)\n\t"
                 "movl %%esp, 16(%0)\n\t"
                 "movl 12(%0), %%esp"
                 :
                 : "r"(frame)
                 : "eax", "ecx", "edx", "memory", "cc");
    const std::uintptr_t before = frame[3];
    const std::uintptr_t after = frame[4];
    EXPECT_EQ(before - after, 8u) << "both arguments must still be on the stack";
#else
    reinterpret_cast<void (*)(const oryx::ClassInfo**, std::uint32_t*)>(function)(&infos, &count);
#endif
    ASSERT_EQ(count, 1u) << "the module serves its source filter and nothing else";
    EXPECT_TRUE(IsEqualGUID(*infos[0].clsid, guidOf("{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}")));
    EXPECT_EQ(infos[0].server_and_threading, 0x20u) << "InprocServer32, Both";
    EXPECT_STREQ(infos[0].name, L"Monkey's Audio File Source (Tonbrook)");
    EXPECT_NE(infos[0].filterRegistration, nullptr);

    // What a tool that knows only the layout reads: six pointer-wide slots.
    const auto* slots = reinterpret_cast<const std::uintptr_t*>(infos);
    EXPECT_EQ(slots[0], reinterpret_cast<std::uintptr_t>(infos[0].clsid));
    EXPECT_EQ(static_cast<std::uint32_t>(slots[1]), 0x20u);
    EXPECT_EQ(slots[2], reinterpret_cast<std::uintptr_t>(infos[0].name));
    EXPECT_EQ(slots[4], reinterpret_cast<std::uintptr_t>(infos[0].filterRegistration));
    EXPECT_EQ(slots[5], 0u) << "no shell extension";
}

TEST_F(Module, ServesNoClassOutsideItsTable)
{
    const auto getClassObject =
        module.entryPoint<HRESULT(WINAPI*)(const CLSID*, const IID*, void**)>("DllGetClassObject");
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(&CLSID_NotServed, &IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));
    EXPECT_EQ(getClassObject(nullptr, &IID_IClassFactory, &out), E_POINTER);
    EXPECT_EQ(getClassObject(&CLSID_NotServed, nullptr, &out), E_POINTER);
    EXPECT_EQ(getClassObject(&CLSID_NotServed, &IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(Module, CanBeUnloadedWhileNothingOfItLives)
{
    const auto canUnloadNow = module.entryPoint<HRESULT(WINAPI*)()>("DllCanUnloadNow");
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// The module registers its class and associates .ape with the source; only
// a development system may unregister.
TEST_F(Module, RegistersTheApeExtensionAndUnregistersOnlyOnADevelopmentSystem)
{
    VendorKeyScope vendorKey;
    SourceRegistrationScope registration;
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const auto registerServer = module.entryPoint<HRESULT(WINAPI*)()>("DllRegisterServer");
    const auto unregisterServer = module.entryPoint<HRESULT(WINAPI*)()>("DllUnregisterServer");
    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(registryprobe::valueOf(SourceRegistrationScope::extensionKey, "Source Filter"),
              "{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}");
    EXPECT_EQ(unregisterServer(), E_NOTIMPL);

    oryx::RegistryKey marker;
    marker.create(HKEY_LOCAL_MACHINE, oryx::vendorKey::keyName);
    const DWORD on = 1;
    marker.setValue(oryx::vendorKey::developmentSwitchValue, reinterpret_cast<const BYTE*>(&on), sizeof on, REG_DWORD);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_TRUE(registryprobe::keyExists(SourceRegistrationScope::extensionKey));
    CoUninitialize();
}

} // namespace
