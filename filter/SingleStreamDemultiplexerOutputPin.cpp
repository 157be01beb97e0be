#include "filter/SingleStreamDemultiplexerFilter.h"

#include "support/AutoLock.h"
#include "support/LossOfRange.h"

namespace {

constexpr wchar_t outputPinName[] = L"PCM Output";

} // namespace

SingleStreamDemultiplexerFilter::OutputPin::OutputPin(SingleStreamDemultiplexerFilter& owner)
    : MemoryOutputPin(owner, outputPinName), source(owner)
{
}

bool SingleStreamDemultiplexerFilter::OutputPin::checkMediaType(const MediaType& type)
{
    return source.hasInput() && source.isAcceptableType(type);
}

unsigned SingleStreamDemultiplexerFilter::OutputPin::getMediaTypeCount()
{
    return source.hasInput() ? oryx::rangeChecked<unsigned>(source.mediaTypeCount()) : 0;
}

MediaType& SingleStreamDemultiplexerFilter::OutputPin::getPinMediaType(MediaType& out, unsigned index)
{
    if (!source.hasInput())
        throw oryx::COMError(VFW_S_NO_MORE_ITEMS, "Output pin is not connected");
    out.reset();
    source.getMediaType(out, index);
    return out;
}

void SingleStreamDemultiplexerFilter::OutputPin::setMediaType(const MediaType& type)
{
    source.requireAcceptableType(type);
    MemoryOutputPin::setMediaType(type);
}

bool SingleStreamDemultiplexerFilter::OutputPin::decideBufferSize(IMemAllocator& allocator,
                                                                  ALLOCATOR_PROPERTIES& requested)
{
    if (requested.cBuffers < 4)
        requested.cBuffers = 4;
    const std::uint32_t least = source.bufferSize();
    if (oryx::rangeChecked<std::uint32_t>(requested.cbBuffer) < least)
        requested.cbBuffer = oryx::rangeChecked<long>(least);
    ALLOCATOR_PROPERTIES granted{};
    return SUCCEEDED(allocator.SetProperties(&requested, &granted));
}

IUnknown* SingleStreamDemultiplexerFilter::OutputPin::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IMediaSeeking)) {
        // Asked under the lock a new input is opened under, as the position
        // queries are: a renderer passing a query upstream during a Load
        // finds the new file, not a gap that its graph would report as
        // E_NOTIMPL.
        oryx::AutoLock lock(source.positionLock);
        return source.hasInput() ? static_cast<IMediaSeeking*>(&source) : nullptr;
    }
    return MemoryOutputPin::interfaceFor(iid);
}
