#include "mediafoundation/WorkQueueTask.h"

#include <utility>

#include "support/COMPtr.h"
#include "support/HResults.h"

void WorkQueueTask::post(std::function<void()> function, DWORD queue)
{
    oryx::COMPtr<IMFAsyncCallback> task(new WorkQueueTask(std::move(function)));
    oryx::checkResult(MFPutWorkItem(queue, task.get(), nullptr), "Can't put a work item on a work queue");
}

WorkQueueTask::WorkQueueTask(std::function<void()> function) : IUnknownImpl(nullptr), function(std::move(function))
{
}

IUnknown* WorkQueueTask::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFAsyncCallback>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP WorkQueueTask::GetParameters(DWORD* /*flags*/, DWORD* /*queue*/)
{
    return E_NOTIMPL; // the queue post() named, with no special flags
}

STDMETHODIMP WorkQueueTask::Invoke(IMFAsyncResult* /*result*/)
{
    std::function<void()> run = std::exchange(function, nullptr);
    try {
        if (run)
            run();
    } catch (...) {
    }
    return S_OK;
}
