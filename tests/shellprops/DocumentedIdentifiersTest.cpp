// Every identifier apeprops.dll and apemf.dll use that a header gives them,
// checked against the value Windows documents, written out here as text:
// property keys (the format identifier and property id of each System.*
// name), Media Foundation attributes and services, interface identifiers.
// A header with a wrong GUID builds and passes every test that compares our
// output with the same header, while Windows looks elsewhere; only a value
// written down independently catches it.
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <objbase.h>
#include <propsys.h>
#include <shobjidl.h>
#include <thumbcache.h>
#include <wincodec.h>

#include "mediafoundation/ByteStreamHandlerInterface.h"
#include "mediafoundation/MediaFoundationIdentifiers.h"
#include "shellprops/PropertyHandlerIdentifiers.h"
#include "shellprops/ThumbnailProviderIdentifiers.h"
#include "support/Diagnostics.h"

namespace {

// `text` is "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
GUID documented(const char* text)
{
    const std::wstring wide(text, text + std::char_traits<char>::length(text));
    GUID guid{};
    EXPECT_EQ(IIDFromString(wide.c_str(), &guid), S_OK) << text;
    return guid;
}

struct DocumentedKey {
    const char* name;
    const PROPERTYKEY* key; // the one the handler stores its value under
    const char* formatId;
    DWORD pid;
};
// From each property's page of the property system's reference.
const DocumentedKey documentedKeys[] = {
    {"System.Media.Duration", &propertykey::duration, "{64440490-4C8B-11D1-8B70-080036B11A03}", 3},
    {"System.Audio.Format", &propertykey::audioFormat, "{64440490-4C8B-11D1-8B70-080036B11A03}", 2},
    {"System.Audio.EncodingBitrate", &propertykey::encodingBitrate, "{64440490-4C8B-11D1-8B70-080036B11A03}", 4},
    {"System.Audio.SampleRate", &propertykey::sampleRate, "{64440490-4C8B-11D1-8B70-080036B11A03}", 5},
    {"System.Audio.SampleSize", &propertykey::sampleSize, "{64440490-4C8B-11D1-8B70-080036B11A03}", 6},
    {"System.Audio.ChannelCount", &propertykey::channelCount, "{64440490-4C8B-11D1-8B70-080036B11A03}", 7},
    {"System.Title", &propertykey::title, "{F29F85E0-4FF9-1068-AB91-08002B27B3D9}", 2},
    {"System.Comment", &propertykey::comment, "{F29F85E0-4FF9-1068-AB91-08002B27B3D9}", 6},
    {"System.Music.Artist", &propertykey::artist, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 2},
    {"System.Music.AlbumTitle", &propertykey::albumTitle, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 4},
    {"System.Media.Year", &propertykey::year, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 5},
    {"System.Music.TrackNumber", &propertykey::trackNumber, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 7},
    {"System.Music.Genre", &propertykey::genre, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 11},
    {"System.Music.AlbumArtist", &propertykey::albumArtist, "{56A3372E-CE9C-11D2-9F0E-006097C686F6}", 13},
    {"System.Copyright", &propertykey::copyright, "{64440492-4C8B-11D1-8B70-080036B11A03}", 11},
};

struct DocumentedGuid {
    const char* name;
    const GUID* guid; // as the modules' code sees it
    const char* value;
};
const DocumentedGuid documentedGuids[] = {
    // Media Foundation attributes, services and types.
    {"MF_MT_MAJOR_TYPE", &MF_MT_MAJOR_TYPE, "{48EBA18E-F8C9-4687-BF11-0A74C9F96A8F}"},
    {"MF_MT_SUBTYPE", &MF_MT_SUBTYPE, "{F7E34C9A-42E8-4714-B74B-CB29D72C35E5}"},
    {"MF_MT_AUDIO_NUM_CHANNELS", &MF_MT_AUDIO_NUM_CHANNELS, "{37E48BF5-645E-4C5B-89DE-ADA9E29B696A}"},
    {"MF_MT_AUDIO_SAMPLES_PER_SECOND", &MF_MT_AUDIO_SAMPLES_PER_SECOND, "{5FAEEAE7-0290-4C31-9E8A-C534F68D9DBA}"},
    {"MF_MT_AUDIO_BITS_PER_SAMPLE", &MF_MT_AUDIO_BITS_PER_SAMPLE, "{F2DEB57F-40FA-4764-AA33-ED4F2D1FF669}"},
    {"MF_MT_AUDIO_BLOCK_ALIGNMENT", &MF_MT_AUDIO_BLOCK_ALIGNMENT, "{322DE230-9EEB-43BD-AB7A-FF412251541D}"},
    {"MF_MT_AUDIO_AVG_BYTES_PER_SECOND", &MF_MT_AUDIO_AVG_BYTES_PER_SECOND, "{1AAB75C8-CFEF-451C-AB95-AC034B8E1731}"},
    {"MF_MT_ALL_SAMPLES_INDEPENDENT", &MF_MT_ALL_SAMPLES_INDEPENDENT, "{C9173739-5E56-461C-B713-46FB995CB95F}"},
    {"MF_PD_DURATION", &MF_PD_DURATION, "{6C990D33-BB8E-477A-8598-0D5D96FCD88A}"},
    {"MFSampleExtension_Discontinuity", &MFSampleExtension_Discontinuity, "{9CDF01D9-A0F0-43BA-B077-EAA06CBD728A}"},
    {"MFSampleExtension_Token", &MFSampleExtension_Token, "{8294DA66-F328-4805-B551-00DEB4C57A61}"},
    {"MF_PROPERTY_HANDLER_SERVICE", &MF_PROPERTY_HANDLER_SERVICE, "{A3FACE02-32B8-41DD-90E7-5FEF7C8991B5}"},
    {"MF_METADATA_PROVIDER_SERVICE", &MF_METADATA_PROVIDER_SERVICE, "{DB214084-58A4-4D2E-B84F-6F755B2F7A0D}"},
    {"MF_RATE_CONTROL_SERVICE", &MF_RATE_CONTROL_SERVICE, "{866FA297-B802-4BF8-9DC9-5E3B6A9F53C9}"},
    {"MF_EVENT_SOURCE_ACTUAL_START", &MF_EVENT_SOURCE_ACTUAL_START, "{A8CC55A9-6B31-419F-845D-FFB351A2434B}"},
    {"MF_PD_TOTAL_FILE_SIZE", &mfattribute::presentationTotalFileSize, "{6C990D34-BB8E-477A-8598-0D5D96FCD88A}"},
    {"MF_PD_AUDIO_ENCODING_BITRATE", &mfattribute::presentationAudioEncodingBitrate,
     "{6C990D35-BB8E-477A-8598-0D5D96FCD88A}"},
    {"MF_PD_MIME_TYPE", &mfattribute::presentationMimeType, "{6C990D37-BB8E-477A-8598-0D5D96FCD88A}"},
    {"MFMediaType_Audio", &MFMediaType_Audio, "{73647561-0000-0010-8000-00AA00389B71}"},
    {"MFAudioFormat_PCM", &MFAudioFormat_PCM, "{00000001-0000-0010-8000-00AA00389B71}"},
    // Interfaces the modules answer QueryInterface for.
    {"IUnknown", &__uuidof(IUnknown), "{00000000-0000-0000-C000-000000000046}"},
    {"IClassFactory", &__uuidof(IClassFactory), "{00000001-0000-0000-C000-000000000046}"},
    {"IPropertyStore", &__uuidof(IPropertyStore), "{886D8EEB-8CF2-4446-8D02-CDBA1DBDCF99}"},
    {"IInitializeWithStream", &__uuidof(IInitializeWithStream), "{B824B49D-22AC-4161-AC8A-9916E8FA3F7F}"},
    {"IPropertyStoreCapabilities", &__uuidof(IPropertyStoreCapabilities), "{C8E2D566-186E-4D49-BF41-6909EAD56ACC}"},
    {"IMFByteStreamHandler", &__uuidof(IMFByteStreamHandler), "{BB420AA4-765B-4A1F-91FE-D6A8A143924C}"},
    {"IMFMediaSource", &__uuidof(IMFMediaSource), "{279A808D-AEC7-40C8-9C6B-A6B492C78A66}"},
    {"IMFMediaStream", &__uuidof(IMFMediaStream), "{D182108F-4EC6-443F-AA42-A71106EC825F}"},
    {"IMFMediaEventGenerator", &__uuidof(IMFMediaEventGenerator), "{2CD0BD52-BCD5-4B89-B62C-EADC0C031E7D}"},
    {"IMFGetService", &__uuidof(IMFGetService), "{FA993888-4383-415A-A930-DD472A8CF6F7}"},
    {"IMFAsyncCallback", &__uuidof(IMFAsyncCallback), "{A27003CF-2354-4F2A-8D6A-AB7CFF15437E}"},
    {"IMFMetadataProvider", &__uuidof(IMFMetadataProvider), "{56181D2D-E221-4ADB-B1C8-3CEE6A53F76F}"},
    {"IMFMetadata", &__uuidof(IMFMetadata), "{F88CFB8C-EF16-4991-B450-CB8C69E51704}"},
    {"IMFRateSupport", &__uuidof(IMFRateSupport), "{0A9CCDBC-D797-4563-9667-94EC5D79292D}"},
    {"IMFRateControl", &__uuidof(IMFRateControl), "{88DDCD21-03C3-4275-91ED-55EE3929328F}"},
    // The thumbnail handler's interfaces, the ShellEx key Explorer finds it
    // under, and the imaging component's class, interfaces and pixel format.
    {"IThumbnailProvider", &__uuidof(IThumbnailProvider), "{E357FCCD-A995-4576-B01F-234630154E96}"},
    {"CLSID_WICImagingFactory", &imagingFactoryClassId, "{CACAF262-9370-4615-A13B-9F5539DA4C0A}"},
    {"IWICImagingFactory", &__uuidof(IWICImagingFactory), "{EC5EC8A9-C395-4314-9C77-54D7A935FF70}"},
    {"IWICStream", &__uuidof(IWICStream), "{135FF860-22B7-4DDF-B0F6-218F4F299A43}"},
    {"IWICBitmapDecoder", &__uuidof(IWICBitmapDecoder), "{9EDDE9E7-8DEE-47EA-99DF-E6FAF2ED44BF}"},
    {"IWICBitmapFrameDecode", &__uuidof(IWICBitmapFrameDecode), "{3B16811B-6A43-4EC9-A813-3D930C13B940}"},
    {"IWICBitmapSource", &__uuidof(IWICBitmapSource), "{00000120-A8F2-4877-BA0A-FD2B6645FB94}"},
    {"IWICFormatConverter", &__uuidof(IWICFormatConverter), "{00000301-A8F2-4877-BA0A-FD2B6645FB94}"},
    {"GUID_WICPixelFormat32bppBGRA", &pixelFormat32bppBGRA, "{6FDDC324-4E03-4BFE-B185-3D77768DC90F}"},
};

TEST(DocumentedIdentifiers, EveryIdentifierTheModulesTakeFromAHeaderHasItsDocumentedValue)
{
    GUID shellExKey{};
    const std::string key = thumbnailHandlerShellExKey;
    ASSERT_EQ(IIDFromString(std::wstring(key.begin(), key.end()).c_str(), &shellExKey), S_OK);
    EXPECT_EQ(oryx::guidName(shellExKey, false), "{E357FCCD-A995-4576-B01F-234630154E96}")
        << "the thumbnail handlers' ShellEx key";
    for (const DocumentedKey& entry : documentedKeys) {
        EXPECT_EQ(oryx::guidName(entry.key->fmtid, false), oryx::guidName(documented(entry.formatId), false))
            << entry.name;
        EXPECT_EQ(entry.key->pid, entry.pid) << entry.name;
    }
    for (const DocumentedGuid& entry : documentedGuids)
        EXPECT_EQ(oryx::guidName(*entry.guid, false), oryx::guidName(documented(entry.value), false)) << entry.name;
}

} // namespace
