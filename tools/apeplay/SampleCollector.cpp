#include "SampleCollector.h"

#include "support/AutoLock.h"
#include "support/HResults.h"

namespace apeplay {

SampleCollector::SampleCollector() : IUnknownImpl(nullptr)
{
}

void SampleCollector::writeTo(std::unique_ptr<WavFileWriter> file)
{
    writer = std::move(file);
}

STDMETHODIMP SampleCollector::SampleCB(double, IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    if (hasFailed.load())
        return S_OK;
    try {
        BYTE* data = nullptr;
        oryx::checkResult(sample->GetPointer(&data), "Can't get the sample's buffer");
        long length = sample->GetActualDataLength();
        if (length > 0 && std::uint64_t(length) > limit - collected) {
            length = long(limit - collected);
            oryx::checkResult(sample->SetActualDataLength(length), "Can't cut the sample at the track's end");
        }
        if (length > 0) {
            if (writer)
                writer->append(data, std::size_t(length));
            collected += std::uint64_t(length);
        }
    } catch (const std::exception& e) {
        oryx::AutoLock hold(failureLock);
        failureText = e.what();
        hasFailed = true;
    }
    // The grabber would only pass an error on to its own caller; the
    // controlling thread stops the graph once it sees failed().
    return S_OK;
}

STDMETHODIMP SampleCollector::BufferCB(double, BYTE*, LONG)
{
    return E_NOTIMPL;
}

IUnknown* SampleCollector::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<ISampleGrabberCB>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

std::string SampleCollector::failure()
{
    oryx::AutoLock hold(failureLock);
    return failureText;
}

void SampleCollector::commit()
{
    if (writer)
        writer->commit();
}

} // namespace apeplay
