// The test environment itself: Wine's DirectShow parts that the end-to-end
// tests rely on must be creatable in the private prefix, the DirectSound
// renderer included (it needs the null audio device).
#include <dshow.h>
#include <gtest/gtest.h>

#include "support/COMPtr.h"

namespace {

class WineDirectShow : public testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(WineDirectShow, CreatesTheFilterGraphManager)
{
    oryx::COMPtr<IGraphBuilder> graph(CLSID_FilterGraph);
    ASSERT_NE(graph.get(), nullptr);
    oryx::COMPtr<IMediaControl> control;
    control = graph.get();
    EXPECT_NE(control.get(), nullptr);
}

TEST_F(WineDirectShow, CreatesTheMemoryAllocator)
{
    oryx::COMPtr<IMemAllocator> allocator(CLSID_MemoryAllocator);
    ASSERT_NE(allocator.get(), nullptr);
    ALLOCATOR_PROPERTIES wanted{4, 4000, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_HRESULT_SUCCEEDED(allocator->SetProperties(&wanted, &actual));
    EXPECT_EQ(actual.cBuffers, 4);
}

TEST_F(WineDirectShow, CreatesTheDirectSoundRendererOnTheNullDevice)
{
    oryx::COMPtr<IBaseFilter> renderer(CLSID_DSoundRender);
    ASSERT_NE(renderer.get(), nullptr);
    oryx::COMPtr<IEnumPins> pins;
    ASSERT_HRESULT_SUCCEEDED(renderer->EnumPins(pins.receive()));
    oryx::COMPtr<IPin> pin;
    EXPECT_EQ(pins->Next(1, pin.receive(), nullptr), S_OK);
}

} // namespace
