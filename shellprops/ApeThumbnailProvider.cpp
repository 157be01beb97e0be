#include "shellprops/ApeThumbnailProvider.h"

#include <vector>

#include "format/ApeTag.h"
#include "format/TagPicture.h"
#include "shellprops/PictureThumbnail.h"
#include "shellprops/StreamByteSource.h"
#include "shellprops/InitializeOnce.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

ApeThumbnailProvider::ApeThumbnailProvider(IUnknown* outer) : IUnknownImpl(outer)
{
}

IUnknown* ApeThumbnailProvider::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IThumbnailProvider, IInitializeWithStream>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApeThumbnailProvider::Initialize(IStream* newStream, DWORD mode)
{
    if (!newStream)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (const HRESULT refused = beginInitialize(initialized, mode); refused != S_OK)
            return refused;
        stream = newStream;
        return S_OK;
    });
}

STDMETHODIMP ApeThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha)
{
    if (!bitmap || !alpha)
        return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_UNKNOWN;
    if (cx == 0)
        return E_INVALIDARG;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (!stream)
            return E_UNEXPECTED;
        StreamByteSource source(*stream);
        const ape::ApeTag tag = ape::ApeTag::read(source);
        const ape::TagItem* front = ape::TagPicture::frontCover(tag);
        if (!front)
            return source.failureOr(HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
        ape::TagPicture picture;
        if (!ape::TagPicture::describe(source, *front, picture))
            return source.failureOr(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
        if (picture.dataSize > ape::TagPicture::sizeLimit)
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        std::vector<std::uint8_t> bytes;
        if (!ape::TagPicture::readData(source, *front, picture, bytes))
            return source.failureOr(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
        PictureThumbnail thumbnail(bytes, cx);
        *alpha = thumbnail.alphaType();
        *bitmap = thumbnail.release();
        return S_OK;
    });
}
