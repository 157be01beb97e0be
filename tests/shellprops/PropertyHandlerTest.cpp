// apeprops.dll as Explorer's isolated host meets it: registered with
// regsvr32, its class found under PropertySystem\PropertyHandlers\.ape,
// created with CoCreateInstance and initialised with SHCreateStreamOnFileEx
// of a file. Truth comes from outside: ffprobe's sample counts and the APE
// tags' own bytes for the real files, the encoder's input for generated ones.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>

#include "CorpusPlan.h"
#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "support/COMPtr.h"
#include "support/Diagnostics.h"
#include "support/RegistryKey.h"
#include "com/ClassInfo.h"
#include "support/Library.h"
#include "tests/common/ConcurrentRun.h"
#include "tests/common/DamagedCopies.h"
#include "tests/common/RegistryProbe.h"
#include "tests/common/Regsvr32.h"
#include "tests/common/Watchdog.h"
#include "tests/monkeysaudio/RegisteredModule.h"
#include "tests/shellprops/FailingStream.h"
#include "tests/shellprops/ShellHandlerAccess.h"

#include <initguid.h>

#include <propkey.h>

namespace {

using registered::readFile;
using registered::realSample;
using registered::wide;
using registered::writeFile;

const char handlerKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.ape";
const char listsKey[] = "Software\\Classes\\SystemFileAssociations\\.ape";
const char classKey[] = "Software\\Classes\\CLSID\\{8643c350-f7a8-4fef-9de7-a97dd3fbbf71}";
const char classId[] = "{8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}";
const HRESULT badFormat = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

std::string moduleDirectory()
{
    std::string path = APEPROPS_MODULE_DIR;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string modulePath(const std::string& name)
{
    return moduleDirectory() + "\\" + name;
}

// A key as the property system's reference documents it, never as a header
// declares it (MinGW-w64's propkey.h has the audio keys' format identifier
// wrong): what Explorer asks for.
PROPERTYKEY documentedKey(const wchar_t* formatId, DWORD pid)
{
    PROPERTYKEY key{GUID_NULL, pid};
    EXPECT_EQ(IIDFromString(formatId, &key.fmtid), S_OK);
    return key;
}
const wchar_t audioFormatId[] = L"{64440490-4C8B-11D1-8B70-080036B11A03}";
const wchar_t summaryFormatId[] = L"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}";
const wchar_t musicFormatId[] = L"{56A3372E-CE9C-11D2-9F0E-006097C686F6}";
const wchar_t mediaFormatId[] = L"{64440492-4C8B-11D1-8B70-080036B11A03}";

// Every key the handler may give, by its canonical name, with its type.
struct KnownKey {
    const char* name;
    PROPERTYKEY key;
    VARTYPE type;
};
const KnownKey knownKeys[] = {
    {"System.Media.Duration", documentedKey(audioFormatId, 3), VT_UI8},
    {"System.Audio.SampleRate", documentedKey(audioFormatId, 5), VT_UI4},
    {"System.Audio.ChannelCount", documentedKey(audioFormatId, 7), VT_UI4},
    {"System.Audio.SampleSize", documentedKey(audioFormatId, 6), VT_UI4},
    {"System.Audio.EncodingBitrate", documentedKey(audioFormatId, 4), VT_UI4},
    {"System.Audio.Format", documentedKey(audioFormatId, 2), VT_LPWSTR},
    {"System.Title", documentedKey(summaryFormatId, 2), VT_LPWSTR},
    {"System.Music.Artist", documentedKey(musicFormatId, 2), VT_VECTOR | VT_LPWSTR},
    {"System.Music.AlbumTitle", documentedKey(musicFormatId, 4), VT_LPWSTR},
    {"System.Music.AlbumArtist", documentedKey(musicFormatId, 13), VT_LPWSTR},
    {"System.Music.Genre", documentedKey(musicFormatId, 11), VT_VECTOR | VT_LPWSTR},
    {"System.Media.Year", documentedKey(musicFormatId, 5), VT_UI4},
    {"System.Music.TrackNumber", documentedKey(musicFormatId, 7), VT_UI4},
    {"System.Comment", documentedKey(summaryFormatId, 6), VT_LPWSTR},
    {"System.Copyright", documentedKey(mediaFormatId, 11), VT_LPWSTR},
};

// The .ape stream subtype, as the handler's stable format identifier.
const wchar_t apeFormat[] = L"{A4D1C730-5E92-4B6F-8E13-2C7B9F04D5A8}";

std::wstring numberText(std::uint64_t value)
{
    return std::to_wstring(value);
}

// A value as text: numbers in decimal, vectors joined by '|'.
std::wstring render(const PROPVARIANT& value)
{
    switch (value.vt) {
    case VT_UI4:
        return numberText(value.ulVal);
    case VT_UI8:
        return numberText(value.uhVal.QuadPart);
    case VT_LPWSTR:
        return value.pwszVal;
    case VT_VECTOR | VT_LPWSTR: {
        std::wstring text;
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
            text += (i ? L"|" : L"") + std::wstring(value.calpwstr.pElems[i]);
        return text;
    }
    default:
        return L"<type " + numberText(value.vt) + L">";
    }
}

using Values = std::map<std::string, std::wstring>;

// What the store holds, by canonical name, after checking that GetCount,
// GetAt and GetValue agree: every listed key has a value of its type, every
// other known key is VT_EMPTY, and nothing unknown is listed.
Values readStore(IPropertyStore& store)
{
    Values values;
    DWORD count = 0;
    EXPECT_EQ(store.GetCount(&count), S_OK);
    std::vector<bool> listed(std::size(knownKeys));
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        EXPECT_EQ(store.GetAt(i, &key), S_OK);
        bool known = false;
        for (std::size_t k = 0; k < std::size(knownKeys); ++k) {
            if (!IsEqualPropertyKey(key, knownKeys[k].key))
                continue;
            EXPECT_FALSE(listed[k]) << knownKeys[k].name << " listed twice";
            listed[k] = known = true;
        }
        EXPECT_TRUE(known) << "GetAt(" << i << ") gives a key outside the handler's set";
    }
    for (std::size_t k = 0; k < std::size(knownKeys); ++k) {
        PROPVARIANT value;
        PropVariantInit(&value);
        EXPECT_EQ(store.GetValue(knownKeys[k].key, &value), S_OK);
        if (listed[k]) {
            EXPECT_EQ(value.vt, knownKeys[k].type) << knownKeys[k].name;
            values[knownKeys[k].name] = render(value);
        } else {
            EXPECT_EQ(value.vt, VT_EMPTY) << knownKeys[k].name << " has a value but GetAt does not list it";
        }
        PropVariantClear(&value);
    }
    return values;
}

std::string narrowForReport(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out.size() > 40 ? out.substr(0, 12) + "...(" + std::to_string(text.size()) + " chars)" : out;
}

// APEv2 tag bytes (footer only) for raw items: flags, key, value as stored.
struct RawItem {
    std::uint32_t flags;
    std::string key;
    std::string value;
};
void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
std::vector<std::uint8_t> rawApeTag(const std::vector<RawItem>& items, std::uint32_t claimedSize = 0,
                                    std::uint32_t claimedCount = 0, std::uint32_t version = 2000)
{
    std::vector<std::uint8_t> body;
    for (const RawItem& item : items) {
        putLe32(body, static_cast<std::uint32_t>(item.value.size()));
        putLe32(body, item.flags);
        body.insert(body.end(), item.key.begin(), item.key.end());
        body.push_back(0);
        body.insert(body.end(), item.value.begin(), item.value.end());
    }
    std::vector<std::uint8_t> footer = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    putLe32(footer, version);
    putLe32(footer, claimedSize ? claimedSize : static_cast<std::uint32_t>(body.size() + 32));
    putLe32(footer, claimedCount ? claimedCount : static_cast<std::uint32_t>(items.size()));
    putLe32(footer, 0);
    footer.resize(32, 0);
    body.insert(body.end(), footer.begin(), footer.end());
    return body;
}

// A short stereo 16-bit stream, with `tail` (tags) appended.
std::vector<std::uint8_t> encodedFile(std::uint32_t blocks, const std::vector<std::uint8_t>& tail)
{
    std::vector<std::uint8_t> pcm(std::size_t{blocks} * 4);
    std::mt19937 random(7);
    for (std::uint8_t& byte : pcm)
        byte = static_cast<std::uint8_t>(random() & 0x3F);
    ape::ApeEncoder encoder(ape::PcmFormat{}, ape::EncoderOptions{});
    std::vector<std::uint8_t> file = encoder.encode(pcm);
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

class PropertyHandler : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(runRegsvr32(modulePath("apeprops.dll")), 0u); }

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(moduleCanUnloadNow(), S_OK) << "an object of the module is still alive";
        CoUninitialize();
    }

    static HRESULT moduleCanUnloadNow() { return registered::moduleCanUnloadNow("apeprops.dll"); }

    // The handler Windows would use for .ape: the class the registry names.
    static oryx::COMPtr<IInitializeWithStream> createHandler() { return shellhandler::registeredAt(handlerKey); }
    static oryx::COMPtr<IStream> fileStream(const std::string& path) { return shellhandler::fileStream(path); }

    // Initialize's answer for the file and, when it succeeds, what it holds.
    static HRESULT readFileProperties(const std::string& path, Values& values)
    {
        oryx::COMPtr<IInitializeWithStream> handler = createHandler();
        const HRESULT hr = handler->Initialize(fileStream(path).get(), STGM_READ);
        oryx::COMPtr<IPropertyStore> store;
        store = handler.get();
        values = readStore(*store);
        if (FAILED(hr)) {
            EXPECT_TRUE(values.empty()) << "a failed Initialize left values";
        }
        return hr;
    }

    static HRESULT readBytes(const std::vector<std::uint8_t>& bytes, Values& values)
    {
        const std::string path = modulePath("generated.ape");
        writeFile(path, bytes);
        return readFileProperties(path, values);
    }
};

// regsvr32 writes the class (isolation kept), the handler key and the lists
// Explorer reads, leaves the extension's association alone, and /u takes
// away exactly what it wrote.
TEST_F(PropertyHandler, RegistrationNamesTheClassForApeAndUnregistrationRemovesExactlyIt)
{
    // From a known start: none of the keys, then this module's registration.
    ASSERT_EQ(runRegsvr32(modulePath("apeprops.dll"), true), 0u);
    registryprobe::deleteTreeIfPresent(handlerKey);
    registryprobe::deleteTreeIfPresent(listsKey);
    ASSERT_EQ(runRegsvr32(modulePath("apeprops.dll")), 0u);

    EXPECT_EQ(registryprobe::valueOf(handlerKey), classId);
    std::string server = registryprobe::valueOf(std::string(classKey) + "\\InprocServer32");
    std::transform(server.begin(), server.end(), server.begin(), ::tolower);
    std::string expectedServer = modulePath("apeprops.dll");
    std::transform(expectedServer.begin(), expectedServer.end(), expectedServer.begin(), ::tolower);
    EXPECT_EQ(server, expectedServer);
    EXPECT_EQ(registryprobe::valueOf(std::string(classKey) + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(registryprobe::valueOf(classKey, "DisableProcessIsolation"), "<missing>");
    for (const char* list : {"FullDetails", "PreviewDetails", "InfoTip"}) {
        const std::string text = registryprobe::valueOf(listsKey, list);
        EXPECT_EQ(text.rfind("prop:", 0), 0u) << list << ": " << text;
        EXPECT_NE(text.find("System.Music.Artist"), std::string::npos) << list;
        EXPECT_NE(text.find("System.Media.Duration"), std::string::npos) << list;
    }
    const std::string fullDetails = registryprobe::valueOf(listsKey, "FullDetails");
    for (const KnownKey& key : knownKeys)
        EXPECT_NE(fullDetails.find(std::string(key.name) + ";"), std::string::npos) << key.name;

    // A player's association and a neighbour's value under the same key.
    const std::string extensionKey = "Software\\Classes\\.ape";
    const auto associationBefore = registryprobe::snapshot(extensionKey);
    oryx::RegistryKey lists(HKEY_LOCAL_MACHINE, listsKey, KEY_ALL_ACCESS);
    lists.setString("NeighbourValue", "kept");
    lists.close();

    const std::string module = modulePath("apeprops.dll");
    ASSERT_EQ(runRegsvr32(module, true), 0u) << "unregistration works on any machine";
    EXPECT_FALSE(registryprobe::keyExists(handlerKey));
    EXPECT_FALSE(registryprobe::keyExists(classKey));
    for (const char* list : {"FullDetails", "PreviewDetails", "InfoTip"})
        EXPECT_EQ(registryprobe::valueOf(listsKey, list), "<missing>") << list;
    EXPECT_EQ(registryprobe::valueOf(listsKey, "NeighbourValue"), "kept");
    EXPECT_EQ(registryprobe::snapshot(extensionKey), associationBefore);
    lists = oryx::RegistryKey(HKEY_LOCAL_MACHINE, listsKey, KEY_ALL_ACCESS);
    lists.deleteValue("NeighbourValue");
    lists.close();
    ASSERT_EQ(runRegsvr32(module, true), 0u) << "nothing left to remove is no failure";
    EXPECT_TRUE(registryprobe::keyExists(listsKey)) << "a key that held another program's value is left to it";
    registryprobe::deleteTreeIfPresent(listsKey);

    // Another program's handler and lists, there before us, come back when
    // we go, however often we registered; one that took .ape over after us
    // keeps it.
    const char* const other = "{00000000-1111-2222-3333-444444444444}";
    registryprobe::setDefault(handlerKey, other);
    lists = oryx::RegistryKey();
    lists.create(HKEY_LOCAL_MACHINE, listsKey);
    lists.setString("InfoTip", "prop:System.Size");
    lists.setValue("PreviewDetails", reinterpret_cast<const BYTE*>("prop:System.Title\0"), 18, REG_EXPAND_SZ);
    lists.close();
    const auto theirs = registryprobe::snapshot(listsKey);
    ASSERT_EQ(runRegsvr32(module), 0u);
    ASSERT_EQ(runRegsvr32(module), 0u);
    EXPECT_EQ(registryprobe::valueOf(handlerKey), classId) << "registration claims .ape";
    EXPECT_NE(registryprobe::valueOf(listsKey, "InfoTip"), "prop:System.Size");
    ASSERT_EQ(runRegsvr32(module, true), 0u);
    EXPECT_EQ(registryprobe::valueOf(handlerKey), other);
    EXPECT_EQ(registryprobe::snapshot(listsKey), theirs) << "values and their types as they were";
    EXPECT_FALSE(registryprobe::keyExists(classKey)) << "what was kept goes with the class";
    registryprobe::deleteTreeIfPresent(listsKey);

    ASSERT_EQ(runRegsvr32(module), 0u);
    registryprobe::setDefault(handlerKey, other);
    ASSERT_EQ(runRegsvr32(module, true), 0u);
    EXPECT_EQ(registryprobe::valueOf(handlerKey), other);
    EXPECT_FALSE(registryprobe::keyExists(listsKey));
    registryprobe::deleteTreeIfPresent(handlerKey);

    ASSERT_EQ(runRegsvr32(module), 0u);
    EXPECT_EQ(registryprobe::valueOf(handlerKey), classId);

    // The module serves the property handler, a shell extension found by
    // its record, and the thumbnail handler, whose key the module writes;
    // no filter.
    const oryx::Library library(module, true);
    const auto classInfos =
        library.entryPoint<void(__cdecl*)(const oryx::ClassInfo**, std::uint32_t*)>("DllGetClassInfos");
    const oryx::ClassInfo* infos = nullptr;
    std::uint32_t count = 0;
    classInfos(&infos, &count);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(oryx::guidName(*infos[0].clsid, false), classId);
    EXPECT_EQ(oryx::guidName(*infos[1].clsid, false), "{33E92482-654E-4FFA-B2AA-20224BF66FB2}");
    for (std::uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(infos[i].server_and_threading, 0x20u) << "InprocServer32, Both";
        EXPECT_EQ(infos[i].filterRegistration, nullptr);
    }
    EXPECT_NE(infos[0].shellExtension, nullptr);
}

struct RealFile {
    const char* name;
    Values expected; // every value the store must hold, and nothing else
};

// Durations and bit rates from ffprobe's duration_ts (blocks), rate and the
// file size: blocks * 10^7 / rate and size * 8 * rate / blocks, rounded.
// Tag texts as the files' APE tags store them.
const std::wstring x2048(2048, L'x');
const RealFile realFiles[] = {
    {"atl-ape.ape",
     {{"System.Media.Duration", L"76458050"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"665559"},
      {"System.Audio.Format", apeFormat},
      {"System.Title", L"Title"},
      {"System.Music.Artist", L"Artist"},
      {"System.Music.AlbumTitle", L"\u7236"},
      {"System.Music.AlbumArtist", L"Bob"},
      {"System.Music.Genre", L"Test"},
      {"System.Media.Year", L"2017"},
      {"System.Music.TrackNumber", L"22"},
      {"System.Comment", L"Test!"}}},
    {"atl-musicbee-0.ape",
     {{"System.Media.Duration", L"3228571"},
      {"System.Audio.SampleRate", L"22050"},
      {"System.Audio.ChannelCount", L"1"},
      {"System.Audio.SampleSize", L"8"},
      {"System.Audio.EncodingBitrate", L"83604"},
      {"System.Audio.Format", apeFormat},
      {"System.Title", L"0"},
      {"System.Media.Year", L"1859"}}},
    {"taglib-mac-399-tagged.ape",
     {{"System.Media.Duration", L"35500227"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"206401"},
      {"System.Audio.Format", apeFormat},
      {"System.Title", x2048},
      {"System.Music.Artist", x2048},
      {"System.Music.AlbumTitle", x2048}}},
    {"musicmetadata-tagged-36items.ape",
     {{"System.Media.Duration", L"21229932"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"1515261"},
      {"System.Audio.Format", apeFormat},
      {"System.Title", L"Sinner's Prayer"},
      {"System.Music.Artist", L"Beth Hart & Joe Bonamassa"},
      {"System.Music.AlbumTitle", L"Don't Explain"},
      {"System.Music.AlbumArtist", L"Beth Hart & Joe Bonamassa"},
      {"System.Media.Year", L"2011"},
      {"System.Music.TrackNumber", L"1"},
      {"System.Comment", L"Test 123"}}},
    {"atl-v394.ape",
     {{"System.Media.Duration", L"76458050"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"599341"},
      {"System.Audio.Format", apeFormat}}},
    {"picard-test.ape",
     {{"System.Media.Duration", L"828118"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"234942"},
      {"System.Audio.Format", apeFormat}}},
    {"waxflow-noise-c4000-s24.ape",
     {{"System.Media.Duration", L"1250000"},
      {"System.Audio.SampleRate", L"48000"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"24"},
      {"System.Audio.EncodingBitrate", L"2386432"},
      {"System.Audio.Format", apeFormat}}},
    // Its one frame is a silence frame with a matching CRC: silent, not
    // missing, as the codec's tests show.
    {"mutagen-mac-396.ape",
     {{"System.Media.Duration", L"36847166"},
      {"System.Audio.SampleRate", L"44100"},
      {"System.Audio.ChannelCount", L"2"},
      {"System.Audio.SampleSize", L"16"},
      {"System.Audio.EncodingBitrate", L"226"},
      {"System.Audio.Format", apeFormat}}},
    {"waxflow-noise-c5000-s8.ape",
     {{"System.Media.Duration", L"2721088"},
      {"System.Audio.SampleRate", L"22050"},
      {"System.Audio.ChannelCount", L"1"},
      {"System.Audio.SampleSize", L"8"},
      {"System.Audio.EncodingBitrate", L"190159"},
      {"System.Audio.Format", apeFormat}}},
};

TEST_F(PropertyHandler, RealFilesGiveTheirLengthFormatAndTagItems)
{
    for (const RealFile& file : realFiles) {
        SCOPED_TRACE(file.name);
        Values values;
        ASSERT_EQ(readFileProperties(realSample(file.name), values), S_OK);
        EXPECT_EQ(values, file.expected);
        // The closing note's table.
        std::printf("%s", file.name);
        for (const auto& [name, text] : values)
            std::printf("\t%s=%s", name.c_str(), narrowForReport(text).c_str());
        std::printf("\n");
    }
}

// Tag texts of every kind: UTF-8 beyond the BMP, several values, dates and
// "n/total" numbers, the second key of a property, items that must give
// nothing, values read from the file rather than held, and an ID3v1 tag.
TEST_F(PropertyHandler, GeneratedFilesGiveEveryKindOfTagTextAndNothingMore)
{
    constexpr std::uint32_t blocks = 10000;
    const Values format = {{"System.Media.Duration", L"2267574"},
                           {"System.Audio.SampleRate", L"44100"},
                           {"System.Audio.ChannelCount", L"2"},
                           {"System.Audio.SampleSize", L"16"},
                           {"System.Audio.Format", apeFormat}};
    auto withFormat = [&](Values values, std::size_t fileSize) {
        values.insert(format.begin(), format.end());
        const std::uint64_t bits = fileSize * 8ull * 44100;
        values["System.Audio.EncodingBitrate"] = numberText((bits + blocks / 2) / blocks);
        return values;
    };

    ape::ApeTagWriter writer;
    writer.addText("Title", "Gr\xC3\xBC\xC3\x9F"
                            "e \xF0\x9D\x84\x9E");
    writer.addText("ARTIST", std::string("First\0Second", 12));
    writer.addText("Album", "Album");
    writer.addText("Album Artist", "Both");
    writer.addText("Genre", std::string("Rock\0\0Jazz\0", 11));
    writer.addText("Year", "2008-05-12");
    writer.addText("Track", "3/12");
    writer.addText("Comment", std::string("one\0two", 7));
    writer.addText("Copyright", "\xC2\xA9 2026");
    writer.addText("Composer", "not a property of ours");
    const std::vector<std::uint8_t> tagged = encodedFile(blocks, writer.bytes());
    Values values;
    ASSERT_EQ(readBytes(tagged, values), S_OK);
    EXPECT_EQ(values, withFormat({{"System.Title", L"Gr\u00fc\u00dfe \U0001D11E"},
                                  {"System.Music.Artist", L"First|Second"},
                                  {"System.Music.AlbumTitle", L"Album"},
                                  {"System.Music.AlbumArtist", L"Both"},
                                  {"System.Music.Genre", L"Rock|Jazz"},
                                  {"System.Media.Year", L"2008"},
                                  {"System.Music.TrackNumber", L"3"},
                                  {"System.Comment", L"one; two"},
                                  {"System.Copyright", L"\u00a9 2026"}},
                                 tagged.size()));

    // Binary and empty items, numbers that are none, bytes that are not
    // UTF-8, a value over the handler's limit and one the tag does not hold.
    const std::string large(5000, 'L');
    const std::vector<std::uint8_t> odd = encodedFile(blocks, rawApeTag({{2, "Title", "binary title"},
                                                                         {0, "Artist", "\xE9t\xE9"},
                                                                         {0, "Genre", ""},
                                                                         {0, "Year", "unknown"},
                                                                         {0, "Track", "0"},
                                                                         {0, "AlbumArtist", "Second key"},
                                                                         {0, "Comment", std::string(70000, 'c')},
                                                                         {0, "Album", large}}));
    ASSERT_EQ(readBytes(odd, values), S_OK);
    EXPECT_EQ(values, withFormat({{"System.Music.Artist", L"\u00e9t\u00e9"},
                                  {"System.Music.AlbumArtist", L"Second key"},
                                  {"System.Music.AlbumTitle", std::wstring(large.begin(), large.end())}},
                                 odd.size()));

    // An APEv1 tag has no item types: every value is text.
    const std::vector<std::uint8_t> v1 =
        encodedFile(blocks, rawApeTag({{2, "Title", "typed"}, {0, "Artist", "Old"}}, 0, 0, 1000));
    ASSERT_EQ(readBytes(v1, values), S_OK);
    EXPECT_EQ(values, withFormat({{"System.Title", L"typed"}, {"System.Music.Artist", L"Old"}}, v1.size()));

    // An ID3v1.1 tag alone: Latin-1 text, the track byte and the genre index.
    std::vector<std::uint8_t> id3(128, 0);
    const std::string id3Text = std::string("TAG") + "Caf\xE9";
    std::copy(id3Text.begin(), id3Text.end(), id3.begin());
    std::copy_n("Singer", 6, id3.begin() + 33);
    std::copy_n("1999", 4, id3.begin() + 93);
    id3[126] = 7;
    id3[127] = 8; // Jazz
    const std::vector<std::uint8_t> id3File = encodedFile(blocks, id3);
    ASSERT_EQ(readBytes(id3File, values), S_OK);
    EXPECT_EQ(values, withFormat({{"System.Title", L"Caf\u00e9"},
                                  {"System.Music.Artist", L"Singer"},
                                  {"System.Media.Year", L"1999"},
                                  {"System.Music.TrackNumber", L"7"},
                                  {"System.Music.Genre", L"Jazz"}},
                                 id3File.size()));

    // No tag at all: the format alone.
    const std::vector<std::uint8_t> bare = encodedFile(blocks, {});
    ASSERT_EQ(readBytes(bare, values), S_OK);
    EXPECT_EQ(values, withFormat({}, bare.size()));
}

// The Wine corpus: every version, level, depth and channel count, and the
// wrappings (APE tag; ID3v2 before and ID3v1 after the stream).
TEST_F(PropertyHandler, CorpusFilesGiveTheirEncodedFormatAndLength)
{
    const std::vector<ape::CorpusItem> items = ape::CorpusPlan::build(true);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ape::CorpusItem& item = items[i];
        SCOPED_TRACE(item.name);
        const ape::EncodedItem encoded = ape::CorpusPlan::encode(item, i);
        Values values;
        ASSERT_EQ(readBytes(encoded.file, values), S_OK);
        const std::uint64_t rate = item.format.sampleRate;
        EXPECT_EQ(values["System.Media.Duration"], numberText((item.blocks * 10'000'000 + rate / 2) / rate));
        EXPECT_EQ(values["System.Audio.SampleRate"], numberText(rate));
        EXPECT_EQ(values["System.Audio.ChannelCount"], numberText(item.format.channels));
        EXPECT_EQ(values["System.Audio.SampleSize"], numberText(item.format.bitsPerSample));
        EXPECT_EQ(values["System.Audio.Format"], apeFormat);
        const std::string title = item.wrapping == ape::Wrapping::apeTag    ? item.name
                                  : item.wrapping == ape::Wrapping::id3Tags ? ("corpus " + item.name).substr(0, 30)
                                                                            : "";
        EXPECT_EQ(values.count("System.Title") ? values["System.Title"] : L"", wide(title));
    }
}

// The interfaces Explorer uses, on one object: identity, a read-only store,
// Initialize once, the argument checks; and nothing of the module left after.
TEST_F(PropertyHandler, StoreIsReadOnlyInitializedOnceAndChecksItsArguments)
{
    oryx::COMPtr<IInitializeWithStream> handler = createHandler();
    oryx::COMPtr<IPropertyStore> store;
    store = handler.get();
    oryx::COMPtr<IPropertyStoreCapabilities> capabilities;
    capabilities = handler.get();
    oryx::COMPtr<IUnknown> fromStore;
    fromStore = store.get();
    oryx::COMPtr<IUnknown> fromHandler;
    fromHandler = handler.get();
    EXPECT_EQ(fromStore.get(), fromHandler.get()) << "one identity";
    IUnknown* other = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(handler->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(handler->QueryInterface(__uuidof(IInitializeWithFile), reinterpret_cast<void**>(&other)), E_NOINTERFACE)
        << "streams only, never a path";

    // Before Initialize: an empty store.
    DWORD count = 99;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    PROPERTYKEY key{};
    EXPECT_EQ(store->GetAt(0, &key), E_INVALIDARG);

    // The handler gets a stream it could write through, as a host that
    // opened the file for itself may give: read-only mode must keep it so.
    const std::string path = modulePath("unwritten.ape");
    writeFile(path, readFile(realSample("atl-ape.ape")));
    const std::string fileBefore = registered::md5(readFile(path));
    const HRESULT alreadyInitialized = HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(handler->Initialize(nullptr, STGM_READ), E_POINTER) << "no stream, no call";
    {
        oryx::COMPtr<IStream> writable;
        ASSERT_EQ(SHCreateStreamOnFileEx(wide(path).c_str(), STGM_READWRITE | STGM_SHARE_DENY_NONE, 0, FALSE, nullptr,
                                         writable.receive()),
                  S_OK);
        EXPECT_EQ(handler->Initialize(writable.get(), STGM_READ), S_OK);
    }
    EXPECT_EQ(handler->Initialize(fileStream(path).get(), STGM_READ), alreadyInitialized);
    EXPECT_EQ(handler->Initialize(fileStream(path).get(), STGM_READWRITE), alreadyInitialized);
    {
        // One call per object, refused or not: a refused one is not retried.
        oryx::COMPtr<IInitializeWithStream> refused = createHandler();
        EXPECT_EQ(refused->Initialize(fileStream(path).get(), STGM_READWRITE), STG_E_ACCESSDENIED);
        EXPECT_EQ(refused->Initialize(fileStream(path).get(), STGM_READ), alreadyInitialized);
        oryx::COMPtr<IPropertyStore> empty;
        empty = refused.get();
        EXPECT_TRUE(readStore(*empty).empty());
    }

    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 14u);
    EXPECT_EQ(store->GetCount(nullptr), E_POINTER);
    EXPECT_EQ(store->GetAt(0, nullptr), E_POINTER);
    EXPECT_EQ(store->GetAt(count, &key), E_INVALIDARG);
    EXPECT_EQ(store->GetValue(PKEY_Title, nullptr), E_POINTER);
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(store->GetValue(PKEY_Copyright, &value), S_OK);
    EXPECT_EQ(value.vt, VT_EMPTY) << "absent items are absent";
    EXPECT_EQ(store->GetValue(PKEY_Title, &value), S_OK);
    ASSERT_EQ(value.vt, VT_LPWSTR);
    EXPECT_STREQ(value.pwszVal, L"Title");

    for (const KnownKey& known : knownKeys) {
        EXPECT_EQ(capabilities->IsPropertyWritable(known.key), S_FALSE) << known.name;
        EXPECT_EQ(store->SetValue(known.key, value), STG_E_ACCESSDENIED) << known.name;
    }
    EXPECT_EQ(capabilities->IsPropertyWritable(PKEY_Music_Composer), S_FALSE);
    EXPECT_EQ(store->Commit(), STG_E_ACCESSDENIED);
    PropVariantClear(&value);
    EXPECT_EQ(readStore(*store)["System.Title"], L"Title") << "SetValue changed nothing";

    EXPECT_EQ(registered::md5(readFile(path)), fileBefore) << "the file was written to";
    capabilities.release();
    store.release();
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE) << "one object still lives";
    handler.release();
    fromStore.release();
    fromHandler.release();
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

// Callers on several threads at once, as the indexer's host may make them:
// one Initialize wins, the others are told it is done, and every reader
// sees either the empty store or the whole one.
TEST_F(PropertyHandler, ConcurrentCallersSeeOneInitializeAndAWholeStore)
{
    oryx::COMPtr<IInitializeWithStream> handler = createHandler();
    oryx::COMPtr<IPropertyStore> store;
    store = handler.get();
    const std::string path = realSample("musicmetadata-tagged-36items.ape");
    LONG initialized = 0;
    LONG refused = 0;
    LONG torn = 0;
    const bool finished = runConcurrently(4, [&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        const HRESULT hr = handler->Initialize(fileStream(path).get(), STGM_READ);
        InterlockedAdd(hr == S_OK ? &initialized : &refused,
                       hr == S_OK || hr == HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
        for (int i = 0; i < 200; ++i) {
            DWORD count = 0;
            PROPVARIANT value;
            PropVariantInit(&value);
            if (store->GetCount(&count) != S_OK || count != 13 || store->GetValue(PKEY_Music_Artist, &value) != S_OK ||
                value.vt != (VT_VECTOR | VT_LPWSTR))
                InterlockedIncrement(&torn);
            PropVariantClear(&value);
        }
        CoUninitialize();
    });
    ASSERT_TRUE(finished);
    EXPECT_EQ(initialized, 1);
    EXPECT_EQ(refused, 3);
    EXPECT_EQ(torn, 0) << "after its own Initialize returned, a thread saw less than the whole store";
}

// Damaged real files, cuts at each part of good files, byte flips, empty and
// foreign streams: Initialize fails with ERROR_BAD_FORMAT (or, for a flip
// the header does not notice, succeeds), promptly and without a crash.
TEST_F(PropertyHandler, DamagedTruncatedAndForeignStreamsFailInitialize)
{
    Watchdog watchdog{300'000};
    Values values;
    for (const char* name : {"audioscan-apev1.ape", "exiftool-APE.ape", "mediafile-oldape.ape",
                             "mutagen-mac-390-hdr.ape", "taglib-zerodiv.ape", "SOURCES.tsv"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFileProperties(realSample(name), values), badFormat);
    }
    EXPECT_EQ(readBytes({}, values), badFormat) << "an empty stream";
    EXPECT_EQ(readBytes({'M', 'A', 'C', ' '}, values), badFormat);

    int refused = 0;
    int accepted = 0;
    std::mt19937 random(2026);
    for (const std::vector<std::uint8_t>& good : {readFile(realSample("taglib-mac-399-tagged.ape")),
                                                  readFile(realSample("atl-ape.ape")), encodedFile(300000, {})}) {
        const DamagedCopies copies(good, 24, random);
        for (const std::vector<std::uint8_t>& cut : copies.cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut.size()));
            EXPECT_EQ(readBytes(cut, values), badFormat);
        }
        for (const std::vector<std::uint8_t>& flipped : copies.flipped) {
            const HRESULT hr = readBytes(flipped, values);
            EXPECT_TRUE(hr == S_OK || hr == badFormat) << std::hex << hr;
            refused += hr == badFormat;
            accepted += hr == S_OK;
        }
        std::vector<std::uint8_t> noSignature = good;
        noSignature[0] ^= 0x20;
        EXPECT_EQ(readBytes(noSignature, values), badFormat);
    }
    std::printf("Byte flips: %d refused, %d accepted\n", refused, accepted);
    EXPECT_GT(refused, 0);
}

// A tag's claims are checked against the file before anything is sized by
// them: a tag claiming gigabytes or millions of items gives the file's
// format without its texts, at once.
TEST_F(PropertyHandler, TagsClaimingMoreThanTheFileHoldsAreRefused)
{
    Watchdog watchdog{120'000};
    Values values;
    const std::vector<std::uint8_t> items = rawApeTag({{0, "Title", "kept out"}});
    std::vector<std::uint8_t> huge = encodedFile(4000, {});
    std::vector<std::uint8_t> claimsGigabytes = rawApeTag({{0, "Title", "kept out"}}, 0xFFFFFFF0u);
    huge.insert(huge.end(), claimsGigabytes.begin(), claimsGigabytes.end());
    ASSERT_EQ(readBytes(huge, values), S_OK);
    EXPECT_EQ(values.count("System.Title"), 0u);
    EXPECT_EQ(values["System.Audio.SampleRate"], L"44100");

    std::vector<std::uint8_t> many = encodedFile(4000, {});
    std::vector<std::uint8_t> claimsItems = rawApeTag({{0, "Title", "first"}}, 0, 0xFFFFFFFFu);
    many.insert(many.end(), claimsItems.begin(), claimsItems.end());
    ASSERT_EQ(readBytes(many, values), S_OK);
    EXPECT_EQ(values["System.Title"], L"first");

    // An item whose value size runs past the tag ends the list there.
    std::vector<std::uint8_t> longItem = encodedFile(4000, {});
    std::vector<std::uint8_t> tag = rawApeTag({{0, "Album", "album"}, {0, "Title", "t"}});
    constexpr std::size_t secondItem = 8 + sizeof "Album" + 5; // header, key and NUL, value
    tag[secondItem + 2] = 0xFF;                                // its value size becomes 16 MiB and more
    longItem.insert(longItem.end(), tag.begin(), tag.end());
    ASSERT_EQ(readBytes(longItem, values), S_OK);
    EXPECT_EQ(values["System.Music.AlbumTitle"], L"album");
    EXPECT_EQ(values.count("System.Title"), 0u);
}

// A stream whose calls fail: Initialize answers the stream's own error, and
// the object is left empty, refuses a second Initialize and is releasable.
TEST_F(PropertyHandler, StreamErrorsAreReturnedAsTheStreamsOwn)
{
    const std::string path = realSample("musicmetadata-tagged-36items.ape");
    struct Case {
        int goodReads;
        bool statFails;
    };
    for (const Case c : {Case{0, true}, Case{0, false}, Case{1, false}, Case{3, false}, Case{6, false}}) {
        SCOPED_TRACE("good reads " + std::to_string(c.goodReads) + (c.statFails ? ", Stat fails" : ""));
        oryx::COMPtr<IInitializeWithStream> handler = createHandler();
        oryx::COMPtr<IStream> failing(
            new FailingStream(fileStream(path).get(), c.goodReads, STG_E_READFAULT, c.statFails));
        EXPECT_EQ(handler->Initialize(failing.get(), STGM_READ), STG_E_READFAULT);
        oryx::COMPtr<IPropertyStore> store;
        store = handler.get();
        EXPECT_TRUE(readStore(*store).empty());
        // The one Initialize is spent: a good stream now changes nothing.
        EXPECT_EQ(handler->Initialize(fileStream(path).get(), STGM_READ),
                  HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
        EXPECT_TRUE(readStore(*store).empty());
    }

    // Failures while the whole audio is checked (the seek table, the last
    // frame) are the stream's too, not a format error.
    const std::vector<std::uint8_t> longFile = encodedFile(300'000, {});
    int goodReads = 0;
    for (HRESULT hr = E_FAIL; hr != S_OK; ++goodReads) {
        SCOPED_TRACE("300,000 blocks, good reads " + std::to_string(goodReads));
        oryx::COMPtr<IStream> memory(SHCreateMemStream(longFile.data(), static_cast<UINT>(longFile.size())));
        ASSERT_TRUE(memory);
        memory->Release(); // SHCreateMemStream's own reference; the holder keeps one
        oryx::COMPtr<IStream> failing(new FailingStream(memory.get(), goodReads, STG_E_READFAULT));
        hr = createHandler()->Initialize(failing.get(), STGM_READ);
        if (hr != S_OK) {
            EXPECT_EQ(hr, STG_E_READFAULT);
        }
        ASSERT_LT(goodReads, 100) << "Initialize never succeeds";
    }
    EXPECT_GE(goodReads, 6) << "every read Initialize makes failed once";
}

} // namespace
