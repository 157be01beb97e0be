#include "WavFileWriter.h"

#include <array>
#include <limits>
#include <vector>

#include "PlayerError.h"
#include "support/WindowsError.h"
#include "support/LossOfRange.h"
#include "ConsoleText.h"

namespace apeplay {

namespace {

constexpr WORD formatTagPcm = 1;
constexpr WORD formatTagExtensible = 0xFFFE;
constexpr DWORD plainFormatBytes = 16;
// WAVEFORMATEX (18 bytes) and its 22-byte extension.
constexpr DWORD extensibleFormatBytes = 40;
constexpr WORD extensionBytes = 22;
// KSDATAFORMAT_SUBTYPE_PCM, as it is laid out in the file.
constexpr std::array<BYTE, 16> pcmSubformat{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The speaker layout Windows assumes for each channel count (index); 0 for
// counts that have no usual layout.
constexpr std::array<DWORD, 9> defaultChannelMasks{
    0,
    0x4,   // front centre
    0x3,   // front left, front right
    0x7,   // + front centre
    0x33,  // front left and right, back left and right
    0x37,  // + front centre
    0x3F,  // 5.1
    0x13F, // 5.1 + back centre
    0x63F, // 7.1
};

class HeaderBytes {
public:
    void add16(unsigned value)
    {
        bytes.push_back(BYTE(value));
        bytes.push_back(BYTE(value >> 8));
    }
    void add32(std::uint32_t value)
    {
        add16(value & 0xFFFF);
        add16(value >> 16);
    }
    void addTag(const char (&tag)[5]) { bytes.insert(bytes.end(), tag, tag + 4); }
    void addBytes(const BYTE* data, std::size_t count) { bytes.insert(bytes.end(), data, data + count); }

    std::vector<BYTE> bytes;
};

// The header with the RIFF and data sizes to be patched at commit.
std::vector<BYTE> header(const PcmFormat& format)
{
    const bool extensible = format.channels > 2 || format.bitsPerSample > 16;
    HeaderBytes h;
    h.addTag("RIFF");
    h.add32(0);
    h.addTag("WAVE");
    h.addTag("fmt ");
    h.add32(extensible ? extensibleFormatBytes : plainFormatBytes);
    h.add16(extensible ? formatTagExtensible : formatTagPcm);
    h.add16(format.channels);
    h.add32(format.sampleRate);
    h.add32(oryx::rangeChecked<std::uint32_t>(std::uint64_t(format.sampleRate) * format.blockAlign()));
    h.add16(oryx::rangeChecked<WORD>(format.blockAlign()));
    h.add16(oryx::rangeChecked<WORD>((format.bitsPerSample + 7u) / 8u * 8u));
    if (extensible) {
        h.add16(extensionBytes);
        h.add16(format.bitsPerSample);
        h.add32(format.channels < defaultChannelMasks.size() ? defaultChannelMasks[format.channels] : 0);
        h.addBytes(pcmSubformat.data(), pcmSubformat.size());
    }
    h.addTag("data");
    h.add32(0);
    return h.bytes;
}

void storeLittleEndian32(BYTE* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = BYTE(value >> (8 * i));
}

} // namespace

WavFileWriter::WavFileWriter(std::wstring targetName, const PcmFormat& format)
    : target(std::move(targetName)), partial(target + L".partial")
{
    if (format.channels == 0 || format.bitsPerSample == 0)
        throw PlayerError("no PCM format to write");
    file.adopt(CreateFileW(partial.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isValid())
        throw oryx::WindowsError("Can't create \"" + toUtf8(partial) + "\"");
    const std::vector<BYTE> bytes = header(format);
    headerBytes = oryx::rangeChecked<DWORD>(bytes.size());
    try {
        writeAll(bytes.data(), bytes.size());
    } catch (...) {
        file.close();
        DeleteFileW(partial.c_str());
        throw;
    }
}

WavFileWriter::~WavFileWriter()
{
    if (committed)
        return;
    // Nothing more can be done about a failed clean-up while unwinding.
    try {
        file.close();
    } catch (const std::exception&) {
    }
    DeleteFileW(partial.c_str());
}

void WavFileWriter::append(const void* data, std::size_t bytes)
{
    // RIFF counts everything after its own 8-byte chunk head in 32 bits,
    // including a pad byte after odd data.
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max() - (headerBytes - 8) - 1;
    if (written + bytes > limit)
        throw PlayerError("the PCM data outgrows the 4 GiB that a WAV file can hold");
    writeAll(data, bytes);
    written += bytes;
}

void WavFileWriter::commit()
{
    if (written % 2 != 0) {
        const BYTE pad = 0;
        writeAll(&pad, 1);
    }
    std::vector<BYTE> sizes(4);
    const auto patch = [&](LONG offset, std::uint64_t value) {
        storeLittleEndian32(sizes.data(), std::uint32_t(value));
        LARGE_INTEGER at{};
        at.QuadPart = offset;
        if (!SetFilePointerEx(file.handle(), at, nullptr, FILE_BEGIN))
            throw oryx::WindowsError("Can't write the header of \"" + toUtf8(partial) + "\"");
        writeAll(sizes.data(), 4);
    };
    patch(4, headerBytes - 8 + written + written % 2);
    patch(LONG(headerBytes - 4), written);
    file.close();
    if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw oryx::WindowsError("Can't rename \"" + toUtf8(partial) + "\" to \"" + toUtf8(target) + "\"");
    committed = true;
}

void WavFileWriter::writeAll(const void* data, std::size_t bytes)
{
    const BYTE* next = static_cast<const BYTE*>(data);
    while (bytes > 0) {
        // WriteFile takes 32-bit counts; samples are far smaller than that.
        const DWORD chunk = DWORD(std::min<std::size_t>(bytes, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file.handle(), next, chunk, &done, nullptr) || done == 0)
            throw oryx::WindowsError("Can't write \"" + toUtf8(partial) + "\"");
        next += done;
        bytes -= done;
    }
}

} // namespace apeplay
