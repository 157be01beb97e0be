#pragma once

#include <windows.h>

#include <propsys.h>
#include <thumbcache.h>

#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

// The thumbnail Explorer shows for an .ape file: the front cover of its APE
// tag. Explorer's isolated thumbnail host creates it by the class its
// ShellEx key names, hands it the file as a stream (IInitializeWithStream)
// and asks for a bitmap (IThumbnailProvider). Only the tag at the file's end
// is read, never the audio, and only in GetThumbnail.
//
// The picture is "Cover Art (Front)" (in any case), else the tag's first
// picture; it is read only up to ape::TagPicture::sizeLimit and drawn by
// PictureThumbnail, which refuses absurd sizes before decoding. A file
// without a picture answers HRESULT_FROM_WIN32(ERROR_NOT_FOUND), one whose
// picture is too large HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), one whose
// picture item holds no file name and picture ERROR_BAD_FORMAT, a stream
// that failed its own error: Explorer then shows the file type's icon.
//
// One Initialize per object, as the interface asks: any later call gives
// HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED); write access is refused
// with STG_E_ACCESSDENIED.
//
// Locks: `lock` guards `stream` and `initialized` and is held through
// GetThumbnail, since the stream's position is shared by its reads.
class ApeThumbnailProvider : public oryx::DelegatingUnknown<ApeThumbnailProvider, IThumbnailProvider>,
                             public oryx::DelegatingUnknown<ApeThumbnailProvider, IInitializeWithStream>,
                             public oryx::IUnknownImpl,
                             public oryx::CreateInstanceImpl<ApeThumbnailProvider> {
public:
    explicit ApeThumbnailProvider(IUnknown* outer);

    IUnknown* interfaceFor(REFIID iid) override;

    // IInitializeWithStream
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IThumbnailProvider. E_UNEXPECTED before Initialize, E_INVALIDARG for
    // a cx of 0.
    STDMETHOD(GetThumbnail)(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    oryx::CriticalSection lock;
    oryx::COMPtr<IStream> stream;
    bool initialized = false;
};
