// The class object and the server that hands it out, over class tables the
// tests define.
#include <atomic>
#include <new>

#include <gtest/gtest.h>

#include "TestObjects.h"
#include "tests/common/ConcurrentRun.h"
#include "com/COMServer.h"
#include "support/COMPtr.h"

using namespace comtest;
using oryx::COMPtr;

namespace {

// {0C3E55A2-7D19-4F60-8B2A-91E4C5D07A33}
constexpr CLSID CLSID_NotServed = {0x0c3e55a2, 0x7d19, 0x4f60, {0x8b, 0x2a, 0x91, 0xe4, 0xc5, 0xd0, 0x7a, 0x33}};
// {6B1D0E47-2A95-4C38-A0F6-7E3B9C21D584}
constexpr CLSID CLSID_Abstract = {0x6b1d0e47, 0x2a95, 0x4c38, {0xa0, 0xf6, 0x7e, 0x3b, 0x9c, 0x21, 0xd5, 0x84}};
// {E2A4C6B8-1357-4D9F-8E0C-2468ACE13579}
constexpr CLSID CLSID_Refusing = {0xe2a4c6b8, 0x1357, 0x4d9f, {0x8e, 0x0c, 0x24, 0x68, 0xac, 0xe1, 0x35, 0x79}};
// {F1E2D3C4-B5A6-4978-8695-A4B3C2D1E0F9}
constexpr CLSID CLSID_Forbidden = {0xf1e2d3c4, 0xb5a6, 0x4978, {0x86, 0x95, 0xa4, 0xb3, 0xc2, 0xd1, 0xe0, 0xf9}};
// {13579BDF-2468-4ACE-9BDF-13579BDF2468}
constexpr CLSID CLSID_Hungry = {0x13579bdf, 0x2468, 0x4ace, {0x9b, 0xdf, 0x13, 0x57, 0x9b, 0xdf, 0x24, 0x68}};
// {2468ACE0-1357-4BDF-8ACE-02468ACE1357}
constexpr CLSID CLSID_Empty = {0x2468ace0, 0x1357, 0x4bdf, {0x8a, 0xce, 0x02, 0x46, 0x8a, 0xce, 0x13, 0x57}};

struct Hungry : std::bad_alloc {};

const oryx::ClassInfo testClasses[] = {
    {&CLSID_Abstract, 0x20, L"Abstract", nullptr, nullptr, nullptr},
    {&CLSID_Widget, 0x20, L"Widget", &Widget::createInstance, nullptr, nullptr},
    {&CLSID_Refusing, 0x20, L"Refusing", &Refusing<PreconditionFailure>::createInstance, nullptr, nullptr},
    {&CLSID_Forbidden, 0x20, L"Forbidden", &Refusing<AccessFailure>::createInstance, nullptr, nullptr},
    {&CLSID_Hungry, 0x20, L"Hungry", &Refusing<Hungry>::createInstance, nullptr, nullptr},
    {&CLSID_Empty, 0x20, L"Empty", &createNothing, nullptr, nullptr},
};

// The server under test is the module-wide one while a test runs, as the
// class objects reach the lock count through theServer.
class ClassObject : public testing::Test {
protected:
    oryx::COMServer server{testClasses, static_cast<std::uint32_t>(std::size(testClasses))};
    oryx::COMServer* const previousServer = std::exchange(oryx::theServer, &server);
    const LONG objectsBefore = oryx::objectCount;

    void TearDown() override
    {
        EXPECT_EQ(oryx::objectCount, objectsBefore) << "an object was left alive";
        EXPECT_EQ(server.locks(), 0);
        oryx::theServer = previousServer;
    }

    COMPtr<IClassFactory> classObject(const CLSID& clsid)
    {
        COMPtr<IClassFactory> factory;
        EXPECT_EQ(server.getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.receive())), S_OK);
        return factory;
    }
};

TEST_F(ClassObject, IsHandedOutWithOneReferenceAndKeepsTheServerLoaded)
{
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(server.getClassObject(CLSID_Widget, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObject, AnswersIUnknownAndIClassFactoryOnly)
{
    IUnknown* unknown = nullptr;
    ASSERT_EQ(server.getClassObject(CLSID_Widget, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.getClassObject(CLSID_Widget, IID_IPersist, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(oryx::objectCount, objectsBefore) << "the refused class object must be gone";
}

TEST_F(ClassObject, IsNotAvailableForClassesTheTableCannotCreate)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.getClassObject(CLSID_NotServed, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server.getClassObject(CLSID_Abstract, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, reinterpret_cast<void*>(1)) << "the out-pointer is left as it was";

    const oryx::COMServer empty(nullptr, 0);
    EXPECT_EQ(empty.getClassObject(CLSID_Widget, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server.getClassObject(CLSID_Widget, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassObject, CreatesInstancesThatAnswerTheAskedInterface)
{
    COMPtr<IClassFactory> factory = classObject(CLSID_Widget);
    IPersist* persist = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(oryx::objectCount, objectsBefore + 2);
    EXPECT_EQ(persist->AddRef(), 2u) << "the caller holds the only reference";
    persist->Release();
    EXPECT_EQ(persist->Release(), 0u);
}

TEST_F(ClassObject, ARefusedInterfaceLeavesNoInstanceBehind)
{
    COMPtr<IClassFactory> factory = classObject(CLSID_Widget);
    const LONG withFactory = oryx::objectCount;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(oryx::objectCount, withFactory);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, nullptr), E_POINTER);
}

TEST_F(ClassObject, ReportsAFailingConstructorAsItsHResult)
{
    struct Case {
        const CLSID* clsid;
        HRESULT expected;
    };
    const Case cases[] = {
        {&CLSID_Refusing, E_FAIL},
        {&CLSID_Forbidden, E_ACCESSDENIED},
        {&CLSID_Hungry, E_OUTOFMEMORY},
        {&CLSID_Empty, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        COMPtr<IClassFactory> factory = classObject(*c.clsid);
        const LONG withFactory = oryx::objectCount;
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), c.expected);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(oryx::objectCount, withFactory);
    }
}

// How a C caller reaches CreateInstance, where the interface identifier is
// a plain pointer that may be null.
TEST_F(ClassObject, RefusesANullInterfaceIdentifier)
{
    COMPtr<IClassFactory> factory = classObject(CLSID_Widget);
    using CreateInstanceFromC = HRESULT(STDMETHODCALLTYPE*)(IClassFactory*, IUnknown*, const IID*, void**);
    const auto createInstance = reinterpret_cast<CreateInstanceFromC>((*reinterpret_cast<void***>(factory.get()))[3]);
    void* out = nullptr;
    EXPECT_EQ(createInstance(factory.get(), nullptr, nullptr, &out), E_POINTER);
    EXPECT_EQ(createInstance(factory.get(), nullptr, &IID_IPersist, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
}

TEST_F(ClassObject, LockServerCountsLocksAndRefusesOneTooManyUnlocks)
{
    COMPtr<IClassFactory> factory = classObject(CLSID_Widget);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.release();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "locks outlive the class object that took them";

    factory = classObject(CLSID_Widget);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    EXPECT_EQ(server.locks(), 0);
    factory.release();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObject, RacingUnlocksNeverTakeTheCountBelowZero)
{
    constexpr int locks = 1000;
    constexpr int threadCount = 4;
    for (int i = 0; i < locks; ++i)
        server.lock();

    std::atomic<int> unlocked = 0;
    std::atomic<int> refused = 0;
    ASSERT_TRUE(runConcurrently(threadCount, [&] {
        COMPtr<IClassFactory> factory = classObject(CLSID_Widget);
        // Together the threads ask for twice as many unlocks as there are locks.
        for (int i = 0; i < 2 * locks / threadCount; ++i)
            ++(factory->LockServer(FALSE) == S_OK ? unlocked : refused);
    })) << "the unlocking threads did not finish";
    EXPECT_EQ(unlocked, locks);
    EXPECT_EQ(refused, locks);
    EXPECT_EQ(server.locks(), 0);
}

} // namespace
