// Asks the property handler registered for a file's extension what Explorer
// asks: the class named under PropertySystem\PropertyHandlers\.EXT, created
// in process and initialised with a stream on the file, as Explorer's
// isolated host does. Prints "<duration in 100 ns> <sample rate>" and exits
// 0, or says what failed and exits 1. "PropertyProbe FILE"
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <propvarutil.h>
#include <shlwapi.h>
#include <shobjidl.h>

namespace {

// Written out from Microsoft's documentation rather than taken from the
// headers, whose values are not always Windows' own.
const wchar_t initializeWithStreamId[] = L"{B824B49D-22AC-4161-AC8A-9916E8FA3F7F}";
const wchar_t propertyStoreId[] = L"{886D8EEB-8CF2-4446-8D02-CDBA1DBDCF99}";
// System.Media.Duration (100 ns units) and System.Audio.SampleRate (Hz).
const wchar_t audioFormatId[] = L"{64440490-4C8B-11D1-8B70-080036B11A03}";
const DWORD durationId = 3;
const DWORD sampleRateId = 5;

GUID guid(const wchar_t* text)
{
    GUID value{};
    IIDFromString(text, &value);
    return value;
}

int fail(const wchar_t* what, HRESULT hr)
{
    std::fwprintf(stderr, L"%ls: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    return 1;
}

// The handler's class for the file's extension, from the 64-bit view in a
// 64-bit process and the 32-bit view in a 32-bit one.
bool handlerClass(const wchar_t* file, CLSID& clsid)
{
    const std::wstring key = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\"
                                          L"PropertyHandlers\\") +
                             PathFindExtensionW(file);
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) ==
               ERROR_SUCCESS &&
           CLSIDFromString(text, &clsid) == S_OK;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: PropertyProbe FILE\n");
        return 2;
    }
    CLSID clsid{};
    if (!handlerClass(argv[1], clsid))
        return fail(L"no property handler registered for the extension", E_FAIL);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IInitializeWithStream* initialize = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, guid(initializeWithStreamId),
                                  reinterpret_cast<void**>(&initialize));
    if (FAILED(hr))
        return fail(L"CoCreateInstance", hr);
    IStream* stream = nullptr;
    hr = SHCreateStreamOnFileEx(argv[1], STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE, nullptr, &stream);
    if (FAILED(hr))
        return fail(L"SHCreateStreamOnFileEx", hr);
    hr = initialize->Initialize(stream, STGM_READ);
    if (FAILED(hr))
        return fail(L"Initialize", hr);
    IPropertyStore* store = nullptr;
    hr = initialize->QueryInterface(guid(propertyStoreId), reinterpret_cast<void**>(&store));
    if (FAILED(hr))
        return fail(L"QueryInterface(IPropertyStore)", hr);
    PROPVARIANT duration;
    PROPVARIANT sampleRate;
    PropVariantInit(&duration);
    PropVariantInit(&sampleRate);
    hr = store->GetValue({guid(audioFormatId), durationId}, &duration);
    if (FAILED(hr) || duration.vt != VT_UI8)
        return fail(L"System.Media.Duration", FAILED(hr) ? hr : duration.vt);
    hr = store->GetValue({guid(audioFormatId), sampleRateId}, &sampleRate);
    if (FAILED(hr) || sampleRate.vt != VT_UI4)
        return fail(L"System.Audio.SampleRate", FAILED(hr) ? hr : sampleRate.vt);
    std::wprintf(L"%llu %lu\n", static_cast<unsigned long long>(duration.uhVal.QuadPart),
                 static_cast<unsigned long>(sampleRate.ulVal));
    store->Release();
    stream->Release();
    initialize->Release();
    CoUninitialize();
    return 0;
}
