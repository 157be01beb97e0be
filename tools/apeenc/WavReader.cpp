#include "WavReader.h"

#include "encoder/EncodeError.h"
#include "format/ByteOrder.h"

#include <cstring>
#include <string>

namespace ape {

namespace {

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatFloat = 3;
constexpr std::uint16_t formatExtensible = 0xFFFE;
constexpr std::size_t chunkHeaderBytes = 8;

bool hasId(std::span<const std::uint8_t> bytes, std::size_t at, const char* id)
{
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, id, 4) == 0;
}

} // namespace

WavReader::WavReader(std::span<const std::uint8_t> file) : file(file)
{
    if (!hasId(file, 0, "RIFF") || !hasId(file, 8, "WAVE"))
        throw EncodeError("not a WAV file (no RIFF/WAVE header)");

    bool haveFormat = false;
    std::size_t at = 12;
    while (true) {
        if (at + chunkHeaderBytes > file.size())
            throw EncodeError(haveFormat ? "truncated WAV file: no data chunk" : "truncated WAV file: no fmt chunk");
        const std::uint32_t size = readLe32(file.data() + at + 4);
        const std::size_t body = at + chunkHeaderBytes;
        const std::size_t available = file.size() - body;
        if (hasId(file, at, "data")) {
            if (!haveFormat)
                throw EncodeError("malformed WAV file: data chunk before fmt chunk");
            if (size > available)
                throw EncodeError("truncated WAV file: the data chunk promises " + std::to_string(size) + " bytes, " +
                                  std::to_string(available) + " are present");
            if (size % pcmFormat.blockAlign() != 0)
                throw EncodeError("truncated WAV file: the sample data ends inside a block");
            dataOffset = body;
            dataBytes = size;
            return;
        }
        if (size > available)
            throw EncodeError("truncated WAV file: a chunk runs past the end of the file");
        if (hasId(file, at, "fmt ")) {
            readFormatChunk(file.subspan(body, size));
            haveFormat = true;
        }
        at = body + size + (size & 1); // chunks are padded to even sizes
    }
}

void WavReader::readFormatChunk(std::span<const std::uint8_t> chunk)
{
    if (chunk.size() < 16)
        throw EncodeError("malformed WAV file: fmt chunk too short");
    std::uint16_t tag = readLe16(chunk.data());
    const std::uint16_t channels = readLe16(chunk.data() + 2);
    const std::uint32_t rate = readLe32(chunk.data() + 4);
    const std::uint16_t blockAlign = readLe16(chunk.data() + 12);
    const std::uint16_t bits = readLe16(chunk.data() + 14);
    if (tag == formatExtensible) {
        // The sub-format GUID's first two bytes are the plain format tag.
        if (chunk.size() < 40)
            throw EncodeError("malformed WAV file: extensible fmt chunk too short");
        tag = readLe16(chunk.data() + 24);
    }
    if (tag == formatFloat)
        throw EncodeError("unsupported WAV sample format: floating point (only integer PCM)");
    if (tag != formatPcm)
        throw EncodeError("unsupported WAV sample format " + std::to_string(tag) + " (only integer PCM)");
    if (channels != 1 && channels != 2)
        throw EncodeError("unsupported channel count " + std::to_string(channels) + " (only 1 or 2)");
    if (bits != 8 && bits != 16 && bits != 24)
        throw EncodeError("unsupported sample depth " + std::to_string(bits) + " bits (only 8, 16 or 24)");
    if (rate == 0)
        throw EncodeError("malformed WAV file: sample rate 0");
    pcmFormat = PcmFormat{channels, bits, rate};
    if (blockAlign != pcmFormat.blockAlign())
        throw EncodeError("malformed WAV file: block alignment " + std::to_string(blockAlign) + " does not match " +
                          std::to_string(channels) + " channels of " + std::to_string(bits) + " bits");
}

} // namespace ape
