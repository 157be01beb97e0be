#pragma once

// IMFByteStreamHandler, which MinGW-w64's mfidl.h leaves out: the interface
// Media Foundation's source resolver creates by the class identifier a
// ByteStreamHandlers key names, in the vtable order of the platform's own
// declaration.
#include <windows.h>

#include <mfidl.h>
#include <propsys.h>

MIDL_INTERFACE("bb420aa4-765b-4a1f-91fe-d6a8a143924c")
IMFByteStreamHandler : public IUnknown
{
public:
    virtual HRESULT STDMETHODCALLTYPE BeginCreateObject(IMFByteStream * stream, LPCWSTR url, DWORD flags,
                                                        IPropertyStore * properties, IUnknown * *cancelCookie,
                                                        IMFAsyncCallback * callback, IUnknown * state) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndCreateObject(IMFAsyncResult * result, MF_OBJECT_TYPE * type,
                                                      IUnknown * *object) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelObjectCreation(IUnknown * cancelCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxNumberOfBytesRequiredForResolution(QWORD * bytes) = 0;
};
__CRT_UUID_DECL(IMFByteStreamHandler, 0xbb420aa4, 0x765b, 0x4a1f, 0x91, 0xfe, 0xd6, 0xa8, 0xa1, 0x43, 0x92, 0x4c)
