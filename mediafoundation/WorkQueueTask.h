#pragma once

#include <functional>

#include <windows.h>

#include <mfapi.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"

// A function run once on a Media Foundation work queue, so that a caller's
// thread never waits for a byte stream: post() hands it to the queue as a
// work item and returns. The queue holds the task (and what its function
// captures, usually a reference to the object it works for) until the
// function has returned. What the function raises is dropped: it reports
// its own failures, through events or a result.
class WorkQueueTask : public oryx::DelegatingUnknown<WorkQueueTask, IMFAsyncCallback>, public oryx::IUnknownImpl {
public:
    // Raises COMError when the queue refuses the work item. The long-function
    // queue suits reads that may stall for as long as a network share does.
    static void post(std::function<void()> function, DWORD queue = MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION);

    IUnknown* interfaceFor(REFIID iid) override;

    // IMFAsyncCallback
    STDMETHOD(GetParameters)(DWORD* flags, DWORD* queue) override;
    STDMETHOD(Invoke)(IMFAsyncResult* result) override;

private:
    explicit WorkQueueTask(std::function<void()> function);

    std::function<void()> function; // emptied once run, so its captures go with it
};
