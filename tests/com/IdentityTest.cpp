// Reference counting, identity and aggregation of objects built on
// IUnknownImpl. Every scenario ends with the module's object count back
// where it started.
#include <atomic>

#include <gtest/gtest.h>

#include "TestObjects.h"
#include "tests/common/ConcurrentRun.h"
#include "com/COMServer.h"
#include "com/Factory.h"
#include "support/COMPtr.h"

using namespace comtest;
using oryx::COMPtr;

namespace {

class Identity : public testing::Test {
protected:
    const LONG objectsBefore = oryx::objectCount;

    void TearDown() override { EXPECT_EQ(oryx::objectCount, objectsBefore) << "an object was left alive"; }

    // A Widget made the way the class object makes it, holding one reference.
    static IQualityControl* newWidget()
    {
        const COMPtr<IUnknown> object(Widget::createInstance(nullptr));
        IQualityControl* widget = nullptr;
        EXPECT_EQ(object->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&widget)), S_OK);
        return widget;
    }
};

TEST_F(Identity, ANewObjectIsCountedAndHasNoReferenceUntilItIsFirstQueried)
{
    oryx::InternalUnknown* object = Widget::createInstance(nullptr);
    EXPECT_EQ(oryx::objectCount, objectsBefore + 1);
    EXPECT_EQ(object->AddRef(), 1u) << "the object must be born with count 0";
    EXPECT_EQ(object->Release(), 0u);
}

TEST_F(Identity, TheReleaseThatReachesZeroDestroysTheObject)
{
    IQualityControl* widget = newWidget();
    EXPECT_EQ(oryx::objectCount, objectsBefore + 1);
    EXPECT_EQ(widget->AddRef(), 2u);
    EXPECT_EQ(widget->AddRef(), 3u);
    EXPECT_EQ(widget->Release(), 2u);
    EXPECT_EQ(widget->Release(), 1u);
    EXPECT_EQ(oryx::objectCount, objectsBefore + 1);
    EXPECT_EQ(widget->Release(), 0u);
}

TEST_F(Identity, EveryInterfaceAnswersIUnknownWithOnePointer)
{
    COMPtr<IQualityControl> widget;
    *widget.receive() = newWidget();
    COMPtr<IPersist> persist;
    persist = widget.get();

    IUnknown* fromQuality = nullptr;
    IUnknown* fromPersist = nullptr;
    IUnknown* again = nullptr;
    ASSERT_EQ(widget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromQuality)), S_OK);
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromPersist)), S_OK);
    ASSERT_EQ(fromPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(fromQuality, fromPersist);
    EXPECT_EQ(fromQuality, again);
    EXPECT_NE(static_cast<void*>(fromQuality), static_cast<void*>(widget.get()))
        << "this class answers IID_IUnknown through IPersistImpl";
    fromQuality->Release();
    fromPersist->Release();
    again->Release();
}

TEST_F(Identity, AnUnknownInterfaceIsRefusedWithoutTouchingTheCount)
{
    COMPtr<IQualityControl> widget;
    *widget.receive() = newWidget();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(widget->QueryInterface(IID_IBaseFilter, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(widget->QueryInterface(IID_IPersist, nullptr), E_POINTER);
    EXPECT_EQ(widget->AddRef(), 2u) << "a refused query must not take a reference";
    widget->Release();
}

TEST_F(Identity, GetClassIdWritesTheConcreteClassAndRefusesNull)
{
    COMPtr<IQualityControl> widget;
    *widget.receive() = newWidget();
    COMPtr<IPersist> persist;
    persist = widget.get();
    CLSID clsid{};
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Widget));
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
}

TEST_F(Identity, ReferencesFromManyThreadsEndAtExactlyZero)
{
    IQualityControl* widget = newWidget();
    constexpr int threadCount = 8;
    constexpr int roundsPerThread = 100000;
    std::atomic<bool> countWentWrong = false;
    ASSERT_TRUE(runConcurrently(threadCount, [&] {
        for (int i = 0; i < roundsPerThread; ++i) {
            if (widget->AddRef() < 2 || widget->Release() < 1)
                countWentWrong = true;
        }
    })) << "the reference counting threads did not finish";
    EXPECT_FALSE(countWentWrong);
    EXPECT_EQ(widget->Release(), 0u);
}

// The aggregation scenarios go through the class object, as a host would.
class Aggregation : public Identity {
protected:
    const oryx::ClassInfo classes[1] = {{&CLSID_Widget, 0x20, L"Widget", &Widget::createInstance, nullptr, nullptr}};
    oryx::COMServer server{classes, 1};
    COMPtr<IClassFactory> factory;

    void SetUp() override
    {
        ASSERT_EQ(server.getClassObject(CLSID_Widget, IID_IClassFactory, reinterpret_cast<void**>(factory.receive())),
                  S_OK);
    }
    void TearDown() override
    {
        factory.release();
        Identity::TearDown();
    }
};

TEST_F(Aggregation, TheInnerObjectsInterfacesCountOnAndAnswerForTheOuter)
{
    bool outerDestroyed = false;
    auto* outer = new Outer(&outerDestroyed);
    ASSERT_EQ(outer->aggregate(factory.get()), S_OK);
    ASSERT_NE(outer->inner, nullptr);

    IQualityControl* quality = nullptr;
    ASSERT_EQ(outer->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)), S_OK);
    EXPECT_EQ(outer->references, 2) << "a reference to an inner interface counts on the outer";

    IUnknown* identity = nullptr;
    ASSERT_EQ(quality->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(outer)) << "the aggregate has the outer's identity";
    identity->Release();

    IPersist* persist = nullptr;
    ASSERT_EQ(quality->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(outer->references, 3);
    persist->Release();
    quality->Release();
    EXPECT_EQ(outer->references, 1);
    EXPECT_EQ(oryx::objectCount, objectsBefore + 2) << "the class object and the inner";

    outer->Release();
    EXPECT_TRUE(outerDestroyed);
}

TEST_F(Aggregation, TheInnerAnswersIUnknownWithItsNonDelegatingUnknown)
{
    bool outerDestroyed = false;
    auto* outer = new Outer(&outerDestroyed);
    ASSERT_EQ(outer->aggregate(factory.get()), S_OK);

    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(outer->inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)), S_OK);
    EXPECT_EQ(innerAgain, outer->inner) << "even though the class answers IUnknown through IPersistImpl alone";
    EXPECT_EQ(outer->references, 1) << "the inner unknown counts on the inner";
    innerAgain->Release();

    IQualityControl* quality = nullptr;
    ASSERT_EQ(outer->inner->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)), S_OK);
    EXPECT_NE(static_cast<IUnknown*>(quality), outer->inner);
    EXPECT_EQ(outer->references, 2) << "the reference is released through the interface, so it counts on the outer";
    quality->Release();
    outer->Release();
    EXPECT_TRUE(outerDestroyed);
}

TEST_F(Aggregation, AnOuterMayAskOnlyForIUnknown)
{
    bool outerDestroyed = false;
    auto* outer = new Outer(&outerDestroyed);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IQualityControl, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(oryx::objectCount, objectsBefore + 1) << "only the class object lives";
    outer->Release();
}

} // namespace
