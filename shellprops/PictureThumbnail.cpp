#include "shellprops/PictureThumbnail.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <wincodec.h>

#include "format/PictureHeader.h"
#include "shellprops/AreaScaler.h"
#include "shellprops/ThumbnailProviderIdentifiers.h"
#include "support/COMError.h"
#include "support/COMPtr.h"
#include "support/HResults.h"

namespace {

constexpr UINT bytesPerPixel = 4;

bool sane(std::uint64_t width, std::uint64_t height)
{
    return width > 0 && height > 0 && width <= PictureThumbnail::sideLimit && height <= PictureThumbnail::sideLimit &&
           width * height <= PictureThumbnail::pixelLimit;
}

void checkSize(std::uint64_t width, std::uint64_t height)
{
    if (!sane(width, height))
        throw oryx::COMError(WINCODEC_ERR_IMAGESIZEOUTOFRANGE, "the picture claims " + std::to_string(width) + " x " +
                                                                   std::to_string(height) + " pixels");
}

// The side `side` becomes when the longer side `longer` becomes `cx`,
// rounded to the nearest pixel and at least one.
UINT scaled(UINT side, UINT longer, UINT cx)
{
    const std::uint64_t twice = (2 * std::uint64_t(side) * cx + longer) / (2 * std::uint64_t(longer));
    return static_cast<UINT>(std::max<std::uint64_t>(twice, 1));
}

} // namespace

PictureThumbnail::PictureThumbnail(const std::vector<std::uint8_t>& picture, UINT cx)
{
    // The header first: a decoder would allocate whatever it claims.
    const ape::PictureHeader header = ape::PictureHeader::read(picture.data(), picture.size());
    if (header.format == ape::PictureFormat::unknown)
        throw oryx::COMError(WINCODEC_ERR_UNKNOWNIMAGEFORMAT, "not a picture");
    if (header.width != 0)
        checkSize(header.width, header.height);

    oryx::COMPtr<IWICImagingFactory> factory(imagingFactoryClassId);
    oryx::COMPtr<IWICStream> stream;
    oryx::checkResult(factory->CreateStream(stream.receive()));
    // The decoder only reads: the cast is the interface's, not a write.
    oryx::checkResult(
        stream->InitializeFromMemory(const_cast<BYTE*>(picture.data()), static_cast<DWORD>(picture.size())));
    oryx::COMPtr<IWICBitmapDecoder> decoder;
    oryx::checkResult(
        factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.receive()));
    oryx::COMPtr<IWICBitmapFrameDecode> frame;
    oryx::checkResult(decoder->GetFrame(0, frame.receive()));
    UINT width = 0, height = 0;
    oryx::checkResult(frame->GetSize(&width, &height));
    checkSize(width, height);

    oryx::COMPtr<IWICFormatConverter> converter;
    oryx::checkResult(factory->CreateFormatConverter(converter.receive()));
    oryx::checkResult(converter->Initialize(frame.get(), pixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                            WICBitmapPaletteTypeCustom));
    const UINT longer = std::max(width, height);
    const UINT thumbnailWidth = longer <= cx ? width : scaled(width, longer, cx);
    const UINT thumbnailHeight = longer <= cx ? height : scaled(height, longer, cx);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(thumbnailWidth);
    info.bmiHeader.biHeight = -static_cast<LONG>(thumbnailHeight); // top-down: the first row is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        throw oryx::COMError(E_OUTOFMEMORY, "no bitmap of the thumbnail's size");
    const UINT stride = thumbnailWidth * bytesPerPixel;
    const UINT byteCount = stride * thumbnailHeight;
    try {
        if (thumbnailWidth == width && thumbnailHeight == height) {
            oryx::checkResult(converter->CopyPixels(nullptr, stride, byteCount, static_cast<BYTE*>(bits)));
        } else {
            // Within pixelLimit, so the size fits a UINT.
            std::vector<BYTE> whole(std::size_t{width} * height * bytesPerPixel);
            oryx::checkResult(
                converter->CopyPixels(nullptr, width * bytesPerPixel, static_cast<UINT>(whole.size()), whole.data()));
            AreaScaler::scale(whole.data(), width, height, static_cast<BYTE*>(bits), thumbnailWidth, thumbnailHeight,
                              stride);
        }
    } catch (...) {
        DeleteObject(bitmap);
        throw;
    }
    const BYTE* const pixels = static_cast<const BYTE*>(bits);
    bool opaque = true;
    for (UINT at = 3; at < byteCount && opaque; at += bytesPerPixel)
        opaque = pixels[at] == 0xFF;
    alpha = opaque ? WTSAT_RGB : WTSAT_ARGB;
}

PictureThumbnail::~PictureThumbnail()
{
    if (bitmap)
        DeleteObject(bitmap);
}

HBITMAP PictureThumbnail::release()
{
    return std::exchange(bitmap, nullptr);
}
