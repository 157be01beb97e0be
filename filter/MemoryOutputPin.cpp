#include "filter/MemoryOutputPin.h"

#include "filter/Filter.h"
#include "support/AutoLock.h"
#include "support/COMError.h"

MemoryOutputPin::MemoryOutputPin(Filter& filter, const wchar_t* name) : Pin(filter, name, PINDIR_OUTPUT)
{
}

MemoryOutputPin::~MemoryOutputPin() = default;

STDMETHODIMP MemoryOutputPin::EndOfStream()
{
    return E_UNEXPECTED;
}

STDMETHODIMP MemoryOutputPin::BeginFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP MemoryOutputPin::EndFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP MemoryOutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return E_UNEXPECTED;
}

void MemoryOutputPin::breakConnection()
{
    oryx::AutoLock lock(filter.filterLock);
    if (allocator) {
        oryx::checkResult(allocator->Decommit());
        allocator.release();
    }
    inputPin.release();
    Pin::breakConnection();
}

void MemoryOutputPin::checkConnection(IPin* pin)
{
    Pin::checkConnection(pin);
    oryx::AutoLock lock(filter.filterLock);
    try {
        inputPin = pin;
    } catch (const std::exception&) {
        // Asked again, with its error reported, when the allocator is chosen.
    }
}

void MemoryOutputPin::completeConnection()
{
    Pin::completeConnection();
    oryx::AutoLock lock(filter.filterLock);
    allocator = decideAllocator();
}

oryx::COMPtr<IMemAllocator> MemoryOutputPin::decideAllocator()
{
    try {
        oryx::COMPtr<IMemInputPin> input;
        input = connectedPin().get();
        ALLOCATOR_PROPERTIES requested{};
        // A pin without requirements leaves the zeros.
        input->GetAllocatorRequirements(&requested);
        if (requested.cbAlign == 0)
            requested.cbAlign = 1;
        oryx::COMPtr<IMemAllocator> chosen;
        if (SUCCEEDED(input->GetAllocator(chosen.receive())) && chosen && decideBufferSize(*chosen, requested) &&
            SUCCEEDED(input->NotifyAllocator(chosen.get(), FALSE)))
            return chosen;
        chosen = createAllocator();
        if (!decideBufferSize(*chosen, requested))
            throw oryx::COMError(VFW_E_NO_ALLOCATOR, "No acceptable allocator requirements");
        oryx::checkResult(input->NotifyAllocator(chosen.get(), FALSE));
        return chosen;
    } catch (...) {
        allocator.release();
        throw;
    }
}

oryx::COMPtr<IMemAllocator> MemoryOutputPin::createAllocator()
{
    return oryx::COMPtr<IMemAllocator>(CLSID_MemoryAllocator);
}

void MemoryOutputPin::activate()
{
    oryx::AutoLock lock(filter.filterLock);
    Pin::activate();
    if (allocator)
        oryx::checkResult(allocator->Commit());
    else if (connected)
        throw oryx::COMError(VFW_E_NO_ALLOCATOR, "Can't commit allocator while activating the pin");
}

void MemoryOutputPin::deactivate()
{
    oryx::AutoLock lock(filter.filterLock);
    Pin::deactivate();
    if (allocator)
        oryx::checkResult(allocator->Decommit());
}

oryx::COMPtr<IMediaSample> MemoryOutputPin::getDeliveryBuffer(REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags)
{
    oryx::COMPtr<IMemAllocator> source;
    {
        oryx::AutoLock lock(filter.filterLock);
        if (!allocator)
            throw oryx::COMError(E_NOINTERFACE, "Can't get media sample because the memory allocator is 0");
        source = allocator;
    }
    oryx::COMPtr<IMediaSample> sample;
    oryx::checkResult(source->GetBuffer(sample.receive(), start, stop, flags), "Can't get buffer from allocator");
    return sample;
}

void MemoryOutputPin::deliver(IMediaSample& sample)
{
    oryx::COMPtr<IMemInputPin> input;
    {
        oryx::AutoLock lock(filter.filterLock);
        input = inputPin;
    }
    if (input)
        input->Receive(&sample);
}

void MemoryOutputPin::deliverEndOfStream()
{
    if (const oryx::COMPtr<IPin> peer = connectedPin())
        peer->EndOfStream();
}
